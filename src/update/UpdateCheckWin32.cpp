#include "update/UpdateCheckWin32.h"

#include "update/UpdateFlow.h"
#include "update/VersionRecordScan.h"

#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

static_assert(kVersionRequestFlags == 0x84080300, "request flags");

// The request and how this platform meets the user, copied when the check starts.
struct UpdateCheckJob : UpdateRequest {
    HWND ownerWindow = nullptr;
    UpdateMessageBoxFunction messageBox = &MessageBoxA;
    UpdateShellExecuteFunction shellExecute = &ShellExecuteA;
    HMODULE module = nullptr; // the thread's own reference to this library
};

namespace {

UpdateCheckTestHooks testHooks{};

// Reads the body in blocks and hands it out in whatever pieces the scan asks
// for: a long body costs a few hundred network reads instead of one per record.
class InternetRecordSource : public VersionRecordSource {
public:
    explicit InternetRecordSource(HINTERNET request) : request(request) {}
    bool read(unsigned char* buffer, std::size_t capacity, std::size_t& received) override
    {
        received = 0;
        if (next == filled) {
            DWORD count = 0;
            if (!InternetReadFile(request, block, sizeof block, &count))
                return false;
            next = 0;
            filled = std::min<std::size_t>(count, sizeof block);
        }
        received = std::min(capacity, filled - next);
        std::memcpy(buffer, block + next, received);
        next += received;
        return true;
    }

private:
    HINTERNET request;
    unsigned char block[4096];
    std::size_t next = 0;
    std::size_t filled = 0;
};

// An error page is not a record file, whatever bytes it happens to hold.
bool answeredWithSuccess(HINTERNET request)
{
    DWORD status = 0;
    DWORD size = sizeof status;
    DWORD index = 0;
    return HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, &index) &&
           status == 200;
}

// WinINet for the download, message boxes for the user, the shell for the page.
class WindowsUpdatePlatform : public UpdatePlatform {
public:
    explicit WindowsUpdatePlatform(const UpdateCheckJob& job) : job(job) {}

    std::uint32_t fetchLatestVersion(const std::string& recordAddress, std::uint32_t uniqueId) override
    {
        HINTERNET internet = InternetOpenA(kUpdateCheckCaption, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        return internet ? ::fetchLatestVersion(internet, recordAddress.c_str(), uniqueId) : 0;
    }

    bool tellUser(UpdateOutcome outcome) override
    {
        // The editor's window may have closed during the download; a box with
        // a stale owner would never show, so it then stands on its own.
        HWND owner = job.ownerWindow && IsWindow(job.ownerWindow) ? job.ownerWindow : nullptr;
        const char* text = updateMessageText(outcome);
        switch (outcome) {
        case UpdateOutcome::noInformation:
            job.messageBox(owner, text, kUpdateCheckCaption, MB_OK | MB_ICONWARNING);
            return false;
        case UpdateOutcome::alreadyLatest:
            job.messageBox(owner, text, kUpdateCheckCaption, MB_OK | MB_ICONINFORMATION);
            return false;
        case UpdateOutcome::offerDownload:
            break;
        }
        return job.messageBox(owner, text, kUpdateCheckCaption, MB_YESNO | MB_ICONQUESTION) == IDYES;
    }

    void openDownloadPage(const std::string& page) override
    {
        job.shellExecute(nullptr, "open", page.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    }

private:
    const UpdateCheckJob& job;
};

void releaseThreadHandle(UpdateCheckState& state)
{
    if (state.threadHandle)
        (testHooks.closeHandle ? testHooks.closeHandle : &CloseHandle)(static_cast<HANDLE>(state.threadHandle));
    state.threadHandle = nullptr;
}

bool stillRunning(HANDLE thread)
{
    DWORD exitCode = 0;
    return thread && GetExitCodeThread(thread, &exitCode) && exitCode == STILL_ACTIVE;
}

} // namespace

std::uint32_t fetchLatestVersion(HINTERNET internet, const char* recordAddress, std::uint32_t uniqueId)
{
    DWORD connectTimeout = kConnectTimeoutMs;
    InternetSetOptionA(internet, INTERNET_OPTION_CONNECT_TIMEOUT, &connectTimeout, sizeof connectTimeout);
    // Without a receive time-out a server that accepts and then falls silent
    // would keep the check, and with it the update button, busy for as long
    // as it likes. Requests inherit it from the session.
    DWORD receiveTimeout = kReceiveTimeoutMs;
    InternetSetOptionA(internet, INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveTimeout, sizeof receiveTimeout);

    std::uint32_t latestVersion = 0;
    HINTERNET request = InternetOpenUrlA(internet, recordAddress, nullptr, 0, kVersionRequestFlags, 0);
    if (request) {
        if (answeredWithSuccess(request)) {
            InternetRecordSource source(request);
            latestVersion = findVersionRecord(source, uniqueId);
        }
        InternetCloseHandle(request);
    }
    InternetCloseHandle(internet);
    return latestVersion;
}

DWORD WINAPI updateCheckThread(void* parameter)
{
    HMODULE module = nullptr;
    {
        std::unique_ptr<std::shared_ptr<UpdateCheckJob>> job(static_cast<std::shared_ptr<UpdateCheckJob>*>(parameter));
        module = (*job)->module;
        WindowsUpdatePlatform platform(**job);
        runUpdateCheck(**job, platform);
    }
    // The host may have unloaded the library while the check ran; this drops
    // the last reference only after the thread has left the library's code.
    FreeLibraryAndExitThread(module, 0);
    return 0;
}

void startUpdateCheck(UpdateCheckState& state, void* ownerWindow)
{
    if (stillRunning(static_cast<HANDLE>(state.threadHandle)))
        return;

    auto job = std::make_shared<UpdateCheckJob>();
    prepareUpdateRequest(*job, state.identity, testHooks.downloadPage);
    job->ownerWindow = static_cast<HWND>(ownerWindow);
    if (testHooks.messageBox)
        job->messageBox = testHooks.messageBox;
    if (testHooks.shellExecute)
        job->shellExecute = testHooks.shellExecute;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(reinterpret_cast<void*>(&updateCheckThread)), &job->module))
        return;

    auto* threadReference = new std::shared_ptr<UpdateCheckJob>(job);
    HANDLE thread = CreateThread(nullptr, 0, &updateCheckThread, threadReference, 0, nullptr);
    if (!thread) {
        delete threadReference;
        FreeLibrary(job->module);
        return;
    }
    // The finished thread's handle is released only now, so the new handle
    // can never carry the old value.
    releaseThreadHandle(state);
    state.ownerWindow = ownerWindow;
    state.threadHandle = thread;
    state.job = std::move(job);
}

void abandonUpdateCheck(UpdateCheckState& state)
{
    if (state.job)
        state.job->abandoned.store(true);
    releaseThreadHandle(state);
    state.ownerWindow = nullptr;
    state.job.reset();
}

void setUpdateCheckTestHooks(const UpdateCheckTestHooks* hooks)
{
    testHooks = hooks ? *hooks : UpdateCheckTestHooks{};
}
