// The VST 2.4 binary interface as hosts see it: record layout, calling
// convention and the numbers of opcodes, flags and categories. Only numbers,
// order and sizes matter to the ABI; the names are ours.
#pragma once

#include <cstddef>
#include <cstdint>

using VstInt16 = std::int16_t;
using VstInt32 = std::int32_t;
using VstInt64 = std::int64_t;
using VstIntPtr = std::intptr_t; // pointer-sized, 8 bytes on Windows x64 too

#if defined(__i386__) || defined(_M_IX86)
#define VSTCALLBACK __cdecl
#else
#define VSTCALLBACK
#endif

struct AEffect;

using audioMasterCallback = VstIntPtr(VSTCALLBACK*)(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                                    void* ptr, float opt);
using AEffectDispatcherProc = VstIntPtr(VSTCALLBACK*)(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                                      void* ptr, float opt);
using AEffectProcessProc = void(VSTCALLBACK*)(AEffect* effect, float** inputs, float** outputs, VstInt32 sampleFrames);
using AEffectProcessDoubleProc = void(VSTCALLBACK*)(AEffect* effect, double** inputs, double** outputs,
                                                    VstInt32 sampleFrames);
using AEffectSetParameterProc = void(VSTCALLBACK*)(AEffect* effect, VstInt32 index, float value);
using AEffectGetParameterProc = float(VSTCALLBACK*)(AEffect* effect, VstInt32 index);
using VstEntryProc = AEffect*(VSTCALLBACK*)(audioMasterCallback host);

// Four-character codes keep their first character in the most significant byte.
constexpr VstInt32 fourCharCode(char a, char b, char c, char d)
{
    return static_cast<VstInt32>((static_cast<std::uint32_t>(static_cast<unsigned char>(a)) << 24) |
                                 (static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 16) |
                                 (static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 8) |
                                 static_cast<std::uint32_t>(static_cast<unsigned char>(d)));
}

constexpr VstInt32 kEffectMagic = fourCharCode('V', 's', 't', 'P');
constexpr VstInt32 kEffectIdentify = fourCharCode('N', 'v', 'E', 'f');
constexpr VstInt32 kVstVersion = 2400;

#pragma pack(push, 8)

struct AEffect {
    VstInt32 magic;
    AEffectDispatcherProc dispatcher;
    AEffectProcessProc process; // deprecated accumulating call
    AEffectSetParameterProc setParameter;
    AEffectGetParameterProc getParameter;
    VstInt32 numPrograms;
    VstInt32 numParams;
    VstInt32 numInputs;
    VstInt32 numOutputs;
    VstInt32 flags;
    VstIntPtr resvd1; // the host's
    VstIntPtr resvd2; // the host's
    VstInt32 initialDelay;
    VstInt32 realQualities;
    VstInt32 offQualities;
    float ioRatio;
    void* object; // our instance
    void* user;
    VstInt32 uniqueID;
    VstInt32 version;
    AEffectProcessProc processReplacing;
    AEffectProcessDoubleProc processDoubleReplacing;
    char future[56];
};

struct ERect {
    VstInt16 top;
    VstInt16 left;
    VstInt16 bottom;
    VstInt16 right;
};

#pragma pack(pop)

static_assert(sizeof(ERect) == 8, "ERect is four 16-bit fields");
static_assert(offsetof(AEffect, magic) == 0, "AEffect layout");
#if INTPTR_MAX == INT64_MAX
static_assert(sizeof(AEffect) == 192, "AEffect is 192 bytes on 64-bit");
static_assert(offsetof(AEffect, dispatcher) == 8, "AEffect layout");
static_assert(offsetof(AEffect, numPrograms) == 40, "AEffect layout");
static_assert(offsetof(AEffect, flags) == 56, "AEffect layout");
static_assert(offsetof(AEffect, resvd1) == 64, "AEffect layout");
static_assert(offsetof(AEffect, initialDelay) == 80, "AEffect layout");
static_assert(offsetof(AEffect, ioRatio) == 92, "AEffect layout");
static_assert(offsetof(AEffect, object) == 96, "AEffect layout");
static_assert(offsetof(AEffect, uniqueID) == 112, "AEffect layout");
static_assert(offsetof(AEffect, processReplacing) == 120, "AEffect layout");
static_assert(offsetof(AEffect, processDoubleReplacing) == 128, "AEffect layout");
static_assert(offsetof(AEffect, future) == 136, "AEffect layout");
#else
static_assert(sizeof(AEffect) == 144, "AEffect is 144 bytes on 32-bit");
static_assert(offsetof(AEffect, dispatcher) == 4, "AEffect layout");
static_assert(offsetof(AEffect, numPrograms) == 20, "AEffect layout");
static_assert(offsetof(AEffect, flags) == 36, "AEffect layout");
static_assert(offsetof(AEffect, resvd1) == 40, "AEffect layout");
static_assert(offsetof(AEffect, initialDelay) == 48, "AEffect layout");
static_assert(offsetof(AEffect, ioRatio) == 60, "AEffect layout");
static_assert(offsetof(AEffect, object) == 64, "AEffect layout");
static_assert(offsetof(AEffect, uniqueID) == 72, "AEffect layout");
static_assert(offsetof(AEffect, processReplacing) == 80, "AEffect layout");
static_assert(offsetof(AEffect, processDoubleReplacing) == 84, "AEffect layout");
static_assert(offsetof(AEffect, future) == 88, "AEffect layout");
#endif

