// The triode tables are built where the rate is set and handed to the engine
// by pointer; moving the chain between the two factors afterwards only
// switches between ready tables, and nothing on the engine's side solves or
// copies them.
#include "engine/ProcessingEngine.h"
#include "support/SharedTriodeTables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <type_traits>

namespace {

static_assert(!std::is_copy_constructible_v<TriodeTables> && !std::is_copy_assignable_v<TriodeTables>,
              "triode tables are handed over, never copied");
static_assert(!std::is_copy_constructible_v<PreparedTriodeTables>, "a prepared set is handed over, never copied");

// A tube-mode run of a steady input; gives the last output.
double tubeRun(ProcessingEngine& engine, double input)
{
    SampleRecord record{};
    for (int i = 0; i < 300; ++i) {
        record = SampleRecord{input, 0.0, 0, 0.0, 0.0, 0.0, 0.0};
        engine.processSample(record);
    }
    return record.output;
}

TEST(EngineRateTables, FactorSwitchesTakeTheHandedTablesAndAnUnpreparedRateRunsBypassed)
{
    // Tables from a circuit with a lower supply, so that they are told apart
    // from any the engine could have solved for the default circuit.
    TriodeCircuit lowSupply;
    lowSupply.supplyVoltage = 300.0;
    const auto prepared = std::make_unique<const PreparedTriodeTables>(96000.0, lowSupply);
    ASSERT_EQ(prepared->forFactor(16.0).stageRate(), 96000.0 * 16.0);

    const long buildsBefore = TriodeTables::buildsOnThisThread();
    auto engine = std::make_unique<ProcessingEngine>();
    engine->setEnabled(true);
    engine->setMode(kModeTube);
    EXPECT_TRUE(engine->needsTriodeTables()); // nothing handed in yet

    engine->setChainRate(96000.0, 16.0, prepared.get());
    for (double factor : {1.0, 16.0, 1.0, 16.0}) {
        engine->setChainRate(96000.0, factor, nullptr); // the set it holds serves both factors
        ASSERT_FALSE(engine->needsTriodeTables());
        EXPECT_EQ(engine->tubeDesign()->stageRate(), 96000.0 * factor);
        EXPECT_EQ(engine->tubeDesign()->circuit().supplyVoltage, 300.0);
        EXPECT_EQ(engine->tubeDesign()->plateTableLow(), prepared->forFactor(factor).plateTableLow()) << factor;
    }
    EXPECT_NE(tubeRun(*engine, 0.5), 0.5);

    // A rate nobody prepared: the chain passes its input through rather
    // than solving, until a set for the rate arrives.
    engine->setChainRate(44100.0, 16.0, prepared.get());
    EXPECT_TRUE(engine->needsTriodeTables());
    EXPECT_EQ(tubeRun(*engine, 0.5), 0.5);
    EXPECT_EQ(TriodeTables::buildsOnThisThread(), buildsBefore);

    const PreparedTriodeTables& host = sharedTriodeTables(44100.0);
    engine->setChainRate(44100.0, 16.0, &host);
    EXPECT_FALSE(engine->needsTriodeTables());
    EXPECT_EQ(engine->tubeDesign()->circuit().supplyVoltage, 350.0);
    EXPECT_NEAR(engine->tubeDesign()->restOutput(), 210.18, 0.005);
    const double shaped = tubeRun(*engine, 0.5);
    EXPECT_TRUE(std::isfinite(shaped));
    EXPECT_NE(shaped, 0.5);
}

} // namespace
