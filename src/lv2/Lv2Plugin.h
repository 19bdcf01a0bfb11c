// One instance of the booster as an LV2 host drives it: control ports in the
// units a user reads, taken at the start of every run, and the audio ports
// handed to the processor. Its editor (same binary) reaches the processor
// through the instance itself.
#pragma once

#include "effect/BoosterProcessor.h"
#include "lv2/Lv2Ports.h"

#include <array>
#include <cstdint>
#include <limits>

class Lv2Plugin {
public:
    Lv2Plugin() = default;
    Lv2Plugin(const Lv2Plugin&) = delete;
    Lv2Plugin& operator=(const Lv2Plugin&) = delete;

    BoosterProcessor& processor() { return booster; }

    // Audio thread (connect and run); a port index outside the layout is ignored.
    void connectPort(std::uint32_t port, void* data);
    void run(std::uint32_t frames);

    // A host's port value in display units to the parameter's normalised value:
    // limited to the port's range; nothing for a value that is not a number.
    static bool portValueToParameter(int parameter, float portValue, float& value);

private:
    void takeControlPorts();

    BoosterProcessor booster;
    std::array<const float*, kNumParameters> controls{};
    // The port values last given to the processor; a NaN marks one not yet given.
    std::array<float, kNumParameters> takenValues = notTaken();
    // The processor's delay at the "Oversample" value last handed over.
    int latencyFrames = booster.latencyFrames();
    const float* inputs[2] = {};
    float* outputs[2] = {};
    float* latencyPort = nullptr;

    static constexpr std::array<float, kNumParameters> notTaken()
    {
        std::array<float, kNumParameters> values{};
        for (float& value : values)
            value = std::numeric_limits<float>::quiet_NaN();
        return values;
    }
};