// Dispatcher opcodes.
enum : VstInt32 {
    effOpen = 0,
    effClose,
    effSetProgram,
    effGetProgram,
    effSetProgramName,
    effGetProgramName,
    effGetParamLabel,
    effGetParamDisplay,
    effGetParamName,
    effGetVu,
    effSetSampleRate,
    effSetBlockSize,
    effMainsChanged,
    effEditGetRect,
    effEditOpen,
    effEditClose,
    effEditDraw,
    effEditMouse,
    effEditKey,
    effEditIdle,
    effEditTop,
    effEditSleep,
    effIdentify,
    effGetChunk,
    effSetChunk,
    effProcessEvents,
    effCanBeAutomated,
    effString2Parameter,
    effGetNumProgramCategories,
    effGetProgramNameIndexed,
    effCopyProgram,
    effConnectInput,
    effConnectOutput,
    effGetInputProperties,
    effGetOutputProperties,
    effGetPlugCategory,
    effGetCurrentPosition,
    effGetDestinationBuffer,
    effOfflineNotify,
    effOfflinePrepare,
    effOfflineRun,
    effProcessVarIo,
    effSetSpeakerArrangement,
    effSetBlockSizeAndSampleRate,
    effSetBypass,
    effGetEffectName,
    effGetErrorText,
    effGetVendorString,
    effGetProductString,
    effGetVendorVersion,
    effVendorSpecific,
    effCanDo,
    effGetTailSize,
    effIdle,
    effGetIcon,
    effSetViewPosition,
    effGetParameterProperties,
    effKeysRequired,
    effGetVstVersion,
    effEditKeyDown,
    effEditKeyUp,
    effSetEditKnobMode,
    effGetMidiProgramName,
    effGetCurrentMidiProgram,
    effGetMidiProgramCategory,
    effHasMidiProgramsChanged,
    effGetMidiKeyName,
    effBeginSetProgram,
    effEndSetProgram,
    effGetSpeakerArrangement,
    effShellGetNextPlugin,
    effStartProcess,
    effStopProcess,
    effSetTotalSampleToProcess,
    effSetPanLaw,
    effBeginLoadBank,
    effBeginLoadProgram,
    effSetProcessPrecision,
    effGetNumMidiInputChannels,
    effGetNumMidiOutputChannels,
};
static_assert(effSetChunk == 24 && effProcessEvents == 25 && effCanDo == 51 && effGetVstVersion == 58 &&
                  effGetSpeakerArrangement == 69 && effGetNumMidiOutputChannels == 79,
              "dispatcher opcode numbering");

// Host opcodes the plug-in uses.
enum : VstInt32 {
    audioMasterAutomate = 0,
    audioMasterVersion = 1,
    audioMasterWantMidi = 6,
    audioMasterBeginEdit = 43, // a user gesture on parameter `index` starts: hosts write touch automation
    audioMasterEndEdit = 44,
};

// Effect flags.
enum : VstInt32 {
    effFlagsHasEditor = 1 << 0,
    effFlagsCanReplacing = 1 << 4,
    effFlagsProgramChunks = 1 << 5,
    effFlagsIsSynth = 1 << 8,
    effFlagsNoSoundInStop = 1 << 9,
    effFlagsCanDoubleReplacing = 1 << 12,
};

// Plug-in categories.
enum : VstInt32 {
    kPlugCategUnknown = 0,
    kPlugCategEffect = 1,
    kPlugCategSynth = 2,
};

// Text limits in characters.
enum : int {
    kVstMaxProgNameLen = 24,
    kVstMaxParamStrLen = 8,
    kVstMaxVendorStrLen = 64,
    kVstMaxProductStrLen = 64,
    kVstMaxEffectNameLen = 32,
};
