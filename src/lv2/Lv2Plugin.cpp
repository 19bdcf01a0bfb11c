#include "lv2/Lv2Plugin.h"

#include "format/FormatLayer.h"

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>

void Lv2Plugin::connectPort(std::uint32_t port, void* data)
{
    if (port < kNumParameters) {
        controls[port] = static_cast<const float*>(data);
        return;
    }
    switch (port) {
    case kLv2InputLeft:
    case kLv2InputRight:
        inputs[port - kLv2InputLeft] = static_cast<const float*>(data);
        break;
    case kLv2OutputLeft:
    case kLv2OutputRight:
        outputs[port - kLv2OutputLeft] = static_cast<float*>(data);
        break;
    case kLv2Latency:
        latencyPort = static_cast<float*>(data);
        break;
    default:
        break;
    }
}

bool Lv2Plugin::portValueToParameter(int parameter, float portValue, float& value)
{
    if (std::isnan(portValue))
        return false;
    const FormatParameter& facts = formatParameters()[static_cast<std::size_t>(parameter)];
    double units = std::clamp(static_cast<double>(portValue), facts.displayMin, facts.displayMax);
    // Stepped ports are integers; a host that sends 2.7 means the step it is nearest to.
    if (facts.stepCount > 0)
        units = std::nearbyint(units);
    value = valueOfDisplayUnits(parameter, units);
    return true;
}

// Only a port that changed reaches the processor: an unchanged "Oversample"
// handed over again would redo the rate-dependent design at every run.
void Lv2Plugin::takeControlPorts()
{
    for (int parameter = 0; parameter < kNumParameters; ++parameter) {
        const float* port = controls[static_cast<std::size_t>(parameter)];
        if (!port)
            continue;
        const float portValue = *port;
        float& taken = takenValues[static_cast<std::size_t>(parameter)];
        if (portValue == taken)
            continue;
        float value = 0.0f;
        if (portValueToParameter(parameter, portValue, value)) {
            taken = portValue;
            booster.setParameterFromAudio(parameter, value);
            if (parameter == kOversample)
                latencyFrames = booster.latencyFrames();
        }
    }
}

void Lv2Plugin::run(std::uint32_t frames)
{
    takeControlPorts();
    const int count = static_cast<int>(std::min<std::uint32_t>(frames, INT_MAX));
    float* in[2] = {const_cast<float*>(inputs[0]), const_cast<float*>(inputs[1])};
    float* out[2] = {outputs[0], outputs[1]};
    if (!in[0] || !out[0]) {
        // Nothing to process: parameters are still taken, connected outputs stay silent.
        booster.process(static_cast<float**>(nullptr), nullptr, count);
        for (float* output : out) {
            if (output)
                std::fill(output, output + count, 0.0f);
        }
    } else if (!in[1] || !out[1]) {
        in[1] = nullptr;
        out[1] = nullptr;
        booster.process(in, out, count);
        // A right output without a right input carries the left result.
        if (outputs[1] && outputs[1] != outputs[0])
            std::copy(outputs[0], outputs[0] + count, outputs[1]);
    } else {
        booster.process(in, out, count);
    }
    if (latencyPort)
        *latencyPort = static_cast<float>(latencyFrames);
}

namespace {

// The largest run the host announces (buf-size options), or 0 when it says nothing.
int announcedBlockLength(const LV2_Feature* const* features)
{
    const LV2_URID_Map* map = nullptr;
    const LV2_Options_Option* options = nullptr;
    for (auto feature = features; feature && *feature; ++feature) {
        if (!std::strcmp((*feature)->URI, LV2_URID__map))
            map = static_cast<const LV2_URID_Map*>((*feature)->data);
        else if (!std::strcmp((*feature)->URI, LV2_OPTIONS__options))
            options = static_cast<const LV2_Options_Option*>((*feature)->data);
    }
    if (!map || !map->map || !options)
        return 0;
    const LV2_URID maxLength = map->map(map->handle, LV2_BUF_SIZE__maxBlockLength);
    const LV2_URID nominalLength = map->map(map->handle, LV2_BUF_SIZE__nominalBlockLength);
    const LV2_URID atomInt = map->map(map->handle, LV2_ATOM__Int);
    int nominal = 0;
    for (auto option = options; option->key || option->value; ++option) {
        if (option->context != LV2_OPTIONS_INSTANCE || option->type != atomInt ||
            option->size != sizeof(std::int32_t) || !option->value)
            continue;
        const std::int32_t length = *static_cast<const std::int32_t*>(option->value);
        if (option->key == maxLength && length > 0)
            return length;
        if (option->key == nominalLength && length > 0)
            nominal = length;
    }
    return nominal;
}

LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char*, const LV2_Feature* const* features)
{
    if (!(rate >= kMinSampleRate && rate <= kMaxSampleRate))
        return nullptr;
    try {
        auto* plugin = new Lv2Plugin;
        plugin->processor().setSampleRate(rate);
        if (const int blockLength = announcedBlockLength(features))
            plugin->processor().setBlockSize(std::min(blockLength, kMaxBlockSize));
        return plugin;
    } catch (...) {
        return nullptr;
    }
}

void connectPort(LV2_Handle instance, std::uint32_t port, void* data)
{
    static_cast<Lv2Plugin*>(instance)->connectPort(port, data);
}

void activate(LV2_Handle) {}

void run(LV2_Handle instance, std::uint32_t frames)
{
    static_cast<Lv2Plugin*>(instance)->run(frames);
}

void deactivate(LV2_Handle) {}

void cleanup(LV2_Handle instance)
{
    delete static_cast<Lv2Plugin*>(instance);
}

const void* extensionData(const char*)
{
    return nullptr;
}

const LV2_Descriptor descriptor = {kLv2PluginUri, instantiate, connectPort, activate,
                                   run,           deactivate,  cleanup,     extensionData};

} // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(std::uint32_t index)
{
    return index == 0 ? &descriptor : nullptr;
}
