// The module's one export: the CLAP entry, whose factory makes the booster.
#include "clap/ClapBooster.h"

#include <clap/entry.h>
#include <clap/plugin-factory.h>

#include <cstring>
#include <new>

namespace {

// The module keeps nothing to set up or tear down; instances hold everything.
bool CLAP_ABI initModule(const char*)
{
    return true;
}

void CLAP_ABI deinitModule() {}

std::uint32_t CLAP_ABI pluginCount(const clap_plugin_factory_t*)
{
    return 1;
}

const clap_plugin_descriptor_t* CLAP_ABI pluginDescriptor(const clap_plugin_factory_t*, std::uint32_t index)
{
    return index == 0 ? &kClapDescriptor : nullptr;
}

const clap_plugin_t* CLAP_ABI createPlugin(const clap_plugin_factory_t*, const clap_host_t* host, const char* id)
{
    if (!host || !id || !clap_version_is_compatible(host->clap_version) || std::strcmp(id, kClapDescriptor.id) != 0)
        return nullptr;
    try {
        auto* booster = new (std::nothrow) ClapBooster(host);
        return booster ? booster->plugin() : nullptr;
    } catch (...) {
        return nullptr;
    }
}

const clap_plugin_factory_t kFactory = {pluginCount, pluginDescriptor, createPlugin};

const void* CLAP_ABI factory(const char* id)
{
    return id && std::strcmp(id, CLAP_PLUGIN_FACTORY_ID) == 0 ? &kFactory : nullptr;
}

} // namespace

extern "C" CLAP_EXPORT const clap_plugin_entry_t clap_entry = {CLAP_VERSION_INIT, initModule, deinitModule, factory};
