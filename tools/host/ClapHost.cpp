#include "ClapHost.h"

#include "effect/ProductVersion.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

// ---- Faults -----------------------------------------------------------------

void ClapFaults::add(std::string fault)
{
    std::lock_guard<std::mutex> lock(mutex);
    faults.push_back(std::move(fault));
}

std::vector<std::string> ClapFaults::list() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return faults;
}

bool ClapFaults::empty() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return faults.empty();
}

void ClapFaults::clear()
{
    std::lock_guard<std::mutex> lock(mutex);
    faults.clear();
}

// ---- Module -----------------------------------------------------------------

namespace {

bool blank(const char* text)
{
    return !text || !*text;
}

std::string versionText(const clap_version_t& version)
{
    return std::to_string(version.major) + "." + std::to_string(version.minor) + "." + std::to_string(version.revision);
}

} // namespace

bool ClapModule::load(const std::string& path, std::string& error)
{
    if (!library.load(path)) {
        error = library.error();
        return false;
    }
    const auto* candidate = static_cast<const clap_plugin_entry_t*>(library.symbol("clap_entry"));
    if (!candidate) {
        error = path + " exports no clap_entry";
        return false;
    }
    if (!clap_version_is_compatible(candidate->clap_version)) {
        error = path + " declares CLAP " + versionText(candidate->clap_version) + ", which no CLAP 1 host loads";
        return false;
    }
    if (!candidate->init || !candidate->deinit || !candidate->get_factory) {
        error = path + ": the entry lacks init, deinit or get_factory";
        return false;
    }
    // After a refused init the module must not be called again, deinit included.
    if (!candidate->init(path.c_str())) {
        error = path + ": the entry's init refused";
        return false;
    }
    entry = candidate;
    pluginFactory = static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
    if (!pluginFactory || !pluginFactory->get_plugin_count || !pluginFactory->get_plugin_descriptor ||
        !pluginFactory->create_plugin) {
        error = path + " has no plug-in factory";
        return false;
    }
    if (pluginFactory->get_plugin_count(pluginFactory) < 1) {
        error = path + " holds no plug-in";
        return false;
    }
    firstDescriptor = pluginFactory->get_plugin_descriptor(pluginFactory, 0);
    if (!firstDescriptor || blank(firstDescriptor->id) || blank(firstDescriptor->name) ||
        !clap_version_is_compatible(firstDescriptor->clap_version)) {
        error = path + ": its first plug-in has no usable descriptor (id, name and a CLAP 1 version)";
        firstDescriptor = nullptr;
        return false;
    }
    return true;
}

ClapModule::~ClapModule()
{
    if (entry)
        entry->deinit();
}

// ---- Event lists ------------------------------------------------------------

namespace {

// The events the host hands in, as given.
class InputList {
public:
    InputList(const std::vector<clap_event_param_value_t>& events, std::function<void()> onRead)
        : given(events), onRead(std::move(onRead))
    {
        list.ctx = this;
        list.size = size;
        list.get = get;
    }
    const clap_input_events_t* handle() const { return &list; }

private:
    static std::uint32_t CLAP_ABI size(const clap_input_events_t* self)
    {
        const auto& list = *static_cast<const InputList*>(self->ctx);
        if (list.onRead)
            list.onRead();
        return static_cast<std::uint32_t>(list.given.size());
    }
    static const clap_event_header_t* CLAP_ABI get(const clap_input_events_t* self, std::uint32_t index)
    {
        const auto& events = static_cast<const InputList*>(self->ctx)->given;
        return index < events.size() ? &events[index].header : nullptr;
    }

    const std::vector<clap_event_param_value_t>& given;
    std::function<void()> onRead;
    clap_input_events_t list{};
};

// No event in CLAP 1.1 comes near this; a size above it is garbage.
constexpr std::uint32_t kLargestEvent = 4096;

} // namespace

// The events the plug-in sends, copied as it pushes them.
class ClapSession::OutputList {
public:
    explicit OutputList(ClapSession& session) : session(session)
    {
        list.ctx = this;
        list.try_push = push;
    }
    const clap_output_events_t* handle() const { return &list; }
    const std::vector<std::vector<std::uint8_t>>& events() const { return copies; }

private:
    static bool CLAP_ABI push(const clap_output_events_t* self, const clap_event_header_t* event)
    {
        auto& outputs = *static_cast<OutputList*>(self->ctx);
        if (!event || event->size < sizeof(clap_event_header_t) || event->size > kLargestEvent) {
            outputs.session.fault("plug-in: pushes an event " + (event ? "of " + std::to_string(event->size) + " bytes"
                                                                       : std::string("that is null")));
            return false;
        }
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(event);
        outputs.copies.emplace_back(bytes, bytes + event->size);
        return true;
    }

