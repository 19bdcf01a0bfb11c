#include "SoundFile.h"

#include <sndfile.h>

#include "RenderInterrupts.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>
#include <strings.h>
#include <unistd.h>

namespace {

// Encodings in the order of preference when a container lacks the input's:
// lossless integer and float first, the widest first.
constexpr int kEncodingPreference[] = {SF_FORMAT_PCM_24,  SF_FORMAT_FLOAT,  SF_FORMAT_PCM_32,
                                       SF_FORMAT_PCM_16,  SF_FORMAT_DOUBLE, SF_FORMAT_ALAC_24,
                                       SF_FORMAT_ALAC_16, SF_FORMAT_PCM_S8, SF_FORMAT_PCM_U8,
                                       SF_FORMAT_VORBIS,  SF_FORMAT_OPUS,   SF_FORMAT_MPEG_LAYER_III};

// Extensions people use that libsndfile lists under another spelling.
const struct {
    const char* alias;
    const char* extension;
} kExtensionAliases[] = {{"aif", "aiff"}, {"wave", "wav"}, {"ogg", "oga"}, {"mp3", "m1a"}};

std::string extensionOf(const std::string& path)
{
    const std::string name = std::filesystem::path(path).filename().string();
    const auto dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot + 1);
}

int majorFormatFor(std::string extension)
{
    for (const auto& entry : kExtensionAliases)
        if (strcasecmp(entry.alias, extension.c_str()) == 0)
            extension = entry.extension;
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof(count));
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info{};
        info.format = i;
        sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof(info));
        // Headerless data could not be read back as audio.
        if (info.extension && (info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_RAW &&
            strcasecmp(info.extension, extension.c_str()) == 0)
            return info.format & SF_FORMAT_TYPEMASK;
    }
    return 0;
}

// Tried as libsndfile would write it, into memory: some combinations pass
// sf_format_check and still fail to open (MPEG Layer III inside WAV).
struct MemoryFile {
    std::vector<char> bytes;
    sf_count_t position = 0;
};

SF_VIRTUAL_IO memoryIo()
{
    SF_VIRTUAL_IO io{};
    io.get_filelen = [](void* user) { return static_cast<sf_count_t>(static_cast<MemoryFile*>(user)->bytes.size()); };
    io.seek = [](sf_count_t offset, int whence, void* user) {
        MemoryFile& memory = *static_cast<MemoryFile*>(user);
        const sf_count_t base = whence == SEEK_SET   ? 0
                                : whence == SEEK_CUR ? memory.position
                                                     : static_cast<sf_count_t>(memory.bytes.size());
        memory.position = std::max<sf_count_t>(0, base + offset);
        return memory.position;
    };
    io.read = [](void* data, sf_count_t count, void* user) {
        MemoryFile& memory = *static_cast<MemoryFile*>(user);
        const auto size = static_cast<sf_count_t>(memory.bytes.size());
        const sf_count_t available = std::max<sf_count_t>(0, std::min(count, size - memory.position));
        std::memcpy(data, memory.bytes.data() + memory.position, static_cast<std::size_t>(available));
        memory.position += available;
        return available;
    };
    io.write = [](const void* data, sf_count_t count, void* user) {
        MemoryFile& memory = *static_cast<MemoryFile*>(user);
        const auto end = static_cast<std::size_t>(memory.position + count);
        if (memory.bytes.size() < end)
            memory.bytes.resize(end);
        std::memcpy(memory.bytes.data() + memory.position, data, static_cast<std::size_t>(count));
        memory.position += count;
        return count;
    };
    io.tell = [](void* user) { return static_cast<MemoryFile*>(user)->position; };
    return io;
}

bool writable(int format, int channels, double sampleRate)
{
    SF_INFO info{};
    info.samplerate = static_cast<int>(sampleRate + 0.5);
    info.channels = channels;
    info.format = format;
    if (!sf_format_check(&info))
        return false;
    MemoryFile memory;
    SF_VIRTUAL_IO io = memoryIo();
    SNDFILE* trial = sf_open_virtual(&io, SFM_WRITE, &info, &memory);
    if (!trial)
        return false;
    return sf_close(trial) == 0;
}

std::string formatInfoName(int format)
{
    SF_FORMAT_INFO info{format, nullptr, nullptr};
    sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof(info));
    return info.name ? info.name : "?";
}

std::string majorName(int format)
{
    return formatInfoName(format & SF_FORMAT_TYPEMASK);
}

std::string subtypeName(int format)
{
    return formatInfoName(format & SF_FORMAT_SUBMASK);
}

// Bits of a linear integer encoding; 0 for float, companded and lossy ones.
int integerBits(int subtype)
{
    switch (subtype) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return 8;
    case SF_FORMAT_DWVW_12:
        return 12;
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_DWVW_16:
    case SF_FORMAT_ALAC_16:
        return 16;
    case SF_FORMAT_ALAC_20:
        return 20;
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_DWVW_24:
    case SF_FORMAT_ALAC_24:
        return 24;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_ALAC_32:
        return 32;
    default:
        return 0;
    }
}

