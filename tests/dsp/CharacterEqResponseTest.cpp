#include "dsp/CharacterEq.h"

#include "SineResponse.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

enum Shape { shrill, bright, tight, flat, fat, warm };

constexpr double hostRate = 44100.0;
constexpr double oversampledRate = 16 * 44100.0;

double cascadeGainDb(const CharacterEqDesign& d, double hz, double rate)
{
    return measureGainDb(SectionChain(d.sections, d.eqSectionCount, d.eqMakeupGain), hz, rate);
}

double slotGainDb(const CharacterEqDesign& d, int slot, double hz, double rate)
{
    return measureGainDb(SectionChain(&d.sections[slot], 1), hz, rate);
}

} // namespace

TEST(CharacterEq, EveryShapeIsFlatAtAmountZero)
{
    for (double rate : {hostRate, oversampledRate})
        for (int shape = shrill; shape <= warm; ++shape) {
            const CharacterEqDesign d = designCharacterEq(shape, 0.0, rate);
            EXPECT_EQ(d.eqMakeupGain, 1.0);
            if (shape == warm) {
                // Only the 18 kHz low-pass is left: flat below, |H| = Q = 1 at its corner.
                for (double hz : {30.0, 400.0, 18000.0})
                    EXPECT_NEAR(cascadeGainDb(d, hz, rate), 0.0, hz < 5000 ? 0.01 : 1e-3) << rate << " Hz rate, " << hz;
                continue;
            }
            for (double hz : {30.0, 400.0, 2400.0, 7000.0, 19000.0})
                EXPECT_NEAR(cascadeGainDb(d, hz, rate), 0.0, 1e-6) << "shape " << shape << " at " << hz;
        }
    EXPECT_EQ(designCharacterEq(flat, 1.0, hostRate).eqSectionCount, 0);
    EXPECT_EQ(designCharacterEq(flat, 1.0, hostRate).eqMakeupGain, 1.0);
}

// Defining points of each shape at half and full amount: peak and cut
// centres reach their gain, shelves half their gain at the corner, the
// resonant passes |H| = Q at theirs.
TEST(CharacterEq, ShapesHitTheirDefiningPoints)
{
    struct Point {
        int shape;
        double amount;
        int slot;
        double hz;
        double expectedDb;
    };
    const double tightCornerDb = 20 * std::log10(0.15);
    const Point points[] = {
        {shrill, 1.0, 0, 2400, -4.3},
        {shrill, 0.5, 1, 4000, 3.0},
        {bright, 1.0, 0, 1000, 4.1},
        {bright, 0.5, 0, 1000, 2.05},
        {fat, 0.5, 0, 900, 5.0},
        {fat, 1.0, 0, 1000, 10.0},
        {fat, 0.5, 1, 6000, 0.65},
        {warm, 1.0, 0, 400, 3.0},
        {warm, 1.0, 1, 1900, 0.0},
        {warm, 0.5, 1, 9950, 0.0},
        {tight, 1.0, -1, 50, tightCornerDb + 4},
        {tight, 1.0, -1, 5000, 4.0},
        {tight, 0.5, -1, 25, tightCornerDb + 2},
        {tight, 1.0, -1, 10, -28.3},
    };
    for (double rate : {hostRate, oversampledRate})
        for (const Point& p : points) {
            const CharacterEqDesign d = designCharacterEq(p.shape, p.amount, rate);
            const double measured = p.slot < 0 ? cascadeGainDb(d, p.hz, rate) : slotGainDb(d, p.slot, p.hz, rate);
            EXPECT_NEAR(measured, p.expectedDb, 0.05)
                << "shape " << p.shape << " amount " << p.amount << " at " << p.hz << " Hz, rate " << rate;
        }
}

