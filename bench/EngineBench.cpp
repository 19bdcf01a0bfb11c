// Whole-effect speed: processReplacing per stereo host frame for every mode
// at 1x and 16x, bypass; the engine's stereo frame in the scalar and the
// paired order; and the update that a rate change triggers. The
// counter "xRealtime" is how many times faster than realtime at 44.1 kHz
// (Google Benchmark prints it with a "/s" suffix; read it as a plain ratio).
#include "effect/BoosterEffect.h"

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

// Arguments: mode step (0..3, or -1 for bypass), oversampling (1 or 16).
void processStereo(benchmark::State& state)
{
    BoosterEffect effect(benchHost);
    effect.setSampleRate(static_cast<float>(kHostRate));
    effect.setBlockSize(kBlock);
    const int mode = static_cast<int>(state.range(0));
    effect.setParameter(kEnable, mode < 0 ? 0.0f : 1.0f);
    effect.setParameter(kMode, mode < 0 ? 0.0f : (static_cast<float>(mode) + 0.5f) / 4.0f);
    effect.setParameter(kOversample, state.range(1) == 16 ? 1.0f : 0.0f);
    effect.setParameter(kCharacter, 4.5f / 6.0f); // "Fat": two active sections
    effect.setParameter(kDrive, 1.0f);
    effect.setParameter(kChannels, 1.0f);

    std::vector<float> left = testSignal(0.0), right = testSignal(0.3);
    std::vector<float> outLeft(kBlock), outRight(kBlock);
    float* inputs[2] = {left.data(), right.data()};
    float* outputs[2] = {outLeft.data(), outRight.data()};
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
BENCHMARK(processStereo)
    ->ArgNames({"mode", "os"})
    ->Args({-1, 1})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({2, 1})
    ->Args({3, 1})
    ->Args({0, 16})
    ->Args({1, 16})
    ->Args({2, 16})
    ->Args({3, 16})
    ->Unit(benchmark::kMicrosecond);

// The engine alone, one stereo frame per item, in both orders of work: the
// scalar reference (processSample for the left, then the right channel) and
// the paired frame (processStereoFrame), which give identical results.
// Arguments: mode step (0..3), oversampling (1 or 16), paired (0 or 1).
void engineStereoFrames(benchmark::State& state)
{
    auto engine = std::make_unique<ProcessingEngine>();
    engine->sampleRate = kHostRate;
    engine->oversampling = static_cast<double>(state.range(1));
    engine->enabled = 1;
    engine->saturationMode = static_cast<std::int32_t>(state.range(0));
    engine->characterIndex = 4; // "Fat": two active sections
    engine->amount = 0.5;
    engine->updateCoefficients(true);
    const bool paired = state.range(2) != 0;

    const std::vector<float> left = testSignal(0.0), right = testSignal(0.3);
    double sink = 0.0;
    for (auto _ : state) {
        for (int i = 0; i < kBlock; ++i) {
            SampleRecord leftRecord{left[static_cast<std::size_t>(i)], 0.0, 0, 0.0, 0.0, 0.0, 0.0};
            SampleRecord rightRecord{right[static_cast<std::size_t>(i)], 0.0, 1, 0.0, 0.0, 0.0, 0.0};
            if (paired) {
                engine->processStereoFrame(leftRecord, rightRecord);
            } else {
                engine->processSample(leftRecord);
                engine->processSample(rightRecord);
            }
            sink += leftRecord.output + rightRecord.output;
        }
        benchmark::DoNotOptimize(sink);
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
    state.counters["xRealtime"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kBlock / kHostRate, benchmark::Counter::kIsRate);
}
BENCHMARK(engineStereoFrames)
    ->ArgNames({"mode", "os", "paired"})
    ->ArgsProduct({{0, 1, 2, 3}, {1, 16}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

// What a rate change costs inside the next audio callback.
void rateChangeUpdate(benchmark::State& state)
{
    ProcessingEngine engine;
    engine.sampleRate = kHostRate;
    engine.oversampling = static_cast<double>(state.range(0));
    for (auto _ : state) {
        engine.updateCoefficients(true);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(rateChangeUpdate)->ArgName("os")->Arg(1)->Arg(16)->Unit(benchmark::kMicrosecond);

} // namespace
