// The same processing through the VST2 effect and the CLAP plug-in, side by side in one run
// (FormatBench.cpp has the VST 3 pair).
// processReplacing and through CLAP's process (by its entry, in-process), in
// one run so the two can be compared. "automated" sends four parameter
// changes per block: CLAP splits the block at each event, VST2 gets the same
// values between calls of the same lengths. The counter "xRealtime" is how
// many times faster than realtime at 44.1 kHz.
#include "host/BoosterEffect.h"

#include <clap/entry.h>
#include <clap/plugin-factory.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

extern "C" const clap_plugin_entry_t clap_entry;

namespace {

constexpr int kBlock = 512;
constexpr double kHostRate = 44100.0;
constexpr int kEventFrames[] = {64, 192, 320, 448};

VstIntPtr VSTCALLBACK benchHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

// A CLAP host that offers no extensions and ignores requests.
const void* CLAP_ABI noExtension(const clap_host_t*, const char*)
{
    return nullptr;
}
void CLAP_ABI ignoreRequest(const clap_host_t*) {}
const clap_host_t kClapHost = {CLAP_VERSION_INIT, nullptr,       "bench",       "",           "", "1",
                               noExtension,       ignoreRequest, ignoreRequest, ignoreRequest};

struct EventList {
    std::vector<clap_event_param_value_t> events;
    static std::uint32_t CLAP_ABI size(const clap_input_events_t* list)
    {
        return static_cast<std::uint32_t>(static_cast<const EventList*>(list->ctx)->events.size());
    }
    static const clap_event_header_t* CLAP_ABI get(const clap_input_events_t* list, std::uint32_t index)
    {
        return &static_cast<const EventList*>(list->ctx)->events[index].header;
    }
};

bool CLAP_ABI dropEvent(const clap_output_events_t*, const clap_event_header_t*)
{
    return true;
}

std::vector<float> testSignal(double phaseOffset)
{
    std::vector<float> signal(kBlock);
    for (int i = 0; i < kBlock; ++i) {
        const double phase = 2.0 * 3.141592653589793 * 110.0 * (i / kHostRate) + phaseOffset;
        signal[static_cast<std::size_t>(i)] =
            static_cast<float>(0.25 * (std::sin(phase) + 0.4 * std::sin(2 * phase) + 0.2 * std::sin(3 * phase)));
    }
    return signal;
}

// Drive moving between two values: every event sets a new one.
float driveAt(int event, std::int64_t block)
{
    return (event + block) % 2 ? 0.9f : 0.8f;
}

// Arguments: format (0 VST2, 1 CLAP), automated (0 or 1). "Fat overdrive":
// "TNT" at 16x, the heaviest setting the factory programs use.
void formatClap(benchmark::State& state)
{
    const bool clap = state.range(0) == 1;
    const bool automated = state.range(1) == 1;
    std::vector<float> left = testSignal(0.0), right = testSignal(0.3), outLeft(kBlock), outRight(kBlock);
    float* inputs[2] = {left.data(), right.data()};
    float* outputs[2] = {outLeft.data(), outRight.data()};
    std::int64_t block = 0;

    if (!clap) {
        BoosterEffect effect(benchHost);
        effect.setSampleRate(static_cast<float>(kHostRate));
        effect.setBlockSize(kBlock);
        effect.setProgram(1);
        effect.processReplacing(inputs, outputs, kBlock);
        for (auto _ : state) {
            if (automated) {
                int done = 0;
                for (int e = 0; e < 4; ++e) {
                    float* in[2] = {left.data() + done, right.data() + done};
                    float* out[2] = {outLeft.data() + done, outRight.data() + done};
                    effect.processReplacing(in, out, kEventFrames[e] - done);
                    effect.setParameter(kDrive, driveAt(e, block));
                    done = kEventFrames[e];
                }
                float* in[2] = {left.data() + done, right.data() + done};
                float* out[2] = {outLeft.data() + done, outRight.data() + done};
                effect.processReplacing(in, out, kBlock - done);
            } else {
                effect.processReplacing(inputs, outputs, kBlock);
            }
            ++block;
            benchmark::DoNotOptimize(outLeft.data());
            benchmark::ClobberMemory();
        }
    } else {
        const auto* factory = static_cast<const clap_plugin_factory_t*>(clap_entry.get_factory(CLAP_PLUGIN_FACTORY_ID));
        const clap_plugin_t* plugin =
            factory->create_plugin(factory, &kClapHost, factory->get_plugin_descriptor(factory, 0)->id);
        plugin->init(plugin);
        plugin->activate(plugin, kHostRate, 1, kBlock);
        plugin->start_processing(plugin);
        EventList list;
        list.events.resize(1);
        const clap_input_events_t in = {&list, EventList::size, EventList::get};
        const clap_output_events_t out = {nullptr, dropEvent};
        clap_audio_buffer_t input{nullptr, nullptr, 2, 0, 0};
        clap_audio_buffer_t output{nullptr, nullptr, 2, 0, 0};
        input.data32 = inputs;
        output.data32 = outputs;
        clap_process_t process{0, kBlock, nullptr, &input, &output, 1, 1, &in, &out};
        // The first block loads "Fat overdrive" through the program parameter.
        list.events[0].header = {sizeof(clap_event_param_value_t), 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE,
                                 0};
        list.events[0].param_id = 0x70726f67;
        list.events[0].value = 1.0;
        plugin->process(plugin, &process);
        plugin->on_main_thread(plugin);
        list.events.resize(automated ? 4 : 0);
        for (auto _ : state) {
            for (int e = 0; automated && e < 4; ++e) {
                clap_event_param_value_t& event = list.events[static_cast<std::size_t>(e)];
                event.header = {sizeof(event), static_cast<std::uint32_t>(kEventFrames[e]), CLAP_CORE_EVENT_SPACE_ID,
                                CLAP_EVENT_PARAM_VALUE, 0};
                event.param_id = kDrive;
                event.value = 20.0 * static_cast<double>(driveAt(e, block));
            }
            process.steady_time += kBlock;
            plugin->process(plugin, &process);
            ++block;
            benchmark::DoNotOptimize(outLeft.data());
            benchmark::ClobberMemory();
        }
        plugin->stop_processing(plugin);
        plugin->deactivate(plugin);
        plugin->destroy(plugin);
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
    state.counters["xRealtime"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kBlock / kHostRate, benchmark::Counter::kIsRate);
}
BENCHMARK(formatClap)->ArgNames({"clap", "automated"})->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMicrosecond);

} // namespace
