// The Windows side of the update check: the thread routine, the download of
// the version record, and a way in for tests. Include only from Windows code.
#pragma once

#include "update/UpdateCheck.h"

#include <windows.h>
#include <wininet.h>

#include <cstdint>

// Always from the server, never into the cache, no cookies, no dialogs.
constexpr DWORD kVersionRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES |
                                       INTERNET_FLAG_NO_UI | INTERNET_FLAG_PRAGMA_NOCACHE;
constexpr DWORD kConnectTimeoutMs = 10000;
// A server that stops sending for this long ends the check.
constexpr DWORD kReceiveTimeoutMs = 10000;

// Thread routine of one check; parameter is the heap reference to its
// UpdateCheckJob that startUpdateCheck made, which this takes over. Ends the
// thread with exit code 0 and drops the thread's reference to the library.
DWORD WINAPI updateCheckThread(void* parameter);

// Downloads the record file at recordAddress through the open internet handle
// and returns the version recorded for uniqueId, or 0 when the file cannot be
// read, is not a success response, or has no complete record for it. Closes
// the internet handle before returning. Blocks on the network.
std::uint32_t fetchLatestVersion(HINTERNET internet, const char* recordAddress, std::uint32_t uniqueId);

// The calls through which a check meets the user, and the one that releases
// a finished check's thread handle.
using UpdateMessageBoxFunction = int(WINAPI*)(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
using UpdateShellExecuteFunction = HINSTANCE(WINAPI*)(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                                                      LPCSTR directory, INT show);
using UpdateCloseHandleFunction = BOOL(WINAPI*)(HANDLE handle);

// For tests only; no setting, file or environment leads here. Checks started
// while these are set show their messages through messageBox, open pages
// through shellExecute, use downloadPage (for example an http address on
// 127.0.0.1; "" for a build without an address) in place of the build's
// address, and release thread handles through closeHandle, which must close
// them. Null members and a null hooks pointer keep the real behaviour.
// Editor's thread.
struct UpdateCheckTestHooks {
    UpdateMessageBoxFunction messageBox;
    UpdateShellExecuteFunction shellExecute;
    const char* downloadPage;
    UpdateCloseHandleFunction closeHandle;
};
void setUpdateCheckTestHooks(const UpdateCheckTestHooks* hooks);