    ClapSession& session;
    clap_output_events_t list{};
    std::vector<std::vector<std::uint8_t>> copies;
};

// Takes the audio-thread role for one call; CLAP lets any thread have it, but
// only one at a time.
class ClapSession::AudioRole {
public:
    AudioRole(ClapSession& session, const char* call) : session(session)
    {
        std::thread::id holder;
        if (session.audioThread.compare_exchange_strong(holder, std::this_thread::get_id()))
            owner = true;
        else if (holder != std::this_thread::get_id())
            session.fault(std::string("host: ") + call + " called while another thread is in an audio-thread call");
    }
    ~AudioRole()
    {
        if (owner)
            session.audioThread.store(std::thread::id());
    }
    AudioRole(const AudioRole&) = delete;
    AudioRole& operator=(const AudioRole&) = delete;

private:
    ClapSession& session;
    bool owner = false;
};

// ---- The host's side, as the plug-in calls it ----------------------------------

struct ClapHostCalls {
    static ClapSession& of(const clap_host_t* host) { return *static_cast<ClapSession*>(host->host_data); }
    // CLAP forbids host calls from the plug-in's constructor.
    static ClapSession& checked(const clap_host_t* host, const char* call)
    {
        ClapSession& session = of(host);
        if (session.inCreate)
            session.fault(std::string("plug-in: calls ") + call + " while it is being created");
        return session;
    }
    static bool onMain(ClapSession& session, const char* call)
    {
        if (session.isMainThread())
            return true;
        session.fault(std::string("plug-in: calls ") + call + " off the main thread");
        return false;
    }

    static const void* CLAP_ABI extension(const clap_host_t* host, const char* id);
    static void CLAP_ABI requestRestart(const clap_host_t* host)
    {
        ClapSession& session = checked(host, "request_restart");
        ++session.restarts;
        session.restartWanted = true;
    }
    static void CLAP_ABI requestProcess(const clap_host_t* host) { checked(host, "request_process"); }
    static void CLAP_ABI requestCallback(const clap_host_t* host)
    {
        checked(host, "request_callback").callbackWanted = true;
    }

    static bool CLAP_ABI isMainThread(const clap_host_t* host) { return of(host).isMainThread(); }
    static bool CLAP_ABI isAudioThread(const clap_host_t* host) { return of(host).isAudioThread(); }

    static void CLAP_ABI rescan(const clap_host_t* host, clap_param_rescan_flags flags)
    {
        ClapSession& session = checked(host, "params.rescan");
        if (!onMain(session, "params.rescan"))
            return;
        if ((flags & CLAP_PARAM_RESCAN_ALL) && session.isActive())
            session.fault("plug-in: rescans all parameters while active (it must ask for a restart)");
        if (flags & CLAP_PARAM_RESCAN_VALUES)
            ++session.rescans;
        if (flags & (CLAP_PARAM_RESCAN_INFO | CLAP_PARAM_RESCAN_ALL))
            session.checkParameters();
    }
    static void CLAP_ABI clear(const clap_host_t* host, clap_id, clap_param_clear_flags)
    {
        onMain(checked(host, "params.clear"), "params.clear");
    }
    static void CLAP_ABI requestFlush(const clap_host_t* host)
    {
        ClapSession& session = checked(host, "params.request_flush");
        if (session.isAudioThread())
            session.fault("plug-in: calls params.request_flush from the audio thread");
        ++session.flushes;
        session.flushWanted = true;
    }

    static void CLAP_ABI latencyChanged(const clap_host_t* host)
    {
        ClapSession& session = checked(host, "latency.changed");
        if (!onMain(session, "latency.changed"))
            return;
        if (session.isActive() && !session.inActivate)
            session.fault("plug-in: reports a latency change while active (it must ask for a restart)");
        ++session.latencyChangeCount;
    }

    static void CLAP_ABI markDirty(const clap_host_t* host)
    {
        onMain(checked(host, "state.mark_dirty"), "state.mark_dirty");
    }

