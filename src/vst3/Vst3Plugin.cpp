#include "vst3/Vst3Plugin.h"

#include "format/FormatLayer.h"
#include "vst3/Vst3View.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

using namespace vst3;

namespace {

constexpr int kLastProgram = kNumPrograms - 1;

bool isParameter(ParamID id)
{
    return id < static_cast<ParamID>(kNumParameters);
}

int programOfValue(ParamValue value)
{
    if (!(value >= 0.0))
        return 0;
    return static_cast<int>(std::lround(std::min(value, 1.0) * kLastProgram));
}

// One parameter's points in a processing call, taken in order of their offsets.
struct PointCursor {
    IParamValueQueue* queue = nullptr;
    int id = 0;
    std::int32_t count = 0;
    std::int32_t next = 0;
    std::int32_t offset = 0;
    ParamValue value = 0.0;

    bool load()
    {
        while (next < count) {
            if (queue->getPoint(next, offset, value) == kResultOk)
                return true;
            ++next;
        }
        return false;
    }
    bool pending() const { return next < count; }
};

} // namespace

Vst3Plugin::Vst3Plugin()
{
    for (int index = 0; index < kNumParameters; ++index)
        hostView[static_cast<std::size_t>(index)].store(booster.getParameter(index), std::memory_order_relaxed);
}

// The value the host last knew for a parameter: what it sent, or what this
// plug-in told it.
void Vst3Plugin::hostKnows(int index, float value)
{
    hostView[static_cast<std::size_t>(index)].store(limitParameterValue(value), std::memory_order_relaxed);
}

Vst3Plugin::~Vst3Plugin()
{
    if (handler)
        handler->release();
    if (hostContext)
        hostContext->release();
}

tresult VST3CALL Vst3Plugin::queryInterface(const TUID iid, void** object)
{
    if (!object)
        return kInvalidArgument;
    void* found = nullptr;
    if (kFUnknownIid == iid || kIPluginBaseIid == iid || kIComponentIid == iid)
        found = static_cast<IComponent*>(this);
    else if (kIAudioProcessorIid == iid)
        found = static_cast<IAudioProcessor*>(this);
    else if (kIEditControllerIid == iid)
        found = static_cast<IEditController*>(this);
    else if (kIUnitInfoIid == iid)
        found = static_cast<IUnitInfo*>(this);
    else if (kIProcessContextRequirementsIid == iid)
        found = static_cast<IProcessContextRequirements*>(this);
    *object = found;
    if (!found)
        return kNoInterface;
    addRef();
    return kResultOk;
}

std::uint32_t VST3CALL Vst3Plugin::addRef()
{
    return references.fetch_add(1, std::memory_order_relaxed) + 1;
}

std::uint32_t VST3CALL Vst3Plugin::release()
{
    const std::uint32_t left = references.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0)
        delete this;
    return left;
}

tresult VST3CALL Vst3Plugin::initialize(FUnknown* context)
{
    // Hosts that find the controller inside the component may initialise the
    // one object twice; the second call finds it ready.
    if (context && !hostContext) {
        hostContext = context;
        hostContext->addRef();
    }
    return kResultOk;
}

tresult VST3CALL Vst3Plugin::terminate()
{
    setComponentHandler(nullptr);
    if (hostContext) {
        hostContext->release();
        hostContext = nullptr;
    }
    return kResultOk;
}

// ---- Component ----------------------------------------------------------------

tresult VST3CALL Vst3Plugin::getControllerClassId(TUID)
{
    // No separate controller: the host finds it in this object.
    return kNotImplemented;
}

tresult VST3CALL Vst3Plugin::setIoMode(std::int32_t)
{
    return kNotImplemented;
}

std::int32_t VST3CALL Vst3Plugin::getBusCount(std::int32_t type, std::int32_t direction)
{
    return type == kAudio && (direction == kInput || direction == kOutput) ? 1 : 0;
}

tresult VST3CALL Vst3Plugin::getBusInfo(std::int32_t type, std::int32_t direction, std::int32_t index, BusInfo& info)
{
    if (type != kAudio || index != 0 || (direction != kInput && direction != kOutput))
        return kInvalidArgument;
    info.mediaType = kAudio;
    info.direction = direction;
    info.channelCount = singleChannel ? 1 : 2;
    copyToString16(info.name, 128, direction == kInput ? "Input" : "Output");
    info.busType = kMain;
    info.flags = kDefaultActive;
    return kResultOk;
}

