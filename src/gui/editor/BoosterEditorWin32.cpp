#include "gui/editor/BoosterEditor.h"

#include "effect/EditorFactory.h"
#include "gui/editor/DisplayScale.h"
#include "gui/toolkit/SkinBitmap.h"
#include "gui/toolkit/SkinGeometry.h"
#include "platform/ModuleInstance.h"

#include <objbase.h>

#include <new>

namespace {

constexpr char kPanelClassName[] = "OVKGrindlemarkWndClass";
constexpr char kPanelWindowTitle[] = "HexwireGTWnd";

// Live editors decide the window class's registration (UI threads only).
int liveEditors = 0;

void (*updateCheckStarter)(UpdateCheckState&, void*) = startUpdateCheck;

// The parameters each dial ring and button follows (-1: none).
struct DialLink {
    int ring0;
    int ring1;
};
constexpr DialLink kDialLinks[3] = {{kAmount, kCharacter}, {kDrive, kMode}, {kLevel, -1}};
constexpr int kButtonParameters[3] = {kOversample, kEnable, kChannels};

enum ButtonCommand : int {
    kCommandOversample = 1,
    kCommandEnable = 2,
    kCommandChannels = 3,
    kCommandUpdateCheck = 4,
    kCommandAbout = 5,
};

} // namespace

AEffEditor* createBoosterEditor(BoosterEffect* effect)
{
    return new (std::nothrow) BoosterEditor(effect);
}

void BoosterEditor::setUpdateCheckStarter(void (*starter)(UpdateCheckState&, void*))
{
    updateCheckStarter = starter ? starter : startUpdateCheck;
}

BoosterEditor::BoosterEditor(BoosterEffect* effect) : AEffEditor(effect), booster(effect)
{
    updateState.identity = {static_cast<std::uint32_t>(kBoosterUniqueId),
                            static_cast<std::uint32_t>(effect->getVendorVersion())};
    controls = {&dials[0],   &dials[1],   &dials[2],   &meters[0],  &meters[1],
                &buttons[0], &buttons[1], &buttons[2], &buttons[3], &buttons[4]};
    instance = static_cast<HINSTANCE>(moduleInstance ? moduleInstance : GetModuleHandleA(nullptr));

    if (liveEditors == 0) {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = windowProc;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
        windowClass.lpszClassName = kPanelClassName;
        RegisterClassA(&windowClass);
    }
    ++liveEditors;

    // Images are decoded through COM; a thread already in another apartment
    // keeps it, and then this editor must not uninitialise it either.
    comInitialized = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    aboutBitmap = loadPngResource(instance, skin::kImageAbout);
    panelBitmap = loadPngResource(instance, skin::kImagePanel);
    int width = 0;
    int height = 0;
    if (panelBitmap && bitmapSize(panelBitmap, width, height)) {
        rect.right = static_cast<VstInt16>(width);
        rect.bottom = static_cast<VstInt16>(height);
    }

    booster->attachDisplay(&display);
    booster->setEditor(this);
}

BoosterEditor::~BoosterEditor()
{
    abandonUpdateCheck(updateState);
    // Once detached, no processing call is still inside the display data;
    // the locks then make sure of it for anyone else.
    booster->detachDisplay();
    for (CriticalSection& lock : display.ringLocks)
        lock.enter();
    display.meterLock.enter();

    booster->setEditor(nullptr);
    close();
    if (panelBitmap)
        DeleteObject(panelBitmap);
    if (aboutBitmap)
        DeleteObject(aboutBitmap);
    panelBitmap = aboutBitmap = nullptr;

    for (CriticalSection& lock : display.ringLocks)
        lock.leave();
    display.meterLock.leave();

    if (--liveEditors == 0)
        UnregisterClassA(kPanelClassName, instance);
    if (comInitialized)
        CoUninitialize();
}

bool BoosterEditor::getRect(ERect** target)
{
    *target = &rect;
    return true;
}