    static bool CLAP_ABI registerTimer(const clap_host_t* host, std::uint32_t periodMs, clap_id* id)
    {
        ClapSession& session = checked(host, "timer_support.register_timer");
        if (!onMain(session, "timer_support.register_timer") || !id)
            return false;
        const auto period = std::chrono::milliseconds(std::max<std::uint32_t>(periodMs, 1));
        *id = session.nextTimer++;
        session.timers.push_back({*id, period, std::chrono::steady_clock::now() + period});
        return true;
    }
    static bool CLAP_ABI unregisterTimer(const clap_host_t* host, clap_id id)
    {
        ClapSession& session = checked(host, "timer_support.unregister_timer");
        if (!onMain(session, "timer_support.unregister_timer"))
            return false;
        auto& timers = session.timers;
        const auto found = std::find_if(timers.begin(), timers.end(),
                                        [id](const ClapSession::Timer& timer) { return timer.id == id; });
        if (found == timers.end()) {
            session.fault("plug-in: unregisters timer " + std::to_string(id) + ", which it does not hold");
            return false;
        }
        timers.erase(found);
        return true;
    }

    // The host's editor frame has the size the plug-in asked for at first.
    static void CLAP_ABI resizeHintsChanged(const clap_host_t* host) { checked(host, "gui.resize_hints_changed"); }
    static bool CLAP_ABI requestResize(const clap_host_t* host, std::uint32_t, std::uint32_t)
    {
        checked(host, "gui.request_resize");
        return false;
    }
    static bool CLAP_ABI requestShow(const clap_host_t* host)
    {
        checked(host, "gui.request_show");
        return false;
    }
    static bool CLAP_ABI requestHide(const clap_host_t* host)
    {
        checked(host, "gui.request_hide");
        return false;
    }
    static void CLAP_ABI guiClosed(const clap_host_t* host, bool) { checked(host, "gui.closed"); }

    // This host cannot change port layouts on the fly.
    static bool CLAP_ABI portsRescanSupported(const clap_host_t* host, std::uint32_t)
    {
        onMain(checked(host, "audio_ports.is_rescan_flag_supported"), "audio_ports.is_rescan_flag_supported");
        return false;
    }
    static void CLAP_ABI portsRescan(const clap_host_t* host, std::uint32_t)
    {
        ClapSession& session = checked(host, "audio_ports.rescan");
        if (onMain(session, "audio_ports.rescan"))
            session.fault("plug-in: rescans its audio ports with a flag the host does not support");
    }
};

namespace {

const clap_host_thread_check_t kThreadCheck = {ClapHostCalls::isMainThread, ClapHostCalls::isAudioThread};
const clap_host_params_t kHostParams = {ClapHostCalls::rescan, ClapHostCalls::clear, ClapHostCalls::requestFlush};
const clap_host_latency_t kHostLatency = {ClapHostCalls::latencyChanged};
const clap_host_state_t kHostState = {ClapHostCalls::markDirty};
const clap_host_timer_support_t kHostTimers = {ClapHostCalls::registerTimer, ClapHostCalls::unregisterTimer};
const clap_host_gui_t kHostGui = {ClapHostCalls::resizeHintsChanged, ClapHostCalls::requestResize,
                                  ClapHostCalls::requestShow, ClapHostCalls::requestHide, ClapHostCalls::guiClosed};
const clap_host_audio_ports_t kHostPorts = {ClapHostCalls::portsRescanSupported, ClapHostCalls::portsRescan};

} // namespace

const void* CLAP_ABI ClapHostCalls::extension(const clap_host_t* host, const char* id)
{
    checked(host, "get_extension");
    const struct {
        const char* id;
        const void* extension;
    } extensions[] = {{CLAP_EXT_THREAD_CHECK, &kThreadCheck}, {CLAP_EXT_PARAMS, &kHostParams},
                      {CLAP_EXT_LATENCY, &kHostLatency},      {CLAP_EXT_STATE, &kHostState},
                      {CLAP_EXT_TIMER_SUPPORT, &kHostTimers}, {CLAP_EXT_GUI, &kHostGui},
                      {CLAP_EXT_AUDIO_PORTS, &kHostPorts}};
    for (const auto& entry : extensions)
        if (id && std::strcmp(id, entry.id) == 0)
            return entry.extension == &kHostTimers && !of(host).offerTimerSupport ? nullptr : entry.extension;
    return nullptr;
}

// ---- Session ----------------------------------------------------------------

