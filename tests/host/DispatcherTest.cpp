#include "effect/Parameters.h"
#include "support/TestHost.h"

#include <cmath>
#include <limits>

namespace {

TEST(Dispatcher, VersionIdentityAndCapabilityAnswers)
{
    HostedEffect host;
    EXPECT_EQ(host.dispatch(effGetVstVersion), 2400);
    EXPECT_EQ(host.dispatch(effIdentify), 0x4E764566); // 'NvEf'
    EXPECT_EQ(host.dispatch(effGetVendorVersion), 1000);
    EXPECT_EQ(host.dispatch(effGetPlugCategory), kPlugCategUnknown);
    EXPECT_EQ(host.dispatch(effGetTailSize), 0);
    EXPECT_EQ(host.dispatch(effGetCurrentMidiProgram), -1);
    EXPECT_EQ(host.dispatch(effGetChunk), 0);
    EXPECT_EQ(host.dispatch(effSetChunk), 0);
    EXPECT_EQ(host.dispatch(effSetTotalSampleToProcess, 0, 4711), 4711);
    for (const char* text : {"receiveVstMidiEvent", "sendVstMidiEvent", "bypass", "", "plugAsChannelInsert"}) {
        char buffer[64];
        std::strcpy(buffer, text);
        EXPECT_EQ(host.dispatch(effCanDo, 0, 0, buffer), 0) << text;
    }
    EXPECT_EQ(host.dispatch(effCanDo), 0);
    for (VstInt32 index : {-1, 0, 7, 8, 1000})
        EXPECT_EQ(host.dispatch(effCanBeAutomated, index), 1) << index;
}

TEST(Dispatcher, UnknownDeprecatedAndDefaultOpcodesAnswerZero)
{
    HostedEffect host;
    const VstInt32 unhandled[] = {-1,
                                  80,
                                  1000,
                                  std::numeric_limits<VstInt32>::min(),
                                  effGetVu,
                                  effEditDraw,
                                  effEditMouse,
                                  effEditKey,
                                  effEditTop,
                                  effEditSleep,
                                  effGetNumProgramCategories,
                                  effCopyProgram,
                                  effConnectInput,
                                  effConnectOutput,
                                  effGetCurrentPosition,
                                  effGetDestinationBuffer,
                                  effSetBlockSizeAndSampleRate,
                                  effGetErrorText,
                                  effIdle,
                                  effGetIcon,
                                  effSetViewPosition,
                                  effKeysRequired};
    for (VstInt32 opcode : unhandled)
        EXPECT_EQ(host.dispatch(opcode, 1, 1, nullptr, 1.0f), 0) << opcode;

    const VstInt32 defaults[] = {effString2Parameter,
                                 effGetInputProperties,
                                 effGetOutputProperties,
                                 effOfflineNotify,
                                 effOfflinePrepare,
                                 effOfflineRun,
                                 effProcessVarIo,
                                 effSetSpeakerArrangement,
                                 effSetBypass,
                                 effVendorSpecific,
                                 effGetParameterProperties,
                                 effGetMidiProgramName,
                                 effGetMidiProgramCategory,
                                 effHasMidiProgramsChanged,
                                 effGetMidiKeyName,
                                 effBeginSetProgram,
                                 effEndSetProgram,
                                 effShellGetNextPlugin,
                                 effStartProcess,
                                 effStopProcess,
                                 effSetPanLaw,
                                 effBeginLoadBank,
                                 effBeginLoadProgram,
                                 effSetProcessPrecision,
                                 effGetNumMidiInputChannels,
                                 effGetNumMidiOutputChannels,
                                 effProcessEvents};
    for (VstInt32 opcode : defaults)
        EXPECT_EQ(host.dispatch(opcode), 0) << opcode;

    // Program names by index are not offered; the buffer stays as it was.
    char buffer[32] = "untouched";
    EXPECT_EQ(host.dispatch(effGetProgramNameIndexed, 0, 0, buffer), 0);
    EXPECT_STREQ(buffer, "untouched");
    // None of it changed the parameters.
    EXPECT_FLOAT_EQ(host.get(kAmount), 0.5f);
}

TEST(Dispatcher, SpeakerArrangementRequestWritesNullIntoBothLocations)
{
    HostedEffect host;
    int dummy = 0;
    void* input = &dummy;
    void* output = &dummy;
    EXPECT_EQ(host.dispatch(effGetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&input), &output), 0);
    EXPECT_EQ(input, nullptr);
    EXPECT_EQ(output, nullptr);
    // Missing locations are skipped, not written through.
    EXPECT_EQ(host.dispatch(effGetSpeakerArrangement), 0);
}

