// The version record file: a header-less sequence of 8-byte records, each a
// plug-in's unique ID and its latest version, both 32-bit unsigned
// little-endian. Scanning is kept apart from the network so it can be proven
// over any byte source.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t kVersionRecordSize = 8;

// Delivers the body of the version record file in order.
class VersionRecordSource {
public:
    virtual ~VersionRecordSource() = default;
    // Copies up to capacity bytes into buffer and sets received. Returns false
    // on a failed read; true with received 0 marks the end of the body.
    virtual bool read(unsigned char* buffer, std::size_t capacity, std::size_t& received) = 0;
};

// Reads records in order until the first whose ID equals uniqueId and returns
// its version. Returns 0 when the body ends (or a read fails) before such a
// record is complete, so a trailing partial record never counts. Records are
// assembled from as many reads as the source needs; a source that claims more
// bytes than were asked for counts as a failed read. Reads nothing after the
// match, keeps only one record in memory and never allocates.
std::uint32_t findVersionRecord(VersionRecordSource& source, std::uint32_t uniqueId);
