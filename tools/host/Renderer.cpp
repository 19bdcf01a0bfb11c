#include "Renderer.h"

#include <algorithm>
#include <cmath>

namespace {

template <typename Sample>
void renderBlocks(PluginInstance& plugin, const AudioBuffer& input, AudioBuffer& output, const RenderOptions& options)
{
    const std::size_t channelCount = input.channels.size();
    const auto blockSize = static_cast<std::size_t>(options.blockSize);
    std::vector<std::vector<Sample>> in(channelCount, std::vector<Sample>(blockSize));
    std::vector<std::vector<Sample>> out(channelCount, std::vector<Sample>(blockSize));
    Sample* inputs[2] = {in[0].data(), channelCount > 1 ? in[1].data() : nullptr};
    Sample* outputs[2] = {out[0].data(), channelCount > 1 ? out[1].data() : nullptr};

    const std::size_t total = input.frames();
    std::size_t nextReport = 0;
    for (std::size_t start = 0; start < total; start += blockSize) {
        const std::size_t frames = std::min(blockSize, total - start);
        for (std::size_t c = 0; c < channelCount; ++c)
            for (std::size_t i = 0; i < frames; ++i)
                in[c][i] = static_cast<Sample>(input.channels[c][start + i]);
        plugin.process(inputs, outputs, static_cast<VstInt32>(frames));
        for (std::size_t c = 0; c < channelCount; ++c)
            for (std::size_t i = 0; i < frames; ++i)
                output.channels[c][start + i] = static_cast<double>(out[c][i]);
        if (options.progress && start >= nextReport) {
            options.progress(static_cast<double>(start) / static_cast<double>(total));
            nextReport = start + total / 100 + 1;
        }
    }
    if (options.progress)
        options.progress(1.0);
}

} // namespace

AudioBuffer renderThrough(PluginInstance& plugin, const AudioBuffer& input, const RenderOptions& options)
{
    AudioBuffer output;
    output.sampleRate = input.sampleRate;
    output.channels.assign(input.channels.size(), std::vector<double>(input.frames()));
    if (input.channels.empty())
        return output;
    if (options.doublePrecision)
        renderBlocks<double>(plugin, input, output, options);
    else
        renderBlocks<float>(plugin, input, output, options);
    return output;
}

LevelSummary measureLevels(const AudioBuffer& buffer)
{
    double peak = 0.0;
    double sumOfSquares = 0.0;
    std::size_t count = 0;
    for (const auto& channel : buffer.channels) {
        for (double sample : channel) {
            peak = std::max(peak, std::fabs(sample));
            sumOfSquares += sample * sample;
        }
        count += channel.size();
    }
    auto toDb = [](double value) { return value > 0.0 ? 20.0 * std::log10(value) : -INFINITY; };
    return {toDb(peak), toDb(count ? std::sqrt(sumOfSquares / static_cast<double>(count)) : 0.0)};
}
