// Whole-effect speed: processReplacing per host frame for every mode at 1x
// and 16x, bypass, in each channel layout; and the update that a rate change
// triggers. The
// counter "xRealtime" is how many times faster than realtime at 44.1 kHz
// (Google Benchmark prints it with a "/s" suffix; read it as a plain ratio).
#include "host/BoosterEffect.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

VstIntPtr VSTCALLBACK benchHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

constexpr int kBlock = 512;
constexpr double kHostRate = 44100.0;

// A guitar-like test signal: a decaying 110 Hz tone with harmonics at -12 dBFS peak.
std::vector<float> testSignal(double phaseOffset)
{
    std::vector<float> signal(kBlock);
    for (int i = 0; i < kBlock; ++i) {
        const double t = i / kHostRate;
        const double phase = 2.0 * 3.141592653589793 * 110.0 * t + phaseOffset;
        signal[static_cast<std::size_t>(i)] =
            static_cast<float>(0.25 * (std::sin(phase) + 0.4 * std::sin(2 * phase) + 0.2 * std::sin(3 * phase)));
    }
    return signal;
}

// Arguments: mode step (0..3, or -1 for bypass), oversampling (1 or 16),
// layout (2 stereo; 1 mono: "Channels" 1 with both buffers, as the factory
// programs run; 0 single: one input and one output buffer).
void processLayout(benchmark::State& state)
{
    BoosterEffect effect(benchHost);
    effect.setSampleRate(static_cast<float>(kHostRate));
    effect.setBlockSize(kBlock);
    const int mode = static_cast<int>(state.range(0));
    const int layout = static_cast<int>(state.range(2));
    effect.setParameter(kEnable, mode < 0 ? 0.0f : 1.0f);
    effect.setParameter(kMode, mode < 0 ? 0.0f : (static_cast<float>(mode) + 0.5f) / 4.0f);
    effect.setParameter(kOversample, state.range(1) == 16 ? 1.0f : 0.0f);
    effect.setParameter(kCharacter, 4.5f / 6.0f); // "Fat": two active sections
    effect.setParameter(kDrive, 1.0f);
    effect.setParameter(kChannels, layout == 2 ? 1.0f : 0.0f);

    std::vector<float> left = testSignal(0.0), right = testSignal(0.3);
    std::vector<float> outLeft(kBlock), outRight(kBlock);
    float* inputs[2] = {left.data(), layout == 0 ? nullptr : right.data()};
    float* outputs[2] = {outLeft.data(), layout == 0 ? nullptr : outRight.data()};
    effect.processReplacing(inputs, outputs, kBlock); // takes the parameters

    for (auto _ : state) {
        effect.processReplacing(inputs, outputs, kBlock);
        benchmark::DoNotOptimize(outLeft.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
    state.counters["xRealtime"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kBlock / kHostRate, benchmark::Counter::kIsRate);
}
BENCHMARK(processLayout)
    ->ArgNames({"mode", "os", "layout"})
    ->Args({-1, 1, 2})
    ->ArgsProduct({{0, 1, 2, 3}, {1, 16}, {2, 1, 0}})
    ->Unit(benchmark::kMicrosecond);

// What a rate change costs inside the next audio callback once the host has
// set the rate: the chain moves to tables solved beforehand.
void rateChangeUpdate(benchmark::State& state)
{
    ProcessingEngine engine;
    const auto prepared = std::make_unique<const PreparedTriodeTables>(kHostRate);
    const double factor = static_cast<double>(state.range(0));
    ProcessingEngine* const escaped = &engine;
    benchmark::DoNotOptimize(escaped);
    for (auto _ : state) {
        escaped->setChainRate(kHostRate, factor, prepared.get());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(rateChangeUpdate)->ArgName("os")->Arg(1)->Arg(16)->Unit(benchmark::kMicrosecond);

} // namespace
