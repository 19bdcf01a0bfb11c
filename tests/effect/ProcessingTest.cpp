// The sound end to end, through the real entry point and record.
#include "host/BoosterEffect.h"
#include "support/TestHost.h"

#include <cmath>
#include <future>
#include <limits>
#include <thread>
#include <vector>

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kMaxInputNoise = 5.05e-19;

BoosterEffect& instanceOf(HostedEffect& host)
{
    return *static_cast<BoosterEffect*>(host.effect->object);
}

// Stereo buffers for one processing call, in either precision.
template <typename Sample> struct Block {
    explicit Block(std::size_t frames) : in(2, std::vector<Sample>(frames)), out(2, std::vector<Sample>(frames)) {}
    void run(HostedEffect& host, VstInt32 frames = -1, bool stereoOutputs = true)
    {
        Sample* inputs[2] = {in[0].data(), in[1].data()};
        Sample* outputs[2] = {out[0].data(), stereoOutputs ? out[1].data() : nullptr};
        const auto count = frames < 0 ? static_cast<VstInt32>(in[0].size()) : frames;
        if constexpr (sizeof(Sample) == sizeof(float))
            host.effect->processReplacing(host.effect, inputs, outputs, count);
        else
            host.effect->processDoubleReplacing(host.effect, inputs, outputs, count);
    }
    void fill(double value)
    {
        for (auto& channel : in)
            for (auto& sample : channel)
                sample = static_cast<Sample>(value);
    }
    void sine(double amplitude, double frequency, std::size_t& phase, double rate = 44100.0)
    {
        for (std::size_t i = 0; i < in[0].size(); ++i, ++phase) {
            const double value = amplitude * std::sin(2.0 * kPi * frequency * static_cast<double>(phase) / rate);
            in[0][i] = static_cast<Sample>(value);
            in[1][i] = static_cast<Sample>(-value);
        }
    }
    std::vector<std::vector<Sample>> in;
    std::vector<std::vector<Sample>> out;
};

// Announces the largest block the test will send, as a host does before processing.
void announceBlockSize(HostedEffect& host, VstIntPtr frames)
{
    host.dispatch(effSetBlockSize, 0, frames);
}

// "Default" runs one channel; these tests want both.
void selectStereo(HostedEffect& host)
{
    host.set(kChannels, 1.0f);
}

void selectMode(HostedEffect& host, int mode)
{
    host.set(kMode, (static_cast<float>(mode) + 0.5f) / 4.0f);
}

bool allFinite(const std::vector<float>& samples)
{
    for (float sample : samples)
        if (!std::isfinite(sample))
            return false;
    return true;
}

TEST(Processing, BypassAddsOnlyTheTinyNoiseOffset)
{
    HostedEffect host;
    host.set(kEnable, 0.0f); // "Enable" off
    selectStereo(host);
    selectMode(host, 3);
    host.set(kDrive, 1.0f);
    Block<double> block(256);
    std::size_t phase = 0;
    for (int call = 0; call < 4; ++call) {
        block.sine(0.8, 440.0, phase);
        block.run(host);
        for (int c = 0; c < 2; ++c)
            for (std::size_t i = 0; i < 256; ++i) {
                const double added =
                    block.out[static_cast<std::size_t>(c)][i] - block.in[static_cast<std::size_t>(c)][i];
                ASSERT_GE(added, 0.0);
                ASSERT_LT(added, kMaxInputNoise + 1e-16);
            }
    }
}

TEST(Processing, FlatOffAtZeroDecibelsGivesTheInputBackAfterTheFade)
{
    HostedEffect host; // "Default": Flat, OFF, level 0.00 dB
    selectStereo(host);
    announceBlockSize(host, 512);
    Block<double> block(512);
    std::size_t phase = 0;
    block.sine(0.5, 1000.0, phase);
    block.run(host); // the first call's fade
    for (int call = 0; call < 3; ++call) {
        block.sine(0.5, 1000.0, phase);
        block.run(host);
        for (int c = 0; c < 2; ++c)
            for (std::size_t i = 0; i < 512; ++i)
                ASSERT_NEAR(block.out[static_cast<std::size_t>(c)][i], block.in[static_cast<std::size_t>(c)][i], 1e-7);
    }
}