bool BoosterEditor::open(void* parentWindow)
{
    if (!parentWindow)
        return false;
    if (window)
        close(); // a second open without a close: start afresh
    systemWindow = parentWindow;
    aboutShown = false;

    window =
        CreateWindowExA(0, kPanelClassName, kPanelWindowTitle, WS_CHILD, rect.left, rect.top, rect.right - rect.left,
                        rect.bottom - rect.top, static_cast<HWND>(parentWindow), nullptr, instance, nullptr);
    if (!window) {
        close();
        return false;
    }
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

    using namespace skin;
    dials[0].create(instance, window, panelBitmap, kImageDialCharacter, kImageDialLeds, kCharacterSegments,
                    kCharacterStartAngle, kCharacterEndAngle, kRing1OuterRadius, kRing1InnerRadius, kDialCharacterX);
    dials[1].create(instance, window, panelBitmap, kImageDialDrive, kImageDialLeds, kModeSegments, kModeStartAngle,
                    kModeEndAngle, kRing1OuterRadius, kRing1InnerRadius, kDialDriveX);
    dials[2].create(instance, window, panelBitmap, kImageDialLevel, 0, 1, 0.0f, 0.0f, 0, 0, kDialLevelX);
    scopes[2].create(instance, window, panelBitmap, kImageScopeResponse, kScopeResponseX, kScopeResponsePlotWidth, 255);
    scopes[0].create(instance, window, panelBitmap, kImageScopeTube, kScopeTubeX, kScopeSquarePlotWidth, 15);
    scopes[1].create(instance, window, panelBitmap, kImageScopeTape, kScopeTapeX, kScopeSquarePlotWidth, 15);
    meters[0].create(instance, window, panelBitmap, kMeterInputY, kImageMeterInputOff, kImageMeterInputOn);
    meters[1].create(instance, window, panelBitmap, kMeterOutputY, kImageMeterOutputOff, kImageMeterOutputOn);
    buttons[3].create(instance, window, kButtonDownloadX, panelBitmap, kImageButtonDownload, kCommandUpdateCheck);
    buttons[4].create(instance, window, kButtonInfoX, panelBitmap, kImageButtonInfo, kCommandAbout);
    buttons[0].create(instance, window, kButtonOversampleX, panelBitmap, kImageButtonOversample, kCommandOversample);
    buttons[2].create(instance, window, kButtonStereoX, panelBitmap, kImageButtonStereo, kCommandChannels);
    buttons[1].create(instance, window, kButtonPowerX, panelBitmap, kImageButtonPower, kCommandEnable);

    refresh();
    booster->startScopeFeed();
    refreshTimer = SetTimer(window, kRefreshTimerId, kRefreshMilliseconds, nullptr);

    ShowWindow(window, SW_SHOW);
    showControls(SW_SHOW);
    InvalidateRect(window, nullptr, FALSE);
    return true;
}

void BoosterEditor::close()
{
    if (window)
        KillTimer(window, refreshTimer);
    refreshTimer = 0;
    booster->stopScopeFeed();
    for (CSkinControl* control : controls)
        control->destroyWindow();
    for (CScopeXY& scope : scopes)
        scope.destroyWindow();
    if (window) {
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        DestroyWindow(window);
        window = nullptr;
    }
}

void BoosterEditor::showControls(int showCommand)
{
    for (CLedDial& dial : dials)
        if (dial.getWindow())
            ShowWindow(dial.getWindow(), showCommand);
    for (CSlider& meter : meters)
        if (meter.getWindow())
            ShowWindow(meter.getWindow(), showCommand);
    for (CScopeXY& scope : scopes)
        if (scope.getWindow())
            ShowWindow(scope.getWindow(), showCommand);
}

LRESULT CALLBACK BoosterEditor::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* editor = reinterpret_cast<BoosterEditor*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!editor)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    return editor->handleMessage(hwnd, message, wParam, lParam);
}

