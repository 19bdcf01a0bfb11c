// The update check end to end under Windows (Wine): real threads and the real
// WinINet download, against a small HTTP server on 127.0.0.1 that this test
// runs itself. Message boxes and the shell are replaced, so nothing appears on
// screen and no browser opens.
#include <winsock2.h>

#include "update/UpdateAnswers.h"
#include "update/UpdateCheckWin32.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace update_answers;

// ---- Winsock, reached through LoadLibrary (the test program does not link it)

struct Winsock {
    Winsock()
    {
        module = LoadLibraryA("ws2_32.dll");
        if (!module)
            return;
        load(startup, "WSAStartup");
        load(openSocket, "socket");
        load(bind, "bind");
        load(listen, "listen");
        load(getsockname, "getsockname");
        load(accept, "accept");
        load(recv, "recv");
        load(send, "send");
        load(shutdown, "shutdown");
        load(closesocket, "closesocket");
        load(select, "select");
        WSADATA data;
        ready = startup && openSocket && bind && listen && getsockname && accept && recv && send && shutdown &&
                closesocket && select && startup(MAKEWORD(2, 2), &data) == 0;
    }
    template <typename Function> void load(Function& function, const char* name)
    {
        function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }

    HMODULE module = nullptr;
    bool ready = false;
    int(WSAAPI* startup)(WORD, WSADATA*) = nullptr;
    SOCKET(WSAAPI* openSocket)(int, int, int) = nullptr;
    int(WSAAPI* bind)(SOCKET, const sockaddr*, int) = nullptr;
    int(WSAAPI* listen)(SOCKET, int) = nullptr;
    int(WSAAPI* getsockname)(SOCKET, sockaddr*, int*) = nullptr;
    SOCKET(WSAAPI* accept)(SOCKET, sockaddr*, int*) = nullptr;
    int(WSAAPI* recv)(SOCKET, char*, int, int) = nullptr;
    int(WSAAPI* send)(SOCKET, const char*, int, int) = nullptr;
    int(WSAAPI* shutdown)(SOCKET, int) = nullptr;
    int(WSAAPI* closesocket)(SOCKET) = nullptr;
    int(WSAAPI* select)(int, fd_set*, fd_set*, fd_set*, const timeval*) = nullptr;
};

Winsock& winsock()
{
    static Winsock instance;
    return instance;
}

// A listening socket on 127.0.0.1 with a port the system picked; 0 on failure.
SOCKET listenOnLoopback(unsigned short& port)
{
    Winsock& ws = winsock();
    SOCKET listener = ws.openSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET)
        return INVALID_SOCKET;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.S_un.S_un_b = {127, 0, 0, 1};
    address.sin_port = 0;
    int length = sizeof address;
    if (ws.bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ws.listen(listener, 4) != 0 ||
        ws.getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ws.closesocket(listener);
        return INVALID_SOCKET;
    }
    // Network byte order, most significant byte first.
    const auto* portBytes = reinterpret_cast<const unsigned char*>(&address.sin_port);
    port = static_cast<unsigned short>(portBytes[0] << 8 | portBytes[1]);
    return listener;
}

bool waitReadable(SOCKET socket, long milliseconds)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval limit{milliseconds / 1000, (milliseconds % 1000) * 1000};
    return winsock().select(0, &readable, nullptr, nullptr, &limit) > 0;
}

// One step of the server's answer: optionally wait for the test to open a
// gate, pause, then send bytes.
struct Step {
    std::string bytes;
    DWORD pauseMs = 0;
    HANDLE gate = nullptr;
};

// Serves one connection with a fixed script, then closes it gracefully.
class LoopbackServer {
public:
    explicit LoopbackServer(std::vector<Step> script) : script(std::move(script))
    {
        requestSeen = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        listener = listenOnLoopback(port);
        if (listener != INVALID_SOCKET)
            worker = std::thread([this] { serve(); });
    }
    ~LoopbackServer()
    {
        if (worker.joinable())
            worker.join();
        if (listener != INVALID_SOCKET)
            winsock().closesocket(listener);
        CloseHandle(requestSeen);
    }
    bool listening() const { return listener != INVALID_SOCKET; }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port); }
    // The request as received; complete once requestSeen is set.
    std::string request()
    {
        std::lock_guard<std::mutex> hold(requestMutex);
        return received;
    }
    HANDLE requestSeen;

