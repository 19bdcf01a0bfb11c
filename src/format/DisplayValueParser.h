// Typed texts to normalised parameter values, read against the texts a
// parameter displays: the display's own texts in any case ("TAPE", "-3.00",
// "16"), the forms a user types for the same thing ("tape", "-3dB", "16x",
// "stereo"), and a normalised number marked with a trailing n ("0.67n"). The
// display is asked through a callback, so the same rules serve a plug-in seen
// from outside (the host tool) and the format layer seen from inside.
// Portable; no exceptions. Not for the audio thread: it allocates and asks
// the display about a thousand times.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The display text a parameter shows for a normalised value.
using DisplayTextOf = std::function<std::string(float value)>;

struct ParsedValue {
    std::optional<float> value;
    // The typed text without its surrounding blanks and tabs.
    std::string text;
    // Without a value: what the parameter takes, for an error message ("a
    // value from -6.00 to 24.00", "one of OFF, TUBE, TAPE, TNT"); empty when
    // the text was a normalised number outside 0n..1n.
    std::string accepted;
    bool normalisedOutOfRange = false;
};

// parameterName is the name the parameter reports ("Channels"); it picks the
// words a parameter takes beside its display ("mono", "stereo").
ParsedValue parseDisplayedValue(std::string_view parameterName, std::string_view typed, const DisplayTextOf& displayOf);

// A whole finite decimal number (strtod's forms), nothing before or after it.
bool parseNumber(std::string_view text, double& value);
