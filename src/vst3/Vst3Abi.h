// The VST 3 binary interface as plug-ins and hosts see it: COM-style
// interfaces (a table of functions behind the first pointer of an object),
// their 16-byte identifiers, result codes and the structures passed through
// them. Only the order of the functions, the layouts and the numbers matter
// to the ABI; the names are ours. Declared as C++ abstract classes, whose
// virtual tables have exactly that layout in every compiler we build with.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace vst3 {

#if defined(_WIN32)
#define VST3CALL __stdcall
#else
#define VST3CALL
#endif

using tresult = std::int32_t;
using ParamID = std::uint32_t;
using ParamValue = double;
using TChar = char16_t;
using String128 = TChar[128];
using SpeakerArrangement = std::uint64_t;

// Windows keeps COM's numbers; the other platforms their own.
#if defined(_WIN32)
constexpr tresult kNoInterface = static_cast<tresult>(0x80004002L);
constexpr tresult kResultOk = 0;
constexpr tresult kResultFalse = 1;
constexpr tresult kInvalidArgument = static_cast<tresult>(0x80070057L);
constexpr tresult kNotImplemented = static_cast<tresult>(0x80004001L);
constexpr tresult kInternalError = static_cast<tresult>(0x80004005L);
constexpr tresult kNotInitialized = static_cast<tresult>(0x8000FFFFL);
#else
constexpr tresult kNoInterface = -1;
constexpr tresult kResultOk = 0;
constexpr tresult kResultFalse = 1;
constexpr tresult kInvalidArgument = 2;
constexpr tresult kNotImplemented = 3;
constexpr tresult kInternalError = 4;
constexpr tresult kNotInitialized = 5;
#endif
constexpr tresult kResultTrue = kResultOk;

// A 16-byte identifier written as four 32-bit words. On Windows the first
// eight bytes follow COM's GUID layout (a little-endian word and two
// little-endian halves), elsewhere all bytes are in the words' reading order.
struct Uid {
    std::uint8_t bytes[16];
    bool operator==(const std::uint8_t* other) const { return other && std::memcmp(bytes, other, 16) == 0; }
};

constexpr std::uint8_t byteOf(std::uint32_t word, int shift)
{
    return static_cast<std::uint8_t>((word >> shift) & 0xffu);
}

constexpr Uid makeUid(std::uint32_t l1, std::uint32_t l2, std::uint32_t l3, std::uint32_t l4)
{
#if defined(_WIN32)
    return {{byteOf(l1, 0), byteOf(l1, 8), byteOf(l1, 16), byteOf(l1, 24), byteOf(l2, 16), byteOf(l2, 24),
             byteOf(l2, 0), byteOf(l2, 8), byteOf(l3, 24), byteOf(l3, 16), byteOf(l3, 8), byteOf(l3, 0), byteOf(l4, 24),
             byteOf(l4, 16), byteOf(l4, 8), byteOf(l4, 0)}};
#else
    return {{byteOf(l1, 24), byteOf(l1, 16), byteOf(l1, 8), byteOf(l1, 0), byteOf(l2, 24), byteOf(l2, 16),
             byteOf(l2, 8), byteOf(l2, 0), byteOf(l3, 24), byteOf(l3, 16), byteOf(l3, 8), byteOf(l3, 0), byteOf(l4, 24),
             byteOf(l4, 16), byteOf(l4, 8), byteOf(l4, 0)}};
#endif
}

using TUID = std::uint8_t[16];

class FUnknown {
public:
    virtual tresult VST3CALL queryInterface(const TUID iid, void** object) = 0;
    virtual std::uint32_t VST3CALL addRef() = 0;
    virtual std::uint32_t VST3CALL release() = 0;
};
constexpr Uid kFUnknownIid = makeUid(0x00000000, 0x00000000, 0xC0000000, 0x00000046);

// ---- Module and factory ---------------------------------------------------

struct PFactoryInfo {
    char vendor[64];
    char url[256];
    char email[128];
    std::int32_t flags;
};
constexpr std::int32_t kFactoryUnicode = 1 << 4;

struct PClassInfo {
    TUID cid;
    std::int32_t cardinality;
    char category[32];
    char name[64];
};
constexpr std::int32_t kManyInstances = 0x7FFFFFFF;

struct PClassInfo2 {
    TUID cid;
    std::int32_t cardinality;
    char category[32];
    char name[64];
    std::uint32_t classFlags;
    char subCategories[128];
    char vendor[64];
    char version[64];
    char sdkVersion[64];
};