TEST(Processing, LimiterPassesASineOfAmplitudeOnePointTwo)
{
    HostedEffect host;
    selectStereo(host);
    announceBlockSize(host, 4410);
    Block<double> block(4410);
    std::size_t phase = 0;
    for (int call = 0; call < 20; ++call) { // two seconds: the slow follower settles
        block.sine(1.2, 1000.0, phase);
        block.run(host);
    }
    for (std::size_t i = 0; i < 4410; ++i)
        ASSERT_NEAR(block.out[0][i], block.in[0][i], 1e-7);
    // A sine of amplitude 2 has a mean magnitude above 1 and is limited.
    for (int call = 0; call < 20; ++call) {
        block.sine(2.0, 1000.0, phase);
        block.run(host);
    }
    double peak = 0.0;
    for (double sample : block.out[0])
        peak = std::max(peak, std::fabs(sample));
    EXPECT_LT(peak, 1.9);
}

TEST(Processing, EnableSwitchFadesOverSixtyFourSamplesPerChannelInStereo)
{
    HostedEffect host;
    selectStereo(host);
    announceBlockSize(host, 1024);
    Block<double> block(1024);
    block.fill(0.5);
    block.run(host); // settles after the first call's fade; held outputs are 0.5
    host.set(kEnable, 0.0f);
    block.fill(0.25);
    block.run(host, 256); // bypassed: 0.25 passes, the held outputs stay 0.5
    EXPECT_NEAR(block.out[0][0], 0.25, 1e-12);
    host.set(kEnable, 1.0f);
    block.run(host, 256);
    // One counter for both channels: left takes the odd steps, right the even ones.
    for (std::size_t i = 0; i < 64; ++i) {
        const double leftWeight = static_cast<double>(127 - 2 * static_cast<int>(i)) / 128.0;
        const double rightWeight = static_cast<double>(126 - 2 * static_cast<int>(i)) / 128.0;
        EXPECT_NEAR(block.out[0][i], 0.25 + leftWeight * 0.25, 1e-6) << i;
        EXPECT_NEAR(block.out[1][i], 0.25 + rightWeight * 0.25, 1e-6) << i;
    }
    for (std::size_t i = 64; i < 256; ++i) {
        ASSERT_NEAR(block.out[0][i], 0.25, 1e-6);
        ASSERT_NEAR(block.out[1][i], 0.25, 1e-6);
    }
}

TEST(Processing, MonoLayoutFeedsBothOutputsFromTheLeftAndMirrorsTheMeters)
{
    HostedEffect host;
    host.selectProgram(1); // "Fat overdrive", one channel
    announceBlockSize(host, 512);
    Block<float> block(512);
    std::size_t phase = 0;
    block.sine(0.3, 220.0, phase);
    block.in[1].assign(512, 0.9f); // ignored
    block.run(host);
    EXPECT_EQ(block.out[0], block.out[1]);
    const auto& peaks = instanceOf(host).processor().peakLevelValues();
    EXPECT_EQ(peaks[1], peaks[0]);
    EXPECT_EQ(peaks[3], peaks[2]);
    EXPECT_LT(peaks[0], 0.31); // the right input never reached the meters

    // Without a second output buffer only the left output is written.
    std::vector<float> untouched(512, 7.0f);
    block.out[1] = untouched;
    block.run(host, -1, false);
    EXPECT_EQ(block.out[1], untouched);
}

TEST(Processing, StereoChannelsKeepTheirOwnState)
{
    HostedEffect host;
    host.selectProgram(5); // "Stereo mix air": two channels, tape, 16x
    announceBlockSize(host, 512);
    Block<float> block(512);
    std::size_t phase = 0;
    block.sine(0.3, 220.0, phase);
    block.run(host);
    block.run(host);
    // The right input is the inverted left: a symmetric chain gives inverted output.
    double largest = 0.0, mismatch = 0.0;
    for (std::size_t i = 0; i < 512; ++i) {
        largest = std::max(largest, std::fabs(static_cast<double>(block.out[0][i])));
        mismatch = std::max(mismatch, std::fabs(static_cast<double>(block.out[0][i] + block.out[1][i])));
    }
    EXPECT_GT(largest, 0.05);
    EXPECT_LT(mismatch, 0.02 * largest);
}

