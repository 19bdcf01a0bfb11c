// The Linux side of the update check: the download over libcurl, the dialog
// on the X server, the browser, and a way in for tests. Include only from
// code that builds off Windows.
#pragma once

#include "update/UpdateCheck.h"

#include <cstdint>
#include <string>

// A connection that takes longer than this fails the check.
constexpr long kConnectTimeoutMs = 10000;
// A server that sends nothing for this long ends the check.
constexpr long kStalledTransferSeconds = 10;

// Downloads the record file at recordAddress and returns the version recorded
// for uniqueId, or 0 when the file cannot be read, is not a success response,
// has no complete record for it, or libcurl cannot be loaded. libcurl is
// loaded on the first call and stays loaded. Blocks on the network.
std::uint32_t fetchLatestVersionOverCurl(const std::string& recordAddress, std::uint32_t uniqueId);

// The three kinds of message a check shows, as the Windows build's message
// boxes: a warning or an information with OK, a question with Yes and No.
enum class UpdateDialogKind { warning, information, question };

// Shows text under caption in a small window of its own on displayName (null:
// the user's display), transient for the top-level window that holds
// ownerWindow while that still exists. Waits for the user on its own X
// connection; the close button and Escape count as No (or OK), Return as the
// first button. Returns true only for Yes; false at once when no display can
// be opened.
bool showUpdateDialog(const char* displayName, std::uintptr_t ownerWindow, const char* text, const char* caption,
                      UpdateDialogKind kind);

// Hands page to xdg-open and returns without waiting for the browser.
void openInBrowser(const std::string& page);

// For tests only; no setting, file or environment leads here. Checks started
// while these are set show their outcome through showDialog (or the real
// dialog on displayName), open pages through openPage, and use downloadPage
// (for example an http address on 127.0.0.1; "" for a build without an
// address) in place of the build's address. Null members and a null hooks
// pointer keep the real behaviour. Editor's thread.
using UpdateDialogFunction = bool (*)(std::uintptr_t ownerWindow, const char* text, const char* caption,
                                      UpdateDialogKind kind);
using UpdateOpenPageFunction = void (*)(const std::string& page);
struct UpdateCheckTestHooks {
    UpdateDialogFunction showDialog;
    UpdateOpenPageFunction openPage;
    const char* downloadPage;
    const char* displayName;
};
void setUpdateCheckTestHooks(const UpdateCheckTestHooks* hooks);

// True once the check that job belongs to has ended (its thread may still be
// on its way out). Any thread.
bool updateCheckFinished(const UpdateCheckJob& job);
