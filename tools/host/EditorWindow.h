// Opens the plug-in's editor in a host window of the size it asks for, with
// the built-in guitar phrase looping through the plug-in in real time.
#pragma once

#include "PluginInstance.h"

#include <string>

struct EditorOptions {
    std::string screenshotPath; // empty: run until the window is closed
    int screenshotAfterMs = 1500;
    bool playAudio = true;
    bool playSilence = false; // digital silence instead of the phrase, as a host's empty track plays
    double sampleRate = 44100.0;
    int blockSize = 256;
};

// Returns the process exit status.
int runEditor(PluginInstance& plugin, const EditorOptions& options);

// The size the editor asks for; false, with the reason on stderr, when the
// plug-in has no editor or reports no size.
bool editorSize(PluginInstance& plugin, int& width, int& height);
