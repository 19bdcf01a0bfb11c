#include "clap/ClapBooster.h"

#include "format/FormatLayer.h"
#include "gui/editor/PanelView.h"

#include <clap/ext/audio-ports.h>
#include <clap/plugin-features.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <vector>

namespace {

const char* kFeatures[] = {CLAP_PLUGIN_FEATURE_AUDIO_EFFECT, CLAP_PLUGIN_FEATURE_DISTORTION, CLAP_PLUGIN_FEATURE_STEREO,
                           nullptr};

// The window system whose windows the editor embeds in; the Windows panel
// runs its own timer, the X11 one needs its pump.
#if defined(_WIN32)
constexpr const char* kWindowApi = CLAP_WINDOW_API_WIN32;
constexpr bool kPanelNeedsPump = false;
#else
constexpr const char* kWindowApi = CLAP_WINDOW_API_X11;
constexpr bool kPanelNeedsPump = true;
#endif

// The editor's pump: its X events and its 33 ms refresh want a call at least
// that often; hosts call their timers at about this rate or slower.
constexpr std::uint32_t kEditorPumpMs = 16;

// A state record is a few hundred bytes; a stream longer than this is not one.
constexpr std::size_t kMaxStateBytes = 1 << 16;

// What the main thread owes the host, collected from any thread.
enum Notice : std::uint32_t {
    kRescanValues = 1u << 0, // values changed without events (a program, a state)
    kCheckLatency = 1u << 1, // "Oversample" may have moved the latency
    kFlushWanted = 1u << 2,  // editor gestures wait for a flush
};

// Marks one process or flush as running; a second at the same time is refused.
class AudioCall {
public:
    explicit AudioCall(std::atomic<bool>& running) : running(running)
    {
        entered = !running.exchange(true, std::memory_order_acquire);
    }
    ~AudioCall()
    {
        if (entered)
            running.store(false, std::memory_order_release);
    }
    AudioCall(const AudioCall&) = delete;
    AudioCall& operator=(const AudioCall&) = delete;
    bool entered;

private:
    std::atomic<bool>& running;
};

template <typename Extension> const Extension* hostExtension(const clap_host_t* host, const char* id)
{
    return host->get_extension ? static_cast<const Extension*>(host->get_extension(host, id)) : nullptr;
}

bool pushEvent(const clap_output_events_t* out, const clap_event_header_t& event)
{
    return out && out->try_push && out->try_push(out, &event);
}

void pushGesture(const clap_output_events_t* out, const Gesture& gesture)
{
    if (gesture.kind == Gesture::change) {
        clap_event_param_value_t event{};
        event.header = {sizeof(event), 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, CLAP_EVENT_IS_LIVE};
        event.param_id = gesture.parameter;
        event.note_id = -1;
        event.port_index = -1;
        event.channel = -1;
        event.key = -1;
        event.value = displayUnitsOf(gesture.parameter, gesture.value);
        pushEvent(out, event.header);
    } else {
        clap_event_param_gesture_t event{};
        const auto type =
            gesture.kind == Gesture::begin ? CLAP_EVENT_PARAM_GESTURE_BEGIN : CLAP_EVENT_PARAM_GESTURE_END;
        event.header = {sizeof(event), 0, CLAP_CORE_EVENT_SPACE_ID, static_cast<std::uint16_t>(type),
                        CLAP_EVENT_IS_LIVE};
        event.param_id = gesture.parameter;
        pushEvent(out, event.header);
    }
}

void copyText(const std::string& source, char* text, std::uint32_t size)
{
    std::snprintf(text, size, "%s", source.c_str());
}

// A plain value from the host within the parameter's range; CLAP reads a
// stepped one by truncation.
double hostUnits(const FormatParameter& parameter, double value)
{
    const double units = std::clamp(value, parameter.displayMin, parameter.displayMax);
    return parameter.stepCount > 0 ? std::trunc(units) : units;
}

// The program a value of the program parameter selects; -1 for none.
int programOfValue(double value)
{
    if (!(value >= 0.0 && value < kNumPrograms))
        return -1;
    return static_cast<int>(value);
}

// The audio of one call, resolved once: which precision the host gave, and
// the channel pointers in the layout the processor takes (a null second
// channel for one-channel buffers).
struct BlockBuffers {
    bool usable = false;
    bool doublePrecision = false;
    float* in32[2] = {nullptr, nullptr};
    float* out32[2] = {nullptr, nullptr};
    double* in64[2] = {nullptr, nullptr};
    double* out64[2] = {nullptr, nullptr};
};

template <typename Sample>
bool resolveChannels(Sample* const* in, Sample* const* out, std::uint32_t channels, Sample* (&inputs)[2],
                     Sample* (&outputs)[2])
{
    if (!in || !out || channels == 0 || !in[0] || !out[0])
        return false;
    const bool stereo = channels >= 2 && in[1] && out[1];
    inputs[0] = in[0];
    outputs[0] = out[0];
    inputs[1] = stereo ? in[1] : nullptr;
    outputs[1] = stereo ? out[1] : nullptr;
    return true;
}

BlockBuffers resolveBuffers(const clap_process_t& block)
{
    BlockBuffers buffers;
    if (block.audio_inputs_count < 1 || block.audio_outputs_count < 1 || !block.audio_inputs || !block.audio_outputs)
        return buffers;
    const clap_audio_buffer_t& input = block.audio_inputs[0];
    const clap_audio_buffer_t& output = block.audio_outputs[0];
    const std::uint32_t channels = std::min(input.channel_count, output.channel_count);
    if (input.data64 && output.data64) {
        buffers.doublePrecision = true;
        buffers.usable = resolveChannels(input.data64, output.data64, channels, buffers.in64, buffers.out64);
    } else {
        buffers.usable = resolveChannels(input.data32, output.data32, channels, buffers.in32, buffers.out32);
    }
    return buffers;
}

} // namespace

