// grindlemark-host: loads the plug-in the way a DAW does, reports on it and
// renders audio through it.
#include "GuitarPhrase.h"
#include "PluginInstance.h"
#include "PluginLibrary.h"
#include "PluginSettings.h"
#include "RenderCommand.h"
#if GRINDLEMARK_HAS_EDITOR_HOST
#include "EditorWindow.h"
#endif

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <unistd.h>
#include <vector>

namespace {

void printUsage()
{
    std::printf("usage: grindlemark-host [--plugin FILE] --info\n"
                "       grindlemark-host [--plugin FILE] render [IN.wav] OUT.wav [options]\n"
                "       grindlemark-host [--plugin FILE] render -o DIR [IN.wav]... [options]\n"
                "       grindlemark-host [--plugin FILE] --editor [--program N|NAME] [--set NAME=VALUE]...\n"
                "                        [--silent|--silence] [--screenshot FILE.png [--after MS]]\n"
                "\n"
                "  --plugin FILE       the plug-in to load (default: %s beside this program)\n"
                "  --info              print identity, parameters and programs\n"
                "  render              run IN.wav (default: a built-in guitar phrase) through the plug-in;\n"
                "                      the output's type follows its extension (.wav, .flac, .aiff, .ogg, ...)\n"
                "    -o DIR            render every input with every program into DIR, in parallel\n"
                "    --program N|NAME  factory program by number (0-15) or name (repeatable with -o)\n"
                "    --all-programs    every program (with -o)\n"
                "    --set NAME=VALUE  parameter by name, value as displayed (Mode=tape, Level=-3dB,\n"
                "                      Oversample=16x) or normalised with a trailing n (Drive=0.7n)\n"
                "    -j N              jobs at once (default: one per core)\n"
                "    --type EXT        extension of the outputs with -o (default: the input's)\n"
                "    --block N         block size in frames (default 512)\n"
                "    --double          process in double precision\n"
                "    --rate HZ         sample rate of the built-in phrase (11025 to 192000, default 44100)\n"
                "    --float           write 32-bit float samples instead of the input's encoding\n"
                "    --raw             the plug-in's stream as it comes: no pre-roll of silence before the\n"
                "                      take, no delay taken off (by default outputs line up with their inputs)\n"
                "    --quiet           no progress display\n"
                "  --editor            open the plug-in's editor with the built-in phrase playing\n"
                "    --silent          no audio: the displays stay at rest\n"
                "    --silence         digital silence playing, as a host runs an empty track\n"
                "    --screenshot FILE capture the editor to a PNG file after --after MS (default 1500) and exit\n",
                pluginFileName());
}

// A bare file name means the file in the current folder, as on any command
// line; the loader would otherwise search the system's library folders.
std::string pluginPathFromArgument(const std::string& argument)
{
    return argument.find_first_of("/\\") == std::string::npos ? "./" + argument : argument;
}

int printInfo(PluginInstance& plugin)
{
    for (const auto& [label, value] : plugin.identity())
        std::printf("%-11s %s\n", label.c_str(), value.c_str());

    const int parameters = plugin.parameterCount();
    std::printf("\nParameters (%d)\n", parameters);
    for (int i = 0; i < parameters; ++i)
        std::printf("  %d  %-8s  %-8s %s  (%.4f)\n", i, plugin.parameterName(i).c_str(),
                    plugin.parameterDisplay(i).c_str(), plugin.parameterLabel(i).c_str(),
                    static_cast<double>(plugin.parameter(i)));

    std::printf("\nPrograms (%d)\n", plugin.programCount());
    for (int p = 0; p < plugin.programCount(); ++p) {
        plugin.setProgram(p);
        std::printf("  %2d  %-24s", p, plugin.programName().c_str());
        for (int i = 0; i < parameters; ++i)
            std::printf(" %7s", plugin.parameterDisplay(i).c_str());
        std::printf("\n");
    }
    plugin.setProgram(0);
    return 0;
}

// A plug-in that broke its format's rules fails the command, whatever it did.
int withProtocolFaults(const PluginModule& module, int status)
{
    const std::vector<std::string> faults = module.protocolFaults();
    for (const std::string& fault : faults)
        std::fprintf(stderr, "grindlemark-host: %s\n", fault.c_str());
    return faults.empty() ? status : kFailed;
}

} // namespace

