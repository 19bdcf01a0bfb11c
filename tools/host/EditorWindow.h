// Opens the plug-in's editor in a host window of the size it asks for, with
// the built-in guitar phrase looping through the plug-in in real time.
#pragma once

#include "PluginInstance.h"

#include <string>

struct EditorOptions {
    std::string screenshotPath; // empty: run until the window is closed
    int screenshotAfterMs = 1500;
    double sampleRate = 44100.0;
    int blockSize = 256;
};

// Returns the process exit status.
int runEditor(PluginInstance& plugin, const EditorOptions& options);