const clap_plugin_descriptor_t kClapDescriptor = {
    CLAP_VERSION_INIT,        "com.ovk.grindlemark",          "Grindlemark", GRINDLEMARK_VENDOR_TEXT, "", "", "",
    GRINDLEMARK_VERSION_TEXT, "Guitar booster and overdrive", kFeatures,
};

// The C entry points of the plug-in record and its extensions. Each finds its
// instance, and none lets an exception out.
struct ClapCalls {
    static ClapBooster* of(const clap_plugin_t* plugin)
    {
        return plugin ? static_cast<ClapBooster*>(plugin->plugin_data) : nullptr;
    }
    template <typename Result, typename Call>
    static Result guarded(const clap_plugin_t* plugin, Result refused, Call call)
    {
        ClapBooster* booster = of(plugin);
        if (!booster)
            return refused;
        try {
            return call(*booster);
        } catch (...) {
            return refused;
        }
    }

    static bool CLAP_ABI init(const clap_plugin_t* plugin)
    {
        return guarded(plugin, false, [](ClapBooster& b) { return b.init(); });
    }
    static void CLAP_ABI destroy(const clap_plugin_t* plugin) { delete of(plugin); }
    static bool CLAP_ABI activate(const clap_plugin_t* plugin, double rate, std::uint32_t minFrames,
                                  std::uint32_t maxFrames)
    {
        return guarded(plugin, false, [&](ClapBooster& b) { return b.activate(rate, minFrames, maxFrames); });
    }
    static void CLAP_ABI deactivate(const clap_plugin_t* plugin)
    {
        if (ClapBooster* booster = of(plugin))
            booster->deactivate();
    }
    static bool CLAP_ABI startProcessing(const clap_plugin_t* plugin)
    {
        ClapBooster* booster = of(plugin);
        return booster && booster->startProcessing();
    }
    static void CLAP_ABI stopProcessing(const clap_plugin_t* plugin)
    {
        if (ClapBooster* booster = of(plugin))
            booster->stopProcessing();
    }
    // The chain keeps no voices or tails a host would want cut; its memories
    // carry on, as they do across a VST2 host's suspend and resume.
    static void CLAP_ABI reset(const clap_plugin_t*) {}
    static clap_process_status CLAP_ABI process(const clap_plugin_t* plugin, const clap_process_t* block)
    {
        ClapBooster* booster = of(plugin);
        return booster && block ? booster->process(*block) : CLAP_PROCESS_ERROR;
    }
    static const void* CLAP_ABI extension(const clap_plugin_t* plugin, const char* id)
    {
        ClapBooster* booster = of(plugin);
        return booster && id ? booster->extension(id) : nullptr;
    }
    static void CLAP_ABI onMainThread(const clap_plugin_t* plugin)
    {
        if (ClapBooster* booster = of(plugin))
            booster->onMainThread();
    }

