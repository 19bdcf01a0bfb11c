// The VST 3 module's entry points: the factory every host asks for, and the
// load and unload calls each platform's hosts make around it.
#include "effect/ProductVersion.h"
#include "platform/Export.h"
#include "vst3/Vst3Abi.h"
#include "vst3/Vst3Plugin.h"

#include <cstring>
#include <new>

using namespace vst3;

namespace {

constexpr const char* kClassName = "Grindlemark";
constexpr const char* kClassCategory = "Audio Module Class";
constexpr const char* kSubCategories = "Fx|Distortion";
constexpr const char* kInterfaceVersion = "VST 3.7";

template <std::size_t size> void copyText(char (&field)[size], const char* text)
{
    std::strncpy(field, text, size - 1);
    field[size - 1] = 0;
}

// One factory for the module's lifetime; hosts reference-count it, but it
// is never destroyed.
class BoosterFactory final : public IPluginFactory3 {
public:
    tresult VST3CALL queryInterface(const TUID iid, void** object) override
    {
        if (!object)
            return kInvalidArgument;
        if (kFUnknownIid == iid || kIPluginFactoryIid == iid || kIPluginFactory2Iid == iid ||
            kIPluginFactory3Iid == iid) {
            *object = static_cast<IPluginFactory3*>(this);
            return kResultOk;
        }
        *object = nullptr;
        return kNoInterface;
    }
    std::uint32_t VST3CALL addRef() override { return 1; }

    // The one class in each of the three forms of its description: the
    // fields all forms share, then the form's own.
    template <typename Info, typename Texts> static tresult describe(std::int32_t index, Info* info, Texts texts)
    {
        if (index != 0 || !info)
            return kInvalidArgument;
        std::memset(info, 0, sizeof(*info));
        std::memcpy(info->cid, kBoosterClassId.bytes, sizeof(info->cid));
        info->cardinality = kManyInstances;
        copyText(info->category, kClassCategory);
        texts(*info);
        return kResultOk;
    }
    std::uint32_t VST3CALL release() override { return 1; }

    tresult VST3CALL getFactoryInfo(PFactoryInfo* info) override
    {
        if (!info)
            return kInvalidArgument;
        std::memset(info, 0, sizeof(*info));
        copyText(info->vendor, GRINDLEMARK_VENDOR_TEXT);
        info->flags = kFactoryUnicode;
        return kResultOk;
    }
    std::int32_t VST3CALL countClasses() override { return 1; }
    tresult VST3CALL getClassInfo(std::int32_t index, PClassInfo* info) override
    {
        return describe(index, info, [](PClassInfo& into) { copyText(into.name, kClassName); });
    }
    tresult VST3CALL getClassInfo2(std::int32_t index, PClassInfo2* info) override
    {
        return describe(index, info, [](PClassInfo2& into) {
            copyText(into.name, kClassName);
            copyText(into.subCategories, kSubCategories);
            copyText(into.vendor, GRINDLEMARK_VENDOR_TEXT);
            copyText(into.version, GRINDLEMARK_VERSION_TEXT);
            copyText(into.sdkVersion, kInterfaceVersion);
        });
    }
    tresult VST3CALL getClassInfoUnicode(std::int32_t index, PClassInfoW* info) override
    {
        return describe(index, info, [](PClassInfoW& into) {
            copyToString16(into.name, 64, kClassName);
            copyText(into.subCategories, kSubCategories);
            copyToString16(into.vendor, 64, GRINDLEMARK_VENDOR_TEXT);
            copyToString16(into.version, 64, GRINDLEMARK_VERSION_TEXT);
            copyToString16(into.sdkVersion, 64, kInterfaceVersion);
        });
    }
    tresult VST3CALL setHostContext(FUnknown*) override { return kResultOk; }

    tresult VST3CALL createInstance(const TUID cid, const TUID iid, void** object) override
    {
        if (!object)
            return kInvalidArgument;
        *object = nullptr;
        if (!(kBoosterClassId == cid))
            return kNoInterface;
        auto* plugin = new (std::nothrow) Vst3Plugin();
        if (!plugin)
            return kInternalError;
        // The host's reference comes from queryInterface; creation's goes.
        const tresult answer = plugin->queryInterface(iid, object);
        plugin->release();
        return answer;
    }
};

BoosterFactory factory;

} // namespace

extern "C" {

PLUGIN_EXPORT IPluginFactory* VST3CALL GetPluginFactory()
{
    return &factory;
}

// Load and unload hooks: Linux hosts call the first pair, Windows hosts the
// second. The module keeps nothing that needs them.
PLUGIN_EXPORT bool ModuleEntry(void*)
{
    return true;
}
PLUGIN_EXPORT bool ModuleExit()
{
    return true;
}
PLUGIN_EXPORT bool InitDll()
{
    return true;
}
PLUGIN_EXPORT bool ExitDll()
{
    return true;
}
}
