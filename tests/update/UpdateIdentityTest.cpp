// The update check compares against the identity the plug-in reports to hosts;
// the two must not drift apart.
#include "support/TestHost.h"
#include "update/UpdateOutcome.h"

#include <cstring>
#include <string>

namespace {

TEST(UpdateIdentity, MatchesWhatTheEffectReports)
{
    HostedEffect host;
    ASSERT_NE(host.effect, nullptr);
    EXPECT_EQ(host.dispatch(effGetVendorVersion), static_cast<VstIntPtr>(kOwnVendorVersion));
    EXPECT_EQ(host.text(effGetProductString), kUpdateCheckCaption);

    // The record file holds the ID little-endian: 'Qm4T' reads "T4mQ".
    const auto id = static_cast<std::uint32_t>(host.effect->uniqueID);
    const char fileOrder[4] = {static_cast<char>(id), static_cast<char>(id >> 8), static_cast<char>(id >> 16),
                               static_cast<char>(id >> 24)};
    EXPECT_EQ(std::string(fileOrder, 4), "T4mQ");
}

TEST(UpdateIdentity, OnlyOurOwnVersionCountsAsLatest)
{
    EXPECT_EQ(classifyLatestVersion(0), UpdateOutcome::noInformation);
    EXPECT_EQ(classifyLatestVersion(1000), UpdateOutcome::alreadyLatest);
    for (std::uint32_t other : {1u, 999u, 1001u, 0xFFFFFFFFu})
        EXPECT_EQ(classifyLatestVersion(other), UpdateOutcome::offerDownload) << other;
}

TEST(UpdateIdentity, RecordFileSitsBeneathTheSecureDownloadPage)
{
    const std::string page = kDownloadPageAddress;
    EXPECT_EQ(page.rfind("https://", 0), 0u);
    EXPECT_NE(page.back(), '/');
    EXPECT_EQ(versionRecordAddress(page), page + "/versions.dat");
}

} // namespace