    // Parameters.
    static std::uint32_t CLAP_ABI parameterCount(const clap_plugin_t*) { return kClapParameterCount; }
    static bool CLAP_ABI parameterInfo(const clap_plugin_t* plugin, std::uint32_t index, clap_param_info_t* info)
    {
        ClapBooster* booster = of(plugin);
        return booster && info && booster->parameterInfo(index, *info);
    }
    static bool CLAP_ABI parameterValue(const clap_plugin_t* plugin, clap_id id, double* value)
    {
        ClapBooster* booster = of(plugin);
        return booster && value && booster->parameterValue(id, *value);
    }
    static bool CLAP_ABI valueToText(const clap_plugin_t* plugin, clap_id id, double value, char* text,
                                     std::uint32_t size)
    {
        return guarded(plugin, false, [&](ClapBooster& b) { return b.valueToText(id, value, text, size); });
    }
    static bool CLAP_ABI textToValue(const clap_plugin_t* plugin, clap_id id, const char* text, double* value)
    {
        return guarded(plugin, false, [&](ClapBooster& b) { return text && value && b.textToValue(id, text, *value); });
    }
    static void CLAP_ABI flush(const clap_plugin_t* plugin, const clap_input_events_t* in,
                               const clap_output_events_t* out)
    {
        if (ClapBooster* booster = of(plugin))
            booster->flush(in, out);
    }

    // Audio ports: one stereo input and one stereo output, 32 or 64 bits.
    static std::uint32_t CLAP_ABI portCount(const clap_plugin_t*, bool) { return 1; }
    static bool CLAP_ABI portInfo(const clap_plugin_t*, std::uint32_t index, bool isInput, clap_audio_port_info_t* info)
    {
        if (index != 0 || !info)
            return false;
        *info = clap_audio_port_info_t{};
        info->id = 0;
        std::snprintf(info->name, sizeof(info->name), "%s", isInput ? "Input" : "Output");
        info->flags =
            CLAP_AUDIO_PORT_IS_MAIN | CLAP_AUDIO_PORT_SUPPORTS_64BITS | CLAP_AUDIO_PORT_REQUIRES_COMMON_SAMPLE_SIZE;
        info->channel_count = 2;
        info->port_type = CLAP_PORT_STEREO;
        info->in_place_pair = CLAP_INVALID_ID;
        return true;
    }

    static bool CLAP_ABI saveState(const clap_plugin_t* plugin, const clap_ostream_t* stream)
    {
        return guarded(plugin, false, [&](ClapBooster& b) { return stream && b.saveState(*stream); });
    }
    static bool CLAP_ABI loadState(const clap_plugin_t* plugin, const clap_istream_t* stream)
    {
        return guarded(plugin, false, [&](ClapBooster& b) { return stream && b.loadState(*stream); });
    }
    static std::uint32_t CLAP_ABI latency(const clap_plugin_t* plugin)
    {
        ClapBooster* booster = of(plugin);
        return booster ? booster->latency() : 0;
    }

    // The editor: embedded only, at its one size.
    static bool CLAP_ABI guiSupported(const clap_plugin_t*, const char* api, bool floating)
    {
        return api && !floating && std::strcmp(api, kWindowApi) == 0;
    }
    static bool CLAP_ABI guiPreferred(const clap_plugin_t*, const char** api, bool* floating)
    {
        if (!api || !floating)
            return false;
        *api = kWindowApi;
        *floating = false;
        return true;
    }
    static bool CLAP_ABI guiCreate(const clap_plugin_t* plugin, const char* api, bool floating)
    {
        return guarded(plugin, false, [&](ClapBooster& b) { return b.createEditor(api, floating); });
    }
    static void CLAP_ABI guiDestroy(const clap_plugin_t* plugin)
    {
        ClapBooster* booster = of(plugin);
        if (booster && booster->onMainThreadCheck()) {
            booster->destroyEditor();
            booster->requestFlushIfIdle();
        }
    }
    // Any scale is taken; the panel keeps its size until it has a larger skin.
    static bool CLAP_ABI guiSetScale(const clap_plugin_t*, double scale) { return std::isfinite(scale) && scale > 0.0; }
    static bool CLAP_ABI guiSize(const clap_plugin_t* plugin, std::uint32_t* width, std::uint32_t* height)
    {
        ClapBooster* booster = of(plugin);
        if (!booster || !booster->view || !width || !height)
            return false;
        *width = PanelView::kWidth;
        *height = PanelView::kHeight;
        return true;
    }
    static bool CLAP_ABI guiCanResize(const clap_plugin_t*) { return false; }
    static bool CLAP_ABI guiResizeHints(const clap_plugin_t*, clap_gui_resize_hints_t*) { return false; }
    static bool CLAP_ABI guiAdjustSize(const clap_plugin_t*, std::uint32_t*, std::uint32_t*) { return false; }
    static bool CLAP_ABI guiSetSize(const clap_plugin_t*, std::uint32_t width, std::uint32_t height)
    {
        return width == PanelView::kWidth && height == PanelView::kHeight;
    }
    static bool CLAP_ABI guiSetParent(const clap_plugin_t* plugin, const clap_window_t* window)
    {
        return guarded(plugin, false, [&](ClapBooster& b) { return window && b.setEditorParent(*window); });
    }
    static bool CLAP_ABI guiSetTransient(const clap_plugin_t*, const clap_window_t*) { return false; }
    static void CLAP_ABI guiSuggestTitle(const clap_plugin_t*, const char*) {}
    static bool CLAP_ABI guiShow(const clap_plugin_t* plugin)
    {
        return guarded(plugin, false, [](ClapBooster& b) { return b.showEditor(); });
    }
    static bool CLAP_ABI guiHide(const clap_plugin_t* plugin)
    {
        ClapBooster* booster = of(plugin);
        return booster && booster->hideEditor();
    }
    static void CLAP_ABI onTimer(const clap_plugin_t* plugin, clap_id timer)
    {
        if (ClapBooster* booster = of(plugin))
            booster->onTimer(timer);
    }
};

