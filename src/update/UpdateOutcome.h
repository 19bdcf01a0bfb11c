// What an update check tells the user, and the fixed identity and addresses it
// works with. The addresses are fixed in the program: nothing a user can set
// changes where the check connects.
#pragma once

#include <cstdint>
#include <string>

// Caption of every message box and agent name of the request; the product name.
constexpr char kUpdateCheckCaption[] = "OVK Grindlemark";
// The version this release reports to hosts as its vendor version.
constexpr std::uint32_t kOwnVendorVersion = 1000;

// The maker's download page, opened on request; the version record file sits
// beneath it.
constexpr char kDownloadPageAddress[] = "https://www.ovk-audio.com/grindlemark";
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

// Maps the version read from the record file (0 when none was read) to what the user is told.
constexpr UpdateOutcome classifyLatestVersion(std::uint32_t latestVersion)
{
    if (latestVersion == 0)
        return UpdateOutcome::noInformation;
    return latestVersion == kOwnVendorVersion ? UpdateOutcome::alreadyLatest : UpdateOutcome::offerDownload;
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
