// The same processing through the VST2 effect and the VST3 plug-in, side by
// side in one run: "TNT" at 16x in stereo, blocks of 512, with "Drive"
// automated once inside every block or not (VST2: the call split there with
// a setParameter between; VST3: one point at that offset). A format adds no
// per-sample work, so each pair should agree within noise. "xRealtime" as in
// EngineBench.
#include "host/BoosterEffect.h"
#include "vst3/Vst3Plugin.h"

#include "Vst3Instance.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

constexpr int kBlock = 512;
constexpr int kSplit = 200;
constexpr double kHostRate = 44100.0;

VstIntPtr VSTCALLBACK benchHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

struct Signal {
    std::vector<float> left, right, outLeft, outRight;
    float* inputs[2];
    float* outputs[2];
    Signal() : left(kBlock), right(kBlock), outLeft(kBlock), outRight(kBlock)
    {
        for (int i = 0; i < kBlock; ++i) {
            const double phase = 2.0 * 3.141592653589793 * 110.0 * i / kHostRate;
            left[static_cast<std::size_t>(i)] = static_cast<float>(0.25 * std::sin(phase));
            right[static_cast<std::size_t>(i)] = static_cast<float>(0.25 * std::sin(phase + 0.3));
        }
        inputs[0] = left.data();
        inputs[1] = right.data();
        outputs[0] = outLeft.data();
        outputs[1] = outRight.data();
    }
};

const std::pair<int, float> kSettings[] = {{kEnable, 1.0f}, {kMode, 1.0f},     {kOversample, 1.0f},
                                           {kDrive, 1.0f},  {kChannels, 1.0f}, {kCharacter, 4.5f / 6.0f}};

void finish(benchmark::State& state)
{
    state.SetItemsProcessed(state.iterations() * kBlock);
    state.counters["xRealtime"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kBlock / kHostRate, benchmark::Counter::kIsRate);
}

void formatVst2(benchmark::State& state)
{
    const bool automated = state.range(0) != 0;
    BoosterEffect effect(benchHost);
    effect.setSampleRate(static_cast<float>(kHostRate));
    effect.setBlockSize(kBlock);
    for (auto [index, value] : kSettings)
        effect.setParameter(index, value);
    Signal signal;
    effect.processReplacing(signal.inputs, signal.outputs, kBlock);
    float drive = 0.9f;
    for (auto _ : state) {
        if (automated) {
            effect.processReplacing(signal.inputs, signal.outputs, kSplit);
            float* in[2] = {signal.inputs[0] + kSplit, signal.inputs[1] + kSplit};
            float* out[2] = {signal.outputs[0] + kSplit, signal.outputs[1] + kSplit};
            drive = 1.9f - drive;
            effect.setParameter(kDrive, drive);
            effect.processReplacing(in, out, kBlock - kSplit);
        } else {
            effect.processReplacing(signal.inputs, signal.outputs, kBlock);
        }
        benchmark::DoNotOptimize(signal.outLeft.data());
        benchmark::ClobberMemory();
    }
    finish(state);
}
BENCHMARK(formatVst2)->ArgName("automated")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void formatVst3(benchmark::State& state)
{
    const bool automated = state.range(0) != 0;
    auto* plugin = new Vst3Plugin();
    vst3::ProcessSetup setup{vst3::kRealtime, vst3::kSample32, kBlock, kHostRate};
    plugin->setupProcessing(setup);
    plugin->setActive(1);
    plugin->setProcessing(1);
    for (auto [index, value] : kSettings)
        plugin->setParamNormalized(static_cast<vst3::ParamID>(index), value);
    Signal signal;
    vst3::AudioBusBuffers input{}, output{};
    input.numChannels = output.numChannels = 2;
    input.channelBuffers32 = signal.inputs;
    output.channelBuffers32 = signal.outputs;
    vst3host::ParameterChanges changes;
    vst3::ProcessData data{};
    data.processMode = vst3::kRealtime;
    data.symbolicSampleSize = vst3::kSample32;
    data.numSamples = kBlock;
    data.numInputs = data.numOutputs = 1;
    data.inputs = &input;
    data.outputs = &output;
    data.inputParameterChanges = &changes;
    plugin->process(data);
    double drive = 0.9;
    for (auto _ : state) {
        changes.clear();
        if (automated) {
            drive = 1.9 - drive;
            changes.add(kDrive, kSplit, drive);
        }
        plugin->process(data);
        benchmark::DoNotOptimize(signal.outLeft.data());
        benchmark::ClobberMemory();
    }
    plugin->release();
    finish(state);
}
BENCHMARK(formatVst3)->ArgName("automated")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace
