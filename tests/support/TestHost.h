// A host for tests: creates instances through the real entry point and
// records every call the plug-in makes back.
#pragma once

#include "host/VstAbi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

extern "C" AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback host);

struct HostCall {
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    float opt;
};

// One recorder per test thread is enough: tests create and drive instances on one thread.
inline std::vector<HostCall>& recordedHostCalls()
{
    static thread_local std::vector<HostCall> calls;
    return calls;
}

inline VstIntPtr VSTCALLBACK recordingHost(AEffect*, VstInt32 opcode, VstInt32 index, VstIntPtr value, void*, float opt)
{
    recordedHostCalls().push_back({opcode, index, value, opt});
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

// An instance created and closed like a host does, through the record only.
class HostedEffect {
public:
    HostedEffect() : effect(VSTPluginMain(recordingHost)) {}
    ~HostedEffect()
    {
        if (effect)
            close();
    }
    HostedEffect(const HostedEffect&) = delete;
    HostedEffect& operator=(const HostedEffect&) = delete;

    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr, float opt = 0.0f)
    {
        return effect->dispatcher(effect, opcode, index, value, ptr, opt);
    }
    VstIntPtr close()
    {
        VstIntPtr answer = dispatch(effClose);
        effect = nullptr;
        return answer;
    }
    std::string text(VstInt32 opcode, VstInt32 index = 0)
    {
        char buffer[128] = {};
        dispatch(opcode, index, 0, buffer);
        return buffer;
    }
    std::string display(VstInt32 index) { return text(effGetParamDisplay, index); }
    float get(VstInt32 index) { return effect->getParameter(effect, index); }
    void set(VstInt32 index, float value) { effect->setParameter(effect, index, value); }
    void selectProgram(VstIntPtr program) { dispatch(effSetProgram, 0, program); }

    AEffect* effect;
};

// Runs a text request into a buffer of guard bytes and counts how many bytes
// the plug-in wrote (the last position that no longer holds the guard).
inline int bytesWritten(HostedEffect& host, VstInt32 opcode, VstInt32 index = 0, VstIntPtr* answer = nullptr)
{
    constexpr unsigned char guard = 0xA5;
    unsigned char buffer[256];
    std::memset(buffer, guard, sizeof(buffer));
    VstIntPtr result = host.dispatch(opcode, index, 0, buffer);
    if (answer)
        *answer = result;
    int last = -1;
    for (int i = 0; i < static_cast<int>(sizeof(buffer)); ++i)
        if (buffer[i] != guard)
            last = i;
    return last + 1;
}