TEST(CharacterEq, FatAtHalfPeaksNear900HzWithMakeupCut)
{
    for (double rate : {hostRate, oversampledRate}) {
        const CharacterEqDesign d = designCharacterEq(fat, 0.5, rate);
        double bestHz = 0, bestDb = -100;
        for (double hz = 600; hz <= 1300; hz += 10) {
            const double db = slotGainDb(d, 0, hz, rate);
            if (db > bestDb)
                bestDb = db, bestHz = hz;
        }
        EXPECT_NEAR(bestHz, 900, 10);
        EXPECT_NEAR(bestDb, 5.0, 0.01);
        EXPECT_NEAR(20 * std::log10(d.eqMakeupGain), -0.75, 1e-9);
        // The whole path: the peak, a trace of the shelf, the make-up cut.
        EXPECT_NEAR(cascadeGainDb(d, 900, rate), 4.25, 0.15);
    }
    // "Warm" at full amount really closes down above its 1900 Hz corner.
    EXPECT_LT(slotGainDb(designCharacterEq(warm, 1.0, hostRate), 1, 3800, hostRate), -10.0);
}

// At amount 0 (and amounts so small the corner is effectively 0 Hz) "Tight"
// must hand the input through untouched, without its memory integrating.
TEST(CharacterEq, TightAtZeroPassesInputWithoutGrowingMemory)
{
    for (double rate : {hostRate, oversampledRate})
        for (double amount : {0.0, 1e-12, 1e-8}) {
            const CharacterEqDesign design = designCharacterEq(tight, amount, rate);
            CharacterEqMemory channels[2]{};
            ASSERT_EQ(design.eqSectionCount, 1);
            const double makeup = design.eqMakeupGain;
            const long samples = static_cast<long>(10 * rate);
            long mismatches = 0;
            double largestMemory = 0;
            for (long n = 0; n < 2 * samples; ++n) {
                const double x = n < samples ? 1.0 : std::sin(0.01 * n); // 10 s of DC, then 10 s of sine
                for (CharacterEqMemory& memory : channels) {
                    mismatches += processBiquad(x, design.sections[0], memory[0]) * makeup != x * makeup;
                    largestMemory =
                        std::fmax(largestMemory, std::fmax(std::fabs(memory[0].w1), std::fabs(memory[0].w2)));
                }
            }
            EXPECT_EQ(mismatches, 0) << amount;
            EXPECT_LE(largestMemory, 1.0) << amount;
            EXPECT_NEAR(makeup, 1.0, 1e-6);
        }
}

TEST(CharacterEq, RedesignKeepsFirstChannelMemoryAndSharesItWithTheSecond)
{
    CharacterEqMemory first{}, second{};
    for (int i = 0; i < eqMaxActiveSections; ++i) {
        first[i] = {i + 1.0, i + 1.5};
        second[i] = {i + 10.0, i + 10.5};
    }
    const CharacterEqMemory firstBefore = first;
    shareFirstChannelMemory(designCharacterEq(fat, 0.7, hostRate), first, second);
    for (int slot = 0; slot < 2; ++slot) {
        EXPECT_EQ(first[slot].w1, firstBefore[slot].w1); // channel 0 keeps its memory
        EXPECT_EQ(second[slot].w1, first[slot].w1);      // channel 1 takes it over
        EXPECT_EQ(second[slot].w2, first[slot].w2);
    }

    // "Bright" has one active section: the second slot stays as it was.
    second[1] = {7.0, 8.0};
    shareFirstChannelMemory(designCharacterEq(bright, 0.7, hostRate), first, second);
    EXPECT_EQ(second[0].w2, first[0].w2);
    EXPECT_EQ(second[1].w1, 7.0);
    EXPECT_EQ(second[1].w2, 8.0);
}

// Host rates below 36 kHz put "Warm"'s 18 kHz corner past Nyquist, where the
// low-pass would be unstable; it runs as a pass-through there instead.
TEST(CharacterEq, CornersPastNyquistStayStable)
{
    for (double rate : {22050.0, 32000.0}) {
        const CharacterEqDesign d = designCharacterEq(warm, 0.0, rate);
        SectionChain chain(d.sections, d.eqSectionCount);
        double out = chain(1.0);
        for (int n = 0; n < 100000; ++n)
            out = chain(0.0);
        EXPECT_LT(std::fabs(out), 1e-12) << rate;
        EXPECT_NEAR(cascadeGainDb(d, 5000, rate), 0.0, 1e-6);
    }
}