tresult VST3CALL Vst3Plugin::getRoutingInfo(RoutingInfo&, RoutingInfo&)
{
    return kNotImplemented;
}

tresult VST3CALL Vst3Plugin::activateBus(std::int32_t type, std::int32_t direction, std::int32_t index, std::uint8_t)
{
    return type == kAudio && index == 0 && (direction == kInput || direction == kOutput) ? kResultOk : kInvalidArgument;
}

tresult VST3CALL Vst3Plugin::setActive(std::uint8_t)
{
    return kResultOk;
}

namespace {

// Reads exactly `size` bytes unless the stream ends or fails first.
bool readFully(IBStream& stream, std::uint8_t* into, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        std::int32_t got = 0;
        if (stream.read(into + done, static_cast<std::int32_t>(size - done), &got) != kResultOk || got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

} // namespace

tresult VST3CALL Vst3Plugin::setState(IBStream* state)
{
    if (!state)
        return kInvalidArgument;
    // The header says how long the record is; only that much is read, so a
    // host's own data after it stays where it is, and garbage never makes
    // this allocate more than a record's largest size.
    std::vector<std::uint8_t> record(kStateHeaderSize);
    if (!readFully(*state, record.data(), record.size()))
        return kResultFalse;
    const std::size_t size = stateRecordSize(record.data(), record.size());
    if (size < kStateHeaderSize)
        return kResultFalse;
    record.resize(size);
    // A latency change is told at the next UI-thread call, not from inside
    // the host's state call (hosts may hold their plug-in lock here).
    if (!readFully(*state, record.data() + kStateHeaderSize, size - kStateHeaderSize) ||
        !loadState(booster, record.data(), record.size()))
        return kResultFalse;
    valuesToReport.store(true, std::memory_order_relaxed);
    return kResultOk;
}

tresult VST3CALL Vst3Plugin::getState(IBStream* state)
{
    if (!state)
        return kInvalidArgument;
    std::vector<std::uint8_t> record = saveState(booster);
    std::size_t written = 0;
    while (written < record.size()) {
        std::int32_t wrote = 0;
        if (state->write(record.data() + written, static_cast<std::int32_t>(record.size() - written), &wrote) !=
                kResultOk ||
            wrote <= 0)
            return kResultFalse;
        written += static_cast<std::size_t>(wrote);
    }
    return kResultOk;
}

// ---- Audio processor ----------------------------------------------------------

tresult VST3CALL Vst3Plugin::setBusArrangements(SpeakerArrangement* inputs, std::int32_t numIns,
                                                SpeakerArrangement* outputs, std::int32_t numOuts)
{
    if (numIns != 1 || numOuts != 1 || !inputs || !outputs || inputs[0] != outputs[0])
        return kResultFalse;
    if (inputs[0] != kSpeakerStereo && inputs[0] != kSpeakerMono)
        return kResultFalse;
    singleChannel = inputs[0] == kSpeakerMono;
    return kResultTrue;
}

tresult VST3CALL Vst3Plugin::getBusArrangement(std::int32_t direction, std::int32_t index,
                                               SpeakerArrangement& arrangement)
{
    if (index != 0 || (direction != kInput && direction != kOutput))
        return kInvalidArgument;
    arrangement = singleChannel ? kSpeakerMono : kSpeakerStereo;
    return kResultOk;
}

tresult VST3CALL Vst3Plugin::canProcessSampleSize(std::int32_t symbolicSampleSize)
{
    return symbolicSampleSize == kSample32 || symbolicSampleSize == kSample64 ? kResultTrue : kResultFalse;
}

std::uint32_t VST3CALL Vst3Plugin::getLatencySamples()
{
    const int latency = booster.latencyFrames();
    reportedLatency.store(latency, std::memory_order_relaxed);
    return static_cast<std::uint32_t>(latency);
}

tresult VST3CALL Vst3Plugin::setupProcessing(ProcessSetup& setup)
{
    if (setup.symbolicSampleSize != kSample32 && setup.symbolicSampleSize != kSample64)
        return kResultFalse;
    if (!booster.setSampleRate(setup.sampleRate))
        return kResultFalse;
    // Longer calls than the processor's largest block run in stretches of it.
    booster.setBlockSize(std::clamp(setup.maxSamplesPerBlock, 1, kMaxBlockSize));
    return kResultOk;
}

tresult VST3CALL Vst3Plugin::setProcessing(std::uint8_t)
{
    return kResultOk;
}

tresult VST3CALL Vst3Plugin::process(ProcessData& data)
{
    int channels = 0;
    if (data.numInputs > 0 && data.numOutputs > 0 && data.inputs && data.outputs)
        channels = std::min({data.inputs[0].numChannels, data.outputs[0].numChannels, 2});
    if (data.symbolicSampleSize == kSample64) {
        processAudio<double>(data, channels > 0 ? data.inputs[0].channelBuffers64 : nullptr,
                             channels > 0 ? data.outputs[0].channelBuffers64 : nullptr, channels);
    } else {
        processAudio<float>(data, channels > 0 ? data.inputs[0].channelBuffers32 : nullptr,
                            channels > 0 ? data.outputs[0].channelBuffers32 : nullptr, channels);
    }
    if (channels > 0)
        data.outputs[0].silenceFlags = 0;
    if (data.outputParameterChanges && valuesToReport.exchange(false, std::memory_order_relaxed)) {
        // A program was selected: its values, as the host's view of them.
        for (int index = 0; index < kNumParameters; ++index) {
            std::int32_t queueIndex = 0;
            std::int32_t pointIndex = 0;
            const float value = booster.latestParameter(index);
            if (IParamValueQueue* queue =
                    data.outputParameterChanges->addParameterData(static_cast<ParamID>(index), queueIndex)) {
                queue->addPoint(0, value, pointIndex);
                hostKnows(index, value);
            }
        }
    }
    return kResultOk;
}

// Hosts send the values they hold again and again; only a change reaches the
// processor, since taking some values again is not free (a new "Oversample"
// value restarts the oversampled chain, even the same one).
void Vst3Plugin::applyPoint(int index, ParamValue value)
{
    const float limited = limitParameterValue(static_cast<float>(value));
    hostKnows(index, limited);
    if (limited != booster.latestParameter(index))
        booster.setParameterFromAudio(index, limited);
}

// The block runs in stretches between the parameter points the host sends,
// each point applied at its own frame, so that automation lands exactly where
// a VST2 host setting the same values between calls would put it.
template <typename Sample>
void Vst3Plugin::processAudio(ProcessData& data, Sample** inputs, Sample** outputs, int channels)
{
    std::array<PointCursor, kNumParameters> cursors{};
    int cursorCount = 0;
    if (IParameterChanges* changes = data.inputParameterChanges) {
        const std::int32_t queues = changes->getParameterCount();
        for (std::int32_t q = 0; q < queues && cursorCount < kNumParameters; ++q) {
            IParamValueQueue* queue = changes->getParameterData(q);
            // The program-change parameter is the controller's: a host
            // selects programs through it on the UI thread.
            if (!queue || !isParameter(queue->getParameterId()))
                continue;
            PointCursor& cursor = cursors[static_cast<std::size_t>(cursorCount)];
            cursor.queue = queue;
            cursor.id = static_cast<int>(queue->getParameterId());
            cursor.count = queue->getPointCount();
            if (cursor.load())
                ++cursorCount;
        }
    }

    const int frames = std::max(data.numSamples, 0);
    Sample* in[2] = {nullptr, nullptr};
    Sample* out[2] = {nullptr, nullptr};
    const bool haveAudio =
        channels > 0 && inputs && outputs && inputs[0] && outputs[0] && (channels < 2 || (inputs[1] && outputs[1]));
    int position = 0;
    do {
        // Every point at or before this frame, then audio up to the next one.
        int stretchEnd = frames;
        for (int c = 0; c < cursorCount; ++c) {
            PointCursor& cursor = cursors[static_cast<std::size_t>(c)];
            while (cursor.pending() && cursor.offset <= position) {
                applyPoint(cursor.id, cursor.value);
                ++cursor.next;
                cursor.load();
            }
            if (cursor.pending())
                stretchEnd = std::min(stretchEnd, static_cast<int>(cursor.offset));
        }
        if (!haveAudio) {
            if (stretchEnd >= frames)
                booster.process(static_cast<Sample**>(nullptr), static_cast<Sample**>(nullptr), 0);
            position = stretchEnd;
            continue;
        }
        // One channel runs the processor's single-channel layout.
        in[0] = inputs[0] + position;
        out[0] = outputs[0] + position;
        in[1] = channels > 1 ? inputs[1] + position : nullptr;
        out[1] = channels > 1 ? outputs[1] + position : nullptr;
        booster.process(in, out, stretchEnd - position);
        position = stretchEnd;
    } while (position < frames);
    // Points beyond the block belong to its end.
    for (int c = 0; c < cursorCount; ++c) {
        PointCursor& cursor = cursors[static_cast<std::size_t>(c)];
        for (; cursor.pending(); ++cursor.next, cursor.load())
            applyPoint(cursor.id, cursor.value);
    }
}

// ---- Controller -----------------------------------------------------------------

tresult VST3CALL Vst3Plugin::setComponentState(IBStream*)
{
    // The component's state is this object's own, already taken by setState.
    return kResultOk;
}

std::int32_t VST3CALL Vst3Plugin::getParameterCount()
{
    return kNumParameters + 1;
}

tresult VST3CALL Vst3Plugin::getParameterInfo(std::int32_t index, vst3::ParameterInfo& info)
{
    if (index < 0 || index > kNumParameters)
        return kInvalidArgument;
    info.unitId = kRootUnitId;
    if (index == kNumParameters) {
        info.id = kProgramParameterId;
        copyToString16(info.title, 128, "Program");
        copyToString16(info.shortTitle, 128, "Program");
        copyToString16(info.units, 128, "");
        info.stepCount = kLastProgram;
        info.defaultNormalizedValue = 0.0;
        info.flags = kIsProgramChange | kIsList;
        return kResultOk;
    }
    const FormatParameter& parameter = formatParameters()[static_cast<std::size_t>(index)];
    info.id = static_cast<ParamID>(parameter.id);
    copyToString16(info.title, 128, parameter.name);
    copyToString16(info.shortTitle, 128, parameter.name);
    copyToString16(info.units, 128, parameter.unit);
    info.stepCount = parameter.stepCount;
    info.defaultNormalizedValue = parameter.defaultValue;
    info.flags = kCanAutomate | (parameter.stepCount > 0 ? kIsList : 0);
    return kResultOk;
}

tresult VST3CALL Vst3Plugin::getParamStringByValue(ParamID id, ParamValue value, String128 text)
{
    if (!text)
        return kInvalidArgument;
    if (id == kProgramParameterId) {
        char name[kProgramNameSize + 1];
        booster.programNameOf(programOfValue(value), name);
        copyToString16(text, 128, name);
        return kResultOk;
    }
    if (!isParameter(id))
        return kInvalidArgument;
    copyToString16(text, 128,
                   parameterText(static_cast<int>(id), limitParameterValue(static_cast<float>(value))).c_str());
    return kResultOk;
}

tresult VST3CALL Vst3Plugin::getParamValueByString(ParamID id, TChar* text, ParamValue& value)
{
    if (!text)
        return kInvalidArgument;
    const std::string typed = string16ToText(text, 128);
    if (id == kProgramParameterId) {
        for (int program = 0; program < kNumPrograms; ++program) {
            char name[kProgramNameSize + 1];
            booster.programNameOf(program, name);
            if (typed == name) {
                value = static_cast<ParamValue>(program) / kLastProgram;
                return kResultOk;
            }
        }
        return kResultFalse;
    }
    if (!isParameter(id))
        return kInvalidArgument;
    const std::optional<float> parsed = parameterValueFromText(static_cast<int>(id), typed);
    if (!parsed)
        return kResultFalse;
    value = *parsed;
    return kResultOk;
}

ParamValue VST3CALL Vst3Plugin::normalizedParamToPlain(ParamID id, ParamValue value)
{
    if (id == kProgramParameterId)
        return programOfValue(value);
    if (!isParameter(id))
        return value;
    return displayUnitsOf(static_cast<int>(id), limitParameterValue(static_cast<float>(value)));
}

ParamValue VST3CALL Vst3Plugin::plainParamToNormalized(ParamID id, ParamValue plain)
{
    if (id == kProgramParameterId)
        return std::clamp(std::round(plain), 0.0, static_cast<double>(kLastProgram)) / kLastProgram;
    if (!isParameter(id))
        return plain;
    return valueOfDisplayUnits(static_cast<int>(id), plain);
}

ParamValue VST3CALL Vst3Plugin::getParamNormalized(ParamID id)
{
    if (id == kProgramParameterId)
        return static_cast<ParamValue>(booster.program()) / kLastProgram;
    return isParameter(id) ? booster.getParameter(static_cast<int>(id)) : 0.0;
}

tresult VST3CALL Vst3Plugin::setParamNormalized(ParamID id, ParamValue value)
{
    if (id == kProgramParameterId) {
        const int before = booster.program();
        booster.setProgram(programOfValue(value));
        // The new values reach the host through the next processing call's
        // output changes, not a restart request from inside this call: a
        // host may hold its own plug-in lock while it selects a program
        // (Ardour 7.3 does, and a restart request from here deadlocks it).
        // A latency change is told at the next UI-thread call.
        if (booster.program() != before)
            valuesToReport.store(true, std::memory_order_relaxed);
        return kResultOk;
    }
    if (!isParameter(id))
        return kInvalidArgument;
    // Hosts keep their controller in step by sending back what they last
    // knew; after a program or a state that is older than the processor's
    // values, so a value the host already knew is no change.
    const int index = static_cast<int>(id);
    const float limited = limitParameterValue(static_cast<float>(value));
    if (limited != hostView[static_cast<std::size_t>(index)].load(std::memory_order_relaxed))
        applyPoint(index, limited);
    reportLatencyChange();
    return kResultOk;
}

tresult VST3CALL Vst3Plugin::setComponentHandler(IComponentHandler* newHandler)
{
    if (newHandler == handler)
        return kResultOk;
    if (newHandler)
        newHandler->addRef();
    if (handler)
        handler->release();
    handler = newHandler;
    return kResultOk;
}

IPlugView* VST3CALL Vst3Plugin::createView(const char* name)
{
    // One editor at a time: it holds the processor's display hand-off.
    if (openView || !name || std::string(name) != "editor")
        return nullptr;
    openView = new (std::nothrow) Vst3View(*this);
    return openView;
}

void Vst3Plugin::viewClosed(Vst3View* view)
{
    if (openView == view)
        openView = nullptr;
}

void Vst3Plugin::reportLatencyChange()
{
    const int latency = booster.latencyFrames();
    if (latency == reportedLatency.load(std::memory_order_relaxed))
        return;
    reportedLatency.store(latency, std::memory_order_relaxed);
    if (handler)
        handler->restartComponent(kLatencyChanged);
}

// ---- Program list ---------------------------------------------------------------

tresult VST3CALL Vst3Plugin::getUnitInfo(std::int32_t index, UnitInfo& info)
{
    if (index != 0)
        return kInvalidArgument;
    info.id = kRootUnitId;
    info.parentUnitId = kNoParentUnitId;
    copyToString16(info.name, 128, "Root");
    info.programListId = kProgramListId;
    return kResultOk;
}

tresult VST3CALL Vst3Plugin::getProgramListInfo(std::int32_t index, ProgramListInfo& info)
{
    if (index != 0)
        return kInvalidArgument;
    info.id = kProgramListId;
    copyToString16(info.name, 128, "Programs");
    info.programCount = kNumPrograms;
    return kResultOk;
}

tresult VST3CALL Vst3Plugin::getProgramName(std::int32_t listId, std::int32_t programIndex, String128 name)
{
    if (listId != kProgramListId || programIndex < 0 || programIndex >= kNumPrograms || !name)
        return kInvalidArgument;
    char text[kProgramNameSize + 1];
    booster.programNameOf(programIndex, text);
    copyToString16(name, 128, text);
    return kResultOk;
}

tresult VST3CALL Vst3Plugin::getUnitByBus(std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t& unitId)
{
    unitId = kRootUnitId;
    return kResultOk;
}

// ---- Editor gestures ---------------------------------------------------------------

void Vst3Plugin::beginEdit(int index)
{
    if (handler && isParameter(static_cast<ParamID>(index)))
        handler->beginEdit(static_cast<ParamID>(index));
}

void Vst3Plugin::performEdit(int index, float value)
{
    if (!isParameter(static_cast<ParamID>(index)))
        return;
    booster.setParameter(index, value);
    hostKnows(index, booster.getParameter(index));
    if (handler)
        handler->performEdit(static_cast<ParamID>(index), booster.getParameter(index));
    reportLatencyChange();
}

void Vst3Plugin::endEdit(int index)
{
    if (handler && isParameter(static_cast<ParamID>(index)))
        handler->endEdit(static_cast<ParamID>(index));
}
