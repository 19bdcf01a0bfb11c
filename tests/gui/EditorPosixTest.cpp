// The Linux editor through the real entry point and dispatcher, in a host
// window on the test's display, with mouse input sent as X events and the
// host's idle calls made by hand.
// GoogleTest before Xlib, whose macros (None, Bool) would rename its types.
#include "support/X11HostWindow.h"

#include "gui/toolkit/SkinGeometry.h"
#include "host/WindowCapture.h"
#include "support/BackgroundAudio.h"

#include <cmath>
#include <string>

namespace {

class Editor : public ::testing::Test {
protected:
    void SetUp() override { REQUIRE_X11_HOST_WINDOW(frame); }
    void open(HostedEffect& host) { ASSERT_EQ(host.dispatch(effEditOpen, 0, 0, frame.handle()), 1); }
    void idle(HostedEffect& host)
    {
        XSync(frame.display, False); // what was sent has reached the server
        host.dispatch(effEditIdle);
    }
    void send(HostedEffect& host, int type, int x, int y, unsigned button, unsigned state)
    {
        XEvent event{};
        event.type = type;
        if (type == MotionNotify) {
            event.xmotion.window = editorOf(host).getWindow();
            event.xmotion.x = x;
            event.xmotion.y = y;
            event.xmotion.state = state;
        } else {
            event.xbutton.window = editorOf(host).getWindow();
            event.xbutton.x = x;
            event.xbutton.y = y;
            event.xbutton.button = button;
            event.xbutton.state = state;
        }
        const long mask =
            type == ButtonPress ? ButtonPressMask : (type == ButtonRelease ? ButtonReleaseMask : PointerMotionMask);
        XSendEvent(frame.display, editorOf(host).getWindow(), False, mask, &event);
    }
    // A drag on dial `dial` with `button`, upwards by `rows` pixels, then one idle call.
    void drag(HostedEffect& host, int dialX, int rows, unsigned button = Button1, unsigned keys = 0)
    {
        const int x = dialX + 40;
        const int y = skin::kDialY + 46;
        send(host, ButtonPress, x, y, button, keys);
        send(host, MotionNotify, x, y - rows, 0, keys);
        send(host, ButtonRelease, x, y - rows, button, keys);
        idle(host);
    }
    void click(HostedEffect& host, int x, int y = 18)
    {
        send(host, ButtonPress, x + 20, y, Button1, 0);
        send(host, ButtonRelease, x + 20, y, Button1, 0);
        idle(host);
    }
    bool automated(int index, float value)
    {
        for (const HostCall& call : recordedHostCalls())
            if (call.opcode == audioMasterAutomate && call.index == index && std::fabs(call.opt - value) < 1e-6f)
                return true;
        return false;
    }
    // Pixels of the rows and columns given that differ from skin image `image`.
    static int differingFromArtwork(const std::vector<std::uint32_t>& shown, int image, int top, int bottom, int left,
                                    int right)
    {
        const std::string path = std::string(GRINDLEMARK_SOURCE_DIR) + "/resources/" + std::to_string(image) + ".png";
        cairo_surface_t* artwork = cairo_image_surface_create_from_png(path.c_str());
        int differing = cairo_surface_status(artwork) == CAIRO_STATUS_SUCCESS && !shown.empty() ? 0 : -1;
        for (int row = top; row < bottom && differing >= 0; ++row) {
            const auto* line = reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(artwork) +
                                                                      row * cairo_image_surface_get_stride(artwork));
            for (int column = left; column < right; ++column)
                differing += (line[column] & 0xFFFFFFu) != shown[static_cast<std::size_t>(row * 606 + column)];
        }
        cairo_surface_destroy(artwork);
        return differing;
    }
    // The frame's picture as 0xRRGGBB words.
    std::vector<std::uint32_t> picture()
    {
        cairo_surface_t* shot = captureWindow(frame.display, frame.window);
        std::vector<std::uint32_t> pixels;
        if (!shot)
            return pixels;
        for (int row = 0; row < skin::kPanelHeight; ++row) {
            const auto* line = reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(shot) +
                                                                      row * cairo_image_surface_get_stride(shot));
            for (int column = 0; column < skin::kPanelWidth; ++column)
                pixels.push_back(line[column] & 0xFFFFFFu);
        }
        cairo_surface_destroy(shot);
        return pixels;
    }

    X11HostWindow frame;
};

