// Loads the built plug-in DLL exactly as a Windows host does.
#include "effect/Parameters.h"
#include "host/VstAbi.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <string>

namespace {

std::string dllPath()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of("\\/") + 1) + "Grindlemark.dll";
}

VstIntPtr VSTCALLBACK windowsHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

class LoadedDll : public ::testing::Test {
protected:
    void SetUp() override
    {
        module = LoadLibraryA(dllPath().c_str());
        ASSERT_NE(module, nullptr) << "cannot load " << dllPath() << ", error " << GetLastError();
    }
    void TearDown() override
    {
        if (module) {
            EXPECT_NE(FreeLibrary(module), 0);
        }
    }
    VstEntryProc entry(const char* name)
    {
        return reinterpret_cast<VstEntryProc>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
    HMODULE module = nullptr;
};

std::string textOf(AEffect* effect, VstInt32 opcode, VstInt32 index = 0)
{
    char buffer[128] = {};
    effect->dispatcher(effect, opcode, index, 0, buffer, 0.0f);
    return buffer;
}

TEST_F(LoadedDll, ExportsBothNamesAtOneAddress)
{
    VstEntryProc pluginMain = entry("VSTPluginMain");
    VstEntryProc legacyMain = entry("main");
    ASSERT_NE(pluginMain, nullptr);
    EXPECT_EQ(pluginMain, legacyMain);
    EXPECT_EQ(entry("_VSTPluginMain"), nullptr);
}

TEST_F(LoadedDll, TwoInstancesThroughTheRecord)
{
    VstEntryProc pluginMain = entry("VSTPluginMain");
    ASSERT_NE(pluginMain, nullptr);
    AEffect* first = pluginMain(windowsHost);
    AEffect* second = pluginMain(windowsHost);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_NE(first, second);

    for (AEffect* effect : {first, second}) {
        EXPECT_EQ(effect->magic, kEffectMagic);
        EXPECT_EQ(effect->uniqueID, fourCharCode('Q', 'm', '4', 'T'));
        EXPECT_EQ(effect->numInputs, 2);
        EXPECT_EQ(effect->numOutputs, 2);
        EXPECT_EQ(effect->numParams, 8);
        EXPECT_EQ(effect->numPrograms, 16);
        EXPECT_TRUE(effect->flags & effFlagsCanReplacing);
        EXPECT_TRUE(effect->flags & effFlagsCanDoubleReplacing);
        EXPECT_EQ(effect->dispatcher(effect, effGetVstVersion, 0, 0, nullptr, 0.0f), 2400);
        EXPECT_EQ(textOf(effect, effGetEffectName), "Grindlemark");
        EXPECT_EQ(textOf(effect, effGetProductString), "OVK Grindlemark");
        EXPECT_EQ(textOf(effect, effGetParamName, kCharacter), "Characte");
        effect->dispatcher(effect, effOpen, 0, 0, nullptr, 0.0f);
        effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, 48000.0f);
        effect->dispatcher(effect, effSetBlockSize, 0, 64, nullptr, 0.0f);
        effect->dispatcher(effect, effMainsChanged, 0, 1, nullptr, 0.0f);
    }

    // The record's entries reach each instance on its own.
    first->setParameter(first, 2, 0.25f);
    EXPECT_EQ(first->getParameter(first, 2), 0.25f);
    EXPECT_EQ(second->getParameter(second, 2), 0.5f);
    first->dispatcher(first, effSetProgram, 0, 1, nullptr, 0.0f);
    EXPECT_EQ(textOf(first, effGetProgramName), "Fat overdrive");
    EXPECT_EQ(textOf(second, effGetProgramName), "Default");

    float left[64] = {}, right[64] = {}, outLeft[64], outRight[64];
    float* inputs[2] = {left, right};
    float* outputs[2] = {outLeft, outRight};
    first->processReplacing(first, inputs, outputs, 64);
    double dleft[64] = {}, dright[64] = {}, doutLeft[64], doutRight[64];
    double* dinputs[2] = {dleft, dright};
    double* doutputs[2] = {doutLeft, doutRight};
    second->processDoubleReplacing(second, dinputs, doutputs, 64);

    for (AEffect* effect : {first, second}) {
        effect->dispatcher(effect, effMainsChanged, 0, 0, nullptr, 0.0f);
        EXPECT_EQ(effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f), 1);
    }
}

TEST_F(LoadedDll, TwoHundredInstancesComeAndGo)
{
    VstEntryProc pluginMain = entry("VSTPluginMain");
    ASSERT_NE(pluginMain, nullptr);
    float left[64] = {}, right[64] = {}, outLeft[64], outRight[64];
    for (int i = 0; i < 64; ++i)
        left[i] = right[i] = 0.25f;
    float* inputs[2] = {left, right};
    float* outputs[2] = {outLeft, outRight};
    for (int cycle = 0; cycle < 200; ++cycle) {
        AEffect* effect = pluginMain(windowsHost);
        ASSERT_NE(effect, nullptr);
        effect->dispatcher(effect, effOpen, 0, 0, nullptr, 0.0f);
        effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, 44100.0f);
        effect->dispatcher(effect, effSetBlockSize, 0, 64, nullptr, 0.0f);
        effect->dispatcher(effect, effMainsChanged, 0, 1, nullptr, 0.0f);
        effect->dispatcher(effect, effSetProgram, 0, cycle % 16, nullptr, 0.0f);
        effect->processReplacing(effect, inputs, outputs, 64);
        ASSERT_TRUE(std::isfinite(outLeft[63]) && std::isfinite(outRight[63]));
        effect->dispatcher(effect, effMainsChanged, 0, 0, nullptr, 0.0f);
        ASSERT_EQ(effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f), 1);
    }
}

TEST_F(LoadedDll, RefusesAHostWithoutVersion)
{
    auto refusingHost = [](AEffect*, VstInt32, VstInt32, VstIntPtr, void*, float) -> VstIntPtr { return 0; };
    VstEntryProc pluginMain = entry("VSTPluginMain");
    ASSERT_NE(pluginMain, nullptr);
    EXPECT_EQ(pluginMain(static_cast<audioMasterCallback>(refusingHost)), nullptr);
}

} // namespace