private:
    void serve()
    {
        Winsock& ws = winsock();
        if (!waitReadable(listener, 20000))
            return;
        SOCKET client = ws.accept(listener, nullptr, nullptr);
        if (client == INVALID_SOCKET)
            return;
        char buffer[4096];
        while (waitReadable(client, 5000)) {
            const int count = ws.recv(client, buffer, sizeof buffer, 0);
            if (count <= 0)
                break;
            std::lock_guard<std::mutex> hold(requestMutex);
            received.append(buffer, static_cast<std::size_t>(count));
            if (received.find("\r\n\r\n") != std::string::npos)
                break;
        }
        SetEvent(requestSeen);
        for (const Step& step : script) {
            if (step.gate)
                WaitForSingleObject(step.gate, 20000);
            if (step.pauseMs)
                Sleep(step.pauseMs);
            std::size_t sent = 0;
            while (sent < step.bytes.size()) {
                const int count =
                    ws.send(client, step.bytes.data() + sent, static_cast<int>(step.bytes.size() - sent), 0);
                if (count <= 0)
                    break;
                sent += static_cast<std::size_t>(count);
            }
        }
        ws.shutdown(client, SD_SEND);
        // Drain until the client hangs up, so the close is an orderly one.
        while (waitReadable(client, 500) && ws.recv(client, buffer, sizeof buffer, 0) > 0) {
        }
        ws.closesocket(client);
    }

    std::vector<Step> script;
    unsigned short port = 0;
    SOCKET listener = INVALID_SOCKET;
    std::thread worker;
    std::mutex requestMutex;
    std::string received;
};

// ---- Replacements for the message box and the shell

struct ShownMessage {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};

struct ShellCall {
    HWND owner;
    std::string verb;
    std::string file;
    bool parametersGiven;
    bool directoryGiven;
    INT show;
};

struct Recorder {
    std::mutex mutex;
    std::vector<ShownMessage> messages;
    std::vector<ShellCall> shellCalls;
    int reply = IDNO;
    HANDLE messageShown = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE messageGate = nullptr; // when set, the message box stays "open" until it is signalled
    std::vector<HANDLE> closedHandles;
};

Recorder& recorder()
{
    static Recorder instance;
    return instance;
}

int WINAPI recordingMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    Recorder& record = recorder();
    HANDLE gate;
    int reply;
    {
        std::lock_guard<std::mutex> hold(record.mutex);
        record.messages.push_back({owner, text ? text : "(null)", caption ? caption : "(null)", type});
        gate = record.messageGate;
        reply = record.reply;
    }
    SetEvent(record.messageShown);
    if (gate)
        WaitForSingleObject(gate, 20000);
    return reply;
}

HINSTANCE WINAPI recordingShellExecute(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                                       INT show)
{
    Recorder& record = recorder();
    std::lock_guard<std::mutex> hold(record.mutex);
    record.shellCalls.push_back(
        {owner, verb ? verb : "(null)", file ? file : "(null)", parameters != nullptr, directory != nullptr, show});
    return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(33));
}

// Records which thread handles the check released, and releases them.
BOOL WINAPI recordingCloseHandle(HANDLE handle)
{
    {
        std::lock_guard<std::mutex> hold(recorder().mutex);
        recorder().closedHandles.push_back(handle);
    }
    return CloseHandle(handle);
}

