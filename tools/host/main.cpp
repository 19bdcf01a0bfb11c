// grindlemark-host: loads the plug-in the way a DAW does, reports on it and
// renders audio through it.
#include "GuitarPhrase.h"
#include "PluginInstance.h"
#include "PluginLibrary.h"
#include "Renderer.h"
#if GRINDLEMARK_HAS_SNDFILE
#include "SoundFile.h"
#endif
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

// Exit statuses: 1 for files and the plug-in, 2 for the command line.
constexpr int kFailed = 1;
constexpr int kUsage = 2;

void printUsage()
{
    std::fprintf(stderr,
                 "usage: grindlemark-host [--plugin FILE] --info\n"
                 "       grindlemark-host [--plugin FILE] render [IN.wav] OUT.wav [options]\n"
                 "       grindlemark-host [--plugin FILE] --editor [--program N|NAME] [--set NAME=VALUE]...\n"
                 "                        [--silent] [--screenshot FILE.png [--after MS]]\n"
                 "\n"
                 "  --plugin FILE       the plug-in to load (default: %s beside this program)\n"
                 "  --info              print identity, parameters and programs\n"
                 "  render              run IN.wav (default: a built-in guitar phrase) through the plug-in\n"
                 "    --program N|NAME  factory program by number (0-15) or name\n"
                 "    --set NAME=VALUE  parameter by name, normalised value 0..1 (repeatable)\n"
                 "    --block N         block size in frames (default 512)\n"
                 "    --double          process in double precision\n"
                 "    --rate HZ         sample rate of the built-in phrase (default 44100)\n"
                 "    --float           write 32-bit float samples instead of the input's format\n"
                 "    --quiet           no progress display\n"
                 "  --editor            open the plug-in's editor with the built-in phrase playing\n"
                 "    --silent          no audio: the displays stay at rest\n"
                 "    --screenshot FILE capture the editor to a PNG file after --after MS (default 1500) and exit\n",
                 pluginFileName());
}

class CommandError {
public:
    CommandError(int status, std::string message) : status(status), message(std::move(message)) {}
    int status;
    std::string message;
};

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

bool parseNumber(const std::string& text, double& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end && *end == 0 && std::isfinite(value);
}

bool parseInteger(const std::string& text, long& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return end && *end == 0;
}

// Program by number or by name (case does not matter).
VstInt32 findProgram(PluginInstance& plugin, const std::string& wanted)
{
    const VstInt32 count = plugin.record()->numPrograms;
    long number = 0;
    if (parseInteger(wanted, number)) {
        if (number < 0 || number >= count)
            throw CommandError(kUsage,
                               "program " + wanted + " does not exist (0 to " + std::to_string(count - 1) + ")");
        return static_cast<VstInt32>(number);
    }
    const VstInt32 current = static_cast<VstInt32>(plugin.dispatch(effGetProgram));
    VstInt32 found = -1;
    for (VstInt32 p = 0; p < count && found < 0; ++p) {
        plugin.setProgram(p);
        if (strcasecmp(plugin.programName().c_str(), wanted.c_str()) == 0)
            found = p;
    }
    plugin.setProgram(current);
    if (found < 0)
        throw CommandError(kUsage, "no program is called \"" + wanted + "\"");
    return found;
}

// Parameters by the name the plug-in reports, or by a longer name that the
// reported (cut) name begins, so both "Characte" and "Character" work.
VstInt32 findParameter(PluginInstance& plugin, const std::string& wanted)
{
    for (VstInt32 i = 0; i < plugin.record()->numParams; ++i) {
        const std::string name = plugin.parameterName(i);
        if (strcasecmp(name.c_str(), wanted.c_str()) == 0)
            return i;
        if (name.size() == 8 && wanted.size() > 8 && strncasecmp(name.c_str(), wanted.c_str(), 8) == 0)
            return i;
    }
    throw CommandError(kUsage, "no parameter is called \"" + wanted + "\"");
}

void applySettings(PluginInstance& plugin, const std::string& program,
                   const std::vector<std::pair<std::string, std::string>>& settings)
{
    if (!program.empty())
        plugin.setProgram(findProgram(plugin, program));
    for (const auto& [name, valueText] : settings) {
        const VstInt32 index = findParameter(plugin, name);
        double value = 0.0;
        if (!parseNumber(valueText, value) || value < 0.0 || value > 1.0)
            throw CommandError(kUsage,
                               "the value of " + name + " must be a number from 0 to 1, not \"" + valueText + "\"");
        plugin.setParameter(index, static_cast<float>(value));
    }
}

struct RenderCommand {
    std::string inputPath;
    std::string outputPath;
    std::string program;
    std::vector<std::pair<std::string, std::string>> settings;
    long blockSize = 512;
    bool doublePrecision = false;
    double rate = 0.0;
    bool floatOutput = false;
    bool quiet = false;
};

