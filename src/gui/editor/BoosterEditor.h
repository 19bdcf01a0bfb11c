// The booster's own editor: a 606 x 291 panel with three dials, five LED
// buttons, the response curve, two XY scopes and two level meters, kept in
// step with the parameters by a 33 ms refresh cycle on a timer of its own.
// Windows only; every operation runs on the host's user-interface thread.
#pragma once

#include "effect/EditorDisplay.h"
#include "effect/PanelHost.h"
#include "gui/editor/PanelLinks.h"
#include "gui/editor/PanelView.h"
#include "gui/toolkit/CLedButton.h"
#include "gui/toolkit/CLedDial.h"
#include "gui/toolkit/CScopeXY.h"
#include "gui/toolkit/CSlider.h"
#include "update/UpdateCheck.h"

#include <array>

constexpr UINT_PTR kRefreshTimerId = 4660;

class BoosterEditor : public PanelView {
public:
    // Registers the panel's window class with the first editor, decodes the
    // panel and about pictures and attaches its display data to the host's
    // processor.
    explicit BoosterEditor(PanelHost& host);
    ~BoosterEditor() override;

    // parentWindow is the host's HWND.
    bool open(void* parentWindow) override;
    void close() override;
    bool isOpen() const override { return window != nullptr; }
    void idle() override {} // the refresh timer drives the panel
    std::uintptr_t nativeWindow() const override { return reinterpret_cast<std::uintptr_t>(window); }

    // False when the panel picture could not be decoded.
    bool hasPictures() const { return panelBitmap != nullptr; }

    // For tests and the host tool.
    HWND getWindow() const { return window; }
    bool isAboutShown() const { return aboutShown; }
    CLedDial& dial(int index) { return dials[static_cast<std::size_t>(index)]; }
    CLedButton& button(int index) { return buttons[static_cast<std::size_t>(index)]; }
    CSlider& meter(int index) { return meters[static_cast<std::size_t>(index)]; }
    CScopeXY& scope(int index) { return scopes[static_cast<std::size_t>(index)]; }
    // Replaces the update check's start (tests only; null restores it).
    static void setUpdateCheckStarter(void (*starter)(UpdateCheckState&, void*));

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void paint(HWND hwnd, HDC given);
    void onButton(WPARAM command, LPARAM state);
    void onDialGesture(UINT message, WPARAM ring, LPARAM dialWindow);
    void endGestures();
    void showControls(int showCommand);

    void refresh();
    void feedResponseCurve();
    void feedScopes();
    void feedMeters();
    void syncDials();
    void syncButtons();

    PanelHost& host;
    int panelWidth = 0; // of the decoded panel picture
    int panelHeight = 0;
    HBITMAP panelBitmap = nullptr;
    HBITMAP aboutBitmap = nullptr;
    bool aboutShown = false;
    // Declared in this order so that members go in the reverse one:
    // scopes, meters, dials, buttons.
    std::array<CLedButton, 5> buttons;
    std::array<CLedDial, 3> dials;
    std::array<DialLink, 3> dialLinks;
    std::array<CSlider, 2> meters;
    UpdateCheckState updateState;
    std::array<CSkinControl*, 10> controls{}; // dials, meters, buttons: the order of refresh and close
    std::array<CScopeXY, 3> scopes;
    UINT_PTR refreshTimer = 0;
    HWND window = nullptr;
    HINSTANCE instance = nullptr;
    bool comInitialized = false;
    // What the audio thread hands over; attached to the processor for the
    // editor's lifetime.
    EditorDisplay display;
    std::array<double, kResponsePoints> responseCopy{};
};
