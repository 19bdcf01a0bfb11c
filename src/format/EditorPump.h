// A timer of the editor's own for hosts that offer none on Linux (a VST3
// host without a run loop, a CLAP host without timer support): a thread that
// runs the editor's idle pump every interval until stopped. Every pass and
// every other use of the editor meet at one lock, which the owner takes
// through guard() around its own calls into the editor.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class EditorPump {
public:
    EditorPump() = default;
    ~EditorPump() { stop(); }
    EditorPump(const EditorPump&) = delete;
    EditorPump& operator=(const EditorPump&) = delete;

    // Starts the pass every interval; false (and nothing running) when no
    // thread can be started.
    bool start(std::function<void()> pass, std::chrono::milliseconds interval);
    // Returns once the thread has ended; no pass runs after it. Never from a pass.
    void stop();
    bool running() const { return worker.joinable(); }
    // Held by each pass; the owner holds it too while it uses the editor.
    std::unique_lock<std::mutex> guard() { return std::unique_lock<std::mutex>(editorLock); }

private:
    void run(std::function<void()> pass, std::chrono::milliseconds interval);

    std::mutex editorLock;
    std::mutex stateLock;
    std::condition_variable wake;
    bool stopping = false;
    std::thread worker;
};
