// The same processing through the VST2 effect, the VST3 plug-in and the CLAP
// plug-in (by its entry, in-process), side by side in one run: "TNT" at 16x
// in stereo, blocks of 512, with "Drive" automated once inside every block or
// not (VST2: the call split there with a setParameter between; VST3: one
// point at that offset; CLAP: one event there). A format adds no per-sample
// work, so each group should agree within noise. "xRealtime" as in
// EngineBench.
#include "format/FormatLayer.h"
#include "host/BoosterEffect.h"
#include "vst3/Vst3Plugin.h"

#include "ClapHost.h"
#include "Vst3Instance.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

extern "C" const clap_plugin_entry_t clap_entry;

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

// A CLAP host that offers no extensions and ignores requests, with the
// event lists a block needs.
const void* CLAP_ABI noExtension(const clap_host_t*, const char*)
{
    return nullptr;
}
void CLAP_ABI ignoreRequest(const clap_host_t*) {}
const clap_host_t kClapHost = {CLAP_VERSION_INIT, nullptr,       "bench",      "",           "", "1", noExtension,
                               ignoreRequest,     ignoreRequest, ignoreRequest};

struct ClapEvents {
    std::vector<clap_event_param_value_t> events;
    clap_input_events_t list{this, size, get};
    static std::uint32_t CLAP_ABI size(const clap_input_events_t* self)
    {
        return static_cast<std::uint32_t>(static_cast<const ClapEvents*>(self->ctx)->events.size());
    }
    static const clap_event_header_t* CLAP_ABI get(const clap_input_events_t* self, std::uint32_t index)
    {
        return &static_cast<const ClapEvents*>(self->ctx)->events[index].header;
    }
};

bool CLAP_ABI dropEvent(const clap_output_events_t*, const clap_event_header_t*)
{
    return true;
}
const clap_output_events_t kNoOutput = {nullptr, dropEvent};

void formatClap(benchmark::State& state)
{
    const bool automated = state.range(0) != 0;
    const auto* factory = static_cast<const clap_plugin_factory_t*>(clap_entry.get_factory(CLAP_PLUGIN_FACTORY_ID));
    const clap_plugin_t* plugin =
        factory->create_plugin(factory, &kClapHost, factory->get_plugin_descriptor(factory, 0)->id);
    plugin->init(plugin);
    const auto* params = static_cast<const clap_plugin_params_t*>(plugin->get_extension(plugin, CLAP_EXT_PARAMS));
    ClapEvents changes;
    for (auto [index, value] : kSettings)
        changes.events.push_back(clapParameterEvent(static_cast<clap_id>(index), displayUnitsOf(index, value)));
    params->flush(plugin, &changes.list, &kNoOutput);
    plugin->activate(plugin, kHostRate, 1, kBlock);
    plugin->start_processing(plugin);
    Signal signal;
    clap_audio_buffer_t input{signal.inputs, nullptr, 2, 0, 0};
    clap_audio_buffer_t output{signal.outputs, nullptr, 2, 0, 0};
    clap_process_t block{0, kBlock, nullptr, &input, &output, 1, 1, &changes.list, &kNoOutput};
    changes.events.clear();
    plugin->process(plugin, &block);
    double drive = 0.9;
    for (auto _ : state) {
        changes.events.clear();
        if (automated) {
            drive = 1.9 - drive;
            changes.events.push_back(clapParameterEvent(kDrive, displayUnitsOf(kDrive, static_cast<float>(drive)), kSplit));
        }
        block.steady_time += kBlock;
        plugin->process(plugin, &block);
        benchmark::DoNotOptimize(signal.outLeft.data());
        benchmark::ClobberMemory();
    }
    plugin->stop_processing(plugin);
    plugin->deactivate(plugin);
    plugin->destroy(plugin);
    finish(state);
}
BENCHMARK(formatClap)->ArgName("automated")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace
