// The triode tables reach the chain by hand-over: the host's thread builds a
// set where it sets the rate, and the audio thread only takes a pointer to
// it, so neither automating "Oversample" nor a new rate makes the audio
// thread solve the circuit (and tables cannot be copied at all, see
// EngineRateTablesTest).
#include "effect/BoosterProcessor.h"
#include "reliability/AllocationCounter.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

constexpr int kFrames = 64;

struct Block {
    std::vector<float> left = std::vector<float>(kFrames, 0.3f);
    std::vector<float> right = std::vector<float>(kFrames, -0.2f);
    std::vector<float> outLeft = std::vector<float>(kFrames, 0.0f);
    std::vector<float> outRight = std::vector<float>(kFrames, 0.0f);

    void run(BoosterProcessor& processor)
    {
        float* inputs[2] = {left.data(), right.data()};
        float* outputs[2] = {outLeft.data(), outRight.data()};
        processor.process(inputs, outputs, kFrames);
    }
    bool passedThrough() const { return outLeft == left && outRight == right; }
};

void tubeMode(BoosterProcessor& processor)
{
    processor.setParameter(kEnable, 1.0f);
    processor.setParameter(kMode, (kModeTube + 0.5f) / 4.0f);
    processor.setParameter(kChannels, 1.0f);
}

// Runs `work` on a thread of its own, as a host's audio thread; gives the
// number of triode tables that thread built.
template <typename Work> long buildsOnAnAudioThread(Work work)
{
    long builds = -1;
    std::thread audio([&] {
        const long before = TriodeTables::buildsOnThisThread();
        work();
        builds = TriodeTables::buildsOnThisThread() - before;
    });
    audio.join();
    return builds;
}

TEST(TriodeTablesHandOver, TheAudioThreadSolvesNothingWhileOversampleIsAutomatedAndTheRateChanges)
{
    BoosterProcessor processor;
    tubeMode(processor);
    Block block;

    // The host sets rates while the audio thread runs, automating
    // "Oversample" at every call (hosts should suspend processing for a new
    // rate; the processor copes either way).
    std::thread host([&] {
        for (double rate : {48000.0, 96000.0, 44100.0, 192000.0, 48000.0})
            processor.setSampleRate(rate);
    });
    const long audioBuilds = buildsOnAnAudioThread([&] {
        for (int call = 0; call < 400; ++call) {
            processor.setParameter(kOversample, call % 2 == 0 ? 1.0f : 0.0f);
            block.run(processor);
        }
    });
    host.join();
    EXPECT_EQ(audioBuilds, 0);

    // Afterwards each factor runs on the last rate's tables, still without a solve.
    const ProcessingEngine& engine = processor.processingEngine();
    EXPECT_EQ(buildsOnAnAudioThread([&] {
                  for (float oversample : {1.0f, 0.0f, 1.0f}) {
                      processor.setParameter(kOversample, oversample);
                      block.run(processor);
                      ASSERT_NE(engine.tubeDesign(), nullptr);
                      EXPECT_EQ(engine.tubeDesign()->stageRate(), 48000.0 * engine.oversampling());
                      EXPECT_FALSE(block.passedThrough());
                  }
              }),
              0);
}

TEST(TriodeTablesHandOver, ARateWhoseTablesCouldNotBeBuiltRunsBypassedUntilTheHostBuildsThem)
{
    BoosterProcessor processor;
    tubeMode(processor);
    Block block;
    block.run(processor);
    ASSERT_FALSE(block.passedThrough());

    // Memory runs out for the new rate's tables: the rate is taken all the
    // same, and processing passes the signal through rather than solving.
    allocation::failAllocationsAbove(64 * 1024);
    const bool taken = processor.setSampleRate(96000.0);
    allocation::failAllocationsAbove(0);
    EXPECT_TRUE(taken);
    const ProcessingEngine& engine = processor.processingEngine();
    EXPECT_EQ(buildsOnAnAudioThread([&] {
                  block.run(processor);
                  block.run(processor);
              }),
              0);
    EXPECT_TRUE(engine.needsTriodeTables());
    EXPECT_EQ(engine.sampleRate(), 96000.0);
    EXPECT_TRUE(block.passedThrough());

    // The host's next call builds them, and the chain runs again.
    EXPECT_TRUE(processor.setBlockSize(kFrames));
    EXPECT_EQ(buildsOnAnAudioThread([&] { block.run(processor); }), 0);
    ASSERT_FALSE(engine.needsTriodeTables());
    EXPECT_EQ(engine.tubeDesign()->stageRate(), 96000.0);
    EXPECT_FALSE(block.passedThrough());
}

} // namespace
