// The render command: one input to one output, or a batch of inputs times
// programs into a folder.
#pragma once

#include "PluginInstance.h"
#include "PluginSettings.h"

#include <string>
#include <vector>

struct RenderCommand {
    std::vector<std::string> inputPaths; // none: the built-in phrase
    std::string outputPath;              // the one-file form
    std::string outputFolder;            // the batch form (-o DIR)
    std::vector<std::string> programs;   // by number or name; none: the plug-in's own
    bool allPrograms = false;
    std::string outputType; // batch outputs' extension; empty: the input's
    SettingTexts settings;
    long blockSize = 512;
    bool doublePrecision = false;
    double rate = 0.0;
    bool floatOutput = false;
    bool quiet = false;
    bool raw = false; // the plug-in's stream as it comes, unaligned
    long threads = 0; // 0: one per core
};

// Throws CommandError(kUsage) for a command line that cannot be right.
RenderCommand parseRender(const std::vector<std::string>& args);

// Returns the exit status; throws CommandError for what stops every job.
int render(PluginModule& module, const RenderCommand& command);
