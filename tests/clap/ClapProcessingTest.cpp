// Audio through the CLAP entry against the VST2 build, bit for bit: every
// program in single and double precision, and automation landing at the
// frame the host put it. And the latency the host is told, with the restart
// an "Oversample" change asks for while active.
#include "support/ClapPlugin.h"
#include "support/TestHost.h"

#include <cstring>

namespace {

constexpr std::uint32_t kBlock = 256;

void startVst2(HostedEffect& vst2)
{
    vst2.dispatch(effSetSampleRate, 0, 0, nullptr, 44100.0f);
    vst2.dispatch(effSetBlockSize, 0, kBlock);
    vst2.dispatch(effMainsChanged, 0, 1);
}

template <typename Sample> void process(HostedEffect& vst2, Sample** inputs, Sample** outputs, int frames)
{
    if constexpr (std::is_same_v<Sample, float>)
        vst2.effect->processReplacing(vst2.effect, inputs, outputs, frames);
    else
        vst2.effect->processDoubleReplacing(vst2.effect, inputs, outputs, frames);
}

template <typename Sample> bool sameBits(const StereoSignal<Sample>& a, const StereoSignal<Sample>& b)
{
    for (int c = 0; c < 2; ++c)
        if (std::memcmp(a.out[c].data(), b.out[c].data(), a.out[c].size() * sizeof(Sample)) != 0)
            return false;
    return true;
}

template <typename Sample> void expectProgramMatchesVst2(ClapSession& session, int program)
{
    constexpr std::size_t kFrames = 16 * kBlock;
    StereoSignal<Sample> clap(kFrames), reference(kFrames);
    HostedEffect vst2;
    vst2.selectProgram(program);
    startVst2(vst2);
    for (std::size_t first = 0; first < kFrames; first += kBlock) {
        EXPECT_EQ(session.process(clap.inputs(first), 2, clap.outputs(first), 2, kBlock), CLAP_PROCESS_CONTINUE);
        process(vst2, reference.inputs(first), reference.outputs(first), kBlock);
    }
    EXPECT_TRUE(sameBits(clap, reference)) << "program " << program << (sizeof(Sample) == 8 ? ", double" : ", float");
}

TEST_F(ClapTest, EveryProgramSoundsAsInVst2InBothPrecisions)
{
    for (int program = 0; program < kNumPrograms; ++program) {
        expectProgramMatchesVst2<float>(*processing({clapParameterEvent(kProgramId, program)}), program);
        expectProgramMatchesVst2<double>(*processing({clapParameterEvent(kProgramId, program)}), program);
    }
}

// Events at frames 37 and 200 of a block: the output is VST2's with the same
// values set between calls that end there.
TEST_F(ClapTest, AutomationLandsAtTheFrameOfItsEvent)
{
    const auto session = processing({clapParameterEvent(kProgramId, 1)});
    HostedEffect vst2;
    vst2.selectProgram(1);
    startVst2(vst2);
    StereoSignal<float> clap(2 * kBlock), reference(2 * kBlock);
    EXPECT_EQ(session->process(clap.inputs(), 2, clap.outputs(), 2, kBlock), CLAP_PROCESS_CONTINUE);
    process(vst2, reference.inputs(), reference.outputs(), kBlock);

    EXPECT_EQ(session->process(clap.inputs(kBlock), 2, clap.outputs(kBlock), 2, kBlock,
                               {clapParameterEvent(kDrive, 6.0, 37), clapParameterEvent(kMode, 2.0, 200),
                                clapParameterEvent(kLevel, -3.0, 200)}),
              CLAP_PROCESS_CONTINUE);
    process(vst2, reference.inputs(kBlock), reference.outputs(kBlock), 37);
    vst2.set(kDrive, 0.3f);
    process(vst2, reference.inputs(kBlock + 37), reference.outputs(kBlock + 37), 200 - 37);
    vst2.set(kMode, 0.5f);
    vst2.set(kLevel, 0.1f);
    process(vst2, reference.inputs(kBlock + 200), reference.outputs(kBlock + 200), kBlock - 200);
    EXPECT_TRUE(sameBits(clap, reference));
    EXPECT_EQ(session->valueText(kDrive, session->parameterValue(kDrive).value_or(0.0)), "6.00 dB");
}

TEST_F(ClapTest, LatencyFollowsOversampleAndAChangeWhileActiveAsksForARestart)
{
    const auto session = initialised();
    EXPECT_EQ(session->latencyFrames(), 0u);
    // Inactive, the host is told and reads the new latency.
    session->flush({clapParameterEvent(kOversample, 1.0)});
    session->serviceMainThread();
    EXPECT_EQ(session->latencyChanges(), 1);
    EXPECT_EQ(session->latencyFrames(), 9u);

    EXPECT_TRUE(session->activate(48000.0, 1, kBlock));
    EXPECT_TRUE(session->startProcessing());
    StereoSignal<float> signal(kBlock);
    session->process(signal.inputs(), 2, signal.outputs(), 2, kBlock, {clapParameterEvent(kOversample, 0.0, 100)});
    session->serviceMainThread();
    // Active, the latency stays what it was until the host restarts.
    EXPECT_EQ(session->restartRequests(), 1);
    EXPECT_EQ(session->latencyFrames(), 9u);
    EXPECT_EQ(session->latencyChanges(), 1);
    session->stopProcessing();
    session->deactivate();
    EXPECT_TRUE(session->activate(48000.0, 1, kBlock));
    EXPECT_EQ(session->latencyFrames(), 0u);
    // A state that switches it back while active asks again.
    const auto other = initialised();
    other->flush({clapParameterEvent(kOversample, 1.0)});
    EXPECT_TRUE(session->loadState(*other->saveState()));
    session->serviceMainThread();
    EXPECT_EQ(session->restartRequests(), 2);
    EXPECT_EQ(session->latencyFrames(), 0u);
}

} // namespace
