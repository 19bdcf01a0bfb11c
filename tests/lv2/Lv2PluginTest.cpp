// The LV2 bundle as hosts meet it: its description read by lilv against the
// parameter and program tables, its presets against the VST2 build's
// programs, and its sound, latency and answers to bad input through the
// plug-in's own descriptor, beside the VST2 build loaded as a DAW loads it.
#include "lv2/Lv2TestHost.h"

#include "Vst2Instance.h"
#include "format/FormatLayer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace {

constexpr double kRate = 44100.0;
constexpr int kBlock = 256;
// Ragged runs up to the announced block, as hosts give them.
constexpr int kRuns[] = {256, 1, 100, 255, 64, 3, 256, 17};

struct Stereo {
    std::vector<float> left, right;
};

// A plucked-string-like phrase, different on each side, loud enough to
// saturate and quiet enough at its ends to exercise the limiter's release.
Stereo phrase(int frames)
{
    Stereo signal{std::vector<float>(static_cast<std::size_t>(frames)),
                  std::vector<float>(static_cast<std::size_t>(frames))};
    for (int i = 0; i < frames; ++i) {
        const double t = i / kRate;
        const double envelope = std::exp(-3.0 * std::fmod(t, 0.25)) * std::min(1.0, t * 200.0);
        signal.left[static_cast<std::size_t>(i)] = static_cast<float>(
            envelope * (0.5 * std::sin(2 * M_PI * 110.0 * t) + 0.2 * std::sin(2 * M_PI * 1230.0 * t)));
        signal.right[static_cast<std::size_t>(i)] = static_cast<float>(
            envelope * (0.4 * std::sin(2 * M_PI * 164.8 * t) + 0.1 * std::sin(2 * M_PI * 2500.0 * t)));
    }
    return signal;
}

// The VST2 build, loaded through its entry point as the host tool does.
class Vst2Build {
public:
    Vst2Build(double rate, int blockSize)
    {
        std::string error;
        if (module.load(GRINDLEMARK_VST2_PLUGIN, error))
            instance = module.instantiate(error);
        if (instance)
            instance->start(rate, blockSize);
    }
    PluginInstance* operator->() { return instance.get(); }
    explicit operator bool() const { return instance != nullptr; }

private:
    Vst2Module module;
    std::unique_ptr<PluginInstance> instance;
};

// Runs `input` through both formats in the same runs; the left (and right,
// unless `single`) outputs of each.
struct Outputs {
    Stereo vst2, lv2;
};

template <typename Runs>
Outputs render(Vst2Build& vst2, Lv2TestInstance& lv2, const Stereo& input, const Runs& runs, bool single = false)
{
    const std::size_t frames = input.left.size();
    Outputs out{{std::vector<float>(frames), std::vector<float>(frames)},
                {std::vector<float>(frames), std::vector<float>(frames)}};
    lv2.activate();
    std::size_t done = 0;
    for (std::size_t run = 0; done < frames; ++run) {
        const auto count = std::min<std::size_t>(static_cast<std::size_t>(runs[run % std::size(runs)]), frames - done);
        float* inputs[2] = {const_cast<float*>(input.left.data()) + done,
                            single ? nullptr : const_cast<float*>(input.right.data()) + done};
        float* outputs[2] = {out.vst2.left.data() + done, single ? nullptr : out.vst2.right.data() + done};
        vst2->process(inputs, outputs, static_cast<int>(count));
        lv2.connectAudio(inputs[0], inputs[1], out.lv2.left.data() + done,
                         single ? nullptr : out.lv2.right.data() + done);
        lv2.run(static_cast<std::uint32_t>(count));
        done += count;
    }
    return out;
}

bool bitIdentical(const std::vector<float>& a, const std::vector<float>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

class Lv2Entry : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(bundle.plugin, nullptr) << "no plug-in in " << GRINDLEMARK_LV2_BUNDLE; }

    std::string string(const LilvNode* node) { return node ? lilv_node_as_string(node) : ""; }
    bool has(const LilvPort* port, const char* property)
    {
        return lilv_port_has_property(bundle.plugin, port, bundle.node(std::string(LV2_CORE_PREFIX) + property));
    }

    Lv2Bundle bundle;
};