struct PClassInfoW {
    TUID cid;
    std::int32_t cardinality;
    char category[32];
    TChar name[64];
    std::uint32_t classFlags;
    char subCategories[128];
    TChar vendor[64];
    TChar version[64];
    TChar sdkVersion[64];
};

class IPluginFactory : public FUnknown {
public:
    virtual tresult VST3CALL getFactoryInfo(PFactoryInfo* info) = 0;
    virtual std::int32_t VST3CALL countClasses() = 0;
    virtual tresult VST3CALL getClassInfo(std::int32_t index, PClassInfo* info) = 0;
    virtual tresult VST3CALL createInstance(const TUID cid, const TUID iid, void** object) = 0;
};
constexpr Uid kIPluginFactoryIid = makeUid(0x7A4D811C, 0x52114A1F, 0xAED9D2EE, 0x0B43BF9F);

class IPluginFactory2 : public IPluginFactory {
public:
    virtual tresult VST3CALL getClassInfo2(std::int32_t index, PClassInfo2* info) = 0;
};
constexpr Uid kIPluginFactory2Iid = makeUid(0x0007B650, 0xF24B4C0B, 0xA464EDB9, 0xF00B2ABB);

class IPluginFactory3 : public IPluginFactory2 {
public:
    virtual tresult VST3CALL getClassInfoUnicode(std::int32_t index, PClassInfoW* info) = 0;
    virtual tresult VST3CALL setHostContext(FUnknown* context) = 0;
};
constexpr Uid kIPluginFactory3Iid = makeUid(0x4555A2AB, 0xC1234E57, 0x9B122910, 0x36878931);

using GetFactoryProc = IPluginFactory*(VST3CALL*)();

// ---- Streams, host ----------------------------------------------------------

class IBStream : public FUnknown {
public:
    enum SeekMode : std::int32_t { kSeekSet = 0, kSeekCur, kSeekEnd };
    virtual tresult VST3CALL read(void* buffer, std::int32_t bytes, std::int32_t* bytesRead) = 0;
    virtual tresult VST3CALL write(void* buffer, std::int32_t bytes, std::int32_t* bytesWritten) = 0;
    virtual tresult VST3CALL seek(std::int64_t position, std::int32_t mode, std::int64_t* result) = 0;
    virtual tresult VST3CALL tell(std::int64_t* position) = 0;
};
constexpr Uid kIBStreamIid = makeUid(0xC3BF6EA2, 0x30994752, 0x9B6BF990, 0x1EE33E9B);

class IHostApplication : public FUnknown {
public:
    virtual tresult VST3CALL getName(String128 name) = 0;
    virtual tresult VST3CALL createInstance(TUID cid, TUID iid, void** object) = 0;
};
constexpr Uid kIHostApplicationIid = makeUid(0x58E595CC, 0xDB2D4969, 0x8B6AAF8C, 0x36A664E5);

class IPluginBase : public FUnknown {
public:
    virtual tresult VST3CALL initialize(FUnknown* context) = 0;
    virtual tresult VST3CALL terminate() = 0;
};
constexpr Uid kIPluginBaseIid = makeUid(0x22888DDB, 0x156E45AE, 0x8358B348, 0x08190625);

// ---- Component and processor -----------------------------------------------

enum MediaType : std::int32_t { kAudio = 0, kEvent };
enum BusDirection : std::int32_t { kInput = 0, kOutput };
enum BusType : std::int32_t { kMain = 0, kAux };
constexpr std::uint32_t kDefaultActive = 1 << 0;

struct BusInfo {
    std::int32_t mediaType;
    std::int32_t direction;
    std::int32_t channelCount;
    String128 name;
    std::int32_t busType;
    std::uint32_t flags;
};

struct RoutingInfo {
    std::int32_t mediaType;
    std::int32_t busIndex;
    std::int32_t channel;
};

class IComponent : public IPluginBase {
public:
    virtual tresult VST3CALL getControllerClassId(TUID classId) = 0;
    virtual tresult VST3CALL setIoMode(std::int32_t mode) = 0;
    virtual std::int32_t VST3CALL getBusCount(std::int32_t type, std::int32_t direction) = 0;
    virtual tresult VST3CALL getBusInfo(std::int32_t type, std::int32_t direction, std::int32_t index,
                                        BusInfo& info) = 0;
    virtual tresult VST3CALL getRoutingInfo(RoutingInfo& input, RoutingInfo& output) = 0;
    virtual tresult VST3CALL activateBus(std::int32_t type, std::int32_t direction, std::int32_t index,
                                         std::uint8_t state) = 0;
    virtual tresult VST3CALL setActive(std::uint8_t state) = 0;
    virtual tresult VST3CALL setState(IBStream* state) = 0;
    virtual tresult VST3CALL getState(IBStream* state) = 0;
};
constexpr Uid kIComponentIid = makeUid(0xE831FF31, 0xF2D54301, 0x928EBBEE, 0x25697802);

