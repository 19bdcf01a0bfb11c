// A VST 3 plug-in driven as a DAW drives it: the module's factory, the
// component and its controller (found inside the component or made from its
// class id), parameter changes handed to the processor inside its processing
// calls, and the editor's view in a frame that offers a run loop on Linux.
#pragma once

#include "PluginInstance.h"
#include "PluginLibrary.h"
#include "vst3/Vst3Abi.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace vst3host {

// A stream over bytes in memory, for states.
class MemoryStream final : public vst3::IBStream {
public:
    MemoryStream() = default;
    explicit MemoryStream(std::vector<std::uint8_t> bytes) : bytes(std::move(bytes)) {}
    vst3::tresult VST3CALL queryInterface(const vst3::TUID iid, void** object) override;
    std::uint32_t VST3CALL addRef() override { return 1; }
    std::uint32_t VST3CALL release() override { return 1; }
    vst3::tresult VST3CALL read(void* buffer, std::int32_t count, std::int32_t* done) override;
    vst3::tresult VST3CALL write(void* buffer, std::int32_t count, std::int32_t* done) override;
    vst3::tresult VST3CALL seek(std::int64_t position, std::int32_t mode, std::int64_t* result) override;
    vst3::tresult VST3CALL tell(std::int64_t* position) override;
    const std::vector<std::uint8_t>& data() const { return bytes; }

private:
    std::vector<std::uint8_t> bytes;
    std::size_t cursor = 0;
};

// One processing call's parameter points, by parameter.
class ParameterChanges final : public vst3::IParameterChanges {
public:
    void add(vst3::ParamID id, std::int32_t offset, double value);
    void clear() { used = 0; }
    vst3::tresult VST3CALL queryInterface(const vst3::TUID iid, void** object) override;
    std::uint32_t VST3CALL addRef() override { return 1; }
    std::uint32_t VST3CALL release() override { return 1; }
    std::int32_t VST3CALL getParameterCount() override { return static_cast<std::int32_t>(used); }
    vst3::IParamValueQueue* VST3CALL getParameterData(std::int32_t index) override;
    vst3::IParamValueQueue* VST3CALL addParameterData(const vst3::ParamID& id, std::int32_t& index) override;

private:
    class Queue final : public vst3::IParamValueQueue {
    public:
        vst3::ParamID id = 0;
        std::vector<std::pair<std::int32_t, double>> points;
        vst3::tresult VST3CALL queryInterface(const vst3::TUID iid, void** object) override;
        std::uint32_t VST3CALL addRef() override { return 1; }
        std::uint32_t VST3CALL release() override { return 1; }
        vst3::ParamID VST3CALL getParameterId() override { return id; }
        std::int32_t VST3CALL getPointCount() override { return static_cast<std::int32_t>(points.size()); }
        vst3::tresult VST3CALL getPoint(std::int32_t index, std::int32_t& offset, double& value) override;
        vst3::tresult VST3CALL addPoint(std::int32_t offset, double value, std::int32_t& index) override;
    };
    std::vector<Queue> queues; // kept between calls, so steady use allocates nothing
    std::size_t used = 0;
};

// The host's side: its name, the component handler and (Linux) a frame with
// a run loop whose timers the editor pump drives.
class HostContext final : public vst3::IHostApplication,
                          public vst3::IComponentHandler,
                          public vst3::IPlugFrame,
                          public vst3::IRunLoop {
public:
    vst3::tresult VST3CALL queryInterface(const vst3::TUID iid, void** object) override;
    std::uint32_t VST3CALL addRef() override { return 1; }
    std::uint32_t VST3CALL release() override { return 1; }

    vst3::tresult VST3CALL getName(vst3::String128 name) override;
    vst3::tresult VST3CALL createInstance(vst3::TUID, vst3::TUID, void** object) override;

    vst3::tresult VST3CALL beginEdit(vst3::ParamID id) override;
    vst3::tresult VST3CALL performEdit(vst3::ParamID id, vst3::ParamValue value) override;
    vst3::tresult VST3CALL endEdit(vst3::ParamID id) override;
    vst3::tresult VST3CALL restartComponent(std::int32_t flags) override;

    vst3::tresult VST3CALL resizeView(vst3::IPlugView*, vst3::ViewRect*) override { return vst3::kResultFalse; }

    vst3::tresult VST3CALL registerEventHandler(vst3::IEventHandler* handler, int fd) override;
    vst3::tresult VST3CALL unregisterEventHandler(vst3::IEventHandler* handler) override;
    vst3::tresult VST3CALL registerTimer(vst3::ITimerHandler* handler, std::uint64_t milliseconds) override;
    vst3::tresult VST3CALL unregisterTimer(vst3::ITimerHandler* handler) override;

    // Runs every registered timer and event handler once (UI thread).
    void runLoopPass();
    // Whether the frame answers for a run loop (a host that has none: false).
    bool offerRunLoop = true;

    // What the plug-in told the host, for tests: restart flags since the last
    // take, and each edit as (kind, id, value), kind 'b', 'p' or 'e'.
    std::int32_t takeRestartFlags();
    std::vector<std::pair<char, std::pair<vst3::ParamID, double>>> edits;
    std::size_t timerCount() const { return timers.size(); }

private:
    std::vector<vst3::ITimerHandler*> timers;
    std::vector<std::pair<vst3::IEventHandler*, int>> eventHandlers;
    std::int32_t restartFlags = 0;
};

} // namespace vst3host

