// The version record file: a header-less sequence of 8-byte records, each a
// plug-in's unique ID and its latest version, both 32-bit unsigned
// little-endian. Scanning is kept apart from the network so it can be proven
// over any byte source.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t kVersionRecordSize = 8;

// Follows the body as it arrives, in pieces of any size, until the first
// record whose ID equals uniqueId is complete. Keeps one record in memory and
// never allocates; a trailing partial record never counts.
class VersionRecordScanner {
public:
    explicit VersionRecordScanner(std::uint32_t uniqueId) : uniqueId(uniqueId) {}
    // Takes the next bytes of the body; bytes after the matching record are
    // ignored. Returns true once the record has been found.
    bool feed(const unsigned char* bytes, std::size_t count);
    bool found() const { return matched; }
    // The version of the matching record, 0 until it is found.
    std::uint32_t version() const { return matchedVersion; }
    // How many more bytes complete the record being assembled.
    std::size_t bytesToRecordEnd() const { return kVersionRecordSize - filled; }

private:
    std::uint32_t uniqueId;
    unsigned char record[kVersionRecordSize] = {};
    std::size_t filled = 0;
    bool matched = false;
    std::uint32_t matchedVersion = 0;
};

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