namespace {

const char* stageText(int stage)
{
    static const char* const texts[] = {"with no instance", "before init",      "while inactive",
                                        "while active",     "while processing", "after destroy"};
    return texts[stage];
}

} // namespace

ClapSession::ClapSession(ClapModule& module) : module(module), mainThread(std::this_thread::get_id())
{
    host = clap_host_t{CLAP_VERSION_INIT,
                       this,
                       "grindlemark-host",
                       GRINDLEMARK_VENDOR_TEXT,
                       "",
                       GRINDLEMARK_VERSION_TEXT,
                       ClapHostCalls::extension,
                       ClapHostCalls::requestRestart,
                       ClapHostCalls::requestProcess,
                       ClapHostCalls::requestCallback};
    const clap_plugin_factory_t& factory = module.factory();
    inCreate = true;
    instance = factory.create_plugin(&factory, &host, module.descriptor().id);
    inCreate = false;
    if (!instance)
        return;
    if (!instance->desc || blank(instance->desc->id) || std::strcmp(instance->desc->id, module.descriptor().id) != 0)
        fault("plug-in: the instance's descriptor is not the one it was made from");
    stage = Stage::created;
}

ClapSession::~ClapSession()
{
    if (!instance)
        return;
    if (guiCreated)
        closeEditor();
    if (stage == Stage::processing)
        stopProcessing();
    if (stage == Stage::active)
        deactivate();
    destroy();
}

bool ClapSession::mainCall(const char* call, Stage lowest, Stage highest)
{
    bool legal = true;
    if (!isMainThread()) {
        fault(std::string("host: ") + call + " called off the main thread");
        legal = false;
    }
    if (stage < lowest || stage > highest) {
        fault(std::string("host: ") + call + " called " + stageText(static_cast<int>(stage.load())));
        legal = false;
    }
    return legal;
}

bool ClapSession::init()
{
    if (!instance)
        return false;
    const bool legal = mainCall("init", Stage::created, Stage::created);
    const bool accepted = instance->init(instance);
    if (!legal || !accepted) {
        if (!legal && accepted)
            fault("plug-in: accepts init called " + std::string(stageText(static_cast<int>(stage.load()))));
        return accepted;
    }
    stage = Stage::initialised;
    auto fetch = [this](const char* id) {
        return instance->get_extension ? instance->get_extension(instance, id) : nullptr;
    };
    params = static_cast<const clap_plugin_params_t*>(fetch(CLAP_EXT_PARAMS));
    audioPorts = static_cast<const clap_plugin_audio_ports_t*>(fetch(CLAP_EXT_AUDIO_PORTS));
    state = static_cast<const clap_plugin_state_t*>(fetch(CLAP_EXT_STATE));
    latency = static_cast<const clap_plugin_latency_t*>(fetch(CLAP_EXT_LATENCY));
    gui = static_cast<const clap_plugin_gui_t*>(fetch(CLAP_EXT_GUI));
    timerSupport = static_cast<const clap_plugin_timer_support_t*>(fetch(CLAP_EXT_TIMER_SUPPORT));
    checkParameters();
    portsIn = ports(true);
    portsOut = ports(false);
    for (bool input : {true, false}) {
        const std::vector<clap_audio_port_info_t>& found = input ? portsIn : portsOut;
        for (std::size_t i = 0; i < found.size(); ++i) {
            if (found[i].channel_count == 0)
                fault("plug-in: audio port " + std::to_string(i) + " has no channels");
            if ((found[i].flags & CLAP_AUDIO_PORT_IS_MAIN) && i != 0)
                fault("plug-in: its main audio port is not the first");
        }
    }
    return true;
}

void ClapSession::checkParameters()
{
    std::vector<clap_param_info_t> infos;
    if (params && params->count && params->get_info) {
        const std::uint32_t count = params->count(instance);
        for (std::uint32_t index = 0; index < count; ++index) {
            clap_param_info_t info{};
            if (!params->get_info(instance, index, &info)) {
                fault("plug-in: gives no information on parameter " + std::to_string(index));
                continue;
            }
            info.name[sizeof(info.name) - 1] = 0;
            const std::string name = "parameter " + std::to_string(info.id) + " (" + info.name + ")";
            for (const clap_param_info_t& earlier : infos)
                if (earlier.id == info.id)
                    fault("plug-in: two parameters have the id " + std::to_string(info.id));
            if (!info.name[0])
                fault("plug-in: parameter " + std::to_string(info.id) + " has no name");
            if (!std::isfinite(info.min_value) || !std::isfinite(info.max_value) || info.min_value > info.max_value ||
                !(info.default_value >= info.min_value && info.default_value <= info.max_value))
                fault("plug-in: " + name + " has its default outside its range, or no range");
            if ((info.flags & CLAP_PARAM_IS_STEPPED) &&
                (info.min_value != std::trunc(info.min_value) || info.max_value != std::trunc(info.max_value)))
                fault("plug-in: stepped " + name + " has a range that is not whole numbers");
            infos.push_back(info);
        }
    }
    std::lock_guard<std::mutex> lock(receivedMutex);
    knownParameters = std::move(infos);
}

