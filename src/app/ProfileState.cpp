#include "ProfileState.h"

ProfileState& ProfileState::instance()
{
    static ProfileState state;
    return state;
}

void ProfileState::reset()
{
    CompanyName.clear();
    ApiKey.clear();
    Telp.clear();
    ConnectionString.clear();
    AppHide = 0;
    DbConnection.reset();
}
