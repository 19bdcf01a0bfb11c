#include "dsp/TriodeStage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {
// One build per rate for the whole file: each costs about a millisecond.
const TriodeTables& stageAt(double rate)
{
    static const TriodeTables host(48000.0), oversampled(768000.0);
    return rate == 48000.0 ? host : oversampled;
}

NodeVoltages atRest()
{
    return NodeVoltages{0.0, 0.0, TriodeTables::restCathodeVoltage};
}

struct SineRun {
    double outputRms, meanCathode, correlation;
};

// A 1 kHz sine of the given peak volts for 0.2 s; the second half is measured.
SineRun runSine(const TriodeTables& stage, double amplitude)
{
    NodeVoltages nodes = atRest();
    const int total = static_cast<int>(stage.stageRate() * 0.2);
    double squares = 0.0, cathodes = 0.0, cross = 0.0, inputSquares = 0.0;
    for (int i = 0; i < total; ++i) {
        const double u = amplitude * std::sin(2.0 * 3.14159265358979 * 1000.0 * i / stage.stageRate());
        const double y = stage.shapeSample(u, nodes) - stage.restOutput();
        if (i >= total / 2) {
            squares += y * y;
            cathodes += nodes.cathode;
            cross += u * y;
            inputSquares += u * u;
        }
    }
    const double count = total - total / 2;
    return {std::sqrt(squares / count), cathodes / count, cross / std::sqrt(squares * inputSquares)};
}
} // namespace

TEST(TriodeStageShaping, RestsAtRestOutputAndHoldsTheCathodeInSilence)
{
    for (double rate : {48000.0, 768000.0}) {
        const TriodeTables& stage = stageAt(rate);
        NodeVoltages nodes = atRest();
        EXPECT_NEAR(stage.shapeSample(0.0, nodes), stage.restOutput(), 1e-9);
        double largestDeviation = 0.0;
        for (int i = 0; i < static_cast<int>(rate * 0.05); ++i) {
            largestDeviation =
                std::fmax(largestDeviation, std::fabs(stage.shapeSample(0.0, nodes) - stage.restOutput()));
            ASSERT_NEAR(nodes.cathode, TriodeTables::restCathodeVoltage, 0.005);
        }
        EXPECT_NEAR(nodes.cathode, 1.349, 0.0005);
        EXPECT_LT(largestDeviation, 0.115);
        const double output = stage.shapeSample(0.0, nodes);
        EXPECT_EQ(nodes.plate, output);
    }
}

TEST(TriodeStageShaping, GridPointsAndEndsReadStoredValues)
{
    const TriodeTables& stage = stageAt(48000.0);
    const TriodeTables::Table& table = stage.plateTableLow();
    for (int j = 0; j < TriodeTables::tableSize; ++j)
        ASSERT_EQ(TriodeTables::readTable(table, j / 512.0), table[j]) << j;
    EXPECT_EQ(TriodeTables::readTable(table, -3.0), table[0]);
    EXPECT_EQ(TriodeTables::readTable(table, 7.0), table[512]);

    // With the cathode at +-15 V only one plate table counts.
    NodeVoltages high{0.0, 0.0, 15.0}, low{0.0, 0.0, -15.0};
    EXPECT_EQ(stage.shapeSample(1e6, high), stage.plateTableHigh()[512]);
    EXPECT_EQ(stage.shapeSample(-1e6, low), stage.plateTableLow()[0]);
    EXPECT_NEAR(low.plate, 341.46, 0.005);
    for (int j : {0, 100, 256, 400, 511}) {
        NodeVoltages nodes{0.0, 0.0, 15.0};
        const double node = 150.0 * j / 512 - 150.0 * (512 - j) / 512;
        EXPECT_NEAR(stage.shapeSample(node + 15.0 * stage.thresholdShift(), nodes), stage.plateTableHigh()[j], 1e-9);
    }

    // Between nodes the cubic reproduces a quadratic exactly.
    TriodeTables::Table quadratic;
    for (int j = 0; j < TriodeTables::tableSize; ++j)
        quadratic[j] = 3.0 - 0.5 * j + 0.002 * j * j;
    for (double t = 1.0; t < 511.0; t += 0.37)
        ASSERT_NEAR(TriodeTables::readTable(quadratic, t / 512.0), 3.0 - 0.5 * t + 0.002 * t * t, 1e-9) << t;
}

TEST(TriodeStageShaping, InvertsAndSaturatesAlikeAtBothRates)
{
    for (double amplitude : {1.0, 10.0}) {
        const SineRun slow = runSine(stageAt(48000.0), amplitude);
        const SineRun fast = runSine(stageAt(768000.0), amplitude);
        EXPECT_NEAR(slow.outputRms, fast.outputRms, 0.01 * fast.outputRms) << amplitude;
        EXPECT_NEAR(slow.meanCathode, fast.meanCathode, 0.005) << amplitude;
        EXPECT_LT(slow.correlation, -0.9) << amplitude;
        EXPECT_LT(fast.correlation, -0.9) << amplitude;
    }
    // A small signal is amplified; a large one is squashed and biases the cathode up.
    const SineRun quiet = runSine(stageAt(48000.0), 0.1);
    const SineRun loud = runSine(stageAt(48000.0), 10.0);
    EXPECT_GT(quiet.outputRms, 20.0 * 0.1 / std::sqrt(2.0));
    EXPECT_LT(loud.outputRms, 0.5 * 100.0 * quiet.outputRms);
    EXPECT_GT(loud.meanCathode, TriodeTables::restCathodeVoltage + 0.1);
}

TEST(TriodeStageShaping, NonFiniteInputStaysInsideTheTables)
{
    const TriodeTables& stage = stageAt(48000.0);
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (double bad : {nan, inf, -inf, 1e308, -1e308}) {
        NodeVoltages nodes = atRest();
        const double y = stage.shapeSample(bad, nodes);
        EXPECT_TRUE(std::isfinite(y) && y >= 0.0 && y <= 342.0) << bad;
        EXPECT_TRUE(std::isfinite(nodes.cathode)) << bad;
        for (int i = 0; i < 2000; ++i)
            stage.shapeSample(0.0, nodes);
        EXPECT_NEAR(nodes.cathode, 1.349, 0.01) << bad;
    }
    // A poisoned cathode is not repaired, but must not index outside the tables either.
    NodeVoltages poisoned{0.0, 0.0, nan}, runaway{0.0, 0.0, inf};
    stage.shapeSample(0.5, poisoned);
    stage.shapeSample(0.5, runaway);
}
