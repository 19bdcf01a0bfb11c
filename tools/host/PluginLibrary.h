// Opens a shared library file as hosts do and finds named entry points in it.
#pragma once

#include <string>

class PluginLibrary {
public:
    PluginLibrary() = default;
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    // False with a readable reason in error() when the file cannot be loaded.
    bool load(const std::string& path);
    // The address of an exported name, or null.
    void* symbol(const char* name) const;
    const std::string& error() const { return lastError; }

private:
    void* handle = nullptr;
    std::string lastError;
};

// The folder of the running program, with a trailing separator.
std::string executableFolder();
// The VST 2.4 plug-in file name on this platform.
const char* pluginFileName();
