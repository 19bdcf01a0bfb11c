// The CLAP editor embedded in an X11 host window: pumped by the host's timer,
// or by its own where the host offers none, it opens and closes 20 times
// while audio runs and leaves nothing behind; a click on it reaches the host
// as one gesture, in a flush it asks for or in the next block.
// GoogleTest before Xlib, whose macros (None, Bool) would rename its types.
#include "support/ClapPlugin.h"
#include "support/X11HostWindow.h"

#include "gui/toolkit/SkinGeometry.h"
#include "reliability/AllocationCounter.h"
#include "support/LeakProbesPosix.h"

#include <chrono>
#include <thread>

namespace {

// Pumps the host's main loop for about `ms` milliseconds.
void pumpFor(ClapSession& session, int ms)
{
    for (int elapsed = 0; elapsed < ms; elapsed += 5) {
        session.serviceMainThread();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

TEST_F(ClapTest, TwentyEditorCyclesWhileAudioRunsLeaveNothingBehind)
{
    X11HostWindow frame;
    REQUIRE_X11_HOST_WINDOW(frame);
    auto run = [&](int cycles, bool hostTimers) {
        ClapSession session(*module);
        session.offerTimerSupport = hostTimers;
        ASSERT_TRUE(session.init());
        ASSERT_TRUE(session.activate(44100.0, 1, 64));
        std::atomic<bool> playing{true};
        std::thread audio([&] {
            StereoSignal<float> signal(64);
            session.startProcessing();
            while (playing)
                session.process(signal.inputs(), 2, signal.outputs(), 2, 64);
            session.stopProcessing();
        });
        for (int cycle = 0; cycle < cycles; ++cycle) {
            ASSERT_TRUE(session.openEditor(clapWindowApi(), frame.window));
            EXPECT_EQ(frame.children().size(), 1u);
            EXPECT_EQ(session.timerCount(), hostTimers ? 1u : 0u);
            pumpFor(session, 40);
            session.closeEditor();
            EXPECT_EQ(session.timerCount(), 0u);
        }
        playing = false;
        audio.join();
    };
    run(2, true); // lets the libraries create what they keep for the process
    run(2, false);
    const std::set<std::string> descriptorsBefore = entriesIn("/proc/self/fd");
    const std::set<std::string> threadsBefore = entriesIn("/proc/self/task");
    allocation::markThisThread();

    run(20, true);
    run(20, false);
    // Read first: a failed check below records its message on the heap.
    const long long liveBytes = allocation::liveBytesSinceMark();
    EXPECT_TRUE(entriesAdded("/proc/self/fd", descriptorsBefore).empty()); // a display connection per editor
    EXPECT_TRUE(threadsAdded(threadsBefore).empty());
    EXPECT_TRUE(frame.children().empty());
    EXPECT_EQ(liveBytes, 0);
}

TEST_F(ClapTest, AClickOnTheEditorReachesTheHostAsOneGesture)
{
    X11HostWindow frame;
    REQUIRE_X11_HOST_WINDOW(frame);
    const auto session = initialised();
    ASSERT_TRUE(session->openEditor(clapWindowApi(), frame.window));
    ASSERT_EQ(frame.children().size(), 1u);
    const Window editor = frame.children().front();
    // A click, pumped until the editor has taken it (the value it shows the
    // host changes) and a little beyond, so its release is taken too.
    auto click = [&](int buttonX, clap_id parameter) {
        const std::optional<double> before = session->parameterValue(parameter);
        for (int type : {ButtonPress, ButtonRelease}) {
            XEvent event{};
            event.xbutton.type = type;
            event.xbutton.window = editor;
            event.xbutton.x = buttonX + 20;
            event.xbutton.y = 18;
            event.xbutton.button = Button1;
            XSendEvent(frame.display, editor, False, type == ButtonPress ? ButtonPressMask : ButtonReleaseMask, &event);
        }
        XSync(frame.display, False);
        for (int wait = 0; wait < 1000 && session->parameterValue(parameter) == before; ++wait)
            pumpFor(*session, 5);
        pumpFor(*session, 100);
    };
    auto gesture = [](clap_id id, double value, bool fromFlush) {
        return std::vector<std::tuple<std::uint16_t, clap_id, double, bool>>{
            {CLAP_EVENT_PARAM_GESTURE_BEGIN, id, 0.0, fromFlush},
            {CLAP_EVENT_PARAM_VALUE, id, value, fromFlush},
            {CLAP_EVENT_PARAM_GESTURE_END, id, 0.0, fromFlush}};
    };
    auto received = [&] {
        std::vector<std::tuple<std::uint16_t, clap_id, double, bool>> events;
        for (const ClapReceivedEvent& event : session->takeReceivedEvents())
            events.emplace_back(event.type, event.parameter, event.value, event.fromFlush);
        return events;
    };

    // Nothing is processing: the plug-in asks for a flush and the events come in it.
    click(skin::kButtonOversampleX, kOversample);
    EXPECT_TRUE(session->takeFlushRequest());
    session->flush();
    EXPECT_EQ(received(), gesture(kOversample, 1.0, true));
    EXPECT_EQ(session->latencyFrames(), 9u);

    // Processing: the next block carries them, with no flush asked for.
    ASSERT_TRUE(session->activate(44100.0, 1, 64));
    ASSERT_TRUE(session->startProcessing());
    click(skin::kButtonPowerX, kEnable);
    EXPECT_FALSE(session->takeFlushRequest());
    StereoSignal<float> signal(64);
    session->process(signal.inputs(), 2, signal.outputs(), 2, 64);
    EXPECT_EQ(received(), gesture(kEnable, 0.0, false));
    EXPECT_EQ(session->parameterValue(kEnable), 0.0);
    session->closeEditor();
}

} // namespace
