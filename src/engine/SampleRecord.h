#pragma once

#include <cstdint>

// One sample on its way from the processing entry into the engine and back,
// with the two scope points the engine leaves for the editor.
struct SampleRecord {
    double input; // while oversampling, overwritten with each sub-sample
    double output;
    std::int32_t channel; // 0 or 1: selects all per-channel state
    double tubeX;
    double tubeY;
    double tapeX;
    double tapeY;
};
