#include "dsp/CharacterEq.h"
#include "dsp/TapeStage.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

// A plucked-string-like test signal: a decaying 110 Hz tone with harmonics,
// re-plucked every 0.5 s, so the envelope and the redesigns keep moving.
std::vector<double> guitarLikeSignal(double rate, size_t length)
{
    std::vector<double> signal(length);
    const double step = 6.283185307179586 * 110.0 / rate;
    const size_t pluckPeriod = static_cast<size_t>(rate * 0.5);
    for (size_t n = 0; n < length; ++n) {
        const double t = static_cast<double>(n % pluckPeriod) / rate;
        const double phase = step * static_cast<double>(n);
        signal[n] =
            0.6 * std::exp(-4.0 * t) * (std::sin(phase) + 0.5 * std::sin(2 * phase) + 0.25 * std::sin(3 * phase));
    }
    return signal;
}

// One tape-stage sample per item, with both display values taken as the engine does.
void processTapeSample(benchmark::State& state)
{
    const double rate = static_cast<double>(state.range(0));
    const std::vector<double> input = guitarLikeSignal(rate, static_cast<size_t>(rate));
    const TapeDesign design = designTapeStage(rate);
    TapeStage stage;
    stage.takeDesign(design);
    double preClip = 0, clipped = 0, sum = 0;
    size_t n = 0;
    for (auto _ : state) {
        sum += stage.processTapeSample(design, input[n], 5.0, &preClip, &clipped);
        n = n + 1 < input.size() ? n + 1 : 0;
        benchmark::DoNotOptimize(preClip);
        benchmark::DoNotOptimize(clipped);
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(processTapeSample)->Arg(44100)->Arg(705600);

void designCharacterEqFatOversampled(benchmark::State& state)
{
    double amount = 0.0;
    for (auto _ : state) {
        CharacterEqDesign design = designCharacterEq(4, amount, 16 * 44100.0);
        benchmark::DoNotOptimize(design);
        amount = amount < 1.0 ? amount + 0.001 : 0.0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(designCharacterEqFatOversampled);

void tapeToneDesign(benchmark::State& state)
{
    double envelope = 0.0;
    for (auto _ : state) {
        const TapeTone tone = designTapeTone(envelope, 44100.0);
        benchmark::DoNotOptimize(tone.shelf.b0);
        envelope = envelope < 7.0 ? envelope + 0.01 : 0.0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(tapeToneDesign);

} // namespace
