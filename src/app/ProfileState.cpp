#include "ProfileState.h"

ProfileState& ProfileState::instance()
{
    // Never destroyed: a connection closed after Qt Sql's own globals are gone would crash at exit.
    static ProfileState* state = new ProfileState;
    return *state;
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
