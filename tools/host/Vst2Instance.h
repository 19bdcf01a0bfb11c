// A VST 2.4 plug-in driven through its effect record, the only way a host
// reaches it: the entry point, the dispatcher and the record's entries.
#pragma once

#include "PluginInstance.h"
#include "PluginLibrary.h"
#include "host/VstAbi.h"

class Vst2Instance final : public PluginInstance {
public:
    // Calls the entry point with this host's callback; check valid() after.
    explicit Vst2Instance(VstEntryProc entry);
    ~Vst2Instance() override; // closes the instance with effClose
    Vst2Instance(const Vst2Instance&) = delete;
    Vst2Instance& operator=(const Vst2Instance&) = delete;

    bool valid() const { return effect != nullptr; }
    AEffect* record() const { return effect; }
    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr, float opt = 0.0f);
    std::string text(VstInt32 opcode, VstInt32 index = 0);

    std::vector<std::pair<std::string, std::string>> identity() override;
    int parameterCount() override { return effect->numParams; }
    std::string parameterName(int index) override { return text(effGetParamName, index); }
    std::string parameterDisplay(int index) override { return text(effGetParamDisplay, index); }
    std::string parameterLabel(int index) override { return text(effGetParamLabel, index); }
    float parameter(int index) override { return effect->getParameter(effect, index); }
    void setParameter(int index, float value) override { effect->setParameter(effect, index, value); }
    int programCount() override { return effect->numPrograms; }
    int program() override { return static_cast<int>(dispatch(effGetProgram)); }
    void setProgram(int program) override { dispatch(effSetProgram, 0, program); }
    std::string programName() override { return text(effGetProgramName); }
    int latency() override { return effect->initialDelay; }
    // The usual start: open, rate, block size, resume.
    void start(double sampleRate, int blockSize) override;
    void process(float** inputs, float** outputs, int frames) override
    {
        effect->processReplacing(effect, inputs, outputs, frames);
    }
    void process(double** inputs, double** outputs, int frames) override
    {
        effect->processDoubleReplacing(effect, inputs, outputs, frames);
    }
    bool editorSize(int& width, int& height, std::string& reason) override;
    bool openEditor(void* parentWindow) override { return dispatch(effEditOpen, 0, 0, parentWindow) != 0; }
    void idleEditor() override { dispatch(effEditIdle); }
    void closeEditor() override { dispatch(effEditClose); }

private:
    AEffect* effect = nullptr;
};

// A VST 2.4 library: "VSTPluginMain" first, then "main".
class Vst2Module final : public PluginModule {
public:
    bool load(const std::string& path, std::string& error);
    std::unique_ptr<PluginInstance> instantiate(std::string& error) override;

private:
    PluginLibrary library;
    VstEntryProc entry = nullptr;
};

// The host's side of the conversation: a VST 2.4 host that asks for nothing.
VstIntPtr VSTCALLBACK hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                   float opt);
