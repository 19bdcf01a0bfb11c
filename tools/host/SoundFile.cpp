#include "SoundFile.h"

#include <sndfile.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
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

bool writable(int format)
{
    SF_INFO probe{};
    probe.samplerate = 48000;
    probe.channels = 2;
    probe.format = format;
    return sf_format_check(&probe) != 0;
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

std::atomic<unsigned> temporaryCounter{0};

} // namespace

std::string formatName(const SoundFileFormat& format)
{
    return majorName(format.format) + ", " + subtypeName(format.format);
}

bool outputFormatFor(const std::string& path, int encoding, bool floatingPoint, SoundFileFormat& format,
                     std::string& note, std::string& error)
{
    const std::string extension = extensionOf(path);
    const int major = majorFormatFor(extension);
    if (major == 0) {
        error = path + ": " +
                (extension.empty() ? std::string("no extension") : "\"." + extension + "\" is not a known extension") +
                "; name the output .wav, .flac, .aiff, .ogg, .caf or another format libsndfile writes";
        return false;
    }
    const int wanted = floatingPoint ? SF_FORMAT_FLOAT : (encoding & SF_FORMAT_SUBMASK);
    format.format = major | wanted;
    note.clear();
    if (writable(format.format))
        return true;
    if (floatingPoint) {
        format.format = 0;
        error = path + ": " + majorName(major) + " files cannot hold float samples";
        return false;
    }
    for (int candidate : kEncodingPreference) {
        if (writable(major | candidate)) {
            format.format = major | candidate;
            note = subtypeName(candidate) + " (the container has no " + subtypeName(wanted) + ")";
            return true;
        }
    }
    error = path + ": cannot write " + majorName(major) + " files";
    return false;
}

int defaultEncoding()
{
    return SF_FORMAT_PCM_24;
}

bool sameFile(const std::string& first, const std::string& second)
{
    std::error_code failure;
    return std::filesystem::equivalent(first, second, failure) && !failure;
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
        std::remove(temporaryPath.c_str());
        temporaryPath.clear();
    }
}

bool SoundFileWriter::open(const std::string& path, const SoundFileFormat& format, int channels, double sampleRate,
                           std::string& error)
{
    finalPath = path;
    // Beside the final file, so that the rename stays on one file system.
    temporaryPath = path + ".partial-" + std::to_string(getpid()) + "-" + std::to_string(temporaryCounter++);
    SF_INFO info{};
    info.samplerate = static_cast<int>(sampleRate + 0.5);
    info.channels = channels;
    info.format = format.format;
    if (!sf_format_check(&info)) {
        error = "cannot write " + formatName(format) + " with " + std::to_string(channels) + " channels at " +
                std::to_string(info.samplerate) + " Hz";
        temporaryPath.clear();
        return false;
    }
    file = sf_open(temporaryPath.c_str(), SFM_WRITE, &info);
    if (!file) {
        error = "cannot write " + path + ": " + sf_strerror(nullptr);
        temporaryPath.clear();
        return false;
    }
    // Overs are clipped, not wrapped around, in integer formats.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    return true;
}

bool SoundFileWriter::write(const double* interleaved, std::int64_t frames)
{
    return file && sf_writef_double(file, interleaved, frames) == frames;
}

bool SoundFileWriter::commit(std::string& error)
{
    const int closed = file ? sf_close(file) : 1;
    file = nullptr;
    if (closed != 0) {
        error = "cannot write " + finalPath + " (disk full?)";
        discard();
        return false;
    }
    if (std::rename(temporaryPath.c_str(), finalPath.c_str()) != 0) {
        error = "cannot move the result to " + finalPath;
        discard();
        return false;
    }
    temporaryPath.clear();
    return true;
}
