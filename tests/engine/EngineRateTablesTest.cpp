// The triode tables are solved where the rate is set; moving the chain
// between the two factors afterwards only switches between ready tables.
#include "engine/ProcessingEngine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

TEST(EngineRateTables, FactorSwitchesUseThePreparedTablesAndAnUnpreparedRateIsSolved)
{
    // Tables from a circuit with a lower supply: a solve on the spot (always
    // for the default circuit) would give different ones, so equality below
    // shows that no switch solved anything.
    auto prepared = std::make_unique<PreparedTriodeTables>();
    for (TriodeStage& tables : prepared->byFactor)
        tables.circuit.supplyVoltage = 300.0;
    prepared->prepare(96000.0);
    ASSERT_EQ(prepared->byFactor[1].stageRate, 96000.0 * 16.0);

    auto engine = std::make_unique<ProcessingEngine>();
    engine->setChainRate(96000.0, 16.0, prepared.get());
    for (double factor : {1.0, 16.0, 1.0, 16.0}) {
        engine->setChainRate(96000.0, factor, nullptr);
        const TriodeStage& expected = prepared->byFactor[factor == 1.0 ? 0 : 1];
        EXPECT_EQ(engine->tubeDesign().stageRate, 96000.0 * factor);
        EXPECT_EQ(engine->tubeDesign().plateTableLow, expected.plateTableLow) << factor;
        EXPECT_EQ(engine->tubeDesign().restOutput, expected.restOutput) << factor;
    }

    // A rate nobody prepared still gets working tables, for the default circuit.
    engine->setChainRate(44100.0, 16.0, prepared.get());
    EXPECT_TRUE(engine->tubeDesign().builtFor(44100.0 * 16.0));
    EXPECT_EQ(engine->tubeDesign().circuit.supplyVoltage, 350.0);
    EXPECT_NEAR(engine->tubeDesign().restOutput, 210.18, 0.005);
    SampleRecord record{0.5, 0.0, 0, 0.0, 0.0, 0.0, 0.0};
    engine->setEnabled(true);
    engine->setMode(kModeTube);
    for (int i = 0; i < 64; ++i)
        engine->processSample(record);
    EXPECT_TRUE(std::isfinite(record.output));
    EXPECT_NE(record.tubeY, 0.0);
}

} // namespace