constexpr SpeakerArrangement kSpeakerMono = 1 << 19;
constexpr SpeakerArrangement kSpeakerStereo = (1 << 0) | (1 << 1);

enum ProcessMode : std::int32_t { kRealtime = 0, kPrefetch, kOffline };
enum SymbolicSampleSize : std::int32_t { kSample32 = 0, kSample64 };

struct ProcessSetup {
    std::int32_t processMode;
    std::int32_t symbolicSampleSize;
    std::int32_t maxSamplesPerBlock;
    double sampleRate;
};

class IParamValueQueue : public FUnknown {
public:
    virtual ParamID VST3CALL getParameterId() = 0;
    virtual std::int32_t VST3CALL getPointCount() = 0;
    virtual tresult VST3CALL getPoint(std::int32_t index, std::int32_t& sampleOffset, ParamValue& value) = 0;
    virtual tresult VST3CALL addPoint(std::int32_t sampleOffset, ParamValue value, std::int32_t& index) = 0;
};
constexpr Uid kIParamValueQueueIid = makeUid(0x01263A18, 0xED074F6F, 0x98C9D356, 0x4686F9BA);

class IParameterChanges : public FUnknown {
public:
    virtual std::int32_t VST3CALL getParameterCount() = 0;
    virtual IParamValueQueue* VST3CALL getParameterData(std::int32_t index) = 0;
    virtual IParamValueQueue* VST3CALL addParameterData(const ParamID& id, std::int32_t& index) = 0;
};
constexpr Uid kIParameterChangesIid = makeUid(0xA4779663, 0x0BB64A56, 0xB44384A8, 0x466FEB9D);

struct AudioBusBuffers {
    std::int32_t numChannels;
    std::uint64_t silenceFlags;
    union {
        float** channelBuffers32;
        double** channelBuffers64;
    };
};

struct ProcessData {
    std::int32_t processMode;
    std::int32_t symbolicSampleSize;
    std::int32_t numSamples;
    std::int32_t numInputs;
    std::int32_t numOutputs;
    AudioBusBuffers* inputs;
    AudioBusBuffers* outputs;
    IParameterChanges* inputParameterChanges;
    IParameterChanges* outputParameterChanges;
    void* inputEvents;
    void* outputEvents;
    void* processContext;
};

class IAudioProcessor : public FUnknown {
public:
    virtual tresult VST3CALL setBusArrangements(SpeakerArrangement* inputs, std::int32_t numIns,
                                                SpeakerArrangement* outputs, std::int32_t numOuts) = 0;
    virtual tresult VST3CALL getBusArrangement(std::int32_t direction, std::int32_t index,
                                               SpeakerArrangement& arrangement) = 0;
    virtual tresult VST3CALL canProcessSampleSize(std::int32_t symbolicSampleSize) = 0;
    virtual std::uint32_t VST3CALL getLatencySamples() = 0;
    virtual tresult VST3CALL setupProcessing(ProcessSetup& setup) = 0;
    virtual tresult VST3CALL setProcessing(std::uint8_t state) = 0;
    virtual tresult VST3CALL process(ProcessData& data) = 0;
    virtual std::uint32_t VST3CALL getTailSamples() = 0;
};
constexpr Uid kIAudioProcessorIid = makeUid(0x42043F99, 0xB7DA453C, 0xA569E79D, 0x9AAEC33D);

// The context a processor asks the host to fill in each processing call.
class IProcessContextRequirements : public FUnknown {
public:
    virtual std::uint32_t VST3CALL getProcessContextRequirements() = 0;
};
constexpr Uid kIProcessContextRequirementsIid = makeUid(0x2A654303, 0xEF764E3D, 0x95B5FE83, 0x730EF6D0);

// ---- Controller -------------------------------------------------------------

enum RestartFlags : std::int32_t {
    kReloadComponent = 1 << 0,
    kIoChanged = 1 << 1,
    kParamValuesChanged = 1 << 2,
    kLatencyChanged = 1 << 3,
};

