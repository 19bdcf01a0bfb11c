// The VST 2.x extension of the base layer: it answers dispatcher opcodes 25 to
// 79 with virtual operations and their defaults, and passes the rest on.
#pragma once

#include "host/AudioEffect.h"

class AudioEffectX : public AudioEffect {
public:
    using AudioEffect::AudioEffect;

    VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) override;

    // Asks for MIDI only when the effect is a synthesizer or says it receives MIDI.
    void resume() override;

    virtual VstInt32 processEvents(void* /*events*/) { return 0; }
    virtual bool canParameterBeAutomated(VstInt32 /*index*/) { return true; }
    virtual bool string2parameter(VstInt32 /*index*/, char* /*text*/) { return false; }
    virtual bool getProgramNameIndexed(VstInt32 /*category*/, VstInt32 /*index*/, char* /*text*/) { return false; }
    virtual bool getInputProperties(VstInt32 /*index*/, void* /*properties*/) { return false; }
    virtual bool getOutputProperties(VstInt32 /*index*/, void* /*properties*/) { return false; }
    virtual VstInt32 getPlugCategory();
    virtual bool offlineNotify(void* /*audioFiles*/, VstInt32 /*numAudioFiles*/, bool /*start*/) { return false; }
    virtual bool offlinePrepare(void* /*tasks*/, VstInt32 /*count*/) { return false; }
    virtual bool offlineRun(void* /*tasks*/, VstInt32 /*count*/) { return false; }
    virtual bool processVariableIo(void* /*varIo*/) { return false; }
    virtual bool setSpeakerArrangement(void* /*input*/, void* /*output*/) { return false; }
    virtual bool setBypass(bool /*onOff*/) { return false; }
    virtual bool getEffectName(char* /*name*/) { return false; }
    virtual bool getVendorString(char* /*text*/) { return false; }
    virtual bool getProductString(char* /*text*/) { return false; }
    virtual VstInt32 getVendorVersion() { return 0; }
    virtual VstIntPtr vendorSpecific(VstInt32 /*index*/, VstIntPtr /*value*/, void* /*ptr*/, float /*opt*/)
    {
        return 0;
    }
    virtual VstInt32 canDo(char* /*text*/) { return 0; }
    virtual VstInt32 getGetTailSize() { return 0; }
    virtual bool getParameterProperties(VstInt32 /*index*/, void* /*properties*/) { return false; }
    virtual VstInt32 getVstVersion() { return kVstVersion; }
    virtual VstInt32 getMidiProgramName(VstInt32 /*channel*/, void* /*midiProgramName*/) { return 0; }
    virtual VstInt32 getCurrentMidiProgram(VstInt32 /*channel*/, void* /*currentProgram*/) { return -1; }
    virtual VstInt32 getMidiProgramCategory(VstInt32 /*channel*/, void* /*category*/) { return 0; }
    virtual bool hasMidiProgramsChanged(VstInt32 /*channel*/) { return false; }
    virtual bool getMidiKeyName(VstInt32 /*channel*/, void* /*keyName*/) { return false; }
    virtual bool beginSetProgram() { return false; }
    virtual bool endSetProgram() { return false; }
    // Writes null into both locations: this effect keeps no speaker arrangement.
    virtual bool getSpeakerArrangement(void** input, void** output);
    virtual VstInt32 getNextShellPlugin(char* /*name*/) { return 0; }
    virtual VstInt32 startProcess() { return 0; }
    virtual VstInt32 stopProcess() { return 0; }
    virtual VstInt32 setTotalSampleToProcess(VstInt32 value) { return value; }
    virtual bool setPanLaw(VstInt32 /*type*/, float /*value*/) { return false; }
    virtual VstInt32 beginLoadBank(void* /*bank*/) { return 0; }
    virtual VstInt32 beginLoadProgram(void* /*program*/) { return 0; }
    virtual bool setProcessPrecision(VstInt32 /*precision*/) { return false; }
    virtual VstInt32 getNumMidiInputChannels() { return 0; }
    virtual VstInt32 getNumMidiOutputChannels() { return 0; }

    // Tells the host that the effect wants MIDI events.
    void wantEvents(VstInt32 filter = 1);
    // Tells the host that a user gesture on a parameter begins or ends, around
    // the setParameterAutomated calls it makes. The host's answer.
    bool beginEdit(VstInt32 index);
    bool endEdit(VstInt32 index);
};