TEST_F(Editor, OpensAsAChildOfTheHostWindowAndClosesCleanly)
{
    HostedEffect host;
    EXPECT_TRUE(host.effect->flags & effFlagsHasEditor);
    ERect* rect = nullptr;
    EXPECT_EQ(host.dispatch(effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->right - rect->left, 606);
    EXPECT_EQ(rect->bottom - rect->top, 291);
    EXPECT_EQ(host.dispatch(effEditOpen), 0);

    // A window id the display does not know fails the open, and the host lives on.
    const Window unknown = frame.window + 0x100000;
    EXPECT_EQ(host.dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(static_cast<std::uintptr_t>(unknown))), 0);

    for (int round = 0; round < 2; ++round) { // open, close, reopen
        open(host);
        const std::vector<Window> children = frame.children();
        ASSERT_EQ(children.size(), 1u);
        EXPECT_EQ(children[0], editorOf(host).getWindow());
        XWindowAttributes attributes{};
        XGetWindowAttributes(frame.display, children[0], &attributes);
        EXPECT_EQ(attributes.x, 0);
        EXPECT_EQ(attributes.y, 0);
        EXPECT_EQ(attributes.width, 606);
        EXPECT_EQ(attributes.height, 291);
        EXPECT_EQ(attributes.map_state, IsViewable);
        host.dispatch(effEditClose);
        EXPECT_TRUE(frame.children().empty());
    }

    // What shows is the panel artwork outside the controls: the title bar's left part.
    open(host);
    idle(host);
    EXPECT_EQ(differingFromArtwork(picture(), 104, 0, skin::kButtonHeight, 0, skin::kButtonPowerX), 0);
    host.dispatch(effEditClose);

    // A host that destroys its window before closing the editor: the editor
    // notices, and neither idle calls nor the close end the host.
    X11HostWindow doomed;
    ASSERT_EQ(host.dispatch(effEditOpen, 0, 0, doomed.handle()), 1);
    XDestroyWindow(doomed.display, doomed.window);
    XSync(doomed.display, False);
    idle(host);
    idle(host);
    host.dispatch(effEditClose);
    doomed.window = 0; // already gone
}

