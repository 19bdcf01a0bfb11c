#include "Vst3Instance.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>

using namespace vst3;
using namespace vst3host;

namespace {

#if defined(_WIN32)
#if defined(_WIN64)
constexpr const char* kBundleArchitecture = "x86_64-win";
#else
constexpr const char* kBundleArchitecture = "x86-win";
#endif
constexpr const char* kBinarySuffix = ".vst3";
constexpr const char* kViewPlatform = kPlatformTypeHwnd;
constexpr const char* kLoadHook = "InitDll";
constexpr const char* kUnloadHook = "ExitDll";
#else
constexpr const char* kBundleArchitecture = "x86_64-linux";
constexpr const char* kBinarySuffix = ".so";
constexpr const char* kViewPlatform = kPlatformTypeX11;
constexpr const char* kLoadHook = "ModuleEntry";
constexpr const char* kUnloadHook = "ModuleExit";
#endif

using ModuleEntryProc = bool (*)(void*);
using ModuleHookProc = bool (*)();

std::string uidText(const std::uint8_t* id)
{
    std::string text;
    char digits[3];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(digits, sizeof(digits), "%02X", id[i]);
        text += digits;
    }
    return text;
}

template <typename Interface> Interface* query(FUnknown* object, const Uid& iid)
{
    void* found = nullptr;
    if (!object || object->queryInterface(iid.bytes, &found) != kResultOk)
        return nullptr;
    return static_cast<Interface*>(found);
}

template <typename Interface> void releaseInto(Interface*& object)
{
    if (object)
        object->release();
    object = nullptr;
}

} // namespace

// ---- Memory stream ------------------------------------------------------------

tresult VST3CALL MemoryStream::queryInterface(const TUID iid, void** object)
{
    *object = (kFUnknownIid == iid || kIBStreamIid == iid) ? static_cast<IBStream*>(this) : nullptr;
    return *object ? kResultOk : kNoInterface;
}

tresult VST3CALL MemoryStream::read(void* buffer, std::int32_t count, std::int32_t* done)
{
    const std::size_t available = bytes.size() - std::min(cursor, bytes.size());
    const std::size_t take = std::min<std::size_t>(available, count > 0 ? static_cast<std::size_t>(count) : 0);
    if (take)
        std::memcpy(buffer, bytes.data() + cursor, take);
    cursor += take;
    if (done)
        *done = static_cast<std::int32_t>(take);
    return kResultOk;
}

tresult VST3CALL MemoryStream::write(void* buffer, std::int32_t count, std::int32_t* done)
{
    if (count < 0)
        return kInvalidArgument;
    const auto* from = static_cast<const std::uint8_t*>(buffer);
    if (cursor > bytes.size())
        bytes.resize(cursor);
    const std::size_t overlap = std::min(bytes.size() - cursor, static_cast<std::size_t>(count));
    std::copy(from, from + overlap, bytes.begin() + static_cast<std::ptrdiff_t>(cursor));
    bytes.insert(bytes.end(), from + overlap, from + count);
    cursor += static_cast<std::size_t>(count);
    if (done)
        *done = count;
    return kResultOk;
}

tresult VST3CALL MemoryStream::seek(std::int64_t position, std::int32_t mode, std::int64_t* result)
{
    std::int64_t base = mode == kSeekSet   ? 0
                        : mode == kSeekCur ? static_cast<std::int64_t>(cursor)
                                           : static_cast<std::int64_t>(bytes.size());
    if (base + position < 0)
        return kInvalidArgument;
    cursor = static_cast<std::size_t>(base + position);
    if (result)
        *result = static_cast<std::int64_t>(cursor);
    return kResultOk;
}

tresult VST3CALL MemoryStream::tell(std::int64_t* position)
{
    if (!position)
        return kInvalidArgument;
    *position = static_cast<std::int64_t>(cursor);
    return kResultOk;
}

// ---- Parameter changes --------------------------------------------------------

void ParameterChanges::add(ParamID id, std::int32_t offset, double value)
{
    std::int32_t index = 0;
    IParamValueQueue* queue = addParameterData(id, index);
    std::int32_t pointIndex = 0;
    queue->addPoint(offset, value, pointIndex);
}

tresult VST3CALL ParameterChanges::queryInterface(const TUID iid, void** object)
{
    *object = (kFUnknownIid == iid || kIParameterChangesIid == iid) ? static_cast<IParameterChanges*>(this) : nullptr;
    return *object ? kResultOk : kNoInterface;
}

IParamValueQueue* VST3CALL ParameterChanges::getParameterData(std::int32_t index)
{
    return index >= 0 && static_cast<std::size_t>(index) < used ? &queues[static_cast<std::size_t>(index)] : nullptr;
}

