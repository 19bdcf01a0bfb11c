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
    const auto blockSize = static_cast<std::size_t>(options.blockSize);
    std::vector<double> interleavedIn(blockSize * channelCount);
    std::vector<double> interleavedOut(blockSize * channelCount);
    std::vector<std::vector<Sample>> in(channelCount, std::vector<Sample>(blockSize));
    std::vector<std::vector<Sample>> out(channelCount, std::vector<Sample>(blockSize));
    Sample* inputs[2] = {in[0].data(), channelCount > 1 ? in[1].data() : nullptr};
    Sample* outputs[2] = {out[0].data(), channelCount > 1 ? out[1].data() : nullptr};

    RenderResult result;
    LevelMeter inputMeter;
    LevelMeter outputMeter;
    for (;;) {
        const std::int64_t read = source.read(interleavedIn.data(), static_cast<std::int64_t>(blockSize));
        if (read < 0) {
            result.readFailed = true;
            break;
        }
        if (read == 0)
            break;
        const auto frames = static_cast<std::size_t>(read);
        const std::size_t samples = frames * channelCount;
        for (std::size_t i = 0; i < frames; ++i)
            for (std::size_t c = 0; c < channelCount; ++c)
                in[c][i] = static_cast<Sample>(interleavedIn[i * channelCount + c]);
        plugin.process(inputs, outputs, static_cast<int>(frames));
        for (std::size_t i = 0; i < frames; ++i)
            for (std::size_t c = 0; c < channelCount; ++c)
                interleavedOut[i * channelCount + c] = static_cast<double>(out[c][i]);
        inputMeter.add(interleavedIn.data(), samples);
        outputMeter.add(interleavedOut.data(), samples);
        if (!sink.write(interleavedOut.data(), read)) {
            result.writeFailed = true;
            break;
        }
        result.frames += read;
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