std::vector<clap_param_info_t> ClapSession::parameterInfos()
{
    std::lock_guard<std::mutex> lock(receivedMutex);
    return knownParameters;
}

bool ClapSession::activate(double sampleRate, std::uint32_t minFrames, std::uint32_t maxFrames)
{
    if (!instance)
        return false;
    const bool legal = mainCall("activate", Stage::initialised, Stage::initialised);
    inActivate = true;
    const bool accepted = instance->activate(instance, sampleRate, minFrames, maxFrames);
    inActivate = false;
    if (!legal && accepted)
        fault("plug-in: accepts activate called " + std::string(stageText(static_cast<int>(stage.load()))));
    if (legal && accepted) {
        stage = Stage::active;
        activeLatency = latency && latency->get ? latency->get(instance) : 0u;
    }
    return accepted;
}

void ClapSession::deactivate()
{
    if (!instance)
        return;
    const bool legal = mainCall("deactivate", Stage::active, Stage::active);
    instance->deactivate(instance);
    if (legal) {
        stage = Stage::initialised;
        activeLatency.reset();
    }
}

bool ClapSession::startProcessing()
{
    if (!instance)
        return false;
    const AudioRole role(*this, "start_processing");
    const bool legal = stage == Stage::active;
    if (!legal)
        fault("host: start_processing called " + std::string(stageText(static_cast<int>(stage.load()))));
    const bool accepted = instance->start_processing(instance);
    if (!legal && accepted)
        fault("plug-in: accepts start_processing called " + std::string(stageText(static_cast<int>(stage.load()))));
    if (legal && accepted)
        stage = Stage::processing;
    return accepted;
}

void ClapSession::stopProcessing()
{
    if (!instance)
        return;
    const AudioRole role(*this, "stop_processing");
    const bool legal = stage == Stage::processing;
    if (!legal)
        fault("host: stop_processing called " + std::string(stageText(static_cast<int>(stage.load()))));
    instance->stop_processing(instance);
    if (legal)
        stage = Stage::active;
}

void ClapSession::destroy()
{
    if (!instance)
        return;
    mainCall("destroy", Stage::created, Stage::initialised);
    instance->destroy(instance);
    instance = nullptr;
    stage = Stage::destroyed;
    guiCreated = false;
    for (const Timer& timer : timers)
        fault("plug-in: leaves timer " + std::to_string(timer.id) + " registered when destroyed");
    timers.clear();
    for (clap_id parameter : openGestures)
        fault("plug-in: leaves a gesture on parameter " + std::to_string(parameter) + " unfinished");
    openGestures.clear();
}