TEST_F(Lv2Entry, PortsAndScalePointsAreTheParameterTableAndTheVst2Texts)
{
    ASSERT_EQ(lilv_plugin_get_num_ports(bundle.plugin), static_cast<std::uint32_t>(kLv2PortCount));
    Vst2Build vst2(kRate, kBlock);
    ASSERT_TRUE(vst2);
    std::vector<float> minimum(kLv2PortCount), maximum(kLv2PortCount), defaults(kLv2PortCount);
    lilv_plugin_get_port_ranges_float(bundle.plugin, minimum.data(), maximum.data(), defaults.data());
    LilvNode* input = bundle.node(LV2_CORE__InputPort);
    LilvNode* control = bundle.node(LV2_CORE__ControlPort);
    LilvNode* unit = bundle.node("http://lv2plug.in/ns/extensions/units#unit");
    for (const FormatParameter& facts : formatParameters()) {
        SCOPED_TRACE(facts.symbol);
        const LilvPort* port = lilv_plugin_get_port_by_index(bundle.plugin, static_cast<std::uint32_t>(facts.id));
        EXPECT_EQ(string(lilv_port_get_symbol(bundle.plugin, port)), facts.symbol);
        LilvNode* name = lilv_port_get_name(bundle.plugin, port);
        EXPECT_EQ(string(name), facts.name);
        lilv_node_free(name);
        EXPECT_TRUE(lilv_port_is_a(bundle.plugin, port, input) && lilv_port_is_a(bundle.plugin, port, control));
        EXPECT_EQ(minimum[facts.id], static_cast<float>(facts.displayMin));
        EXPECT_EQ(maximum[facts.id], static_cast<float>(facts.displayMax));
        // The default is program 0's value, exactly.
        EXPECT_EQ(valueOfDisplayUnits(facts.id, defaults[facts.id]), kFactoryPrograms[0].values[facts.id]);
        LilvNodes* units = lilv_port_get_value(bundle.plugin, port, unit);
        EXPECT_EQ(units ? string(lilv_nodes_get_first(units)) : "",
                  std::string(facts.unit) == "dB" ? "http://lv2plug.in/ns/extensions/units#db" : "");
        lilv_nodes_free(units);

        LilvScalePoints* points = lilv_port_get_scale_points(bundle.plugin, port);
        if (facts.stepCount == 0) {
            EXPECT_EQ(points, nullptr);
            EXPECT_FALSE(has(port, "integer") || has(port, "enumeration") || has(port, "toggled"));
            continue;
        }
        EXPECT_TRUE(has(port, "integer"));
        EXPECT_NE(has(port, "toggled"), has(port, "enumeration"));
        EXPECT_EQ(has(port, "toggled"), facts.id == kEnable);
        ASSERT_EQ(lilv_scale_points_size(points), static_cast<unsigned>(facts.stepCount + 1));
        LILV_FOREACH(scale_points, i, points)
        {
            const LilvScalePoint* point = lilv_scale_points_get(points, i);
            const float step = lilv_node_as_float(lilv_scale_point_get_value(point));
            // Each label is the text the VST2 build shows for that step.
            vst2->setParameter(facts.id, valueOfDisplayUnits(facts.id, step));
            EXPECT_EQ(string(lilv_scale_point_get_label(point)), vst2->parameterDisplay(facts.id)) << "step " << step;
        }
        lilv_scale_points_free(points);
    }

    LilvNode* audio = bundle.node(LV2_CORE__AudioPort);
    EXPECT_EQ(lilv_plugin_get_num_ports_of_class(bundle.plugin, audio, input, nullptr), 2u);
    EXPECT_EQ(lilv_plugin_get_num_ports_of_class(bundle.plugin, audio, bundle.node(LV2_CORE__OutputPort), nullptr), 2u);
    ASSERT_TRUE(lilv_plugin_has_latency(bundle.plugin));
    EXPECT_EQ(lilv_plugin_get_latency_port_index(bundle.plugin), static_cast<std::uint32_t>(kLv2Latency));

    // One X11 editor in the plug-in's own binary.
    LilvUIs* uis = lilv_plugin_get_uis(bundle.plugin);
    ASSERT_EQ(lilv_uis_size(uis), 1u);
    const LilvUI* ui = lilv_uis_get(uis, lilv_uis_begin(uis));
    EXPECT_EQ(string(lilv_ui_get_uri(ui)), kLv2EditorUri);
    EXPECT_TRUE(lilv_ui_is_a(ui, bundle.node("http://lv2plug.in/ns/extensions/ui#X11UI")));
    EXPECT_EQ(string(lilv_ui_get_binary_uri(ui)), string(lilv_plugin_get_library_uri(bundle.plugin)));
    lilv_uis_free(uis);
}

