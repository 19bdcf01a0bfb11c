// The library's exported entry point. The same function is exported as
// "main" too (see the module definition and link options), for older hosts.
#include "host/BoosterEffect.h"
#include "host/PanelEditor.h"
#include "host/VstAbi.h"

#include "platform/Export.h"

#include <new>

extern "C" PLUGIN_EXPORT AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback host)
{
    if (!host || host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0)
        return nullptr;
    auto* effect = new (std::nothrow) BoosterEffect(host, PanelEditor::create);
    return effect ? effect->getAeffect() : nullptr;
}