template <typename Sample>
clap_process_status ClapSession::process(Sample* const* inputs, std::uint32_t inputChannels, Sample* const* outputs,
                                         std::uint32_t outputChannels, std::uint32_t frames,
                                         const std::vector<clap_event_param_value_t>& events)
{
    if (!instance)
        return CLAP_PROCESS_ERROR;
    const AudioRole role(*this, "process");
    const bool legal = stage == Stage::processing;
    if (!legal)
        fault("host: process called " + std::string(stageText(static_cast<int>(stage.load()))));
    if constexpr (std::is_same_v<Sample, double>)
        for (const auto* ports : {&portsIn, &portsOut})
            if (!ports->empty() && !(ports->front().flags & CLAP_AUDIO_PORT_SUPPORTS_64BITS))
                fault("host: process with 64-bit samples on a port that takes 32-bit samples only");
    // The main ports carry the given audio; the others silence, into scratch.
    const std::size_t extraIn = portsIn.size() > 1 ? portsIn.size() - 1 : 0;
    const std::size_t extraOut = portsOut.size() > 1 ? portsOut.size() - 1 : 0;
    std::vector<clap_audio_buffer_t> inputBuffers(1 + extraIn);
    std::vector<clap_audio_buffer_t> outputBuffers(1 + extraOut);
    std::vector<std::vector<Sample>> scratch;
    std::vector<std::vector<Sample*>> scratchChannels;
    auto attach = [&](clap_audio_buffer_t& buffer, Sample* const* channels, std::uint32_t count) {
        buffer = clap_audio_buffer_t{};
        if constexpr (std::is_same_v<Sample, float>)
            buffer.data32 = const_cast<float**>(channels);
        else
            buffer.data64 = const_cast<double**>(channels);
        buffer.channel_count = count;
    };
    auto attachSilence = [&](clap_audio_buffer_t& buffer, std::uint32_t count) {
        scratch.emplace_back(static_cast<std::size_t>(count) * frames, Sample(0));
        scratchChannels.emplace_back(count);
        for (std::uint32_t c = 0; c < count; ++c)
            scratchChannels.back()[c] = scratch.back().data() + static_cast<std::size_t>(c) * frames;
        attach(buffer, scratchChannels.back().data(), count);
    };
    scratch.reserve(extraIn + extraOut);
    scratchChannels.reserve(extraIn + extraOut);
    attach(inputBuffers[0], inputs, inputChannels);
    attach(outputBuffers[0], outputs, outputChannels);
    for (std::size_t port = 1; port < inputBuffers.size(); ++port)
        attachSilence(inputBuffers[port], portsIn[port].channel_count);
    for (std::size_t port = 1; port < outputBuffers.size(); ++port)
        attachSilence(outputBuffers[port], portsOut[port].channel_count);
    const InputList in(events, onEventsRead);
    OutputList out(*this);
    const clap_process_t block{steadyTime,
                               frames,
                               nullptr,
                               inputBuffers.data(),
                               outputBuffers.data(),
                               static_cast<std::uint32_t>(inputBuffers.size()),
                               static_cast<std::uint32_t>(outputBuffers.size()),
                               in.handle(),
                               out.handle()};
    const clap_process_status status = instance->process(instance, &block);
    steadyTime += frames;
    receive(out, frames, false);
    if (!legal && status != CLAP_PROCESS_ERROR)
        fault("plug-in: processes a block called " + std::string(stageText(static_cast<int>(stage.load()))));
    return status;
}

template clap_process_status ClapSession::process<float>(float* const*, std::uint32_t, float* const*, std::uint32_t,
                                                         std::uint32_t, const std::vector<clap_event_param_value_t>&);
template clap_process_status ClapSession::process<double>(double* const*, std::uint32_t, double* const*, std::uint32_t,
                                                          std::uint32_t, const std::vector<clap_event_param_value_t>&);

void ClapSession::flush(const std::vector<clap_event_param_value_t>& events)
{
    if (!instance || !params || !params->flush)
        return;
    // Active, flush is an audio-thread call; inactive, a main-thread one.
    std::optional<AudioRole> role;
    if (isActive())
        role.emplace(*this, "params.flush");
    else
        mainCall("params.flush", Stage::initialised, Stage::initialised);
    const InputList in(events, nullptr);
    OutputList out(*this);
    params->flush(instance, in.handle(), out.handle());
    receive(out, 0, true);
}