IParamValueQueue* VST3CALL ParameterChanges::addParameterData(const ParamID& id, std::int32_t& index)
{
    for (std::size_t q = 0; q < used; ++q)
        if (queues[q].id == id) {
            index = static_cast<std::int32_t>(q);
            return &queues[q];
        }
    if (used == queues.size())
        queues.emplace_back();
    Queue& queue = queues[used];
    queue.id = id;
    queue.points.clear();
    index = static_cast<std::int32_t>(used++);
    return &queue;
}

tresult VST3CALL ParameterChanges::Queue::queryInterface(const TUID iid, void** object)
{
    *object = (kFUnknownIid == iid || kIParamValueQueueIid == iid) ? static_cast<IParamValueQueue*>(this) : nullptr;
    return *object ? kResultOk : kNoInterface;
}

tresult VST3CALL ParameterChanges::Queue::getPoint(std::int32_t index, std::int32_t& offset, double& value)
{
    if (index < 0 || static_cast<std::size_t>(index) >= points.size())
        return kInvalidArgument;
    offset = points[static_cast<std::size_t>(index)].first;
    value = points[static_cast<std::size_t>(index)].second;
    return kResultOk;
}

tresult VST3CALL ParameterChanges::Queue::addPoint(std::int32_t offset, double value, std::int32_t& index)
{
    // Points stay in order of their offsets; a second point at one offset replaces the first.
    auto at = std::lower_bound(points.begin(), points.end(), offset,
                               [](const std::pair<std::int32_t, double>& p, std::int32_t o) { return p.first < o; });
    if (at != points.end() && at->first == offset)
        at->second = value;
    else
        at = points.insert(at, {offset, value});
    index = static_cast<std::int32_t>(at - points.begin());
    return kResultOk;
}

// ---- Host context ---------------------------------------------------------------

tresult VST3CALL HostContext::queryInterface(const TUID iid, void** object)
{
    void* found = nullptr;
    if (kFUnknownIid == iid || kIHostApplicationIid == iid)
        found = static_cast<IHostApplication*>(this);
    else if (kIComponentHandlerIid == iid)
        found = static_cast<IComponentHandler*>(this);
    else if (kIPlugFrameIid == iid)
        found = static_cast<IPlugFrame*>(this);
    else if (kIRunLoopIid == iid && offerRunLoop)
        found = static_cast<IRunLoop*>(this);
    *object = found;
    return found ? kResultOk : kNoInterface;
}

tresult VST3CALL HostContext::getName(String128 name)
{
    copyToString16(name, 128, "grindlemark-host");
    return kResultOk;
}

tresult VST3CALL HostContext::createInstance(TUID, TUID, void** object)
{
    *object = nullptr;
    return kResultFalse;
}

tresult VST3CALL HostContext::beginEdit(ParamID id)
{
    edits.push_back({'b', {id, 0.0}});
    return kResultOk;
}

tresult VST3CALL HostContext::performEdit(ParamID id, ParamValue value)
{
    edits.push_back({'p', {id, value}});
    return kResultOk;
}

tresult VST3CALL HostContext::endEdit(ParamID id)
{
    edits.push_back({'e', {id, 0.0}});
    return kResultOk;
}

tresult VST3CALL HostContext::restartComponent(std::int32_t flags)
{
    restartFlags |= flags;
    return kResultOk;
}

std::int32_t HostContext::takeRestartFlags()
{
    const std::int32_t flags = restartFlags;
    restartFlags = 0;
    return flags;
}

tresult VST3CALL HostContext::registerEventHandler(IEventHandler* handler, int fd)
{
    if (!handler)
        return kInvalidArgument;
    eventHandlers.push_back({handler, fd});
    return kResultOk;
}

tresult VST3CALL HostContext::unregisterEventHandler(IEventHandler* handler)
{
    eventHandlers.erase(std::remove_if(eventHandlers.begin(), eventHandlers.end(),
                                       [handler](const auto& entry) { return entry.first == handler; }),
                        eventHandlers.end());
    return kResultOk;
}

tresult VST3CALL HostContext::registerTimer(ITimerHandler* handler, std::uint64_t)
{
    if (!handler)
        return kInvalidArgument;
    timers.push_back(handler);
    return kResultOk;
}

tresult VST3CALL HostContext::unregisterTimer(ITimerHandler* handler)
{
    timers.erase(std::remove(timers.begin(), timers.end(), handler), timers.end());
    return kResultOk;
}

