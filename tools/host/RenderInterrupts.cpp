#include "RenderInterrupts.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct InterruptState {
    std::mutex lock;
    std::vector<std::string> temporaryFiles;
    sigset_t watched;
};

// Never destroyed: the watching thread may need it while the process ends.
InterruptState& interruptState()
{
    static InterruptState* const state = new InterruptState;
    return *state;
}

[[noreturn]] void waitForInterrupts()
{
    InterruptState& state = interruptState();
    int signal = 0;
    while (sigwait(&state.watched, &signal) != 0) {
    }
    // Kept until the process ends, so that no job creates or renames a file
    // after the cleanup.
    state.lock.lock();
    std::size_t removed = 0;
    for (const std::string& path : state.temporaryFiles)
        removed += std::remove(path.c_str()) == 0 ? 1 : 0;
    std::fprintf(stderr, "%sgrindlemark-host: interrupted; %zu unfinished output%s removed\n",
                 isatty(fileno(stderr)) ? "\n" : "", removed, removed == 1 ? "" : "s");
    std::fflush(stderr);
    // End the way the signal ends a program, so the caller sees which it was.
    std::signal(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal);
    _exit(128 + signal);
}

} // namespace

void watchRenderInterrupts()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // A write past the limit then fails with EFBIG and is reported,
        // instead of the signal ending the tool with a file half written.
        std::signal(SIGXFSZ, SIG_IGN);
        InterruptState& state = interruptState();
        sigemptyset(&state.watched);
        for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction current {};
            sigaction(signal, nullptr, &current);
            if (current.sa_handler != SIG_IGN)
                sigaddset(&state.watched, signal);
        }
        if (sigisemptyset(&state.watched))
            return;
        pthread_sigmask(SIG_BLOCK, &state.watched, nullptr);
        std::thread(waitForInterrupts).detach();
    });
}

std::unique_lock<std::mutex> holdInterrupts()
{
    return std::unique_lock<std::mutex>(interruptState().lock);
}

void recordTemporaryFile(const std::string& path)
{
    interruptState().temporaryFiles.push_back(path);
}

void forgetTemporaryFile(const std::string& path)
{
    std::vector<std::string>& files = interruptState().temporaryFiles;
    files.erase(std::remove(files.begin(), files.end(), path), files.end());
}
