// libFuzzer target: the version record scan over any body, delivered in reads
// of any size the fuzzer chooses (the first bytes pick the read sizes).
#include "update/VersionRecordScan.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

class FuzzedSource : public VersionRecordSource {
public:
    FuzzedSource(const std::uint8_t* body, std::size_t size, std::uint8_t pattern)
        : body(body), size(size), pattern(pattern)
    {
    }
    bool read(unsigned char* buffer, std::size_t capacity, std::size_t& received) override
    {
        // Read sizes from 1 to 16 bytes, steered by the pattern; a failed read now and then.
        ++reads;
        if (pattern == 0xff && reads == 3)
            return false;
        const std::size_t wanted = 1 + ((pattern >> (reads % 4)) + reads) % 16;
        received = std::min({capacity, wanted, size - position});
        std::memcpy(buffer, body + position, received);
        position += received;
        return true;
    }

private:
    const std::uint8_t* body;
    std::size_t size;
    std::uint8_t pattern;
    std::size_t position = 0;
    std::size_t reads = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    FuzzedSource source(data + 1, size - 1, data[0]);
    const std::uint32_t ours = 0x516D3454; // 'Qm4T'
    const std::uint32_t version = findVersionRecord(source, ours);
    // A version can only come from a whole record of ours inside the body.
    if (version != 0 && size - 1 < kVersionRecordSize)
        __builtin_trap();
    return 0;
}
