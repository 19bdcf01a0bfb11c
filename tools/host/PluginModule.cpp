#include "ClapInstance.h"
#include "PluginInstance.h"
#include "Vst2Instance.h"

namespace {

bool endsWith(const std::string& text, const std::string& ending)
{
    return text.size() >= ending.size() && text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

} // namespace

std::unique_ptr<PluginModule> loadPluginModule(const std::string& path, std::string& error)
{
    if (endsWith(path, ".clap")) {
        auto module = std::make_unique<ClapPluginModule>();
        if (!module->load(path, error))
            return nullptr;
        return module;
    }
    auto module = std::make_unique<Vst2Module>();
    if (!module->load(path, error))
        return nullptr;
    return module;
}
