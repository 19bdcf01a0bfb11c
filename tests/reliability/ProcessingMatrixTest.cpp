// Every rate, block size, precision, mode and buffer arrangement a host may
// use: no NaN, infinity or subnormal ever leaves the plug-in.
#include "effect/Parameters.h"
#include "support/TestHost.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace {

template <typename Sample> bool isClean(Sample sample)
{
    return std::isfinite(sample) && (sample == 0 || std::isnormal(sample));
}

template <typename Sample> void process(AEffect* effect, Sample** inputs, Sample** outputs, VstInt32 frames)
{
    if constexpr (sizeof(Sample) == sizeof(float))
        effect->processReplacing(effect, inputs, outputs, frames);
    else
        effect->processDoubleReplacing(effect, inputs, outputs, frames);
}

// Runs one configuration; returns a description of the first fault, or "".
template <typename Sample>
std::string runConfiguration(float rate, VstInt32 blockSize, int mode, bool oversample, std::mt19937& random)
{
    HostedEffect host;
    host.dispatch(effSetSampleRate, 0, 0, nullptr, rate);
    host.dispatch(effSetBlockSize, 0, blockSize);
    host.dispatch(effMainsChanged, 0, 1);
    host.set(kChannels, 1.0f); // stereo
    host.set(kMode, (static_cast<float>(mode) + 0.5f) / 4.0f);
    host.set(kOversample, oversample ? 1.0f : 0.0f);
    host.set(kDrive, 0.8f);

    // A twin processes the same input in place (inputs equal outputs).
    HostedEffect twin;
    twin.dispatch(effSetSampleRate, 0, 0, nullptr, rate);
    twin.dispatch(effSetBlockSize, 0, blockSize);
    twin.dispatch(effMainsChanged, 0, 1);
    for (VstInt32 index = 0; index < 8; ++index)
        twin.set(index, host.get(index));

    const auto capacity = static_cast<std::size_t>(blockSize) * 2 + 8;
    const Sample guard = static_cast<Sample>(-12345.0);
    std::vector<Sample> left(capacity), right(capacity), outLeft(capacity), outRight(capacity);
    std::vector<Sample> placeLeft(capacity), placeRight(capacity);
    std::uniform_real_distribution<double> noise(-0.6, 0.6);
    const VstInt32 frameCounts[] = {
        0, blockSize, static_cast<VstInt32>(random() % static_cast<unsigned>(blockSize)) + 1, 2 * blockSize};
    std::size_t phase = 0;
    for (VstInt32 requested : frameCounts) {
        for (std::size_t i = 0; i < capacity; ++i, ++phase) {
            left[i] = static_cast<Sample>(0.4 * std::sin(0.031 * static_cast<double>(phase)) + 0.1 * noise(random));
            right[i] = static_cast<Sample>(0.3 * std::sin(0.017 * static_cast<double>(phase)));
            placeLeft[i] = left[i];
            placeRight[i] = right[i];
            outLeft[i] = outRight[i] = guard;
        }
        Sample* inputs[2] = {left.data(), right.data()};
        Sample* outputs[2] = {outLeft.data(), outRight.data()};
        process(host.effect, inputs, outputs, requested);
        Sample* inPlace[2] = {placeLeft.data(), placeRight.data()};
        process(twin.effect, inPlace, inPlace, requested);

        // Every frame asked for, even beyond the block size; none after them.
        const auto processed = static_cast<std::size_t>(requested);
        for (std::size_t i = 0; i < capacity; ++i) {
            if (i < processed) {
                if (!isClean(outLeft[i]) || !isClean(outRight[i]))
                    return "unclean output at frame " + std::to_string(i);
                if (outLeft[i] != placeLeft[i] || outRight[i] != placeRight[i])
                    return "in-place result differs at frame " + std::to_string(i);
            } else if (outLeft[i] != guard || outRight[i] != guard) {
                return "frame " + std::to_string(i) + " beyond the request was written";
            }
        }
    }
    return "";
}

class ProcessingMatrix : public ::testing::TestWithParam<float> {};

TEST_P(ProcessingMatrix, EveryBlockSizeModeAndPrecisionStaysClean)
{
    const float rate = GetParam();
    std::mt19937 random(static_cast<unsigned>(rate));
    for (VstInt32 blockSize : {1, 17, 64, 512, 4096, 16384}) {
        for (int mode = 0; mode < 4; ++mode) {
            for (bool oversample : {false, true}) {
                // Large blocks at 16x are slow and add nothing the smaller ones do not test.
                if (oversample && blockSize > 4096)
                    continue;
                const std::string where = "rate " + std::to_string(rate) + ", block " + std::to_string(blockSize) +
                                          ", mode " + std::to_string(mode) + (oversample ? ", 16x" : ", 1x");
                EXPECT_EQ(runConfiguration<float>(rate, blockSize, mode, oversample, random), "") << where << ", float";
                EXPECT_EQ(runConfiguration<double>(rate, blockSize, mode, oversample, random), "")
                    << where << ", double";
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, ProcessingMatrix,
                         ::testing::Values(8000.0f, 11025.0f, 22050.0f, 44100.0f, 48000.0f, 96000.0f, 192000.0f,
                                           384000.0f));

TEST(BadSignal, ASecondOfGarbageThenMusicComesOutFiniteAtOnce)
{
    for (int program : {0, 1, 2, 5}) {
        HostedEffect host;
        host.selectProgram(program);
        host.set(kChannels, 1.0f);
        host.dispatch(effSetBlockSize, 0, 441);
        std::vector<float> left(441), right(441), outLeft(441), outRight(441);
        float* inputs[2] = {left.data(), right.data()};
        float* outputs[2] = {outLeft.data(), outRight.data()};
        const float garbage[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                                 -std::numeric_limits<float>::infinity(), 1e30f, -1e30f};
        for (int block = 0; block < 100; ++block) {
            for (std::size_t i = 0; i < 441; ++i) {
                left[i] = garbage[(i + static_cast<std::size_t>(block)) % 5];
                right[i] = garbage[(i * 3) % 5];
            }
            host.effect->processReplacing(host.effect, inputs, outputs, 441);
        }
        for (std::size_t i = 0; i < 441; ++i) {
            left[i] = 0.3f * std::sin(0.05f * static_cast<float>(i));
            right[i] = -left[i];
        }
        host.effect->processReplacing(host.effect, inputs, outputs, 441);
        for (std::size_t i = 0; i < 441; ++i) {
            ASSERT_TRUE(std::isfinite(outLeft[i]) && std::isfinite(outRight[i]))
                << "program " << program << " frame " << i;
        }
    }
}

TEST(BadSignal, SubnormalInputGivesNoSubnormalOutput)
{
    HostedEffect host;
    host.selectProgram(1);
    host.set(kChannels, 1.0f);
    host.dispatch(effSetBlockSize, 0, 512);
    std::vector<float> left(512), right(512), outLeft(512), outRight(512);
    float* inputs[2] = {left.data(), right.data()};
    float* outputs[2] = {outLeft.data(), outRight.data()};
    for (int block = 0; block < 20; ++block) {
        for (std::size_t i = 0; i < 512; ++i)
            left[i] = right[i] = std::numeric_limits<float>::denorm_min() * static_cast<float>(i % 7);
        host.effect->processReplacing(host.effect, inputs, outputs, 512);
        for (std::size_t i = 0; i < 512; ++i)
            ASSERT_TRUE(isClean(outLeft[i]) && isClean(outRight[i]));
    }
}

} // namespace
