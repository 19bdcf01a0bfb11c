// The format layer against the VST2 build: the same texts, values that come
// back exactly, and a state record that is taken whole or not at all.
#include "format/FormatLayer.h"
#include "support/TestHost.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <set>
#include <string>
#include <vector>

namespace {

bool stepped(int id)
{
    return formatParameters()[static_cast<std::size_t>(id)].stepCount > 0;
}

std::uint32_t bitsOf(float value)
{
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

float floatOf(std::uint32_t bits)
{
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

// Display units and back, the round trip a format that stores units makes.
float throughUnits(int id, float value)
{
    return valueOfDisplayUnits(id, displayUnitsOf(id, value));
}

TEST(FormatLayer, ParametersAreTheVst2ParametersWithSymbolsAndRanges)
{
    HostedEffect host;
    std::set<std::string> symbols;
    for (const FormatParameter& parameter : formatParameters()) {
        const int id = parameter.id;
        EXPECT_EQ(parameterIdOfSymbol(parameter.symbol), id);
        symbols.insert(parameter.symbol);
        EXPECT_EQ(std::string(parameter.name).substr(0, 8), host.text(effGetParamName, id));
        EXPECT_EQ(parameter.defaultValue, host.get(id)); // program 0
        EXPECT_EQ(parameter.displayMin, displayUnitsOf(id, 0.0f));
        EXPECT_EQ(parameter.displayMax, displayUnitsOf(id, 1.0f));
        EXPECT_EQ(std::string(parameter.unit), id == kDrive || id == kLevel ? "dB" : "");
    }
    EXPECT_EQ(symbols.size(), 8u);
    EXPECT_EQ(formatParameters()[kCharacter].stepCount, 5);
    EXPECT_EQ(formatParameters()[kAmount].stepCount, 0);
    EXPECT_EQ(formatParameters()[kLevel].displayMin, -6.0);
    EXPECT_EQ(parameterIdOfSymbol("Drive"), -1);
    EXPECT_EQ(parameterTextWithUnit(kDrive, 0.7f), "14.00 dB");
    EXPECT_EQ(parameterTextWithUnit(kMode, 1.0f), "TNT");
    EXPECT_EQ(parameterText(8, 0.5f), "");
}

// Every step, its edges, 1,000 values across the range, and values the
// host may send outside it, as the VST2 dispatcher displays them.
TEST(FormatLayer, TextsAreWhatTheVst2BuildDisplays)
{
    HostedEffect host;
    for (int id = 0; id < kNumParameters; ++id) {
        std::vector<float> values = {-1.0f, 2.0f, std::numeric_limits<float>::quiet_NaN(), 0.5f, 0.25f, 0.75f};
        for (int k = 0; k < 1000; ++k)
            values.push_back(static_cast<float>(k) / 999.0f);
        if (stepped(id)) {
            for (int step = 0; step <= formatParameters()[static_cast<std::size_t>(id)].stepCount; ++step) {
                const float value = valueOfDisplayUnits(id, step);
                values.push_back(value);
                values.push_back(std::nextafter(value, 0.0f));
                values.push_back(std::nextafter(value, 1.0f));
            }
        }
        for (float value : values) {
            host.set(id, value);
            EXPECT_EQ(parameterText(id, value), host.display(id)) << id << " " << value;
        }
    }
}

TEST(FormatLayer, TypedTextsComeBackAsValuesShowingThem)
{
    for (int id = 0; id < kNumParameters; ++id) {
        std::set<std::string> texts;
        for (int k = 0; k < 1000; ++k)
            texts.insert(parameterText(id, static_cast<float>(k) / 999.0f));
        for (const std::string& text : texts) {
            const std::optional<float> value = parameterValueFromText(id, text);
            ASSERT_TRUE(value.has_value()) << id << " " << text;
            EXPECT_EQ(parameterText(id, *value), text);
            EXPECT_EQ(bitsOf(throughUnits(id, *value)), bitsOf(*value)) << id << " " << text;
        }
        const std::optional<float> withUnit = parameterValueFromText(id, parameterTextWithUnit(id, 0.7f));
        ASSERT_TRUE(withUnit.has_value());
        EXPECT_EQ(parameterText(id, *withUnit), parameterText(id, 0.7f));
    }
    // The host tool's forms; a step gets the value its program would store.
    EXPECT_EQ(parameterValueFromText(kMode, " tape "), 0.5f);
    EXPECT_EQ(parameterValueFromText(kCharacter, "fat"), 2.0f / 3.0f);
    EXPECT_EQ(parameterValueFromText(kChannels, "stereo"), 1.0f);
    EXPECT_EQ(parameterValueFromText(kOversample, "16x"), 1.0f);
    EXPECT_EQ(parameterText(kLevel, parameterValueFromText(kLevel, "-3dB").value_or(-1.0f)), "-3.00");
    EXPECT_EQ(parameterValueFromText(kDrive, "0.7n"), 0.7f);
    for (const char* refused : {"loud", "", "21", "1.5n", "-1n"})
        EXPECT_FALSE(parameterValueFromText(kDrive, refused).has_value()) << refused;
    EXPECT_FALSE(parameterValueFromText(kMode, "warm").has_value());
    EXPECT_FALSE(parameterValueFromText(kDrive, std::string_view("3\0x", 3)).has_value());
    EXPECT_FALSE(parameterValueFromText(-1, "1").has_value());
}

// LV2 ports and presets hold display units; the values must come back as
// the same floats, also after the units went through a 32-bit port.
TEST(FormatLayer, DisplayUnitsComeBackAsTheSameValue)
{
    for (const ProgramRecord& program : kFactoryPrograms) {
        for (int id = 0; id < kNumParameters; ++id) {
            const float value = program.values[id];
            EXPECT_EQ(bitsOf(throughUnits(id, value)), bitsOf(value)) << program.name << " " << id;
            const auto portUnits = static_cast<float>(displayUnitsOf(id, value));
            EXPECT_EQ(bitsOf(valueOfDisplayUnits(id, portUnits)), bitsOf(value)) << program.name << " " << id;
        }
    }
    constexpr std::uint32_t kExactFrom = 0x32800000u; // 2^-26
    for (int id = 0; id < kNumParameters; ++id) {
        int inexact = 0;
        for (std::uint32_t bits = 0; bits <= 0x3f800000u; bits += stepped(id) || bits < kExactFrom ? 4099u : 61u) {
            const float value = floatOf(bits);
            const float back = throughUnits(id, value);
            if (stepped(id) || bits < kExactFrom) {
                // Same text, and a value that itself survives the trip.
                EXPECT_EQ(parameterText(id, back), parameterText(id, value));
                inexact += bitsOf(throughUnits(id, back)) != bitsOf(back);
            } else {
                inexact += bitsOf(back) != bits;
            }
        }
        EXPECT_EQ(inexact, 0) << id;
    }
    EXPECT_EQ(valueOfDisplayUnits(kLevel, 100.0), 1.0f);
    EXPECT_EQ(valueOfDisplayUnits(kLevel, -100.0), 0.0f);
    EXPECT_EQ(valueOfDisplayUnits(kLevel, std::nan("")), 0.0f);
    EXPECT_EQ(valueOfDisplayUnits(kMode, 7.0), 1.0f);
    EXPECT_EQ(valueOfDisplayUnits(kMode, -2.0), 0.0f);
    EXPECT_EQ(valueOfDisplayUnits(kMode, 1.4), 0.25f);
    EXPECT_EQ(displayUnitsOf(kOversample, 0.5f), 0.0); // "1" until strictly above one half
    EXPECT_EQ(displayUnitsOf(kLevel, 0.2f), 30.0 * static_cast<double>(0.2f) - 6.0);
}

// A processor with its changes taken, so that any later setParameter shows.
void settle(BoosterProcessor& processor)
{
    processor.process(static_cast<float**>(nullptr), nullptr, 0);
    ASSERT_EQ(processor.pendingChanges(), 0u);
}

std::vector<std::uint8_t> withWord(std::vector<std::uint8_t> record, std::size_t at, std::uint32_t word)
{
    for (int i = 0; i < 4; ++i)
        record[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(word >> (8 * i));
    return record;
}

TEST(FormatLayer, StateIsTakenWholeOrNotAtAll)
{
    BoosterProcessor source;
    source.setProgram(3);
    source.setParameter(kAmount, 0.3f);
    source.setParameter(kLevel, 0.123456789f);
    const std::vector<std::uint8_t> record = saveState(source);
    ASSERT_EQ(stateRecordSize(record.data(), kStateHeaderSize), record.size());

    BoosterProcessor target;
    ASSERT_TRUE(loadState(target, record.data(), record.size()));
    EXPECT_EQ(target.program(), 3);
    for (int id = 0; id < kNumParameters; ++id)
        EXPECT_EQ(bitsOf(target.getParameter(id)), bitsOf(source.getParameter(id))) << id;
    EXPECT_EQ(saveState(target), record);
    // Taking a state stores nothing into the program that was current: 0 keeps its factory values.
    target.setProgram(0);
    EXPECT_EQ(target.getParameter(kAmount), kFactoryPrograms[0].values[kAmount]);

    // Values limited as the host's are; NaN becomes 0.
    const std::size_t firstValue = 16 + 1 + std::strlen("enable");
    for (const auto& [stored, taken] : {std::pair<float, float>{std::nanf(""), 0.0f}, {2.0f, 1.0f}, {-1.0f, 0.0f}}) {
        const std::vector<std::uint8_t> odd = withWord(record, firstValue, bitsOf(stored));
        ASSERT_TRUE(loadState(target, odd.data(), odd.size()));
        EXPECT_EQ(target.getParameter(kEnable), taken);
    }

    std::vector<std::vector<std::uint8_t>> bad;
    for (std::size_t length = 0; length < record.size(); ++length) // every truncation, the empty one included
        bad.emplace_back(record.begin(), record.begin() + static_cast<long>(length));
    bad.push_back(record);
    bad.back().push_back(0);                                                           // a byte beyond the count
    bad.push_back(withWord(record, 0, 0x53566d47u));                                   // another magic
    bad.push_back(withWord(record, 4, 2));                                             // a newer version
    bad.push_back(withWord(record, 4, 0));                                             // no version
    bad.push_back(withWord(record, 8, static_cast<std::uint32_t>(record.size() - 1))); // a wrong count
    const std::vector<std::uint8_t> absurd = withWord(record, 8, 0xffffffffu);
    bad.push_back(absurd);
    bad.push_back(withWord(record, 12, 16)); // no such program
    std::vector<std::uint8_t> renamed = record, doubled = record, longer = record;
    renamed[17] = 'E';                                      // "Enable": no such symbol
    std::memcpy(&doubled[firstValue + 4 + 1], "enable", 6); // the second symbol, "enable" again
    doubled[firstValue + 4] = 6;
    longer[16] = 200; // a symbol running past the end
    bad.insert(bad.end(), {renamed, doubled, longer});
    std::vector<std::uint8_t> garbage(record.size());
    for (std::size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<std::uint8_t>(i * 37 + 11);
    bad.push_back(garbage);

    target.setProgram(5);
    target.setParameter(kDrive, 0.9f);
    settle(target);
    const std::vector<std::uint8_t> before = saveState(target);
    for (std::size_t i = 0; i < bad.size(); ++i) {
        EXPECT_FALSE(loadState(target, bad[i].data(), bad[i].size())) << "bad state " << i;
        EXPECT_EQ(target.pendingChanges(), 0u) << "bad state " << i;
    }
    EXPECT_FALSE(loadState(target, nullptr, record.size()));
    EXPECT_EQ(saveState(target), before);
    EXPECT_EQ(stateRecordSize(garbage.data(), garbage.size()), 0u);
    EXPECT_EQ(stateRecordSize(absurd.data(), kStateHeaderSize), 0u);
}

} // namespace
