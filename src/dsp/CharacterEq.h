#pragma once

#include "dsp/BiquadSection.h"

#include <array>

// The character equaliser: six fixed tone shapes, each scaled by an amount,
// designed as up to two second-order sections plus a make-up gain.
//
// Shapes by index: 0 "Shrill", 1 "Bright", 2 "Tight", 3 "Flat", 4 "Fat",
// 5 "Warm".

constexpr int characterShapeCount = 6;
constexpr int eqMaxActiveSections = 2;

struct CharacterEqDesign {
    BiquadCoefficients sections[eqMaxActiveSections]; // slot 0 first; only the first eqSectionCount are meaningful
    int eqSectionCount = 0;                           // 0 to 2
    double eqMakeupGain = 1.0;                        // linear, applied after the cascade
};

// Designs the shape `characterIndex` at `amount` (0 to 1) for sections that run
// at `stageRate` Hz (host rate times oversampling factor, > 0). An index
// outside 0..5 yields the "Flat" design. Pure; calls the maths library, so it
// belongs in coefficient updates. Does not allocate.
CharacterEqDesign designCharacterEq(int characterIndex, double amount, double stageRate);

// One channel's memory of the cascade, slot 0 first.
using CharacterEqMemory = std::array<BiquadMemory, eqMaxActiveSections>;

// What a redesign does to the channels' memories: the first channel carries
// on from its own; the second takes the first's in each active section, so
// both continue alike from there. Slots beyond the active count are left
// alone. Audio thread (inside the coefficient update); realtime safe.
void shareFirstChannelMemory(const CharacterEqDesign& design, const CharacterEqMemory& first,
                             CharacterEqMemory& second);
