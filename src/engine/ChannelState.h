// One channel's running state in the engine, apart from the designs that
// drive it.
#pragma once

#include "dsp/CharacterEq.h"
#include "dsp/TapeStage.h"
#include "dsp/TriodeCircuit.h"
#include "engine/Oversampler.h"

// Tracks the mean of |x| on two time scales; the larger one drives the limiter.
struct EnvelopeFollower {
    double fast = 0.0;
    double slow = 0.0;
    double fastCoeff = 0.001; // per chain sample, whatever the rate
    double slowCoeff = 0.0001;
};

struct ChannelState {
    EnvelopeFollower follower;
    CharacterEqMemory eqMemory{};
    NodeVoltages tubeNodes{175.0, 0.0, 0.0}; // plate at half the supply until the first rate
    TapeStage tape;
    double heldOutput = 0.0; // the output the switch fade slides away from
    Oversampler upsampler;
    Oversampler downsampler;
};