TEST(Dispatcher, EditorRequestsWithoutAnEditorAnswerZeroAndTouchNothing)
{
    HostedEffect host;
    if (host.effect->flags & effFlagsHasEditor)
        GTEST_SKIP() << "this build has an editor";
    ERect sentinel{};
    ERect* rect = &sentinel;
    EXPECT_EQ(host.dispatch(effEditGetRect, 0, 0, &rect), 0);
    EXPECT_EQ(rect, &sentinel);
    EXPECT_EQ(host.dispatch(effEditGetRect), 0);
    int window = 0;
    EXPECT_EQ(host.dispatch(effEditOpen, 0, 0, &window), 0);
    EXPECT_EQ(host.dispatch(effEditOpen), 0);
    EXPECT_EQ(host.dispatch(effEditClose), 0);
    EXPECT_EQ(host.dispatch(effEditIdle), 0);
    EXPECT_EQ(host.dispatch(effEditKeyDown, 'a', 0x41, nullptr, 3.0f), 0);
    EXPECT_EQ(host.dispatch(effEditKeyUp, 'a', 0x41, nullptr, std::nanf("")), 0);
    EXPECT_EQ(host.dispatch(effSetEditKnobMode, 0, 2), 0);
}

TEST(Dispatcher, MainsChangedSendsNothingToTheHost)
{
    HostedEffect host;
    recordedHostCalls().clear();
    EXPECT_EQ(host.dispatch(effMainsChanged, 0, 1), 0);
    EXPECT_EQ(host.dispatch(effMainsChanged, 0, 0), 0);
    EXPECT_EQ(host.dispatch(effMainsChanged, 0, 1), 0);
    EXPECT_EQ(host.dispatch(effOpen), 0);
    EXPECT_TRUE(recordedHostCalls().empty());
}

TEST(Dispatcher, ProgramSelectionOutOfRangeChangesNothing)
{
    HostedEffect host;
    host.selectProgram(2);
    ASSERT_EQ(host.dispatch(effGetProgram), 2);
    const VstIntPtr refused[] = {16, -1, 1 << 30, std::numeric_limits<VstInt32>::min(),
                                 static_cast<VstIntPtr>(std::numeric_limits<VstInt32>::max())};
    for (VstIntPtr program : refused) {
        host.selectProgram(program);
        EXPECT_EQ(host.dispatch(effGetProgram), 2) << program;
        EXPECT_EQ(host.text(effGetProgramName), "Transparent");
    }
    if (sizeof(VstIntPtr) == 8) {
        // A 64-bit value whose low half reads as a valid program must not select it.
        host.selectProgram(static_cast<VstIntPtr>(-(static_cast<long long>(1) << 32) + 3));
        EXPECT_EQ(host.dispatch(effGetProgram), 2);
    }
}

// How many bytes each text request writes, measured with guard bytes: the
// host's buffers are sized by these counts.
TEST(Dispatcher, TextRequestsWriteExactlyTheirFieldSizes)
{
    HostedEffect host;
    for (VstInt32 index = -1; index <= 8; ++index) {
        EXPECT_EQ(bytesWritten(host, effGetParamName, index), 9) << index;
        EXPECT_EQ(bytesWritten(host, effGetParamLabel, index), 9) << index;
    }
    for (VstInt32 index = 0; index < 8; ++index) {
        int written = bytesWritten(host, effGetParamDisplay, index);
        EXPECT_EQ(written, static_cast<int>(host.display(index).size()) + 1) << index;
        EXPECT_LE(written, 8) << index;
    }
    EXPECT_EQ(bytesWritten(host, effGetParamDisplay, 8), 0);
    EXPECT_EQ(bytesWritten(host, effGetParamDisplay, -1), 0);
    EXPECT_EQ(bytesWritten(host, effGetProgramName), 25);

    VstIntPtr answer = 0;
    EXPECT_EQ(bytesWritten(host, effGetEffectName, 0, &answer), 33);
    EXPECT_EQ(answer, 1);
    EXPECT_EQ(bytesWritten(host, effGetVendorString, 0, &answer), 65);
    EXPECT_EQ(answer, 1);
    EXPECT_EQ(bytesWritten(host, effGetProductString, 0, &answer), 65);
    EXPECT_EQ(answer, 1);

    EXPECT_EQ(host.text(effGetEffectName), "Grindlemark");
    EXPECT_EQ(host.text(effGetVendorString), "OVK");
    EXPECT_EQ(host.text(effGetProductString), "OVK Grindlemark");
}

TEST(Dispatcher, NullTextBuffersAreIgnored)
{
    HostedEffect host;
    EXPECT_EQ(host.dispatch(effGetEffectName), 0);
    EXPECT_EQ(host.dispatch(effGetVendorString), 0);
    EXPECT_EQ(host.dispatch(effGetProductString), 0);
    for (VstInt32 opcode :
         {effGetParamName, effGetParamLabel, effGetParamDisplay, effGetProgramName, effSetProgramName})
        EXPECT_EQ(host.dispatch(opcode, 1), 0) << opcode;
    EXPECT_EQ(host.text(effGetProgramName), "Default");
}

} // namespace
