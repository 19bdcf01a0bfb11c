// Reading and writing audio files through libsndfile.
#pragma once

#include "Renderer.h"

#include <string>

struct SoundFileFormat {
    int format = 0; // libsndfile's major format and subtype; 0: none yet
};

// False with a reason in error when the file cannot be read or has more than
// two channels.
bool readSoundFile(const std::string& path, AudioBuffer& buffer, SoundFileFormat& format, std::string& error);

// Writes to a temporary name beside path and renames it at the end, so a
// failed write never leaves a partial file under the final name.
bool writeSoundFile(const std::string& path, const AudioBuffer& buffer, const SoundFileFormat& format,
                    std::string& error);

// 24-bit WAV, or 32-bit float WAV.
SoundFileFormat wavFormat(bool floatingPoint);
SoundFileFormat floatVersionOf(const SoundFileFormat& format);
std::string formatName(const SoundFileFormat& format);
