#include "PluginLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

PluginLibrary::~PluginLibrary()
{
    if (handle)
        dlclose(handle);
}

bool PluginLibrary::load(const std::string& path)
{
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* reason = dlerror();
        lastError = "cannot load " + path + (reason ? std::string(" (") + reason + ")" : std::string());
        return false;
    }
    return true;
}

void* PluginLibrary::symbol(const char* name) const
{
    return handle ? dlsym(handle, name) : nullptr;
}

std::string executableFolder()
{
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0)
        return "./";
    std::string folder(path, static_cast<std::size_t>(length));
    return folder.substr(0, folder.find_last_of('/') + 1);
}

const char* pluginFileName()
{
    return "Grindlemark.so";
}