int main(int argc, char** argv)
{
    std::string pluginPath = executableFolder() + pluginFileName();
    std::vector<std::string> args(argv + 1, argv + argc);
    bool info = false;
    bool rendering = false;
    bool editing = false;
    std::vector<std::string> renderArgs;
    std::string editorProgram;
    std::vector<std::pair<std::string, std::string>> editorSettings;
    std::string screenshotPath;
    long screenshotAfter = 1500;
    bool silent = false;
    bool silence = false;
    try {
        for (std::size_t i = 0; i < args.size(); ++i) {
            auto value = [&]() -> const std::string& {
                if (i + 1 >= args.size())
                    throw CommandError(kUsage, args[i] + " needs a value");
                return args[++i];
            };
            if (rendering) {
                renderArgs.push_back(args[i]);
            } else if (args[i] == "--plugin") {
                pluginPath = pluginPathFromArgument(value());
            } else if (args[i] == "--info") {
                info = true;
            } else if (args[i] == "render") {
                rendering = true;
            } else if (args[i] == "--editor") {
                editing = true;
            } else if (editing && args[i] == "--program") {
                editorProgram = value();
            } else if (editing && args[i] == "--set") {
                const std::string& setting = value();
                const auto equals = setting.find('=');
                if (equals == std::string::npos || equals == 0)
                    throw CommandError(kUsage, "--set takes NAME=VALUE, not \"" + setting + "\"");
                editorSettings.emplace_back(setting.substr(0, equals), setting.substr(equals + 1));
            } else if (editing && args[i] == "--silent") {
                silent = true;
            } else if (editing && args[i] == "--silence") {
                silence = true;
            } else if (editing && args[i] == "--screenshot") {
                screenshotPath = value();
            } else if (editing && args[i] == "--after") {
                if (!parseInteger(value(), screenshotAfter) || screenshotAfter < 0 || screenshotAfter > 600000)
                    throw CommandError(kUsage, "--after takes milliseconds from 0 to 600000");
            } else if (args[i] == "--help" || args[i] == "-h") {
                printUsage();
                return 0;
            } else {
                throw CommandError(kUsage, "unknown argument " + args[i]);
            }
        }
        if (int(info) + int(rendering) + int(editing) != 1)
            throw CommandError(kUsage, "say one of --info, render or --editor");
        const RenderCommand command = rendering ? parseRender(renderArgs) : RenderCommand{};

        std::string failure;
        const std::unique_ptr<PluginModule> module = loadPluginModule(pluginPath, failure);
        if (!module)
            throw CommandError(kFailed, failure);
        if (rendering)
            return withProtocolFaults(*module, render(*module, command));
        std::unique_ptr<PluginInstance> instance = module->instantiate(failure);
        if (!instance)
            throw CommandError(kFailed, pluginPath + ": " + failure);
        PluginInstance& plugin = *instance;
        if (!editing) {
            const int status = printInfo(plugin);
            instance.reset();
            return withProtocolFaults(*module, status);
        }
        applySettings(plugin, editorProgram, editorSettings);
#if GRINDLEMARK_HAS_EDITOR_HOST
        EditorOptions options;
        options.screenshotPath = screenshotPath;
        options.screenshotAfterMs = static_cast<int>(screenshotAfter);
        options.playAudio = !silent;
        options.playSilence = silence;
        const int status = runEditor(plugin, options);
        instance.reset();
        return withProtocolFaults(*module, status);
#else
        static_cast<void>(silent);
        static_cast<void>(silence);
        throw CommandError(kUsage, "this build of the host tool cannot show editors");
#endif
    } catch (const CommandError& failure) {
        std::fprintf(stderr, "grindlemark-host: %s\n", failure.message.c_str());
        if (failure.status == kUsage)
            std::fprintf(stderr, "(grindlemark-host --help for usage)\n");
        return failure.status;
    }
}
