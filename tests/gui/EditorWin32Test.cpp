// The editor through the real entry point and dispatcher, in a host window,
// with the refresh timer's ticks delivered by hand.
#include "gui/editor/BoosterEditor.h"
#include "gui/toolkit/SkinGeometry.h"
#include "host/BoosterEffect.h"
#include "host/PanelEditor.h"
#include "support/TestHost.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <windows.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

namespace {

LRESULT CALLBACK plainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// A top-level window standing in for the host's editor frame.
class HostFrame {
public:
    HostFrame()
    {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = plainWindowProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "EditorTestFrame";
        RegisterClassA(&windowClass);
        window = CreateWindowExA(0, "EditorTestFrame", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 640, 340,
                                 nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    }
    ~HostFrame() { DestroyWindow(window); }
    HWND window;
};

// Window enumeration callbacks are stdcall on 32-bit Windows: named functions, not lambdas.
BOOL CALLBACK collectChildArea(HWND child, LPARAM list)
{
    RECT area;
    GetWindowRect(child, &area);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&area), 2);
    reinterpret_cast<std::vector<RECT>*>(list)->push_back(area);
    return TRUE;
}

void pumpMessages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

class Editor : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    static void TearDownTestSuite() { CoUninitialize(); }

    BoosterEditor& editorOf(HostedEffect& host)
    {
        auto* effect = static_cast<BoosterEffect*>(host.effect->object);
        return static_cast<BoosterEditor&>(static_cast<PanelEditor*>(effect->getEditor())->view());
    }
    BoosterEffect& effectOf(HostedEffect& host) { return *static_cast<BoosterEffect*>(host.effect->object); }
    void open(HostedEffect& host) { ASSERT_EQ(host.dispatch(effEditOpen, 0, 0, frame.window), 1); }
    void tick(HostedEffect& host)
    {
        SendMessageA(editorOf(host).getWindow(), WM_TIMER, kRefreshTimerId, 0);
        pumpMessages();
    }
    // A left-button drag on a control window, upwards by `rows` pixels.
    void dragUp(HWND control, int rows, WPARAM keys = 0)
    {
        SendMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON | keys, MAKELPARAM(40, 60));
        SendMessageA(control, WM_MOUSEMOVE, MK_LBUTTON | keys, MAKELPARAM(40, 60 - rows));
        SendMessageA(control, WM_LBUTTONUP, keys, MAKELPARAM(40, 60 - rows));
    }
    void click(HWND control)
    {
        SendMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
        SendMessageA(control, WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
        pumpMessages();
    }

    HostFrame frame;
};

