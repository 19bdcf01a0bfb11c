#include "AudioLoop.h"

#include "GuitarPhrase.h"

#include <chrono>

AudioLoop::AudioLoop(PluginInstance& plugin, const EditorOptions& options)
    : plugin(plugin), blockSize(options.blockSize), sampleRate(options.sampleRate),
      phrase(options.playSilence ? std::vector<float>(1, 0.0f) : synthesizeGuitarPhrase(options.sampleRate))
{
    thread = std::thread([this] { run(); });
}

AudioLoop::~AudioLoop()
{
    running.store(false);
    thread.join();
}

void AudioLoop::run()
{
    std::vector<float> left(static_cast<std::size_t>(blockSize)), right(left.size());
    std::vector<float> outLeft(left.size()), outRight(left.size());
    float* inputs[2] = {left.data(), right.data()};
    float* outputs[2] = {outLeft.data(), outRight.data()};
    const auto blockTime = std::chrono::duration<double>(blockSize / sampleRate);
    auto due = std::chrono::steady_clock::now();
    std::size_t position = 0;
    while (running.load()) {
        for (std::size_t i = 0; i < left.size(); ++i, position = (position + 1) % phrase.size()) {
            left[i] = phrase[position];
            right[i] = 0.8f * phrase[position];
        }
        plugin.process(inputs, outputs, blockSize);
        due += std::chrono::duration_cast<std::chrono::steady_clock::duration>(blockTime);
        std::this_thread::sleep_until(due);
    }
}