class Vst3Instance final : public PluginInstance {
public:
    Vst3Instance(vst3::IPluginFactory* factory, const std::uint8_t* classId);
    ~Vst3Instance() override;
    Vst3Instance(const Vst3Instance&) = delete;
    Vst3Instance& operator=(const Vst3Instance&) = delete;

    bool valid() const { return component && processor && controller; }
    vst3::IComponent* componentInterface() const { return component; }
    vst3::IAudioProcessor* processorInterface() const { return processor; }
    vst3::IEditController* controllerInterface() const { return controller; }
    vst3::IUnitInfo* unitInterface() const { return units; }
    vst3host::HostContext& host() { return context; }
    // The id of a parameter by its index here (the plug-in's parameters less
    // the program change).
    vst3::ParamID parameterId(int index) const { return parameterIds[static_cast<std::size_t>(index)]; }

    std::vector<std::pair<std::string, std::string>> identity() override;
    int parameterCount() override { return static_cast<int>(parameterIds.size()); }
    std::string parameterName(int index) override;
    std::string parameterDisplay(int index) override;
    std::string parameterLabel(int index) override;
    float parameter(int index) override;
    void setParameter(int index, float value) override;
    int programCount() override { return programs; }
    int program() override;
    void setProgram(int program) override;
    std::string programName() override;
    int latency() override;
    void start(double sampleRate, int blockSize) override;
    void process(float** inputs, float** outputs, int frames) override;
    void process(double** inputs, double** outputs, int frames) override;
    // A parameter point inside the next processing call, at a frame offset.
    void queueParameter(int index, std::int32_t offset, double value);
    // The values the plug-in reported from its processing calls since the
    // last take, last point of each parameter, as (id, value).
    std::vector<std::pair<vst3::ParamID, double>> takeReportedValues();
    bool editorSize(int& width, int& height, std::string& reason) override;
    bool openEditor(void* parentWindow) override;
    void idleEditor() override;
    void closeEditor() override;

private:
    template <typename Sample>
    void processBuffers(Sample** inputs, Sample** outputs, int frames, std::int32_t sampleSize);
    void prepare(std::int32_t sampleSize, int channels);
    void stop();
    vst3::ParameterInfo info(vst3::ParamID id);

    vst3host::HostContext context;
    vst3::IPluginFactory* factory;
    std::string className;
    vst3::IComponent* component = nullptr;
    vst3::IAudioProcessor* processor = nullptr;
    vst3::IEditController* controller = nullptr;
    bool separateController = false;
    vst3::IUnitInfo* units = nullptr;
    std::vector<vst3::ParamID> parameterIds;
    vst3::ParamID programId = 0;
    bool hasProgramParameter = false;
    std::int32_t programListId = -1;
    int programs = 0;
    vst3::IPlugView* view = nullptr;

    double rate = 44100.0;
    int maxBlock = 512;
    bool active = false;
    std::int32_t preparedSize = vst3::kSample32;
    int preparedChannels = 2;
    std::mutex pendingLock; // the tool's UI thread queues, its audio thread takes
    vst3host::ParameterChanges pending;
    vst3host::ParameterChanges processing;
    vst3host::ParameterChanges reporting;
    std::vector<std::pair<vst3::ParamID, double>> reported;
};

// A VST 3 module: a bundle folder (the binary for this platform inside it)
// or the binary itself.
class Vst3Module final : public PluginModule {
public:
    ~Vst3Module() override;
    bool load(const std::string& path, std::string& error);
    std::unique_ptr<PluginInstance> instantiate(std::string& error) override;

private:
    PluginLibrary library;
    vst3::IPluginFactory* factory = nullptr;
    bool entered = false;
};

// The binary a bundle holds for this platform, or the path itself when it
// names a file.
std::string vst3BinaryPath(const std::string& path);