TEST(Processing, CallsLongerThanTheBlockSizeAreProcessedWhole)
{
    // One host sends calls of 600 frames after announcing 256 (and one never
    // announces, which means 256); another sends the same audio in calls of
    // the announced size. Every frame must come out, identical in both.
    for (bool announced : {true, false}) {
        HostedEffect longCalls;
        HostedEffect announcedCalls;
        for (HostedEffect* host : {&longCalls, &announcedCalls}) {
            host->selectProgram(5); // two channels, tape, 16x
            if (announced)
                host->dispatch(effSetBlockSize, 0, 256);
        }
        Block<float> whole(600);
        std::size_t phase = 0;
        whole.sine(0.4, 330.0, phase);
        whole.out[0].assign(600, -3.0f);
        whole.out[1].assign(600, -3.0f);
        whole.run(longCalls);

        Block<float> piece(200);
        for (std::size_t start = 0; start < 600; start += 200) {
            for (int channel = 0; channel < 2; ++channel)
                piece.in[channel].assign(whole.in[channel].begin() + static_cast<long>(start),
                                         whole.in[channel].begin() + static_cast<long>(start + 200));
            piece.run(announcedCalls);
            for (std::size_t i = 0; i < 200; ++i)
                for (int channel = 0; channel < 2; ++channel)
                    ASSERT_EQ(whole.out[channel][start + i], piece.out[channel][i])
                        << "frame " << start + i << " channel " << channel << " announced " << announced;
        }
        EXPECT_NE(whole.out[0][599], -3.0f);
    }
}

TEST(Processing, SilenceLeavesTheMetersAtTheNoiseOffset)
{
    HostedEffect host;
    announceBlockSize(host, 1024);
    Block<float> block(1024);
    for (int call = 0; call < 10; ++call)
        block.run(host);
    for (double level : instanceOf(host).processor().peakLevelValues()) {
        EXPECT_GT(level, 0.0);
        EXPECT_LT(level, kMaxInputNoise);
    }
}

TEST(Processing, FloatAndDoublePathsAgreeToFloatPrecision)
{
    for (int program : {1, 2, 5}) {
        HostedEffect single, twice;
        single.selectProgram(program);
        twice.selectProgram(program);
        announceBlockSize(single, 512);
        announceBlockSize(twice, 512);
        Block<float> floats(512);
        Block<double> doubles(512);
        std::size_t phaseF = 0, phaseD = 0;
        for (int call = 0; call < 8; ++call) {
            floats.sine(0.25, 196.0, phaseF);
            doubles.sine(0.25, 196.0, phaseD);
            for (int c = 0; c < 2; ++c) // the same float-exact input
                for (std::size_t i = 0; i < 512; ++i)
                    doubles.in[static_cast<std::size_t>(c)][i] = floats.in[static_cast<std::size_t>(c)][i];
            floats.run(single);
            doubles.run(twice);
            for (int c = 0; c < 2; ++c)
                for (std::size_t i = 0; i < 512; ++i)
                    ASSERT_NEAR(floats.out[static_cast<std::size_t>(c)][i], doubles.out[static_cast<std::size_t>(c)][i],
                                2e-6)
                        << "program " << program;
        }
    }
}

TEST(Processing, NonFiniteInputRecoversAtOnce)
{
    for (int program : {1, 2, 5}) {
        HostedEffect host;
        host.selectProgram(program);
        Block<float> block(256);
        std::size_t phase = 0;
        block.sine(0.4, 330.0, phase);
        block.run(host);
        const float bad[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity(), 1e30f};
        for (std::size_t i = 0; i < 256; ++i)
            block.in[i % 2][i] = bad[i % 4];
        block.run(host);
        EXPECT_TRUE(allFinite(block.out[0])) << program;
        EXPECT_TRUE(allFinite(block.out[1])) << program;
        block.sine(0.4, 330.0, phase);
        block.run(host);
        EXPECT_TRUE(allFinite(block.out[0])) << program;
        EXPECT_TRUE(allFinite(block.out[1])) << program;
    }
}

