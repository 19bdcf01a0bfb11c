#include "engine/Oversampler.h"

// Linear phase needs taps that mirror around the centre; a typo in one half
// of the table would break it silently.
static constexpr bool firIsSymmetric()
{
    for (int k = 0; k < Oversampler::firLength; ++k)
        if (Oversampler::interpolationFir[k] != Oversampler::interpolationFir[Oversampler::firLength - 1 - k])
            return false;
    return true;
}
static_assert(firIsSymmetric(), "interpolation FIR must be symmetric");

void Oversampler::reset()
{
    for (double& entry : history)
        entry = 0.0;
    position = 0;
    for (int k = 0; k < allpassCount; ++k) {
        allpassInput[k] = 0.0;
        allpassOutput[k] = 0.0;
    }
}
