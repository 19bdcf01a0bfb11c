#include "update/VersionRecordScan.h"

#include <algorithm>
#include <cstring>

namespace {

std::uint32_t littleEndian32(const unsigned char* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

} // namespace

bool VersionRecordScanner::feed(const unsigned char* bytes, std::size_t count)
{
    while (!matched && count > 0) {
        const std::size_t taken = std::min(count, bytesToRecordEnd());
        std::memcpy(record + filled, bytes, taken);
        filled += taken;
        bytes += taken;
        count -= taken;
        if (filled == kVersionRecordSize) {
            filled = 0;
            if (littleEndian32(record) == uniqueId) {
                matched = true;
                matchedVersion = littleEndian32(record + 4);
            }
        }
    }
    return matched;
}

std::uint32_t findVersionRecord(VersionRecordSource& source, std::uint32_t uniqueId)
{
    VersionRecordScanner scanner(uniqueId);
    unsigned char piece[kVersionRecordSize];
    // Asks for no more than the current record needs, so nothing is read
    // after the match. A network read may stop short of what was asked
    // without the body having ended, so only a read of nothing marks the end.
    while (!scanner.found()) {
        const std::size_t wanted = scanner.bytesToRecordEnd();
        std::size_t received = 0;
        if (!source.read(piece, wanted, received) || received == 0 || received > wanted)
            return 0;
        scanner.feed(piece, received);
    }
    return scanner.version();
}
