#include "effect/Parameters.h"
#include "support/TestHost.h"

#include <array>
#include <cmath>
#include <limits>

namespace {

using Displays = std::array<const char*, 8>;

struct ProgramExpectation {
    const char* name;
    Displays displays;
};

// What a host shows for every factory program.
const ProgramExpectation kFactoryDisplays[] = {
    {"Default", {"ON", "Flat", "0.50", "OFF", "10.00", "0.00", "1", "1"}},
    {"Fat overdrive", {"ON", "Fat", "1.00", "TNT", "20.00", "3.90", "1", "16"}},
    {"Transparent", {"ON", "Tight", "0.50", "TAPE", "13.20", "3.90", "1", "16"}},
    {"Presence drive", {"ON", "Bright", "0.80", "TAPE", "20.00", "3.90", "1", "16"}},
    {"Single coil warm-up", {"ON", "Warm", "0.77", "TAPE", "20.00", "3.90", "1", "16"}},
    {"Stereo mix air", {"ON", "Shrill", "0.33", "TAPE", "4.00", "0.00", "2", "16"}},
};

TEST(ParameterDisplay, FactoryProgramsShowTheirSettings)
{
    HostedEffect host;
    for (VstInt32 program = 0; program < 16; ++program) {
        host.selectProgram(program);
        const ProgramExpectation& expected = program < 6 ? kFactoryDisplays[program] : kFactoryDisplays[0];
        const std::string name = program < 6 ? expected.name : "Init" + std::to_string(program - 5);
        EXPECT_EQ(host.text(effGetProgramName), name);
        for (VstInt32 index = 0; index < 8; ++index)
            EXPECT_EQ(host.display(index), expected.displays[index]) << name << " parameter " << index;
    }
}

TEST(ParameterDisplay, NamesAreCutToEightCharacters)
{
    HostedEffect host;
    const char* expected[] = {"Enable", "Characte", "Amount", "Mode", "Drive", "Level", "Channels", "Oversamp"};
    for (VstInt32 index = 0; index < 8; ++index) {
        EXPECT_EQ(host.text(effGetParamName, index), expected[index]);
        EXPECT_EQ(host.text(effGetParamLabel, index), "");
    }
    EXPECT_EQ(host.text(effGetParamName, 8), "Unknown");
    EXPECT_EQ(host.text(effGetParamName, -1), "Unknown");
}

TEST(ParameterDisplay, StepThresholds)
{
    HostedEffect host;
    struct Case {
        VstInt32 index;
        float value;
        const char* text;
    };
    const Case cases[] = {
        {0, 0.0f, "OFF"},
        {0, 0.4999f, "OFF"},
        {0, 0.5f, "ON"},
        {0, 1.0f, "ON"},
        {1, 0.0f, "Shrill"},
        {1, 0.5f, "Flat"},
        {1, 2.0f / 3.0f, "Fat"},
        {1, 0.8333f, "Fat"},
        {1, 1.0f, "Warm"},
        {1, 1.0f / 6.0f, "Bright"},
        {1, 1.0f / 3.0f, "Tight"},
        {3, 0.0f, "OFF"},
        {3, 0.25f, "TUBE"},
        {3, 0.5f, "TAPE"},
        {3, 0.75f, "TNT"},
        {3, 1.0f, "TNT"},
        {6, 0.0f, "1"},
        {6, 0.5f, "2"},
        {6, 1.0f, "2"},
        {7, 0.5f, "1"},
        {7, 0.5000001f, "16"},
        {7, 1.0f, "16"},
        {7, 0.0f, "1"},
        {2, 0.0f, "0.00"},
        {2, 1.0f, "1.00"},
        {4, 0.0f, "0.00"},
        {4, 1.0f, "20.00"},
        {5, 0.0f, "-6.00"},
        {5, 0.2f, "0.00"},
        {5, 1.0f, "24.00"},
    };
    for (const Case& c : cases) {
        host.set(c.index, c.value);
        EXPECT_EQ(host.display(c.index), c.text) << "parameter " << c.index << " at " << c.value;
    }
}

TEST(ParameterDisplay, UnknownIndexLeavesTheBufferAlone)
{
    HostedEffect host;
    char buffer[16] = "keep";
    host.dispatch(effGetParamDisplay, 8, 0, buffer);
    EXPECT_STREQ(buffer, "keep");
    host.dispatch(effGetParamDisplay, -5, 0, buffer);
    EXPECT_STREQ(buffer, "keep");
}

TEST(ParameterValues, AreLimitedToTheUnitRange)
{
    HostedEffect host;
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        float in;
        float stored;
    };
    const Case cases[] = {{-0.5f, 0.0f},  {2.0f, 1.0f}, {inf, 1.0f},           {-inf, 0.0f},
                          {0.25f, 0.25f}, {1.0f, 1.0f}, {std::nanf(""), 0.0f}, {-0.0f, 0.0f}};
    for (VstInt32 index = 0; index < 8; ++index) {
        for (const Case& c : cases) {
            host.set(index, c.in);
            EXPECT_EQ(host.get(index), c.stored) << "parameter " << index << " set to " << c.in;
            EXPECT_FALSE(host.display(index).empty());
        }
    }
}

TEST(ParameterValues, OutOfRangeIndicesAreIgnored)
{
    HostedEffect host;
    host.set(8, 0.3f);
    host.set(-1, 0.3f);
    EXPECT_EQ(host.get(8), 0.0f);
    EXPECT_EQ(host.get(-1), 0.0f);
    for (VstInt32 index = 0; index < 8; ++index)
        EXPECT_NE(host.get(index), 0.3f);
}

TEST(ParameterValues, AreStoredUnsnapped)
{
    HostedEffect host;
    host.set(kCharacter, 0.51f);
    EXPECT_EQ(host.get(kCharacter), 0.51f);
    EXPECT_EQ(host.display(kCharacter), "Flat");
}

} // namespace