namespace {

const clap_plugin_params_t kParams = {ClapCalls::parameterCount, ClapCalls::parameterInfo, ClapCalls::parameterValue,
                                      ClapCalls::valueToText,    ClapCalls::textToValue,   ClapCalls::flush};
const clap_plugin_audio_ports_t kAudioPorts = {ClapCalls::portCount, ClapCalls::portInfo};
const clap_plugin_state_t kState = {ClapCalls::saveState, ClapCalls::loadState};
const clap_plugin_latency_t kLatency = {ClapCalls::latency};
const clap_plugin_gui_t kGui = {ClapCalls::guiSupported,    ClapCalls::guiPreferred,   ClapCalls::guiCreate,
                                ClapCalls::guiDestroy,      ClapCalls::guiSetScale,    ClapCalls::guiSize,
                                ClapCalls::guiCanResize,    ClapCalls::guiResizeHints, ClapCalls::guiAdjustSize,
                                ClapCalls::guiSetSize,      ClapCalls::guiSetParent,   ClapCalls::guiSetTransient,
                                ClapCalls::guiSuggestTitle, ClapCalls::guiShow,        ClapCalls::guiHide};
const clap_plugin_timer_support_t kTimerSupport = {ClapCalls::onTimer};

} // namespace

ClapBooster::ClapBooster(const clap_host_t* host) : host(host)
{
    record = clap_plugin_t{&kClapDescriptor,
                           this,
                           ClapCalls::init,
                           ClapCalls::destroy,
                           ClapCalls::activate,
                           ClapCalls::deactivate,
                           ClapCalls::startProcessing,
                           ClapCalls::stopProcessing,
                           ClapCalls::reset,
                           ClapCalls::process,
                           ClapCalls::extension,
                           ClapCalls::onMainThread};
    refreshShownValues();
    reportedLatency = booster.latencyFrames();
}

ClapBooster::~ClapBooster()
{
    destroyEditor();
}

bool ClapBooster::onMainThreadCheck() const
{
    return !threadCheck || threadCheck->is_main_thread(host);
}

bool ClapBooster::onAudioThreadCheck() const
{
    return !threadCheck || threadCheck->is_audio_thread(host);
}

// ---- Lifecycle --------------------------------------------------------------

bool ClapBooster::init()
{
    if (initialised)
        return false;
    // An extension counts only when every call it is used for is there.
    threadCheck = hostExtension<clap_host_thread_check_t>(host, CLAP_EXT_THREAD_CHECK);
    if (threadCheck && (!threadCheck->is_main_thread || !threadCheck->is_audio_thread))
        threadCheck = nullptr;
    if (!onMainThreadCheck())
        return false;
    hostParams = hostExtension<clap_host_params_t>(host, CLAP_EXT_PARAMS);
    if (hostParams && (!hostParams->rescan || !hostParams->request_flush))
        hostParams = nullptr;
    hostLatency = hostExtension<clap_host_latency_t>(host, CLAP_EXT_LATENCY);
    if (hostLatency && !hostLatency->changed)
        hostLatency = nullptr;
    hostTimers = hostExtension<clap_host_timer_support_t>(host, CLAP_EXT_TIMER_SUPPORT);
    if (hostTimers && (!hostTimers->register_timer || !hostTimers->unregister_timer))
        hostTimers = nullptr;
    initialised = true;
    return true;
}

