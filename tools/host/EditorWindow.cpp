#include "EditorWindow.h"

#include <cstdio>

bool editorSize(PluginInstance& plugin, int& width, int& height)
{
    width = height = 0;
    if (!(plugin.record()->flags & effFlagsHasEditor)) {
        std::fprintf(stderr, "grindlemark-host: the plug-in has no editor\n");
        return false;
    }
    ERect* rect = nullptr;
    plugin.dispatch(effEditGetRect, 0, 0, &rect);
    width = rect ? rect->right - rect->left : 0;
    height = rect ? rect->bottom - rect->top : 0;
    if (width <= 0 || height <= 0) {
        std::fprintf(stderr, "grindlemark-host: the editor reports no size\n");
        return false;
    }
    return true;
}
