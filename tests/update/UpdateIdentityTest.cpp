// What the update check compares and where it looks, independent of platform.
#include "support/TestHost.h"
#include "update/UpdateFlow.h"

#include <string>
#include <vector>

namespace {

TEST(UpdateIdentity, CaptionIsTheProductAndOurIdReadsReversedInTheFile)
{
    HostedEffect host;
    ASSERT_NE(host.effect, nullptr);
    EXPECT_EQ(host.text(effGetProductString), kUpdateCheckCaption);

    // The record file holds the ID little-endian: 'Qm4T' reads "T4mQ".
    const auto id = static_cast<std::uint32_t>(host.effect->uniqueID);
    const char fileOrder[4] = {static_cast<char>(id), static_cast<char>(id >> 8), static_cast<char>(id >> 16),
                               static_cast<char>(id >> 24)};
    EXPECT_EQ(std::string(fileOrder, 4), "T4mQ");
}

TEST(UpdateIdentity, OnlyTheCallersOwnVersionCountsAsLatest)
{
    for (std::uint32_t own : {1000u, 1001u}) {
        EXPECT_EQ(classifyLatestVersion(0, own), UpdateOutcome::noInformation);
        EXPECT_EQ(classifyLatestVersion(own, own), UpdateOutcome::alreadyLatest);
        for (std::uint32_t other : {1u, own - 1, own + 1, 0xFFFFFFFFu})
            EXPECT_EQ(classifyLatestVersion(other, own), UpdateOutcome::offerDownload) << other;
    }
}

TEST(UpdateIdentity, BuiltInPageIsSecureOrAbsent)
{
    const std::string page = builtInDownloadPage();
    if (!page.empty()) {
        EXPECT_EQ(page.rfind("https://", 0), 0u);
        EXPECT_NE(page.back(), '/');
    }
    EXPECT_EQ(versionRecordAddress("https://example.org/a"), "https://example.org/a/versions.dat");
}

// Stands in for a platform, recording what the check asked of it.
class RecordingPlatform : public UpdatePlatform {
public:
    std::uint32_t fetchLatestVersion(const std::string& recordAddress, std::uint32_t uniqueId) override
    {
        fetched.push_back(recordAddress);
        askedId = uniqueId;
        return latestVersion;
    }
    bool tellUser(UpdateOutcome outcome) override
    {
        told.push_back(outcome);
        return reply;
    }
    void openDownloadPage(const std::string& page) override { opened.push_back(page); }

    std::uint32_t latestVersion = 0;
    bool reply = true;
    std::uint32_t askedId = 0;
    std::vector<std::string> fetched;
    std::vector<UpdateOutcome> told;
    std::vector<std::string> opened;
};

TEST(UpdateFlow, AddressIdentityAndAnswerReachThePlatformAndNoAddressMeansNoNetwork)
{
    UpdateRequest request;
    prepareUpdateRequest(request, {0x516D3454u, 1000}, "https://example.org/gm");
    RecordingPlatform platform;
    platform.latestVersion = 1001;
    runUpdateCheck(request, platform);
    EXPECT_EQ(platform.fetched, std::vector<std::string>{"https://example.org/gm/versions.dat"});
    EXPECT_EQ(platform.askedId, 0x516D3454u);
    EXPECT_EQ(platform.opened, std::vector<std::string>{"https://example.org/gm"});

    // No page opens for an answer that is not an offer, whatever the reply,
    // and nothing shows once the editor has gone.
    platform.latestVersion = 1000;
    platform.opened.clear();
    runUpdateCheck(request, platform);
    EXPECT_EQ(platform.told.back(), UpdateOutcome::alreadyLatest);
    EXPECT_TRUE(platform.opened.empty());
    request.abandoned.store(true);
    runUpdateCheck(request, platform);
    EXPECT_EQ(platform.told.size(), 2u);

    // A build without an address: the failure message, and no download at all.
    UpdateRequest withoutPage;
    prepareUpdateRequest(withoutPage, {0x516D3454u, 1000}, "");
    RecordingPlatform offline;
    offline.latestVersion = 1001;
    runUpdateCheck(withoutPage, offline);
    EXPECT_TRUE(offline.fetched.empty());
    EXPECT_EQ(offline.told, std::vector<UpdateOutcome>{UpdateOutcome::noInformation});
    EXPECT_TRUE(offline.opened.empty());

    // Without an override the build's own page counts.
    prepareUpdateRequest(withoutPage, {1, 2}, nullptr);
    EXPECT_EQ(withoutPage.downloadPage, builtInDownloadPage());
}

} // namespace
