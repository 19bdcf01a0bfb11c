// The paired stereo path must give, bit for bit, what the scalar path gives
// when the two channels of each frame run through processSample in order
// (left, then right). Two engines receive the same settings at the same
// frames; one runs the scalar reference, the other processStereoFrame.
#include "engine/ProcessingEngine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>

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

    // Stereo frames: scalar left then right, against the paired frame. Stops
    // at the first difference and names the frame.
    ::testing::AssertionResult stereo(long frames, double amplitude)
    {
        for (long i = 0; i < frames; ++i, ++frame) {
            SampleRecord left{pluck(0, frame, amplitude), 0.0, 0, 0.0, 0.0, 0.0, 0.0};
            SampleRecord right{pluck(1, frame, amplitude), 0.0, 1, 0.0, 0.0, 0.0, 0.0};
            SampleRecord pairedLeft = left;
            SampleRecord pairedRight = right;
            scalar->processSample(left);
            scalar->processSample(right);
            paired->processStereoFrame(pairedLeft, pairedRight);
            auto result = sameRecords(left, pairedLeft);
            if (result)
                result = sameRecords(right, pairedRight);
            if (!result)
                return result << " at frame " << frame;
        }
        return ::testing::AssertionSuccess();
    }

    // Channel 0 only, as the mono layout runs it, on both engines.
    void mono(long frames, double amplitude)
    {
        for (long i = 0; i < frames; ++i, ++frame) {
            for (ProcessingEngine* engine : {scalar.get(), paired.get()}) {
                SampleRecord record{pluck(0, frame, amplitude), 0.0, 0, 0.0, 0.0, 0.0, 0.0};
                engine->processSample(record);
            }
        }
    }

    // The state that carries into later frames, compared field by field.
    void expectSameState() const
    {
        const ProcessingEngine& a = *scalar;
        const ProcessingEngine& b = *paired;
        EXPECT_EQ(a.fadeCounter, b.fadeCounter);
        EXPECT_EQ(a.tubeNoiseState, b.tubeNoiseState);
        for (std::size_t k = 0; k < kEngineChannels; ++k) {
            SCOPED_TRACE("channel " + std::to_string(k));
            EXPECT_TRUE(sameBits("heldOutput", a.heldOutput[k], b.heldOutput[k]));
            EXPECT_TRUE(sameBits("follower fast", a.inputFollowers[k].fast, b.inputFollowers[k].fast));
            EXPECT_TRUE(sameBits("follower slow", a.inputFollowers[k].slow, b.inputFollowers[k].slow));
            EXPECT_TRUE(sameBits("cathode", a.tubeStage.nodeVoltages[k].cathode, b.tubeStage.nodeVoltages[k].cathode));
            EXPECT_TRUE(sameBits("plate", a.tubeStage.nodeVoltages[k].plate, b.tubeStage.nodeVoltages[k].plate));
            const TapeStage& tapeA = a.tapeStages[k];
            const TapeStage& tapeB = b.tapeStages[k];
            EXPECT_TRUE(sameBits("tape envelope", tapeA.envelope, tapeB.envelope));
            EXPECT_TRUE(sameBits("tape counter", tapeA.redesignCounter, tapeB.redesignCounter));
            for (int s = 0; s < 3; ++s) {
                EXPECT_TRUE(sameBits("tape post w1", tapeA.postFilters[s].w1, tapeB.postFilters[s].w1));
                EXPECT_TRUE(sameBits("tape post b0", tapeA.postFilters[s].b0, tapeB.postFilters[s].b0));
                EXPECT_TRUE(sameBits("tape pre w2", tapeA.preFilters[s].w2, tapeB.preFilters[s].w2));
                EXPECT_TRUE(sameBits("eq w1", a.eqSections[3 * k + s].w1, b.eqSections[3 * k + s].w1));
            }
        }
    }

    std::unique_ptr<ProcessingEngine> scalar;
    std::unique_ptr<ProcessingEngine> paired;
    long frame = 0;
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
            engine.sampleRate = 44100.0;
            engine.oversampling = factor;
            engine.characterIndex = 4; // "Fat": two active sections
            engine.amount = 0.7;
            engine.drive = 3.5;
            engine.levelGain = 1.4;
            engine.enabled = 1;
            engine.saturationMode = mode;
            engine.updateCoefficients(true); // starts a fade
        });
    }

    // What the processing entry does when "Mode" or "Enable" changes.
    void switchTo(int newMode, int enabled)
    {
        engines.configure([&](ProcessingEngine& engine) {
            engine.saturationMode = newMode;
            engine.enabled = enabled;
            engine.fadeCounter = engine.fadeSteps();
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
    ASSERT_EQ(engines.paired->fadeCounter / factor % 2, 1);
    switchTo(mode, 1);
    engines.mono(37, 0.3);
    ASSERT_TRUE(engines.stereo(700, 0.3));

    // A counter that ends inside one lane's sixteen sub-samples.
    engines.configure([](ProcessingEngine& engine) { engine.fadeCounter = 37; });
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
        engine.drive = 10.0;
        engine.levelGain = 0.5;
    });
    ASSERT_TRUE(engines.stereo(300, 0.3));

    // A new character shape: channel 1's sections take channel 0's memory.
    engines.configure([](ProcessingEngine& engine) {
        engine.characterIndex = 5;
        engine.amount = 0.4;
        engine.updateCoefficients(false);
    });
    ASSERT_TRUE(engines.stereo(300, 0.3));
    engines.configure([](ProcessingEngine& engine) {
        engine.characterIndex = 3; // "Flat": no active section
        engine.drive = 1.0;
        engine.updateCoefficients(false);
    });
    ASSERT_TRUE(engines.stereo(300, 0.3));

    // A rate change rebuilds the triode tables and restarts the fade.
    engines.configure([](ProcessingEngine& engine) {
        engine.characterIndex = 0;
        engine.drive = 7.25;
        engine.sampleRate = 48000.0;
        engine.updateCoefficients(true);
    });
    ASSERT_TRUE(engines.stereo(600, 0.3));
    engines.expectSameState();
}

TEST_P(EngineStereoPath, LimiterSilenceAndToneRedesignsMatchTheScalarPath)
{
    // Lane 0's redesign clock runs ahead of lane 1's, so the two lanes
    // redesign their tone sections on different frames.
    engines.mono(101, 0.3);
    const double initialShelf = engines.paired->tapeStages[0].postFilters[2].b0;

    // Loud enough that the followers' mean rises above full scale.
    ASSERT_TRUE(engines.stereo(3000, 4.0));
    EXPECT_GT(engines.paired->inputFollowers[0].fast, 1.0);
    EXPECT_GT(engines.paired->inputFollowers[1].fast, 1.0);

    ASSERT_TRUE(engines.stereo(800, 0.0));
    ASSERT_TRUE(engines.stereo(1500, 0.2));
    if (tapeInPath(mode)) {
        EXPECT_NE(engines.paired->tapeStages[0].postFilters[2].b0, initialShelf);
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
    engine->enabled = 0;
    SampleRecord left{0.25, 0.0, 0, 1.0, 2.0, 3.0, 4.0};
    SampleRecord right{-0.5, 0.0, 1, 5.0, 6.0, 7.0, 8.0};
    engine->processStereoFrame(left, right);
    EXPECT_EQ(left.output, 0.25);
    EXPECT_EQ(right.output, -0.5);
    EXPECT_EQ(left.tubeX, 1.0);
    EXPECT_EQ(right.tapeY, 8.0);
}

} // namespace
