#include "update/UpdateFlow.h"

// The build defines GRINDLEMARK_DOWNLOAD_PAGE for this file alone, so a new
// address rebuilds nothing else.
const char* builtInDownloadPage()
{
    return GRINDLEMARK_DOWNLOAD_PAGE;
}

void prepareUpdateRequest(UpdateRequest& request, const UpdateIdentity& identity, const char* pageOverride)
{
    request.identity = identity;
    request.downloadPage = pageOverride ? pageOverride : builtInDownloadPage();
}

void runUpdateCheck(const UpdateRequest& request, UpdatePlatform& platform)
{
    std::uint32_t latestVersion = 0;
    if (!request.downloadPage.empty())
        latestVersion =
            platform.fetchLatestVersion(versionRecordAddress(request.downloadPage), request.identity.uniqueId);
    if (request.abandoned.load())
        return;
    const UpdateOutcome outcome = classifyLatestVersion(latestVersion, request.identity.vendorVersion);
    if (platform.tellUser(outcome) && outcome == UpdateOutcome::offerDownload)
        platform.openDownloadPage(request.downloadPage);
}
