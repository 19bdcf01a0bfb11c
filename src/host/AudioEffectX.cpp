#include "host/AudioEffectX.h"

#include "host/AEffEditor.h"

#include <cmath>

namespace {

char receiveMidiText[] = "receiveVstMidiEvent";

// The modifier byte arrives as a float; convert without undefined behaviour.
unsigned char lowByteOf(float value)
{
    if (!(std::fabs(value) < 2147483648.0f))
        return 0;
    return static_cast<unsigned char>(static_cast<VstInt32>(value) & 0xff);
}

} // namespace

void AudioEffectX::resume()
{
    if (!hasFlag(effFlagsIsSynth) && canDo(receiveMidiText) != 1)
        return;
    wantEvents(1);
}

void AudioEffectX::wantEvents(VstInt32 filter)
{
    if (audioMaster)
        audioMaster(&cEffect, audioMasterWantMidi, 0, filter, nullptr, 0.0f);
}

bool AudioEffectX::beginEdit(VstInt32 index)
{
    return audioMaster && audioMaster(&cEffect, audioMasterBeginEdit, index, 0, nullptr, 0.0f) != 0;
}

bool AudioEffectX::endEdit(VstInt32 index)
{
    return audioMaster && audioMaster(&cEffect, audioMasterEndEdit, index, 0, nullptr, 0.0f) != 0;
}

VstInt32 AudioEffectX::getPlugCategory()
{
    return hasFlag(effFlagsIsSynth) ? kPlugCategSynth : kPlugCategUnknown;
}

bool AudioEffectX::getSpeakerArrangement(void** input, void** output)
{
    if (input)
        *input = nullptr;
    if (output)
        *output = nullptr;
    return false;
}

VstIntPtr AudioEffectX::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
    switch (opcode) {
    case effProcessEvents:
        return processEvents(ptr);
    case effCanBeAutomated:
        return canParameterBeAutomated(index) ? 1 : 0;
    case effString2Parameter:
        return string2parameter(index, static_cast<char*>(ptr)) ? 1 : 0;
    case effGetProgramNameIndexed:
        return getProgramNameIndexed(saturateToInt32(value), index, static_cast<char*>(ptr)) ? 1 : 0;
    case effGetInputProperties:
        return getInputProperties(index, ptr) ? 1 : 0;
    case effGetOutputProperties:
        return getOutputProperties(index, ptr) ? 1 : 0;
    case effGetPlugCategory:
        return getPlugCategory();
    case effOfflineNotify:
        return offlineNotify(ptr, saturateToInt32(value), index != 0) ? 1 : 0;
    case effOfflinePrepare:
        return offlinePrepare(ptr, saturateToInt32(value)) ? 1 : 0;
    case effOfflineRun:
        return offlineRun(ptr, saturateToInt32(value)) ? 1 : 0;
    case effProcessVarIo:
        return processVariableIo(ptr) ? 1 : 0;
    case effSetSpeakerArrangement:
        return setSpeakerArrangement(reinterpret_cast<void*>(value), ptr) ? 1 : 0;
    case effSetBypass:
        return setBypass(value != 0) ? 1 : 0;
    case effGetEffectName:
        return getEffectName(static_cast<char*>(ptr)) ? 1 : 0;
    case effGetVendorString:
        return getVendorString(static_cast<char*>(ptr)) ? 1 : 0;
    case effGetProductString:
        return getProductString(static_cast<char*>(ptr)) ? 1 : 0;
    case effGetVendorVersion:
        return getVendorVersion();
    case effVendorSpecific:
        return vendorSpecific(index, value, ptr, opt);
    case effCanDo:
        return canDo(static_cast<char*>(ptr));
    case effGetTailSize:
        return getGetTailSize();
    case effGetParameterProperties:
        return getParameterProperties(index, ptr) ? 1 : 0;
    case effGetVstVersion:
        return getVstVersion();
    case effEditKeyDown:
    case effEditKeyUp:
        if (editor) {
            VstKeyCode keyCode{index, static_cast<unsigned char>(value & 0xff), lowByteOf(opt)};
            bool handled = opcode == effEditKeyDown ? editor->onKeyDown(keyCode) : editor->onKeyUp(keyCode);
            return handled ? 1 : 0;
        }
        return 0;
    case effSetEditKnobMode:
        if (editor)
            return editor->setKnobMode(saturateToInt32(value)) ? 1 : 0;
        return 0;
    case effGetMidiProgramName:
        return getMidiProgramName(index, ptr);
    case effGetCurrentMidiProgram:
        return getCurrentMidiProgram(index, ptr);
    case effGetMidiProgramCategory:
        return getMidiProgramCategory(index, ptr);
    case effHasMidiProgramsChanged:
        return hasMidiProgramsChanged(index) ? 1 : 0;
    case effGetMidiKeyName:
        return getMidiKeyName(index, ptr) ? 1 : 0;
    case effBeginSetProgram:
        return beginSetProgram() ? 1 : 0;
    case effEndSetProgram:
        return endSetProgram() ? 1 : 0;
    case effGetSpeakerArrangement:
        return getSpeakerArrangement(reinterpret_cast<void**>(value), static_cast<void**>(ptr)) ? 1 : 0;
    case effShellGetNextPlugin:
        return getNextShellPlugin(static_cast<char*>(ptr));
    case effStartProcess:
        return startProcess();
    case effStopProcess:
        return stopProcess();
    case effSetTotalSampleToProcess:
        return setTotalSampleToProcess(saturateToInt32(value));
    case effSetPanLaw:
        return setPanLaw(saturateToInt32(value), opt) ? 1 : 0;
    case effBeginLoadBank:
        return beginLoadBank(ptr);
    case effBeginLoadProgram:
        return beginLoadProgram(ptr);
    case effSetProcessPrecision:
        return setProcessPrecision(saturateToInt32(value)) ? 1 : 0;
    case effGetNumMidiInputChannels:
        return getNumMidiInputChannels();
    case effGetNumMidiOutputChannels:
        return getNumMidiOutputChannels();
    default:
        return AudioEffect::dispatcher(opcode, index, value, ptr, opt);
    }
}