TEST_F(Lv2Entry, PresetsAreTheFactoryProgramsAndSoundBitIdenticalToTheVst2Programs)
{
    LilvNodes* presets = lilv_plugin_get_related(bundle.plugin, bundle.node(LV2_PRESETS__Preset));
    EXPECT_EQ(lilv_nodes_size(presets), static_cast<unsigned>(kNumPrograms));
    lilv_nodes_free(presets);

    const Stereo input = phrase(6000);
    for (int program = 0; program < kNumPrograms; ++program) {
        const ProgramRecord& record = kFactoryPrograms[static_cast<std::size_t>(program)];
        SCOPED_TRACE(record.name);
        LilvNode* preset = bundle.node(kLv2PresetUriPrefix + std::to_string(program));
        lilv_world_load_resource(bundle.world, preset);
        LilvNodes* labels = lilv_world_find_nodes(bundle.world, preset, bundle.node(LILV_NS_RDFS "label"), nullptr);
        EXPECT_EQ(labels ? string(lilv_nodes_get_first(labels)) : "", std::string(record.name));
        lilv_nodes_free(labels);

        Vst2Build vst2(kRate, kBlock);
        ASSERT_TRUE(vst2);
        vst2->setProgram(program);
        Lv2TestInstance lv2(bundle, kRate, kBlock);
        ASSERT_NE(lv2.instance, nullptr);
        ASSERT_TRUE(lv2.applyPreset(program));
        EXPECT_EQ(lv2.presetPortsSet, kNumParameters);
        // The preset's port values give exactly the values setProgram sets.
        for (int id = 0; id < kNumParameters; ++id)
            EXPECT_EQ(valueOfDisplayUnits(id, lv2.controls[id]), vst2->parameter(id)) << formatParameters()[id].symbol;

        const Outputs out = render(vst2, lv2, input, kRuns);
        EXPECT_TRUE(bitIdentical(out.lv2.left, out.vst2.left));
        EXPECT_TRUE(bitIdentical(out.lv2.right, out.vst2.right));
    }
}

TEST_F(Lv2Entry, TheLatencyPortFollowsOversample)
{
    Lv2TestInstance lv2(bundle, kRate, kBlock);
    ASSERT_NE(lv2.instance, nullptr);
    lv2.activate();
    lv2.run(0);
    EXPECT_EQ(lv2.latency, 0.0f); // program 0 runs at the host rate
    lv2.controls[kOversample] = 1.0f;
    lv2.run(0);
    EXPECT_EQ(lv2.latency, 9.0f);
    lv2.controls[kOversample] = 0.0f;
    lv2.run(64);
    EXPECT_EQ(lv2.latency, 0.0f);
}

