// The state through CLAP's streams: what one instance saves another restores,
// whatever sizes the host reads in; a truncated, foreign, newer or unreadable
// state is refused and changes nothing.
#include "support/ClapPlugin.h"

namespace {

std::vector<double> valuesOf(ClapSession& session)
{
    std::vector<double> values;
    for (const clap_param_info_t& info : session.parameterInfos())
        values.push_back(session.parameterValue(info.id).value_or(-1.0));
    return values;
}

TEST_F(ClapTest, StateRoundTripsAndBadStatesChangeNothing)
{
    const auto source = initialised();
    source->flush({clapParameterEvent(kProgramId, 4)});
    source->flush({clapParameterEvent(kDrive, 7.5), clapParameterEvent(kOversample, 0.0)});
    const std::optional<std::vector<std::uint8_t>> saved = source->saveState();
    ASSERT_TRUE(saved && saved->size() > 16);

    const auto target = initialised();
    for (std::size_t chunk : {saved->size(), std::size_t{3}, std::size_t{1}}) {
        target->flush({clapParameterEvent(kProgramId, 9), clapParameterEvent(kLevel, 20.0)});
        EXPECT_TRUE(target->loadState(*saved, chunk)) << "read in pieces of " << chunk;
        EXPECT_EQ(valuesOf(*target), valuesOf(*source));
    }

    target->flush({clapParameterEvent(kDrive, 2.0)});
    const std::vector<double> before = valuesOf(*target);
    std::vector<std::vector<std::uint8_t>> refused;
    for (std::size_t size = 0; size < saved->size(); ++size)
        refused.emplace_back(saved->begin(), saved->begin() + static_cast<std::ptrdiff_t>(size));
    std::vector<std::uint8_t> longer = *saved;
    longer.push_back(0);
    std::vector<std::uint8_t> newer = *saved;
    newer[4] = 2; // the version after the magic
    std::vector<std::uint8_t> garbage(saved->size());
    for (std::size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<std::uint8_t>(i * 37 + 11);
    const std::vector<std::uint8_t> foreign = {'{', '"', 'd', 'r', 'i', 'v', 'e', '"', ':', '1', '}'};
    refused.insert(refused.end(), {longer, newer, garbage, foreign, std::vector<std::uint8_t>(1 << 17, 0)});
    for (const std::vector<std::uint8_t>& bytes : refused) {
        EXPECT_FALSE(target->loadState(bytes)) << bytes.size() << " bytes";
        EXPECT_EQ(valuesOf(*target), before) << bytes.size() << " bytes";
    }
    // A stream that fails halfway through.
    EXPECT_FALSE(target->loadState(*saved, 4, std::size_t{8}));
    EXPECT_EQ(valuesOf(*target), before);
}

} // namespace
