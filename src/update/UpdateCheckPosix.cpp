#include "update/UpdateCheck.h"

// Placeholder until the Linux transport lands: a check does nothing.
void startUpdateCheck(UpdateCheckState& /*state*/, void* /*ownerWindow*/) {}

void abandonUpdateCheck(UpdateCheckState& state)
{
    state = UpdateCheckState{};
}