void ClapSession::receive(const OutputList& list, std::uint32_t frames, bool fromFlush)
{
    std::lock_guard<std::mutex> lock(receivedMutex);
    auto parameterName = [this](clap_id id) -> std::string {
        for (const clap_param_info_t& info : knownParameters)
            if (info.id == id)
                return "parameter " + std::to_string(id) + " (" + info.name + ")";
        return {};
    };
    std::uint32_t previousTime = 0;
    for (const std::vector<std::uint8_t>& bytes : list.events()) {
        clap_event_header_t header;
        std::memcpy(&header, bytes.data(), sizeof(header));
        if (!fromFlush) {
            if (header.time >= frames && frames > 0)
                fault("plug-in: sends an event at frame " + std::to_string(header.time) + " of a " +
                      std::to_string(frames) + "-frame block");
            if (header.time < previousTime)
                fault("plug-in: sends events out of time order");
            previousTime = header.time;
        }
        if (header.space_id != CLAP_CORE_EVENT_SPACE_ID)
            continue;
        const bool gesture =
            header.type == CLAP_EVENT_PARAM_GESTURE_BEGIN || header.type == CLAP_EVENT_PARAM_GESTURE_END;
        if (header.type != CLAP_EVENT_PARAM_VALUE && !gesture)
            continue;
        if (bytes.size() < (gesture ? sizeof(clap_event_param_gesture_t) : sizeof(clap_event_param_value_t))) {
            fault("plug-in: sends a parameter event of " + std::to_string(bytes.size()) + " bytes");
            continue;
        }
        clap_event_param_value_t event{};
        std::memcpy(&event, bytes.data(), std::min(bytes.size(), sizeof(event)));
        const std::string name = parameterName(event.param_id);
        if (name.empty()) {
            fault("plug-in: sends an event for parameter " + std::to_string(event.param_id) +
                  ", which it does not have");
            continue;
        }
        const auto open = std::find(openGestures.begin(), openGestures.end(), event.param_id);
        if (header.type == CLAP_EVENT_PARAM_GESTURE_BEGIN) {
            if (open != openGestures.end())
                fault("plug-in: begins a second gesture on " + name + " before ending the first");
            else
                openGestures.push_back(event.param_id);
        } else if (header.type == CLAP_EVENT_PARAM_GESTURE_END) {
            if (open == openGestures.end())
                fault("plug-in: ends a gesture on " + name + " that it never began");
            else
                openGestures.erase(open);
        } else {
            // A value outside the range would land in the host's automation;
            // read-only parameters (meters) only show what they send.
            for (const clap_param_info_t& info : knownParameters)
                if (info.id == event.param_id && !(info.flags & CLAP_PARAM_IS_READONLY) &&
                    !(event.value >= info.min_value && event.value <= info.max_value))
                    fault("plug-in: sends " + name + " the value " + std::to_string(event.value) +
                          ", outside its range");
        }
        received.push_back({header.type, event.param_id, gesture ? 0.0 : event.value, fromFlush});
    }
}

std::vector<ClapReceivedEvent> ClapSession::takeReceivedEvents()
{
    std::lock_guard<std::mutex> lock(receivedMutex);
    std::vector<ClapReceivedEvent> taken;
    taken.swap(received);
    return taken;
}

// ---- Extensions -------------------------------------------------------------

std::optional<double> ClapSession::parameterValue(clap_id id)
{
    if (!instance || !params || !params->get_value)
        return std::nullopt;
    mainCall("params.get_value");
    double value = 0.0;
    if (!params->get_value(instance, id, &value))
        return std::nullopt;
    return value;
}

std::optional<std::string> ClapSession::valueText(clap_id id, double value)
{
    if (!instance || !params || !params->value_to_text)
        return std::nullopt;
    mainCall("params.value_to_text");
    char text[256];
    std::memset(text, 0x55, sizeof(text));
    if (!params->value_to_text(instance, id, value, text, sizeof(text)))
        return std::nullopt;
    if (!std::memchr(text, 0, sizeof(text))) {
        fault("plug-in: value_to_text writes a text without an end");
        return std::nullopt;
    }
    return std::string(text);
}

std::optional<double> ClapSession::textValue(clap_id id, const std::string& text)
{
    if (!instance || !params || !params->text_to_value)
        return std::nullopt;
    mainCall("params.text_to_value");
    double value = 0.0;
    if (!params->text_to_value(instance, id, text.c_str(), &value))
        return std::nullopt;
    return value;
}

std::uint32_t ClapSession::latencyFrames()
{
    if (!instance || !latency || !latency->get)
        return 0;
    mainCall("latency.get");
    const std::uint32_t frames = latency->get(instance);
    if (activeLatency && frames != *activeLatency)
        fault("plug-in: its latency moved from " + std::to_string(*activeLatency) + " to " + std::to_string(frames) +
              " frames while active");
    return frames;
}

namespace {

struct StreamBuffer {
    std::vector<std::uint8_t> bytes;
    std::size_t position = 0;
    std::size_t chunk = 0;
    std::optional<std::size_t> failAfter;
};

std::int64_t CLAP_ABI writeStream(const clap_ostream_t* stream, const void* buffer, std::uint64_t size)
{
    auto& target = *static_cast<StreamBuffer*>(stream->ctx);
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    target.bytes.insert(target.bytes.end(), bytes, bytes + size);
    return static_cast<std::int64_t>(size);
}

std::int64_t CLAP_ABI readStream(const clap_istream_t* stream, void* buffer, std::uint64_t size)
{
    auto& source = *static_cast<StreamBuffer*>(stream->ctx);
    if (source.failAfter && source.position >= *source.failAfter)
        return -1;
    const std::size_t count = std::min<std::uint64_t>({size, source.chunk, source.bytes.size() - source.position});
    if (count > 0) // an empty state has no bytes to point at
        std::memcpy(buffer, source.bytes.data() + source.position, count);
    source.position += count;
    return static_cast<std::int64_t>(count);
}

} // namespace

