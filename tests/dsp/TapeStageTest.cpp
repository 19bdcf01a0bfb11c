#include "dsp/TapeStage.h"

#include "SineResponse.h"
#include "dsp/BiquadDesign.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

// Sample numbers (from 1) at which the level-dependent shelf was redesigned,
// while a slow ramp keeps the envelope moving.
std::vector<long> redesignTimes(double rate)
{
    const TapeDesign design = designTapeStage(rate);
    TapeStage stage;
    stage.takeDesign(design);
    std::vector<long> times;
    for (long n = 1; n <= static_cast<long>(rate); ++n) {
        const double before = stage.state().tone.shelf.b0;
        stage.processTapeSample(design, 0.5 * n / rate, 1.0, nullptr, nullptr);
        if (stage.state().tone.shelf.b0 != before)
            times.push_back(n);
    }
    return times;
}

} // namespace

// The level-dependent designs against the stage's published figures: the
// 3350 Hz peak reaches its gain at the centre; the 7000 Hz shelf matches a
// reference shelf built from the figure's Q and gain.
TEST(TapeStage, ToneDesignsFollowTheEnvelope)
{
    struct Figures {
        double envelope, shelfQ, shelfDb, peakDb;
    };
    const Figures cases[] = {
        {0.0, 0.82, 0.8731, -0.1},
        {2.0, 0.6896, 0.0091, -0.3001},
        {6.0, 0.119616, -5.0501, -0.1},
        {9.0, 0.119616, -5.0501, -0.1}, // limited to 6
    };
    for (const Figures& f : cases) {
        const double rate = 44100.0;
        const TapeTone tone = designTapeTone(f.envelope, rate);
        EXPECT_NEAR(gainAt(tone.peak, 3350, rate), f.peakDb, 1e-4) << f.envelope;

        const double w0 = cookbookTwoPi * 7000 / rate;
        const BiquadCoefficients reference =
            designHighShelf(w0, std::sin(w0) / (2 * f.shelfQ), cookbookAmplitude(f.shelfDb));
        for (double hz : {1000.0, 4000.0, 7000.0, 10000.0, 16000.0, 21000.0})
            EXPECT_NEAR(gainAt(tone.shelf, hz, rate), gainAt(reference, hz, rate), 1e-4)
                << "envelope " << f.envelope << " at " << hz;
    }

    // Silence keeps the envelope at 0, so the tone sections keep their e = 0 design.
    const TapeDesign design = designTapeStage(44100.0);
    TapeStage quiet;
    const double initialShelfA1 = quiet.state().tone.shelf.a1;
    for (int n = 0; n < 10000; ++n)
        quiet.processTapeSample(design, 0.0, 10.0, nullptr, nullptr);
    EXPECT_EQ(quiet.state().envelope, 0.0);
    EXPECT_EQ(quiet.state().tone.shelf.a1, initialShelfA1);
}

TEST(TapeStage, ClipperKneesAndLimits)
{
    constexpr TapeClipper<double> clipper = makeTapeClipper();
    const auto tapeSoftClip = [&](double q) { return clipper.curve(q); };
    for (double q : {-0.25, -0.1, 0.0, 0.25})
        EXPECT_EQ(tapeSoftClip(q), q);
    EXPECT_DOUBLE_EQ(tapeSoftClip(0.5), 0.4375);
    EXPECT_DOUBLE_EQ(tapeSoftClip(-0.5), -0.4375);
    EXPECT_NEAR(tapeSoftClip(1e9), 1.0, 1e-8);
    EXPECT_NEAR(tapeSoftClip(-1e9), -1.0, 1e-8);
    const double h = 1e-6; // slope 1 on both sides of each knee
    for (double knee : {-0.25, 0.25}) {
        EXPECT_NEAR((tapeSoftClip(knee + h) - tapeSoftClip(knee)) / h, 1.0, 1e-5);
        EXPECT_NEAR((tapeSoftClip(knee) - tapeSoftClip(knee - h)) / h, 1.0, 1e-5);
    }

    // Through the whole stage, huge inputs keep the clipped signal within the output gain.
    const TapeDesign design = designTapeStage(44100.0);
    TapeStage driven;
    double clipped = 0;
    for (int n = 0; n < 2000; ++n) {
        const double out = driven.processTapeSample(design, n % 2 ? 1e6 : -1e6, 10.0, nullptr, &clipped);
        ASSERT_LE(std::fabs(clipped), 5.88235294117647);
        ASSERT_TRUE(std::isfinite(out));
    }
}

