// A batch of renders: every job reads one input, runs it through its own
// plug-in instance with its own settings and streams the result into one
// output file. Jobs run in parallel on worker threads; each output is the
// same, bit for bit, as the job rendered alone.
#pragma once

#include "PluginInstance.h"
#include "PluginSettings.h"

#include <string>
#include <vector>

struct RenderJob {
    std::string inputPath; // empty: the built-in phrase
    std::string outputPath;
    ResolvedSettings settings;
};

struct BatchOptions {
    int threads = 0; // 0: one per core
    int blockSize = 512;
    bool doublePrecision = false;
    bool floatOutput = false;
    double phraseRate = 44100.0;
    bool quiet = false;
    // The plug-in's stream as it comes: no pre-roll, no delay taken off.
    bool raw = false;
};

// The sample rates the plug-in runs at; it keeps its previous rate when asked
// for any other, so a file at another rate would sound wrong.
constexpr double kLowestSampleRate = 11025.0;
constexpr double kHighestSampleRate = 192000.0;

// Runs every job, prints one summary line per job with what the listener
// should know about it (clipping, a channel left out, an input cut short), a
// line on how the takes were lined up, the batch's totals when there is more
// than one job, and reports failed jobs on stderr. Returns the exit status:
// 0, or kFailed when any job failed. Interrupted (SIGINT, SIGTERM, SIGHUP),
// it removes the temporary files of unfinished jobs and ends by the signal.
int runRenderJobs(PluginModule& module, const std::vector<RenderJob>& jobs, const BatchOptions& options);
