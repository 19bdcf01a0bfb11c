// The CLAP parameters against the VST2 build, through the module's entry:
// every text, the texts read back, and the programs as the "Program"
// parameter's steps.
#include "support/ClapPlugin.h"
#include "support/TestHost.h"

#include <set>

namespace {

std::string unitOf(int index)
{
    return index == kDrive || index == kLevel ? " dB" : "";
}

TEST_F(ClapTest, EveryTextIsTheVst2TextWithItsUnitAndReadsBackToItself)
{
    const auto session = initialised();
    HostedEffect vst2;
    const std::vector<clap_param_info_t> infos = session->parameterInfos();
    ASSERT_EQ(infos.size(), 9u);
    for (int index = 0; index < kNumParameters; ++index) {
        const clap_param_info_t& info = infos[static_cast<std::size_t>(index)];
        const int steps = kParameters[static_cast<std::size_t>(index)].steps;
        EXPECT_EQ(info.id, static_cast<clap_id>(index));
        EXPECT_STREQ(info.name, kParameters[static_cast<std::size_t>(index)].name);
        EXPECT_EQ(info.flags, CLAP_PARAM_IS_AUTOMATABLE | (steps ? clap_param_info_flags{CLAP_PARAM_IS_STEPPED} : 0u))
            << info.name;

        // The texts a host shows: every step, or 1,000 values across the
        // range, each at the plain value of the same normalised VST2 value.
        std::vector<std::string> texts;
        if (steps) {
            EXPECT_EQ(info.min_value, 0.0);
            EXPECT_EQ(info.max_value, steps - 1.0);
            std::vector<std::string> vst2Steps;
            for (int k = 0; k <= 4096; ++k) {
                vst2.set(index, static_cast<float>(k) / 4096.0f);
                if (vst2Steps.empty() || vst2Steps.back() != vst2.display(index))
                    vst2Steps.push_back(vst2.display(index));
            }
            ASSERT_EQ(vst2Steps.size(), static_cast<std::size_t>(steps)) << info.name;
            for (int step = 0; step < steps; ++step) {
                texts.push_back(session->valueText(info.id, step).value_or("(none)"));
                EXPECT_EQ(texts.back(), vst2Steps[static_cast<std::size_t>(step)]) << info.name;
            }
        } else {
            for (int k = 0; k < 1000; ++k) {
                const float value = static_cast<float>(k) / 999.0f;
                vst2.set(index, value);
                const double plain = info.min_value + static_cast<double>(value) * (info.max_value - info.min_value);
                texts.push_back(session->valueText(info.id, plain).value_or("(none)"));
                EXPECT_EQ(texts.back(), vst2.display(index) + unitOf(index)) << info.name << " at " << value;
                // Set through an event, the value reads back as it was sent.
                session->flush({clapParameterEvent(info.id, plain)});
                EXPECT_EQ(session->parameterValue(info.id), plain) << info.name;
            }
        }
        for (const std::string& text : texts) {
            const std::optional<double> typed = session->textValue(info.id, text);
            ASSERT_TRUE(typed) << info.name << " \"" << text << "\"";
            EXPECT_EQ(session->valueText(info.id, *typed), text) << info.name;
        }
    }
    // Typed as users type them: without the unit, in other case, by a word.
    EXPECT_EQ(session->textValue(kDrive, "12.5"), 12.5);
    EXPECT_EQ(session->textValue(kMode, "tape"), 2.0);
    EXPECT_EQ(session->textValue(kOversample, "16x"), 1.0);
    EXPECT_FALSE(session->textValue(kLevel, "loud"));
    EXPECT_FALSE(session->textValue(kLevel, "30 dB"));
    // Out of range and not a number: clamped, or refused, never garbage.
    EXPECT_EQ(session->valueText(kLevel, 100.0), "24.00 dB");
    EXPECT_FALSE(session->valueText(kLevel, std::nan("")));
    EXPECT_FALSE(session->valueText(1234, 0.0));
}

TEST_F(ClapTest, TheProgramParameterNamesAndLoadsTheVst2Programs)
{
    const auto session = initialised();
    HostedEffect vst2;
    const clap_param_info_t program = session->parameterInfos().at(kNumParameters);
    EXPECT_EQ(program.id, kProgramId);
    EXPECT_STREQ(program.name, "Program");
    EXPECT_EQ(program.flags, CLAP_PARAM_IS_STEPPED); // a host lists it, never automates it
    EXPECT_EQ(program.max_value, kNumPrograms - 1.0);

    for (int p = 0; p < kNumPrograms; ++p) {
        vst2.selectProgram(p);
        const std::string name = vst2.text(effGetProgramName);
        EXPECT_EQ(session->valueText(kProgramId, p), name);
        EXPECT_EQ(session->textValue(kProgramId, name), p);

        const int rescans = session->valueRescans();
        session->flush({clapParameterEvent(kProgramId, p)});
        session->serviceMainThread();
        EXPECT_EQ(session->parameterValue(kProgramId), p);
        // A program's values are not automation: the host rereads them.
        EXPECT_EQ(session->valueRescans(), rescans + 1);
        for (int index = 0; index < kNumParameters; ++index)
            EXPECT_EQ(session->valueText(index, session->parameterValue(index).value_or(-1.0)),
                      vst2.display(index) + unitOf(index))
                << name << ", " << kParameters[static_cast<std::size_t>(index)].name;
    }
    EXPECT_EQ(session->textValue(kProgramId, "  fat OVERDRIVE "), 1.0);
    EXPECT_EQ(session->textValue(kProgramId, "7"), 7.0);
    EXPECT_FALSE(session->textValue(kProgramId, "16"));
    EXPECT_FALSE(session->textValue(kProgramId, "Init11"));
}

} // namespace
