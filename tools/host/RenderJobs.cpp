#include "RenderJobs.h"

#include "GuitarPhrase.h"
#include "Renderer.h"
#include "SoundFile.h"

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

struct JobOutcome {
    bool ok = false;
    std::string error;
    std::string note; // an encoding the output's container changed
    std::string programName;
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
                                        std::string& error)
{
    if (job.inputPath.empty()) {
        encoding = defaultEncoding();
        return std::make_unique<MemorySource>(synthesizeGuitarPhrase(options.phraseRate), options.phraseRate);
    }
    auto reader = std::make_unique<SoundFileReader>();
    if (!reader->open(job.inputPath, error))
        return nullptr;
    encoding = reader->encoding();
    return reader;
}

JobOutcome runJob(PluginModule& module, std::mutex& pluginMutex, const RenderJob& job, const BatchOptions& options,
                  BatchProgress& progress)
{
    JobOutcome outcome;
    const auto started = Clock::now();
    const double processorStarted = threadProcessorSeconds();
    int encoding = 0;
    std::unique_ptr<AudioSource> source = openSource(job, options, encoding, outcome.error);
    if (!source)
        return outcome;
    outcome.sampleRate = source->sampleRate();
    if (source->sampleRate() < kLowestSampleRate || source->sampleRate() > kHighestSampleRate) {
        outcome.error = job.inputPath + " is at " + rateText(source->sampleRate()) +
                        "; the plug-in runs at sample rates from " + rateText(kLowestSampleRate) + " to " +
                        rateText(kHighestSampleRate) + " (convert the file first, for example with sox)";
        return outcome;
    }
    // Compared as files, not names: a link to the input is the input.
    if (!job.inputPath.empty() && sameFile(job.inputPath, job.outputPath)) {
        outcome.error = "will not write " + job.outputPath + " over its own input";
        return outcome;
    }
    SoundFileFormat format;
    if (!outputFormatFor(job.outputPath, encoding, options.floatOutput, format, outcome.note, outcome.error))
        return outcome;
    progress.framesKnown += source->frames();

    std::unique_ptr<PluginInstance> plugin;
    {
        // Instances are made and set up one at a time, as a host does on its
        // main thread; only processing runs in parallel.
        std::lock_guard<std::mutex> lock(pluginMutex);
        plugin = module.instantiate(outcome.error);
        if (plugin) {
            applyResolved(*plugin, job.settings);
            plugin->start(source->sampleRate(), options.blockSize);
            outcome.programName = plugin->programName();
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
        outcome.error = "cannot read the samples of " + job.inputPath;
    else if (outcome.result.writeFailed)
        outcome.error = "cannot write " + job.outputPath + " (disk full?)";
    else
        outcome.ok = writer.commit(outcome.error);
    outcome.wallSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    outcome.processorSeconds = threadProcessorSeconds() - processorStarted;
    return outcome;
}

std::string dbText(double db)
{
    if (!std::isfinite(db))
        return "-inf";
    char text[16];
    std::snprintf(text, sizeof(text), "%.1f", db);
    return text;
}

double audioSeconds(const JobOutcome& outcome)
{
    return outcome.sampleRate > 0.0 ? static_cast<double>(outcome.result.frames) / outcome.sampleRate : 0.0;
}

void printJob(const RenderJob& job, const JobOutcome& outcome)
{
    if (!outcome.ok) {
        std::fprintf(stderr, "grindlemark-host: %s\n", outcome.error.c_str());
        return;
    }
    const double seconds = audioSeconds(outcome);
    std::printf("%-22s in %6s / %6s dBFS   out %6s / %6s dBFS   %6.2f s  %6.1fx realtime   %s%s%s\n",
                outcome.programName.c_str(), dbText(outcome.result.input.peakDb).c_str(),
                dbText(outcome.result.input.rmsDb).c_str(), dbText(outcome.result.output.peakDb).c_str(),
                dbText(outcome.result.output.rmsDb).c_str(), seconds,
                outcome.wallSeconds > 0.0 ? seconds / outcome.wallSeconds : 0.0, job.outputPath.c_str(),
                outcome.note.empty() ? "" : "  as ", outcome.note.c_str());
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

    std::size_t failed = 0;
    double audioTotal = 0.0;
    double processorSeconds = 0.0;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        printJob(jobs[i], outcomes[i]);
        failed += outcomes[i].ok ? 0 : 1;
        audioTotal += audioSeconds(outcomes[i]);
        processorSeconds += outcomes[i].processorSeconds;
    }
    if (jobs.size() > 1)
        std::printf("%zu jobs, %zu failed, on %zu threads: %.2f s of audio in %.2f s, %.1fx realtime, "
                    "speed-up %.2fx (the jobs' processor time over the wall time)\n",
                    jobs.size(), failed, threadCount, audioTotal, wallSeconds,
                    wallSeconds > 0.0 ? audioTotal / wallSeconds : 0.0,
                    wallSeconds > 0.0 ? processorSeconds / wallSeconds : 0.0);
    return failed ? kFailed : 0;
}