TEST_F(Editor, ReportsItsRectangleAndOpensOnlyWithAParent)
{
    HostedEffect host;
    EXPECT_TRUE(host.effect->flags & effFlagsHasEditor);
    ERect* rect = nullptr;
    EXPECT_EQ(host.dispatch(effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->top, 0);
    EXPECT_EQ(rect->left, 0);
    EXPECT_EQ(rect->bottom, 291);
    EXPECT_EQ(rect->right, 606);
    EXPECT_EQ(host.dispatch(effEditOpen), 0);
    EXPECT_EQ(host.dispatch(effEditOpen, 0, 0, frame.window), 1);

    // Thirteen controls at their panel positions.
    struct Expected {
        int x, y, width, height;
    };
    using namespace skin;
    const Expected expected[] = {{kDialCharacterX, kDialY, 119, 92}, {kDialDriveX, kDialY, 119, 92},
                                 {kDialLevelX, kDialY, 92, 92},      {kScopeResponseX, kScopeY, 174, 82},
                                 {kScopeTubeX, kScopeY, 82, 82},     {kScopeTapeX, kScopeY, 82, 82},
                                 {kMeterX, kMeterInputY, 168, 38},   {kMeterX, kMeterOutputY, 168, 38},
                                 {kButtonOversampleX, 0, 40, 36},    {kButtonPowerX, 0, 40, 36},
                                 {kButtonStereoX, 0, 40, 36},        {kButtonDownloadX, 0, 40, 36},
                                 {kButtonInfoX, 0, 40, 36}};
    std::vector<RECT> children;
    EnumChildWindows(editorOf(host).getWindow(), collectChildArea, reinterpret_cast<LPARAM>(&children));
    EXPECT_EQ(children.size(), 13u);
    for (const Expected& control : expected) {
        bool found = false;
        for (const RECT& area : children)
            found |= area.left == control.x && area.top == control.y && area.right - area.left == control.width &&
                     area.bottom - area.top == control.height;
        EXPECT_TRUE(found) << "no control at " << control.x << "," << control.y;
    }
    host.dispatch(effEditClose);
    EXPECT_EQ(editorOf(host).getWindow(), nullptr);
}

TEST_F(Editor, DialDragsReachTheHostAndHostChangesMoveTheDials)
{
    HostedEffect host;
    open(host);
    BoosterEditor& editor = editorOf(host);
    recordedHostCalls().clear();

    const int before = editor.dial(0).rings[0].value; // "Amount" 0.5 -> 50
    dragUp(editor.dial(0).getWindow(), 20);           // two pixels a unit: +10
    tick(host);
    tick(host);
    bool automated = false;
    for (const HostCall& call : recordedHostCalls())
        automated |= call.opcode == audioMasterAutomate && call.index == kAmount &&
                     std::fabs(call.opt - static_cast<float>(before + 10) * 0.01f) < 1e-6f;
    EXPECT_TRUE(automated);
    EXPECT_FLOAT_EQ(host.get(kAmount), static_cast<float>(before + 10) * 0.01f);

    // Host changes of every dial parameter show within two ticks.
    host.set(kAmount, 0.25f);
    host.set(kCharacter, 2.0f / 3.0f); // "Fat"
    host.set(kDrive, 0.75f);
    host.set(kMode, 1.0f); // "TNT"
    host.set(kLevel, 0.5f);
    tick(host);
    tick(host);
    EXPECT_EQ(editor.dial(0).rings[0].value, 25);
    EXPECT_EQ(editor.dial(1).rings[0].value, 75);
    EXPECT_EQ(editor.dial(2).rings[0].value, 50);
    // The selectors light the step the sound uses.
    EXPECT_EQ(std::min(static_cast<int>(editor.dial(0).rings[1].value * 0.01f * 6.0f), 5), 4);
    EXPECT_EQ(std::min(static_cast<int>(editor.dial(1).rings[1].value * 0.01f * 4.0f), 3), 3);

    // A host change during a drag, before the tick that would send the drag's
    // value: the drag wins, its value going out as the drag ends.
    const HWND level = editor.dial(2).getWindow();
    SendMessageA(level, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(40, 60));
    SendMessageA(level, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(40, 100)); // down by 20 units
    host.set(kLevel, 0.1f);
    SendMessageA(level, WM_LBUTTONUP, 0, MAKELPARAM(40, 100));
    EXPECT_FLOAT_EQ(host.get(kLevel), 0.3f);
    tick(host);
    EXPECT_FLOAT_EQ(host.get(kLevel), 0.3f);
    // Every drag is one gesture: begin, values, end.
    std::vector<VstInt32> gestures;
    for (const HostCall& call : recordedHostCalls())
        if (call.opcode == audioMasterBeginEdit || call.opcode == audioMasterEndEdit)
            gestures.push_back(call.opcode * 100 + call.index);
    EXPECT_EQ(gestures, (std::vector<VstInt32>{4302, 4402, 4305, 4405}));
    host.dispatch(effEditClose);
}

TEST_F(Editor, ButtonsSetTheirParametersAndTheAboutPictureStopsTheRefresh)
{
    HostedEffect host;
    open(host);
    BoosterEditor& editor = editorOf(host);
    static int checksStarted = 0;
    checksStarted = 0;
    BoosterEditor::setUpdateCheckStarter([](UpdateCheckState&, void*) { ++checksStarted; });

    click(editor.button(0).getWindow()); // oversampling on
    EXPECT_EQ(host.get(kOversample), 1.0f);
    click(editor.button(1).getWindow()); // power: the default program is on, so off
    EXPECT_EQ(host.get(kEnable), 0.0f);
    click(editor.button(2).getWindow()); // stereo
    EXPECT_EQ(host.get(kChannels), 1.0f);

    click(editor.button(3).getWindow()); // update check: started once, button back off
    EXPECT_EQ(checksStarted, 1);
    EXPECT_EQ(editor.button(3).getState(), 0);
    BoosterEditor::setUpdateCheckStarter(nullptr);

    // A host change of a button parameter shows at the next tick.
    host.set(kEnable, 1.0f);
    tick(host);
    EXPECT_EQ(editor.button(1).getState(), 1);

    click(editor.button(4).getWindow()); // about picture
    EXPECT_TRUE(editor.isAboutShown());
    EXPECT_FALSE(IsWindowVisible(editor.dial(0).getWindow()));
    EXPECT_FALSE(IsWindowVisible(editor.meter(1).getWindow()));
    EXPECT_FALSE(IsWindowVisible(editor.scope(2).getWindow()));
    EXPECT_TRUE(IsWindowVisible(editor.button(4).getWindow()));
    host.set(kAmount, 0.75f);
    tick(host);
    EXPECT_NE(editor.dial(0).rings[0].value, 75); // frozen
    click(editor.button(4).getWindow());
    EXPECT_FALSE(editor.isAboutShown());
    EXPECT_TRUE(IsWindowVisible(editor.dial(0).getWindow()));
    tick(host);
    EXPECT_EQ(editor.dial(0).rings[0].value, 75); // resumed

    // Closed while the about picture shows, the editor reopens on the panel.
    click(editor.button(4).getWindow());
    host.dispatch(effEditClose);
    open(host);
    EXPECT_FALSE(editor.isAboutShown());
    EXPECT_EQ(editor.button(4).getState(), 0);
    host.dispatch(effEditClose);
}

TEST_F(Editor, DisplaysShowWhatTheAudioThreadHandsOver)
{
    HostedEffect host;
    host.set(kMode, 0.3f); // "TUBE"
    host.set(kChannels, 1.0f);
    host.dispatch(effSetBlockSize, 0, 512);
    open(host);
    BoosterEditor& editor = editorOf(host);
    std::vector<float> left(512), right(512), outLeft(512), outRight(512);
    for (std::size_t i = 0; i < 512; ++i)
        left[i] = right[i] = 0.9f * std::sin(0.05f * static_cast<float>(i));
    float* inputs[2] = {left.data(), right.data()};
    float* outputs[2] = {outLeft.data(), outRight.data()};
    host.effect->processReplacing(host.effect, inputs, outputs, 512);
    tick(host);
    // 0.9 peak in: the input bars light about 21 of 23 segments; the scopes got dots.
    EXPECT_GE(editor.meter(0).bars[0].value, 85);
    EXPECT_GE(editor.meter(0).bars[1].value, 85);
    EXPECT_GT(editor.meter(1).bars[0].value, 0);
    const ScopeRaster& tube = editor.scope(0).getRaster();
    int red = 0;
    for (int i = 0; i < tube.pixelCount(); ++i) {
        const std::uint32_t pixel = tube.pixels()[i];
        red += ((pixel >> 16) & 0xFF) > 200 && ((pixel >> 8) & 0xFF) < 80;
    }
    EXPECT_GT(red, 0);

    // A character change gives a new curve, which the next tick takes and draws.
    host.set(kCharacter, 0.0f);
    host.effect->processReplacing(host.effect, inputs, outputs, 0);
    tick(host);
    std::array<double, kResponsePoints> curve{};
    EXPECT_FALSE(effectOf(host).processor().takeResponseCurve(curve)); // already taken by the editor
    host.dispatch(effEditClose);
}

TEST_F(Editor, InstancesOpenCloseAndDieInAnyOrder)
{
    for (int round = 0; round < 3; ++round) {
        HostedEffect first, second;
        open(first);
        open(second);
        first.dispatch(effEditClose);
        open(first);
        if (round % 2)
            second.close(); // effClose with the editor open
        first.close();
    }
    // The panel's window class went with the last editor.
    WNDCLASSA windowClass{};
    EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(nullptr), "OVKGrindlemarkWndClass", &windowClass));
}

TEST_F(Editor, ClosingWhileAudioRunsNeverCrashes)
{
    for (int round = 0; round < 20; ++round) {
        auto host = std::make_unique<HostedEffect>();
        host->dispatch(effSetBlockSize, 0, 64);
        open(*host);
        std::atomic<bool> running{true};
        AEffect* effect = host->effect;
        std::thread audio([&] {
            std::vector<float> left(64, 0.3f), right(64, -0.3f), outLeft(64), outRight(64);
            float* inputs[2] = {left.data(), right.data()};
            float* outputs[2] = {outLeft.data(), outRight.data()};
            while (running.load())
                effect->processReplacing(effect, inputs, outputs, 64);
        });
        for (int t = 0; t < 3; ++t)
            tick(*host);
        // The editor goes while the audio thread is still processing.
        delete static_cast<BoosterEffect*>(effect->object)->getEditor();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        running.store(false);
        audio.join();
        EXPECT_FALSE(effect->flags & effFlagsHasEditor);
    }
}

} // namespace