TEST(TapeStage, RedesignsEveryFiveMillisecondsOfStageTime)
{
    // 220.5 samples at 44.1 kHz: alternately 221 and 220 samples apart.
    const std::vector<long> host = redesignTimes(44100.0);
    ASSERT_GE(host.size(), 190u);
    EXPECT_EQ(host[0], 221);
    for (size_t i = 1; i < host.size(); ++i)
        EXPECT_EQ(host[i] - host[i - 1], i % 2 ? 220 : 221) << i;

    const std::vector<long> fast = redesignTimes(768000.0);
    ASSERT_GE(fast.size(), 190u);
    for (size_t i = 1; i < fast.size(); ++i)
        EXPECT_EQ(fast[i] - fast[i - 1], 3840);
}

TEST(TapeStage, RateUpdateRedesignsAndClearsOnlyTheFixedSections)
{
    const TapeDesign host = designTapeStage(44100.0);
    TapeStage stage;
    EXPECT_EQ(host.redesignPeriod, 220.5);
    for (int n = 0; n < 1000; ++n)
        stage.processTapeSample(host, 0.5 * std::sin(0.05 * n), 4.0, nullptr, nullptr);
    const TapeState before = stage.state();
    ASSERT_NE(before.post[1].w1, 0.0);

    const TapeDesign fast = designTapeStage(768000.0);
    EXPECT_NEAR(fast.attackCoeff, 0.012936, 1e-6);
    EXPECT_NEAR(fast.releaseCoeff, 0.0000651, 1e-7);
    EXPECT_EQ(fast.redesignPeriod, 3840.0);
    stage.takeDesign(fast);
    const TapeState& after = stage.state();
    for (const BiquadMemory* fixed : {&after.lowEnd[0], &after.lowEnd[1], &after.lowEnd[2], &after.post[0]})
        EXPECT_TRUE(fixed->w1 == 0.0 && fixed->w2 == 0.0);
    for (int tone : {1, 2})
        EXPECT_TRUE(after.post[tone].w1 == before.post[tone].w1 && after.post[tone].w2 == before.post[tone].w2);
    // The tone is designed again from the envelope, at the new rate.
    EXPECT_EQ(after.envelope, before.envelope);
    EXPECT_EQ(after.tone.shelf.b0, designTapeTone(before.envelope, 768000.0).shelf.b0);

    // The fixed sections at both ends of the rate range (|H| = Q at a resonant corner).
    for (const TapeDesign* design : {&host, &fast}) {
        const double rate = design->stageRate;
        EXPECT_NEAR(gainAt(design->lowEnd[0], 19, rate), 20 * std::log10(1.08), 1e-3);
        EXPECT_LT(gainAt(design->lowEnd[0], 4, rate), -20.0);
        EXPECT_NEAR(gainAt(design->lowEnd[1], 55, rate), -4.0, 1e-3);
        EXPECT_NEAR(gainAt(design->lowEnd[2], 59, rate), 4.2, 1e-3);
        EXPECT_NEAR(gainAt(design->topCut, 1000, rate), 0.0, 0.01);
    }
    EXPECT_NEAR(gainAt(fast.topCut, 20000, 768000.0), 20 * std::log10(0.86), 0.01);
}

// Non-finite input runs through the stage like any other sample, without a
// trap or a crash, and poisons that channel's stage for good: the envelope,
// the section memories and so every later output. That is why the
// processing entry keeps such samples out of the chain.
TEST(TapeStage, NonFiniteInputPoisonsTheStageForGood)
{
    const TapeDesign design = designTapeStage(44100.0);
    const double inf = std::numeric_limits<double>::infinity();
    for (double x : {std::numeric_limits<double>::quiet_NaN(), inf, -inf}) {
        TapeStage stage;
        double preClip = 0.0, clipped = 0.0;
        const double out = stage.processTapeSample(design, x, 5.0, &preClip, &clipped);
        EXPECT_FALSE(std::isfinite(preClip)) << x;
        EXPECT_TRUE(std::isnan(clipped)) << x; // the clipper's tails give inf / inf
        EXPECT_TRUE(std::isnan(out)) << x;
        EXPECT_FALSE(std::isfinite(stage.state().envelope)) << x;

        // A second of clean signal, through several tone redesigns, does not recover.
        double later = 0.0;
        for (int n = 0; n < 44100; ++n)
            later = stage.processTapeSample(design, 0.1 * std::sin(0.05 * n), 5.0, nullptr, nullptr);
        EXPECT_TRUE(std::isnan(later)) << x;
        EXPECT_TRUE(std::isnan(stage.state().post[2].w1)) << x;
    }
}
