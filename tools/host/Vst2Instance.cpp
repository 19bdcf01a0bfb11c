#include "Vst2Instance.h"

#include <cstdint>
#include <cstring>

VstIntPtr VSTCALLBACK hostCallback(AEffect* /*effect*/, VstInt32 opcode, VstInt32 /*index*/, VstIntPtr /*value*/,
                                   void* /*ptr*/, float /*opt*/)
{
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

Vst2Instance::Vst2Instance(VstEntryProc entry)
{
    AEffect* candidate = entry ? entry(hostCallback) : nullptr;
    if (candidate && candidate->magic == kEffectMagic)
        effect = candidate;
}

Vst2Instance::~Vst2Instance()
{
    if (effect) {
        dispatch(effMainsChanged, 0, 0);
        dispatch(effClose);
    }
}

VstIntPtr Vst2Instance::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
    return effect->dispatcher(effect, opcode, index, value, ptr, opt);
}

void Vst2Instance::start(double sampleRate, int blockSize)
{
    dispatch(effOpen);
    dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(sampleRate));
    dispatch(effSetBlockSize, 0, blockSize);
    dispatch(effMainsChanged, 0, 1);
}

std::string Vst2Instance::text(VstInt32 opcode, VstInt32 index)
{
    // Generous room: plug-ins are known to write past the documented limits.
    char buffer[256];
    std::memset(buffer, 0, sizeof(buffer));
    dispatch(opcode, index, 0, buffer);
    buffer[sizeof(buffer) - 1] = 0;
    return buffer;
}

namespace {

std::string fourCharText(VstInt32 code)
{
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        char c = static_cast<char>((static_cast<std::uint32_t>(code) >> shift) & 0xff);
        text += (c >= 32 && c < 127) ? c : '?';
    }
    return text;
}

std::string flagsText(VstInt32 flags)
{
    static const struct {
        VstInt32 flag;
        const char* name;
    } names[] = {{effFlagsHasEditor, "HasEditor"},         {effFlagsCanReplacing, "CanReplacing"},
                 {effFlagsProgramChunks, "ProgramChunks"}, {effFlagsIsSynth, "IsSynth"},
                 {effFlagsNoSoundInStop, "NoSoundInStop"}, {effFlagsCanDoubleReplacing, "CanDoubleReplacing"}};
    std::string text;
    for (const auto& entry : names)
        if (flags & entry.flag)
            text += (text.empty() ? "" : " ") + std::string(entry.name);
    return text.empty() ? "none" : text;
}

} // namespace

std::vector<std::pair<std::string, std::string>> Vst2Instance::identity()
{
    return {
        {"Effect", text(effGetEffectName)},
        {"Vendor", text(effGetVendorString)},
        {"Product", text(effGetProductString)},
        {"Version", "vendor " + std::to_string(dispatch(effGetVendorVersion)) + ", record " +
                        std::to_string(effect->version) + ", VST " + std::to_string(dispatch(effGetVstVersion))},
        {"Unique ID", "'" + fourCharText(effect->uniqueID) + "'"},
        {"Channels", std::to_string(effect->numInputs) + " in, " + std::to_string(effect->numOutputs) + " out"},
        {"Flags", flagsText(effect->flags)},
        {"Latency", std::to_string(effect->initialDelay) + " samples"},
    };
}

bool Vst2Instance::editorSize(int& width, int& height, std::string& reason)
{
    width = height = 0;
    if (!(effect->flags & effFlagsHasEditor)) {
        reason = "the plug-in has no editor";
        return false;
    }
    ERect* rect = nullptr;
    dispatch(effEditGetRect, 0, 0, &rect);
    width = rect ? rect->right - rect->left : 0;
    height = rect ? rect->bottom - rect->top : 0;
    if (width <= 0 || height <= 0) {
        reason = "the editor reports no size";
        return false;
    }
    return true;
}

bool Vst2Module::load(const std::string& path, std::string& error)
{
    if (!library.load(path)) {
        error = library.error();
        return false;
    }
    void* symbol = library.symbol("VSTPluginMain");
    if (!symbol)
        symbol = library.symbol("main");
    if (!symbol) {
        error = path + " exports neither VSTPluginMain nor main";
        return false;
    }
    entry = reinterpret_cast<VstEntryProc>(symbol);
    return true;
}

std::unique_ptr<PluginInstance> Vst2Module::instantiate(std::string& error)
{
    auto instance = std::make_unique<Vst2Instance>(entry);
    if (!instance->valid()) {
        error = "the plug-in returned no effect";
        return nullptr;
    }
    return instance;
}
