// Runs audio through a started plug-in instance block by block, the way a
// host's audio thread does, in single or double precision.
#pragma once

#include "PluginInstance.h"

#include <functional>
#include <vector>

struct AudioBuffer {
    double sampleRate = 44100.0;
    std::vector<std::vector<double>> channels; // planar; 1 or 2 channels of equal length

    std::size_t frames() const { return channels.empty() ? 0 : channels[0].size(); }
};

struct RenderOptions {
    int blockSize = 512;
    bool doublePrecision = false;
    // Called now and then with the fraction done (0..1).
    std::function<void(double)> progress;
};

// Mono input runs in the plug-in's single-channel layout (no second buffer),
// stereo input in its stereo layout. The result has the input's channel count.
AudioBuffer renderThrough(PluginInstance& plugin, const AudioBuffer& input, const RenderOptions& options);

struct LevelSummary {
    double peakDb;
    double rmsDb;
};
LevelSummary measureLevels(const AudioBuffer& buffer);
