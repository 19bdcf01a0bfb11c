// Runs audio through a started plug-in instance block by block, the way a
// host's audio thread does, in single or double precision, streaming from a
// source to a sink so that memory does not grow with the length.
#pragma once

#include "PluginInstance.h"

#include <cstdint>
#include <functional>
#include <vector>

// Interleaved frames of one or two channels.
class AudioSource {
public:
    virtual ~AudioSource() = default;
    virtual int channels() const = 0;
    virtual double sampleRate() const = 0;
    virtual std::int64_t frames() const = 0;
    // Up to `frames` frames; fewer only at the end. Negative on a read error.
    virtual std::int64_t read(double* interleaved, std::int64_t frames) = 0;
};

class AudioSink {
public:
    virtual ~AudioSink() = default;
    // False when the frames could not be stored (disk full, ...).
    virtual bool write(const double* interleaved, std::int64_t frames) = 0;
};

// A mono recording held in memory (the built-in phrase).
class MemorySource final : public AudioSource {
public:
    MemorySource(std::vector<float> samples, double sampleRate) : samples(std::move(samples)), rate(sampleRate) {}
    int channels() const override { return 1; }
    double sampleRate() const override { return rate; }
    std::int64_t frames() const override { return static_cast<std::int64_t>(samples.size()); }
    std::int64_t read(double* interleaved, std::int64_t frames) override;

private:
    std::vector<float> samples;
    double rate;
    std::size_t position = 0;
};

struct LevelSummary {
    double peakDb;
    double rmsDb;
};

// Peak and RMS over everything added so far, all channels together.
class LevelMeter {
public:
    void add(const double* samples, std::size_t count);
    LevelSummary summary() const;

private:
    double peak = 0.0;
    double sumOfSquares = 0.0;
    std::uint64_t count = 0;
};

struct RenderOptions {
    int blockSize = 512;
    bool doublePrecision = false;
    // Frames of silence the plug-in runs on before the take, their output
    // dropped: its start-up fade and settling are over by the take's first
    // frame.
    std::int64_t preRollFrames = 0;
    // The plug-in's delay: that many more frames are dropped at the start and
    // the take is followed by as many frames of silence, so that output frame
    // n lines up with input frame n and the output keeps the take's length.
    std::int64_t delayFrames = 0;
    // Called after each block with the number of frames done so far.
    std::function<void(std::int64_t)> progress;
};

struct RenderResult {
    bool readFailed = false;
    bool writeFailed = false;
    std::int64_t frames = 0; // of the take, read and written
    LevelSummary input{};
    LevelSummary output{};
};

// Mono input runs in the plug-in's single-channel layout (no second buffer),
// stereo input in its stereo layout. The sink receives the input's channel
// count and, whatever the pre-roll and delay, as many frames as the source
// gave. Stops at the first read or write failure.
RenderResult renderStream(PluginInstance& plugin, AudioSource& source, AudioSink& sink, const RenderOptions& options);
