// Reading and writing audio files through libsndfile, block by block.
#pragma once

#include "Renderer.h"

#include <sndfile.h>

#include <string>

struct SoundFileFormat {
    int format = 0; // libsndfile's major format and subtype; 0: none yet
};

std::string formatName(const SoundFileFormat& format);

// The container that path's extension names ("wav", "flac", "aif", ...),
// holding samples in `encoding` (a libsndfile subtype) where it can, else in
// the nearest encoding it has; with floatingPoint, 32-bit float samples. False
// with a reason when libsndfile writes no container by that extension or the
// container has no float samples. note tells of an encoding changed.
bool outputFormatFor(const std::string& path, int encoding, bool floatingPoint, SoundFileFormat& format,
                     std::string& note, std::string& error);

// The encoding the built-in phrase is written in: 24-bit integer.
int defaultEncoding();

// Whether two paths lead to one file (through links too). False when either
// does not exist.
bool sameFile(const std::string& first, const std::string& second);

class SoundFileReader final : public AudioSource {
public:
    SoundFileReader() = default;
    ~SoundFileReader() override;
    SoundFileReader(const SoundFileReader&) = delete;
    SoundFileReader& operator=(const SoundFileReader&) = delete;

    // False with a reason when the file cannot be read or has more than two
    // channels.
    bool open(const std::string& path, std::string& error);
    int channels() const override { return channelCount; }
    double sampleRate() const override { return rate; }
    std::int64_t frames() const override { return frameCount; }
    std::int64_t read(double* interleaved, std::int64_t frames) override;
    int encoding() const { return subtype; }

private:
    SNDFILE* file = nullptr;
    int channelCount = 0;
    double rate = 0.0;
    std::int64_t frameCount = 0;
    int subtype = 0;
};

// Writes to a temporary file beside the final path and renames it into place
// on commit, so a failed or abandoned write never leaves a partial file under
// the final name.
class SoundFileWriter final : public AudioSink {
public:
    SoundFileWriter() = default;
    ~SoundFileWriter() override; // removes the temporary file unless committed
    SoundFileWriter(const SoundFileWriter&) = delete;
    SoundFileWriter& operator=(const SoundFileWriter&) = delete;

    bool open(const std::string& path, const SoundFileFormat& format, int channels, double sampleRate,
              std::string& error);
    bool write(const double* interleaved, std::int64_t frames) override;
    bool commit(std::string& error);

private:
    void discard();

    SNDFILE* file = nullptr;
    std::string finalPath;
    std::string temporaryPath;
};
