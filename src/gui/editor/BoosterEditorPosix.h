// The booster's editor on Linux: the same 606 x 291 panel, controls and
// displays as on Windows, drawn with cairo into one child window of the host's
// X11 window. Hosts drive it through idle() on their user-interface thread:
// the editor's X events and its refresh cycle run there and nowhere else.
// Without a display the editor does not open.
#pragma once

#include "effect/EditorDisplay.h"
#include "effect/PanelHost.h"
#include "gui/editor/PanelLinks.h"
#include "gui/editor/PanelView.h"
#include "gui/toolkit/MeterGeometry.h"
#include "gui/toolkit/ScopeRaster.h"
#include "gui/toolkit/SkinSurface.h"
#include "update/UpdateCheck.h"

#include <array>
#include <chrono>

struct _XDisplay;
union _XEvent;

class BoosterEditor : public PanelView {
public:
    // Decodes and composes the pictures and attaches its display data to the
    // host's processor; needs no display.
    explicit BoosterEditor(PanelHost& host);
    ~BoosterEditor() override;

    // parentWindow is the host's X11 window id. False without a display or
    // with a window the display does not know.
    bool open(void* parentWindow) override;
    void close() override;
    bool isOpen() const override { return display != nullptr; }
    void idle() override;
    std::uintptr_t nativeWindow() const override { return window; }

    // False when the panel picture could not be decoded.
    bool hasPictures() const { return static_cast<bool>(frame); }
    // For tests and the host tool.
    unsigned long getWindow() const { return window; }
    bool isAboutShown() const { return aboutShown; }
    const DialRing& ring(int dial, int ring) const { return dials[static_cast<std::size_t>(dial)].rings[ring]; }
    int buttonState(int button) const { return buttons[static_cast<std::size_t>(button)].state; }
    // Replaces the update check's start (tests only; null restores it).
    static void setUpdateCheckStarter(void (*starter)(UpdateCheckState&, void*));

private:
    struct Dial {
        DialRing rings[2];
        SkinSurface base;   // the panel region with the base image: every LED dark
        SkinSurface lit[2]; // per ring, the picture its lit pixels come from
    };
    struct Button {
        SkinSurface strip; // off frame above on frame
        int state = 0;
    };
    struct Scope {
        ScopeRaster raster;
        SkinSurface shown; // what the last commit showed
    };
    struct Meter {
        MeterBar bars[2];
        SkinSurface off;
        SkinSurface on;
    };

    void handleEvent(const _XEvent& event);
    void pressAt(int x, int y, unsigned button, unsigned modifiers);
    void releaseAt(int x, int y, unsigned button);
    void moveTo(int x, int y, unsigned modifiers);
    int dialAt(int x, int y) const;
    void onButton(int command, int state);
    void endGestures();

    void syncControls();
    void feedDisplays();
    void commitScope(Scope& scope, std::uint8_t fade);
    void render();
    void renderDial(int index);
    void present();

    PanelHost& host;
    int panelWidth = 0; // of the decoded panel picture
    int panelHeight = 0;
    SkinSurface panel;
    SkinSurface about;
    SkinSurface frame; // the whole panel as last rendered
    bool aboutShown = false;
    bool dirty = false;
    int capturedDial = -1; // the dial a drag holds the mouse for
    std::array<Dial, 3> dials;
    std::array<DialLink, 3> dialLinks;
    std::array<Button, 5> buttons;
    std::array<Scope, 3> scopes;
    std::array<Meter, 2> meters;
    UpdateCheckState updateState;
    std::chrono::steady_clock::time_point lastFeed{};

    _XDisplay* display = nullptr;
    unsigned long window = 0;
    cairo_surface_t* windowSurface = nullptr;

    // What the audio thread hands over; attached to the processor for the
    // editor's lifetime.
    EditorDisplay displayData;
    std::array<double, kResponsePoints> responseCopy{};
};