// Whether samples beyond full scale are cut off: every encoding but float and
// the lossy ones, whose decoders see the signal as it was.
bool clipsAtFullScale(int subtype)
{
    switch (subtype) {
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS:
    case SF_FORMAT_MPEG_LAYER_I:
    case SF_FORMAT_MPEG_LAYER_II:
    case SF_FORMAT_MPEG_LAYER_III:
        return false;
    default:
        return true;
    }
}

// Bytes one sample takes in the uncompressed encodings; 0 for the others.
int bytesPerSample(int subtype)
{
    switch (subtype) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
        return 1;
    case SF_FORMAT_PCM_16:
        return 2;
    case SF_FORMAT_PCM_24:
        return 3;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
        return 4;
    case SF_FORMAT_DOUBLE:
        return 8;
    default:
        return 0;
    }
}

// libsndfile opens a file whose data ends before its header says with the
// frames that are there, and notes each size that disagrees in its log as
// "data : 88200 (should be 44100)": the difference is the bytes missing.
std::int64_t framesPromisedByHeader(SNDFILE* file, const SF_INFO& info)
{
    const int frameBytes = bytesPerSample(info.format & SF_FORMAT_SUBMASK) * info.channels;
    if (frameBytes == 0)
        return info.frames;
    std::vector<char> log(16384);
    sf_command(file, SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size()));
    log.back() = 0;
    // The data chunk's size (WAV, AIFF, AU); W64 and RF64 check only the
    // size of the whole file, whose data chunk comes last.
    static const std::set<std::string> dataChunks = {"data", "SSND", "Data Size"};
    static const std::set<std::string> outerChunks = {"riff", "Riff size"};
    long long missing[2] = {0, 0};
    std::istringstream lines(log.data());
    for (std::string line; std::getline(lines, line);) {
        const auto colon = line.find(':');
        long long declared = 0;
        long long present = 0;
        if (colon == std::string::npos ||
            std::sscanf(line.c_str() + colon + 1, " %lld (should be %lld)", &declared, &present) != 2 ||
            declared <= present)
            continue;
        const auto first = line.find_first_not_of(' ');
        const auto last = line.find_last_not_of(' ', colon - 1);
        const std::string label = first < colon ? line.substr(first, last - first + 1) : std::string();
        const int kind = dataChunks.count(label) ? 0 : outerChunks.count(label) ? 1 : -1;
        if (kind >= 0 && missing[kind] == 0)
            missing[kind] = declared - present;
    }
    const long long bytes = missing[0] ? missing[0] : missing[1];
    // A frame cut through counts as missing.
    return info.frames + static_cast<std::int64_t>(std::ceil(static_cast<double>(bytes) / frameBytes));
}

std::string writeFailureText(int error, SNDFILE* file)
{
    switch (error) {
    case EFBIG:
        return "file size limit reached";
    case ENOSPC:
        return "disk full";
    case EDQUOT:
        return "disk quota exceeded";
    case 0:
        return file ? sf_strerror(file) : "write failed";
    default:
        return std::strerror(error);
    }
}

std::atomic<unsigned> temporaryCounter{0};

} // namespace

std::string formatName(const SoundFileFormat& format)
{
    return majorName(format.format) + ", " + subtypeName(format.format);
}

std::string encodingName(const SoundFileFormat& format)
{
    return subtypeName(format.format);
}

bool outputFormatFor(const std::string& path, int encoding, bool floatingPoint, int channels, double sampleRate,
                     SoundFileFormat& format, std::string& note, std::string& error)
{
    const std::string extension = extensionOf(path);
    const int major = majorFormatFor(extension);
    format.format = 0;
    note.clear();
    if (major == 0) {
        error = path + ": " +
                (extension.empty() ? std::string("no extension") : "\"." + extension + "\" is not a known extension") +
                "; name the output .wav, .flac, .aiff, .ogg, .caf or another format libsndfile writes";
        return false;
    }
    // libsndfile keeps an SD2 file's header in a second file named after the
    // one it writes, which a file written under a temporary name and renamed
    // would lose.
    if (major == SF_FORMAT_SD2) {
        error = path + ": Sound Designer II files cannot be written here; name the output .aiff or .wav";
        return false;
    }
    const int wanted = floatingPoint ? SF_FORMAT_FLOAT : (encoding & SF_FORMAT_SUBMASK);
    if (writable(major | wanted, channels, sampleRate)) {
        format.format = major | wanted;
        return true;
    }
    if (floatingPoint) {
        error = path + ": " + majorName(major) + " files cannot hold float samples";
        return false;
    }
    for (int candidate : kEncodingPreference) {
        if (writable(major | candidate, channels, sampleRate)) {
            format.format = major | candidate;
            note = subtypeName(candidate) + " (the container has no " + subtypeName(wanted) + ")";
            return true;
        }
    }
    error = path + ": cannot write " + majorName(major) + " files with " + std::to_string(channels) +
            (channels == 1 ? " channel" : " channels") + " at " + std::to_string(static_cast<long>(sampleRate + 0.5)) +
            " Hz";
    return false;
}

