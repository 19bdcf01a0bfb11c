// grindlemark-host: loads the plug-in the way a DAW does and reports on it.
//
//   grindlemark-host [--plugin FILE] --info
#include "PluginInstance.h"
#include "PluginLibrary.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

void printUsage()
{
    std::fprintf(stderr,
                 "usage: grindlemark-host [--plugin FILE] --info\n"
                 "  --plugin FILE  the plug-in to load (default: %s beside this program)\n"
                 "  --info         print identity, parameters and programs\n",
                 pluginFileName());
}

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

int printInfo(PluginInstance& plugin)
{
    const AEffect* record = plugin.record();
    std::printf("Effect      %s\n", plugin.text(effGetEffectName).c_str());
    std::printf("Vendor      %s\n", plugin.text(effGetVendorString).c_str());
    std::printf("Product     %s\n", plugin.text(effGetProductString).c_str());
    std::printf("Version     vendor %ld, record %d, VST %ld\n", static_cast<long>(plugin.dispatch(effGetVendorVersion)),
                record->version, static_cast<long>(plugin.dispatch(effGetVstVersion)));
    std::printf("Unique ID   '%s'\n", fourCharText(record->uniqueID).c_str());
    std::printf("Channels    %d in, %d out\n", record->numInputs, record->numOutputs);
    std::printf("Flags       %s\n", flagsText(record->flags).c_str());
    std::printf("Latency     %d samples\n", record->initialDelay);

    std::printf("\nParameters (%d)\n", record->numParams);
    for (VstInt32 i = 0; i < record->numParams; ++i)
        std::printf("  %d  %-8s  %-8s %s  (%.4f)\n", i, plugin.parameterName(i).c_str(),
                    plugin.parameterDisplay(i).c_str(), plugin.parameterLabel(i).c_str(),
                    static_cast<double>(plugin.parameter(i)));

    std::printf("\nPrograms (%d)\n", record->numPrograms);
    for (VstInt32 p = 0; p < record->numPrograms; ++p) {
        plugin.setProgram(p);
        std::printf("  %2d  %-24s", p, plugin.programName().c_str());
        for (VstInt32 i = 0; i < record->numParams; ++i)
            std::printf(" %7s", plugin.parameterDisplay(i).c_str());
        std::printf("\n");
    }
    plugin.setProgram(0);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::string pluginPath = executableFolder() + pluginFileName();
    bool info = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--plugin") && i + 1 < argc) {
            pluginPath = argv[++i];
        } else if (!std::strcmp(argv[i], "--info")) {
            info = true;
        } else {
            printUsage();
            return 2;
        }
    }
    if (!info) {
        printUsage();
        return 2;
    }

    PluginLibrary library;
    if (!library.load(pluginPath)) {
        std::fprintf(stderr, "grindlemark-host: %s\n", library.error().c_str());
        return 1;
    }
    PluginInstance plugin(library.entry());
    if (!plugin.valid()) {
        std::fprintf(stderr, "grindlemark-host: %s returned no effect\n", pluginPath.c_str());
        return 1;
    }
    return printInfo(plugin);
}
