// One plug-in instance driven through its effect record, the only way a host
// reaches it: the entry point, the dispatcher and the record's entries.
#pragma once

#include "host/VstAbi.h"

#include <string>

class PluginInstance {
public:
    // Calls the entry point with this host's callback; check valid() after.
    explicit PluginInstance(VstEntryProc entry);
    ~PluginInstance(); // closes the instance with effClose
    PluginInstance(const PluginInstance&) = delete;
    PluginInstance& operator=(const PluginInstance&) = delete;

    bool valid() const { return effect != nullptr; }
    AEffect* record() const { return effect; }

    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr, float opt = 0.0f);
    // The usual start: open, rate, block size, resume.
    void start(float sampleRate, VstInt32 blockSize);

    std::string text(VstInt32 opcode, VstInt32 index = 0);
    std::string parameterName(VstInt32 index) { return text(effGetParamName, index); }
    std::string parameterDisplay(VstInt32 index) { return text(effGetParamDisplay, index); }
    std::string parameterLabel(VstInt32 index) { return text(effGetParamLabel, index); }
    std::string programName() { return text(effGetProgramName); }
    float parameter(VstInt32 index) { return effect->getParameter(effect, index); }
    void setParameter(VstInt32 index, float value) { effect->setParameter(effect, index, value); }
    void setProgram(VstInt32 program) { dispatch(effSetProgram, 0, program); }
    void process(float** inputs, float** outputs, VstInt32 frames)
    {
        effect->processReplacing(effect, inputs, outputs, frames);
    }
    void process(double** inputs, double** outputs, VstInt32 frames)
    {
        effect->processDoubleReplacing(effect, inputs, outputs, frames);
    }

private:
    AEffect* effect = nullptr;
};

// The host's side of the conversation: a VST 2.4 host that asks for nothing.
VstIntPtr VSTCALLBACK hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                   float opt);
