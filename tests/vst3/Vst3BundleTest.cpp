// The VST 3 bundle as a host loads it, through its factory only, held
// against the VST2 build (linked into the tests) for the same calls: texts,
// programs, state, latency and output bits.
#include "support/TestHost.h"

#include "effect/Parameters.h"
#include "support/Vst3Bundle.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

using namespace vst3;

namespace {

std::string text16(const TChar* text)
{
    return string16ToText(text, 128);
}

std::string vst3Text(IEditController& controller, ParamID id, double value)
{
    String128 text{};
    EXPECT_EQ(controller.getParamStringByValue(id, value, text), kResultOk);
    return text16(text);
}

std::vector<float> allValues(IEditController& controller)
{
    std::vector<float> values;
    for (ParamID id = 0; id < kNumParameters; ++id)
        values.push_back(static_cast<float>(controller.getParamNormalized(id)));
    return values;
}

std::vector<float> allValues(HostedEffect& effect)
{
    std::vector<float> values;
    for (int i = 0; i < kNumParameters; ++i)
        values.push_back(effect.get(i));
    return values;
}

TEST(Vst3Bundle, ParameterTextsEqualTheVst2TextsAndParseBack)
{
    LOAD_BUNDLE(bundle);
    HostedEffect vst2;
    IEditController& controller = bundle.controller();
    ASSERT_EQ(controller.getParameterCount(), kNumParameters + 1);
    for (int index = 0; index < kNumParameters; ++index) {
        vst3::ParameterInfo info{};
        ASSERT_EQ(controller.getParameterInfo(index, info), kResultOk);
        ASSERT_EQ(info.id, static_cast<ParamID>(index)); // automation carries over from VST2
        const std::string shortName = vst2.text(effGetParamName, index);
        EXPECT_EQ(text16(info.title).rfind(shortName, 0), 0u) << text16(info.title);
        EXPECT_EQ(text16(info.units), index == kDrive || index == kLevel ? "dB" : "");
        EXPECT_TRUE(info.flags & kCanAutomate);

        // Every step of a stepped parameter, 1,000 values of a continuous one.
        const int values = info.stepCount > 0 ? info.stepCount + 1 : 1000;
        for (int k = 0; k < values; ++k) {
            const double value = static_cast<double>(k) / (values - 1);
            vst2.set(index, static_cast<float>(value));
            const std::string expected = vst2.display(index);
            const std::string shown = vst3Text(controller, info.id, value);
            ASSERT_EQ(shown, expected) << "parameter " << index << " at " << value;

            // The text typed back gives a value that shows the same text.
            std::u16string typed(shown.begin(), shown.end());
            ParamValue parsed = -1.0;
            ASSERT_EQ(controller.getParamValueByString(info.id, typed.data(), parsed), kResultOk) << shown;
            EXPECT_EQ(vst3Text(controller, info.id, parsed), shown);
        }
        std::u16string nonsense = u"loud please";
        ParamValue untouched = 0.25;
        EXPECT_EQ(controller.getParamValueByString(info.id, nonsense.data(), untouched), kResultFalse);
        EXPECT_EQ(untouched, 0.25);
    }
}

TEST(Vst3Bundle, ProgramListNamesTheProgramsAndAChangeSetsWhatSetProgramSets)
{
    LOAD_BUNDLE(bundle);
    HostedEffect vst2;
    IEditController& controller = bundle.controller();
    IUnitInfo& units = *bundle.instance->unitInterface();
    ProgramListInfo list{};
    ASSERT_EQ(units.getProgramListInfo(0, list), kResultOk);
    ASSERT_EQ(list.programCount, kNumPrograms);
    UnitInfo root{};
    ASSERT_EQ(units.getUnitInfo(0, root), kResultOk);
    EXPECT_EQ(root.programListId, list.id);

    vst3::ParameterInfo programInfo{};
    ASSERT_EQ(controller.getParameterInfo(kNumParameters, programInfo), kResultOk);
    EXPECT_EQ(programInfo.id, bundle.programId());
    EXPECT_TRUE(programInfo.flags & kIsProgramChange);
    EXPECT_EQ(programInfo.stepCount, kNumPrograms - 1);

    // Edits live in the program they were made in, in both formats.
    Vst3Instance& plugin = *bundle.instance;
    plugin.start(44100.0, 64);
    vst2.set(kDrive, 0.9f);
    controller.setParamNormalized(kDrive, 0.9f);
    std::vector<float> buffer(64);
    float* channels[2] = {buffer.data(), buffer.data()};
    for (int program : {3, 1, 0, 15, 5, 0}) {
        vst2.selectProgram(program);
        const double value = static_cast<double>(program) / (kNumPrograms - 1);
        plugin.host().takeRestartFlags();
        const std::vector<float> hostsView = allValues(controller);
        ASSERT_EQ(controller.setParamNormalized(bundle.programId(), value), kResultOk);
        EXPECT_EQ(allValues(controller), allValues(vst2)) << "program " << program;
        // Nothing is asked of the host from inside its call (a host holding
        // its lock there would deadlock); the next processing call reports
        // the program's values instead.
        EXPECT_EQ(plugin.host().takeRestartFlags(), 0);
        // A host keeping its controller in step sends back what it knew
        // before the program: that is no change.
        for (ParamID id = 0; id < kNumParameters; ++id)
            controller.setParamNormalized(id, hostsView[id]);
        EXPECT_EQ(allValues(controller), allValues(vst2)) << "program " << program;
        plugin.process(channels, channels, 64);
        std::vector<float> reported(kNumParameters, -1.0f);
        for (auto [id, point] : plugin.takeReportedValues())
            if (id < static_cast<ParamID>(kNumParameters))
                reported[id] = static_cast<float>(point);
        EXPECT_EQ(reported, allValues(vst2)) << "program " << program;

        String128 name{};
        ASSERT_EQ(units.getProgramName(list.id, program, name), kResultOk);
        EXPECT_EQ(text16(name), vst2.text(effGetProgramName));
        EXPECT_EQ(vst3Text(controller, bundle.programId(), value), text16(name));
        const std::string plain = text16(name);
        std::u16string typed(plain.begin(), plain.end());
        ParamValue parsed = -1.0;
        ASSERT_EQ(controller.getParamValueByString(bundle.programId(), typed.data(), parsed), kResultOk);
        EXPECT_DOUBLE_EQ(parsed, value);
        EXPECT_DOUBLE_EQ(controller.getParamNormalized(bundle.programId()), value);
    }
    // Selecting the current program again is no news (a host echoing it must not loop).
    plugin.host().takeRestartFlags();
    controller.setParamNormalized(bundle.programId(), controller.getParamNormalized(bundle.programId()));
    plugin.process(channels, channels, 64);
    EXPECT_TRUE(plugin.takeReportedValues().empty());
    EXPECT_EQ(plugin.host().takeRestartFlags(), 0);
}

TEST(Vst3Bundle, StateRoundTripsAndBadStatesChangeNothing)
{
    LOAD_BUNDLE(source);
    source.instance->setProgram(4);
    source.controller().setParamNormalized(kAmount, 0.125);
    source.controller().setParamNormalized(kOversample, 0.0);
    vst3host::MemoryStream saved;
    ASSERT_EQ(source.component().getState(&saved), kResultOk);
    const std::vector<std::uint8_t> record = saved.data();
    ASSERT_FALSE(record.empty());

    LOAD_BUNDLE(target);
    target.instance->setProgram(2);
    target.controller().setParamNormalized(kLevel, 0.75);
    const std::vector<float> before = allValues(target.controller());
    const int programBefore = target.instance->program();
    auto refused = [&](std::vector<std::uint8_t> bytes, const char* what) {
        vst3host::MemoryStream stream(std::move(bytes));
        EXPECT_EQ(target.component().setState(&stream), kResultFalse) << what;
        EXPECT_EQ(allValues(target.controller()), before) << what;
        EXPECT_EQ(target.instance->program(), programBefore) << what;
    };
    refused({}, "empty");
    for (std::size_t size = 1; size < record.size(); ++size)
        refused(std::vector<std::uint8_t>(record.begin(), record.begin() + static_cast<std::ptrdiff_t>(size)),
                "truncated");
    std::mt19937 random(17);
    for (int trial = 0; trial < 200; ++trial) {
        std::vector<std::uint8_t> garbage(record.size());
        for (auto& byte : garbage)
            byte = static_cast<std::uint8_t>(random());
        refused(garbage, "garbage");
    }
    std::vector<std::uint8_t> newer = record;
    newer[4] = static_cast<std::uint8_t>(newer[4] + 1); // the version follows the four-byte magic
    refused(newer, "newer version");
    EXPECT_EQ(target.component().setState(nullptr), kInvalidArgument);

    std::vector<std::uint8_t> huge = record;
    huge[9] = 0xff; // a byte count far beyond any record
    refused(huge, "oversized");

    // A host's own bytes after the record stay unread.
    std::vector<std::uint8_t> followed = record;
    followed.insert(followed.end(), {1, 2, 3, 4});
    vst3host::MemoryStream good(followed);
    ASSERT_EQ(target.component().setState(&good), kResultOk);
    std::int64_t position = 0;
    good.tell(&position);
    EXPECT_EQ(position, static_cast<std::int64_t>(record.size()));
    EXPECT_EQ(allValues(target.controller()), allValues(source.controller()));
    EXPECT_EQ(target.instance->program(), 4);
    // The controller's state calls carry the same record.
    vst3host::MemoryStream controllerState;
    ASSERT_EQ(target.controller().getState(&controllerState), kResultOk);
    EXPECT_EQ(controllerState.data(), record);
}

// An impulse through the plug-in: the frame its peak comes out at.
int impulseDelay(Vst3Instance& plugin)
{
    constexpr int frames = 256;
    std::vector<float> left(frames), right(frames), outLeft(frames), outRight(frames);
    float* inputs[2] = {left.data(), right.data()};
    float* outputs[2] = {outLeft.data(), outRight.data()};
    plugin.process(inputs, outputs, frames); // settles the switch fade
    left[0] = right[0] = 0.5f;
    plugin.process(inputs, outputs, frames);
    int peak = 0;
    for (int i = 1; i < frames; ++i)
        if (std::fabs(outLeft[static_cast<std::size_t>(i)]) > std::fabs(outLeft[static_cast<std::size_t>(peak)]))
            peak = i;
    return peak;
}

TEST(Vst3Bundle, LatencyIsTheSixteenTimesPathsDelayAndChangesAreTold)
{
    LOAD_BUNDLE(bundle);
    Vst3Instance& plugin = *bundle.instance;
    plugin.start(44100.0, 256);
    // Flat, no circuit, 0 dB: the delay is the oversampler's alone.
    const std::pair<int, float> flat[] = {{kCharacter, 0.6f}, {kMode, 0.0f}, {kLevel, 0.2f}, {kOversample, 0.0f}};
    for (auto [index, value] : flat)
        plugin.setParameter(index, value);
    plugin.host().takeRestartFlags();
    EXPECT_EQ(plugin.latency(), 0);
    EXPECT_EQ(impulseDelay(plugin), 0);

    plugin.setParameter(kOversample, 1.0f);
    EXPECT_TRUE(plugin.host().takeRestartFlags() & kLatencyChanged);
    EXPECT_EQ(plugin.latency(), 9);
    EXPECT_EQ(impulseDelay(plugin), 9);

    // Automation inside a processing call is told at the host's next UI call.
    plugin.queueParameter(kOversample, 17, 0.0);
    impulseDelay(plugin);
    bundle.controller().setParamNormalized(kDrive, 0.5);
    EXPECT_TRUE(plugin.host().takeRestartFlags() & kLatencyChanged);
    EXPECT_EQ(plugin.latency(), 0);

    // A program or a state that switches oversampling on is told at the
    // host's next UI-thread call, not from inside its own call.
    plugin.setParameter(kOversample, 0.0f);
    plugin.host().takeRestartFlags();
    bundle.controller().setParamNormalized(bundle.programId(), 1.0 / (kNumPrograms - 1)); // "Fat overdrive", 16x
    EXPECT_EQ(plugin.host().takeRestartFlags(), 0);
    bundle.controller().setParamNormalized(kAmount, 0.5);
    EXPECT_EQ(plugin.host().takeRestartFlags(), kLatencyChanged);
    EXPECT_EQ(plugin.latency(), 9);
}

TEST(Vst3Bundle, SetupRefusesRatesOutsideTheDesignRangeAndOddLayouts)
{
    LOAD_BUNDLE(bundle);
    IAudioProcessor& processor = *bundle.instance->processorInterface();
    for (double rate : {11024.0, 192001.0, 0.0, std::nan("")}) {
        ProcessSetup setup{kRealtime, kSample32, 512, rate};
        EXPECT_EQ(processor.setupProcessing(setup), kResultFalse) << rate;
    }
    for (double rate : {11025.0, 44100.0, 192000.0}) {
        ProcessSetup setup{kRealtime, kSample64, 512, rate};
        EXPECT_EQ(processor.setupProcessing(setup), kResultOk) << rate;
    }
    SpeakerArrangement stereo = kSpeakerStereo, mono = kSpeakerMono, surround = 0x3f;
    EXPECT_EQ(processor.setBusArrangements(&stereo, 1, &mono, 1), kResultFalse);
    EXPECT_EQ(processor.setBusArrangements(&surround, 1, &surround, 1), kResultFalse);
    EXPECT_EQ(processor.setBusArrangements(&stereo, 1, &stereo, 1), kResultTrue);
    EXPECT_EQ(processor.canProcessSampleSize(kSample64), kResultTrue);
}

// The same input through both formats, in the same blocks, bit for bit:
// every program, single and double precision, stereo and single-channel,
// with one parameter automated inside the blocks (VST2 hosts split the call
// there; VST3 hosts send the point at its offset).
template <typename Sample> void expectSameOutput(int program, int channels, int blockSize)
{
    LoadedBundle bundle;
    ASSERT_NE(bundle.instance, nullptr) << bundle.error;
    HostedEffect vst2;
    Vst3Instance& vst3 = *bundle.instance;
    vst2.selectProgram(program);
    vst3.setProgram(program);
    vst2.dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    vst2.dispatch(effSetBlockSize, 0, blockSize);
    vst2.dispatch(effMainsChanged, 0, 1);
    vst3.start(48000.0, blockSize);

    constexpr int frames = 4096;
    std::mt19937 random(static_cast<unsigned>(program * 7 + channels));
    std::uniform_real_distribution<double> noise(-0.7, 0.7);
    std::vector<Sample> input[2], vst2Out[2], vst3Out[2];
    for (int ch = 0; ch < 2; ++ch) {
        for (int i = 0; i < frames; ++i)
            input[ch].push_back(static_cast<Sample>(noise(random) * std::sin(i * 0.01)));
        vst2Out[ch].assign(frames, Sample(9));
        vst3Out[ch].assign(frames, Sample(9));
    }
    const int automatedFrame = blockSize / 3 + 1;
    for (int start = 0; start < frames; start += blockSize) {
        const int length = std::min(blockSize, frames - start);
        auto pointers = [&](std::vector<Sample>* buffers, int from) {
            std::array<Sample*, 2> p{buffers[0].data() + start + from,
                                     channels > 1 ? buffers[1].data() + start + from : nullptr};
            return p;
        };
        // The Drive knob moves once inside each block.
        const float drive = static_cast<float>(start % (3 * blockSize)) / (3.0f * blockSize);
        const int split = std::min(automatedFrame, length);
        auto run2 = [&](int from, int count) {
            auto in = pointers(input, from);
            auto out = pointers(vst2Out, from);
            if constexpr (sizeof(Sample) == sizeof(double))
                vst2.effect->processDoubleReplacing(vst2.effect, in.data(), out.data(), count);
            else
                vst2.effect->processReplacing(vst2.effect, in.data(), out.data(), count);
        };
        run2(0, split);
        vst2.set(kDrive, drive);
        run2(split, length - split);

        vst3.queueParameter(kDrive, split, drive);
        auto in = pointers(input, 0);
        auto out = pointers(vst3Out, 0);
        vst3.process(in.data(), out.data(), length);
    }
    for (int ch = 0; ch < channels; ++ch)
        ASSERT_EQ(std::memcmp(vst2Out[ch].data(), vst3Out[ch].data(), frames * sizeof(Sample)), 0)
            << "program " << program << ", " << channels << " channel(s), blocks of " << blockSize << ", "
            << sizeof(Sample) * 8 << "-bit";
}

TEST(Vst3Bundle, EveryProgramGivesTheVst2BuildsOutputBitForBit)
{
    for (int program = 0; program < kNumPrograms; ++program) {
        expectSameOutput<float>(program, 2, 512);
        expectSameOutput<double>(program, 2, 512);
    }
    for (int blockSize : {1, 37, 4096}) {
        expectSameOutput<float>(1, 2, blockSize);
        expectSameOutput<double>(3, 1, blockSize);
    }
}

} // namespace