bool ClapBooster::activate(double sampleRate, std::uint32_t minFrames, std::uint32_t maxFrames)
{
    if (!initialised || active || !onMainThreadCheck())
        return false;
    if (maxFrames < 1 || minFrames > maxFrames)
        return false;
    // The chain is designed for 11025..192000 Hz; the processor refuses others.
    if (!booster.setSampleRate(sampleRate))
        return false;
    booster.setBlockSize(static_cast<int>(std::min<std::uint32_t>(maxFrames, kMaxBlockSize)));
    activeLatency = booster.latencyFrames();
    restartRequested = false;
    if (activeLatency != reportedLatency) {
        reportedLatency = activeLatency;
        if (hostLatency)
            hostLatency->changed(host);
    }
    active = true;
    return true;
}

void ClapBooster::deactivate()
{
    if (!active || !onMainThreadCheck())
        return;
    active = false;
    processing.store(false);
    // Editor edits the audio thread did not take go to the processor here.
    const std::uint32_t changes = editorChanges.exchange(0);
    for (int index = 0; index < kNumParameters; ++index)
        if (changes & (1u << index))
            setValue(index, shown[static_cast<std::size_t>(index)].load());
    notify(kCheckLatency | (gestures.empty() ? 0u : kFlushWanted));
}

bool ClapBooster::startProcessing()
{
    if (!active || processing.load() || !onAudioThreadCheck())
        return false;
    processing.store(true);
    return true;
}

void ClapBooster::stopProcessing()
{
    if (!processing.load() || !onAudioThreadCheck())
        return;
    processing.store(false);
    // Gestures the last block did not carry now need a flush.
    if (!gestures.empty())
        notify(kFlushWanted);
}

const void* ClapBooster::extension(const char* id) const
{
    const struct {
        const char* id;
        const void* extension;
    } extensions[] = {{CLAP_EXT_PARAMS, &kParams}, {CLAP_EXT_AUDIO_PORTS, &kAudioPorts},
                      {CLAP_EXT_STATE, &kState},   {CLAP_EXT_LATENCY, &kLatency},
                      {CLAP_EXT_GUI, &kGui},       {CLAP_EXT_TIMER_SUPPORT, &kTimerSupport}};
    for (const auto& entry : extensions)
        if (std::strcmp(id, entry.id) == 0)
            return entry.extension;
    return nullptr;
}

void ClapBooster::notify(std::uint32_t notices)
{
    pendingNotices.fetch_or(notices);
    if (host->request_callback)
        host->request_callback(host);
}

void ClapBooster::onMainThread()
{
    if (!onMainThreadCheck())
        return;
    const int program = pendingProgram.exchange(-1);
    if (program >= 0)
        applyProgram(program);
    const std::uint32_t notices = pendingNotices.exchange(0);
    if ((notices & kRescanValues) && hostParams)
        hostParams->rescan(host, CLAP_PARAM_RESCAN_VALUES);
    if (notices & kCheckLatency) {
        // While active the latency is fixed: the host has to restart the
        // plug-in for a new one. Inactive, it only needs telling.
        const int latencyNow = booster.latencyFrames();
        if (active) {
            if (latencyNow != activeLatency && !restartRequested && host->request_restart) {
                restartRequested = true;
                host->request_restart(host);
            }
        } else if (latencyNow != reportedLatency) {
            reportedLatency = latencyNow;
            if (hostLatency)
                hostLatency->changed(host);
        }
    }
    if (notices & kFlushWanted)
        requestFlushIfIdle();
}

// ---- Processing -------------------------------------------------------------

// From processing, flush and the main thread alike; never waits, so the
// audio thread's events never hold it up.
void ClapBooster::setValue(int index, float value)
{
    booster.setParameterFromAudio(index, value);
    shown[static_cast<std::size_t>(index)].store(value, std::memory_order_relaxed);
    if (index == kOversample)
        notify(kCheckLatency);
}

