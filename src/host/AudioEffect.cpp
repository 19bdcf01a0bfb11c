#include "host/AudioEffect.h"

#include "host/AEffEditor.h"

#include <climits>
#include <cstring>

AudioEffect::AudioEffect(audioMasterCallback host, VstInt32 numPrograms, VstInt32 numParams)
    : audioMaster(host), numPrograms(numPrograms), numParams(numParams)
{
    std::memset(&cEffect, 0, sizeof(cEffect));
    cEffect.magic = kEffectMagic;
    cEffect.dispatcher = dispatchEffect;
    cEffect.process = processEffect;
    cEffect.setParameter = setParameterEffect;
    cEffect.getParameter = getParameterEffect;
    cEffect.numPrograms = numPrograms;
    cEffect.numParams = numParams;
    cEffect.numInputs = 1;
    cEffect.numOutputs = 2;
    cEffect.flags = effFlagsCanReplacing;
    cEffect.ioRatio = 1.0f;
    cEffect.object = this;
    cEffect.uniqueID = fourCharCode('N', 'o', 'E', 'f');
    cEffect.version = 1;
    cEffect.processReplacing = processReplacingEffect;
    cEffect.processDoubleReplacing = processDoubleReplacingEffect;
}

AudioEffect::~AudioEffect()
{
    // The editor's destructor detaches itself through setEditor(nullptr).
    delete editor;
}

void AudioEffect::setEditor(AEffEditor* newEditor)
{
    editor = newEditor;
    setFlag(effFlagsHasEditor, newEditor != nullptr);
}

void AudioEffect::setFlag(VstInt32 flag, bool state)
{
    if (state)
        cEffect.flags |= flag;
    else
        cEffect.flags &= ~flag;
}

void AudioEffect::setParameterAutomated(VstInt32 index, float value)
{
    setParameter(index, value);
    if (audioMaster)
        audioMaster(&cEffect, audioMasterAutomate, index, 0, nullptr, value);
}

VstInt32 saturateToInt32(VstIntPtr value)
{
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<VstInt32>(value);
}

VstIntPtr AudioEffect::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
    switch (opcode) {
    case effOpen:
        open();
        return 0;
    case effClose:
        close();
        return 0;
    case effSetProgram:
        if (value < numPrograms)
            setProgram(saturateToInt32(value));
        return 0;
    case effGetProgram:
        return getProgram();
    case effSetProgramName:
        setProgramName(static_cast<char*>(ptr));
        return 0;
    case effGetProgramName:
        getProgramName(static_cast<char*>(ptr));
        return 0;
    case effGetParamLabel:
        getParameterLabel(index, static_cast<char*>(ptr));
        return 0;
    case effGetParamDisplay:
        getParameterDisplay(index, static_cast<char*>(ptr));
        return 0;
    case effGetParamName:
        getParameterName(index, static_cast<char*>(ptr));
        return 0;
    case effSetSampleRate:
        setSampleRate(opt);
        return 0;
    case effSetBlockSize:
        setBlockSize(saturateToInt32(value));
        return 0;
    case effMainsChanged:
        if (value == 0)
            suspend();
        else
            resume();
        return 0;
    case effEditGetRect:
        // A null location would be written through; such a request has no answer.
        if (editor && ptr)
            return editor->getRect(static_cast<ERect**>(ptr)) ? 1 : 0;
        return 0;
    case effEditOpen:
        if (editor)
            return editor->open(ptr) ? 1 : 0;
        return 0;
    case effEditClose:
        if (editor)
            editor->close();
        return 0;
    case effEditIdle:
        if (editor)
            editor->idle();
        return 0;
    case effIdentify:
        return kEffectIdentify;
    case effGetChunk:
        return getChunk(static_cast<void**>(ptr), index != 0);
    case effSetChunk:
        return setChunk(ptr, saturateToInt32(value), index != 0);
    default:
        return 0;
    }
}

// The record's trampolines: the instance lives in the record's object field.

VstIntPtr VSTCALLBACK AudioEffect::dispatchEffect(AEffect* e, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                                  void* ptr, float opt)
{
    auto* effect = static_cast<AudioEffect*>(e->object);
    VstIntPtr result = effect->dispatcher(opcode, index, value, ptr, opt);
    if (opcode == effClose) {
        delete effect;
        return 1;
    }
    return result;
}

void VSTCALLBACK AudioEffect::processEffect(AEffect* e, float** inputs, float** outputs, VstInt32 sampleFrames)
{
    static_cast<AudioEffect*>(e->object)->process(inputs, outputs, sampleFrames);
}

void VSTCALLBACK AudioEffect::processReplacingEffect(AEffect* e, float** inputs, float** outputs, VstInt32 sampleFrames)
{
    static_cast<AudioEffect*>(e->object)->processReplacing(inputs, outputs, sampleFrames);
}

void VSTCALLBACK AudioEffect::processDoubleReplacingEffect(AEffect* e, double** inputs, double** outputs,
                                                           VstInt32 sampleFrames)
{
    static_cast<AudioEffect*>(e->object)->processDoubleReplacing(inputs, outputs, sampleFrames);
}

void VSTCALLBACK AudioEffect::setParameterEffect(AEffect* e, VstInt32 index, float value)
{
    static_cast<AudioEffect*>(e->object)->setParameter(index, value);
}

float VSTCALLBACK AudioEffect::getParameterEffect(AEffect* e, VstInt32 index)
{
    return static_cast<AudioEffect*>(e->object)->getParameter(index);
}
