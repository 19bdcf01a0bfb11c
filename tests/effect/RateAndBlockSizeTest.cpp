#include "host/BoosterEffect.h"
#include "support/TestHost.h"

#include <cmath>
#include <vector>

namespace {

BoosterEffect& instanceOf(HostedEffect& host)
{
    return *static_cast<BoosterEffect*>(host.effect->object);
}

TEST(SampleRate, OnlyRatesFrom11025To192000AreTaken)
{
    HostedEffect host;
    BoosterEffect& effect = instanceOf(host);
    EXPECT_EQ(effect.getSampleRate(), 44100.0f);
    for (float rate : {8000.0f, 11024.0f, 192001.0f, 384000.0f, 0.0f, -48000.0f, std::nanf(""), INFINITY}) {
        host.dispatch(effSetSampleRate, 0, 0, nullptr, rate);
        EXPECT_EQ(effect.getSampleRate(), 44100.0f) << rate;
    }
    for (float rate : {11025.0f, 48000.0f, 192000.0f}) {
        host.dispatch(effSetSampleRate, 0, 0, nullptr, rate);
        EXPECT_EQ(effect.getSampleRate(), rate);
    }
}

TEST(SampleRate, AcceptedRateMarksOversampleChanged)
{
    HostedEffect host;
    BoosterEffect& effect = instanceOf(host);
    float silence[4] = {};
    float* channels[2] = {silence, silence};
    host.effect->processReplacing(host.effect, channels, channels, 4);
    ASSERT_EQ(effect.processor().pendingChanges(), 0u) << "processing left changes untaken";
    host.dispatch(effSetSampleRate, 0, 0, nullptr, 8000.0f);
    EXPECT_EQ(effect.processor().pendingChanges(), 0u);
    host.dispatch(effSetSampleRate, 0, 0, nullptr, 96000.0f);
    EXPECT_EQ(effect.processor().pendingChanges(), 1u << 7);
}

TEST(BlockSize, OnlySizesFrom1To1048576AreTaken)
{
    HostedEffect host;
    BoosterEffect& effect = instanceOf(host);
    EXPECT_EQ(effect.getBlockSize(), 256);
    for (VstIntPtr size : {VstIntPtr{0}, VstIntPtr{-1}, VstIntPtr{1048577}, VstIntPtr{1} << 30}) {
        host.dispatch(effSetBlockSize, 0, size);
        EXPECT_EQ(effect.getBlockSize(), 256) << size;
    }
    if (sizeof(VstIntPtr) == 8) {
        // A huge 64-bit size must not wrap into a small valid one.
        host.dispatch(effSetBlockSize, 0, static_cast<VstIntPtr>((static_cast<long long>(1) << 32) + 64));
        EXPECT_EQ(effect.getBlockSize(), 256);
    }
    for (VstIntPtr size : {VstIntPtr{1}, VstIntPtr{17}, VstIntPtr{1048576}}) {
        host.dispatch(effSetBlockSize, 0, size);
        EXPECT_EQ(effect.getBlockSize(), size);
    }
}

TEST(ResponseGrid, SpansTwentyHertzToTwentyKilohertzOnALogAxis)
{
    HostedEffect host;
    const double* grid = instanceOf(host).processor().responseGridValues();
    const double pi = 3.141592653589793;
    auto expected = [&](double frequency) {
        double s = std::sin(pi * frequency / 44100.0);
        return 4.0 * s * s;
    };
    EXPECT_NEAR(grid[0], expected(20.0), 1e-15);
    EXPECT_NEAR(grid[172], expected(20000.0), 1e-9);
    EXPECT_NEAR(grid[172], 3.9, 0.05);
    // Evenly spaced in log frequency: the middle point is 20 * sqrt(1000) Hz.
    EXPECT_NEAR(grid[86], expected(20.0 * std::sqrt(1000.0)), 1e-9);
    for (int n = 1; n < kResponsePoints; ++n)
        EXPECT_GT(grid[n], grid[n - 1]);
}

TEST(Processing, WritesFramesBeyondTheBlockSize)
{
    HostedEffect host;
    host.dispatch(effSetBlockSize, 0, 4);
    std::vector<float> in(8, 0.25f), out(8, -1.0f);
    float* inputs[2] = {in.data(), in.data()};
    float* outputs[2] = {out.data(), out.data()};
    host.effect->processReplacing(host.effect, inputs, outputs, 8);
    for (int i = 4; i < 8; ++i)
        EXPECT_NE(out[static_cast<std::size_t>(i)], -1.0f);
}

// Calls without usable buffers or frames write nothing, yet still take the
// parameter changes; a missing second channel is the single layout, which
// writes the first output only.
TEST(Processing, NullBuffersAndOddCountsWriteNothingButTakeTheParameters)
{
    HostedEffect host;
    BoosterProcessor& processor = instanceOf(host).processor();
    constexpr float untouched = -7.0f;
    std::vector<float> in(4, 0.25f), out(4, untouched);
    float* inputs[2] = {in.data(), nullptr};
    float* outputs[2] = {out.data(), nullptr};
    float* none[2] = {nullptr, nullptr};
    auto outputsUntouched = [&] {
        for (float sample : out)
            if (sample != untouched)
                return false;
        return true;
    };

    host.set(kLevel, 0.5f);
    host.effect->processReplacing(host.effect, nullptr, nullptr, 4);
    EXPECT_EQ(processor.pendingChanges(), 0u);
    EXPECT_NEAR(processor.processingEngine().levelGain(), std::pow(10.0, 0.45), 1e-6);
    host.set(kLevel, 0.2f);
    host.effect->processReplacing(host.effect, none, none, 4);
    EXPECT_EQ(processor.pendingChanges(), 0u);
    host.effect->processReplacing(host.effect, inputs, nullptr, 4);
    host.effect->processReplacing(host.effect, nullptr, outputs, 4);
    host.effect->processReplacing(host.effect, inputs, outputs, 0);
    host.effect->processReplacing(host.effect, inputs, outputs, -5);
    EXPECT_TRUE(outputsUntouched());

    host.effect->processReplacing(host.effect, inputs, outputs, 4);
    for (float sample : out)
        EXPECT_TRUE(sample != untouched && std::isfinite(sample));

    std::vector<double> din(4, 0.25), dout(4, untouched);
    double* dinputs[2] = {din.data(), nullptr};
    double* doutputs[2] = {dout.data(), nullptr};
    host.effect->processDoubleReplacing(host.effect, nullptr, doutputs, 4);
    host.effect->processDoubleReplacing(host.effect, dinputs, doutputs, -1);
    EXPECT_EQ(dout, std::vector<double>(4, untouched));
    host.effect->processDoubleReplacing(host.effect, dinputs, doutputs, 4);
    EXPECT_NE(dout, std::vector<double>(4, untouched));
}

} // namespace
