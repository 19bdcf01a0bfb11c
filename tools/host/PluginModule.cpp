#include "PluginInstance.h"
#include "Vst2Instance.h"

std::unique_ptr<PluginModule> loadPluginModule(const std::string& path, std::string& error)
{
    auto module = std::make_unique<Vst2Module>();
    if (!module->load(path, error))
        return nullptr;
    return module;
}
