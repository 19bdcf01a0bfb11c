#include "update/UpdateCheckWin32.h"

#include "effect/BoosterEffect.h"
#include "update/UpdateOutcome.h"
#include "update/VersionRecordScan.h"

#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>

static_assert(kVersionRequestFlags == 0x84080300, "request flags");

// Everything one check thread works with, copied when it starts: the thread
// never looks at the editor, which may be gone before it finishes.
struct UpdateCheckJob {
    HWND ownerWindow = nullptr;
    std::string downloadPage;
    UpdateMessageBoxFunction messageBox = &MessageBoxA;
    UpdateShellExecuteFunction shellExecute = &ShellExecuteA;
    HMODULE module = nullptr; // the thread's own reference to this library
    std::atomic<bool> abandoned{false};
};

namespace {

bool testHooksSet = false;
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

void reportOutcome(UpdateCheckJob& job, std::uint32_t latestVersion)
{
    // The editor's window may have closed during the download; a box with a
    // stale owner would never show, so it then stands on its own.
    HWND owner = job.ownerWindow && IsWindow(job.ownerWindow) ? job.ownerWindow : nullptr;
    const UpdateOutcome outcome = classifyLatestVersion(latestVersion);
    const char* text = updateMessageText(outcome);
    switch (outcome) {
    case UpdateOutcome::noInformation:
        job.messageBox(owner, text, kUpdateCheckCaption, MB_OK | MB_ICONWARNING);
        break;
    case UpdateOutcome::alreadyLatest:
        job.messageBox(owner, text, kUpdateCheckCaption, MB_OK | MB_ICONINFORMATION);
        break;
    case UpdateOutcome::offerDownload:
        if (job.messageBox(owner, text, kUpdateCheckCaption, MB_YESNO | MB_ICONQUESTION) == IDYES)
            job.shellExecute(nullptr, "open", job.downloadPage.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        break;
    }
}

void runUpdateCheck(UpdateCheckJob& job)
{
    std::uint32_t latestVersion = 0;
    HINTERNET internet = InternetOpenA(kUpdateCheckCaption, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (internet)
        latestVersion = fetchLatestVersion(internet, versionRecordAddress(job.downloadPage).c_str());
    if (job.abandoned.load())
        return;
    reportOutcome(job, latestVersion);
}

bool stillRunning(HANDLE thread)
{
    DWORD exitCode = 0;
    return thread && GetExitCodeThread(thread, &exitCode) && exitCode == STILL_ACTIVE;
}

} // namespace

std::uint32_t fetchLatestVersion(HINTERNET internet, const char* recordAddress)
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
            latestVersion = findVersionRecord(source, static_cast<std::uint32_t>(kBoosterUniqueId));
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
        runUpdateCheck(**job);
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
    job->ownerWindow = static_cast<HWND>(ownerWindow);
    job->downloadPage = kDownloadPageAddress;
    if (testHooksSet) {
        if (testHooks.messageBox)
            job->messageBox = testHooks.messageBox;
        if (testHooks.shellExecute)
            job->shellExecute = testHooks.shellExecute;
        if (testHooks.downloadPage)
            job->downloadPage = testHooks.downloadPage;
    }
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
    if (state.threadHandle)
        CloseHandle(static_cast<HANDLE>(state.threadHandle));
    state.ownerWindow = ownerWindow;
    state.threadHandle = thread;
    state.job = std::move(job);
}

void abandonUpdateCheck(UpdateCheckState& state)
{
    if (state.job)
        state.job->abandoned.store(true);
    if (state.threadHandle)
        CloseHandle(static_cast<HANDLE>(state.threadHandle));
    state.threadHandle = nullptr;
    state.ownerWindow = nullptr;
    state.job.reset();
}

void setUpdateCheckTestHooks(const UpdateCheckTestHooks* hooks)
{
    testHooksSet = hooks != nullptr;
    testHooks = hooks ? *hooks : UpdateCheckTestHooks{};
}
