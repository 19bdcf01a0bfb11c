#include "format/FormatLayer.h"

#include "format/DisplayValueParser.h"

#include <cmath>
#include <cstring>

namespace {

constexpr FormatParameter describe(int id)
{
    const ParameterInfo& info = kParameters[static_cast<std::size_t>(id)];
    const bool stepped = info.steps > 0;
    return {id,
            info.symbol,
            info.name,
            info.unit,
            stepped ? info.steps - 1 : 0,
            kFactoryPrograms[0].values[id],
            stepped ? 0.0 : info.offset,
            stepped ? static_cast<double>(info.steps - 1) : info.scale + info.offset};
}

constexpr std::array<FormatParameter, kNumParameters> kFormatParameters = {
    describe(0), describe(1), describe(2), describe(3), describe(4), describe(5), describe(6), describe(7),
};

bool idInRange(int id)
{
    return static_cast<std::uint32_t>(id) < kNumParameters;
}

// The lowest value whose display shows `step` (0 for the first, 1 for the
// last): where the factory programs put a step, 2/3, 1/3 and 1/6 of
// "Character" being the floats just above those fractions.
float valueOfStep(int id, int step)
{
    const int steps = kParameters[static_cast<std::size_t>(id)].steps;
    if (step <= 0)
        return 0.0f;
    if (step >= steps - 1)
        return 1.0f;
    float value = static_cast<float>(static_cast<double>(step) / steps);
    while (displayedStep(id, value) < step)
        value = std::nextafter(value, 2.0f);
    while (displayedStep(id, std::nextafter(value, 0.0f)) >= step)
        value = std::nextafter(value, 0.0f);
    return value;
}

// The state record, little-endian throughout:
//   "GmkS", version (u32), byte count of the whole record (u32),
//   current program (u32), then per parameter its symbol's length (u8),
//   the symbol and its value (IEEE single, u32 bits).
constexpr std::uint8_t kStateMagic[4] = {'G', 'm', 'k', 'S'};
constexpr std::uint32_t kStateVersion = 1;
constexpr std::size_t kStateFixedSize = kStateHeaderSize + 4;

void putWord(std::vector<std::uint8_t>& record, std::uint32_t word)
{
    for (int shift = 0; shift < 32; shift += 8)
        record.push_back(static_cast<std::uint8_t>(word >> shift));
}

std::uint32_t wordAt(const std::uint8_t* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

} // namespace

const std::array<FormatParameter, kNumParameters>& formatParameters()
{
    return kFormatParameters;
}

int parameterIdOfSymbol(std::string_view symbol)
{
    for (const FormatParameter& parameter : kFormatParameters)
        if (symbol == parameter.symbol)
            return parameter.id;
    return -1;
}

std::string parameterText(int id, float value)
{
    if (!idInRange(id))
        return {};
    char text[32];
    formatParameterDisplay(id, limitParameterValue(value), text, sizeof(text));
    return text;
}

std::string parameterTextWithUnit(int id, float value)
{
    std::string text = parameterText(id, value);
    if (idInRange(id) && *kParameters[static_cast<std::size_t>(id)].unit)
        text.append(" ").append(kParameters[static_cast<std::size_t>(id)].unit);
    return text;
}

std::optional<float> parameterValueFromText(int id, std::string_view text)
{
    if (!idInRange(id))
        return std::nullopt;
    const ParsedValue parsed = parseDisplayedValue(kParameters[static_cast<std::size_t>(id)].name, text,
                                                   [id](float value) { return parameterText(id, value); });
    if (!parsed.value)
        return std::nullopt;
    return valueOfDisplayUnits(id, displayUnitsOf(id, *parsed.value));
}

double displayUnitsOf(int id, float value)
{
    if (!idInRange(id))
        return 0.0;
    value = limitParameterValue(value);
    if (kParameters[static_cast<std::size_t>(id)].steps > 0)
        return displayedStep(id, value);
    return scaledValue(id, value);
}

float valueOfDisplayUnits(int id, double units)
{
    if (!idInRange(id) || std::isnan(units))
        return 0.0f;
    const ParameterInfo& info = kParameters[static_cast<std::size_t>(id)];
    if (info.steps > 0)
        return valueOfStep(id, units < 1.0 ? 0 : static_cast<int>(std::fmin(std::round(units), info.steps - 1.0)));
    // Exact where scaledValue was: scale * v + offset held every bit of v.
    return limitParameterValue(static_cast<float>((units - info.offset) / info.scale));
}

std::vector<std::uint8_t> saveState(BoosterProcessor& processor)
{
    std::vector<std::uint8_t> record(std::begin(kStateMagic), std::end(kStateMagic));
    putWord(record, kStateVersion);
    putWord(record, 0); // the byte count, once known
    putWord(record, static_cast<std::uint32_t>(processor.program()));
    for (const FormatParameter& parameter : kFormatParameters) {
        const std::size_t length = std::strlen(parameter.symbol);
        record.push_back(static_cast<std::uint8_t>(length));
        record.insert(record.end(), parameter.symbol, parameter.symbol + length);
        const float value = processor.getParameter(parameter.id);
        std::uint32_t bits = 0;
        std::memcpy(&bits, &value, sizeof(bits));
        putWord(record, bits);
    }
    const auto size = static_cast<std::uint32_t>(record.size());
    for (int i = 0; i < 4; ++i)
        record[8 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(size >> (8 * i));
    return record;
}

std::size_t stateRecordSize(const std::uint8_t* header, std::size_t size)
{
    if (!header || size < kStateHeaderSize || std::memcmp(header, kStateMagic, sizeof(kStateMagic)) != 0)
        return 0;
    const std::uint32_t total = wordAt(header + 8);
    return total >= kStateHeaderSize && total <= kMaxStateSize ? total : 0;
}

bool loadState(BoosterProcessor& processor, const std::uint8_t* data, std::size_t size)
{
    // Everything is checked before anything changes.
    if (size < kStateFixedSize || stateRecordSize(data, size) != size || wordAt(data + 4) != kStateVersion)
        return false;
    const std::uint32_t program = wordAt(data + 12);
    if (program >= static_cast<std::uint32_t>(kNumPrograms))
        return false;
    std::array<float, kNumParameters> values{};
    std::uint32_t seen = 0;
    std::size_t position = kStateFixedSize;
    for (int pair = 0; pair < kNumParameters; ++pair) {
        if (position >= size)
            return false;
        const std::size_t length = data[position++];
        if (size - position < length + 4)
            return false;
        const int id = parameterIdOfSymbol(std::string_view(reinterpret_cast<const char*>(data + position), length));
        if (id < 0 || (seen & (1u << id)) != 0)
            return false;
        seen |= 1u << id;
        const std::uint32_t bits = wordAt(data + position + length);
        std::memcpy(&values[static_cast<std::size_t>(id)], &bits, sizeof(bits));
        position += length + 4;
    }
    if (position != size)
        return false;
    processor.restore(static_cast<int>(program), values);
    return true;
}
