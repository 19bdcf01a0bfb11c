#include "PluginLibrary.h"

#include <windows.h>

PluginLibrary::~PluginLibrary()
{
    if (handle)
        FreeLibrary(static_cast<HMODULE>(handle));
}

bool PluginLibrary::load(const std::string& path)
{
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) {
        lastError = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    handle = module;
    return true;
}

void* PluginLibrary::symbol(const char* name) const
{
    return handle ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name)) : nullptr;
}

std::string executableFolder()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return ".\\";
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of("\\/") + 1);
}

const char* pluginFileName()
{
    return "Grindlemark.dll";
}
