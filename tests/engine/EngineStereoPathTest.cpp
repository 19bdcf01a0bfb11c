// The stereo path (the chain on lane pairs) must give, bit for bit, what the
// single-channel path gives when the two channels of each frame run through
// processSample in order (left, then right). Two engines receive the same
// settings at the same frames; one runs the reference one sample at a time,
// the other runs of frames of ragged lengths.
#include "engine/ProcessingEngine.h"
#include "support/SharedTriodeTables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr double kPi = 3.141592653589793;

std::uint64_t bitsOf(double value)
{
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

::testing::AssertionResult sameBits(const char* what, double reference, double paired)
{
    if (bitsOf(reference) == bitsOf(paired))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << what << ": scalar " << reference << " (0x" << std::hex << bitsOf(reference)
                                         << "), paired " << paired << " (0x" << bitsOf(paired) << ")";
}

::testing::AssertionResult sameRecords(const SampleRecord& reference, const SampleRecord& paired)
{
    const std::pair<const char*, double SampleRecord::*> fields[] = {
        {"output", &SampleRecord::output}, {"input", &SampleRecord::input}, {"tubeX", &SampleRecord::tubeX},
        {"tubeY", &SampleRecord::tubeY},   {"tapeX", &SampleRecord::tapeX}, {"tapeY", &SampleRecord::tapeY},
    };
    for (const auto& field : fields) {
        const auto result = sameBits(field.first, reference.*field.second, paired.*field.second);
        if (!result)
            return result;
    }
    return ::testing::AssertionSuccess();
}

// A stereo test signal: a decaying plucked tone with harmonics, different
// per channel, scaled by `amplitude`.
double pluck(int channel, long frame, double amplitude)
{
    const double t = static_cast<double>(frame) / 44100.0;
    const double phase = 2.0 * kPi * (channel == 0 ? 110.0 : 146.8) * t + 0.7 * channel;
    const double decay = std::exp(-3.0 * std::fmod(t, 0.4));
    return amplitude * decay * (std::sin(phase) + 0.5 * std::sin(2.0 * phase) + 0.25 * std::sin(3.0 * phase));
}

class EnginePair {
public:
    EnginePair() : scalar(std::make_unique<ProcessingEngine>()), paired(std::make_unique<ProcessingEngine>()) {}

    // Applies the same change to both engines, as the processing entry does
    // between blocks.
    template <typename Change> void configure(Change change)
    {
        change(*scalar);
        change(*paired);
    }

    // Stereo frames: left then right one sample at a time, against the
    // paired engine taking runs of ragged lengths (within and across its
    // stretches). Stops at the first difference and names the frame.
    ::testing::AssertionResult stereo(long frames, double amplitude)
    {
        std::vector<SampleRecord> left, right;
        for (long i = 0; i < frames; ++i) {
            left.push_back(SampleRecord{pluck(0, frame + i, amplitude), 0.0, 0, 0.0, 0.0, 0.0, 0.0});
            right.push_back(SampleRecord{pluck(1, frame + i, amplitude), 0.0, 1, 0.0, 0.0, 0.0, 0.0});
        }
        std::vector<SampleRecord> pairedLeft = left, pairedRight = right;
        for (long i = 0; i < frames; ++i) {
            scalar->processSample(left[static_cast<std::size_t>(i)]);
            scalar->processSample(right[static_cast<std::size_t>(i)]);
        }
        for (long start = 0; start < frames;) {
            const long run = std::min(frames - start, nextRunLength());
            paired->processStereoRun(&pairedLeft[static_cast<std::size_t>(start)],
                                     &pairedRight[static_cast<std::size_t>(start)], static_cast<int>(run));
            start += run;
        }
        for (long i = 0; i < frames; ++i, ++frame) {
            const auto k = static_cast<std::size_t>(i);
            auto result = sameRecords(left[k], pairedLeft[k]);
            if (result)
                result = sameRecords(right[k], pairedRight[k]);
            if (!result)
                return result << " at frame " << frame;
        }
        return ::testing::AssertionSuccess();
    }

    // Channel 0 only, as the mono layout runs it: one sample at a time on
    // one engine, in runs on the other.
    void mono(long frames, double amplitude)
    {
        std::vector<SampleRecord> records;
        for (long i = 0; i < frames; ++i)
            records.push_back(SampleRecord{pluck(0, frame + i, amplitude), 0.0, 0, 0.0, 0.0, 0.0, 0.0});
        std::vector<SampleRecord> runRecords = records;
        for (SampleRecord& record : records)
            scalar->processSample(record);
        for (long start = 0; start < frames;) {
            const long run = std::min(frames - start, nextRunLength());
            paired->processRun(&runRecords[static_cast<std::size_t>(start)], static_cast<int>(run));
            start += run;
        }
        for (std::size_t k = 0; k < records.size(); ++k)
            EXPECT_TRUE(sameRecords(records[k], runRecords[k])) << "mono frame " << frame + static_cast<long>(k);
        frame += frames;
    }

    // The state that carries into later frames, compared field by field.
    void expectSameState() const
    {
        const ProcessingEngine& a = *scalar;
        const ProcessingEngine& b = *paired;
        EXPECT_EQ(a.fadeRemaining(), b.fadeRemaining());
        EXPECT_EQ(a.noiseState(), b.noiseState());
        for (std::size_t k = 0; k < kEngineChannels; ++k) {
            SCOPED_TRACE("channel " + std::to_string(k));
            const ChannelState& stateA = a.channel(static_cast<int>(k));
            const ChannelState& stateB = b.channel(static_cast<int>(k));
            EXPECT_TRUE(sameBits("heldOutput", stateA.heldOutput, stateB.heldOutput));
            EXPECT_TRUE(sameBits("follower fast", stateA.follower.fast, stateB.follower.fast));
            EXPECT_TRUE(sameBits("follower slow", stateA.follower.slow, stateB.follower.slow));
            EXPECT_TRUE(sameBits("cathode", stateA.tubeNodes.cathode, stateB.tubeNodes.cathode));
            EXPECT_TRUE(sameBits("plate", stateA.tubeNodes.plate, stateB.tubeNodes.plate));
            const TapeState& tapeA = stateA.tape.state();
            const TapeState& tapeB = stateB.tape.state();
            EXPECT_TRUE(sameBits("tape envelope", tapeA.envelope, tapeB.envelope));
            EXPECT_TRUE(sameBits("tape counter", tapeA.redesignCounter, tapeB.redesignCounter));
            EXPECT_TRUE(sameBits("tape peak b0", tapeA.tone.peak.b0, tapeB.tone.peak.b0));
            EXPECT_TRUE(sameBits("tape shelf b0", tapeA.tone.shelf.b0, tapeB.tone.shelf.b0));
            for (int s = 0; s < 3; ++s) {
                EXPECT_TRUE(sameBits("tape post w1", tapeA.post[s].w1, tapeB.post[s].w1));
                EXPECT_TRUE(sameBits("tape pre w2", tapeA.lowEnd[s].w2, tapeB.lowEnd[s].w2));
            }
            for (int s = 0; s < eqMaxActiveSections; ++s)
                EXPECT_TRUE(sameBits("eq w1", stateA.eqMemory[s].w1, stateB.eqMemory[s].w1));
        }
    }

    std::unique_ptr<ProcessingEngine> scalar;
    std::unique_ptr<ProcessingEngine> paired;
    long frame = 0;

private:
    long nextRunLength()
    {
        static constexpr long lengths[] = {1, 7, 16, 17, 33, 5, 2};
        return lengths[runIndex++ % 7];
    }
    unsigned runIndex = 0;
};

bool tapeInPath(int mode)
{
    return mode == kModeTape || mode == kModeTubeThenTape;
}

// Mode 0..3 and the oversampling factor.
class EngineStereoPath : public ::testing::TestWithParam<std::tuple<int, int>> {
protected:
    void SetUp() override
    {
        mode = std::get<0>(GetParam());
        factor = std::get<1>(GetParam());
        engines.configure([this](ProcessingEngine& engine) {
            engine.setDrive(3.5);
            engine.setLevel(1.4);
            engine.setEnabled(true);
            engine.setMode(mode);
            engine.setCharacter(4, 0.7);                                        // "Fat": two active sections
            engine.setChainRate(44100.0, factor, &sharedTriodeTables(44100.0)); // starts a fade
        });
    }

    // What the processing entry does when "Mode" or "Enable" changes.
    void switchTo(int newMode, int enabled)
    {
        engines.configure([&](ProcessingEngine& engine) {
            engine.setMode(newMode);
            engine.setEnabled(enabled != 0);
            engine.startFade();
        });
    }

    int mode = 0;
    int factor = 1;
    EnginePair engines;
};

TEST_P(EngineStereoPath, FadesAndSwitchesMatchTheScalarOrder)
{
    // The fade of the rate update runs out at a frame boundary.
    ASSERT_TRUE(engines.stereo(400, 0.3));

    // A mono stretch leaves an odd number of fade steps at 1x (an odd
    // multiple of 16 at 16x), so the fade ends between the left and the
    // right chain samples of one stereo frame.
    switchTo((mode + 1) % 4, 1);
    engines.mono(37, 0.3);
    ASSERT_EQ(engines.paired->fadeRemaining() / factor % 2, 1);
    switchTo(mode, 1);
    engines.mono(37, 0.3);
    ASSERT_TRUE(engines.stereo(700, 0.3));

    // A fade left with 37 steps at 1x, and with three frames' worth at 16x,
    // so that it ends part-way through a stereo frame.
    switchTo(mode, 1);
    engines.mono(factor == 1 ? 91 : 125, 0.3);
    ASSERT_EQ(engines.paired->fadeRemaining(), factor == 1 ? 37 : 48);
    ASSERT_TRUE(engines.stereo(100, 0.3));

    // Bypass holds the counter; enabling again fades in from the held outputs.
    switchTo(mode, 0);
    ASSERT_TRUE(engines.stereo(50, 0.3));
    switchTo(mode, 1);
    ASSERT_TRUE(engines.stereo(300, 0.3));
    engines.expectSameState();
}

TEST_P(EngineStereoPath, ParameterChangesBetweenBlocksMatchTheScalarPath)
{
    ASSERT_TRUE(engines.stereo(300, 0.3));
    engines.configure([](ProcessingEngine& engine) {
        engine.setDrive(10.0);
        engine.setLevel(0.5);
    });
    ASSERT_TRUE(engines.stereo(300, 0.3));

    // A new character shape: channel 1's sections take channel 0's memory.
    engines.configure([](ProcessingEngine& engine) { engine.setCharacter(5, 0.4); });
    ASSERT_TRUE(engines.stereo(300, 0.3));
    engines.configure([](ProcessingEngine& engine) {
        engine.setCharacter(3, 0.4); // "Flat": no active section
        engine.setDrive(1.0);
    });
    ASSERT_TRUE(engines.stereo(300, 0.3));

    // A rate change rebuilds the triode tables and restarts the fade.
    engines.configure([this](ProcessingEngine& engine) {
        engine.setCharacter(0, 0.4);
        engine.setDrive(7.25);
        engine.setChainRate(48000.0, factor, &sharedTriodeTables(48000.0));
    });
    ASSERT_TRUE(engines.stereo(600, 0.3));
    engines.expectSameState();
}

TEST_P(EngineStereoPath, LimiterSilenceAndToneRedesignsMatchTheScalarPath)
{
    // Lane 0's redesign clock runs ahead of lane 1's, so the two lanes
    // redesign their tone sections on different frames.
    engines.mono(101, 0.3);
    const double initialShelf = engines.paired->channel(0).tape.state().tone.shelf.b0;

    // Loud enough that the followers' mean rises above full scale.
    ASSERT_TRUE(engines.stereo(3000, 4.0));
    EXPECT_GT(engines.paired->channel(0).follower.fast, 1.0);
    EXPECT_GT(engines.paired->channel(1).follower.fast, 1.0);

    ASSERT_TRUE(engines.stereo(800, 0.0));
    ASSERT_TRUE(engines.stereo(1500, 0.2));
    if (tapeInPath(mode)) {
        EXPECT_NE(engines.paired->channel(0).tape.state().tone.shelf.b0, initialShelf);
    }
    engines.expectSameState();
}

INSTANTIATE_TEST_SUITE_P(EveryModeAtBothFactors, EngineStereoPath,
                         ::testing::Combine(::testing::Values(0, 1, 2, 3), ::testing::Values(1, 16)),
                         [](const ::testing::TestParamInfo<std::tuple<int, int>>& info) {
                             return "mode" + std::to_string(std::get<0>(info.param)) + "x" +
                                    std::to_string(std::get<1>(info.param));
                         });

TEST(EngineStereoPath, BypassPassesBothInputsAndLeavesTheScopeValues)
{
    auto engine = std::make_unique<ProcessingEngine>();
    engine->setEnabled(false);
    SampleRecord left{0.25, 0.0, 0, 1.0, 2.0, 3.0, 4.0};
    SampleRecord right{-0.5, 0.0, 1, 5.0, 6.0, 7.0, 8.0};
    engine->processStereoFrame(left, right);
    EXPECT_EQ(left.output, 0.25);
    EXPECT_EQ(right.output, -0.5);
    EXPECT_EQ(left.tubeX, 1.0);
    EXPECT_EQ(right.tapeY, 8.0);
}

} // namespace
