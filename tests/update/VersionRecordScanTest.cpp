#include "update/VersionRecordScan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <random>
#include <vector>

namespace {

// The plug-in's ID 'Qm4T' as it appears in the file: little-endian, so reversed.
constexpr unsigned char kOurIdBytes[4] = {'T', '4', 'm', 'Q'};
constexpr std::uint32_t kOurId = 0x516D3454u; // 'Q' 'm' '4' 'T'

using Bytes = std::vector<unsigned char>;

void appendWord(Bytes& bytes, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(static_cast<unsigned char>(value >> shift));
}

void appendOurRecord(Bytes& bytes, std::uint32_t version)
{
    bytes.insert(bytes.end(), kOurIdBytes, kOurIdBytes + 4);
    appendWord(bytes, version);
}

// Serves a body in reads of at most maxPerRead bytes; can fail at a given
// offset; counts what it was asked for and what it handed out.
class BodySource : public VersionRecordSource {
public:
    explicit BodySource(Bytes body, std::size_t maxPerRead = kVersionRecordSize)
        : body(std::move(body)), maxPerRead(maxPerRead)
    {
    }
    bool read(unsigned char* buffer, std::size_t capacity, std::size_t& received) override
    {
        ++reads;
        largestRequest = std::max(largestRequest, capacity);
        if (position >= failAt) {
            received = 0;
            return false;
        }
        received = std::min({capacity, maxPerRead, body.size() - position, failAt - position});
        if (received > 0) // an empty body has no data pointer to copy from
            std::memcpy(buffer, body.data() + position, received);
        position += received;
        return true;
    }

    Bytes body;
    std::size_t maxPerRead;
    std::size_t failAt = SIZE_MAX;
    std::size_t position = 0;
    std::size_t reads = 0;
    std::size_t largestRequest = 0;
};

std::uint32_t scan(const Bytes& body, std::size_t maxPerRead = kVersionRecordSize)
{
    BodySource source(body, maxPerRead);
    return findVersionRecord(source, kOurId);
}

TEST(VersionRecordScan, FindsOurRecordByItsLittleEndianId)
{
    EXPECT_EQ(scan({'T', '4', 'm', 'Q', 0xE8, 0x03, 0x00, 0x00}), 1000u);
    EXPECT_EQ(scan({'T', '4', 'm', 'Q', 0x01, 0x02, 0x03, 0x84}), 0x84030201u);
    // The ID in reading order is another plug-in's.
    EXPECT_EQ(scan({'Q', 'm', '4', 'T', 0xE8, 0x03, 0x00, 0x00}), 0u);
}

TEST(VersionRecordScan, SkipsOtherPluginsAndTakesTheFirstOfOurs)
{
    Bytes body;
    appendWord(body, 0x41424344u);
    appendWord(body, 1000);
    appendOurRecord(body, 999);
    appendOurRecord(body, 1001);
    BodySource source(body);
    EXPECT_EQ(findVersionRecord(source, kOurId), 999u);
    EXPECT_EQ(source.position, 16u) << "nothing is read after the match";
}

TEST(VersionRecordScan, MatchesOnlyAtRecordBoundaries)
{
    Bytes body;
    appendWord(body, 0x11111111u);
    appendWord(body, kOurId); // another plug-in's version field that looks like our ID
    appendWord(body, 1001);
    appendWord(body, 0);
    appendOurRecord(body, 1000);
    EXPECT_EQ(scan(body), 1000u);
}

TEST(VersionRecordScan, IncompleteBodiesGiveNothing)
{
    EXPECT_EQ(scan({}), 0u);
    Bytes seven;
    appendOurRecord(seven, 1000);
    seven.pop_back();
    EXPECT_EQ(scan(seven), 0u);

    // Our record would start at offset 8, but only its ID arrives.
    Bytes twelve;
    appendWord(twelve, 0x41424344u);
    appendWord(twelve, 1000);
    twelve.insert(twelve.end(), kOurIdBytes, kOurIdBytes + 4);
    EXPECT_EQ(scan(twelve), 0u);
    EXPECT_EQ(scan(twelve, 1), 0u);
}

TEST(VersionRecordScan, RecordsSplitAcrossReadsAreAssembled)
{
    Bytes body;
    for (std::uint32_t id = 1; id <= 5; ++id) {
        appendWord(body, id);
        appendWord(body, id * 7);
    }
    appendOurRecord(body, 1234);
    appendOurRecord(body, 99);
    for (std::size_t maxPerRead : {1u, 2u, 3u, 5u, 7u, 8u}) {
        BodySource source(body, maxPerRead);
        EXPECT_EQ(findVersionRecord(source, kOurId), 1234u) << maxPerRead << " bytes per read";
        EXPECT_EQ(source.position, 48u) << maxPerRead << " bytes per read";
        EXPECT_LE(source.largestRequest, kVersionRecordSize);
    }
}

TEST(VersionRecordScan, FailedReadEndsTheScan)
{
    Bytes body;
    appendWord(body, 0x41424344u);
    appendWord(body, 1000);
    appendOurRecord(body, 1001);
    for (std::size_t failAt : {0u, 4u, 8u, 12u, 15u}) {
        BodySource source(body, 3);
        source.failAt = failAt;
        EXPECT_EQ(findVersionRecord(source, kOurId), 0u) << "failing at " << failAt;
        EXPECT_LE(source.reads, 8u);
    }
    BodySource source(body);
    source.failAt = 16; // after our record: never asked for
    EXPECT_EQ(findVersionRecord(source, kOurId), 1001u);
}

// A source that writes what it is allowed to but claims more.
class OverclaimingSource : public VersionRecordSource {
public:
    bool read(unsigned char* buffer, std::size_t capacity, std::size_t& received) override
    {
        std::memcpy(buffer, kOurIdBytes, std::min<std::size_t>(capacity, 4));
        received = capacity + 1;
        return true;
    }
};

TEST(VersionRecordScan, SourceClaimingMoreThanAskedCountsAsFailed)
{
    OverclaimingSource source;
    EXPECT_EQ(findVersionRecord(source, kOurId), 0u);
}

// Megabytes of noise, with any accidental aligned match of our ID removed.
Bytes noise(std::size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (auto& byte : bytes)
        byte = static_cast<unsigned char>(generator());
    for (std::size_t offset = 0; offset + 4 <= size; offset += kVersionRecordSize) {
        if (std::memcmp(bytes.data() + offset, kOurIdBytes, 4) == 0)
            bytes[offset] ^= 0xFF;
    }
    return bytes;
}

TEST(VersionRecordScan, LongBodiesAreStreamed)
{
    const std::size_t size = 4u << 20;
    EXPECT_EQ(scan(noise(size, 1)), 0u);

    Bytes withRecordAtEnd = noise(size, 2);
    appendOurRecord(withRecordAtEnd, 1001);
    EXPECT_EQ(scan(withRecordAtEnd, 4096), 1001u);

    // Odd-sized noise leaves the record misaligned: it is not found.
    Bytes misaligned = noise(size + 3, 3);
    appendOurRecord(misaligned, 1001);
    EXPECT_EQ(scan(misaligned), 0u);
}

} // namespace