class IComponentHandler : public FUnknown {
public:
    virtual tresult VST3CALL beginEdit(ParamID id) = 0;
    virtual tresult VST3CALL performEdit(ParamID id, ParamValue valueNormalized) = 0;
    virtual tresult VST3CALL endEdit(ParamID id) = 0;
    virtual tresult VST3CALL restartComponent(std::int32_t flags) = 0;
};
constexpr Uid kIComponentHandlerIid = makeUid(0x93A0BEA3, 0x0BD045DB, 0x8E890B0C, 0xC1E46AC6);

enum ParameterFlags : std::int32_t {
    kCanAutomate = 1 << 0,
    kIsReadOnly = 1 << 1,
    kIsList = 1 << 3,
    kIsProgramChange = 1 << 15,
    kIsBypass = 1 << 16,
};

struct ParameterInfo {
    ParamID id;
    String128 title;
    String128 shortTitle;
    String128 units;
    std::int32_t stepCount;
    ParamValue defaultNormalizedValue;
    std::int32_t unitId;
    std::int32_t flags;
};

class IPlugView;

class IEditController : public IPluginBase {
public:
    virtual tresult VST3CALL setComponentState(IBStream* state) = 0;
    virtual tresult VST3CALL setState(IBStream* state) = 0;
    virtual tresult VST3CALL getState(IBStream* state) = 0;
    virtual std::int32_t VST3CALL getParameterCount() = 0;
    virtual tresult VST3CALL getParameterInfo(std::int32_t index, ParameterInfo& info) = 0;
    virtual tresult VST3CALL getParamStringByValue(ParamID id, ParamValue valueNormalized, String128 text) = 0;
    virtual tresult VST3CALL getParamValueByString(ParamID id, TChar* text, ParamValue& valueNormalized) = 0;
    virtual ParamValue VST3CALL normalizedParamToPlain(ParamID id, ParamValue valueNormalized) = 0;
    virtual ParamValue VST3CALL plainParamToNormalized(ParamID id, ParamValue plainValue) = 0;
    virtual ParamValue VST3CALL getParamNormalized(ParamID id) = 0;
    virtual tresult VST3CALL setParamNormalized(ParamID id, ParamValue value) = 0;
    virtual tresult VST3CALL setComponentHandler(IComponentHandler* handler) = 0;
    virtual IPlugView* VST3CALL createView(const char* name) = 0;
};
constexpr Uid kIEditControllerIid = makeUid(0xDCD7BBE3, 0x7742448D, 0xA874AACC, 0x979C759E);

// ---- Units and program lists ------------------------------------------------

constexpr std::int32_t kRootUnitId = 0;
constexpr std::int32_t kNoParentUnitId = -1;
constexpr std::int32_t kNoProgramListId = -1;

struct UnitInfo {
    std::int32_t id;
    std::int32_t parentUnitId;
    String128 name;
    std::int32_t programListId;
};

struct ProgramListInfo {
    std::int32_t id;
    String128 name;
    std::int32_t programCount;
};

class IUnitInfo : public FUnknown {
public:
    virtual std::int32_t VST3CALL getUnitCount() = 0;
    virtual tresult VST3CALL getUnitInfo(std::int32_t index, UnitInfo& info) = 0;
    virtual std::int32_t VST3CALL getProgramListCount() = 0;
    virtual tresult VST3CALL getProgramListInfo(std::int32_t index, ProgramListInfo& info) = 0;
    virtual tresult VST3CALL getProgramName(std::int32_t listId, std::int32_t programIndex, String128 name) = 0;
    virtual tresult VST3CALL getProgramInfo(std::int32_t listId, std::int32_t programIndex, const char* attribute,
                                            String128 value) = 0;
    virtual tresult VST3CALL hasProgramPitchNames(std::int32_t listId, std::int32_t programIndex) = 0;
    virtual tresult VST3CALL getProgramPitchName(std::int32_t listId, std::int32_t programIndex, std::int16_t midiPitch,
                                                 String128 name) = 0;
    virtual std::int32_t VST3CALL getSelectedUnit() = 0;
    virtual tresult VST3CALL selectUnit(std::int32_t unitId) = 0;
    virtual tresult VST3CALL getUnitByBus(std::int32_t type, std::int32_t direction, std::int32_t busIndex,
                                          std::int32_t channel, std::int32_t& unitId) = 0;
    virtual tresult VST3CALL setUnitProgramData(std::int32_t listOrUnitId, std::int32_t programIndex,
                                                IBStream* data) = 0;
};
constexpr Uid kIUnitInfoIid = makeUid(0x3D4BD6B5, 0x913A4FD2, 0xA886E768, 0xA5EB92C1);

