// The update check end to end on Linux: real threads and the real libcurl
// download, against a small HTTP server on 127.0.0.1 that this test runs
// itself. The dialog and the browser are replaced, except in the dialog tests,
// which drive the real dialog on the X display the tests run under.
#include "update/UpdateCheckPosix.h"
#include "update/UpdateAnswers.h"

// Before Xlib, whose macros (None, Bool) would break it.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace update_answers;

// A latch the test opens to let the server go on.
class Gate {
public:
    void open()
    {
        std::lock_guard<std::mutex> hold(mutex);
        opened = true;
        changed.notify_all();
    }
    // False when the gate stayed shut for limitMs.
    bool wait(int limitMs)
    {
        std::unique_lock<std::mutex> hold(mutex);
        return changed.wait_for(hold, std::chrono::milliseconds(limitMs), [this] { return opened; });
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    bool opened = false;
};

bool waitReadable(int socket, int milliseconds)
{
    pollfd entry{socket, POLLIN, 0};
    return poll(&entry, 1, milliseconds) > 0;
}

// A listening socket on 127.0.0.1 with a port the system picked; -1 on failure.
int listenOnLoopback(unsigned short& port)
{
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 4) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(listener);
        return -1;
    }
    port = ntohs(address.sin_port);
    return listener;
}

// Serves one connection: waits for the request, optionally for a gate, sends
// the answer and closes gracefully.
class LoopbackServer {
public:
    explicit LoopbackServer(std::string reply, Gate* gate = nullptr) : reply(std::move(reply)), gate(gate)
    {
        listener = listenOnLoopback(port);
        if (listener >= 0)
            worker = std::thread([this] { serve(); });
    }
    ~LoopbackServer()
    {
        if (worker.joinable())
            worker.join();
        if (listener >= 0)
            close(listener);
    }
    bool listening() const { return listener >= 0; }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port); }
    // The request once it is complete; "" if none came within limitMs.
    std::string request(int limitMs = 20000)
    {
        std::unique_lock<std::mutex> hold(mutex);
        requestSeen.wait_for(hold, std::chrono::milliseconds(limitMs), [this] { return requestComplete; });
        return received;
    }

private:
    void serve()
    {
        if (!waitReadable(listener, 20000))
            return;
        const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return;
        char buffer[4096];
        std::string request;
        while (request.find("\r\n\r\n") == std::string::npos && waitReadable(client, 5000)) {
            const ssize_t count = recv(client, buffer, sizeof buffer, 0);
            if (count <= 0)
                break;
            request.append(buffer, static_cast<std::size_t>(count));
        }
        {
            std::lock_guard<std::mutex> hold(mutex);
            received = request;
            requestComplete = true;
            requestSeen.notify_all();
        }
        if (gate)
            gate->wait(20000);
        std::size_t sent = 0;
        while (sent < reply.size()) {
            const ssize_t count = send(client, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
            if (count <= 0)
                break;
            sent += static_cast<std::size_t>(count);
        }
        shutdown(client, SHUT_WR);
        // Drain until the client hangs up, so the close is an orderly one.
        while (waitReadable(client, 500) && recv(client, buffer, sizeof buffer, 0) > 0) {
        }
        close(client);
    }

    std::string reply;
    Gate* gate;
    unsigned short port = 0;
    int listener = -1;
    std::thread worker;
    std::mutex mutex;
    std::condition_variable requestSeen;
    bool requestComplete = false;
    std::string received;
};

// ---- Replacements for the dialog and the browser

struct ShownDialog {
    std::uintptr_t owner;
    std::string text;
    std::string caption;
    UpdateDialogKind kind;
};

struct Recorder {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<ShownDialog> dialogs;
    std::vector<std::string> pages;
    bool reply = false;
    Gate* dialogGate = nullptr; // when set, the dialog stays "open" until it opens
};

Recorder& recorder()
{
    static Recorder instance;
    return instance;
}

