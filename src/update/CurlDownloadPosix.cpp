#include "update/UpdateCheckPosix.h"

#include "update/UpdateOutcome.h"
#include "update/VersionRecordScan.h"

// The bit-mask protocol options work with every libcurl a system may have,
// which the newer text forms do not.
#define CURL_DISABLE_DEPRECATION
#include <curl/curl.h>
#include <dlfcn.h>

#include <mutex>

namespace {

// The few libcurl functions a check needs, looked up in the library loaded at
// the first check. Linking libcurl instead would keep the plug-in from loading
// on a system without it.
struct CurlLibrary {
    CURLcode (*globalInit)(long flags) = nullptr;
    CURL* (*easyInit)() = nullptr;
    CURLcode (*easySetopt)(CURL* handle, CURLoption option, ...) = nullptr;
    CURLcode (*easyPerform)(CURL* handle) = nullptr;
    CURLcode (*easyGetinfo)(CURL* handle, CURLINFO info, ...) = nullptr;
    void (*easyCleanup)(CURL* handle) = nullptr;
    curl_slist* (*slistAppend)(curl_slist* list, const char* text) = nullptr;
    void (*slistFreeAll)(curl_slist* list) = nullptr;
    bool ready = false;
};

template <typename Function> bool lookUp(void* library, Function& function, const char* name)
{
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

// Loads and initialises libcurl once per process and never unloads it:
// global initialisation and clean-up are not safe while another check (of
// another editor) may be running.
const CurlLibrary& curlLibrary()
{
    static CurlLibrary curl;
    static std::once_flag loaded;
    std::call_once(loaded, [] {
        void* library = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return;
        curl.ready = lookUp(library, curl.globalInit, "curl_global_init") &&
                     lookUp(library, curl.easyInit, "curl_easy_init") &&
                     lookUp(library, curl.easySetopt, "curl_easy_setopt") &&
                     lookUp(library, curl.easyPerform, "curl_easy_perform") &&
                     lookUp(library, curl.easyGetinfo, "curl_easy_getinfo") &&
                     lookUp(library, curl.easyCleanup, "curl_easy_cleanup") &&
                     lookUp(library, curl.slistAppend, "curl_slist_append") &&
                     lookUp(library, curl.slistFreeAll, "curl_slist_free_all") &&
                     curl.globalInit(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    });
    return curl;
}

struct Transfer {
    const CurlLibrary& curl;
    CURL* handle;
    VersionRecordScanner scanner;
};

// Feeds the body to the scanner as it arrives; ends the transfer once the
// record is found, or at once when the answer is not a success (an error page
// is not a record file, whatever bytes it happens to hold).
std::size_t receiveBody(char* data, std::size_t size, std::size_t count, void* user)
{
    auto& transfer = *static_cast<Transfer*>(user);
    long status = 0;
    transfer.curl.easyGetinfo(transfer.handle, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200)
        return 0;
    const std::size_t bytes = size * count;
    return transfer.scanner.feed(reinterpret_cast<const unsigned char*>(data), bytes) ? 0 : bytes;
}

} // namespace

std::uint32_t fetchLatestVersionOverCurl(const std::string& recordAddress, std::uint32_t uniqueId)
{
    const CurlLibrary& curl = curlLibrary();
    if (!curl.ready)
        return 0;
    CURL* handle = curl.easyInit();
    if (!handle)
        return 0;
    // Always from the server, never from a cache on the way.
    curl_slist* headers = curl.slistAppend(nullptr, "Pragma: no-cache");
    curl_slist* withCacheControl = headers ? curl.slistAppend(headers, "Cache-Control: no-cache") : nullptr;
    if (withCacheControl)
        headers = withCacheControl;

    Transfer transfer{curl, handle, VersionRecordScanner(uniqueId)};
    curl.easySetopt(handle, CURLOPT_URL, recordAddress.c_str());
    curl.easySetopt(handle, CURLOPT_USERAGENT, kUpdateCheckCaption);
    curl.easySetopt(handle, CURLOPT_HTTPHEADER, headers);
    // Signals belong to the host; time-outs must not raise any.
    curl.easySetopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl.easySetopt(handle, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    // Without this a server that accepts and then falls silent would keep the
    // check, and with it the update button, busy for as long as it likes.
    curl.easySetopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl.easySetopt(handle, CURLOPT_LOW_SPEED_TIME, kStalledTransferSeconds);
    // The page may move within the maker's site, but never off secure transport.
    curl.easySetopt(handle, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
    curl.easySetopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl.easySetopt(handle, CURLOPT_MAXREDIRS, 5L);
    curl.easySetopt(handle, CURLOPT_REDIR_PROTOCOLS, static_cast<long>(CURLPROTO_HTTPS));
    curl.easySetopt(handle, CURLOPT_WRITEFUNCTION, &receiveBody);
    curl.easySetopt(handle, CURLOPT_WRITEDATA, &transfer);
    // The transfer's own result does not matter: the scan stops it on purpose
    // once the record is complete, and any failure before that leaves the
    // record unfound.
    curl.easyPerform(handle);
    curl.easyCleanup(handle);
    if (headers)
        curl.slistFreeAll(headers);
    return transfer.scanner.found() ? transfer.scanner.version() : 0;
}
