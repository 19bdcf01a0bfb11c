#include "gui/editor/BoosterEditor.h"

#include "gui/toolkit/SkinBitmap.h"
#include "gui/toolkit/SkinGeometry.h"
#include "platform/ModuleInstance.h"

#include <objbase.h>

#include <memory>
#include <new>

namespace {

constexpr char kPanelClassName[] = "OVKGrindlemarkWndClass";
constexpr char kPanelWindowTitle[] = "HexwireGTWnd";

// Live editors decide the window class's registration (UI threads only).
int liveEditors = 0;

void (*updateCheckStarter)(UpdateCheckState&, void*) = startUpdateCheck;

} // namespace

std::unique_ptr<PanelView> createPanelView(PanelHost& host)
{
    std::unique_ptr<BoosterEditor> view(new (std::nothrow) BoosterEditor(host));
    if (!view || !view->hasPictures())
        return nullptr;
    return view;
}

void BoosterEditor::setUpdateCheckStarter(void (*starter)(UpdateCheckState&, void*))
{
    updateCheckStarter = starter ? starter : startUpdateCheck;
}

BoosterEditor::BoosterEditor(PanelHost& panelHost) : host(panelHost)
{
    updateState.identity = boosterUpdateIdentity();
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
    if (panelBitmap && !bitmapSize(panelBitmap, panelWidth, panelHeight))
        panelWidth = panelHeight = 0;

    host.processor().attachDisplay(&display);
}

BoosterEditor::~BoosterEditor()
{
    abandonUpdateCheck(updateState);
    // Before the display locks: ending a gesture takes the processor's lock.
    endGestures();
    detachDisplayAndRelease(host.processor(), display, [this] {
        close();
        if (panelBitmap)
            DeleteObject(panelBitmap);
        if (aboutBitmap)
            DeleteObject(aboutBitmap);
        panelBitmap = aboutBitmap = nullptr;
    });

    if (--liveEditors == 0)
        UnregisterClassA(kPanelClassName, instance);
    if (comInitialized)
        CoUninitialize();
}

bool BoosterEditor::open(void* parentWindow)
{
    if (!parentWindow)
        return false;
    if (window)
        close(); // a second open without a close: start afresh
    // Every opening starts on the panel, its about button dark with it.
    aboutShown = false;
    buttons[kAboutButton].setState(0);

    window = CreateWindowExA(0, kPanelClassName, kPanelWindowTitle, WS_CHILD, 0, 0, panelWidth, panelHeight,
                             static_cast<HWND>(parentWindow), nullptr, instance, nullptr);
    if (!window) {
        close();
        return false;
    }
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

    using namespace skin;
    for (std::size_t d = 0; d < dials.size(); ++d) {
        const DialLayout& layout = kDialLayouts[d];
        dials[d].create(instance, window, panelBitmap, layout.baseImage, layout.ring1Image, layout.ring1Segments,
                        layout.ring1StartAngle, layout.ring1EndAngle, layout.ring1OuterRadius, layout.ring1InnerRadius,
                        layout.x);
    }
    for (std::size_t s = 0; s < scopes.size(); ++s) {
        const ScopeLayout& layout = kScopeLayouts[s];
        scopes[s].create(instance, window, panelBitmap, layout.image, layout.x, layout.plotWidth, layout.fade);
    }
    for (std::size_t m = 0; m < meters.size(); ++m) {
        const MeterLayout& layout = kMeterLayouts[m];
        meters[m].create(instance, window, panelBitmap, layout.y, layout.offImage, layout.onImage);
    }
    for (std::size_t b = 0; b < buttons.size(); ++b) {
        const ButtonLayout& layout = kButtonLayouts[b];
        buttons[b].create(instance, window, layout.x, panelBitmap, layout.image, layout.command);
    }

    refresh();
    host.processor().startScopeFeed();
    refreshTimer = SetTimer(window, kRefreshTimerId, kRefreshMilliseconds, nullptr);

    ShowWindow(window, SW_SHOW);
    showControls(SW_SHOW);
    InvalidateRect(window, nullptr, FALSE);
    return true;
}

void BoosterEditor::close()
{
    endGestures();
    if (window)
        KillTimer(window, refreshTimer);
    refreshTimer = 0;
    host.processor().stopScopeFeed();
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
    case kLedDialPressed:
    case kLedDialReleased:
        onDialGesture(message, wParam, lParam);
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
    const int parameter = parameterOfCommand(static_cast<int>(command));
    if (parameter >= 0) {
        clickParameter(host, parameter, (state & 1) ? 1.0f : 0.0f);
    } else if (command == kCommandUpdateCheck) {
        updateCheckStarter(updateState, window);
        buttons[kUpdateButton].setState(0); // a momentary button: back to off
    } else if (command == kCommandAbout) {
        aboutShown = (state & 1) != 0;
        showControls(aboutShown ? SW_HIDE : SW_SHOW);
        InvalidateRect(window, nullptr, FALSE);
    }
}

void BoosterEditor::onDialGesture(UINT message, WPARAM ring, LPARAM dialWindow)
{
    for (int d = 0; d < 3; ++d) {
        CLedDial& dial = dials[static_cast<std::size_t>(d)];
        if (ring > 1 || !dial.getWindow() || dial.getWindow() != reinterpret_cast<HWND>(dialWindow))
            continue;
        DialLink& link = dialLinks[static_cast<std::size_t>(d)];
        if (message == kLedDialPressed)
            ringPressed(host, d, static_cast<int>(ring), dial.rings, link);
        else
            ringReleased(host, d, static_cast<int>(ring), dial.rings, link);
    }
}

// A drag cut short by a close still ends its gesture.
void BoosterEditor::endGestures()
{
    for (int d = 0; d < 3; ++d)
        endDialGestures(host, d, dials[static_cast<std::size_t>(d)].rings, dialLinks[static_cast<std::size_t>(d)]);
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
    if (drawResponseCurve(host.processor(), responseCopy, scopes[kResponseScope].getRaster()))
        scopes[kResponseScope].commitFrame();
}

void BoosterEditor::feedScopes()
{
    for (int i = 0; i < 2; ++i) {
        CScopeXY& scope = scopes[static_cast<std::size_t>(i)];
        drawScopeDots(display, i, scope.getRaster());
        scope.commitFrame();
    }
}

void BoosterEditor::feedMeters()
{
    const std::array<int, 4> levels = meterValues(display);
    for (std::size_t i = 0; i < levels.size(); ++i)
        meters[i / 2].bars[i % 2].value = levels[i];
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
        if (dial.getWindow() && syncDialRings(host, d, dial.rings, dialLinks[static_cast<std::size_t>(d)]))
            InvalidateRect(dial.getWindow(), nullptr, FALSE);
    }
}

void BoosterEditor::syncButtons()
{
    for (int b = 0; b < 3; ++b) {
        CLedButton& button = buttons[static_cast<std::size_t>(b)];
        const int on = buttonFrameFor(host, b);
        if ((button.getState() == 1 ? 1 : 0) != on) {
            button.setState(on);
            if (button.getWindow()) {
                InvalidateRect(button.getWindow(), nullptr, FALSE);
                UpdateWindow(button.getWindow());
            }
        }
    }
}
