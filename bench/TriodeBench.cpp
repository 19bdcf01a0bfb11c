#include "dsp/TriodeStage.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {
// A full table build, as the host's thread runs it when the rate is set.
void rebuildAtRate(benchmark::State& state, double stageRate)
{
    int round = 0;
    double iterationsPerSolve = 0.0;
    for (auto _ : state) {
        const auto stage = std::make_unique<const TriodeTables>(stageRate + 1e-6 * (++round % 3));
        benchmark::DoNotOptimize(stage->restOutput());
        benchmark::ClobberMemory();
        const TriodeTables::SweepReport& report = stage->sweepReport();
        iterationsPerSolve = static_cast<double>(report.iterationCount) / static_cast<double>(report.solveCount);
    }
    state.counters["iterationsPerSolve"] = iterationsPerSolve;
}

void BM_TriodeRebuildTables48k(benchmark::State& state)
{
    rebuildAtRate(state, 48000.0);
}

void BM_TriodeRebuildTables768k(benchmark::State& state)
{
    rebuildAtRate(state, 768000.0);
}

// Tables at 768 kHz, and a block of driven guitar-like input volts.
const TriodeTables& stageAt768k()
{
    static const TriodeTables stage(768000.0);
    return stage;
}

std::vector<double> guitarLikeVolts()
{
    std::vector<double> input(4096);
    for (std::size_t i = 0; i < input.size(); ++i)
        input[i] = 8.0 * std::sin(0.0123 * static_cast<double>(i)) + 3.0 * std::sin(0.071 * static_cast<double>(i));
    return input;
}

// One channel of a driven guitar-like signal, one shapeSample per item; the
// cathode recursion makes this a chain of dependent samples.
void BM_TriodeShapeSample(benchmark::State& state)
{
    const TriodeTables& stage = stageAt768k();
    const std::vector<double> input = guitarLikeVolts();
    const int blockLength = static_cast<int>(input.size());

    NodeVoltages nodes{175.0, 0.0, TriodeTables::restCathodeVoltage};
    for (auto _ : state) {
        double sum = 0.0;
        for (double u : input)
            sum += stage.shapeSample(u, nodes);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * blockLength);
}

// Two channels one after the other: the cathode recursions of the two
// records are independent and can overlap.
void BM_TriodeShapeSampleTwoChannels(benchmark::State& state)
{
    const TriodeTables& stage = stageAt768k();
    const std::vector<double> input = guitarLikeVolts();
    const int blockLength = static_cast<int>(input.size());

    NodeVoltages left{175.0, 0.0, TriodeTables::restCathodeVoltage};
    NodeVoltages right = left;
    for (auto _ : state) {
        double sum = 0.0;
        for (double u : input)
            sum += stage.shapeSample(u, left) + stage.shapeSample(-u, right);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * blockLength * 2);
}
} // namespace

BENCHMARK(BM_TriodeRebuildTables48k)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TriodeRebuildTables768k)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TriodeShapeSample)->Unit(benchmark::kMicrosecond);

BENCHMARK(BM_TriodeShapeSampleTwoChannels)->Unit(benchmark::kMicrosecond);