TEST_F(Editor, DialDragsReachTheHostAndHostChangesMoveTheDials)
{
    using namespace skin;
    HostedEffect host;
    open(host);
    BoosterEditor& editor = editorOf(host);
    recordedHostCalls().clear();

    const int before = editor.ring(0, 0).value; // "Amount" 0.5 -> 50
    drag(host, kDialCharacterX, 20);            // two pixels a unit: +10
    EXPECT_TRUE(automated(kAmount, static_cast<float>(before + 10) * 0.01f));
    EXPECT_FLOAT_EQ(host.get(kAmount), static_cast<float>(before + 10) * 0.01f);

    // Shift takes only multiples of ten; Control with the left button resets to 50 without a drag.
    host.set(kDrive, 0.33f);
    idle(host);
    drag(host, kDialDriveX, 12, Button1, ShiftMask); // 33 + 6 -> 39: not taken
    EXPECT_EQ(editor.ring(1, 0).value, 33);
    drag(host, kDialDriveX, 14, Button1, ShiftMask); // -> 40
    EXPECT_FLOAT_EQ(host.get(kDrive), 0.4f);
    drag(host, kDialDriveX, 30, Button1, ControlMask);
    EXPECT_FLOAT_EQ(host.get(kDrive), 0.5f);
    // The right button moves the selector ring.
    recordedHostCalls().clear();
    drag(host, kDialDriveX, 200, Button3);
    EXPECT_TRUE(automated(kMode, 1.0f));

    // Host changes of every dial parameter show within two idle calls.
    host.set(kAmount, 0.25f);
    host.set(kCharacter, 2.0f / 3.0f); // "Fat"
    host.set(kDrive, 0.75f);
    host.set(kMode, 1.0f); // "TNT"
    host.set(kLevel, 0.5f);
    const std::vector<std::uint32_t> earlier = picture();
    idle(host);
    idle(host);
    EXPECT_EQ(editor.ring(0, 0).value, 25);
    EXPECT_EQ(editor.ring(1, 0).value, 75);
    EXPECT_EQ(editor.ring(2, 0).value, 50);
    EXPECT_EQ(std::min(static_cast<int>(editor.ring(0, 1).value * 0.01f * 6.0f), 5), 4);
    EXPECT_EQ(std::min(static_cast<int>(editor.ring(1, 1).value * 0.01f * 4.0f), 3), 3);
    // ... and on screen: the level dial's ring is lit differently.
    const std::vector<std::uint32_t> later = picture();
    int changed = 0;
    for (int row = kDialY; row < kDialY + kDialHeight; ++row)
        for (int column = kDialLevelX; column < kDialLevelX + kDialNarrowWidth; ++column)
            changed += earlier[static_cast<std::size_t>(row * 606 + column)] !=
                       later[static_cast<std::size_t>(row * 606 + column)];
    EXPECT_GT(changed, 20);

    // A drag and a host change before the same idle call: the drag wins.
    send(host, ButtonPress, kDialLevelX + 40, kDialY + 46, Button1, 0);
    send(host, MotionNotify, kDialLevelX + 40, kDialY + 86, 0, 0); // down by 20 units
    send(host, ButtonRelease, kDialLevelX + 40, kDialY + 86, Button1, 0);
    host.set(kLevel, 0.1f);
    idle(host);
    EXPECT_FLOAT_EQ(host.get(kLevel), 0.3f);
    host.dispatch(effEditClose);
}

// What the host hears of the user's edits, in order: each drag and click is
// one gesture, begin, values, end; a drag's last value arrives before its end
// even when the refresh that would send it has not run.
TEST_F(Editor, EveryDragAndClickIsOneGestureToTheHost)
{
    using namespace skin;
    struct Heard {
        VstInt32 opcode;
        VstInt32 index;
        float value;
        bool operator==(const Heard& other) const
        {
            return opcode == other.opcode && index == other.index && value == other.value;
        }
    };
    const auto heard = [] {
        std::vector<Heard> calls;
        for (const HostCall& call : recordedHostCalls())
            if (call.opcode == audioMasterAutomate || call.opcode == audioMasterBeginEdit ||
                call.opcode == audioMasterEndEdit)
                calls.push_back({call.opcode, call.index, call.opcode == audioMasterAutomate ? call.opt : 0.0f});
        recordedHostCalls().clear();
        return calls;
    };
    // A ring value as the host receives it.
    const auto sent = [](int value) { return static_cast<float>(value) * 0.01f; };
    HostedEffect host;
    host.set(kDrive, 0.3f);
    open(host);
    idle(host);
    heard();
    const int x = kDialCharacterX + 40;
    const int y = kDialY + 46;

    // "Amount" 0.5: up 10 rows (+5), refreshed, then up 10 more and let go in the same idle call.
    send(host, ButtonPress, x, y, Button1, 0);
    send(host, MotionNotify, x, y - 10, 0, 0);
    idle(host);
    send(host, MotionNotify, x, y - 20, 0, 0);
    send(host, ButtonRelease, x, y - 20, Button1, 0);
    idle(host);
    EXPECT_EQ(heard(), (std::vector<Heard>{{audioMasterBeginEdit, kAmount, 0.0f},
                                           {audioMasterAutomate, kAmount, sent(55)},
                                           {audioMasterAutomate, kAmount, sent(60)},
                                           {audioMasterEndEdit, kAmount, 0.0f}}));

    // The right button joins the drag: both rings' parameters, each in its own
    // gesture. The ring reads 0.6 back as 59, so the drag starts there.
    send(host, ButtonPress, x, y, Button1, 0);
    send(host, ButtonPress, x, y, Button3, 0);
    send(host, MotionNotify, x, y - 4, 0, 0);
    send(host, ButtonRelease, x, y - 4, Button3, 0);
    send(host, ButtonRelease, x, y - 4, Button1, 0);
    idle(host);
    EXPECT_EQ(heard(), (std::vector<Heard>{{audioMasterBeginEdit, kAmount, 0.0f},
                                           {audioMasterBeginEdit, kCharacter, 0.0f},
                                           {audioMasterAutomate, kCharacter, sent(61)},
                                           {audioMasterEndEdit, kCharacter, 0.0f},
                                           {audioMasterAutomate, kAmount, sent(61)},
                                           {audioMasterEndEdit, kAmount, 0.0f}}));

    // Clicks: a button, and Control with the left button, which resets a dial
    // without a drag: "Drive" from 0.3 to 0.5.
    click(host, kButtonOversampleX);
    send(host, ButtonPress, kDialDriveX + 40, y, Button1, ControlMask);
    send(host, ButtonRelease, kDialDriveX + 40, y, Button1, ControlMask);
    idle(host);
    EXPECT_EQ(heard(), (std::vector<Heard>{{audioMasterBeginEdit, kOversample, 0.0f},
                                           {audioMasterAutomate, kOversample, 1.0f},
                                           {audioMasterEndEdit, kOversample, 0.0f},
                                           {audioMasterBeginEdit, kDrive, 0.0f},
                                           {audioMasterAutomate, kDrive, 0.5f},
                                           {audioMasterEndEdit, kDrive, 0.0f}}));
    EXPECT_FLOAT_EQ(host.get(kDrive), 0.5f);

    // A drag that the host's close cuts short still ends its gesture.
    send(host, ButtonPress, kDialLevelX + 40, y, Button1, 0);
    send(host, MotionNotify, kDialLevelX + 40, y - 20, 0, 0); // "Level" 0.2 up by 10
    idle(host);
    host.dispatch(effEditClose);
    EXPECT_EQ(heard(), (std::vector<Heard>{{audioMasterBeginEdit, kLevel, 0.0f},
                                           {audioMasterAutomate, kLevel, sent(30)},
                                           {audioMasterEndEdit, kLevel, 0.0f}}));
}

