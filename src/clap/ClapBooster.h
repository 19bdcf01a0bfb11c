// The booster as a CLAP plug-in instance: the plug-in record a host holds and
// the extensions it asks for (parameters, audio ports, state, latency, editor
// and its timer), all over one BoosterProcessor. Every call from the host is
// checked against the lifecycle and, where the host offers thread-check,
// against the thread CLAP assigns it; a call that breaks the rules is
// answered as refused and changes nothing.
#pragma once

#include "clap/GestureQueue.h"
#include "effect/BoosterProcessor.h"
#include "effect/PanelHost.h"
#include "format/EditorPump.h"

#include <clap/ext/gui.h>
#include <clap/ext/latency.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/ext/thread-check.h>
#include <clap/ext/timer-support.h>
#include <clap/plugin.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

class PanelView;

// The identity hosts file the plug-in under; it never changes.
extern const clap_plugin_descriptor_t kClapDescriptor;

// The 16 factory programs as one stepped parameter that hosts show as a list
// of program names and do not automate. Its id stays clear of the VST2
// indices that the other parameters use as ids, now and after new ones.
constexpr clap_id kProgramParameterId = 0x70726f67; // 'prog'
constexpr std::uint32_t kClapParameterCount = kNumParameters + 1;

class ClapBooster final : public PanelHost {
public:
    explicit ClapBooster(const clap_host_t* host);
    ~ClapBooster() override;
    ClapBooster(const ClapBooster&) = delete;
    ClapBooster& operator=(const ClapBooster&) = delete;

    const clap_plugin_t* plugin() const { return &record; }

    // PanelHost: the editor's reads and gestures, on the main thread.
    BoosterProcessor& processor() override { return booster; }
    float parameter(int index) override;
    void beginEdit(int index) override;
    void performEdit(int index, float value) override;
    void endEdit(int index) override;

private:
    friend struct ClapCalls;

    // The plug-in record's calls.
    bool init();
    bool activate(double sampleRate, std::uint32_t minFrames, std::uint32_t maxFrames);
    void deactivate();
    bool startProcessing();
    void stopProcessing();
    clap_process_status process(const clap_process_t& block);
    const void* extension(const char* id) const;
    void onMainThread();

    // Parameters.
    bool parameterInfo(std::uint32_t index, clap_param_info_t& info) const;
    bool parameterValue(clap_id id, double& value);
    bool valueToText(clap_id id, double value, char* text, std::uint32_t size);
    bool textToValue(clap_id id, const char* text, double& value);
    void flush(const clap_input_events_t* in, const clap_output_events_t* out);

    // State and latency.
    bool saveState(const clap_ostream_t& stream);
    bool loadState(const clap_istream_t& stream);
    std::uint32_t latency();

    // The editor.
    bool createEditor(const char* api, bool floating);
    void destroyEditor();
    bool setEditorParent(const clap_window_t& window);
    bool showEditor();
    bool hideEditor();
    void onTimer(clap_id timer);
    void startPump();

    bool onMainThreadCheck() const;
    bool onAudioThreadCheck() const;

    // Host events and editor edits, applied on the thread that runs process
    // or flush.
    void applyEvent(const clap_event_header_t& event);
    void setValue(int index, float value);
    void takeEditorEdits(const clap_output_events_t* out);

    // Main thread.
    void applyProgram(int program);
    void refreshShownValues();
    void requestFlushIfIdle();
    // What the main thread owes the host, asked for from any thread.
    void notify(std::uint32_t notices);

    clap_plugin_t record;
    const clap_host_t* host;
    const clap_host_thread_check_t* threadCheck = nullptr;
    const clap_host_params_t* hostParams = nullptr;
    const clap_host_latency_t* hostLatency = nullptr;
    const clap_host_timer_support_t* hostTimers = nullptr;

    BoosterProcessor booster;
    bool initialised = false;
    std::atomic<bool> active{false};
    std::atomic<bool> processing{false};
    // Set while process or flush runs, so that a second one at the same time
    // (a host breaking the rules) is refused instead of racing the first.
    std::atomic<bool> audioCallRunning{false};
    int activeLatency = 0;
    int reportedLatency = 0;
    bool restartRequested = false;

    // The values as the host and the editor see them: written by whoever
    // changes one, read by the main thread without touching the processor's
    // lock, which the audio thread then has to itself.
    std::array<std::atomic<float>, kNumParameters> shown;
    // Editor edits made while active, for the audio thread to apply.
    std::atomic<std::uint32_t> editorChanges{0};
    GestureQueue gestures;
    // A program a host event chose, for the main thread to load.
    std::atomic<int> pendingProgram{-1};
    std::atomic<std::uint32_t> pendingNotices{0};

    // The editor, with its pump: the host's timer, or where the host offers
    // none, a thread of its own whose lock the main thread's editor calls take.
    std::unique_ptr<PanelView> view;
    std::uintptr_t parentWindow = 0;
    clap_id timer = CLAP_INVALID_ID;
    EditorPump ownPump;
};
