#include "PluginSettings.h"

#include "format/DisplayValueParser.h"

#include <strings.h>

namespace {

std::string displayAt(PluginInstance& plugin, int index, float value)
{
    plugin.setParameter(index, value);
    return plugin.parameterDisplay(index);
}

} // namespace

int findProgram(PluginInstance& plugin, const std::string& wanted)
{
    const int count = plugin.programCount();
    long number = 0;
    if (parseInteger(wanted, number)) {
        if (number < 0 || number >= count)
            throw CommandError(kUsage,
                               "program " + wanted + " does not exist (0 to " + std::to_string(count - 1) + ")");
        return static_cast<int>(number);
    }
    const int current = plugin.program();
    int found = -1;
    for (int p = 0; p < count && found < 0; ++p) {
        plugin.setProgram(p);
        if (strcasecmp(plugin.programName().c_str(), wanted.c_str()) == 0)
            found = p;
    }
    plugin.setProgram(current);
    if (found < 0)
        throw CommandError(kUsage, "no program is called \"" + wanted + "\"");
    return found;
}

int findParameter(PluginInstance& plugin, const std::string& wanted)
{
    for (int i = 0; i < plugin.parameterCount(); ++i) {
        const std::string name = plugin.parameterName(i);
        if (strcasecmp(name.c_str(), wanted.c_str()) == 0)
            return i;
        if (name.size() == 8 && wanted.size() > 8 && strncasecmp(name.c_str(), wanted.c_str(), 8) == 0)
            return i;
    }
    std::string names;
    for (int i = 0; i < plugin.parameterCount(); ++i)
        names += (i ? ", " : "") + plugin.parameterName(i);
    throw CommandError(kUsage, "no parameter is called \"" + wanted + "\"; the parameters are " + names);
}

float parameterValueFromText(PluginInstance& plugin, int index, const std::string& original)
{
    const std::string name = plugin.parameterName(index);
    const ParsedValue parsed =
        parseDisplayedValue(name, original, [&](float value) { return displayAt(plugin, index, value); });
    if (parsed.value)
        return *parsed.value;
    if (parsed.normalisedOutOfRange)
        throw CommandError(kUsage,
                           "a normalised value of " + name + " runs from 0n to 1n, not \"" + parsed.text + "\"");
    throw CommandError(kUsage, name + " takes " + parsed.accepted + ", or a normalised value from 0n to 1n; not \"" +
                                   original + "\"");
}

ResolvedSettings resolveSettings(PluginInstance& plugin, const std::string& program, const SettingTexts& settings)
{
    ResolvedSettings resolved;
    if (!program.empty()) {
        resolved.program = findProgram(plugin, program);
        plugin.setProgram(resolved.program);
    }
    for (const auto& [name, valueText] : settings) {
        const int index = findParameter(plugin, name);
        const float value = parameterValueFromText(plugin, index, valueText);
        plugin.setParameter(index, value);
        resolved.values.emplace_back(index, value);
    }
    return resolved;
}

void applyResolved(PluginInstance& plugin, const ResolvedSettings& resolved)
{
    if (resolved.program >= 0)
        plugin.setProgram(resolved.program);
    for (const auto& [index, value] : resolved.values)
        plugin.setParameter(index, value);
}
