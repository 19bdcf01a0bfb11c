#include "update/VersionRecordScan.h"

namespace {

std::uint32_t littleEndian32(const unsigned char* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

// Fills one whole record. A network read may stop short of what was asked
// without the body having ended, so only a read of nothing marks the end.
bool readRecord(VersionRecordSource& source, unsigned char (&record)[kVersionRecordSize])
{
    std::size_t filled = 0;
    while (filled < kVersionRecordSize) {
        const std::size_t wanted = kVersionRecordSize - filled;
        std::size_t received = 0;
        if (!source.read(record + filled, wanted, received) || received == 0 || received > wanted)
            return false;
        filled += received;
    }
    return true;
}

} // namespace

std::uint32_t findVersionRecord(VersionRecordSource& source, std::uint32_t uniqueId)
{
    unsigned char record[kVersionRecordSize];
    while (readRecord(source, record)) {
        if (littleEndian32(record) == uniqueId)
            return littleEndian32(record + 4);
    }
    return 0;
}
