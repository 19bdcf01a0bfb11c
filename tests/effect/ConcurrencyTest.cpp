// Host threads, an editor-like thread and the audio thread at once. Run under
// ThreadSanitizer by scripts/test; without it this still checks that nothing
// deadlocks and that the audio thread keeps going while others hold locks.
#include "host/BoosterEffect.h"
#include "support/TestHost.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

namespace {

double testSeconds()
{
    const char* text = std::getenv("GRINDLEMARK_CONCURRENCY_SECONDS");
    return text ? std::atof(text) : 1.0;
}

TEST(Concurrency, HostEditorAndAudioThreadsShareTheEffect)
{
    HostedEffect host;
    host.dispatch(effSetBlockSize, 0, 64);
    BoosterProcessor& effect = static_cast<BoosterEffect*>(host.effect->object)->processor();
    EditorDisplay display;
    effect.attachDisplay(&display);
    effect.startScopeFeed();

    std::atomic<bool> running{true};
    std::atomic<long> blocks{0};
    std::atomic<long> parameterCalls{0};
    std::atomic<long> editorTicks{0};

    std::thread audio([&] {
        std::vector<float> left(64), right(64), outLeft(64), outRight(64);
        float* inputs[2] = {left.data(), right.data()};
        float* outputs[2] = {outLeft.data(), outRight.data()};
        long phase = 0;
        while (running.load(std::memory_order_relaxed)) {
            for (int i = 0; i < 64; ++i, ++phase) {
                left[static_cast<std::size_t>(i)] =
                    static_cast<float>(0.5 * std::sin(0.05 * static_cast<double>(phase)));
                right[static_cast<std::size_t>(i)] = -left[static_cast<std::size_t>(i)];
            }
            host.effect->processReplacing(host.effect, inputs, outputs, 64);
            for (float sample : outLeft)
                ASSERT_TRUE(std::isfinite(sample));
            blocks.fetch_add(1, std::memory_order_relaxed);
        }
    });

    // A host automating every parameter, and reading them back.
    std::thread automation([&] {
        unsigned seed = 1;
        while (running.load(std::memory_order_relaxed)) {
            for (VstInt32 index = 0; index < 8; ++index) {
                seed = seed * 1664525u + 1013904223u;
                host.effect->setParameter(host.effect, index, static_cast<float>(seed >> 8) / 16777216.0f);
                const float value = host.effect->getParameter(host.effect, index);
                ASSERT_TRUE(value >= 0.0f && value <= 1.0f);
            }
            parameterCalls.fetch_add(1, std::memory_order_relaxed);
        }
    });

    // A second host thread changing programs now and then.
    std::thread programs([&] {
        VstIntPtr program = 0;
        while (running.load(std::memory_order_relaxed)) {
            host.dispatch(effSetProgram, 0, program);
            program = (program + 1) % 16;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });

    // The editor's part: copy the curve, draw the ring columns, read the meters.
    std::thread editor([&] {
        std::array<double, kResponsePoints> curve{};
        double sink = 0.0;
        while (running.load(std::memory_order_relaxed)) {
            effect.takeResponseCurve(curve);
            for (int column = 0; column < 2; ++column) {
                display.ringLocks[column].enter();
                for (const ScopeFrame& frame : display.scopeRing)
                    sink += frame.points[column].x;
                display.ringLocks[column].leave();
            }
            display.meterLock.enter();
            sink += display.meterLevels[0];
            display.meterLock.leave();
            editorTicks.fetch_add(1, std::memory_order_relaxed);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_TRUE(std::isfinite(sink));
    });

    std::this_thread::sleep_for(std::chrono::duration<double>(testSeconds()));
    running.store(false);
    for (std::thread* thread : {&audio, &automation, &programs, &editor})
        thread->join();
    effect.attachDisplay(nullptr);

    EXPECT_GT(blocks.load(), 10);
    EXPECT_GT(parameterCalls.load(), 10);
    EXPECT_GT(editorTicks.load(), 10);
}

} // namespace

namespace {

// An editor coming and going while audio runs: once detachDisplay returns, no
// processing call may still touch the display data it frees.
TEST(Concurrency, DisplayDataMayBeFreedOnceDetached)
{
    HostedEffect host;
    host.dispatch(effSetBlockSize, 0, 32);
    BoosterProcessor& effect = static_cast<BoosterEffect*>(host.effect->object)->processor();
    effect.startScopeFeed();
    std::atomic<bool> running{true};
    std::thread audio([&] {
        std::vector<float> left(32, 0.5f), right(32, -0.5f), outLeft(32), outRight(32);
        float* inputs[2] = {left.data(), right.data()};
        float* outputs[2] = {outLeft.data(), outRight.data()};
        while (running.load(std::memory_order_relaxed))
            host.effect->processReplacing(host.effect, inputs, outputs, 32);
    });
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(testSeconds() / 2);
    int cycles = 0;
    while (std::chrono::steady_clock::now() < end) {
        auto display = std::make_unique<EditorDisplay>();
        effect.attachDisplay(display.get());
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        effect.detachDisplay();
        display.reset();
        ++cycles;
    }
    running.store(false);
    audio.join();
    EXPECT_GT(cycles, 10);
}

} // namespace

namespace {

// A format's host automates from inside processing while another thread keeps
// the parameters busy: the audio thread never waits, and once the other
// thread lets go, the last value has reached the value readers and the chain.
// (Only try-locks are on that path; ThreadSanitizer checks the slots.)
TEST(Concurrency, AutomationFromProcessingIsNeverLostWhileTheParametersAreBusy)
{
    BoosterProcessor effect;
    effect.setBlockSize(16);
    std::atomic<bool> running{true};
    std::thread reader([&] {
        while (running.load(std::memory_order_relaxed)) {
            effect.setParameter(kDrive, effect.getParameter(kDrive));
            (void)effect.pendingChanges();
        }
    });
    std::vector<float> left(16, 0.25f), right(16, -0.25f);
    float* channels[2] = {left.data(), right.data()};
    float last = 0.0f;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(testSeconds() / 2);
    for (int step = 0; std::chrono::steady_clock::now() < end || step < 1000; ++step) {
        last = static_cast<float>(step % 997) / 996.0f;
        effect.setParameterFromAudio(kLevel, last);
        ASSERT_EQ(effect.latestParameter(kLevel), last);
        effect.process(channels, channels, 16);
    }
    running.store(false);
    reader.join();
    effect.process(channels, channels, 16);

    BoosterProcessor reference;
    reference.setParameter(kLevel, last);
    reference.process(channels, channels, 16);
    EXPECT_EQ(effect.getParameter(kLevel), last);
    EXPECT_EQ(effect.processingEngine().levelGain(), reference.processingEngine().levelGain());
    EXPECT_EQ(effect.pendingChanges() & (1u << kLevel), 0u);
}

} // namespace
