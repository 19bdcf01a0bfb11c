#include "RenderJobs.h"

#include "GuitarPhrase.h"
#include "RenderInterrupts.h"
#include "Renderer.h"
#include "SoundFile.h"
#include "Vst2Instance.h"
#include "engine/Oversampler.h"
#include "host/BoosterEffect.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Silence the plug-in runs on before each take: longer than its switch fade
// (128 frames) and long enough for the triode stage to settle from its
// starting point to below -110 dBFS.
constexpr double kPreRollSeconds = 0.1;

struct JobOutcome {
    bool ok = false;
    std::string error;
    std::string note; // an encoding the output's container changed
    std::vector<std::string> warnings;
    std::string programName; // with the settings that changed it
    int delayFrames = 0;     // taken off
    RenderResult result;
    double sampleRate = 0.0;
    double wallSeconds = 0.0;
    double processorSeconds = 0.0;
};

// Time this thread has run: what a job costs on its own, whoever else shares
// the machine.
double threadProcessorSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// Shared by the workers and the progress display.
struct BatchProgress {
    std::atomic<std::int64_t> framesDone{0};
    std::atomic<std::int64_t> framesKnown{0};
    std::atomic<std::size_t> jobsDone{0};
};

std::string rateText(double rate)
{
    return std::to_string(static_cast<long>(rate + 0.5)) + " Hz";
}

std::unique_ptr<AudioSource> openSource(const RenderJob& job, const BatchOptions& options, int& encoding,
                                        std::int64_t& promisedFrames, std::string& error)
{
    if (job.inputPath.empty()) {
        encoding = defaultEncoding();
        auto phrase = std::make_unique<MemorySource>(synthesizeGuitarPhrase(options.phraseRate), options.phraseRate);
        promisedFrames = phrase->frames();
        return phrase;
    }
    auto reader = std::make_unique<SoundFileReader>();
    if (!reader->open(job.inputPath, error))
        return nullptr;
    encoding = reader->encoding();
    promisedFrames = std::max(reader->frames(), reader->promisedFrames());
    return reader;
}

// The parameter the plug-in reports under this name, or -1.
int parameterNamed(PluginInstance& plugin, const char* name)
{
    for (int i = 0; i < plugin.parameterCount(); ++i)
        if (plugin.parameterName(i) == name)
            return i;
    return -1;
}

// The frames to take off the start: what the format reports as latency. Our
// own VST 2.4 build reports none, as the hosts that load it expect, but its
// 16x path delays all the same (not while "Enable" is off: the input then
// passes straight through).
int pluginDelay(PluginInstance& plugin)
{
    const int reported = plugin.latency();
    if (reported > 0)
        return reported;
    const auto* vst2 = dynamic_cast<const Vst2Instance*>(&plugin);
    if (!vst2 || vst2->record()->uniqueID != kBoosterUniqueId)
        return 0;
    const bool enabled = parameterStep(kEnable, plugin.parameter(kEnable)) == 1;
    return enabled && oversamplingFactorOf(plugin.parameter(kOversample)) > 1.0 ? Oversampler::latencyFrames : 0;
}

// The program's name, and the settings that made it differ from the program
// as they display: "Default (Drive=12.00, Mode=TAPE)".
std::string applySettingsAndName(PluginInstance& plugin, const ResolvedSettings& settings)
{
    applyResolved(plugin, {settings.program, {}});
    std::vector<std::string> before;
    for (int i = 0; i < plugin.parameterCount(); ++i)
        before.push_back(plugin.parameterDisplay(i));
    applyResolved(plugin, {-1, settings.values});
    std::string changes;
    for (int i = 0; i < plugin.parameterCount(); ++i) {
        const std::string now = plugin.parameterDisplay(i);
        if (now != before[static_cast<std::size_t>(i)])
            changes += (changes.empty() ? "" : ", ") + plugin.parameterName(i) + "=" + now;
    }
    return plugin.programName() + (changes.empty() ? "" : " (" + changes + ")");
}

std::string countText(std::int64_t count, const char* thing)
{
    return std::to_string(count) + " " + thing + (count == 1 ? "" : "s");
}