std::optional<std::vector<std::uint8_t>> ClapSession::saveState()
{
    if (!instance || !state || !state->save)
        return std::nullopt;
    mainCall("state.save");
    StreamBuffer target;
    const clap_ostream_t stream{&target, writeStream};
    if (!state->save(instance, &stream))
        return std::nullopt;
    return target.bytes;
}

bool ClapSession::loadState(const std::vector<std::uint8_t>& bytes, std::size_t chunk,
                            std::optional<std::size_t> failAfter)
{
    if (!instance || !state || !state->load)
        return false;
    mainCall("state.load");
    StreamBuffer source{bytes, 0, std::max<std::size_t>(chunk, 1), failAfter};
    const clap_istream_t stream{&source, readStream};
    return state->load(instance, &stream);
}

std::vector<clap_audio_port_info_t> ClapSession::ports(bool input)
{
    std::vector<clap_audio_port_info_t> found;
    if (!instance || !audioPorts || !audioPorts->count || !audioPorts->get)
        return found;
    // Ports are only scanned while the plug-in is inactive.
    mainCall("audio_ports.get", Stage::initialised, Stage::initialised);
    const std::uint32_t count = audioPorts->count(instance, input);
    for (std::uint32_t index = 0; index < count; ++index) {
        clap_audio_port_info_t info{};
        if (audioPorts->get(instance, index, input, &info))
            found.push_back(info);
        else
            fault("plug-in: gives no information on audio port " + std::to_string(index));
    }
    return found;
}

// ---- Editor and main loop -------------------------------------------------------

bool ClapSession::editorSize(std::uint32_t& width, std::uint32_t& height)
{
    if (!instance || !gui)
        return false;
    mainCall("gui.get_size");
    if (!guiCreated) {
        if (!gui->is_api_supported(instance, clapWindowApi(), false) || !gui->create(instance, clapWindowApi(), false))
            return false;
        guiCreated = true;
        gui->set_scale(instance, 1.0);
    }
    return gui->get_size(instance, &width, &height) && width > 0 && height > 0;
}

bool ClapSession::openEditor(const char* api, std::uintptr_t parentWindow)
{
    if (!instance || !gui)
        return false;
    mainCall("gui.set_parent");
    if (!guiCreated) {
        if (!gui->is_api_supported(instance, api, false) || !gui->create(instance, api, false))
            return false;
        guiCreated = true;
        gui->set_scale(instance, 1.0);
    }
    clap_window_t window{};
    window.api = api;
    window.uptr = parentWindow;
    return gui->set_parent(instance, &window) && gui->show(instance);
}

void ClapSession::closeEditor()
{
    if (!instance || !gui || !guiCreated)
        return;
    mainCall("gui.destroy");
    gui->hide(instance);
    gui->destroy(instance);
    guiCreated = false;
}

void ClapSession::serviceMainThread()
{
    if (!instance || !isMainThread())
        return;
    if (callbackWanted.exchange(false) && stage >= Stage::initialised)
        instance->on_main_thread(instance);
    // A timer callback may register or remove timers: take the due ones first.
    const auto now = std::chrono::steady_clock::now();
    std::vector<clap_id> due;
    for (Timer& timer : timers)
        if (timer.due <= now) {
            timer.due = now + timer.period;
            due.push_back(timer.id);
        }
    for (clap_id id : due) {
        const bool held =
            std::any_of(timers.begin(), timers.end(), [id](const Timer& timer) { return timer.id == id; });
        if (held && timerSupport && timerSupport->on_timer)
            timerSupport->on_timer(instance, id);
    }
}

clap_event_param_value_t clapParameterEvent(clap_id id, double value, std::uint32_t time)
{
    clap_event_param_value_t event{};
    event.header = {sizeof(event), time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
    event.param_id = id;
    event.note_id = -1;
    event.port_index = -1;
    event.channel = -1;
    event.key = -1;
    event.value = value;
    return event;
}

const char* clapWindowApi()
{
#if defined(_WIN32)
    return CLAP_WINDOW_API_WIN32;
#else
    return CLAP_WINDOW_API_X11;
#endif
}
