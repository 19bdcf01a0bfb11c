#include "effect/Parameters.h"
#include "support/TestHost.h"

#include <cstdint>

namespace {

VstIntPtr VSTCALLBACK refusingHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    return opcode == audioMasterVersion ? 0 : 1;
}

TEST(EntryPoint, HostWithoutVersionGetsNoInstance)
{
    EXPECT_EQ(VSTPluginMain(refusingHost), nullptr);
    EXPECT_EQ(VSTPluginMain(nullptr), nullptr);
}

TEST(EntryPoint, AsksForTheHostVersionWithNoRecord)
{
    recordedHostCalls().clear();
    HostedEffect host;
    ASSERT_NE(host.effect, nullptr);
    ASSERT_FALSE(recordedHostCalls().empty());
    EXPECT_EQ(recordedHostCalls().front().opcode, audioMasterVersion);
}

TEST(EntryPoint, FreshRecordCarriesTheIdentity)
{
    HostedEffect host;
    const AEffect* record = host.effect;
    EXPECT_EQ(record->magic, kEffectMagic);
    EXPECT_EQ(record->numInputs, 2);
    EXPECT_EQ(record->numOutputs, 2);
    EXPECT_EQ(record->numPrograms, 16);
    EXPECT_EQ(record->numParams, 8);
    EXPECT_EQ(record->uniqueID, 0x516D3454); // 'Qm4T'
    EXPECT_EQ(record->version, 1);
    EXPECT_EQ(record->initialDelay, 0);
    EXPECT_EQ(record->ioRatio, 1.0f);
    EXPECT_EQ(record->resvd1, 0);
    EXPECT_EQ(record->resvd2, 0);
    EXPECT_EQ(record->user, nullptr);
    EXPECT_EQ(record->realQualities, 0);
    EXPECT_EQ(record->offQualities, 0);
    EXPECT_NE(record->object, nullptr);
    EXPECT_NE(record->process, nullptr);
    EXPECT_NE(record->processReplacing, nullptr);
    EXPECT_NE(record->processDoubleReplacing, nullptr);
    for (char byte : record->future)
        EXPECT_EQ(byte, 0);
    // This build has no editor: only the two processing flags.
    EXPECT_EQ(record->flags & ~effFlagsHasEditor, effFlagsCanReplacing | effFlagsCanDoubleReplacing);
}

TEST(EntryPoint, InstancesAreIndependent)
{
    HostedEffect first;
    HostedEffect second;
    ASSERT_NE(first.effect, second.effect);
    first.set(kAmount, 0.9f);
    first.selectProgram(3);
    char name[] = "Mine";
    first.dispatch(effSetProgramName, 0, 0, name);

    EXPECT_EQ(second.dispatch(effGetProgram), 0);
    EXPECT_FLOAT_EQ(second.get(kAmount), 0.5f);
    second.selectProgram(3);
    EXPECT_EQ(second.text(effGetProgramName), "Presence drive");
    EXPECT_EQ(first.text(effGetProgramName), "Mine");
    second.selectProgram(0);
    EXPECT_FLOAT_EQ(second.get(kAmount), 0.5f);
}

TEST(EntryPoint, CloseAnswersOneAndManyInstancesComeAndGo)
{
    for (int i = 0; i < 50; ++i) {
        HostedEffect host;
        ASSERT_NE(host.effect, nullptr);
        EXPECT_EQ(host.close(), 1);
    }
}

TEST(EntryPoint, DeprecatedAccumulatingProcessDoesNothing)
{
    HostedEffect host;
    float in[4] = {1, 2, 3, 4};
    float out[4] = {9, 9, 9, 9};
    float* inputs[2] = {in, in};
    float* outputs[2] = {out, out};
    host.effect->process(host.effect, inputs, outputs, 4);
    for (float sample : out)
        EXPECT_EQ(sample, 9.0f);
}

} // namespace
