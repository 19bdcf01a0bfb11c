// A strict CLAP host for one plug-in file: it loads the module through its
// clap_entry, makes instances through the plug-in factory and drives each
// through the plug-in's own calls, checking as it goes that every call comes
// in CLAP's order (init, activate, start processing, process, stop
// processing, deactivate, destroy) and on the thread CLAP assigns it. It
// checks the plug-in's side as well: host calls made on the wrong thread or
// at the wrong time, events that break the rules, latency that moves while
// active, timers or gestures left behind. Every breach is recorded as a fault
// and the call is still made, so a test can see how a plug-in answers a host
// that breaks the rules.
//
// The main thread of an instance is the thread that created it; the audio
// thread is whichever thread is inside an audio-thread call at the time (CLAP
// lets a host move that role between threads, never share it).
#pragma once

#include "PluginLibrary.h"

#include <clap/entry.h>
#include <clap/ext/audio-ports.h>
#include <clap/ext/gui.h>
#include <clap/ext/latency.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/ext/thread-check.h>
#include <clap/ext/timer-support.h>
#include <clap/plugin-factory.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// Faults seen by the host, from any thread.
class ClapFaults {
public:
    void add(std::string fault);
    std::vector<std::string> list() const;
    bool empty() const;
    void clear();

private:
    mutable std::mutex mutex;
    std::vector<std::string> faults;
};

// A loaded .clap file: its entry initialised, its factory found.
class ClapModule {
public:
    ClapModule() = default;
    ~ClapModule(); // deinitialises the entry; every session must be gone
    ClapModule(const ClapModule&) = delete;
    ClapModule& operator=(const ClapModule&) = delete;

    // False with a readable reason when the file is no CLAP module.
    bool load(const std::string& path, std::string& error);
    const clap_plugin_factory_t& factory() const { return *pluginFactory; }
    // The module's first plug-in, the one sessions make.
    const clap_plugin_descriptor_t& descriptor() const { return *firstDescriptor; }
    ClapFaults& faults() { return moduleFaults; }

private:
    PluginLibrary library;
    const clap_plugin_entry_t* entry = nullptr;
    const clap_plugin_factory_t* pluginFactory = nullptr;
    const clap_plugin_descriptor_t* firstDescriptor = nullptr;
    ClapFaults moduleFaults;
};

// An event the plug-in sent, as the host received it.
struct ClapReceivedEvent {
    std::uint16_t type; // CLAP_EVENT_PARAM_VALUE, CLAP_EVENT_PARAM_GESTURE_BEGIN, ...
    clap_id parameter;
    double value; // for values
    bool fromFlush;
};

class ClapSession {
public:
    // Creates an instance of the module's first plug-in on this thread, which
    // becomes its main thread. Check plugin() after.
    explicit ClapSession(ClapModule& module);
    // Ends the instance in CLAP's order from wherever it is: stop processing,
    // deactivate, destroy the editor, destroy.
    ~ClapSession();
    ClapSession(const ClapSession&) = delete;
    ClapSession& operator=(const ClapSession&) = delete;

    const clap_plugin_t* plugin() const { return instance; }
    ClapFaults& faults() { return module.faults(); }

    // The plug-in record's calls, checked.
    bool init();
    bool activate(double sampleRate, std::uint32_t minFrames, std::uint32_t maxFrames);
    void deactivate();
    bool startProcessing();
    void stopProcessing();
    void destroy();
    // One block of `frames` samples per channel through the main ports; any
    // further ports get silence in and scratch out. Events are delivered as
    // given (a test may give them out of order).
    template <typename Sample>
    clap_process_status process(Sample* const* inputs, std::uint32_t inputChannels, Sample* const* outputs,
                                std::uint32_t outputChannels, std::uint32_t frames,
                                const std::vector<clap_event_param_value_t>& events = {});
    void flush(const std::vector<clap_event_param_value_t>& events = {});

    // For tests: whether the host offers timer support, set before init (a
    // plug-in's editor then has to pump itself).
    bool offerTimerSupport = true;
    // For tests: runs on the audio thread when the plug-in asks how many
    // events a block has, so that a test can hold a call open.
    std::function<void()> onEventsRead;

