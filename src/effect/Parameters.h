// The eight parameters and the sixteen factory programs: one table each, from
// which names, display texts and the processing side's steps all derive.
#pragma once

#include <array>
#include <cstdint>

enum ParameterIndex : int {
    kEnable = 0,
    kCharacter,
    kAmount,
    kMode,
    kDrive,
    kLevel,
    kChannels,
    kOversample,
    kNumParameters
};

constexpr int kNumPrograms = 16;
constexpr int kProgramNameSize = 24;

enum class DisplayRule {
    namedStep,    // the name of the value's step
    scaled,       // scale * v + offset, "%.2f"
    channelCount, // step + 1, "%d"
    oversampling, // 16 above one half, else 1, "%d"
};

struct ParameterInfo {
    const char* name;   // as stored; VST2 reports it cut to 8 characters
    const char* symbol; // stable lower-case identifier for formats that name parameters
    const char* unit;   // of the displayed number, for formats that show one; VST2's labels stay empty
    int steps;          // 0 for a continuous parameter
    DisplayRule display;
    double scale;
    double offset;
    const char* const* stepNames;
};

constexpr const char* kEnableNames[] = {"OFF", "ON"};
constexpr const char* kCharacterNames[] = {"Shrill", "Bright", "Tight", "Flat", "Fat", "Warm"};
constexpr const char* kModeNames[] = {"OFF", "TUBE", "TAPE", "TNT"};

constexpr std::array<ParameterInfo, kNumParameters> kParameters = {{
    {"Enable", "enable", "", 2, DisplayRule::namedStep, 0.0, 0.0, kEnableNames},
    {"Character", "character", "", 6, DisplayRule::namedStep, 0.0, 0.0, kCharacterNames},
    {"Amount", "amount", "", 0, DisplayRule::scaled, 1.0, 0.0, nullptr},
    {"Mode", "mode", "", 4, DisplayRule::namedStep, 0.0, 0.0, kModeNames},
    {"Drive", "drive", "dB", 0, DisplayRule::scaled, 20.0, 0.0, nullptr},  // dB of drive gain
    {"Level", "level", "dB", 0, DisplayRule::scaled, 30.0, -6.0, nullptr}, // dB of output level
    {"Channels", "channels", "", 2, DisplayRule::channelCount, 0.0, 0.0, nullptr},
    {"Oversample", "oversample", "", 2, DisplayRule::oversampling, 0.0, 0.0, nullptr},
}};

// The step of a stepped parameter: trunc(steps * v), the top value belonging
// to the last step. The product is formed in double, as the display does.
constexpr int stepOf(float value, int steps)
{
    int step = static_cast<int>(static_cast<double>(steps) * static_cast<double>(value));
    if (step < 0)
        return 0;
    return step < steps - 1 ? step : steps - 1;
}

// The step of a stepped parameter, by its index in the table.
constexpr int parameterStep(int index, float value)
{
    return stepOf(value, kParameters[static_cast<std::size_t>(index)].steps);
}

// A scaled parameter's displayed value: scale * v + offset, in double.
constexpr double scaledValue(int index, float value)
{
    const ParameterInfo& info = kParameters[static_cast<std::size_t>(index)];
    return info.scale * static_cast<double>(value) + info.offset;
}

// "Oversample" switches strictly above one half.
constexpr double oversamplingFactorOf(float value)
{
    return value > 0.5f ? 16.0 : 1.0;
}

// The step a stepped parameter's display shows: its step, except that
// "Oversample" shows 16 only strictly above one half.
constexpr int displayedStep(int index, float value)
{
    if (kParameters[static_cast<std::size_t>(index)].display == DisplayRule::oversampling)
        return oversamplingFactorOf(value) > 1.0 ? 1 : 0;
    return parameterStep(index, value);
}

struct ProgramRecord {
    char name[kProgramNameSize]; // zero-filled; a full-length name has no terminator
    float values[kNumParameters];
};

using ProgramTable = std::array<ProgramRecord, kNumPrograms>;

// The factory contents. 2/3, 1/3 and 1/6 are the nearest floats, each just
// above the fraction, so that 6 * v truncates to 4, 2 and 1.
constexpr ProgramTable kFactoryPrograms = {{
    {"Default", {1.0f, 0.5f, 0.5f, 0.0f, 0.5f, 0.2f, 0.0f, 0.0f}},
    {"Fat overdrive", {1.0f, 2.0f / 3.0f, 1.0f, 1.0f, 1.0f, 0.33f, 0.0f, 1.0f}},
    {"Transparent", {1.0f, 1.0f / 3.0f, 0.5f, 0.5f, 0.66f, 0.33f, 0.0f, 1.0f}},
    {"Presence drive", {1.0f, 1.0f / 6.0f, 0.8f, 0.5f, 1.0f, 0.33f, 0.0f, 1.0f}},
    {"Single coil warm-up", {1.0f, 1.0f, 0.77f, 0.5f, 1.0f, 0.33f, 0.0f, 1.0f}},
    {"Stereo mix air", {1.0f, 0.0f, 0.33f, 0.5f, 0.2f, 0.2f, 1.0f, 1.0f}},
    {"Init1", {1.0f, 0.5f, 0.5f, 0.0f, 0.5f, 0.2f, 0.0f, 0.0f}},
    {"Init2", {1.0f, 0.5f, 0.5f, 0.0f, 0.5f, 0.2f, 0.0f, 0.0f}},
    {"Init3", {1.0f, 0.5f, 0.5f, 0.0f, 0.5f, 0.2f, 0.0f, 0.0f}},
    {"Init4", {1.0f, 0.5f, 0.5f, 0.0f, 0.5f, 0.2f, 0.0f, 0.0f}},
    {"Init5", {1.0f, 0.5f, 0.5f, 0.0f, 0.5f, 0.2f, 0.0f, 0.0f}},
    {"Init6", {1.0f, 0.5f, 0.5f, 0.0f, 0.5f, 0.2f, 0.0f, 0.0f}},
    {"Init7", {1.0f, 0.5f, 0.5f, 0.0f, 0.5f, 0.2f, 0.0f, 0.0f}},
    {"Init8", {1.0f, 0.5f, 0.5f, 0.0f, 0.5f, 0.2f, 0.0f, 0.0f}},
    {"Init9", {1.0f, 0.5f, 0.5f, 0.0f, 0.5f, 0.2f, 0.0f, 0.0f}},
    {"Init10", {1.0f, 0.5f, 0.5f, 0.0f, 0.5f, 0.2f, 0.0f, 0.0f}},
}};

// Limits a host value to 0..1; a value that is not a number is stored as 0.
constexpr float limitParameterValue(float value)
{
    if (!(value >= 0.0f))
        return 0.0f;
    return value > 1.0f ? 1.0f : value;
}

// Writes the display text of a parameter value into text (at most size bytes,
// terminator included). Index must be in range.
void formatParameterDisplay(int index, float value, char* text, int size);
