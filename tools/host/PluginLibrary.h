// Opens a plug-in library file and finds its entry point, as hosts do:
// "VSTPluginMain" first, then "main".
#pragma once

#include "host/VstAbi.h"

#include <string>

class PluginLibrary {
public:
    PluginLibrary() = default;
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    // False with a readable reason in error() when the file cannot be loaded
    // or has no entry point.
    bool load(const std::string& path);
    VstEntryProc entry() const { return entryPoint; }
    const std::string& error() const { return lastError; }

private:
    void* handle = nullptr;
    VstEntryProc entryPoint = nullptr;
    std::string lastError;
};

// The folder of the running program, with a trailing separator.
std::string executableFolder();
// The plug-in file name on this platform.
const char* pluginFileName();
