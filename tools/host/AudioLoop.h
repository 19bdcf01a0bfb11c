// Plays the built-in phrase through the plug-in on a thread of its own, at the
// pace of a real audio device, for as long as the loop exists.
#pragma once

#include "EditorWindow.h"

#include <atomic>
#include <thread>
#include <vector>

class AudioLoop {
public:
    AudioLoop(PluginInstance& plugin, const EditorOptions& options);
    ~AudioLoop();
    AudioLoop(const AudioLoop&) = delete;
    AudioLoop& operator=(const AudioLoop&) = delete;

private:
    void run();

    PluginInstance& plugin;
    int blockSize;
    double sampleRate;
    std::vector<float> phrase;
    std::atomic<bool> running{true};
    std::thread thread;
};
