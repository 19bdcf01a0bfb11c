#include "dsp/TriodeStage.h"

#include <gtest/gtest.h>

#include <memory>

TEST(TriodeStageTables, RebuildMatchesReferenceValuesAtBothRates)
{
    struct Reference {
        double rate, thresholdShift, cathodeDecay, cathodeInputShift;
    };
    for (const Reference& ref :
         {Reference{768000.0, 1.2162, -0.000592, -1.2050}, Reference{48000.0, 1.2058, -0.00938, -1.1944}}) {
        const auto stage = std::make_unique<const TriodeTables>(ref.rate);
        const TriodeTables::SweepReport& report = stage->sweepReport();
        if (ref.rate == 768000.0) {
            EXPECT_NEAR(report.thresholdLow, -23.26, 0.005);
            EXPECT_NEAR(report.thresholdHigh, 13.23, 0.005);
        }
        EXPECT_EQ(stage->stageRate(), ref.rate);
        EXPECT_NEAR(stage->thresholdShift(), ref.thresholdShift, 0.00005) << ref.rate;
        EXPECT_NEAR(stage->cathodeDecay(), ref.cathodeDecay, 0.001 * -ref.cathodeDecay) << ref.rate;
        EXPECT_NEAR(stage->cathodeInputShift(), ref.cathodeInputShift, 0.00005) << ref.rate;
        EXPECT_NEAR(stage->restOutput(), 210.18, 0.005) << ref.rate;
        EXPECT_NEAR(stage->plateTableLow()[0], 341.46, 0.005) << ref.rate;
        EXPECT_NEAR(stage->plateTableHigh()[0], 341.46, 0.005) << ref.rate;

        // About 2040 solves, warm starts keeping them near 3.3 iterations each.
        EXPECT_NEAR(report.solveCount, 2040, 5);
        EXPECT_NEAR(double(report.iterationCount) / report.solveCount, 3.3, 0.05);

        // The plate falls and the cathode rises as the input rises.
        for (int j = 1; j < TriodeTables::tableSize; ++j) {
            ASSERT_LE(stage->plateTableLow()[j], stage->plateTableLow()[j - 1]) << j;
            ASSERT_LE(stage->plateTableHigh()[j], stage->plateTableHigh()[j - 1]) << j;
            ASSERT_GE(stage->cathodeStepTable()[j], stage->cathodeStepTable()[j - 1]) << j;
        }
        EXPECT_LT(stage->plateTableLow()[TriodeTables::lastTableIndex], 150.0);
    }
}

TEST(TriodeStageTables, RebuildRepeatsExactly)
{
    const auto first = std::make_unique<const TriodeTables>(96000.0);
    const auto second = std::make_unique<const TriodeTables>(96000.0);
    EXPECT_EQ(second->plateTableLow(), first->plateTableLow());
    EXPECT_EQ(second->plateTableHigh(), first->plateTableHigh());
    EXPECT_EQ(second->cathodeStepTable(), first->cathodeStepTable());
    EXPECT_EQ(second->restOutput(), first->restOutput());
}

namespace {

// The tables are a function of the rate and the circuit alone.
TEST(TriodeStageTables, RebuildingAKnownRateGivesTheSameTablesAndANewCircuitNewOnes)
{
    const auto host = std::make_unique<const TriodeTables>(44100.0);
    const auto oversampled = std::make_unique<const TriodeTables>(705600.0);
    EXPECT_NE(oversampled->cathodeStepTable(), host->cathodeStepTable());
    const auto hostAgain = std::make_unique<const TriodeTables>(44100.0);
    EXPECT_EQ(hostAgain->plateTableLow(), host->plateTableLow());
    EXPECT_EQ(hostAgain->cathodeStepTable(), host->cathodeStepTable());
    EXPECT_EQ(hostAgain->restOutput(), host->restOutput());

    TriodeCircuit lowSupply;
    lowSupply.supplyVoltage = 300.0;
    const auto fresh = std::make_unique<const TriodeTables>(lowSupply, 44100.0);
    const auto freshAgain = std::make_unique<const TriodeTables>(lowSupply, 44100.0);
    EXPECT_EQ(freshAgain->plateTableLow(), fresh->plateTableLow());
    EXPECT_NE(fresh->plateTableLow(), host->plateTableLow());
    EXPECT_EQ(fresh->circuit().supplyVoltage, 300.0);
}

} // namespace
