// The base layer behind the effect record: it owns the record the host talks
// to, maps dispatcher opcodes 0 to 24 onto virtual operations with default
// answers, and wraps the calls back to the host.
#pragma once

#include "host/VstAbi.h"

class AEffEditor;

class AudioEffect {
public:
    AudioEffect(audioMasterCallback host, VstInt32 numPrograms, VstInt32 numParams);
    virtual ~AudioEffect();
    AudioEffect(const AudioEffect&) = delete;
    AudioEffect& operator=(const AudioEffect&) = delete;

    virtual VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt);

    virtual void open() {}
    virtual void close() {}
    virtual void suspend() {}
    virtual void resume() {}

    virtual void setSampleRate(float newRate) { sampleRate = newRate; }
    virtual void setBlockSize(VstInt32 newSize) { blockSize = newSize; }

    virtual void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) = 0;
    virtual void processDoubleReplacing(double** /*inputs*/, double** /*outputs*/, VstInt32 /*sampleFrames*/) {}

    virtual void setParameter(VstInt32 /*index*/, float /*value*/) {}
    virtual float getParameter(VstInt32 /*index*/) { return 0.0f; }
    // Stores the value and tells the host, as a user gesture does.
    virtual void setParameterAutomated(VstInt32 index, float value);

    virtual VstInt32 getProgram() { return curProgram; }
    virtual void setProgram(VstInt32 program) { curProgram = program; }
    virtual void setProgramName(char* /*name*/) {}
    virtual void getProgramName(char* name)
    {
        if (name)
            *name = 0;
    }

    virtual void getParameterLabel(VstInt32 /*index*/, char* label)
    {
        if (label)
            *label = 0;
    }
    virtual void getParameterDisplay(VstInt32 /*index*/, char* text)
    {
        if (text)
            *text = 0;
    }
    virtual void getParameterName(VstInt32 /*index*/, char* text)
    {
        if (text)
            *text = 0;
    }

    virtual VstInt32 getChunk(void** /*data*/, bool /*isPreset*/) { return 0; }
    virtual VstInt32 setChunk(void* /*data*/, VstInt32 /*byteSize*/, bool /*isPreset*/) { return 0; }

    virtual void setUniqueID(VstInt32 id) { cEffect.uniqueID = id; }
    virtual void setNumInputs(VstInt32 inputs) { cEffect.numInputs = inputs; }
    virtual void setNumOutputs(VstInt32 outputs) { cEffect.numOutputs = outputs; }
    virtual void canProcessReplacing(bool state) { setFlag(effFlagsCanReplacing, state); }
    virtual void canDoubleReplacing(bool state) { setFlag(effFlagsCanDoubleReplacing, state); }
    virtual void programsAreChunks(bool state) { setFlag(effFlagsProgramChunks, state); }
    virtual void setInitialDelay(VstInt32 delay) { cEffect.initialDelay = delay; }

    virtual AEffEditor* getEditor() { return editor; }
    virtual AEffect* getAeffect() { return &cEffect; }
    virtual float getSampleRate() { return sampleRate; }
    virtual VstInt32 getBlockSize() { return blockSize; }

    // The deprecated accumulating call: this plug-in only replaces.
    virtual void process(float** /*inputs*/, float** /*outputs*/, VstInt32 /*sampleFrames*/) {}

    // Called by an editor when it attaches itself (non-null) or detaches (null).
    void setEditor(AEffEditor* newEditor);
    bool hasFlag(VstInt32 flag) const { return (cEffect.flags & flag) != 0; }
    void setFlag(VstInt32 flag, bool state);

protected:
    audioMasterCallback audioMaster;
    AEffEditor* editor = nullptr;
    float sampleRate = 44100.0f;
    VstInt32 blockSize = 1024;
    VstInt32 numPrograms;
    VstInt32 numParams;
    VstInt32 curProgram = 0;
    AEffect cEffect;

private:
    static VstIntPtr VSTCALLBACK dispatchEffect(AEffect* e, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                                float opt);
    static void VSTCALLBACK processEffect(AEffect* e, float** inputs, float** outputs, VstInt32 sampleFrames);
    static void VSTCALLBACK processReplacingEffect(AEffect* e, float** inputs, float** outputs, VstInt32 sampleFrames);
    static void VSTCALLBACK processDoubleReplacingEffect(AEffect* e, double** inputs, double** outputs,
                                                         VstInt32 sampleFrames);
    static void VSTCALLBACK setParameterEffect(AEffect* e, VstInt32 index, float value);
    static float VSTCALLBACK getParameterEffect(AEffect* e, VstInt32 index);
};

// Host integers arrive pointer-sized; operations take 32-bit values. Saturate
// rather than wrap, so a huge value can never alias a small valid one.
VstInt32 saturateToInt32(VstIntPtr value);