class UpdateCheckFlow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(winsock().ready) << "Winsock is not available";
        state.identity = kOurIdentity;
        Recorder& record = recorder();
        std::lock_guard<std::mutex> hold(record.mutex);
        record.messages.clear();
        record.shellCalls.clear();
        record.closedHandles.clear();
        record.reply = IDNO;
        record.messageGate = nullptr;
        ResetEvent(record.messageShown);
    }
    void TearDown() override
    {
        abandonUpdateCheck(state);
        setUpdateCheckTestHooks(nullptr);
    }

    // Sends checks to base (and offers it as the download page).
    void redirectTo(const std::string& base)
    {
        page = base;
        UpdateCheckTestHooks hooks{&recordingMessageBox, &recordingShellExecute, page.c_str(), &recordingCloseHandle};
        setUpdateCheckTestHooks(&hooks);
    }

    bool waitForCheck(DWORD limitMs = 20000)
    {
        return state.threadHandle &&
               WaitForSingleObject(static_cast<HANDLE>(state.threadHandle), limitMs) == WAIT_OBJECT_0;
    }

    // Runs one whole check against the server and returns the one message it showed.
    ShownMessage checkAgainst(LoopbackServer& server, int reply = IDNO)
    {
        EXPECT_TRUE(server.listening());
        redirectTo(server.base());
        recorder().reply = reply;
        startUpdateCheck(state, nullptr);
        EXPECT_TRUE(waitForCheck()) << "the check did not end";
        DWORD exitCode = 1;
        EXPECT_TRUE(GetExitCodeThread(static_cast<HANDLE>(state.threadHandle), &exitCode));
        EXPECT_EQ(exitCode, 0u);
        return onlyMessage();
    }

    ShownMessage onlyMessage()
    {
        Recorder& record = recorder();
        std::lock_guard<std::mutex> hold(record.mutex);
        EXPECT_EQ(record.messages.size(), 1u);
        return record.messages.empty() ? ShownMessage{nullptr, "(none)", "(none)", 0} : record.messages.front();
    }

    std::size_t shellCallCount()
    {
        std::lock_guard<std::mutex> hold(recorder().mutex);
        return recorder().shellCalls.size();
    }

    UpdateCheckState state;
    std::string page;
};

void expectFailure(const ShownMessage& message)
{
    EXPECT_EQ(message.text, kFailureText);
    EXPECT_EQ(message.caption, "OVK Grindlemark");
    EXPECT_EQ(message.type, static_cast<UINT>(MB_OK | MB_ICONWARNING));
}