    // The plug-in's extensions, fetched by init (null when it has none).
    const clap_plugin_params_t* params = nullptr;
    const clap_plugin_audio_ports_t* audioPorts = nullptr;
    const clap_plugin_state_t* state = nullptr;
    const clap_plugin_latency_t* latency = nullptr;
    const clap_plugin_gui_t* gui = nullptr;
    const clap_plugin_timer_support_t* timerSupport = nullptr;

    // Checked calls into those extensions, on the main thread.
    std::vector<clap_param_info_t> parameterInfos();
    std::optional<double> parameterValue(clap_id id);
    std::optional<std::string> valueText(clap_id id, double value);
    std::optional<double> textValue(clap_id id, const std::string& text);
    std::uint32_t latencyFrames();
    // The state as saved, or nothing when the plug-in refuses.
    std::optional<std::vector<std::uint8_t>> saveState();
    // Loads bytes handed over in reads of at most `chunk` bytes; a read error
    // after `failAfter` bytes when that is given.
    bool loadState(const std::vector<std::uint8_t>& bytes, std::size_t chunk = 4096,
                   std::optional<std::size_t> failAfter = std::nullopt);
    std::vector<clap_audio_port_info_t> ports(bool input);

    // The editor: create, parent, show; hide and destroy. A checked sequence.
    bool openEditor(const char* api, std::uintptr_t parentWindow);
    void closeEditor();
    bool editorSize(std::uint32_t& width, std::uint32_t& height);
    bool editorCreated() const { return guiCreated; }

    // What a host's main loop does: the callback the plug-in asked for, and
    // the timers that are due.
    void serviceMainThread();
    std::size_t timerCount() const { return timers.size(); }
    // Requests that the caller serves, each taken once.
    bool takeRestartRequest() { return restartWanted.exchange(false); }
    bool takeFlushRequest() { return flushWanted.exchange(false); }

    bool isActive() const { return stage >= Stage::active; }
    bool isProcessing() const { return stage == Stage::processing; }
    // What the plug-in told the host.
    std::vector<ClapReceivedEvent> takeReceivedEvents();
    int restartRequests() const { return restarts.load(); }
    int flushRequests() const { return flushes.load(); }
    int valueRescans() const { return rescans.load(); }
    int latencyChanges() const { return latencyChangeCount.load(); }

    // The host's own thread answers, as the plug-in asks them.
    bool isMainThread() const { return std::this_thread::get_id() == mainThread; }
    bool isAudioThread() const { return audioThread.load() == std::this_thread::get_id(); }

private:
    enum class Stage { none, created, initialised, active, processing, destroyed };
    friend struct ClapHostCalls;
    class AudioRole;
    class OutputList;

    void fault(const std::string& text) { faults().add(text); }
    // Checks one call on the main thread at one of the given stages.
    bool mainCall(const char* call, Stage lowest, Stage highest);
    bool mainCall(const char* call) { return mainCall(call, Stage::initialised, Stage::processing); }
    void checkParameters();
    void receive(const OutputList& list, std::uint32_t frames, bool fromFlush);

    ClapModule& module;
    clap_host_t host;
    const clap_plugin_t* instance = nullptr;
    std::atomic<Stage> stage{Stage::none};
    std::thread::id mainThread;
    std::atomic<std::thread::id> audioThread{};
    bool inCreate = false;
    bool inActivate = false;
    std::optional<std::uint32_t> activeLatency;
    std::vector<clap_param_info_t> knownParameters;
    std::vector<clap_audio_port_info_t> portsIn;
    std::vector<clap_audio_port_info_t> portsOut;
    std::vector<clap_id> openGestures;
    std::int64_t steadyTime = 0;

    bool guiCreated = false;
    struct Timer {
        clap_id id;
        std::chrono::milliseconds period;
        std::chrono::steady_clock::time_point due;
    };
    std::vector<Timer> timers;
    clap_id nextTimer = 1;

    std::mutex receivedMutex;
    std::vector<ClapReceivedEvent> received;
    std::atomic<bool> callbackWanted{false};
    std::atomic<bool> restartWanted{false};
    std::atomic<bool> flushWanted{false};
    std::atomic<int> restarts{0};
    std::atomic<int> flushes{0};
    std::atomic<int> rescans{0};
    std::atomic<int> latencyChangeCount{0};
};

// A parameter value event at a frame, for process and flush.
clap_event_param_value_t clapParameterEvent(clap_id id, double value, std::uint32_t time = 0);

// The window system API the editor embeds into on this platform.
const char* clapWindowApi();
