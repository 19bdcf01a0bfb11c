#include "format/EditorPump.h"

#include <system_error>

bool EditorPump::start(std::function<void()> pass, std::chrono::milliseconds interval)
{
    stop();
    stopping = false;
    try {
        worker = std::thread([this, pass = std::move(pass), interval] { run(pass, interval); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void EditorPump::stop()
{
    if (!worker.joinable())
        return;
    {
        std::lock_guard<std::mutex> state(stateLock);
        stopping = true;
    }
    wake.notify_all();
    worker.join();
}

void EditorPump::run(std::function<void()> pass, std::chrono::milliseconds interval)
{
    auto due = std::chrono::steady_clock::now() + interval;
    for (;;) {
        {
            std::unique_lock<std::mutex> state(stateLock);
            if (wake.wait_until(state, due, [this] { return stopping; }))
                return;
        }
        {
            std::lock_guard<std::mutex> editor(editorLock);
            pass();
        }
        due += interval;
        const auto now = std::chrono::steady_clock::now();
        if (due < now) // a pass that ran long is not caught up with a burst
            due = now + interval;
    }
}
