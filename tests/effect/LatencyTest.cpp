// The latency the processor reports is where an impulse comes out.
#include "effect/BoosterProcessor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// The frame at which the loudest output sample of an impulse lands, counted
// from the impulse, after a second of silence lets the switch fade settle.
int impulsePeakFrame(BoosterProcessor& processor)
{
    constexpr int kFrames = 256;
    std::vector<float> left(kFrames), right(kFrames), outLeft(kFrames), outRight(kFrames);
    float* inputs[2] = {left.data(), right.data()};
    float* outputs[2] = {outLeft.data(), outRight.data()};
    for (int block = 0; block < 44100 / kFrames; ++block)
        processor.process(inputs, outputs, kFrames);
    left[0] = right[0] = 0.5f;
    processor.process(inputs, outputs, kFrames);
    int peak = 0;
    for (int i = 1; i < kFrames; ++i)
        if (std::fabs(outLeft[static_cast<std::size_t>(i)]) > std::fabs(outLeft[static_cast<std::size_t>(peak)]))
            peak = i;
    return peak;
}

// The "Flat" shape and every saturation mode: what delays the impulse is the
// oversampling path alone (a shaped equaliser smears the peak by itself).
TEST(Latency, AnImpulsePeaksAsLateAsTheReportedLatency)
{
    for (float mode : {0.0f, 0.25f, 0.5f, 1.0f}) {
        for (float oversample : {0.0f, 1.0f}) {
            BoosterProcessor processor;
            processor.setParameter(kMode, mode);
            processor.setParameter(kOversample, oversample);
            EXPECT_EQ(processor.latencyFrames(), oversample > 0.5f ? 9 : 0);
            EXPECT_EQ(impulsePeakFrame(processor), processor.latencyFrames())
                << "mode " << mode << ", oversample " << oversample;
        }
    }
}

} // namespace
