#include "ClapInstance.h"
#include "PluginInstance.h"
#include "Vst2Instance.h"
#include "Vst3Instance.h"

namespace {

bool endsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

template <typename Module> std::unique_ptr<PluginModule> loadAs(const std::string& path, std::string& error)
{
    auto module = std::make_unique<Module>();
    if (!module->load(path, error))
        return nullptr;
    return module;
}

} // namespace

std::unique_ptr<PluginModule> loadPluginModule(const std::string& path, std::string& error)
{
    // A bundle folder may be named with a trailing separator.
    std::string name = path;
    while (name.size() > 1 && (name.back() == '/' || name.back() == '\\'))
        name.pop_back();
    if (endsWith(name, ".vst3"))
        return loadAs<Vst3Module>(name, error);
    if (endsWith(name, ".clap"))
        return loadAs<ClapPluginModule>(name, error);
    return loadAs<Vst2Module>(path, error);
}