int defaultEncoding()
{
    return SF_FORMAT_PCM_24;
}

SoundFileReader::~SoundFileReader()
{
    if (file)
        sf_close(file);
}

bool SoundFileReader::open(const std::string& path, std::string& error)
{
    SF_INFO info{};
    file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) {
        error = "cannot read " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    if (info.channels < 1 || info.channels > 2) {
        error = path + " has " + std::to_string(info.channels) + " channels; only mono and stereo are supported";
        return false;
    }
    channelCount = info.channels;
    rate = info.samplerate;
    frameCount = info.frames;
    promised = framesPromisedByHeader(file, info);
    subtype = info.format & SF_FORMAT_SUBMASK;
    return true;
}

std::int64_t SoundFileReader::read(double* interleaved, std::int64_t frames)
{
    const sf_count_t read = sf_readf_double(file, interleaved, frames);
    if (read < frames && sf_error(file) != SF_ERR_NO_ERROR)
        return -1;
    return read;
}

SoundFileWriter::~SoundFileWriter()
{
    discard();
}

void SoundFileWriter::discard()
{
    if (file) {
        sf_close(file);
        file = nullptr;
    }
    if (!temporaryPath.empty()) {
        const auto hold = holdInterrupts();
        std::remove(temporaryPath.c_str());
        forgetTemporaryFile(temporaryPath);
        temporaryPath.clear();
    }
}

bool SoundFileWriter::open(const std::string& path, const SoundFileFormat& format, int channels, double sampleRate,
                           std::string& error)
{
    finalPath = path;
    SF_INFO info{};
    info.samplerate = static_cast<int>(sampleRate + 0.5);
    info.channels = channels;
    info.format = format.format;
    if (!sf_format_check(&info)) {
        error = "cannot write " + formatName(format) + " with " + std::to_string(channels) + " channels at " +
                std::to_string(info.samplerate) + " Hz";
        return false;
    }
    {
        // Beside the final file, so that the rename stays on one file system.
        const std::string candidate =
            path + ".partial-" + std::to_string(getpid()) + "-" + std::to_string(temporaryCounter++);
        const auto hold = holdInterrupts();
        file = sf_open(candidate.c_str(), SFM_WRITE, &info);
        if (!file) {
            error = "cannot write " + path + ": " + sf_strerror(nullptr);
            // libsndfile may have made the file before it gave up.
            std::remove(candidate.c_str());
            return false;
        }
        temporaryPath = candidate;
        recordTemporaryFile(temporaryPath);
    }
    channelCount = channels;
    const int subtype = format.format & SF_FORMAT_SUBMASK;
    stepsPerUnit = integerBits(subtype) ? std::ldexp(1.0, integerBits(subtype) - 1) : 0.0;
    clipsAtFullScale = ::clipsAtFullScale(subtype);
    // Overs are clipped, not wrapped around, in integer formats.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    return true;
}

bool SoundFileWriter::write(const double* interleaved, std::int64_t frames)
{
    if (!file)
        return false;
    const auto count = static_cast<std::size_t>(frames) * static_cast<std::size_t>(channelCount);
    const double* samples = interleaved;
    if (stepsPerUnit > 0.0) {
        // Rounded to the nearest step here: libsndfile would round a double
        // towards minus infinity in some encodings, so that a sample a hair
        // below a step (as double precision leaves it, where single precision
        // rounds it onto the step) would come out one step lower.
        limited.resize(count);
        const double highest = stepsPerUnit - 1.0;
        for (std::size_t i = 0; i < count; ++i) {
            double step = std::nearbyint(interleaved[i] * stepsPerUnit);
            if (std::isnan(step))
                step = 0.0;
            if (step > highest || step < -stepsPerUnit) {
                step = step > highest ? highest : -stepsPerUnit;
                ++clipped;
            }
            limited[i] = step / stepsPerUnit;
        }
        samples = limited.data();
    } else if (clipsAtFullScale) {
        for (std::size_t i = 0; i < count; ++i)
            clipped += std::fabs(interleaved[i]) > 1.0 ? 1 : 0;
    }
    errno = 0;
    if (sf_writef_double(file, samples, frames) == frames)
        return true;
    failure = writeFailureText(errno, file);
    return false;
}

bool SoundFileWriter::commit(std::string& error)
{
    errno = 0;
    const int closed = file ? sf_close(file) : 1;
    const int closeError = errno;
    file = nullptr;
    if (closed != 0) {
        error = "cannot write " + finalPath + ": " + writeFailureText(closeError, nullptr);
        discard();
        return false;
    }
    const auto hold = holdInterrupts();
    const bool moved = std::rename(temporaryPath.c_str(), finalPath.c_str()) == 0;
    if (!moved) {
        error = "cannot move the result to " + finalPath + ": " + std::strerror(errno);
        std::remove(temporaryPath.c_str());
    }
    forgetTemporaryFile(temporaryPath);
    temporaryPath.clear();
    return moved;
}
