#include "dsp/TriodeStage.h"

#include <gtest/gtest.h>

TEST(TriodeStageTables, RebuildMatchesReferenceValuesAtBothRates)
{
    struct Reference {
        double rate, thresholdShift, cathodeDecay, cathodeInputShift;
    };
    for (const Reference& ref :
         {Reference{768000.0, 1.2162, -0.000592, -1.2050}, Reference{48000.0, 1.2058, -0.00938, -1.1944}}) {
        TriodeStage stage;
        stage.stageRate = ref.rate;
        stage.rebuildTables();
        if (ref.rate == 768000.0) {
            EXPECT_NEAR(stage.thresholdLow, -23.26, 0.005);
            EXPECT_NEAR(stage.thresholdHigh, 13.23, 0.005);
        }
        EXPECT_NEAR(stage.thresholdShift, ref.thresholdShift, 0.00005) << ref.rate;
        EXPECT_NEAR(stage.cathodeDecay, ref.cathodeDecay, 0.001 * -ref.cathodeDecay) << ref.rate;
        EXPECT_NEAR(stage.cathodeInputShift, ref.cathodeInputShift, 0.00005) << ref.rate;
        EXPECT_NEAR(stage.restOutput, 210.18, 0.005) << ref.rate;
        EXPECT_NEAR(stage.plateTableLow[0], 341.46, 0.005) << ref.rate;
        EXPECT_NEAR(stage.plateTableHigh[0], 341.46, 0.005) << ref.rate;

        // About 2040 solves, warm starts keeping them near 3.3 iterations each.
        EXPECT_NEAR(stage.rebuildSolveCount, 2040, 5);
        EXPECT_NEAR(double(stage.rebuildIterationCount) / stage.rebuildSolveCount, 3.3, 0.05);

        // The plate falls and the cathode rises as the input rises.
        for (int j = 1; j < TriodeStage::tableSize; ++j) {
            ASSERT_LE(stage.plateTableLow[j], stage.plateTableLow[j - 1]) << j;
            ASSERT_LE(stage.plateTableHigh[j], stage.plateTableHigh[j - 1]) << j;
            ASSERT_GE(stage.cathodeStepTable[j], stage.cathodeStepTable[j - 1]) << j;
        }
        EXPECT_LT(stage.plateTableLow[TriodeStage::lastTableIndex], 150.0);
    }
}

TEST(TriodeStageTables, RebuildRepeatsExactly)
{
    TriodeStage stage;
    stage.stageRate = 96000.0;
    stage.rebuildTables();
    const TriodeStage first = stage;
    stage.rebuildTables();
    EXPECT_EQ(stage.plateTableLow, first.plateTableLow);
    EXPECT_EQ(stage.plateTableHigh, first.plateTableHigh);
    EXPECT_EQ(stage.cathodeStepTable, first.cathodeStepTable);
    EXPECT_EQ(stage.restOutput, first.restOutput);
}

namespace {

// The tables are a function of the rate and the circuit alone.
TEST(TriodeStageTables, RebuildingAKnownRateGivesTheSameTablesAndANewCircuitNewOnes)
{
    TriodeStage stage;
    stage.stageRate = 44100.0;
    stage.rebuildTables();
    const TriodeStage::Table low = stage.plateTableLow;
    const TriodeStage::Table step = stage.cathodeStepTable;
    const double rest = stage.restOutput;
    stage.stageRate = 705600.0;
    stage.rebuildTables();
    EXPECT_NE(stage.cathodeStepTable, step);
    stage.stageRate = 44100.0;
    stage.rebuildTables();
    EXPECT_EQ(stage.plateTableLow, low);
    EXPECT_EQ(stage.cathodeStepTable, step);
    EXPECT_EQ(stage.restOutput, rest);

    TriodeStage fresh;
    fresh.stageRate = 44100.0;
    fresh.circuit.supplyVoltage = 300.0;
    fresh.rebuildTables();
    stage.circuit.supplyVoltage = 300.0;
    stage.rebuildTables();
    EXPECT_EQ(stage.plateTableLow, fresh.plateTableLow);
    EXPECT_NE(stage.plateTableLow, low);
}

} // namespace
