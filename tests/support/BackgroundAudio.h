// A host's audio thread for tests that drive the editor meanwhile: blocks of
// 64 frames through every given instance, over and over, until destroyed.
#pragma once

#include "host/VstAbi.h"

#include <atomic>
#include <thread>
#include <vector>

class BackgroundAudio {
public:
    explicit BackgroundAudio(std::vector<AEffect*> effects) : effects(std::move(effects))
    {
        thread = std::thread([this] { run(); });
    }
    ~BackgroundAudio()
    {
        running.store(false);
        thread.join();
    }
    BackgroundAudio(const BackgroundAudio&) = delete;
    BackgroundAudio& operator=(const BackgroundAudio&) = delete;

private:
    void run()
    {
        std::vector<float> left(64, 0.4f), right(64, -0.4f), outLeft(64), outRight(64);
        float* inputs[2] = {left.data(), right.data()};
        float* outputs[2] = {outLeft.data(), outRight.data()};
        while (running.load()) {
            for (AEffect* effect : effects)
                effect->processReplacing(effect, inputs, outputs, 64);
            std::this_thread::yield();
        }
    }

    std::vector<AEffect*> effects;
    std::atomic<bool> running{true};
    std::thread thread;
};