void ClapBooster::applyEvent(const clap_event_header_t& event)
{
    if (event.space_id != CLAP_CORE_EVENT_SPACE_ID || event.type != CLAP_EVENT_PARAM_VALUE ||
        event.size < sizeof(clap_event_param_value_t))
        return;
    const auto& change = reinterpret_cast<const clap_event_param_value_t&>(event);
    if (change.param_id == kProgramParameterId) {
        const int program = programOfValue(change.value);
        if (program < 0)
            return;
        // Loading a program stores the old one's values and sets eight, with
        // waits on the processor's lock: main-thread work. While inactive this
        // is the main thread; while active the main thread does it next.
        if (active) {
            pendingProgram.store(program);
            notify(0);
        } else {
            applyProgram(program);
        }
        return;
    }
    if (change.param_id >= static_cast<clap_id>(kNumParameters) || !std::isfinite(change.value))
        return;
    const int index = static_cast<int>(change.param_id);
    const FormatParameter& parameter = formatParameters()[change.param_id];
    const double units = hostUnits(parameter, change.value);
    setValue(index, valueOfDisplayUnits(index, units));
}

void ClapBooster::takeEditorEdits(const clap_output_events_t* out)
{
    const std::uint32_t changes = editorChanges.exchange(0, std::memory_order_acquire);
    for (int index = 0; changes >> index; ++index)
        if (changes & (1u << index))
            setValue(index, shown[static_cast<std::size_t>(index)].load(std::memory_order_relaxed));
    Gesture gesture;
    while (gestures.pop(gesture))
        pushGesture(out, gesture);
}

clap_process_status ClapBooster::process(const clap_process_t& block)
{
    if (!active || !processing.load(std::memory_order_relaxed) || !onAudioThreadCheck())
        return CLAP_PROCESS_ERROR;
    const AudioCall call(audioCallRunning);
    if (!call.entered)
        return CLAP_PROCESS_ERROR;
    takeEditorEdits(block.out_events);

    BlockBuffers buffers = resolveBuffers(block);
    if (buffers.usable)
        block.audio_outputs[0].constant_mask = 0;
    const std::uint32_t frames = block.frames_count;
    // The audio from `first` to `last`, with the values in force there.
    auto run = [&](std::uint32_t first, std::uint32_t last) {
        const int count = static_cast<int>(last - first);
        if (!buffers.usable) {
            booster.process(static_cast<float**>(nullptr), nullptr, 0);
        } else if (buffers.doublePrecision) {
            double* in[2] = {buffers.in64[0] + first, buffers.in64[1] ? buffers.in64[1] + first : nullptr};
            double* out[2] = {buffers.out64[0] + first, buffers.out64[1] ? buffers.out64[1] + first : nullptr};
            booster.process(in, out, count);
        } else {
            float* in[2] = {buffers.in32[0] + first, buffers.in32[1] ? buffers.in32[1] + first : nullptr};
            float* out[2] = {buffers.out32[0] + first, buffers.out32[1] ? buffers.out32[1] + first : nullptr};
            booster.process(in, out, count);
        }
    };

    // Each event takes effect at its frame: the block is split there, and the
    // processor takes new values at the start of each part.
    std::uint32_t done = 0;
    const clap_input_events_t* in = block.in_events;
    const std::uint32_t count = in && in->size && in->get ? in->size(in) : 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const clap_event_header_t* event = in->get(in, i);
        if (!event)
            continue;
        const std::uint32_t at = std::min(event->time, frames);
        if (at > done) {
            run(done, at);
            done = at;
        }
        applyEvent(*event);
    }
    if (frames > done || frames == 0)
        run(done, frames);
    return buffers.usable ? CLAP_PROCESS_CONTINUE : CLAP_PROCESS_ERROR;
}

void ClapBooster::flush(const clap_input_events_t* in, const clap_output_events_t* out)
{
    if (active ? !onAudioThreadCheck() : !onMainThreadCheck())
        return;
    const AudioCall call(audioCallRunning);
    if (!call.entered)
        return;
    takeEditorEdits(out);
    const std::uint32_t count = in && in->size && in->get ? in->size(in) : 0;
    for (std::uint32_t i = 0; i < count; ++i)
        if (const clap_event_header_t* event = in->get(in, i))
            applyEvent(*event);
}

// ---- Parameters -------------------------------------------------------------

