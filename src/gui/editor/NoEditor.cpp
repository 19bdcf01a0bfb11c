#include "gui/editor/PanelView.h"

// Builds on this platform get the plug-in without an editor of its own.
std::unique_ptr<PanelView> createPanelView(PanelHost& /*host*/)
{
    return nullptr;
}