RenderCommand parseRender(const std::vector<std::string>& args)
{
    RenderCommand command;
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size())
                throw CommandError(kUsage, arg + " needs a value");
            return args[++i];
        };
        if (arg == "--program") {
            command.program = value();
        } else if (arg == "--set") {
            const std::string& setting = value();
            const auto equals = setting.find('=');
            if (equals == std::string::npos || equals == 0)
                throw CommandError(kUsage, "--set takes NAME=VALUE, not \"" + setting + "\"");
            command.settings.emplace_back(setting.substr(0, equals), setting.substr(equals + 1));
        } else if (arg == "--block") {
            if (!parseInteger(value(), command.blockSize) || command.blockSize < 1 || command.blockSize > 1048576)
                throw CommandError(kUsage, "--block takes a whole number from 1 to 1048576");
        } else if (arg == "--rate") {
            if (!parseNumber(value(), command.rate) || command.rate < 8000.0 || command.rate > 384000.0)
                throw CommandError(kUsage, "--rate takes a sample rate from 8000 to 384000 Hz");
        } else if (arg == "--double") {
            command.doublePrecision = true;
        } else if (arg == "--float") {
            command.floatOutput = true;
        } else if (arg == "--quiet") {
            command.quiet = true;
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            throw CommandError(kUsage, "unknown option " + arg);
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.size() == 1) {
        command.outputPath = paths[0];
    } else if (paths.size() == 2) {
        command.inputPath = paths[0];
        command.outputPath = paths[1];
    } else {
        throw CommandError(kUsage, "render takes [IN.wav] OUT.wav");
    }
    if (!command.inputPath.empty() && command.rate > 0.0)
        throw CommandError(kUsage, "--rate applies only to the built-in phrase; the file has its own rate");
    return command;
}

#if GRINDLEMARK_HAS_SNDFILE
std::string dbText(double db)
{
    if (!std::isfinite(db))
        return "-inf";
    char text[16];
    std::snprintf(text, sizeof(text), "%.1f", db);
    return text;
}
#endif

int render(PluginLibrary& library, const RenderCommand& command)
{
#if GRINDLEMARK_HAS_SNDFILE
    AudioBuffer input;
    SoundFileFormat format;
    std::string error;
    if (command.inputPath.empty()) {
        input.sampleRate = command.rate > 0.0 ? command.rate : 44100.0;
        std::vector<float> phrase = synthesizeGuitarPhrase(input.sampleRate);
        input.channels.assign(1, std::vector<double>(phrase.begin(), phrase.end()));
        format = wavFormat(false);
    } else if (!readSoundFile(command.inputPath, input, format, error)) {
        throw CommandError(kFailed, error);
    }
    if (command.floatOutput)
        format = floatVersionOf(format);

    PluginInstance plugin(library.entry());
    if (!plugin.valid())
        throw CommandError(kFailed, "the plug-in returned no effect");
    // Settings first, then the host's start sequence, as a DAW restoring a session does.
    applySettings(plugin, command.program, command.settings);
    plugin.start(static_cast<float>(input.sampleRate), static_cast<VstInt32>(command.blockSize));

    RenderOptions options;
    options.blockSize = static_cast<int>(command.blockSize);
    options.doublePrecision = command.doublePrecision;
    const double seconds = static_cast<double>(input.frames()) / input.sampleRate;
    const bool showProgress = !command.quiet && seconds > 20.0 && isatty(fileno(stderr));
    if (showProgress)
        options.progress = [](double done) {
            std::fprintf(stderr, "\rrendering %3d%%", static_cast<int>(done * 100.0));
        };

    const auto started = std::chrono::steady_clock::now();
    AudioBuffer output = renderThrough(plugin, input, options);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (showProgress)
        std::fprintf(stderr, "\n");

    if (!writeSoundFile(command.outputPath, output, format, error))
        throw CommandError(kFailed, error);

    const LevelSummary in = measureLevels(input);
    const LevelSummary out = measureLevels(output);
    std::printf("%-22s in %6s / %6s dBFS   out %6s / %6s dBFS   %6.2f s  %6.1fx realtime   %s\n",
                plugin.programName().c_str(), dbText(in.peakDb).c_str(), dbText(in.rmsDb).c_str(),
                dbText(out.peakDb).c_str(), dbText(out.rmsDb).c_str(), seconds, elapsed > 0.0 ? seconds / elapsed : 0.0,
                command.outputPath.c_str());
    return 0;
#else
    (void)library;
    (void)command;
    throw CommandError(kUsage, "this build of the host tool cannot read or write audio files");
#endif
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
                pluginPath = value();
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

        PluginLibrary library;
        if (!library.load(pluginPath))
            throw CommandError(kFailed, library.error());
        if (rendering)
            return render(library, command);
        PluginInstance plugin(library.entry());
        if (!plugin.valid())
            throw CommandError(kFailed, pluginPath + " returned no effect");
        if (!editing)
            return printInfo(plugin);
        applySettings(plugin, editorProgram, editorSettings);
#if GRINDLEMARK_HAS_EDITOR_HOST
        EditorOptions options;
        options.screenshotPath = screenshotPath;
        options.screenshotAfterMs = static_cast<int>(screenshotAfter);
        options.playAudio = !silent;
        return runEditor(plugin, options);
#else
        throw CommandError(kUsage, "this build of the host tool cannot show editors");
#endif
    } catch (const CommandError& failure) {
        std::fprintf(stderr, "grindlemark-host: %s\n", failure.message.c_str());
        if (failure.status == kUsage)
            std::fprintf(stderr, "(grindlemark-host --help for usage)\n");
        return failure.status;
    }
}