bool recordingDialog(std::uintptr_t owner, const char* text, const char* caption, UpdateDialogKind kind)
{
    Recorder& record = recorder();
    Gate* gate;
    bool reply;
    {
        std::lock_guard<std::mutex> hold(record.mutex);
        record.dialogs.push_back({owner, text, caption, kind});
        gate = record.dialogGate;
        reply = record.reply;
        record.changed.notify_all();
    }
    if (gate)
        gate->wait(20000);
    return reply;
}

void recordingOpenPage(const std::string& page)
{
    std::lock_guard<std::mutex> hold(recorder().mutex);
    recorder().pages.push_back(page);
}

class UpdateCheckPosixFlow : public ::testing::Test {
protected:
    // A proxy set for this machine cannot reach the test's own loopback
    // server. Runs before any check thread of this suite exists.
    static void SetUpTestSuite()
    {
        for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            unsetenv(name);
    }
    void SetUp() override
    {
        state.identity = kOurIdentity;
        Recorder& record = recorder();
        std::lock_guard<std::mutex> hold(record.mutex);
        record.dialogs.clear();
        record.pages.clear();
        record.reply = false;
        record.dialogGate = nullptr;
    }
    void TearDown() override
    {
        abandonUpdateCheck(state);
        setUpdateCheckTestHooks(nullptr);
    }

    // Sends checks to base (and offers it as the download page); the real
    // dialog on displayName when given, else the recording one.
    void redirectTo(const std::string& base, const char* displayName = nullptr)
    {
        page = base;
        display = displayName ? displayName : "";
        UpdateCheckTestHooks hooks{displayName ? nullptr : &recordingDialog, &recordingOpenPage, page.c_str(),
                                   displayName ? display.c_str() : nullptr};
        setUpdateCheckTestHooks(&hooks);
    }

