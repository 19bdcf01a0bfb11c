// What the audio thread hands to an open editor: the scope ring with its three
// column locks and the four meter levels with their lock. The editor owns it;
// the effect only ever tries its locks.
#pragma once

#include "effect/ScopeFrame.h"
#include "platform/CriticalSection.h"

#include <array>

struct EditorDisplay {
    std::array<ScopeFrame, kScopeRingSize> scopeRing{};
    CriticalSection ringLocks[3];        // one per point column of scopeRing
    std::array<double, 4> meterLevels{}; // input left, input right, output left, output right
    CriticalSection meterLock;
};
