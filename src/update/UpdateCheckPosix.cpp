#include "update/UpdateCheckPosix.h"

#include "update/UpdateFlow.h"

#include <dlfcn.h>
#include <link.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <string>

extern char** environ;

// The request and how this platform meets the user, copied when the check starts.
struct UpdateCheckJob : UpdateRequest {
    std::uintptr_t ownerWindow = 0;
    UpdateDialogFunction showDialog = nullptr;
    UpdateOpenPageFunction openPage = nullptr;
    bool displayNameGiven = false;
    std::string displayName;
    std::atomic<bool> finished{false};
};

namespace {

UpdateCheckTestHooks testHooks{};

constexpr UpdateDialogKind dialogKind(UpdateOutcome outcome)
{
    switch (outcome) {
    case UpdateOutcome::noInformation:
        return UpdateDialogKind::warning;
    case UpdateOutcome::alreadyLatest:
        return UpdateDialogKind::information;
    case UpdateOutcome::offerDownload:
        break;
    }
    return UpdateDialogKind::question;
}

// libcurl for the download, a dialog on the X server, xdg-open for the page.
class PosixUpdatePlatform : public UpdatePlatform {
public:
    explicit PosixUpdatePlatform(const UpdateCheckJob& job) : job(job) {}

    std::uint32_t fetchLatestVersion(const std::string& recordAddress, std::uint32_t uniqueId) override
    {
        return fetchLatestVersionOverCurl(recordAddress, uniqueId);
    }

    bool tellUser(UpdateOutcome outcome) override
    {
        const char* text = updateMessageText(outcome);
        if (job.showDialog)
            return job.showDialog(job.ownerWindow, text, kUpdateCheckCaption, dialogKind(outcome));
        return showUpdateDialog(job.displayNameGiven ? job.displayName.c_str() : nullptr, job.ownerWindow, text,
                                kUpdateCheckCaption, dialogKind(outcome));
    }

    void openDownloadPage(const std::string& page) override
    {
        if (job.openPage)
            job.openPage(page);
        else
            openInBrowser(page);
    }

private:
    const UpdateCheckJob& job;
};

void* updateCheckThread(void* parameter)
{
    std::unique_ptr<std::shared_ptr<UpdateCheckJob>> job(static_cast<std::shared_ptr<UpdateCheckJob>*>(parameter));
    PosixUpdatePlatform platform(**job);
    runUpdateCheck(**job, platform);
    (*job)->finished.store(true);
    return nullptr;
}

// A check thread may outlive the editor and the host's dlclose. It cannot
// hold a counted reference to this module and drop it at its end: the last
// dlclose would unmap the code it returns into, and there is no equivalent of
// FreeLibraryAndExitThread. So the first check keeps the module loaded until
// the process ends; a host that unloads the plug-in after a check only leaves
// its pages mapped. This also keeps the X error handler and the loaded
// libcurl valid for as long as anything can call them.
bool pinThisModule()
{
    static const bool pinned = [] {
        Dl_info info{};
        link_map* module = nullptr;
        if (!dladdr1(reinterpret_cast<void*>(&updateCheckThread), &info, reinterpret_cast<void**>(&module),
                     RTLD_DL_LINKMAP) ||
            !module)
            return false;
        // Code linked into the program itself is never unloaded.
        if (!module->l_name || module->l_name[0] == '\0')
            return true;
        return dlopen(module->l_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
    }();
    return pinned;
}

// Starts a detached thread with every signal blocked, so that the host's
// signals keep going to the host's own threads.
bool startDetachedThread(void* (*routine)(void*), void* argument)
{
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0)
        return false;
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    pthread_t thread;
    const bool started = pthread_create(&thread, &attributes, routine, argument) == 0;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    pthread_attr_destroy(&attributes);
    return started;
}

} // namespace

void openInBrowser(const std::string& page)
{
    // The shell starts xdg-open in the background and ends at once: some
    // browsers keep xdg-open waiting until they close, and the orphan is then
    // reaped by the system, not left to the host. The page is an argument,
    // never part of the command text. None of the host's files go along.
    char shell[] = "/bin/sh";
    char option[] = "-c";
    char command[] = "xdg-open \"$1\" </dev/null >/dev/null 2>&1 &";
    char name[] = "sh";
    std::string address = page;
    char* arguments[] = {shell, option, command, name, address.data(), nullptr};
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return;
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    pid_t child = 0;
    if (posix_spawn(&child, shell, &actions, nullptr, arguments, environ) == 0) {
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
    posix_spawn_file_actions_destroy(&actions);
}

void startUpdateCheck(UpdateCheckState& state, void* ownerWindow)
{
    if (state.job && !state.job->finished.load())
        return;
    if (!pinThisModule())
        return;

    auto job = std::make_shared<UpdateCheckJob>();
    prepareUpdateRequest(*job, state.identity, testHooks.downloadPage);
    job->ownerWindow = reinterpret_cast<std::uintptr_t>(ownerWindow);
    job->showDialog = testHooks.showDialog;
    job->openPage = testHooks.openPage;
    job->displayNameGiven = testHooks.displayName != nullptr;
    if (testHooks.displayName)
        job->displayName = testHooks.displayName;

    auto* threadReference = new std::shared_ptr<UpdateCheckJob>(job);
    if (!startDetachedThread(&updateCheckThread, threadReference)) {
        delete threadReference;
        return;
    }
    state.ownerWindow = ownerWindow;
    state.threadHandle = nullptr;
    state.job = std::move(job);
}

void abandonUpdateCheck(UpdateCheckState& state)
{
    if (state.job)
        state.job->abandoned.store(true);
    state.ownerWindow = nullptr;
    state.threadHandle = nullptr;
    state.job.reset();
}

void setUpdateCheckTestHooks(const UpdateCheckTestHooks* hooks)
{
    testHooks = hooks ? *hooks : UpdateCheckTestHooks{};
}

bool updateCheckFinished(const UpdateCheckJob& job)
{
    return job.finished.load();
}
