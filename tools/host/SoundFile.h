// Reading and writing audio files through libsndfile, block by block.
#pragma once

#include "Renderer.h"

#include <sndfile.h>

#include <string>
#include <vector>

struct SoundFileFormat {
    int format = 0; // libsndfile's major format and subtype; 0: none yet
};

std::string formatName(const SoundFileFormat& format);   // "WAV (Microsoft), Signed 24 bit PCM"
std::string encodingName(const SoundFileFormat& format); // "Signed 24 bit PCM"

// The container that path's extension names ("wav", "flac", "aif", ...),
// holding samples in `encoding` (a libsndfile subtype) where it can, else in
// the nearest encoding it has; with floatingPoint, 32-bit float samples. Each
// choice is tried as libsndfile would write it, with these channels and rate.
// False with a reason when libsndfile writes no such container or the
// container has no float samples. note tells of an encoding changed.
bool outputFormatFor(const std::string& path, int encoding, bool floatingPoint, int channels, double sampleRate,
                     SoundFileFormat& format, std::string& note, std::string& error);

// The encoding the built-in phrase is written in: 24-bit integer.
int defaultEncoding();

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
    // The frames the file's header speaks of: more than frames() when the
    // data ends early (libsndfile then offers only the frames that are there).
    std::int64_t promisedFrames() const { return promised; }

private:
    SNDFILE* file = nullptr;
    int channelCount = 0;
    double rate = 0.0;
    std::int64_t frameCount = 0;
    std::int64_t promised = 0;
    int subtype = 0;
};

// Writes to a temporary file beside the final path and renames it into place
// on commit, so a failed, abandoned or interrupted write never leaves a
// partial file under the final name, nor the temporary one. Integer samples
// are rounded to the nearest step of the encoding, the same whichever
// precision they were computed in, and limited to its range.
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
    // Why the last write failed ("disk full", "file size limit reached", ...).
    const std::string& writeFailure() const { return failure; }
    // Samples beyond the integer encoding's full scale, limited to it.
    std::int64_t clippedSamples() const { return clipped; }

private:
    void discard();

    SNDFILE* file = nullptr;
    std::string finalPath;
    std::string temporaryPath;
    std::string failure;
    int channelCount = 0;
    double stepsPerUnit = 0.0; // 2^(bits - 1) for linear integer encodings, else 0
    bool clipsAtFullScale = false;
    std::int64_t clipped = 0;
    std::vector<double> limited;
};
