// Values typed as the plug-in displays them, read back through its own
// display texts as a host reads them.
#include "PluginSettings.h"
#include "Vst2Instance.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>

extern "C" AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback host);

namespace {

std::string lowered(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string shownAfter(PluginInstance& plugin, VstInt32 index, const std::string& typed)
{
    plugin.setParameter(index, parameterValueFromText(plugin, index, typed));
    return plugin.parameterDisplay(index);
}

// Every text the display can show, for every parameter, parses back to a
// value that shows the same text, whatever its case.
TEST(ParameterText, EveryDisplayTextRoundTrips)
{
    Vst2Instance plugin(VSTPluginMain);
    ASSERT_TRUE(plugin.valid());
    for (VstInt32 index = 0; index < plugin.record()->numParams; ++index) {
        std::set<std::string> texts;
        // Finer than any display step: Level shows 3001 texts across the range.
        for (int k = 0; k <= 65536; ++k) {
            plugin.setParameter(index, static_cast<float>(k) / 65536.0f);
            texts.insert(plugin.parameterDisplay(index));
        }
        for (const std::string& text : texts) {
            EXPECT_EQ(shownAfter(plugin, index, text), text) << plugin.parameterName(index);
            if (lowered(text) != text) {
                EXPECT_EQ(shownAfter(plugin, index, lowered(text)), text) << plugin.parameterName(index);
            }
        }
    }
}

TEST(ParameterText, NaturalFormsAndNormalisedValues)
{
    Vst2Instance plugin(VSTPluginMain);
    ASSERT_TRUE(plugin.valid());
    const struct {
        const char* parameter;
        const char* typed;
        const char* shown;
    } cases[] = {
        {"Mode", "tape", "TAPE"},      {"Character", "Fat", "Fat"},  {"Level", "-3", "-3.00"},
        {"Level", "-3dB", "-3.00"},    {"Level", "-3.004", "-3.00"}, {"Level", "24", "24.00"},
        {"Drive", "12.5 dB", "12.50"}, {"Oversample", "16x", "16"},  {"Oversample", "1", "1"},
        {"Channels", "stereo", "2"},   {"Channels", "Mono", "1"},    {"Enable", "off", "OFF"},
        {"Enable", "ON", "ON"},        {"Drive", "0.7n", "14.00"},   {"Channels", "1n", "2"},
        {"Enable", "0", "OFF"}, // named steps keep taking bare normalised numbers
        {"Characte", "0.5", "Flat"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(shownAfter(plugin, findParameter(plugin, c.parameter), c.typed), c.shown)
            << c.parameter << "=" << c.typed;

    const struct {
        const char* parameter;
        const char* typed;
        const char* message;
    } refused[] = {
        {"Level", "-7", "from -6.00 to 24.00"},  {"Level", "24.01", "from -6.00 to 24.00"},
        {"Drive", "loud", "from 0.00 to 20.00"}, {"Mode", "warm", "OFF, TUBE, TAPE, TNT"},
        {"Oversample", "8x", "one of 1, 16"},    {"Channels", "3", "one of 1, 2"},
        {"Drive", "1.5n", "from 0n to 1n"},      {"Enable", "2", "one of OFF, ON"},
    };
    for (const auto& c : refused) {
        try {
            parameterValueFromText(plugin, findParameter(plugin, c.parameter), c.typed);
            ADD_FAILURE() << c.parameter << "=" << c.typed << " was accepted";
        } catch (const CommandError& error) {
            EXPECT_EQ(error.status, kUsage);
            EXPECT_NE(error.message.find(c.message), std::string::npos) << error.message;
        }
    }
}

} // namespace
