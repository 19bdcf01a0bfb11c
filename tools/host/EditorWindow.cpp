#include "EditorWindow.h"

#include <cstdio>

bool editorSize(PluginInstance& plugin, int& width, int& height)
{
    std::string reason;
    if (plugin.editorSize(width, height, reason))
        return true;
    std::fprintf(stderr, "grindlemark-host: %s\n", reason.c_str());
    return false;
}
