// The booster as a VST 3 plug-in: one object that is its own controller
// (component, audio processor, edit controller and program list), driving the
// format-neutral processor that VST2 drives, so that texts, programs and
// sound are the same in both.
#pragma once

#include "effect/BoosterProcessor.h"
#include "effect/PanelHost.h"
#include "vst3/Vst3Abi.h"

#include <array>
#include <atomic>
#include <cstdint>

// The class id hosts know the plug-in by: the one generated from the VST2
// unique id 'Qm4T' and the lower-case name "grindlemark", so that a host can
// put this version in place of the VST2 one in old projects.
constexpr vst3::Uid kBoosterClassId = vst3::makeUid(0x56535451, 0x6D345467, 0x72696E64, 0x6C656D61);
// The program list and its program-change parameter, outside the VST2
// indices 0..7 that the other parameters keep as their ids.
constexpr std::int32_t kProgramListId = 1;
constexpr vst3::ParamID kProgramParameterId = 0x70726F67; // 'prog'

class Vst3View;

class Vst3Plugin final : public vst3::IComponent,
                         public vst3::IAudioProcessor,
                         public vst3::IEditController,
                         public vst3::IUnitInfo,
                         public vst3::IProcessContextRequirements,
                         public PanelHost {
public:
    Vst3Plugin();
    Vst3Plugin(const Vst3Plugin&) = delete;
    Vst3Plugin& operator=(const Vst3Plugin&) = delete;

    // FUnknown
    vst3::tresult VST3CALL queryInterface(const vst3::TUID iid, void** object) override;
    std::uint32_t VST3CALL addRef() override;
    std::uint32_t VST3CALL release() override;

    // IPluginBase (one for the component and the controller: it is one object)
    vst3::tresult VST3CALL initialize(vst3::FUnknown* context) override;
    vst3::tresult VST3CALL terminate() override;

    // IComponent
    vst3::tresult VST3CALL getControllerClassId(vst3::TUID classId) override;
    vst3::tresult VST3CALL setIoMode(std::int32_t mode) override;
    std::int32_t VST3CALL getBusCount(std::int32_t type, std::int32_t direction) override;
    vst3::tresult VST3CALL getBusInfo(std::int32_t type, std::int32_t direction, std::int32_t index,
                                      vst3::BusInfo& info) override;
    vst3::tresult VST3CALL getRoutingInfo(vst3::RoutingInfo& input, vst3::RoutingInfo& output) override;
    vst3::tresult VST3CALL activateBus(std::int32_t type, std::int32_t direction, std::int32_t index,
                                       std::uint8_t state) override;
    vst3::tresult VST3CALL setActive(std::uint8_t state) override;
    // The component's and the controller's state calls are one pair: the
    // controller keeps nothing of its own, so both carry the one record.
    vst3::tresult VST3CALL setState(vst3::IBStream* state) override;
    vst3::tresult VST3CALL getState(vst3::IBStream* state) override;

    // IAudioProcessor
    vst3::tresult VST3CALL setBusArrangements(vst3::SpeakerArrangement* inputs, std::int32_t numIns,
                                              vst3::SpeakerArrangement* outputs, std::int32_t numOuts) override;
    vst3::tresult VST3CALL getBusArrangement(std::int32_t direction, std::int32_t index,
                                             vst3::SpeakerArrangement& arrangement) override;
    vst3::tresult VST3CALL canProcessSampleSize(std::int32_t symbolicSampleSize) override;
    std::uint32_t VST3CALL getLatencySamples() override;
    vst3::tresult VST3CALL setupProcessing(vst3::ProcessSetup& setup) override;
    vst3::tresult VST3CALL setProcessing(std::uint8_t state) override;
    vst3::tresult VST3CALL process(vst3::ProcessData& data) override;
    std::uint32_t VST3CALL getTailSamples() override { return 0; }

    // IProcessContextRequirements: nothing of the transport or tempo is used.
    std::uint32_t VST3CALL getProcessContextRequirements() override { return 0; }

    // IEditController
    vst3::tresult VST3CALL setComponentState(vst3::IBStream* state) override;
    std::int32_t VST3CALL getParameterCount() override;
    vst3::tresult VST3CALL getParameterInfo(std::int32_t index, vst3::ParameterInfo& info) override;
    vst3::tresult VST3CALL getParamStringByValue(vst3::ParamID id, vst3::ParamValue value,
                                                 vst3::String128 text) override;
    vst3::tresult VST3CALL getParamValueByString(vst3::ParamID id, vst3::TChar* text, vst3::ParamValue& value) override;
    vst3::ParamValue VST3CALL normalizedParamToPlain(vst3::ParamID id, vst3::ParamValue value) override;
    vst3::ParamValue VST3CALL plainParamToNormalized(vst3::ParamID id, vst3::ParamValue plain) override;
    vst3::ParamValue VST3CALL getParamNormalized(vst3::ParamID id) override;
    vst3::tresult VST3CALL setParamNormalized(vst3::ParamID id, vst3::ParamValue value) override;
    vst3::tresult VST3CALL setComponentHandler(vst3::IComponentHandler* handler) override;
    vst3::IPlugView* VST3CALL createView(const char* name) override;

    // IUnitInfo
    std::int32_t VST3CALL getUnitCount() override { return 1; }
    vst3::tresult VST3CALL getUnitInfo(std::int32_t index, vst3::UnitInfo& info) override;
    std::int32_t VST3CALL getProgramListCount() override { return 1; }
    vst3::tresult VST3CALL getProgramListInfo(std::int32_t index, vst3::ProgramListInfo& info) override;
    vst3::tresult VST3CALL getProgramName(std::int32_t listId, std::int32_t programIndex,
                                          vst3::String128 name) override;
    vst3::tresult VST3CALL getProgramInfo(std::int32_t, std::int32_t, const char*, vst3::String128) override
    {
        return vst3::kResultFalse;
    }
    vst3::tresult VST3CALL hasProgramPitchNames(std::int32_t, std::int32_t) override { return vst3::kResultFalse; }
    vst3::tresult VST3CALL getProgramPitchName(std::int32_t, std::int32_t, std::int16_t, vst3::String128) override
    {
        return vst3::kResultFalse;
    }
    std::int32_t VST3CALL getSelectedUnit() override { return vst3::kRootUnitId; }
    vst3::tresult VST3CALL selectUnit(std::int32_t unitId) override
    {
        return unitId == vst3::kRootUnitId ? vst3::kResultOk : vst3::kResultFalse;
    }
    vst3::tresult VST3CALL getUnitByBus(std::int32_t type, std::int32_t direction, std::int32_t busIndex,
                                        std::int32_t channel, std::int32_t& unitId) override;
    vst3::tresult VST3CALL setUnitProgramData(std::int32_t, std::int32_t, vst3::IBStream*) override
    {
        return vst3::kNotImplemented;
    }

    // PanelHost: the editor's edits, each told to the host inside its gesture.
    BoosterProcessor& processor() override { return booster; }
    float parameter(int index) override { return booster.getParameter(index); }
    void beginEdit(int index) override;
    void performEdit(int index, float value) override;
    void endEdit(int index) override;

    // Host's UI thread, outside the host's own calls into the plug-in that
    // may hold its locks: tells the host when the delay has changed since it
    // last asked (an "Oversample" change by any route: automation, a program,
    // a state). Parameter changes, the editor's edits and the view's timer
    // call it.
    void reportLatencyChange();
    // The view tells its plug-in when it goes, so a new one may be made.
    void viewClosed(Vst3View* view);

private:
    ~Vst3Plugin();
    void hostKnows(int index, float value);
    void applyPoint(int index, vst3::ParamValue value);
    template <typename Sample>
    void processAudio(vst3::ProcessData& data, Sample** inputs, Sample** outputs, int channels);

    std::atomic<std::uint32_t> references{1};
    BoosterProcessor booster;
    vst3::IComponentHandler* handler = nullptr;
    vst3::FUnknown* hostContext = nullptr;
    bool singleChannel = false; // the mono arrangement: the processor's single-channel layout
    std::atomic<std::int32_t> reportedLatency{0};
    // New values from a program or a state, for the next processing call to
    // report to the host.
    std::atomic<bool> valuesToReport{false};
    // What the host last knew of each parameter (any thread).
    std::array<std::atomic<float>, kNumParameters> hostView{};
    Vst3View* openView = nullptr;
};