TEST(Processing, ParametersBecomeEngineValuesAtTheNextCall)
{
    HostedEffect host;
    const ProcessingEngine& engine = instanceOf(host).processor().processingEngine();
    Block<float> block(16);
    host.set(kDrive, 0.0f);
    host.set(kLevel, 0.0f);
    block.run(host, 0);
    EXPECT_DOUBLE_EQ(engine.drive(), 1.0);
    EXPECT_NEAR(engine.levelGain(), 0.501187, 1e-6);
    host.set(kDrive, 1.0f);
    host.set(kLevel, 1.0f);
    block.run(host, 0);
    EXPECT_NEAR(engine.drive(), 10.0, 1e-12);
    EXPECT_NEAR(engine.levelGain(), 15.848932, 1e-6);

    // Amount moves only by steps of at least 0.01.
    host.set(kAmount, 0.5f);
    block.run(host, 0);
    host.set(kAmount, 0.505f);
    block.run(host, 0);
    EXPECT_DOUBLE_EQ(engine.amount(), 0.5);
    host.set(kAmount, 0.52f);
    block.run(host, 0);
    EXPECT_DOUBLE_EQ(engine.amount(), static_cast<double>(0.52f));

    // The first call after a rate change moves every stage to the new rate and starts a fade.
    host.dispatch(effSetSampleRate, 0, 0, nullptr, 96000.0f);
    host.set(kOversample, 1.0f);
    block.run(host, 0);
    EXPECT_DOUBLE_EQ(engine.sampleRate(), 96000.0);
    EXPECT_DOUBLE_EQ(engine.oversampling(), 16.0);
    EXPECT_DOUBLE_EQ(engine.tubeDesign()->stageRate(), 96000.0 * 16.0);
    EXPECT_DOUBLE_EQ(engine.tapeDesign().stageRate, 96000.0 * 16.0);
    EXPECT_EQ(engine.fadeRemaining(), 128 * 16);
}

TEST(Processing, ResponseCurveFollowsTheCharacter)
{
    HostedEffect host;
    BoosterProcessor& effect = instanceOf(host).processor();
    Block<float> block(16);
    std::array<double, kResponsePoints> curve{};
    block.run(host, 0);
    ASSERT_TRUE(effect.takeResponseCurve(curve));
    for (double gain : curve)
        EXPECT_EQ(gain, 0.0);                      // "Flat"
    EXPECT_FALSE(effect.takeResponseCurve(curve)); // taken once

    host.set(kCharacter, 4.5f / 6.0f); // "Fat" at amount 0.5: +5 dB near 900 Hz, make-up not included
    block.run(host, 0);
    ASSERT_TRUE(effect.takeResponseCurve(curve));
    const auto loudest = std::max_element(curve.begin(), curve.end());
    const double frequency = 20.0 * std::pow(1000.0, static_cast<double>(loudest - curve.begin()) / 172.0);
    EXPECT_NEAR(*loudest, 5.0, 0.1);
    EXPECT_NEAR(frequency, 900.0, 40.0);
}

TEST(Processing, ScopeFramesAndMetersReachAnOpenEditor)
{
    HostedEffect host;
    BoosterProcessor& effect = instanceOf(host).processor();
    host.set(kMode, 0.3f); // "TUBE"
    EditorDisplay display;
    effect.attachDisplay(&display);
    Block<float> block(256);
    std::size_t phase = 0;
    block.sine(0.5, 440.0, phase);

    block.run(host); // window closed: nothing handed over
    EXPECT_EQ(display.scopeRing[0].points[0].x, 0.0);
    EXPECT_EQ(display.meterLevels[0], 0.0);

    effect.startScopeFeed(); // 44.1 kHz: a frame every fourth sample
    block.run(host);
    for (int slot = 0; slot < 64; ++slot)
        EXPECT_NE(display.scopeRing[static_cast<std::size_t>(slot)].points[0].x, 0.0) << slot;
    EXPECT_EQ(display.scopeRing[64].points[0].x, 0.0);
    EXPECT_GT(display.meterLevels[0], 0.4);

    // A ring lock busy on another thread loses this call's frames, not the meters.
    display.meterLevels = {};
    std::promise<void> held, done;
    std::thread editorThread([&] {
        display.ringLocks[1].enter();
        held.set_value();
        done.get_future().wait();
        display.ringLocks[1].leave();
    });
    held.get_future().wait();
    block.run(host);
    done.set_value();
    editorThread.join();
    EXPECT_EQ(display.scopeRing[64].points[0].x, 0.0);
    EXPECT_GT(display.meterLevels[0], 0.4);
    EXPECT_TRUE(display.ringLocks[0].tryEnter()); // released again
    display.ringLocks[0].leave();

    effect.stopScopeFeed();
    display.meterLevels = {};
    block.run(host);
    EXPECT_EQ(display.meterLevels[0], 0.0);
    effect.attachDisplay(nullptr);
}

} // namespace
