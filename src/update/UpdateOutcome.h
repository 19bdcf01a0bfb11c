// What an update check tells the user. The address it works with is chosen
// when the program is built (UpdateFlow.h): nothing a user can set changes
// where the check connects.
#pragma once

#include <cstdint>
#include <string>

// Caption of every message box and agent name of the request; the product name.
constexpr char kUpdateCheckCaption[] = "OVK Grindlemark";

// The version record file sits beneath the download page.
constexpr char kVersionRecordFileName[] = "/versions.dat";

inline std::string versionRecordAddress(const std::string& downloadPage)
{
    return downloadPage + kVersionRecordFileName;
}

enum class UpdateOutcome {
    noInformation, // nothing usable was read (version 0)
    alreadyLatest, // the record names this release's version
    offerDownload, // any other version, older ones included
};

// Maps the version read from the record file (0 when none was read) to what
// the user of the release with ownVersion is told.
constexpr UpdateOutcome classifyLatestVersion(std::uint32_t latestVersion, std::uint32_t ownVersion)
{
    if (latestVersion == 0)
        return UpdateOutcome::noInformation;
    return latestVersion == ownVersion ? UpdateOutcome::alreadyLatest : UpdateOutcome::offerDownload;
}

constexpr const char* updateMessageText(UpdateOutcome outcome)
{
    switch (outcome) {
    case UpdateOutcome::alreadyLatest:
        return "You are already using the latest version";
    case UpdateOutcome::offerDownload:
        return "New version is available. Proceed to download page?";
    case UpdateOutcome::noInformation:
        break;
    }
    return "Couldn't retreive update information at this moment";
}
