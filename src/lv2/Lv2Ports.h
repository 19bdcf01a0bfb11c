// The LV2 plug-in's identity and port layout, held once for the plug-in, its
// editor and the program that writes its Turtle description. Control port i is
// parameter i (the VST2 index), so automation lanes line up across formats.
#pragma once

#include "effect/Parameters.h"

#include <cstdint>

inline constexpr const char* kLv2PluginUri = "urn:ovk:grindlemark";
inline constexpr const char* kLv2EditorUri = "urn:ovk:grindlemark#editor";
// Preset k is factory program k, its URI ending in k (no dash: jalv's console
// takes preset URIs of letters, digits and ":/.#_" only).
inline constexpr const char* kLv2PresetUriPrefix = "urn:ovk:grindlemark#program";
inline constexpr const char* kLv2BinaryName = "Grindlemark.so";

enum Lv2Port : std::uint32_t {
    // 0..7: the parameters, in display units.
    kLv2InputLeft = kNumParameters,
    kLv2InputRight,
    kLv2OutputLeft,
    kLv2OutputRight,
    kLv2Latency, // output: the delay the chain adds, in frames
    kLv2PortCount
};

struct Lv2AudioPort {
    Lv2Port index;
    const char* symbol;
    const char* name;
    bool input;
    bool left;
};

inline constexpr Lv2AudioPort kLv2AudioPorts[] = {
    {kLv2InputLeft, "in_left", "In Left", true, true},
    {kLv2InputRight, "in_right", "In Right", true, false},
    {kLv2OutputLeft, "out_left", "Out Left", false, true},
    {kLv2OutputRight, "out_right", "Out Right", false, false},
};
