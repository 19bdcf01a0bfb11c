#include "format/DisplayValueParser.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Words a guitarist types for a step that the display shows as a number.
const struct {
    const char* parameter;
    const char* word;
    const char* display;
} kStepWords[] = {{"Channels", "mono", "1"}, {"Channels", "stereo", "2"}};

// Units a user may append to a number; the displays show none.
const char* const kUnits[] = {"db", "x"};

// A parameter with more distinct display texts than this across its range is
// continuous: it accepts any number in its display range.
constexpr std::size_t kMostSteps = 32;
constexpr int kScanPoints = 1024;

bool sameIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The number in text, allowing one of the units a user may append.
bool numberWithUnit(std::string_view text, double& value)
{
    if (parseNumber(text, value))
        return true;
    for (const char* unit : kUnits) {
        const std::size_t length = std::strlen(unit);
        if (text.size() > length && sameIgnoringCase(text.substr(text.size() - length), unit) &&
            parseNumber(trimmed(text.substr(0, text.size() - length)), value))
            return true;
    }
    return false;
}

struct Step {
    std::string text;
    float first; // lowest and highest scanned values that show it
    float last;
};

// The display texts across the range, in order, each with the values that
// showed it.
std::vector<Step> scanDisplay(const DisplayTextOf& displayOf)
{
    std::vector<Step> steps;
    for (int k = 0; k <= kScanPoints; ++k) {
        const float value = static_cast<float>(k) / kScanPoints;
        std::string text = displayOf(value);
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

std::optional<float> continuousValue(const DisplayTextOf& displayOf, const std::vector<Step>& steps, double wanted)
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
        parseNumber(displayOf(value), number);
        return direction * scalePoint(number, resolution);
    };
    const float first = firstValueWhere([&](float v) { return shown(v) > target - tolerance; });
    const float past = firstValueWhere([&](float v) { return shown(v) > target + tolerance; });
    if (first > 1.0f)
        return std::nullopt;
    // The middle of the values that show the number keeps clear of the
    // display's rounding edges.
    const float last = past > 1.0f ? 1.0f : std::nextafter(past, 0.0f);
    for (float candidate : {first + (last - first) / 2.0f, first})
        if (std::fabs(shown(candidate) - target) < tolerance)
            return candidate;
    return std::nullopt;
}

} // namespace

bool parseNumber(std::string_view text, double& value)
{
    if (text.empty())
        return false;
    const std::string terminated(text);
    char* end = nullptr;
    value = std::strtod(terminated.c_str(), &end);
    return end == terminated.c_str() + terminated.size() && std::isfinite(value);
}

ParsedValue parseDisplayedValue(std::string_view parameterName, std::string_view typed, const DisplayTextOf& displayOf)
{
    ParsedValue parsed;
    const std::string_view text = trimmed(typed);
    parsed.text = std::string(text);
    double number = 0.0;
    const bool normalisedMark = text.size() > 1 && (text.back() == 'n' || text.back() == 'N');
    if (normalisedMark && parseNumber(text.substr(0, text.size() - 1), number)) {
        if (number < 0.0 || number > 1.0)
            parsed.normalisedOutOfRange = true;
        else
            parsed.value = static_cast<float>(number);
        return parsed;
    }

    const std::vector<Step> steps = scanDisplay(displayOf);
    if (steps.size() > kMostSteps) {
        if (numberWithUnit(text, number))
            parsed.value = continuousValue(displayOf, steps, number);
        if (!parsed.value)
            parsed.accepted = "a value from " + steps.front().text + " to " + steps.back().text;
        return parsed;
    }

    std::string_view word = text;
    for (const auto& stepWord : kStepWords)
        if (sameIgnoringCase(stepWord.parameter, parameterName) && sameIgnoringCase(stepWord.word, text))
            word = stepWord.display;
    const bool typedNumber = numberWithUnit(word, number);
    bool anyNumeric = false;
    std::string accepted;
    for (const Step& step : steps) {
        double shown = 0.0;
        const bool numeric = parseNumber(step.text, shown);
        anyNumeric = anyNumeric || numeric;
        if (sameIgnoringCase(step.text, word) || (numeric && typedNumber && shown == number)) {
            parsed.value = step.first + (step.last - step.first) / 2.0f;
            return parsed;
        }
        accepted += (accepted.empty() ? "" : ", ") + step.text;
    }
    // Steps shown as names leave bare numbers free to be the normalised
    // values that earlier versions of the host tool took.
    if (!anyNumeric && parseNumber(text, number) && number >= 0.0 && number <= 1.0) {
        parsed.value = static_cast<float>(number);
        return parsed;
    }
    parsed.accepted = "one of " + accepted;
    return parsed;
}
