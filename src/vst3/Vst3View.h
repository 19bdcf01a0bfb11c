// The editor as a VST 3 view: the shared panel opened as a child of the
// host's window (an X11 window on Linux, an HWND on Windows). On Linux the
// host's run loop, reached through the frame, drives the panel's idle pump;
// a host that gives no frame or no run loop gets a timer of the editor's
// own. Windows' panel runs its own timer. Host UI thread throughout.
#pragma once

#include "format/EditorPump.h"
#include "gui/editor/PanelView.h"
#include "vst3/Vst3Abi.h"

#include <atomic>
#include <memory>

class Vst3Plugin;

class Vst3View final : public vst3::IPlugView, public vst3::IPlugViewContentScaleSupport, public vst3::ITimerHandler {
public:
    explicit Vst3View(Vst3Plugin& plugin); // holds a reference to the plug-in
    Vst3View(const Vst3View&) = delete;
    Vst3View& operator=(const Vst3View&) = delete;

    vst3::tresult VST3CALL queryInterface(const vst3::TUID iid, void** object) override;
    std::uint32_t VST3CALL addRef() override;
    std::uint32_t VST3CALL release() override;

    vst3::tresult VST3CALL isPlatformTypeSupported(const char* type) override;
    vst3::tresult VST3CALL attached(void* parent, const char* type) override;
    vst3::tresult VST3CALL removed() override;
    vst3::tresult VST3CALL onWheel(float) override { return vst3::kResultFalse; }
    vst3::tresult VST3CALL onKeyDown(vst3::TChar, std::int16_t, std::int16_t) override { return vst3::kResultFalse; }
    vst3::tresult VST3CALL onKeyUp(vst3::TChar, std::int16_t, std::int16_t) override { return vst3::kResultFalse; }
    vst3::tresult VST3CALL getSize(vst3::ViewRect* size) override;
    vst3::tresult VST3CALL onSize(vst3::ViewRect* newSize) override;
    vst3::tresult VST3CALL onFocus(std::uint8_t) override { return vst3::kResultOk; }
    vst3::tresult VST3CALL setFrame(vst3::IPlugFrame* frame) override;
    vst3::tresult VST3CALL canResize() override { return vst3::kResultFalse; }
    vst3::tresult VST3CALL checkSizeConstraint(vst3::ViewRect* rect) override;

    // The panel keeps its size until it has a larger skin; the factor is taken.
    vst3::tresult VST3CALL setContentScaleFactor(float factor) override;

    void VST3CALL onTimer() override;

private:
    ~Vst3View();
    void startPump();
    void stopPump();
    void closePanel();

    std::atomic<std::uint32_t> references{1};
    Vst3Plugin& plugin;
    std::unique_ptr<PanelView> panel;
    vst3::IPlugFrame* frame = nullptr;
    vst3::IRunLoop* runLoop = nullptr; // while the host's timer drives the panel
    EditorPump ownTimer;               // where it has none
    float contentScale = 1.0f;
};
