// Programs and parameter values as a user names them: by the plug-in's own
// program and parameter names, and by the texts its display shows, all read
// through the plug-in's own calls as any host reads them.
#pragma once

#include "CommandLine.h"
#include "PluginInstance.h"

#include <string>
#include <utility>
#include <vector>

using SettingTexts = std::vector<std::pair<std::string, std::string>>;

// Program by number or by name (case does not matter). Throws CommandError.
int findProgram(PluginInstance& plugin, const std::string& wanted);

// Parameter by the name the plug-in reports, or by a longer name that the
// reported (cut) name begins, so both "Characte" and "Character" work.
int findParameter(PluginInstance& plugin, const std::string& wanted);

// The normalised value for a text as the plug-in displays it ("TAPE", "-3.00",
// "16"), in the forms a user types for the same step ("tape", "-3dB", "16x",
// "stereo"), or for a normalised number marked with a trailing n ("0.67n").
// Leaves the parameter changed (it is probed through the plug-in); throws a
// CommandError that lists what is accepted.
float parameterValueFromText(PluginInstance& plugin, int index, const std::string& text);

// A program and parameter values worked out once and applied to any number of
// fresh instances.
struct ResolvedSettings {
    int program = -1; // -1: keep the instance's own
    std::vector<std::pair<int, float>> values;
};
ResolvedSettings resolveSettings(PluginInstance& plugin, const std::string& program, const SettingTexts& settings);
void applyResolved(PluginInstance& plugin, const ResolvedSettings& resolved);

inline void applySettings(PluginInstance& plugin, const std::string& program, const SettingTexts& settings)
{
    applyResolved(plugin, resolveSettings(plugin, program, settings));
}