TEST_F(Editor, ButtonsSetTheirParametersAndTheAboutPictureHidesTheControls)
{
    using namespace skin;
    HostedEffect host;
    open(host);
    BoosterEditor& editor = editorOf(host);
    static void* checkOwner = nullptr;
    static int checksStarted = 0;
    checksStarted = 0;
    BoosterEditor::setUpdateCheckStarter([](UpdateCheckState&, void* owner) {
        ++checksStarted;
        checkOwner = owner;
    });

    click(host, kButtonOversampleX);
    EXPECT_EQ(host.get(kOversample), 1.0f);
    click(host, kButtonPowerX); // the default program is on, so off
    EXPECT_EQ(host.get(kEnable), 0.0f);
    click(host, kButtonStereoX);
    EXPECT_EQ(host.get(kChannels), 1.0f);
    click(host, kButtonDownloadX); // started once with the panel as owner, button back off
    EXPECT_EQ(checksStarted, 1);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(checkOwner), editor.getWindow());
    EXPECT_EQ(editor.buttonState(kUpdateButton), 0);
    BoosterEditor::setUpdateCheckStarter(nullptr);

    host.set(kEnable, 1.0f);
    idle(host);
    EXPECT_EQ(editor.buttonState(1), 1);

    // The about picture covers everything below the buttons, and the dials
    // then ignore the mouse; a second click brings the panel back.
    const std::vector<std::uint32_t> panel = picture();
    click(host, kButtonInfoX);
    EXPECT_TRUE(editor.isAboutShown());
    EXPECT_EQ(differingFromArtwork(picture(), 103, kButtonHeight, kPanelHeight, 0, kPanelWidth), 0);
    const float level = host.get(kLevel);
    drag(host, kDialLevelX, 40);
    EXPECT_EQ(host.get(kLevel), level);
    click(host, kButtonInfoX);
    EXPECT_FALSE(editor.isAboutShown());
    EXPECT_EQ(picture(), panel);

    // Closed while the about picture shows, the editor reopens on the panel,
    // and one click brings the picture back.
    click(host, kButtonInfoX);
    host.dispatch(effEditClose);
    open(host);
    EXPECT_FALSE(editor.isAboutShown());
    EXPECT_EQ(editor.buttonState(kAboutButton), 0);
    click(host, kButtonInfoX);
    EXPECT_TRUE(editor.isAboutShown());
    host.dispatch(effEditClose);
}