void expectOffer(const ShownMessage& message)
{
    EXPECT_EQ(message.text, kOfferText);
    EXPECT_EQ(message.caption, "OVK Grindlemark");
    EXPECT_EQ(message.type, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
}

// ---- Answers of the server

TEST_F(UpdateCheckFlow, OurRecordAfterAnotherPluginsWithOurVersionIsTheLatest)
{
    LoopbackServer server({{answer(otherRecord(1001) + ourRecord(1000))}});
    const ShownMessage message = checkAgainst(server);
    EXPECT_EQ(message.text, kLatestText);
    EXPECT_EQ(message.caption, "OVK Grindlemark");
    EXPECT_EQ(message.type, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
    EXPECT_EQ(shellCallCount(), 0u);

    // The request: the record file beneath the page, our agent, never from a cache.
    const std::string request = server.request();
    EXPECT_EQ(request.rfind("GET /versions.dat HTTP/1.1\r\n", 0), 0u) << request;
    EXPECT_NE(request.find("User-Agent: OVK Grindlemark\r\n"), std::string::npos) << request;
    EXPECT_NE(request.find("Pragma: no-cache\r\n"), std::string::npos) << request;
    EXPECT_EQ(request.find("Cookie:"), std::string::npos) << request;
}

TEST_F(UpdateCheckFlow, OlderVersionIsOfferedAndNoOpensNothing)
{
    LoopbackServer server({{answer(ourRecord(999))}});
    expectOffer(checkAgainst(server, IDNO));
    EXPECT_EQ(shellCallCount(), 0u);
}

TEST_F(UpdateCheckFlow, NewerVersionIsOfferedAndYesOpensTheDownloadPage)
{
    LoopbackServer server({{answer(ourRecord(1001))}});
    expectOffer(checkAgainst(server, IDYES));
    std::lock_guard<std::mutex> hold(recorder().mutex);
    ASSERT_EQ(recorder().shellCalls.size(), 1u);
    const ShellCall& call = recorder().shellCalls.front();
    EXPECT_EQ(call.owner, nullptr);
    EXPECT_EQ(call.verb, "open");
    EXPECT_EQ(call.file, server.base());
    EXPECT_FALSE(call.parametersGiven);
    EXPECT_FALSE(call.directoryGiven);
    EXPECT_EQ(call.show, SW_SHOWNORMAL);
}

TEST_F(UpdateCheckFlow, UnusableAnswersGiveTheFailureMessage)
{
    struct Case {
        const char* name;
        std::string reply;
    };
    const Case cases[] = {
        // An error page is not a record file, even one that holds our record.
        {"404", answer(ourRecord(1001), "404 Not Found")},
        {"empty body", answer("")},
        {"version 0", answer(ourRecord(0))},
        {"7 bytes", answer(ourRecord(1001).substr(0, 7))},
        // Our record would start at offset 8, but only its ID arrives.
        {"12 bytes", answer(otherRecord(1000) + "T4mQ")},
        {"no record of ours", answer(otherRecord(1000) + otherRecord(1001))},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        SetUp();
        LoopbackServer server({{item.reply}});
        expectFailure(checkAgainst(server, IDYES));
        EXPECT_EQ(shellCallCount(), 0u);
    }
}

TEST_F(UpdateCheckFlow, ServerClosingMidBodyGivesTheFailureMessage)
{
    // Announces two records, sends one and a half, then hangs up.
    const std::string body = otherRecord(1000) + ourRecord(1001);
    LoopbackServer server({{answer(body).substr(0, answer(body).size() - 2)}});
    expectFailure(checkAgainst(server, IDYES));
}

TEST_F(UpdateCheckFlow, UnreachableServerOrNoAddressGivesTheFailureMessage)
{
    unsigned short port = 0;
    SOCKET probe = listenOnLoopback(port);
    ASSERT_NE(probe, INVALID_SOCKET);
    winsock().closesocket(probe); // nothing listens there any more
    redirectTo("http://127.0.0.1:" + std::to_string(port));
    startUpdateCheck(state, nullptr);
    ASSERT_TRUE(waitForCheck());
    expectFailure(onlyMessage());

    // A build that carries no address keeps the button and says the same.
    SetUp();
    redirectTo("");
    recorder().reply = IDYES;
    startUpdateCheck(state, nullptr);
    ASSERT_TRUE(waitForCheck());
    expectFailure(onlyMessage());
    EXPECT_EQ(shellCallCount(), 0u);
}

TEST_F(UpdateCheckFlow, SlowServerDribblingTheBodyIsReadWhole)
{
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 16\r\n\r\n";
    const std::string body = otherRecord(1000) + ourRecord(1001);
    std::vector<Step> script{{head, 1000}};
    for (char byte : body)
        script.push_back({std::string(1, byte), 40});
    LoopbackServer server(std::move(script));
    expectOffer(checkAgainst(server));
}

TEST_F(UpdateCheckFlow, ChunkedBodySplittingRecordsIsReadWhole)
{
    const std::string body = otherRecord(1000) + otherRecord(7) + ourRecord(999);
    std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    std::vector<Step> script{{chunked}};
    for (std::size_t at = 0; at < body.size(); at += 5) {
        const std::string piece = body.substr(at, 5);
        char size[16];
        snprintf(size, sizeof size, "%zx\r\n", piece.size());
        script.push_back({size + piece + "\r\n", 30});
    }
    script.push_back({"0\r\n\r\n"});
    LoopbackServer server(std::move(script));
    expectOffer(checkAgainst(server));
}

TEST_F(UpdateCheckFlow, LongBodyWithOurRecordAtTheEnd)
{
    std::string noise(1u << 20, '\0');
    std::uint32_t generator = 1;
    for (char& byte : noise) {
        generator = generator * 1664525u + 1013904223u;
        byte = static_cast<char>(generator >> 24);
    }
    for (std::size_t at = 0; at < noise.size(); at += 8) {
        if (noise.compare(at, 4, "T4mQ") == 0)
            noise[at] = 'X';
    }
    LoopbackServer server({{answer(noise + ourRecord(1001))}});
    expectOffer(checkAgainst(server));
}

// ---- The thread, the owner window and the editor's lifetime

TEST_F(UpdateCheckFlow, MessageBoxIsOwnedByTheEditorsWindowWhileItExists)
{
    HWND window = CreateWindowExA(0, "STATIC", "editor", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    {
        LoopbackServer server({{answer(ourRecord(1000))}});
        redirectTo(server.base());
        startUpdateCheck(state, window);
        EXPECT_EQ(state.ownerWindow, window);
        ASSERT_TRUE(waitForCheck());
        EXPECT_EQ(onlyMessage().owner, window);
    }

    // The window closes while the download runs: the box then stands alone.
    SetUp();
    HANDLE gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    LoopbackServer server({{answer(ourRecord(1000)), 0, gate}});
    redirectTo(server.base());
    startUpdateCheck(state, window);
    ASSERT_EQ(WaitForSingleObject(server.requestSeen, 10000), WAIT_OBJECT_0);
    DestroyWindow(window);
    SetEvent(gate);
    ASSERT_TRUE(waitForCheck());
    const ShownMessage message = onlyMessage();
    EXPECT_EQ(message.owner, nullptr);
    EXPECT_EQ(message.text, kLatestText);
    CloseHandle(gate);
}

TEST_F(UpdateCheckFlow, SecondRequestWhileTheFirstIsOpenDoesNothing)
{
    HANDLE gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    recorder().messageGate = gate;
    LoopbackServer first({{answer(ourRecord(999))}});
    redirectTo(first.base());
    startUpdateCheck(state, nullptr);
    void* const firstThread = state.threadHandle;
    ASSERT_NE(firstThread, nullptr);
    ASSERT_EQ(WaitForSingleObject(recorder().messageShown, 20000), WAIT_OBJECT_0);

    HWND other = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));
    startUpdateCheck(state, other);
    startUpdateCheck(state, other);
    EXPECT_EQ(state.threadHandle, firstThread);
    EXPECT_EQ(state.ownerWindow, nullptr);

    SetEvent(gate);
    ASSERT_TRUE(waitForCheck());
    expectOffer(onlyMessage());

    // Once it has ended, the next request starts a new check and releases the old handle.
    recorder().messageGate = nullptr;
    LoopbackServer second({{answer(ourRecord(1000))}});
    redirectTo(second.base());
    startUpdateCheck(state, nullptr);
    // The finished thread's handle was released exactly once, and only after
    // the new thread had its own, so the two cannot share a value. (Asking the
    // system about the old value would prove nothing: the next handle opened
    // anywhere in the process may carry it again.)
    {
        std::lock_guard<std::mutex> hold(recorder().mutex);
        EXPECT_EQ(recorder().closedHandles, std::vector<HANDLE>{static_cast<HANDLE>(firstThread)});
    }
    EXPECT_NE(state.threadHandle, firstThread);
    ASSERT_TRUE(waitForCheck());
    std::lock_guard<std::mutex> hold(recorder().mutex);
    ASSERT_EQ(recorder().messages.size(), 2u);
    EXPECT_EQ(recorder().messages[1].text, kLatestText);
    CloseHandle(gate);
}

TEST_F(UpdateCheckFlow, EditorDestroyedMidDownloadReturnsAtOnceAndTheCheckEndsSilently)
{
    HANDLE gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    LoopbackServer server({{answer(ourRecord(1001)), 0, gate}});
    redirectTo(server.base());
    recorder().reply = IDYES;
    startUpdateCheck(state, nullptr);
    ASSERT_EQ(WaitForSingleObject(server.requestSeen, 10000), WAIT_OBJECT_0);
    HANDLE thread = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), static_cast<HANDLE>(state.threadHandle), GetCurrentProcess(),
                                &thread, SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, 0));

    // The server holds the answer back until the gate opens, so the check is
    // provably still running when abandoning returns: it did not wait.
    abandonUpdateCheck(state);
    EXPECT_EQ(WaitForSingleObject(thread, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(state.threadHandle, nullptr);
    EXPECT_EQ(state.job, nullptr);

    SetEvent(gate);
    EXPECT_EQ(WaitForSingleObject(thread, 20000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    EXPECT_TRUE(GetExitCodeThread(thread, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    CloseHandle(thread);
    CloseHandle(gate);
    std::lock_guard<std::mutex> hold(recorder().mutex);
    EXPECT_TRUE(recorder().messages.empty());
    EXPECT_TRUE(recorder().shellCalls.empty());
}

} // namespace