JobOutcome runJob(PluginModule& module, std::mutex& pluginMutex, const RenderJob& job, const BatchOptions& options,
                  BatchProgress& progress)
{
    JobOutcome outcome;
    const auto started = Clock::now();
    const double processorStarted = threadProcessorSeconds();
    int encoding = 0;
    std::int64_t promisedFrames = 0;
    std::unique_ptr<AudioSource> source = openSource(job, options, encoding, promisedFrames, outcome.error);
    if (!source)
        return outcome;
    outcome.sampleRate = source->sampleRate();
    if (source->sampleRate() < kLowestSampleRate || source->sampleRate() > kHighestSampleRate) {
        outcome.error = job.inputPath + " is at " + rateText(source->sampleRate()) +
                        "; the plug-in runs at sample rates from " + rateText(kLowestSampleRate) + " to " +
                        rateText(kHighestSampleRate) + " (convert the file first, for example with sox)";
        return outcome;
    }
    SoundFileFormat format;
    if (!outputFormatFor(job.outputPath, encoding, options.floatOutput, source->channels(), source->sampleRate(),
                         format, outcome.note, outcome.error))
        return outcome;
    progress.framesKnown += source->frames();

    std::unique_ptr<PluginInstance> plugin;
    bool leftOnly = false;
    {
        // Instances are made and set up one at a time, as a host does on its
        // main thread; only processing runs in parallel.
        std::lock_guard<std::mutex> lock(pluginMutex);
        plugin = module.instantiate(outcome.error);
        if (plugin) {
            outcome.programName = applySettingsAndName(*plugin, job.settings);
            plugin->start(source->sampleRate(), options.blockSize);
            outcome.delayFrames = options.raw ? 0 : pluginDelay(*plugin);
            const int channels = parameterNamed(*plugin, "Channels");
            leftOnly = source->channels() == 2 && channels >= 0 && plugin->parameterDisplay(channels) == "1";
        }
    }
    if (!plugin)
        return outcome;

    SoundFileWriter writer;
    if (!writer.open(job.outputPath, format, source->channels(), source->sampleRate(), outcome.error))
        return outcome;
    RenderOptions renderOptions;
    renderOptions.blockSize = options.blockSize;
    renderOptions.doublePrecision = options.doublePrecision;
    renderOptions.preRollFrames =
        options.raw ? 0 : static_cast<std::int64_t>(std::ceil(kPreRollSeconds * source->sampleRate()));
    renderOptions.delayFrames = outcome.delayFrames;
    std::int64_t reported = 0;
    renderOptions.progress = [&](std::int64_t done) {
        progress.framesDone += done - reported;
        reported = done;
    };
    outcome.result = renderStream(*plugin, *source, writer, renderOptions);
    {
        std::lock_guard<std::mutex> lock(pluginMutex);
        plugin.reset();
    }
    if (outcome.result.readFailed)
        outcome.error = "cannot read " + job.inputPath + " past frame " + std::to_string(outcome.result.frames) +
                        " of " + std::to_string(promisedFrames) + " (the file is damaged or cut short)";
    else if (outcome.result.writeFailed)
        outcome.error = "cannot write " + job.outputPath + ": " + writer.writeFailure();
    else
        outcome.ok = writer.commit(outcome.error);
    outcome.wallSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    outcome.processorSeconds = threadProcessorSeconds() - processorStarted;

    if (writer.clippedSamples() > 0)
        outcome.warnings.push_back("clipped: " + countText(writer.clippedSamples(), "sample") +
                                   " beyond full scale, cut off at it in the " + encodingName(format) +
                                   " file (--float, or a lower Level, avoids it)");
    if (leftOnly)
        outcome.warnings.push_back("only the left channel was used, on both sides: the program's Channels is 1 "
                                   "(--set Channels=2 processes both)");
    if (outcome.result.frames < promisedFrames)
        outcome.warnings.push_back("the input is cut short: its header promised " + countText(promisedFrames, "frame") +
                                   ", the file had " + std::to_string(outcome.result.frames));
    return outcome;
}

// Levels this low are the plug-in's offset against denormal numbers (about
// 1e-19) or less: silence, below any integer encoding's smallest step.
constexpr double kSilenceDb = -200.0;

std::string dbText(double db)
{
    if (!std::isfinite(db) || db < kSilenceDb)
        return "-inf";
    char text[16];
    std::snprintf(text, sizeof(text), "%.1f", db);
    return text;
}

double audioSeconds(const JobOutcome& outcome)
{
    return outcome.sampleRate > 0.0 ? static_cast<double>(outcome.result.frames) / outcome.sampleRate : 0.0;
}

void printHeader(int nameWidth)
{
    std::printf("%-*s %-26s %-27s %6s  %15s   %s\n", nameWidth, "program", "input peak / RMS", "output peak / RMS",
                "length", "speed", "file");
}

