// What the loopback servers of the update check tests answer, and what the
// check must then say: shared by the tests of both platforms.
#pragma once

#include "update/UpdateCheck.h"

#include <cstdint>
#include <string>

namespace update_answers {

constexpr char kFailureText[] = "Couldn't retreive update information at this moment";
constexpr char kLatestText[] = "You are already using the latest version";
constexpr char kOfferText[] = "New version is available. Proceed to download page?";

// The identity the editor gives the check: 'Qm4T', version 1000.
constexpr UpdateIdentity kOurIdentity{0x516D3454u, 1000};

inline std::string word(std::uint32_t value)
{
    std::string bytes;
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(static_cast<char>(value >> shift));
    return bytes;
}

inline std::string ourRecord(std::uint32_t version)
{
    return "T4mQ" + word(version);
}

inline std::string otherRecord(std::uint32_t version)
{
    return word(0x41424344u) + word(version);
}

inline std::string answer(const std::string& body, const char* status = "200 OK")
{
    return std::string("HTTP/1.1 ") + status +
           "\r\nContent-Type: application/octet-stream\r\nConnection: close\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

} // namespace update_answers
