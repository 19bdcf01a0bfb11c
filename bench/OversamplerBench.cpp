// Cost of the 16x oversampler per host sample (per stereo frame in the last
// case). One host sample at 44.1 kHz lasts 22676 ns; the xRealtime counter is
// that divided by the CPU time per iteration (a plain ratio, although the
// library labels rates with "/s").

#include "engine/Oversampler.h"

#include <benchmark/benchmark.h>

#include <cstdint>

namespace {

constexpr double realtimeNsPer44k1Sample = 1.0e9 / 44100.0;

// A cheap, data-dependent input so that nothing folds to a constant.
class InputSignal {
public:
    double next()
    {
        state = state * 1664525u + 1013904223u;
        return double(state) * (1.0 / 4294967296.0) - 0.5;
    }

private:
    std::uint32_t state = 1;
};

// One iteration handles one host sample (or stereo frame).
void reportRealtime(benchmark::State& state)
{
    state.SetItemsProcessed(std::int64_t(state.iterations()));
    state.counters["xRealtime"] =
        benchmark::Counter(double(state.iterations()) * realtimeNsPer44k1Sample * 1.0e-9, benchmark::Counter::kIsRate);
}

void BM_Upsample16(benchmark::State& state)
{
    Oversampler upsampler;
    InputSignal input;
    double subSamples[Oversampler::factor];
    for (auto _ : state) {
        upsampler.upsample16(input.next(), subSamples);
        benchmark::DoNotOptimize(subSamples);
        benchmark::ClobberMemory();
    }
    reportRealtime(state);
}
BENCHMARK(BM_Upsample16);

void BM_Downsample16(benchmark::State& state)
{
    Oversampler downsampler;
    InputSignal input;
    double subSamples[Oversampler::factor];
    for (double& subSample : subSamples)
        subSample = input.next();
    for (auto _ : state) {
        subSamples[0] = input.next();
        benchmark::DoNotOptimize(downsampler.downsample16(subSamples));
    }
    reportRealtime(state);
}
BENCHMARK(BM_Downsample16);

// What the engine pays per host sample and channel with an empty chain:
// one interpolation and one decimation.
void BM_UpsampleThenDownsample16(benchmark::State& state)
{
    Oversampler upsampler;
    Oversampler downsampler;
    InputSignal input;
    double subSamples[Oversampler::factor];
    for (auto _ : state) {
        upsampler.upsample16(input.next(), subSamples);
        benchmark::DoNotOptimize(downsampler.downsample16(subSamples));
    }
    reportRealtime(state);
}
BENCHMARK(BM_UpsampleThenDownsample16);

// Per stereo frame: both channels' interpolators and decimators.
void BM_StereoFrameUpsampleThenDownsample16(benchmark::State& state)
{
    Oversampler upsamplers[2];
    Oversampler downsamplers[2];
    InputSignal input;
    double subSamples[Oversampler::factor];
    for (auto _ : state) {
        for (int channel = 0; channel < 2; ++channel) {
            upsamplers[channel].upsample16(input.next(), subSamples);
            benchmark::DoNotOptimize(downsamplers[channel].downsample16(subSamples));
        }
    }
    reportRealtime(state);
}
BENCHMARK(BM_StereoFrameUpsampleThenDownsample16);

} // namespace