void printJob(const RenderJob& job, const JobOutcome& outcome, int nameWidth)
{
    if (!outcome.ok) {
        std::fprintf(stderr, "grindlemark-host: %s\n", outcome.error.c_str());
        return;
    }
    const double seconds = audioSeconds(outcome);
    std::string notes = outcome.note.empty() ? "" : "  as " + outcome.note;
    if (outcome.delayFrames > 0)
        notes += "  (" + countText(outcome.delayFrames, "frame") + " of delay taken off)";
    std::printf("%-*s in %6s / %6s dBFS   out %6s / %6s dBFS   %6.2f s  %6.1fx realtime   %s%s\n", nameWidth,
                outcome.programName.c_str(), dbText(outcome.result.input.peakDb).c_str(),
                dbText(outcome.result.input.rmsDb).c_str(), dbText(outcome.result.output.peakDb).c_str(),
                dbText(outcome.result.output.rmsDb).c_str(), seconds,
                outcome.wallSeconds > 0.0 ? seconds / outcome.wallSeconds : 0.0, job.outputPath.c_str(), notes.c_str());
    for (const std::string& warning : outcome.warnings)
        std::printf("  warning: %s\n", warning.c_str());
}

// What was done to line the outputs up with their inputs, once per run.
void printAlignment(const BatchOptions& options)
{
    if (options.raw)
        std::printf("raw: each output is the plug-in's stream as it came, with its start-up fade and any delay\n");
    else
        std::printf("lined up: outputs match their inputs frame for frame (%.1f s of silence ran through the "
                    "plug-in first, past its start-up fade; delays taken off); --raw for its stream as it comes\n",
                    kPreRollSeconds);
}

void showProgress(const BatchProgress& progress, std::size_t jobCount)
{
    const std::int64_t known = progress.framesKnown.load();
    const int percent =
        known > 0 ? static_cast<int>(100.0 * static_cast<double>(progress.framesDone.load()) / known) : 0;
    std::fprintf(stderr, "\rrendering %3d%%, %zu of %zu done", std::min(percent, 100), progress.jobsDone.load(),
                 jobCount);
}

} // namespace

int runRenderJobs(PluginModule& module, const std::vector<RenderJob>& jobs, const BatchOptions& options)
{
    // Before the workers start, so that they inherit the held-back signals.
    watchRenderInterrupts();
    std::vector<JobOutcome> outcomes(jobs.size());
    BatchProgress progress;
    std::mutex pluginMutex;
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    std::atomic<std::size_t> nextJob{0};

    const auto started = Clock::now();
    auto work = [&] {
        for (std::size_t index = nextJob++; index < jobs.size(); index = nextJob++) {
            outcomes[index] = runJob(module, pluginMutex, jobs[index], options, progress);
            {
                std::lock_guard<std::mutex> lock(doneMutex);
                ++progress.jobsDone;
            }
            doneSignal.notify_one();
        }
    };
    const unsigned wanted = options.threads > 0 ? static_cast<unsigned>(options.threads)
                                                : std::max(1u, std::thread::hardware_concurrency());
    const std::size_t threadCount = std::min<std::size_t>(wanted, std::max<std::size_t>(jobs.size(), 1));
    std::vector<std::thread> workers;
    for (std::size_t t = 0; t < threadCount; ++t)
        workers.emplace_back(work);

    const bool display = !options.quiet && isatty(fileno(stderr));
    bool displayed = false;
    {
        std::unique_lock<std::mutex> lock(doneMutex);
        while (progress.jobsDone.load() < jobs.size()) {
            doneSignal.wait_for(lock, std::chrono::milliseconds(250));
            // Short renders finish before a display would help.
            if (display && Clock::now() - started > std::chrono::seconds(1)) {
                showProgress(progress, jobs.size());
                displayed = true;
            }
        }
    }
    for (std::thread& worker : workers)
        worker.join();
    const double wallSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    if (displayed)
        std::fprintf(stderr, "\n");

    // The program column as wide as its longest entry.
    int nameWidth = 22;
    bool anyDone = false;
    for (const JobOutcome& outcome : outcomes) {
        nameWidth = std::max(nameWidth, static_cast<int>(outcome.programName.size()));
        anyDone = anyDone || outcome.ok;
    }
    if (anyDone)
        printHeader(nameWidth);
    std::size_t failed = 0;
    double audioTotal = 0.0;
    double processorSeconds = 0.0;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        printJob(jobs[i], outcomes[i], nameWidth);
        failed += outcomes[i].ok ? 0 : 1;
        audioTotal += audioSeconds(outcomes[i]);
        processorSeconds += outcomes[i].processorSeconds;
    }
    if (anyDone)
        printAlignment(options);
    if (jobs.size() > 1)
        std::printf("%zu jobs, %zu failed, on %zu threads: %.2f s of audio in %.2f s, %.1fx realtime, "
                    "speed-up %.2fx (the jobs' processor time over the wall time)\n",
                    jobs.size(), failed, threadCount, audioTotal, wallSeconds,
                    wallSeconds > 0.0 ? audioTotal / wallSeconds : 0.0,
                    wallSeconds > 0.0 ? processorSeconds / wallSeconds : 0.0);
    return failed ? kFailed : 0;
}