TEST_F(Lv2Entry, RefusesRatesOutsideItsRangeAndRunsWithoutAnyFeature)
{
    for (double rate : {0.0, -44100.0, 8000.0, 11024.9, 192000.5, 1e9, std::numeric_limits<double>::quiet_NaN(),
                        std::numeric_limits<double>::infinity()}) {
        Lv2TestInstance refused(bundle, rate, kBlock);
        EXPECT_EQ(refused.instance, nullptr) << rate;
    }
    for (double rate : {11025.0, 192000.0}) {
        Lv2TestInstance taken(bundle, rate, kBlock);
        EXPECT_NE(taken.instance, nullptr) << rate;
    }

    // No features at all, nothing connected, runs of 0 frames and of many.
    Lv2TestInstance bare(bundle, kRate, 0, false);
    ASSERT_NE(bare.instance, nullptr);
    for (std::uint32_t port = 0; port < kLv2PortCount; ++port)
        lilv_instance_connect_port(bare.instance, port, nullptr);
    lilv_instance_connect_port(bare.instance, kLv2PortCount, &bare.latency); // not a port: ignored
    bare.activate();
    bare.run(0);
    bare.run(4096);
    // Outputs without inputs are silent rather than left as they were.
    std::vector<float> left(300, 7.0f), right(300, 7.0f);
    bare.connectAudio(nullptr, nullptr, left.data(), right.data());
    bare.run(300);
    EXPECT_EQ(left, std::vector<float>(300, 0.0f));
    EXPECT_EQ(right, std::vector<float>(300, 0.0f));
}

TEST_F(Lv2Entry, BadPortValuesAndLongRunsSoundAsTheirNearestGoodOnes)
{
    const Stereo input = phrase(3000);
    // Out-of-range values are limited to the port's range; a non-number
    // leaves the parameter where it was; a stepped port takes its nearest step.
    Vst2Build vst2(kRate, kBlock);
    ASSERT_TRUE(vst2);
    Lv2TestInstance lv2(bundle, kRate, kBlock);
    ASSERT_NE(lv2.instance, nullptr);
    lv2.controls[kDrive] = 1000.0f;
    lv2.controls[kLevel] = -50.0f;
    lv2.controls[kAmount] = std::numeric_limits<float>::infinity();
    lv2.controls[kCharacter] = std::numeric_limits<float>::quiet_NaN();
    lv2.controls[kMode] = 1.7f;
    lv2.controls[kOversample] = 0.6f;
    vst2->setParameter(kDrive, 1.0f);
    vst2->setParameter(kLevel, 0.0f);
    vst2->setParameter(kAmount, 1.0f);
    vst2->setParameter(kMode, valueOfDisplayUnits(kMode, 2));
    vst2->setParameter(kOversample, 1.0f);
    Outputs out = render(vst2, lv2, input, kRuns);
    EXPECT_TRUE(bitIdentical(out.lv2.left, out.vst2.left));
    EXPECT_TRUE(bitIdentical(out.lv2.right, out.vst2.right));
    EXPECT_EQ(lv2.latency, 9.0f);

    // Runs longer than the block the host announced are processed whole: the
    // same sound as a host announcing a block that fits them.
    Vst2Build roomy(kRate, 4096);
    Lv2TestInstance cramped(bundle, kRate, 64);
    const int longRuns[] = {1000, 2000};
    out = render(roomy, cramped, input, longRuns);
    EXPECT_TRUE(bitIdentical(out.lv2.left, out.vst2.left));
    EXPECT_TRUE(bitIdentical(out.lv2.right, out.vst2.right));

    // Only the left side connected: the single-channel layout, as in VST2.
    Vst2Build single(kRate, kBlock);
    Lv2TestInstance leftOnly(bundle, kRate, kBlock);
    out = render(single, leftOnly, input, kRuns, true);
    EXPECT_TRUE(bitIdentical(out.lv2.left, out.vst2.left));
    // A right output without a right input carries the left result.
    std::vector<float> left(512), right(512, 7.0f);
    leftOnly.connectAudio(input.left.data(), nullptr, left.data(), right.data());
    leftOnly.run(512);
    EXPECT_EQ(left, right);
}

} // namespace