void HostContext::runLoopPass()
{
    // A handler may unregister itself (or another) while it runs.
    const auto handlers = eventHandlers;
    for (const auto& [handler, fd] : handlers)
        if (std::find(eventHandlers.begin(), eventHandlers.end(), std::make_pair(handler, fd)) != eventHandlers.end())
            handler->onFDIsSet(fd);
    const auto due = timers;
    for (ITimerHandler* timer : due)
        if (std::find(timers.begin(), timers.end(), timer) != timers.end())
            timer->onTimer();
}

// ---- Instance ---------------------------------------------------------------------

Vst3Instance::Vst3Instance(IPluginFactory* factory, const std::uint8_t* classId) : factory(factory)
{
    if (IPluginFactory3* unicode = query<IPluginFactory3>(factory, kIPluginFactory3Iid)) {
        unicode->setHostContext(static_cast<IHostApplication*>(&context));
        unicode->release();
    }
    void* object = nullptr;
    if (factory->createInstance(classId, kIComponentIid.bytes, &object) != kResultOk || !object)
        return;
    component = static_cast<IComponent*>(object);
    if (component->initialize(static_cast<IHostApplication*>(&context)) != kResultOk) {
        releaseInto(component);
        return;
    }
    processor = query<IAudioProcessor>(component, kIAudioProcessorIid);
    // A controller inside the component, or one of its own class.
    controller = query<IEditController>(component, kIEditControllerIid);
    if (!controller) {
        TUID controllerId;
        if (component->getControllerClassId(controllerId) == kResultOk &&
            factory->createInstance(controllerId, kIEditControllerIid.bytes, &object) == kResultOk && object) {
            controller = static_cast<IEditController*>(object);
            separateController = true;
            if (controller->initialize(static_cast<IHostApplication*>(&context)) != kResultOk)
                releaseInto(controller);
        }
    }
    if (!processor || !controller)
        return;
    controller->setComponentHandler(&context);
    if (separateController) {
        MemoryStream state;
        if (component->getState(&state) == kResultOk) {
            state.seek(0, IBStream::kSeekSet, nullptr);
            controller->setComponentState(&state);
        }
    }
    units = query<IUnitInfo>(controller, kIUnitInfoIid);

    for (std::int32_t i = 0; i < controller->getParameterCount(); ++i) {
        ParameterInfo parameter{};
        if (controller->getParameterInfo(i, parameter) != kResultOk)
            continue;
        if (parameter.flags & kIsProgramChange) {
            programId = parameter.id;
            hasProgramParameter = true;
            programs = parameter.stepCount + 1;
        } else {
            parameterIds.push_back(parameter.id);
        }
    }
    if (units && units->getProgramListCount() > 0) {
        ProgramListInfo list{};
        if (units->getProgramListInfo(0, list) == kResultOk) {
            programListId = list.id;
            programs = list.programCount;
        }
    }
    PClassInfo classInfo{};
    for (std::int32_t i = 0; i < factory->countClasses(); ++i)
        if (factory->getClassInfo(i, &classInfo) == kResultOk && std::memcmp(classInfo.cid, classId, 16) == 0)
            className = classInfo.name;
}

Vst3Instance::~Vst3Instance()
{
    closeEditor();
    stop();
    if (controller) {
        controller->setComponentHandler(nullptr);
        if (separateController)
            controller->terminate();
    }
    releaseInto(units);
    releaseInto(controller);
    releaseInto(processor);
    if (component)
        component->terminate();
    releaseInto(component);
}

ParameterInfo Vst3Instance::info(ParamID id)
{
    ParameterInfo parameter{};
    for (std::int32_t i = 0; i < controller->getParameterCount(); ++i)
        if (controller->getParameterInfo(i, parameter) == kResultOk && parameter.id == id)
            return parameter;
    return ParameterInfo{};
}

std::vector<std::pair<std::string, std::string>> Vst3Instance::identity()
{
    std::vector<std::pair<std::string, std::string>> lines;
    PFactoryInfo factoryInfo{};
    factory->getFactoryInfo(&factoryInfo);
    lines.push_back({"Effect", className});
    lines.push_back({"Vendor", factoryInfo.vendor});
    if (IPluginFactory2* second = query<IPluginFactory2>(factory, kIPluginFactory2Iid)) {
        PClassInfo2 classInfo{};
        for (std::int32_t i = 0; i < factory->countClasses(); ++i)
            if (second->getClassInfo2(i, &classInfo) == kResultOk && className == classInfo.name) {
                lines.push_back({"Version", std::string(classInfo.version) + ", " + classInfo.sdkVersion});
                lines.push_back({"Class ID", uidText(classInfo.cid)});
                lines.push_back({"Category", classInfo.subCategories});
                break;
            }
        second->release();
    }
    BusInfo input{}, output{};
    component->getBusInfo(kAudio, kInput, 0, input);
    component->getBusInfo(kAudio, kOutput, 0, output);
    lines.push_back(
        {"Channels", std::to_string(input.channelCount) + " in, " + std::to_string(output.channelCount) + " out"});
    lines.push_back(
        {"Format", "VST 3, " + std::string(separateController ? "separate controller" : "single component") +
                       (processor->canProcessSampleSize(kSample64) == kResultTrue ? ", 32 and 64 bit" : ", 32 bit")});
    lines.push_back({"Latency", std::to_string(latency()) + " samples"});
    return lines;
}