TEST_F(Editor, DisplaysShowWhatTheAudioThreadHandsOver)
{
    using namespace skin;
    HostedEffect host;
    host.dispatch(effSetSampleRate, 0, 0, nullptr, 44100.0f);
    host.dispatch(effSetBlockSize, 0, 256);
    host.dispatch(effMainsChanged, 0, 1);
    open(host);
    idle(host);
    const std::vector<std::uint32_t> quiet = picture();
    std::vector<float> left(256), right(256), outLeft(256), outRight(256);
    float* inputs[2] = {left.data(), right.data()};
    float* outputs[2] = {outLeft.data(), outRight.data()};
    for (int block = 0; block < 40; ++block) {
        for (std::size_t i = 0; i < left.size(); ++i)
            left[i] = right[i] = 0.8f * static_cast<float>(std::sin(0.05 * static_cast<double>(block * 256 + i)));
        host.effect->processReplacing(host.effect, inputs, outputs, 256);
    }
    // The displays follow at the refresh pace, so this waits for one refresh, not for a time.
    std::vector<std::uint32_t> loud;
    int meterPixels = 0;
    for (int attempt = 0; attempt < 2000 && meterPixels == 0; ++attempt) {
        idle(host);
        loud = picture();
        meterPixels = 0;
        for (int row = kMeterInputY; row < kMeterInputY + kMeterHeight; ++row)
            for (int column = kMeterX; column < kMeterX + kMeterWidth; ++column)
                meterPixels += loud[static_cast<std::size_t>(row * 606 + column)] !=
                               quiet[static_cast<std::size_t>(row * 606 + column)];
    }
    EXPECT_GT(meterPixels, 0);
    host.dispatch(effEditClose);
}

TEST_F(Editor, InstancesOpenCloseAndDieInAnyOrderWhileAudioRuns)
{
    HostedEffect first, second;
    for (HostedEffect* host : {&first, &second})
        host->dispatch(effSetBlockSize, 0, 64);
    {
        BackgroundAudio audio({first.effect, second.effect});
        open(first);
        open(second);
        EXPECT_EQ(frame.children().size(), 2u);
        for (int i = 0; i < 5; ++i) {
            idle(first);
            idle(second);
        }
        // An open editor destroyed while the audio thread processes.
        delete effectOf(first).getEditor();
        EXPECT_FALSE(first.effect->flags & effFlagsHasEditor);
        EXPECT_EQ(frame.children().size(), 1u);
        idle(second);
    }
    // effClose with the editor still open takes its window with it.
    second.close();
    EXPECT_TRUE(frame.children().empty());
}

TEST(EditorWithoutDisplay, ThePluginLoadsAndProcessesAndTheEditorDoesNotOpen)
{
    const char* given = std::getenv("DISPLAY");
    const std::string saved = given ? given : "";
    unsetenv("DISPLAY");
    {
        HostedEffect host;
        EXPECT_TRUE(host.effect->flags & effFlagsHasEditor);
        host.dispatch(effSetBlockSize, 0, 64);
        host.dispatch(effMainsChanged, 0, 1);
        unsigned long someWindow = 0x400001;
        EXPECT_EQ(host.dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(someWindow)), 0);
        host.dispatch(effEditIdle);
        host.dispatch(effEditClose);
        std::vector<float> in(64, 0.5f), outLeft(64, 7.0f), outRight(64, 7.0f);
        float* inputs[2] = {in.data(), in.data()};
        float* outputs[2] = {outLeft.data(), outRight.data()};
        host.effect->processReplacing(host.effect, inputs, outputs, 64);
        for (float sample : outLeft)
            EXPECT_TRUE(std::isfinite(sample) && sample != 7.0f);
    }
    if (given)
        setenv("DISPLAY", saved.c_str(), 1);
}

} // namespace