bool ClapBooster::parameterInfo(std::uint32_t index, clap_param_info_t& info) const
{
    info = clap_param_info_t{};
    if (index < static_cast<std::uint32_t>(kNumParameters)) {
        const FormatParameter& parameter = formatParameters()[index];
        info.id = static_cast<clap_id>(parameter.id);
        info.flags = CLAP_PARAM_IS_AUTOMATABLE |
                     (parameter.stepCount > 0 ? static_cast<clap_param_info_flags>(CLAP_PARAM_IS_STEPPED) : 0u);
        std::snprintf(info.name, sizeof(info.name), "%s", parameter.name);
        info.min_value = parameter.displayMin;
        info.max_value = parameter.displayMax;
        info.default_value = displayUnitsOf(parameter.id, parameter.defaultValue);
        return true;
    }
    if (index == static_cast<std::uint32_t>(kNumParameters)) {
        info.id = kProgramParameterId;
        info.flags = CLAP_PARAM_IS_STEPPED;
        std::snprintf(info.name, sizeof(info.name), "%s", "Program");
        info.min_value = 0.0;
        info.max_value = kNumPrograms - 1;
        info.default_value = 0.0;
        return true;
    }
    return false;
}

bool ClapBooster::parameterValue(clap_id id, double& value)
{
    if (id == kProgramParameterId) {
        value = booster.program();
        return true;
    }
    if (id >= static_cast<clap_id>(kNumParameters))
        return false;
    value = displayUnitsOf(static_cast<int>(id), shown[id].load(std::memory_order_relaxed));
    return true;
}

bool ClapBooster::valueToText(clap_id id, double value, char* text, std::uint32_t size)
{
    if (!text || size == 0 || !std::isfinite(value))
        return false;
    if (id == kProgramParameterId) {
        const int program = programOfValue(std::clamp(value, 0.0, kNumPrograms - 1.0));
        char name[kProgramNameSize + 1];
        booster.programNameOf(program, name);
        copyText(name, text, size);
        return true;
    }
    if (id >= static_cast<clap_id>(kNumParameters))
        return false;
    const FormatParameter& parameter = formatParameters()[id];
    const double units = hostUnits(parameter, value);
    const int index = static_cast<int>(id);
    copyText(parameterTextWithUnit(index, valueOfDisplayUnits(index, units)), text, size);
    return true;
}

bool ClapBooster::textToValue(clap_id id, const char* text, double& value)
{
    if (id == kProgramParameterId) {
        // A program by its name, or by its number.
        std::string typed(text);
        typed.erase(0, typed.find_first_not_of(" \t"));
        typed.erase(typed.find_last_not_of(" \t") + 1);
        for (int program = 0; program < kNumPrograms; ++program) {
            char name[kProgramNameSize + 1];
            booster.programNameOf(program, name);
            if (strcasecmp(name, typed.c_str()) == 0) {
                value = program;
                return true;
            }
        }
        char* end = nullptr;
        const long number = std::strtol(typed.c_str(), &end, 10);
        if (typed.empty() || *end != 0 || number < 0 || number >= kNumPrograms)
            return false;
        value = static_cast<double>(number);
        return true;
    }
    if (id >= static_cast<clap_id>(kNumParameters))
        return false;
    const int index = static_cast<int>(id);
    const std::optional<float> parsed = parameterValueFromText(index, text);
    if (!parsed)
        return false;
    value = displayUnitsOf(index, *parsed);
    return true;
}

void ClapBooster::applyProgram(int program)
{
    // Edits not yet taken give way to the program.
    editorChanges.store(0);
    booster.setProgram(program);
    refreshShownValues();
    notify(kRescanValues | kCheckLatency);
}

void ClapBooster::refreshShownValues()
{
    for (int index = 0; index < kNumParameters; ++index)
        shown[static_cast<std::size_t>(index)].store(booster.getParameter(index), std::memory_order_relaxed);
}

// ---- State and latency ------------------------------------------------------

bool ClapBooster::saveState(const clap_ostream_t& stream)
{
    if (!stream.write || !onMainThreadCheck())
        return false;
    // What the user sees is what gets saved: a program or editor edit still
    // on its way to the audio thread is settled here first.
    const int program = pendingProgram.exchange(-1);
    if (program >= 0)
        applyProgram(program);
    const std::uint32_t changes = editorChanges.exchange(0);
    for (int index = 0; index < kNumParameters; ++index)
        if (changes & (1u << index))
            setValue(index, shown[static_cast<std::size_t>(index)].load());

    const std::vector<std::uint8_t> bytes = ::saveState(booster);
    std::size_t written = 0;
    while (written < bytes.size()) {
        const std::int64_t count = stream.write(&stream, bytes.data() + written, bytes.size() - written);
        if (count <= 0 || static_cast<std::uint64_t>(count) > bytes.size() - written)
            return false;
        written += static_cast<std::size_t>(count);
    }
    return true;
}

