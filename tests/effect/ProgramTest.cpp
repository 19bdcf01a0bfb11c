#include "host/BoosterEffect.h"
#include "support/TestHost.h"

#include <string>

namespace {

BoosterEffect& instanceOf(HostedEffect& host)
{
    return *static_cast<BoosterEffect*>(host.effect->object);
}

TEST(Programs, EditsLiveInTheProgramTheyWereMadeIn)
{
    HostedEffect host;
    host.selectProgram(1);
    host.set(kAmount, 0.3f);
    host.selectProgram(2);
    EXPECT_FLOAT_EQ(host.get(kAmount), 0.5f);
    host.selectProgram(1);
    EXPECT_FLOAT_EQ(host.get(kAmount), 0.3f);
    // Other values of program 1 are its factory ones.
    EXPECT_FLOAT_EQ(host.get(kCharacter), 2.0f / 3.0f);
    EXPECT_FLOAT_EQ(host.get(kOversample), 1.0f);
}

TEST(Programs, SelectingTheCurrentProgramNeitherSavesNorReloads)
{
    HostedEffect host;
    host.selectProgram(1);
    host.set(kAmount, 0.3f);
    host.selectProgram(1);
    EXPECT_FLOAT_EQ(host.get(kAmount), 0.3f);
    // The edit was not saved by the reselection: a fresh round trip would show it only after leaving.
    host.selectProgram(0);
    host.selectProgram(1);
    EXPECT_FLOAT_EQ(host.get(kAmount), 0.3f);
}

TEST(Programs, ApplyingAProgramMarksAllParametersChangedAndTellsTheHostNothing)
{
    HostedEffect host;
    BoosterEffect& effect = instanceOf(host);
    EXPECT_EQ(effect.processor().pendingChanges(), 0xffu); // construction applies program 0 and the rate
    float silence[4] = {};
    float* channels[2] = {silence, silence};
    host.effect->processReplacing(host.effect, channels, channels, 4);
    recordedHostCalls().clear();
    host.selectProgram(4);
    EXPECT_EQ(effect.processor().pendingChanges(), 0xffu);
    EXPECT_TRUE(recordedHostCalls().empty());
}

TEST(Programs, SetParameterMarksOnlyItsOwnBit)
{
    HostedEffect host;
    BoosterEffect& effect = instanceOf(host);
    float silence[4] = {};
    float* channels[2] = {silence, silence};
    host.effect->processReplacing(host.effect, channels, channels, 4);
    ASSERT_EQ(effect.processor().pendingChanges(), 0u) << "processing left changes untaken";
    host.set(kAmount, -0.5f);
    EXPECT_EQ(effect.processor().pendingChanges(), 1u << 2);
}

TEST(Programs, NamesAreCutToTwentyFourCharacters)
{
    HostedEffect host;
    char longName[] = "A name of thirty characters..";
    ASSERT_EQ(std::string(longName).size(), 29u);
    char thirty[] = "abcdefghijklmnopqrstuvwxyz0123";
    host.dispatch(effSetProgramName, 0, 0, thirty);
    EXPECT_EQ(host.text(effGetProgramName), "abcdefghijklmnopqrstuvwx");
    EXPECT_EQ(bytesWritten(host, effGetProgramName), 25);

    // A shorter name afterwards leaves no trace of the longer one.
    char shortName[] = "Lead";
    host.dispatch(effSetProgramName, 0, 0, shortName);
    EXPECT_EQ(host.text(effGetProgramName), "Lead");

    // Names belong to their program.
    host.selectProgram(5);
    EXPECT_EQ(host.text(effGetProgramName), "Stereo mix air");
    host.selectProgram(0);
    EXPECT_EQ(host.text(effGetProgramName), "Lead");
}

TEST(Programs, AutomatedChangesReachTheHost)
{
    HostedEffect host;
    recordedHostCalls().clear();
    instanceOf(host).setParameterAutomated(kDrive, 0.75f);
    ASSERT_EQ(recordedHostCalls().size(), 1u);
    EXPECT_EQ(recordedHostCalls()[0].opcode, audioMasterAutomate);
    EXPECT_EQ(recordedHostCalls()[0].index, 4);
    EXPECT_EQ(recordedHostCalls()[0].opt, 0.75f);
    EXPECT_FLOAT_EQ(host.get(kDrive), 0.75f);
}

} // namespace
