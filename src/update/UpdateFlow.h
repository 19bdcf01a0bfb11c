// The part of one update check that is the same on every platform: what the
// thread is given, the address the build carries, and the order of the steps.
// The platform supplies the download, the dialog and the browser.
#pragma once

#include "update/UpdateCheck.h"
#include "update/UpdateOutcome.h"

#include <atomic>
#include <cstdint>
#include <string>

// The download page this build carries (the GRINDLEMARK_DOWNLOAD_PAGE build
// setting), or "" when it carries none: such a build never touches the
// network, and every check ends with the failure message.
const char* builtInDownloadPage();

// What one check thread works with, copied when it starts: the thread never
// looks at the editor, which may be gone before it finishes.
struct UpdateRequest {
    UpdateIdentity identity;
    std::string downloadPage;
    std::atomic<bool> abandoned{false}; // set by the editor's thread when the editor goes
};

// Fills a new request on the editor's thread. pageOverride replaces the
// build's page (tests only; null keeps the build's, "" stands for a build
// without one). Allocates.
void prepareUpdateRequest(UpdateRequest& request, const UpdateIdentity& identity, const char* pageOverride);

// What a platform does for a check; all of it runs on the check's thread.
class UpdatePlatform {
public:
    virtual ~UpdatePlatform() = default;
    // Downloads the record file and returns the version recorded for
    // uniqueId, or 0 when it cannot be read, is not a success response or has
    // no complete record for it. Blocks on the network.
    virtual std::uint32_t fetchLatestVersion(const std::string& recordAddress, std::uint32_t uniqueId) = 0;
    // Shows the outcome's message and waits for the user; true only when the
    // user chose to go to the download page.
    virtual bool tellUser(UpdateOutcome outcome) = 0;
    virtual void openDownloadPage(const std::string& page) = 0;
};

// The whole check after its thread starts: download (unless the build has no
// page), stop silently if the editor has gone meanwhile, tell the user, and
// open the page if asked to.
void runUpdateCheck(const UpdateRequest& request, UpdatePlatform& platform);
