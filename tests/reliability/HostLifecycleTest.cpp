// The ways hosts are known to drive plug-ins, in and out of order.
#include "effect/Parameters.h"
#include "host/AudioEffect.h"
#include "reliability/AllocationCounter.h"
#include "support/TestHost.h"

#include <cmath>
#include <vector>

namespace {

bool isClean(float sample)
{
    return std::isfinite(sample) && (sample == 0.0f || std::isnormal(sample));
}

// One stereo block through the record; false if any output is NaN, infinite or subnormal.
bool processBlock(AEffect* effect, int frames, float level = 0.3f)
{
    std::vector<float> left(static_cast<std::size_t>(frames)), right(static_cast<std::size_t>(frames));
    std::vector<float> outLeft(static_cast<std::size_t>(frames)), outRight(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        left[static_cast<std::size_t>(i)] = level * std::sin(0.07f * static_cast<float>(i));
        right[static_cast<std::size_t>(i)] = level * std::cos(0.05f * static_cast<float>(i));
    }
    float* inputs[2] = {left.data(), right.data()};
    float* outputs[2] = {outLeft.data(), outRight.data()};
    effect->processReplacing(effect, inputs, outputs, frames);
    for (std::size_t i = 0; i < static_cast<std::size_t>(frames); ++i)
        if (!isClean(outLeft[i]) || !isClean(outRight[i]))
            return false;
    return true;
}

TEST(HostLifecycle, TwoHundredInstancesComeAndGoWithoutGrowingMemory)
{
    for (int cycle = 0; cycle < 200; ++cycle) {
        AEffect* effect = VSTPluginMain(recordingHost);
        ASSERT_NE(effect, nullptr);
        effect->dispatcher(effect, effOpen, 0, 0, nullptr, 0.0f);
        effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, 48000.0f);
        effect->dispatcher(effect, effSetBlockSize, 0, 128, nullptr, 0.0f);
        effect->dispatcher(effect, effMainsChanged, 0, 1, nullptr, 0.0f);
        effect->dispatcher(effect, effSetProgram, 0, cycle % 16, nullptr, 0.0f);
        ASSERT_TRUE(processBlock(effect, 128));
        effect->dispatcher(effect, effMainsChanged, 0, 0, nullptr, 0.0f);
        EXPECT_EQ(effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f), 1);
        recordedHostCalls().clear();
        recordedHostCalls().shrink_to_fit();
        if (cycle == 9)
            allocation::markThisThread();
    }
    // After the first cycles every instance gives back all it took.
    EXPECT_EQ(allocation::liveBytesSinceMark(), 0);
}

TEST(HostLifecycle, OutOfOrderCallsAreServed)
{
    // Processing before any start call, before and after resume and suspend.
    HostedEffect host;
    EXPECT_TRUE(processBlock(host.effect, 64));
    host.dispatch(effMainsChanged, 0, 1);
    host.dispatch(effMainsChanged, 0, 1);
    EXPECT_TRUE(processBlock(host.effect, 64));
    for (int toggle = 0; toggle < 20; ++toggle) {
        host.dispatch(effMainsChanged, 0, toggle % 2);
        EXPECT_TRUE(processBlock(host.effect, 64));
    }
    host.dispatch(effOpen);
    host.dispatch(effOpen);
    EXPECT_TRUE(processBlock(host.effect, 64));
    host.dispatch(effClose); // the trampoline deletes the instance
    host.effect = nullptr;

    // Rate and block size after processing started, and never at all.
    HostedEffect late;
    late.selectProgram(1);
    EXPECT_TRUE(processBlock(late.effect, 200));
    late.dispatch(effSetSampleRate, 0, 0, nullptr, 96000.0f);
    late.dispatch(effSetBlockSize, 0, 32);
    EXPECT_TRUE(processBlock(late.effect, 32));
    HostedEffect never;
    never.selectProgram(4);
    EXPECT_TRUE(processBlock(never.effect, 256));
}

TEST(HostLifecycle, ProgramSelectionsOutOfRangeChangeNothing)
{
    HostedEffect host;
    host.selectProgram(3);
    host.set(kAmount, 0.123f);
    for (VstIntPtr program : {VstIntPtr{-1}, VstIntPtr{16}, VstIntPtr{1} << 30}) {
        host.selectProgram(program);
        EXPECT_EQ(host.dispatch(effGetProgram), 3);
        EXPECT_FLOAT_EQ(host.get(kAmount), 0.123f);
    }
}

// A host that answers automation by calling straight back into the plug-in.
AEffect* reentrantEffect = nullptr;
int reentrantCalls = 0;

VstIntPtr VSTCALLBACK reentrantHost(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr, void*, float opt)
{
    if (opcode == audioMasterVersion)
        return kVstVersion;
    if (opcode == audioMasterAutomate && effect && reentrantCalls++ < 100) {
        char text[32];
        effect->getParameter(effect, index);
        effect->setParameter(effect, index, opt);
        effect->dispatcher(effect, effGetParamDisplay, index, 0, text, 0.0f);
        effect->dispatcher(effect, effSetProgram, 0, 2, nullptr, 0.0f);
    }
    return 0;
}

TEST(HostLifecycle, ReentrantHostCallbacksDoNotDeadlock)
{
    reentrantEffect = VSTPluginMain(reentrantHost);
    ASSERT_NE(reentrantEffect, nullptr);
    // The editor reports every gesture through setParameterAutomated.
    auto* effect = static_cast<AudioEffect*>(reentrantEffect->object);
    for (VstInt32 index = 0; index < 8; ++index)
        effect->setParameterAutomated(index, 0.7f);
    EXPECT_GT(reentrantCalls, 0);
    EXPECT_TRUE(processBlock(reentrantEffect, 64));
    reentrantEffect->dispatcher(reentrantEffect, effClose, 0, 0, nullptr, 0.0f);
}

} // namespace
