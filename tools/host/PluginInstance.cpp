#include "PluginInstance.h"

#include <cstring>

VstIntPtr VSTCALLBACK hostCallback(AEffect* /*effect*/, VstInt32 opcode, VstInt32 /*index*/, VstIntPtr /*value*/,
                                   void* /*ptr*/, float /*opt*/)
{
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

PluginInstance::PluginInstance(VstEntryProc entry)
{
    AEffect* candidate = entry ? entry(hostCallback) : nullptr;
    if (candidate && candidate->magic == kEffectMagic)
        effect = candidate;
}

PluginInstance::~PluginInstance()
{
    if (effect) {
        dispatch(effMainsChanged, 0, 0);
        dispatch(effClose);
    }
}

VstIntPtr PluginInstance::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
    return effect->dispatcher(effect, opcode, index, value, ptr, opt);
}

void PluginInstance::start(float sampleRate, VstInt32 blockSize)
{
    dispatch(effOpen);
    dispatch(effSetSampleRate, 0, 0, nullptr, sampleRate);
    dispatch(effSetBlockSize, 0, blockSize);
    dispatch(effMainsChanged, 0, 1);
}

std::string PluginInstance::text(VstInt32 opcode, VstInt32 index)
{
    // Generous room: plug-ins are known to write past the documented limits.
    char buffer[256];
    std::memset(buffer, 0, sizeof(buffer));
    dispatch(opcode, index, 0, buffer);
    buffer[sizeof(buffer) - 1] = 0;
    return buffer;
}
