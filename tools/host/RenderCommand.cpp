#include "RenderCommand.h"

#include "RenderJobs.h"

#include <cctype>
#include <filesystem>
#include <set>

namespace {

namespace fs = std::filesystem;

// "Single coil warm-up" -> "single-coil-warm-up".
std::string fileNamePart(const std::string& name)
{
    std::string part;
    for (char c : name) {
        if (std::isalnum(static_cast<unsigned char>(c)))
            part += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        else if (!part.empty() && part.back() != '-')
            part += '-';
    }
    while (!part.empty() && part.back() == '-')
        part.pop_back();
    return part;
}

std::string programPart(PluginInstance& plugin, int program)
{
    if (program < 0)
        return "";
    const int current = plugin.program();
    plugin.setProgram(program);
    const std::string name = fileNamePart(plugin.programName());
    plugin.setProgram(current);
    return "-" + std::to_string(program) + (name.empty() ? "" : "-" + name);
}

// Every output against every input, as files, not names (a link to an input
// is that input): one job's output must never replace what another job, or
// the same one, reads. Refuses the whole run before anything is written.
void refuseOutputsOverInputs(const std::vector<RenderJob>& jobs)
{
    std::set<std::string> inputs;
    for (const RenderJob& job : jobs)
        if (!job.inputPath.empty())
            inputs.insert(job.inputPath);
    std::vector<std::string> clashes;
    for (const RenderJob& job : jobs) {
        std::error_code failure;
        if (!fs::exists(job.outputPath, failure))
            continue;
        for (const std::string& input : inputs) {
            if (fs::equivalent(job.outputPath, input, failure) && !failure)
                clashes.push_back(job.outputPath +
                                  (job.outputPath == input ? "" : " (the same file as " + input + ")"));
        }
    }
    if (clashes.empty())
        return;
    if (jobs.size() == 1)
        throw CommandError(kFailed, "will not write " + clashes[0] + " over its own input");
    std::string names;
    for (const std::string& clash : clashes)
        names += "\n  " + clash;
    throw CommandError(kFailed, "will not write over inputs of this batch, so nothing was rendered:" + names +
                                    "\n(render into another folder, or keep earlier results out of the inputs)");
}

} // namespace

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
            command.programs.push_back(value());
        } else if (arg == "--all-programs") {
            command.allPrograms = true;
        } else if (arg == "-o") {
            command.outputFolder = value();
        } else if (arg == "--type") {
            command.outputType = value();
            if (command.outputType.empty() || command.outputType.find('/') != std::string::npos)
                throw CommandError(kUsage, "--type takes a file extension such as wav or flac");
            if (command.outputType[0] == '.')
                command.outputType.erase(0, 1);
        } else if (arg == "-j") {
            if (!parseInteger(value(), command.threads) || command.threads < 1 || command.threads > 256)
                throw CommandError(kUsage, "-j takes a number of threads from 1 to 256");
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
            if (!parseNumber(value(), command.rate) || command.rate < kLowestSampleRate ||
                command.rate > kHighestSampleRate)
                throw CommandError(kUsage, "--rate takes a sample rate from " +
                                               std::to_string(long(kLowestSampleRate)) + " to " +
                                               std::to_string(long(kHighestSampleRate)) + " Hz");
        } else if (arg == "--double") {
            command.doublePrecision = true;
        } else if (arg == "--float") {
            command.floatOutput = true;
        } else if (arg == "--quiet") {
            command.quiet = true;
        } else if (arg == "--raw") {
            command.raw = true;
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            throw CommandError(kUsage, "unknown option " + arg);
        } else {
            paths.push_back(arg);
        }
    }
    if (!command.outputFolder.empty()) {
        command.inputPaths = paths;
    } else {
        if (paths.empty() || paths.size() > 2)
            throw CommandError(kUsage, "render takes [IN.wav] OUT.wav, or -o DIR [IN.wav]...");
        command.outputPath = paths.back();
        if (paths.size() == 2)
            command.inputPaths.push_back(paths[0]);
        if (command.programs.size() > 1 || command.allPrograms)
            throw CommandError(kUsage, "several programs need an output folder: -o DIR");
        if (!command.outputType.empty())
            throw CommandError(kUsage, "--type applies to -o DIR; a single output takes its type from its name");
    }
    if (!command.inputPaths.empty() && command.rate > 0.0)
        throw CommandError(kUsage, "--rate applies only to the built-in phrase; the file has its own rate");
    return command;
}

int render(PluginModule& module, const RenderCommand& command)
{
    // Names and display texts are worked out once, on an instance of their
    // own; every job then starts from a fresh instance.
    std::string failure;
    const std::unique_ptr<PluginInstance> instance = module.instantiate(failure);
    if (!instance)
        throw CommandError(kFailed, failure);
    PluginInstance& probe = *instance;
    std::vector<int> programs;
    if (command.allPrograms)
        for (int p = 0; p < probe.programCount(); ++p)
            programs.push_back(p);
    for (const std::string& program : command.programs)
        programs.push_back(findProgram(probe, program));
    if (programs.empty())
        programs.push_back(-1);
    const ResolvedSettings values = resolveSettings(probe, "", command.settings);

    std::vector<RenderJob> jobs;
    if (command.outputFolder.empty()) {
        jobs.push_back({command.inputPaths.empty() ? "" : command.inputPaths[0],
                        command.outputPath,
                        {programs[0], values.values}});
    } else {
        const std::vector<std::string> inputs =
            command.inputPaths.empty() ? std::vector<std::string>{""} : command.inputPaths;
        std::set<std::string> outputs;
        for (const std::string& input : inputs) {
            const fs::path inputPath(input.empty() ? "phrase.wav" : input);
            const std::string type =
                command.outputType.empty() ? inputPath.extension().string() : "." + command.outputType;
            for (int program : programs) {
                const std::string name = inputPath.stem().string() + programPart(probe, program) + type;
                const std::string output = (fs::path(command.outputFolder) / name).string();
                if (!outputs.insert(output).second)
                    throw CommandError(kUsage, "two jobs would write " + output +
                                                   " (one program twice, or two inputs of one name)");
                jobs.push_back({input, output, {program, values.values}});
            }
        }
    }
    refuseOutputsOverInputs(jobs);
    if (!command.outputFolder.empty()) {
        std::error_code failure;
        fs::create_directories(command.outputFolder, failure);
        if (!fs::is_directory(command.outputFolder))
            throw CommandError(kFailed, "cannot make the folder " + command.outputFolder);
    }

    BatchOptions options;
    options.threads = static_cast<int>(command.threads);
    options.blockSize = static_cast<int>(command.blockSize);
    options.doublePrecision = command.doublePrecision;
    options.floatOutput = command.floatOutput;
    options.phraseRate = command.rate > 0.0 ? command.rate : 44100.0;
    options.quiet = command.quiet;
    options.raw = command.raw;
    return runRenderJobs(module, jobs, options);
}
