#include "SoundFile.h"

#include <sndfile.h>

#include <cstdio>
#include <unistd.h>

bool readSoundFile(const std::string& path, AudioBuffer& buffer, SoundFileFormat& format, std::string& error)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) {
        error = "cannot read " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    if (info.channels < 1 || info.channels > 2) {
        error = path + " has " + std::to_string(info.channels) + " channels; only mono and stereo are supported";
        sf_close(file);
        return false;
    }
    std::vector<double> interleaved(static_cast<std::size_t>(info.frames) * static_cast<std::size_t>(info.channels));
    const sf_count_t read = sf_readf_double(file, interleaved.data(), info.frames);
    sf_close(file);
    if (read < 0) {
        error = "cannot read the samples of " + path;
        return false;
    }
    buffer.sampleRate = info.samplerate;
    buffer.channels.assign(static_cast<std::size_t>(info.channels),
                           std::vector<double>(static_cast<std::size_t>(read)));
    for (std::size_t i = 0; i < static_cast<std::size_t>(read); ++i)
        for (std::size_t c = 0; c < buffer.channels.size(); ++c)
            buffer.channels[c][i] = interleaved[i * buffer.channels.size() + c];
    format.format = info.format;
    return true;
}

bool writeSoundFile(const std::string& path, const AudioBuffer& buffer, const SoundFileFormat& format,
                    std::string& error)
{
    const std::string temporary = path + ".partial-" + std::to_string(getpid());
    SF_INFO info{};
    info.samplerate = static_cast<int>(buffer.sampleRate + 0.5);
    info.channels = static_cast<int>(buffer.channels.size());
    info.format = format.format;
    if (!sf_format_check(&info)) {
        error = "cannot write " + formatName(format) + " with " + std::to_string(info.channels) + " channels at " +
                std::to_string(info.samplerate) + " Hz";
        return false;
    }
    SNDFILE* file = sf_open(temporary.c_str(), SFM_WRITE, &info);
    if (!file) {
        error = "cannot write " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    // Overs are clipped, not wrapped around, in integer formats.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    std::vector<double> interleaved(buffer.frames() * buffer.channels.size());
    for (std::size_t i = 0; i < buffer.frames(); ++i)
        for (std::size_t c = 0; c < buffer.channels.size(); ++c)
            interleaved[i * buffer.channels.size() + c] = buffer.channels[c][i];
    const sf_count_t written = sf_writef_double(file, interleaved.data(), static_cast<sf_count_t>(buffer.frames()));
    const int closed = sf_close(file);
    if (written != static_cast<sf_count_t>(buffer.frames()) || closed != 0) {
        error = "cannot write " + path + " (disk full?)";
        std::remove(temporary.c_str());
        return false;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "cannot move the result to " + path;
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

SoundFileFormat wavFormat(bool floatingPoint)
{
    return {SF_FORMAT_WAV | (floatingPoint ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_24)};
}

SoundFileFormat floatVersionOf(const SoundFileFormat& format)
{
    const int major = format.format & SF_FORMAT_TYPEMASK;
    // Formats without float samples fall back to float WAV.
    SF_INFO probe{};
    probe.samplerate = 44100;
    probe.channels = 1;
    probe.format = major | SF_FORMAT_FLOAT;
    return {sf_format_check(&probe) ? probe.format : (SF_FORMAT_WAV | SF_FORMAT_FLOAT)};
}

std::string formatName(const SoundFileFormat& format)
{
    SF_FORMAT_INFO major{format.format & SF_FORMAT_TYPEMASK, nullptr, nullptr};
    SF_FORMAT_INFO subtype{format.format & SF_FORMAT_SUBMASK, nullptr, nullptr};
    sf_command(nullptr, SFC_GET_FORMAT_INFO, &major, sizeof(major));
    sf_command(nullptr, SFC_GET_FORMAT_INFO, &subtype, sizeof(subtype));
    return std::string(major.name ? major.name : "?") + ", " + (subtype.name ? subtype.name : "?");
}
