#include "PluginSettings.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <strings.h>

namespace {

// Words a guitarist types for a step that the plug-in shows as a number.
const struct {
    const char* parameter;
    const char* word;
    const char* display;
} kStepWords[] = {{"Channels", "mono", "1"}, {"Channels", "stereo", "2"}};

// Units a user may append to a number; the plug-in's labels are empty.
const char* const kUnits[] = {"db", "x"};

// A parameter with more distinct display texts than this across its range is
// continuous: it accepts any number in its display range.
constexpr std::size_t kMostSteps = 32;
constexpr int kScanPoints = 1024;

std::string lowered(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The number in text, allowing one of the units a user may append.
bool numberWithUnit(const std::string& text, double& value)
{
    if (parseNumber(text, value))
        return true;
    const std::string lower = lowered(text);
    for (const char* unit : kUnits) {
        const std::size_t length = std::strlen(unit);
        if (lower.size() > length && lower.compare(lower.size() - length, length, unit) == 0 &&
            parseNumber(trimmed(text.substr(0, text.size() - length)), value))
            return true;
    }
    return false;
}

std::string displayAt(PluginInstance& plugin, int index, float value)
{
    plugin.setParameter(index, value);
    return plugin.parameterDisplay(index);
}

struct Step {
    std::string text;
    float first; // lowest and highest scanned values that show it
    float last;
};

// The display texts across the range, in order, each with the values that
// showed it.
std::vector<Step> scanDisplay(PluginInstance& plugin, int index)
{
    std::vector<Step> steps;
    for (int k = 0; k <= kScanPoints; ++k) {
        const float value = static_cast<float>(k) / kScanPoints;
        std::string text = displayAt(plugin, index, value);
        if (!steps.empty() && steps.back().text == text)
            steps.back().last = value;
        else
            steps.push_back({std::move(text), value, value});
    }
    return steps;
}

int decimalsOf(const std::string& text)
{
    const auto point = text.find('.');
    return point == std::string::npos ? 0 : static_cast<int>(text.size() - point - 1);
}

// The lowest value from 0 to 1 for which atOrPast holds, atOrPast being false
// up to some value and true from there on. Non-negative floats order as their
// bit patterns do, so this searches every float in the range.
template <typename Predicate> float firstValueWhere(Predicate atOrPast)
{
    std::uint32_t low = 0;
    std::uint32_t high = 0x3f800000u; // 1.0f
    auto valueOf = [](std::uint32_t bits) {
        float value;
        std::memcpy(&value, &bits, sizeof(value));
        return value;
    };
    if (atOrPast(valueOf(low)))
        return 0.0f;
    if (!atOrPast(valueOf(high)))
        return 2.0f; // none
    while (high - low > 1) {
        const std::uint32_t middle = low + (high - low) / 2;
        if (atOrPast(valueOf(middle)))
            high = middle;
        else
            low = middle;
    }
    return valueOf(high);
}

// A displayed number as a point on the display's scale. A display shows "-0.00"
// for values just below zero, so that text sits just below "0.00".
double scalePoint(double number, double resolution)
{
    return number == 0.0 && std::signbit(number) ? -resolution / 8.0 : number;
}

float continuousValue(PluginInstance& plugin, int index, const std::vector<Step>& steps, double wanted, bool& found)
{
    double bottom = 0.0;
    double top = 0.0;
    parseNumber(steps.front().text, bottom);
    parseNumber(steps.back().text, top);
    const double resolution = std::pow(10.0, -decimalsOf(steps.front().text));
    // Compare as the display would show the wanted number; the sign makes a
    // falling display rise.
    const double direction = top >= bottom ? 1.0 : -1.0;
    const double target = direction * scalePoint(std::round(wanted / resolution) * resolution, resolution);
    const double tolerance = resolution / 16.0;
    auto shown = [&](float value) {
        double number = 0.0;
        parseNumber(displayAt(plugin, index, value), number);
        return direction * scalePoint(number, resolution);
    };
    const float first = firstValueWhere([&](float v) { return shown(v) > target - tolerance; });
    const float past = firstValueWhere([&](float v) { return shown(v) > target + tolerance; });
    found = false;
    if (first > 1.0f)
        return 0.0f;
    // The middle of the values that show the number keeps clear of the
    // display's rounding edges.
    const float last = past > 1.0f ? 1.0f : std::nextafter(past, 0.0f);
    for (float candidate : {first + (last - first) / 2.0f, first}) {
        if (std::fabs(shown(candidate) - target) < tolerance) {
            found = true;
            return candidate;
        }
    }
    return 0.0f;
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
    throw CommandError(kUsage, "no parameter is called \"" + wanted + "\"");
}

float parameterValueFromText(PluginInstance& plugin, int index, const std::string& original)
{
    const std::string text = trimmed(original);
    const std::string name = plugin.parameterName(index);
    double number = 0.0;
    const bool normalisedMark = text.size() > 1 && (text.back() == 'n' || text.back() == 'N');
    if (normalisedMark && parseNumber(text.substr(0, text.size() - 1), number)) {
        if (number < 0.0 || number > 1.0)
            throw CommandError(kUsage, "a normalised value of " + name + " runs from 0n to 1n, not \"" + text + "\"");
        return static_cast<float>(number);
    }

    const std::vector<Step> steps = scanDisplay(plugin, index);
    const bool continuous = steps.size() > kMostSteps;
    std::string accepted;
    if (continuous) {
        bool found = false;
        if (numberWithUnit(text, number)) {
            const float value = continuousValue(plugin, index, steps, number, found);
            if (found)
                return value;
        }
        accepted = "a value from " + steps.front().text + " to " + steps.back().text;
    } else {
        std::string typed = text;
        for (const auto& word : kStepWords)
            if (strcasecmp(word.parameter, name.c_str()) == 0 && strcasecmp(word.word, text.c_str()) == 0)
                typed = word.display;
        const bool typedNumber = numberWithUnit(typed, number);
        bool anyNumeric = false;
        for (const Step& step : steps) {
            double shown = 0.0;
            const bool numeric = parseNumber(step.text, shown);
            anyNumeric = anyNumeric || numeric;
            if (strcasecmp(step.text.c_str(), typed.c_str()) == 0 || (numeric && typedNumber && shown == number))
                return step.first + (step.last - step.first) / 2.0f;
            accepted += (accepted.empty() ? "" : ", ") + step.text;
        }
        // Steps shown as names leave bare numbers free to be the normalised
        // values that earlier versions of this tool took.
        if (!anyNumeric && parseNumber(text, number) && number >= 0.0 && number <= 1.0)
            return static_cast<float>(number);
        accepted = "one of " + accepted;
    }
    throw CommandError(kUsage,
                       name + " takes " + accepted + ", or a normalised value from 0n to 1n; not \"" + original + "\"");
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