// ---- Editor view and the host's run loop -----------------------------------

constexpr const char* kPlatformTypeHwnd = "HWND";
constexpr const char* kPlatformTypeX11 = "X11EmbedWindowID";

struct ViewRect {
    std::int32_t left;
    std::int32_t top;
    std::int32_t right;
    std::int32_t bottom;
};

class IPlugFrame;

class IPlugView : public FUnknown {
public:
    virtual tresult VST3CALL isPlatformTypeSupported(const char* type) = 0;
    virtual tresult VST3CALL attached(void* parent, const char* type) = 0;
    virtual tresult VST3CALL removed() = 0;
    virtual tresult VST3CALL onWheel(float distance) = 0;
    virtual tresult VST3CALL onKeyDown(TChar key, std::int16_t keyCode, std::int16_t modifiers) = 0;
    virtual tresult VST3CALL onKeyUp(TChar key, std::int16_t keyCode, std::int16_t modifiers) = 0;
    virtual tresult VST3CALL getSize(ViewRect* size) = 0;
    virtual tresult VST3CALL onSize(ViewRect* newSize) = 0;
    virtual tresult VST3CALL onFocus(std::uint8_t state) = 0;
    virtual tresult VST3CALL setFrame(IPlugFrame* frame) = 0;
    virtual tresult VST3CALL canResize() = 0;
    virtual tresult VST3CALL checkSizeConstraint(ViewRect* rect) = 0;
};
constexpr Uid kIPlugViewIid = makeUid(0x5BC32507, 0xD06049EA, 0xA6151B52, 0x2B755B29);

class IPlugFrame : public FUnknown {
public:
    virtual tresult VST3CALL resizeView(IPlugView* view, ViewRect* newSize) = 0;
};
constexpr Uid kIPlugFrameIid = makeUid(0x367FAF01, 0xAFA94693, 0x8D4DA2A0, 0xED0882A3);

class IPlugViewContentScaleSupport : public FUnknown {
public:
    virtual tresult VST3CALL setContentScaleFactor(float factor) = 0;
};
constexpr Uid kIPlugViewContentScaleSupportIid = makeUid(0x65ED9690, 0x8AC44525, 0x8AADEF7A, 0x72EA703F);

// Linux only: the host's user-interface loop, reached through the frame.
class IEventHandler : public FUnknown {
public:
    virtual void VST3CALL onFDIsSet(int fd) = 0;
};
constexpr Uid kIEventHandlerIid = makeUid(0x561E65C9, 0x13A0496F, 0x813A2C35, 0x654D7983);

class ITimerHandler : public FUnknown {
public:
    virtual void VST3CALL onTimer() = 0;
};
constexpr Uid kITimerHandlerIid = makeUid(0x10BDD94F, 0x41424774, 0x821FAD8F, 0xECA72CA9);

class IRunLoop : public FUnknown {
public:
    virtual tresult VST3CALL registerEventHandler(IEventHandler* handler, int fd) = 0;
    virtual tresult VST3CALL unregisterEventHandler(IEventHandler* handler) = 0;
    virtual tresult VST3CALL registerTimer(ITimerHandler* handler, std::uint64_t milliseconds) = 0;
    virtual tresult VST3CALL unregisterTimer(ITimerHandler* handler) = 0;
};
constexpr Uid kIRunLoopIid = makeUid(0x18C35366, 0x97764F1A, 0x9C5B8385, 0x7A871389);

// ---- Texts ------------------------------------------------------------------

// ASCII and Latin-1 into a terminated UTF-16 field of `size` units, cut to fit.
inline void copyToString16(TChar* field, int size, const char* text)
{
    int i = 0;
    for (; text && text[i] && i < size - 1; ++i)
        field[i] = static_cast<TChar>(static_cast<unsigned char>(text[i]));
    field[i] = 0;
}

// A terminated UTF-16 text of at most `size` units as 8-bit text; units
// beyond Latin-1 become '?'.
inline std::string string16ToText(const TChar* text, int size)
{
    std::string result;
    for (int i = 0; text && i < size && text[i]; ++i)
        result += text[i] < 0x100 ? static_cast<char>(text[i]) : '?';
    return result;
}

} // namespace vst3