bool ClapBooster::loadState(const clap_istream_t& stream)
{
    if (!stream.read || !onMainThreadCheck())
        return false;
    std::vector<std::uint8_t> bytes;
    for (;;) {
        const std::size_t have = bytes.size();
        if (have > kMaxStateBytes)
            return false;
        bytes.resize(have + 4096);
        const std::int64_t count = stream.read(&stream, bytes.data() + have, 4096);
        if (count < 0 || count > 4096)
            return false;
        bytes.resize(have + static_cast<std::size_t>(count));
        if (count == 0)
            break;
    }
    if (!::loadState(booster, bytes.data(), bytes.size()))
        return false;
    editorChanges.store(0);
    pendingProgram.store(-1);
    refreshShownValues();
    notify(kRescanValues | kCheckLatency);
    return true;
}

std::uint32_t ClapBooster::latency()
{
    // Fixed from activation to deactivation, as hosts rely on.
    return static_cast<std::uint32_t>(active ? activeLatency : booster.latencyFrames());
}

// ---- Editor -----------------------------------------------------------------

bool ClapBooster::createEditor(const char* api, bool floating)
{
    if (!onMainThreadCheck() || view || floating || !api || std::strcmp(api, kWindowApi) != 0)
        return false;
    view = createPanelView(*this);
    if (!view)
        return false;
    startPump();
    return true;
}

void ClapBooster::startPump()
{
    if (!kPanelNeedsPump)
        return;
    if (hostTimers && hostTimers->register_timer(host, kEditorPumpMs, &timer))
        return;
    timer = CLAP_INVALID_ID;
    ownPump.start(
        [this] {
            if (view->isOpen())
                view->idle();
        },
        std::chrono::milliseconds(kEditorPumpMs));
}

void ClapBooster::destroyEditor()
{
    ownPump.stop();
    if (timer != CLAP_INVALID_ID && hostTimers)
        hostTimers->unregister_timer(host, timer);
    timer = CLAP_INVALID_ID;
    if (view) {
        view->close();
        view.reset();
    }
    parentWindow = 0;
    // A drag the closing editor was in the middle of ends here for the host.
    gestures.endAll();
}

bool ClapBooster::setEditorParent(const clap_window_t& window)
{
    if (!onMainThreadCheck() || !view || !window.api || std::strcmp(window.api, kWindowApi) != 0 || !window.uptr)
        return false;
    const auto pumpLock = ownPump.guard();
    if (view->isOpen())
        view->close();
    parentWindow = window.uptr;
    if (view->open(reinterpret_cast<void*>(parentWindow)))
        return true;
    parentWindow = 0;
    return false;
}

bool ClapBooster::showEditor()
{
    if (!onMainThreadCheck() || !view)
        return false;
    const auto pumpLock = ownPump.guard();
    if (view->isOpen())
        return true;
    return parentWindow && view->open(reinterpret_cast<void*>(parentWindow));
}

bool ClapBooster::hideEditor()
{
    if (!onMainThreadCheck() || !view)
        return false;
    const auto pumpLock = ownPump.guard();
    view->close();
    return true;
}

void ClapBooster::onTimer(clap_id id)
{
    if (id == timer && view && onMainThreadCheck())
        view->idle();
}

// ---- The editor's side ------------------------------------------------------

float ClapBooster::parameter(int index)
{
    if (index < 0 || index >= kNumParameters)
        return 0.0f;
    return shown[static_cast<std::size_t>(index)].load(std::memory_order_relaxed);
}

void ClapBooster::beginEdit(int index)
{
    if (index < 0 || index >= kNumParameters)
        return;
    gestures.begin(index);
    requestFlushIfIdle();
}

void ClapBooster::performEdit(int index, float value)
{
    if (index < 0 || index >= kNumParameters)
        return;
    const float limited = limitParameterValue(value);
    if (active) {
        shown[static_cast<std::size_t>(index)].store(limited, std::memory_order_relaxed);
        editorChanges.fetch_or(1u << index, std::memory_order_release);
    } else {
        setValue(index, limited);
    }
    gestures.value(index, limited);
    requestFlushIfIdle();
}

void ClapBooster::endEdit(int index)
{
    if (index < 0 || index >= kNumParameters)
        return;
    gestures.end(index);
    requestFlushIfIdle();
}

void ClapBooster::requestFlushIfIdle()
{
    // While processing, the next block carries the events.
    if (!processing.load() && hostParams && !gestures.empty())
        hostParams->request_flush(host);
}