std::string Vst3Instance::parameterName(int index)
{
    return string16ToText(info(parameterId(index)).title, 128);
}

std::string Vst3Instance::parameterDisplay(int index)
{
    const ParamID id = parameterId(index);
    String128 text{};
    if (controller->getParamStringByValue(id, controller->getParamNormalized(id), text) != kResultOk)
        return "";
    return string16ToText(text, 128);
}

std::string Vst3Instance::parameterLabel(int index)
{
    return string16ToText(info(parameterId(index)).units, 128);
}

float Vst3Instance::parameter(int index)
{
    return static_cast<float>(controller->getParamNormalized(parameterId(index)));
}

void Vst3Instance::setParameter(int index, float value)
{
    // As a DAW does: the controller shows the value, the processor takes it
    // at the start of its next call.
    controller->setParamNormalized(parameterId(index), value);
    queueParameter(index, 0, value);
}

void Vst3Instance::queueParameter(int index, std::int32_t offset, double value)
{
    std::lock_guard<std::mutex> guard(pendingLock);
    pending.add(parameterId(index), offset, value);
}

int Vst3Instance::program()
{
    if (!hasProgramParameter || programs < 2)
        return 0;
    return static_cast<int>(std::lround(controller->getParamNormalized(programId) * (programs - 1)));
}

void Vst3Instance::setProgram(int program)
{
    if (!hasProgramParameter || program < 0 || program >= programs)
        return;
    const double value = programs > 1 ? static_cast<double>(program) / (programs - 1) : 0.0;
    controller->setParamNormalized(programId, value);
}

std::string Vst3Instance::programName()
{
    String128 name{};
    if (units && units->getProgramName(programListId, program(), name) == kResultOk)
        return string16ToText(name, 128);
    if (hasProgramParameter &&
        controller->getParamStringByValue(programId, controller->getParamNormalized(programId), name) == kResultOk)
        return string16ToText(name, 128);
    return "";
}

int Vst3Instance::latency()
{
    return static_cast<int>(processor->getLatencySamples());
}

void Vst3Instance::start(double sampleRate, int blockSize)
{
    rate = sampleRate;
    maxBlock = blockSize;
    prepare(kSample32, 2);
}

void Vst3Instance::stop()
{
    if (!active)
        return;
    processor->setProcessing(0);
    component->setActive(0);
    active = false;
}

// The order hosts use: arrangement and setup while inactive, then active and processing.
void Vst3Instance::prepare(std::int32_t sampleSize, int channels)
{
    stop();
    SpeakerArrangement arrangement = channels == 1 ? kSpeakerMono : kSpeakerStereo;
    SpeakerArrangement output = arrangement;
    processor->setBusArrangements(&arrangement, 1, &output, 1);
    ProcessSetup setup{kRealtime, sampleSize, maxBlock, rate};
    processor->setupProcessing(setup);
    component->setActive(1);
    processor->setProcessing(1);
    active = true;
    preparedSize = sampleSize;
    preparedChannels = channels;
}

template <typename Sample>
void Vst3Instance::processBuffers(Sample** inputs, Sample** outputs, int frames, std::int32_t sampleSize)
{
    const int channels = inputs[1] && outputs[1] ? 2 : 1;
    if (!active || sampleSize != preparedSize || channels != preparedChannels)
        prepare(sampleSize, channels);
    {
        std::lock_guard<std::mutex> guard(pendingLock);
        std::swap(pending, processing);
        pending.clear();
    }
    AudioBusBuffers input{};
    AudioBusBuffers output{};
    input.numChannels = output.numChannels = channels;
    if constexpr (sizeof(Sample) == sizeof(double)) {
        input.channelBuffers64 = inputs;
        output.channelBuffers64 = outputs;
    } else {
        input.channelBuffers32 = inputs;
        output.channelBuffers32 = outputs;
    }
    ProcessData data{};
    data.processMode = kRealtime;
    data.symbolicSampleSize = sampleSize;
    data.numSamples = frames;
    data.numInputs = 1;
    data.numOutputs = 1;
    data.inputs = &input;
    data.outputs = &output;
    data.inputParameterChanges = &processing;
    data.outputParameterChanges = &reporting;
    processor->process(data);
    processing.clear();
    if (reporting.getParameterCount() > 0) {
        std::lock_guard<std::mutex> guard(pendingLock);
        for (std::int32_t q = 0; q < reporting.getParameterCount(); ++q) {
            IParamValueQueue* queue = reporting.getParameterData(q);
            std::int32_t offset = 0;
            double value = 0.0;
            if (queue->getPoint(queue->getPointCount() - 1, offset, value) == kResultOk)
                reported.push_back({queue->getParameterId(), value});
        }
        reporting.clear();
    }
}

