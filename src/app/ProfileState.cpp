#include "ProfileState.h"

ProfileState& ProfileState::instance()
{
    // Never destroyed: a connection closed after Qt Sql's own globals are gone would crash at exit.
    static ProfileState* state = new ProfileState;
    return *state;
}
