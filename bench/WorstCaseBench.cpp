// The audio thread's worst processing call while the host automates every
// parameter every millisecond, changes programs every 10 ms and an editor
// thread takes the display locks: 64-sample blocks at 44.1 kHz for a number
// of seconds (argument). Counters, in microseconds: the worst call of the
// first second, then the worst, 99.9th percentile and median call after it,
// and the block's duration for comparison.
#include "host/BoosterEffect.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

namespace {

VstIntPtr VSTCALLBACK quietHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

void worstCaseUnderLoad(benchmark::State& state)
{
    using Clock = std::chrono::steady_clock;
    const double seconds = static_cast<double>(state.range(0));
    const bool withOversampleAutomation = state.range(1) != 0;
    for (auto _ : state) {
        BoosterEffect effect(quietHost);
        effect.setBlockSize(64);
        EditorDisplay display;
        effect.processor().attachDisplay(&display);
        effect.processor().startScopeFeed();
        std::atomic<bool> running{true};

        std::thread automation([&] {
            unsigned seed = 7;
            while (running.load()) {
                for (VstInt32 index = 0; index < kNumParameters; ++index) {
                    if (index == kOversample && !withOversampleAutomation)
                        continue;
                    seed = seed * 1664525u + 1013904223u;
                    effect.setParameter(index, static_cast<float>(seed >> 8) / 16777216.0f);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        std::thread programs([&] {
            VstInt32 program = 0;
            while (running.load()) {
                if (withOversampleAutomation)
                    effect.setProgram(program = (program + 1) % 6);
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        std::thread editor([&] {
            std::array<double, kResponsePoints> curve{};
            while (running.load()) {
                effect.processor().takeResponseCurve(curve);
                for (int column = 0; column < 2; ++column) {
                    display.ringLocks[column].enter();
                    benchmark::DoNotOptimize(display.scopeRing[0].points[column].x);
                    display.ringLocks[column].leave();
                }
                display.meterLock.enter();
                benchmark::DoNotOptimize(display.meterLevels[0]);
                display.meterLock.leave();
                std::this_thread::sleep_for(std::chrono::milliseconds(33));
            }
        });

        std::vector<float> left(64), right(64), outLeft(64), outRight(64);
        float* inputs[2] = {left.data(), right.data()};
        float* outputs[2] = {outLeft.data(), outRight.data()};
        std::vector<double> callMicroseconds;
        callMicroseconds.reserve(static_cast<std::size_t>(seconds * 44100.0 / 64.0) + 16);
        const auto blockTime = std::chrono::duration<double>(64.0 / 44100.0);
        auto due = Clock::now();
        const auto end = due + std::chrono::duration<double>(seconds);
        long phase = 0;
        while (Clock::now() < end) {
            for (std::size_t i = 0; i < 64; ++i, ++phase)
                left[i] = right[i] = static_cast<float>(0.3 * std::sin(0.03 * static_cast<double>(phase)));
            const auto started = Clock::now();
            effect.processReplacing(inputs, outputs, 64);
            callMicroseconds.push_back(std::chrono::duration<double, std::micro>(Clock::now() - started).count());
            due += std::chrono::duration_cast<Clock::duration>(blockTime);
            std::this_thread::sleep_until(due);
        }
        running.store(false);
        automation.join();
        programs.join();
        editor.join();
        effect.processor().detachDisplay();

        // The first second holds the first calls' one-time work (taking the
        // tables prepared for the rate); report it apart.
        const std::size_t warmUp = std::min<std::size_t>(callMicroseconds.size() / 2, 690);
        state.counters["firstSecondWorst_us"] =
            *std::max_element(callMicroseconds.begin(), callMicroseconds.begin() + static_cast<long>(warmUp));
        callMicroseconds.erase(callMicroseconds.begin(), callMicroseconds.begin() + static_cast<long>(warmUp));
        std::sort(callMicroseconds.begin(), callMicroseconds.end());
        state.counters["worst_us"] = callMicroseconds.back();
        state.counters["p999_us"] = callMicroseconds[callMicroseconds.size() * 999 / 1000];
        state.counters["median_us"] = callMicroseconds[callMicroseconds.size() / 2];
        state.counters["block_us"] = 64.0 / 44100.0 * 1e6;
        state.counters["calls"] = static_cast<double>(callMicroseconds.size());
    }
}
BENCHMARK(worstCaseUnderLoad)
    ->ArgNames({"seconds", "oversampleAutomation"})
    ->Args({10, 0})
    ->Args({10, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace
