#include "Renderer.h"

#include <algorithm>
#include <cmath>

std::int64_t MemorySource::read(double* interleaved, std::int64_t frames)
{
    const std::size_t count = std::min(static_cast<std::size_t>(frames), samples.size() - position);
    std::copy_n(samples.begin() + static_cast<std::ptrdiff_t>(position), count, interleaved);
    position += count;
    return static_cast<std::int64_t>(count);
}

void LevelMeter::add(const double* samples, std::size_t sampleCount)
{
    for (std::size_t i = 0; i < sampleCount; ++i) {
        peak = std::max(peak, std::fabs(samples[i]));
        sumOfSquares += samples[i] * samples[i];
    }
    count += sampleCount;
}

LevelSummary LevelMeter::summary() const
{
    auto toDb = [](double value) { return value > 0.0 ? 20.0 * std::log10(value) : -INFINITY; };
    return {toDb(peak), toDb(count ? std::sqrt(sumOfSquares / static_cast<double>(count)) : 0.0)};
}

namespace {

template <typename Sample>
RenderResult renderBlocks(PluginInstance& plugin, AudioSource& source, AudioSink& sink, const RenderOptions& options)
{
    const auto channelCount = static_cast<std::size_t>(source.channels());
    const auto blockSize = static_cast<std::int64_t>(options.blockSize);
    std::vector<double> interleavedIn(static_cast<std::size_t>(blockSize) * channelCount);
    std::vector<double> interleavedOut(interleavedIn.size());
    std::vector<std::vector<Sample>> in(channelCount, std::vector<Sample>(static_cast<std::size_t>(blockSize)));
    std::vector<std::vector<Sample>> out(channelCount, std::vector<Sample>(static_cast<std::size_t>(blockSize)));
    Sample* inputs[2] = {in[0].data(), channelCount > 1 ? in[1].data() : nullptr};
    Sample* outputs[2] = {out[0].data(), channelCount > 1 ? out[1].data() : nullptr};

    RenderResult result;
    LevelMeter inputMeter;
    LevelMeter outputMeter;
    std::int64_t silenceBefore = options.preRollFrames;
    std::int64_t silenceAfter = options.delayFrames;
    std::int64_t outputToDrop = options.preRollFrames + options.delayFrames;
    bool takeEnded = false;
    for (;;) {
        // Each block is all silence or all take, so the take's blocks fall
        // where they would without a pre-roll.
        std::int64_t frames = 0;
        const bool silence = silenceBefore > 0 || takeEnded;
        if (silenceBefore > 0) {
            frames = std::min(silenceBefore, blockSize);
            silenceBefore -= frames;
        } else if (!takeEnded) {
            frames = source.read(interleavedIn.data(), blockSize);
            if (frames < 0) {
                result.readFailed = true;
                break;
            }
            takeEnded = frames == 0;
        }
        if (takeEnded && frames == 0) {
            frames = std::min(silenceAfter, blockSize);
            silenceAfter -= frames;
        }
        if (frames == 0)
            break;
        const auto count = static_cast<std::size_t>(frames);
        if (silence || takeEnded)
            std::fill_n(interleavedIn.begin(), count * channelCount, 0.0);
        else
            inputMeter.add(interleavedIn.data(), count * channelCount);
        for (std::size_t i = 0; i < count; ++i)
            for (std::size_t c = 0; c < channelCount; ++c)
                in[c][i] = static_cast<Sample>(interleavedIn[i * channelCount + c]);
        plugin.process(inputs, outputs, static_cast<int>(frames));

        const std::int64_t dropped = std::min(outputToDrop, frames);
        outputToDrop -= dropped;
        const auto kept = static_cast<std::size_t>(frames - dropped);
        const auto first = static_cast<std::size_t>(dropped);
        for (std::size_t i = 0; i < kept; ++i)
            for (std::size_t c = 0; c < channelCount; ++c)
                interleavedOut[i * channelCount + c] = static_cast<double>(out[c][first + i]);
        if (kept == 0)
            continue;
        outputMeter.add(interleavedOut.data(), kept * channelCount);
        if (!sink.write(interleavedOut.data(), static_cast<std::int64_t>(kept))) {
            result.writeFailed = true;
            break;
        }
        result.frames += static_cast<std::int64_t>(kept);
        if (options.progress)
            options.progress(result.frames);
    }
    result.input = inputMeter.summary();
    result.output = outputMeter.summary();
    return result;
}

} // namespace

RenderResult renderStream(PluginInstance& plugin, AudioSource& source, AudioSink& sink, const RenderOptions& options)
{
    if (source.channels() < 1 || source.channels() > 2 || options.blockSize < 1)
        return RenderResult{true, false, 0, {}, {}};
    if (options.doublePrecision)
        return renderBlocks<double>(plugin, source, sink, options);
    return renderBlocks<float>(plugin, source, sink, options);
}