LRESULT BoosterEditor::handleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        paint(hwnd, reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_TIMER:
        if (wParam == kRefreshTimerId && !aboutShown)
            refresh();
        return 0;
    case kLedButtonMessage:
        onButton(wParam, lParam);
        return 1;
    default:
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

void BoosterEditor::paint(HWND hwnd, HDC given)
{
    PAINTSTRUCT paintStruct{};
    HDC target = given ? given : BeginPaint(hwnd, &paintStruct);
    if (target) {
        RECT clip{};
        GetClipBox(target, &clip);
        HDC source = CreateCompatibleDC(target);
        HBITMAP picture = aboutShown ? aboutBitmap : panelBitmap;
        if (source && picture) {
            HGDIOBJ previous = SelectObject(source, picture);
            BitBlt(target, clip.left, clip.top, clip.right - clip.left, clip.bottom - clip.top, source, clip.left,
                   clip.top, SRCCOPY);
            SelectObject(source, previous);
        }
        if (source)
            DeleteDC(source);
    }
    if (!given)
        EndPaint(hwnd, &paintStruct);
}

void BoosterEditor::onButton(WPARAM command, LPARAM state)
{
    const float switchedOn = (state & 1) ? 1.0f : 0.0f;
    switch (static_cast<int>(command)) {
    case kCommandOversample:
        booster->setParameterAutomated(kOversample, switchedOn);
        break;
    case kCommandEnable:
        booster->setParameterAutomated(kEnable, switchedOn);
        break;
    case kCommandChannels:
        booster->setParameterAutomated(kChannels, switchedOn);
        break;
    case kCommandUpdateCheck:
        updateCheckStarter(updateState, window);
        buttons[3].setState(0); // a momentary button: back to off
        break;
    case kCommandAbout:
        aboutShown = (state & 1) != 0;
        showControls(aboutShown ? SW_HIDE : SW_SHOW);
        InvalidateRect(window, nullptr, FALSE);
        break;
    default:
        break;
    }
}

// ---- The refresh cycle ----------------------------------------------------

void BoosterEditor::refresh()
{
    feedResponseCurve();
    feedScopes();
    feedMeters();
    syncDials();
    syncButtons();
}

void BoosterEditor::feedResponseCurve()
{
    // Only a new curve is drawn; otherwise the display keeps its picture.
    if (!booster->takeResponseCurve(responseCopy))
        return;
    for (int i = 0; i < kResponsePoints; ++i) {
        const auto [x, y] = responseCurvePoint(i, responseCopy[static_cast<std::size_t>(i)]);
        scopes[2].plotCurvePoint(x, y);
    }
    scopes[2].commitFrame();
}

void BoosterEditor::feedScopes()
{
    for (int i = 0; i < 2; ++i) {
        CScopeXY& scope = scopes[static_cast<std::size_t>(i)];
        // The audio thread only tries this lock: holding it costs it one block's frames.
        display.ringLocks[i].enter();
        for (const ScopeFrame& frame : display.scopeRing) {
            const ScopePoint& point = frame.points[i];
            // Mirrored: a positive x lands left of centre.
            scope.plotDot(-static_cast<float>(point.x), static_cast<float>(point.y));
        }
        display.ringLocks[i].leave();
        scope.commitFrame();
    }
}

void BoosterEditor::feedMeters()
{
    display.meterLock.enter();
    const std::array<double, 4> levels = display.meterLevels;
    display.meterLock.leave();

    meters[0].bars[0].value = meterValueOf(levels[0], kInputMeterOffsetDb);
    meters[0].bars[1].value = meterValueOf(levels[1], kInputMeterOffsetDb);
    meters[1].bars[0].value = meterValueOf(levels[2], kOutputMeterOffsetDb);
    meters[1].bars[1].value = meterValueOf(levels[3], kOutputMeterOffsetDb);
    for (CSlider& meter : meters) {
        if (!meter.getWindow())
            continue;
        if (meter.bars[0].value != meter.bars[0].paintedValue || meter.bars[1].value != meter.bars[1].paintedValue) {
            InvalidateRect(meter.getWindow(), nullptr, FALSE);
            UpdateWindow(meter.getWindow());
        }
    }
}

void BoosterEditor::syncDials()
{
    for (int d = 0; d < 3; ++d) {
        CLedDial& dial = dials[static_cast<std::size_t>(d)];
        // A dial without a window can neither be moved nor repainted.
        if (!dial.getWindow())
            continue;
        const int links[2] = {kDialLinks[d].ring0, kDialLinks[d].ring1};
        for (int r = 0; r < 2; ++r) {
            if (links[r] < 0)
                continue;
            DialRing& ring = dial.rings[r];
            if (ring.value != ring.paintedValue) {
                // The user moved it since the last paint: the gesture wins.
                booster->setParameterAutomated(links[r], static_cast<float>(ring.value) * 0.01f);
            } else if (r == 0) {
                const double fromHost = static_cast<double>(booster->getParameter(links[r])) * 100.0;
                const int value = static_cast<int>(fromHost);
                ring.value = value < 0 ? 0 : (value > 100 ? 100 : value);
            } else {
                // A selector shows the step the sound uses.
                ring.value = selectorValueFor(booster->getParameter(links[r]), ring.steps);
            }
        }
        if (dial.rings[0].value != dial.rings[0].paintedValue || dial.rings[1].value != dial.rings[1].paintedValue)
            InvalidateRect(dial.getWindow(), nullptr, FALSE);
    }
}

void BoosterEditor::syncButtons()
{
    for (int b = 0; b < 3; ++b) {
        CLedButton& button = buttons[static_cast<std::size_t>(b)];
        const int step = static_cast<int>(booster->getParameter(kButtonParameters[b]) * 2.0f);
        const int on = step > 1 ? 1 : step;
        if ((button.getState() == 1 ? 1 : 0) != on) {
            button.setState(on);
            if (button.getWindow()) {
                InvalidateRect(button.getWindow(), nullptr, FALSE);
                UpdateWindow(button.getWindow());
            }
        }
    }
}
