#include "host/EditorFactory.h"

// Hosts on this platform get the plug-in without an editor of its own.
AEffEditor* createBoosterEditor(BoosterEffect* /*effect*/)
{
    return nullptr;
}