std::vector<std::pair<ParamID, double>> Vst3Instance::takeReportedValues()
{
    std::lock_guard<std::mutex> guard(pendingLock);
    return std::exchange(reported, {});
}

void Vst3Instance::process(float** inputs, float** outputs, int frames)
{
    processBuffers(inputs, outputs, frames, kSample32);
}

void Vst3Instance::process(double** inputs, double** outputs, int frames)
{
    processBuffers(inputs, outputs, frames, kSample64);
}

bool Vst3Instance::editorSize(int& width, int& height, std::string& reason)
{
    width = height = 0;
    if (!view)
        view = controller->createView("editor");
    if (!view) {
        reason = "the plug-in has no editor";
        return false;
    }
    ViewRect size{};
    if (view->getSize(&size) != kResultOk || size.right - size.left <= 0 || size.bottom - size.top <= 0) {
        reason = "the editor reports no size";
        return false;
    }
    width = size.right - size.left;
    height = size.bottom - size.top;
    return true;
}

bool Vst3Instance::openEditor(void* parentWindow)
{
    if (!view)
        view = controller->createView("editor");
    if (!view || view->isPlatformTypeSupported(kViewPlatform) != kResultTrue)
        return false;
    view->setFrame(&context);
    if (view->attached(parentWindow, kViewPlatform) != kResultOk) {
        view->setFrame(nullptr);
        releaseInto(view);
        return false;
    }
    return true;
}

void Vst3Instance::idleEditor()
{
    context.runLoopPass();
}

void Vst3Instance::closeEditor()
{
    if (!view)
        return;
    view->removed();
    view->setFrame(nullptr);
    releaseInto(view);
}

// ---- Module -----------------------------------------------------------------------

std::string vst3BinaryPath(const std::string& path)
{
    std::error_code failure;
    if (!std::filesystem::is_directory(path, failure))
        return path;
    std::filesystem::path bundle(path);
    if (!bundle.has_filename())
        bundle = bundle.parent_path();
    const std::string stem = bundle.stem().string();
    return (bundle / "Contents" / kBundleArchitecture / (stem + kBinarySuffix)).string();
}

Vst3Module::~Vst3Module()
{
    if (factory)
        factory->release();
    if (entered)
        if (auto unload = reinterpret_cast<ModuleHookProc>(library.symbol(kUnloadHook)))
            unload();
}

bool Vst3Module::load(const std::string& path, std::string& error)
{
    const std::string binary = vst3BinaryPath(path);
    if (!library.load(binary)) {
        error = library.error();
        return false;
    }
#if defined(_WIN32)
    if (auto enter = reinterpret_cast<ModuleHookProc>(library.symbol(kLoadHook)))
        entered = enter();
#else
    if (auto enter = reinterpret_cast<ModuleEntryProc>(library.symbol(kLoadHook)))
        entered = enter(nullptr);
#endif
    auto getFactory = reinterpret_cast<GetFactoryProc>(library.symbol("GetPluginFactory"));
    if (!getFactory) {
        error = binary + " exports no GetPluginFactory";
        return false;
    }
    factory = getFactory();
    if (!factory) {
        error = binary + ": the module gave no factory";
        return false;
    }
    return true;
}

std::unique_ptr<PluginInstance> Vst3Module::instantiate(std::string& error)
{
    PClassInfo info{};
    for (std::int32_t i = 0; i < factory->countClasses(); ++i) {
        if (factory->getClassInfo(i, &info) != kResultOk || std::strcmp(info.category, "Audio Module Class") != 0)
            continue;
        auto instance = std::make_unique<Vst3Instance>(factory, info.cid);
        if (!instance->valid()) {
            error = "the plug-in's component or controller could not be made";
            return nullptr;
        }
        return instance;
    }
    error = "the module has no audio effect class";
    return nullptr;
}
