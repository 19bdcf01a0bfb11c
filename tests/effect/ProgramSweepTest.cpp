// Every factory program at every common host rate and at the block sizes
// hosts use, with a plucked guitar-like signal: the output stays finite, free
// of subnormal numbers, and within a sane band of levels around the input's.
#include "effect/BoosterProcessor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

// A plucked low E with harmonics, re-plucked every 50 ms, -12 dBFS peak.
float pluck(long frame, double rate, int channel)
{
    const double t = std::fmod(frame / rate, 0.05);
    const double phase = 6.283185307179586 * 82.4 * (frame / rate) + 0.5 * channel;
    return static_cast<float>(0.25 * std::exp(-6.0 * t) *
                              (std::sin(phase) + 0.5 * std::sin(2 * phase) + 0.3 * std::sin(3 * phase)) / 1.8);
}

double decibels(double linear)
{
    return 20.0 * std::log10(linear);
}

struct Level {
    double gainDb = -400.0; // output RMS over input RMS
    double peakDb = -400.0; // output peak, dBFS
    std::string fault;      // the first unclean sample, if any
};

// 0.1 s of the signal in calls of `block` frames; the second half (one
// whole pluck) is measured, once the fades of the first call are over.
Level runProgram(int program, double rate, int block)
{
    BoosterProcessor processor;
    processor.setSampleRate(rate);
    processor.setBlockSize(block);
    processor.setProgram(program);
    const long total = static_cast<long>(rate * 0.1);
    std::vector<float> left(static_cast<std::size_t>(block)), right(left), outLeft(left), outRight(left);
    Level level;
    double squares = 0.0, inputSquares = 0.0, peak = 0.0;
    for (long start = 0; start < total; start += block) {
        for (int i = 0; i < block; ++i) {
            left[static_cast<std::size_t>(i)] = pluck(start + i, rate, 0);
            right[static_cast<std::size_t>(i)] = pluck(start + i, rate, 1);
        }
        float* inputs[2] = {left.data(), right.data()};
        float* outputs[2] = {outLeft.data(), outRight.data()};
        processor.process(inputs, outputs, block);
        for (int i = 0; i < block; ++i) {
            if (start + i >= total / 2)
                for (float sample : {left[static_cast<std::size_t>(i)], right[static_cast<std::size_t>(i)]})
                    inputSquares += static_cast<double>(sample) * sample;
            for (float sample : {outLeft[static_cast<std::size_t>(i)], outRight[static_cast<std::size_t>(i)]}) {
                if (!std::isfinite(sample) || (sample != 0.0f && !std::isnormal(sample))) {
                    if (level.fault.empty())
                        level.fault = "sample " + std::to_string(sample) + " at frame " + std::to_string(start + i);
                }
                if (start + i >= total / 2) {
                    squares += static_cast<double>(sample) * sample;
                    peak = std::max(peak, static_cast<double>(std::fabs(sample)));
                }
            }
        }
    }
    level.gainDb = decibels(std::sqrt(squares / inputSquares));
    level.peakDb = decibels(peak);
    return level;
}

TEST(ProgramSweep, EveryProgramRateAndBlockSizeGivesCleanOutputAtASaneLevel)
{
    for (int program = 0; program < kNumPrograms; ++program)
        for (double rate : {44100.0, 48000.0, 96000.0, 192000.0})
            for (int block : {1, 64, 1024}) {
                const Level level = runProgram(program, rate, block);
                const std::string where = "program " + std::to_string(program) + " (" + kFactoryPrograms[program].name +
                                          "), " + std::to_string(static_cast<int>(rate)) + " Hz, block " +
                                          std::to_string(block);
                EXPECT_EQ(level.fault, "") << where;
                // The programs shape and colour the signal; none may mute it
                // or blow it up, and none reaches full scale from -12 dBFS.
                EXPECT_GT(level.gainDb, -12.0) << where;
                EXPECT_LT(level.gainDb, 12.0) << where;
                EXPECT_LT(level.peakDb, 0.0) << where;
            }
}

} // namespace
