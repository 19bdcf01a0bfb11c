#pragma once

#include "dsp/BiquadSection.h"

// The character equaliser: six fixed tone shapes, each scaled by an amount,
// designed as up to two second-order sections plus a make-up gain.
//
// Shapes by index: 0 "Shrill", 1 "Bright", 2 "Tight", 3 "Flat", 4 "Fat",
// 5 "Warm".

constexpr int characterShapeCount = 6;
constexpr int eqSlotsPerChannel = 3; // the engine's eqSections: channel k uses 3k .. 3k + 2
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

// Puts a design into the engine's six equaliser records: channel 0's active
// slots take the new coefficients and keep their memory; then each active
// record is copied whole, memory included, into channel 1's slot, so channel 1
// continues from channel 0's memory. Slots beyond the active count are left
// alone. Also stores the section count and make-up gain. Audio thread (inside
// the coefficient update); realtime safe.
void applyCharacterEq(const CharacterEqDesign& design, BiquadSection* eqSections, int& eqSectionCount,
                      double& eqMakeupGain);