    // Waits for the check that started last (or job) to end.
    bool waitForCheck(std::shared_ptr<UpdateCheckJob> job = nullptr)
    {
        if (!job)
            job = state.job;
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (job && !updateCheckFinished(*job) && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return job && updateCheckFinished(*job);
    }

    ShownDialog checkAgainst(LoopbackServer& server, bool reply = false)
    {
        EXPECT_TRUE(server.listening());
        redirectTo(server.base());
        recorder().reply = reply;
        startUpdateCheck(state, nullptr);
        EXPECT_TRUE(waitForCheck()) << "the check did not end";
        return onlyDialog();
    }

    ShownDialog onlyDialog()
    {
        std::lock_guard<std::mutex> hold(recorder().mutex);
        EXPECT_EQ(recorder().dialogs.size(), 1u);
        return recorder().dialogs.empty() ? ShownDialog{0, "(none)", "(none)", UpdateDialogKind::warning}
                                          : recorder().dialogs.front();
    }

    std::vector<std::string> pagesOpened()
    {
        std::lock_guard<std::mutex> hold(recorder().mutex);
        return recorder().pages;
    }

    UpdateCheckState state;
    std::string page;
    std::string display;
};

void expectDialog(const ShownDialog& dialog, const char* text, UpdateDialogKind kind)
{
    EXPECT_EQ(dialog.text, text);
    EXPECT_EQ(dialog.caption, "OVK Grindlemark");
    EXPECT_EQ(dialog.kind, kind);
}

// ---- Answers of the server

TEST_F(UpdateCheckPosixFlow, OurVersionIsTheLatestAndTheRequestIsPlain)
{
    LoopbackServer server(answer(otherRecord(1001) + ourRecord(1000)));
    expectDialog(checkAgainst(server, true), kLatestText, UpdateDialogKind::information);
    EXPECT_TRUE(pagesOpened().empty());

    // The record file beneath the page, our agent, never from a cache, no cookies.
    const std::string request = server.request();
    EXPECT_EQ(request.rfind("GET /versions.dat HTTP/1.1\r\n", 0), 0u) << request;
    EXPECT_NE(request.find("User-Agent: OVK Grindlemark\r\n"), std::string::npos) << request;
    EXPECT_NE(request.find("Pragma: no-cache\r\n"), std::string::npos) << request;
    EXPECT_EQ(request.find("Cookie:"), std::string::npos) << request;
}

TEST_F(UpdateCheckPosixFlow, NewerVersionIsOfferedAndOnlyYesOpensTheDownloadPage)
{
    {
        LoopbackServer server(answer(ourRecord(1001)));
        expectDialog(checkAgainst(server, false), kOfferText, UpdateDialogKind::question);
        EXPECT_TRUE(pagesOpened().empty());
    }
    SetUp();
    LoopbackServer server(answer(otherRecord(7) + ourRecord(999)));
    expectDialog(checkAgainst(server, true), kOfferText, UpdateDialogKind::question);
    EXPECT_EQ(pagesOpened(), std::vector<std::string>{server.base()});
}

TEST_F(UpdateCheckPosixFlow, UnusableAnswersGiveTheFailureMessage)
{
    struct Case {
        const char* name;
        std::string reply;
    };
    const std::string body = otherRecord(1000) + ourRecord(1001);
    const Case cases[] = {
        // An error page is not a record file, even one that holds our record.
        {"404", answer(ourRecord(1001), "404 Not Found")},
        {"version 0", answer(ourRecord(0))},
        // Our record would start at offset 8, but only its ID arrives.
        {"12 bytes", answer(otherRecord(1000) + "T4mQ")},
        {"no record of ours", answer(otherRecord(1000) + otherRecord(1001))},
        // Announces two records, sends one and a half, then hangs up.
        {"closed mid-body", answer(body).substr(0, answer(body).size() - 2)},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        SetUp();
        LoopbackServer server(item.reply);
        expectDialog(checkAgainst(server, true), kFailureText, UpdateDialogKind::warning);
        EXPECT_TRUE(pagesOpened().empty());
    }
}

TEST_F(UpdateCheckPosixFlow, UnreachableServerOrNoAddressGivesTheFailureMessage)
{
    unsigned short port = 0;
    const int probe = listenOnLoopback(port);
    ASSERT_GE(probe, 0);
    close(probe); // nothing listens there any more
    redirectTo("http://127.0.0.1:" + std::to_string(port));
    recorder().reply = true;
    startUpdateCheck(state, nullptr);
    ASSERT_TRUE(waitForCheck());
    expectDialog(onlyDialog(), kFailureText, UpdateDialogKind::warning);

    // A build that carries no address keeps the button and says the same.
    SetUp();
    redirectTo("");
    recorder().reply = true;
    startUpdateCheck(state, nullptr);
    ASSERT_TRUE(waitForCheck());
    expectDialog(onlyDialog(), kFailureText, UpdateDialogKind::warning);
    EXPECT_TRUE(pagesOpened().empty());
}

// ---- The thread and the editor's lifetime

TEST_F(UpdateCheckPosixFlow, SecondRequestWhileTheFirstIsOpenDoesNothing)
{
    Gate dialogGate;
    recorder().dialogGate = &dialogGate;
    LoopbackServer first(answer(ourRecord(999)));
    redirectTo(first.base());
    const auto owner = reinterpret_cast<void*>(std::uintptr_t{0x2a00001});
    startUpdateCheck(state, owner);
    const std::shared_ptr<UpdateCheckJob> firstJob = state.job;
    ASSERT_NE(firstJob, nullptr);
    {
        std::unique_lock<std::mutex> hold(recorder().mutex);
        ASSERT_TRUE(
            recorder().changed.wait_for(hold, std::chrono::seconds(20), [] { return !recorder().dialogs.empty(); }));
    }
    startUpdateCheck(state, nullptr);
    startUpdateCheck(state, nullptr);
    EXPECT_EQ(state.job, firstJob);
    EXPECT_EQ(state.ownerWindow, owner);

    dialogGate.open();
    ASSERT_TRUE(waitForCheck());
    const ShownDialog dialog = onlyDialog();
    EXPECT_EQ(dialog.owner, std::uintptr_t{0x2a00001});
    expectDialog(dialog, kOfferText, UpdateDialogKind::question);

    // Once it has ended, the next request starts a new check.
    recorder().dialogGate = nullptr;
    LoopbackServer second(answer(ourRecord(1000)));
    redirectTo(second.base());
    startUpdateCheck(state, nullptr);
    EXPECT_NE(state.job, firstJob);
    ASSERT_TRUE(waitForCheck());
    std::lock_guard<std::mutex> hold(recorder().mutex);
    ASSERT_EQ(recorder().dialogs.size(), 2u);
    EXPECT_EQ(recorder().dialogs[1].text, kLatestText);
}

TEST_F(UpdateCheckPosixFlow, EditorClosedMidDownloadReturnsAtOnceAndTheCheckEndsSilently)
{
    Gate serverGate;
    LoopbackServer server(answer(ourRecord(1001)), &serverGate);
    redirectTo(server.base());
    recorder().reply = true;
    startUpdateCheck(state, nullptr);
    ASSERT_FALSE(server.request().empty());
    const std::shared_ptr<UpdateCheckJob> job = state.job;

    // The server holds the answer back until the gate opens, so the check is
    // provably still running when abandoning returns: it did not wait.
    abandonUpdateCheck(state);
    EXPECT_FALSE(updateCheckFinished(*job));
    EXPECT_EQ(state.job, nullptr);
    EXPECT_EQ(state.identity.uniqueId, kOurIdentity.uniqueId);

    serverGate.open();
    ASSERT_TRUE(waitForCheck(job));
    std::lock_guard<std::mutex> hold(recorder().mutex);
    EXPECT_TRUE(recorder().dialogs.empty());
    EXPECT_TRUE(recorder().pages.empty());
}

TEST_F(UpdateCheckPosixFlow, HostUnloadingTheLibraryMidCheckLeavesItsCodeInPlace)
{
    void* library = dlopen(GRINDLEMARK_UPDATE_PROBE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    const auto startProbeCheck = reinterpret_cast<void (*)(const char*, int)>(dlsym(library, "startProbeCheck"));
    ASSERT_NE(startProbeCheck, nullptr);
    int report[2];
    ASSERT_EQ(pipe2(report, O_CLOEXEC), 0);

    Gate serverGate;
    LoopbackServer server(answer(ourRecord(1000)), &serverGate);
    startProbeCheck(server.base().c_str(), report[1]);
    ASSERT_FALSE(server.request().empty());
    // The host lets the library go while the check waits for its answer.
    dlclose(library);
    void* stillLoaded = dlopen(GRINDLEMARK_UPDATE_PROBE, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(stillLoaded, nullptr);
    if (stillLoaded)
        dlclose(stillLoaded);

    serverGate.open();
    pollfd entry{report[0], POLLIN, 0};
    ASSERT_EQ(poll(&entry, 1, 30000), 1) << "the check never reached its dialog";
    char shown = 0;
    EXPECT_EQ(read(report[0], &shown, 1), 1);
    EXPECT_EQ(shown, 'd');
    close(report[0]);
    close(report[1]);
}

// ---- The real dialog

// A second connection that plays the user and the window manager.
class DialogDriver {
public:
    DialogDriver() : display(XOpenDisplay(nullptr)) {}
    ~DialogDriver()
    {
        if (display)
            XCloseDisplay(display);
    }
    // The mapped top-level window captioned caption, 0 if none shows within 20 s.
    Window findDialog(const char* caption)
    {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < limit) {
            Window root = 0;
            Window parent = 0;
            Window* children = nullptr;
            unsigned int count = 0;
            Window found = 0;
            if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) {
                for (unsigned int index = 0; index < count && !found; ++index) {
                    char* name = nullptr;
                    XWindowAttributes attributes;
                    if (XFetchName(display, children[index], &name) && name) {
                        if (std::strcmp(name, caption) == 0 &&
                            XGetWindowAttributes(display, children[index], &attributes) &&
                            attributes.map_state == IsViewable)
                            found = children[index];
                        XFree(name);
                    }
                }
                if (children)
                    XFree(children);
            }
            if (found)
                return found;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return 0;
    }
    Window transientFor(Window window)
    {
        Window owner = 0;
        return XGetTransientForHint(display, window, &owner) ? owner : 0;
    }
    void pressKey(Window window, KeySym key)
    {
        XEvent event{};
        event.xkey.type = KeyPress;
        event.xkey.display = display;
        event.xkey.window = window;
        event.xkey.root = DefaultRootWindow(display);
        event.xkey.keycode = XKeysymToKeycode(display, key);
        event.xkey.same_screen = True;
        XSendEvent(display, window, False, KeyPressMask, &event);
        XFlush(display);
    }
    void askToClose(Window window)
    {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
        XSendEvent(display, window, False, NoEventMask, &event);
        XFlush(display);
    }

    Display* const display;
};

TEST_F(UpdateCheckPosixFlow, RealDialogBelongsToTheEditorsTopLevelAndAnswersByKeyAndCloseButton)
{
    DialogDriver driver;
    if (!driver.display)
        GTEST_SKIP() << "no X display";
    const std::string displayName = DisplayString(driver.display);
    // The host's window, and the editor's panel inside it.
    Display* x = driver.display;
    const Window hostWindow =
        XCreateSimpleWindow(x, DefaultRootWindow(x), 0, 0, 606, 291, 0, 0, WhitePixel(x, DefaultScreen(x)));
    const Window panel = XCreateSimpleWindow(x, hostWindow, 0, 0, 606, 291, 0, 0, 0);
    XSync(x, False);
    const auto owner = reinterpret_cast<void*>(static_cast<std::uintptr_t>(panel));

    struct Case {
        const char* name;
        std::uint32_t version;
        const char* caption;
        bool closeByButton;
        KeySym key;
        bool pageOpens;
    };
    const Case cases[] = {
        {"offer, Return is Yes", 1001, "OVK Grindlemark", false, XK_Return, true},
        {"offer, Escape is No", 1001, "OVK Grindlemark", false, XK_Escape, false},
        {"offer, close button is No", 999, "OVK Grindlemark", true, 0, false},
        {"latest, Return is OK", 1000, "OVK Grindlemark", false, XK_Return, false},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        SetUp();
        LoopbackServer server(answer(ourRecord(item.version)));
        redirectTo(server.base(), displayName.c_str());
        startUpdateCheck(state, owner);
        const Window dialog = driver.findDialog(item.caption);
        ASSERT_NE(dialog, 0u);
        EXPECT_EQ(driver.transientFor(dialog), hostWindow);
        if (item.closeByButton)
            driver.askToClose(dialog);
        else
            driver.pressKey(dialog, item.key);
        ASSERT_TRUE(waitForCheck());
        EXPECT_EQ(pagesOpened().size(), item.pageOpens ? 1u : 0u);
    }

    // Once the editor's window has gone, the dialog stands on its own.
    SetUp();
    XDestroyWindow(x, hostWindow);
    XSync(x, False);
    LoopbackServer server(answer(ourRecord(1000)));
    redirectTo(server.base(), displayName.c_str());
    startUpdateCheck(state, owner);
    const Window dialog = driver.findDialog("OVK Grindlemark");
    ASSERT_NE(dialog, 0u);
    EXPECT_EQ(driver.transientFor(dialog), 0u);
    driver.pressKey(dialog, XK_Escape);
    ASSERT_TRUE(waitForCheck());
}

TEST_F(UpdateCheckPosixFlow, WithoutADisplayTheOutcomeIsDropped)
{
    LoopbackServer server(answer(ourRecord(1001)));
    // A display number nothing serves.
    redirectTo(server.base(), ":65000");
    startUpdateCheck(state, nullptr);
    ASSERT_TRUE(waitForCheck());
    EXPECT_TRUE(pagesOpened().empty());
}

} // namespace
