// What every plug-in format beyond VST2 asks of the booster, written once: the
// parameters as formats describe them (stable id and symbol, name, range,
// unit, steps, default, text both ways), the factory programs, and one
// versioned state record. Portable, no host header; any thread unless said.
#pragma once

#include "effect/BoosterProcessor.h"
#include "effect/Parameters.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct FormatParameter {
    int id;             // the VST2 index 0..7, so automation carries over
    const char* symbol; // stable lower-case name: "enable", "drive", ...
    const char* name;   // "Enable", "Drive", ... (not cut to 8 characters)
    const char* unit;   // "dB" for Drive and Level, else ""
    int stepCount;      // 0 continuous; else the number of steps minus one (VST3's convention)
    float defaultValue; // normalised, from program 0
    // The display range in the units a user reads: for scaled parameters
    // scale * 0 + offset .. scale * 1 + offset; for stepped ones 0..steps-1.
    double displayMin;
    double displayMax;
};

// The eight parameters, indexed by id.
const std::array<FormatParameter, kNumParameters>& formatParameters();
// The id of a symbol (exact, case and all), or -1.
int parameterIdOfSymbol(std::string_view symbol);

// Exactly the text the VST2 build displays for a value ("0.50", "TNT", "16"),
// the value limited as setParameter limits it; empty for an unknown id.
std::string parameterText(int id, float value);
// The same with its unit where it has one ("14.00 dB"); for formats with a
// single text field.
std::string parameterTextWithUnit(int id, float value);
// A typed text back to a normalised value, by the rules the host tool's --set
// takes ("-3", "-3dB", "tape", "16x", "stereo", "0.7n"); nothing when it fits
// none. A stepped parameter gets its step's own value (valueOfDisplayUnits
// of the step), so a value found here always survives displayUnitsOf and
// back. Not for the audio thread.
std::optional<float> parameterValueFromText(int id, std::string_view text);

// Display units (dB for Drive and Level, the plain number for Amount, the
// step number for stepped parameters) to the normalised value whose display
// they are, and back. valueOfDisplayUnits(displayUnitsOf(v)) is v itself for
// every factory program value (also when the units went through a 32-bit
// float, as in an LV2 port) and every value parameterValueFromText gives, and
// for every continuous value from 2^-26 up; below that Level's -6 dB offset
// swallows the difference. A stepped parameter's step maps to the lowest
// value that shows it (0 for the first step, 1 for the last), as the factory
// programs store them. Units beyond the range are limited to it; NaN gives 0.
double displayUnitsOf(int id, float value);
float valueOfDisplayUnits(int id, double units);

// The state record: magic, version, byte count, the current program and the
// eight values by symbol, little-endian. Written by the current version;
// read only when whole and well formed.
std::vector<std::uint8_t> saveState(BoosterProcessor& processor);
// True when the record was taken. A truncated, foreign, empty or newer
// record changes nothing and answers false. Host thread.
bool loadState(BoosterProcessor& processor, const std::uint8_t* data, std::size_t size);

// For formats that read state from a stream: the first kStateHeaderSize
// bytes of a record say how long it is in all; stateRecordSize gives that
// length, or 0 when the bytes are no record of ours or claim more than
// kMaxStateSize (so a reader never allocates for garbage).
constexpr std::size_t kStateHeaderSize = 12;
constexpr std::size_t kMaxStateSize = 4096;
std::size_t stateRecordSize(const std::uint8_t* header, std::size_t size);
