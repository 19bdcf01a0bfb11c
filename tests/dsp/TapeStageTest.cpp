#include "dsp/TapeStage.h"

#include "SineResponse.h"
#include "dsp/BiquadDesign.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

double sectionGainDb(const BiquadSection& section, double hz, double rate)
{
    return gainAt(section.coefficients, hz, rate);
}

// Sample numbers (from 1) at which the level-dependent shelf was redesigned,
// while a slow ramp keeps the envelope moving.
std::vector<long> redesignTimes(double rate)
{
    TapeStage stage;
    stage.setStageRate(rate);
    std::vector<long> times;
    for (long n = 1; n <= static_cast<long>(rate); ++n) {
        const double before = stage.postFilters[2].coefficients.b0;
        stage.processTapeSample(0.5 * n / rate, 1.0, nullptr, nullptr);
        if (stage.postFilters[2].coefficients.b0 != before)
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
        TapeStage stage;
        const double rate = stage.stageRate;
        stage.envelope = f.envelope;
        stage.designToneFilters();
        EXPECT_NEAR(sectionGainDb(stage.postFilters[1], 3350, rate), f.peakDb, 1e-4) << f.envelope;

        const double w0 = cookbookTwoPi * 7000 / rate;
        const BiquadCoefficients reference =
            designHighShelf(w0, std::sin(w0) / (2 * f.shelfQ), cookbookAmplitude(f.shelfDb));
        for (double hz : {1000.0, 4000.0, 7000.0, 10000.0, 16000.0, 21000.0})
            EXPECT_NEAR(sectionGainDb(stage.postFilters[2], hz, rate), gainAt(reference, hz, rate), 1e-4)
                << "envelope " << f.envelope << " at " << hz;
    }

    // Silence keeps the envelope at 0, so the tone sections keep their e = 0 design.
    TapeStage quiet;
    const double initialShelfA1 = quiet.postFilters[2].coefficients.a1;
    for (int n = 0; n < 10000; ++n)
        quiet.processTapeSample(0.0, 10.0, nullptr, nullptr);
    EXPECT_EQ(quiet.envelope, 0.0);
    EXPECT_EQ(quiet.postFilters[2].coefficients.a1, initialShelfA1);
}

TEST(TapeStage, ClipperKneesAndLimits)
{
    const TapeStage stage;
    for (double q : {-0.25, -0.1, 0.0, 0.25})
        EXPECT_EQ(stage.softClip(q), q);
    EXPECT_DOUBLE_EQ(stage.softClip(0.5), 0.4375);
    EXPECT_DOUBLE_EQ(stage.softClip(-0.5), -0.4375);
    EXPECT_NEAR(stage.softClip(1e9), 1.0, 1e-8);
    EXPECT_NEAR(stage.softClip(-1e9), -1.0, 1e-8);
    const double h = 1e-6; // slope 1 on both sides of each knee
    for (double knee : {-0.25, 0.25}) {
        EXPECT_NEAR((stage.softClip(knee + h) - stage.softClip(knee)) / h, 1.0, 1e-5);
        EXPECT_NEAR((stage.softClip(knee) - stage.softClip(knee - h)) / h, 1.0, 1e-5);
    }

    // Through the whole stage, huge inputs keep the clipped signal within the output gain.
    TapeStage driven;
    double clipped = 0;
    for (int n = 0; n < 2000; ++n) {
        const double out = driven.processTapeSample(n % 2 ? 1e6 : -1e6, 10.0, nullptr, &clipped);
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
    TapeStage stage;
    EXPECT_EQ(stage.redesignPeriod, 220.5);
    for (int n = 0; n < 1000; ++n)
        stage.processTapeSample(0.5 * std::sin(0.05 * n), 4.0, nullptr, nullptr);
    const BiquadSection peak = stage.postFilters[1], shelf = stage.postFilters[2];
    ASSERT_NE(peak.w1, 0.0);

    stage.setStageRate(768000.0);
    EXPECT_NEAR(stage.attackCoeff, 0.012936, 1e-6);
    EXPECT_NEAR(stage.releaseCoeff, 0.0000651, 1e-7);
    EXPECT_EQ(stage.redesignPeriod, 3840.0);
    for (const BiquadSection* fixed :
         {&stage.preFilters[0], &stage.preFilters[1], &stage.preFilters[2], &stage.postFilters[0]})
        EXPECT_TRUE(fixed->w1 == 0.0 && fixed->w2 == 0.0);
    EXPECT_TRUE(stage.postFilters[1].w1 == peak.w1 && stage.postFilters[1].w2 == peak.w2);
    EXPECT_TRUE(stage.postFilters[2].w1 == shelf.w1 && stage.postFilters[2].w2 == shelf.w2);

    // The fixed sections at both ends of the rate range (|H| = Q at a resonant corner).
    for (double rate : {44100.0, 768000.0}) {
        stage.setStageRate(rate);
        EXPECT_NEAR(sectionGainDb(stage.preFilters[0], 19, rate), 20 * std::log10(1.08), 1e-3);
        EXPECT_LT(sectionGainDb(stage.preFilters[0], 4, rate), -20.0);
        EXPECT_NEAR(sectionGainDb(stage.preFilters[1], 55, rate), -4.0, 1e-3);
        EXPECT_NEAR(sectionGainDb(stage.preFilters[2], 59, rate), 4.2, 1e-3);
        EXPECT_NEAR(sectionGainDb(stage.postFilters[0], 1000, rate), 0.0, 0.01);
    }
    EXPECT_NEAR(sectionGainDb(stage.postFilters[0], 20000, 768000.0), 20 * std::log10(0.86), 0.01);
}

// Non-finite input must not trap or crash. (It does poison the envelope and
// the section memories for good, which is why the engine keeps such samples
// out of the chain.)
TEST(TapeStage, NonFiniteInputDoesNotCrash)
{
    TapeStage stage;
    const double inf = std::numeric_limits<double>::infinity();
    for (double x : {std::numeric_limits<double>::quiet_NaN(), inf, -inf}) {
        double preClip = 123.0, clipped = 123.0;
        stage.processTapeSample(x, 5.0, &preClip, &clipped);
        EXPECT_TRUE(preClip != 123.0 && clipped != 123.0);
    }
    for (int n = 0; n < 1000; ++n)
        stage.processTapeSample(0.1, 5.0, nullptr, nullptr);
}
