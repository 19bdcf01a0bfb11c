// The render command as a user runs it: real files in, real files out.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct CommandResult {
    int status;
    std::string output;
};

CommandResult runShell(const std::string& command)
{
    CommandResult result{-1, {}};
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return result;
    char buffer[512];
    while (std::fgets(buffer, sizeof(buffer), pipe))
        result.output += buffer;
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

CommandResult runHost(const std::string& arguments)
{
    return runShell(std::string(GRINDLEMARK_HOST_TOOL) + " " + arguments + " 2>&1");
}

// The tool started as a child of its own, its output into logPath, with an
// optional file-size limit, so that a test can signal it while it runs.
pid_t startHost(const std::vector<std::string>& arguments, const std::string& logPath,
                rlim_t fileSizeLimit = RLIM_INFINITY)
{
    std::vector<std::string> words = {GRINDLEMARK_HOST_TOOL};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(log, 1);
        dup2(log, 2);
        // As from a terminal, whatever this test was started with.
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ})
            std::signal(signal, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        const rlimit limit{fileSizeLimit, fileSizeLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

std::string fileText(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

class RenderCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = fs::temp_directory_path() / ("grindlemark-render-" + std::to_string(::getpid()));
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string path(const std::string& name) const { return (folder / name).string(); }

    // A short guitar-range sine, interleaved, written in the given format.
    std::vector<double> writeInput(const std::string& name, int format, int channels, int rate = 44100,
                                   int frames = 4410)
    {
        std::vector<double> samples(static_cast<std::size_t>(frames * channels));
        for (int i = 0; i < frames; ++i)
            for (int c = 0; c < channels; ++c)
                samples[static_cast<std::size_t>(i * channels + c)] =
                    (c == 0 ? 0.5 : -0.25) * std::sin(2.0 * 3.141592653589793 * 196.0 * i / 44100.0);
        writeSamples(name, format, channels, samples, rate);
        return samples;
    }

    void writeSamples(const std::string& name, int format, int channels, const std::vector<double>& samples,
                      int rate = 44100)
    {
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = channels;
        info.format = format;
        SNDFILE* file = sf_open(path(name).c_str(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr) << name << ": " << sf_strerror(nullptr);
        sf_writef_double(file, samples.data(), static_cast<sf_count_t>(samples.size()) / channels);
        sf_close(file);
    }

    std::vector<std::string> filesIn(const std::string& subfolder) const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder / subfolder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::vector<double> readOutput(const std::string& name, SF_INFO& info)
    {
        info = SF_INFO{};
        SNDFILE* file = sf_open(path(name).c_str(), SFM_READ, &info);
        EXPECT_NE(file, nullptr) << name;
        if (!file)
            return {};
        std::vector<double> samples(static_cast<std::size_t>(info.frames * info.channels));
        sf_readf_double(file, samples.data(), info.frames);
        sf_close(file);
        return samples;
    }

    fs::path folder;
};

// With "Enable" off the plug-in adds only an offset far below any format's
// resolution, and "Default" (flat, no saturation, 0 dB at the host rate) only
// a gain a hair above 1, so every format class must come back as it went in,
// from its first frame on, in single and in double precision alike.
TEST_F(RenderCommand, BypassRoundTripsEveryFormatClass)
{
    const struct {
        const char* name;
        int format;
        double tolerance;
        const char* extension;
    } formats[] = {{"pcm16", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0.0, ".wav"},
                   {"pcm24", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 0.0, ".wav"},
                   {"float", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1e-15, ".wav"},
                   {"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 0.0, ".flac"}};
    for (const auto& format : formats) {
        for (int channels : {1, 2}) {
            const std::string in = std::string(format.name) + "-" + std::to_string(channels) + ".in";
            const std::string out = std::string(format.name) + "-" + std::to_string(channels) + format.extension;
            SF_INFO written{};
            const std::vector<double> original = writeInput(in, format.format, channels);
            SF_INFO inInfo{};
            const std::vector<double> stored = readOutput(in, inInfo);
            for (const char* settings : {" --set Enable=off", ""}) {
                for (const char* precision : {"", " --double"}) {
                    const std::string what = std::string(format.name) + settings + precision;
                    const CommandResult result = runHost("render " + path(in) + " " + path(out) + settings + precision +
                                                         " --set Channels=2 --quiet");
                    ASSERT_EQ(result.status, 0) << result.output;
                    const std::vector<double> rendered = readOutput(out, written);
                    EXPECT_EQ(written.format, format.format) << what;
                    EXPECT_EQ(written.channels, channels);
                    EXPECT_EQ(written.samplerate, 44100);
                    ASSERT_EQ(rendered.size(), stored.size()) << what;
                    for (std::size_t i = 0; i < stored.size(); ++i)
                        ASSERT_NEAR(rendered[i], stored[i], format.tolerance) << what << " sample " << i;
                }
            }
        }
    }
}

TEST_F(RenderCommand, ProgramsAndSettingsShapeTheSound)
{
    writeInput("in.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2);
    const CommandResult result = runHost("render " + path("in.wav") + " " + path("out.wav") +
                                         " --program \"fat overdrive\" --double --block 97");
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("Fat overdrive"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("realtime"), std::string::npos);
    SF_INFO info{};
    const std::vector<double> rendered = readOutput("out.wav", info);
    double peak = 0.0;
    for (double sample : rendered)
        peak = std::max(peak, std::fabs(sample));
    EXPECT_GT(peak, 0.55); // driven well above the 0.5 input

    // --float writes float samples whatever came in.
    ASSERT_EQ(runHost("render " + path("in.wav") + " " + path("f.wav") + " --float --program 2").status, 0);
    readOutput("f.wav", info);
    EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, SF_FORMAT_FLOAT);
}

TEST_F(RenderCommand, BuiltInPhraseNeedsNoInputFile)
{
    const CommandResult result = runHost("render " + path("phrase.wav") + " --program 1 --rate 48000");
    ASSERT_EQ(result.status, 0) << result.output;
    SF_INFO info{};
    const std::vector<double> rendered = readOutput("phrase.wav", info);
    EXPECT_EQ(info.samplerate, 48000);
    EXPECT_EQ(info.channels, 1);
    EXPECT_GT(info.frames, 48000 * 3);
}

TEST_F(RenderCommand, BadRequestsFailClearlyAndLeaveNoOutput)
{
    writeInput("in.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1);
    const struct {
        std::string arguments;
        int status;
        const char* message;
    } cases[] = {
        {"render " + path("missing.wav") + " " + path("out.wav"), 1, "cannot read"},
        {"render " + path("in.wav") + " " + path("out.wav") + " --program 16", 2, "does not exist"},
        {"render " + path("in.wav") + " " + path("out.wav") + " --program Nonesuch", 2, "no program"},
        {"render " + path("in.wav") + " " + path("out.wav") + " --set Sparkle=0.5", 2,
         "no parameter is called \"Sparkle\"; the parameters are Enable, Characte, Amount, Mode, Drive, Level, "
         "Channels, Oversamp"},
        {"render " + path("in.wav") + " " + path("out.wav") + " --set Drive=1.5n", 2, "from 0n to 1n"},
        {"render " + path("in.wav") + " " + path("out.wav") + " --set Drive=loud", 2, "from 0.00 to 20.00"},
        {"render " + path("in.wav") + " " + path("out.wav") + " --block 0", 2, "--block"},
        {"render " + path("in.wav") + " " + path("out.wav") + " --rate 48000", 2, "--rate"},
        {"render " + path("out.wav") + " --rate 8000", 2, "from 11025 to 192000"},
        {"render " + path("in.wav") + " " + path("out.wav") + " --program 1 --program 2", 2, "-o DIR"},
        {"render " + path("in.wav") + " " + path("out.wav") + " --frobnicate", 2, "unknown option"},
        {"render", 2, "OUT.wav"},
        {"--plugin " + path("in.wav") + " render " + path("out.wav"), 1, "cannot load"},
        {"render " + path("in.wav") + " " + path("no-such-folder/out.wav"), 1, "cannot write"},
    };
    for (const auto& c : cases) {
        const CommandResult result = runHost(c.arguments);
        EXPECT_EQ(result.status, c.status) << c.arguments << "\n" << result.output;
        EXPECT_NE(result.output.find(c.message), std::string::npos) << c.arguments << "\n" << result.output;
        EXPECT_FALSE(fs::exists(path("out.wav"))) << c.arguments;
    }
    // Nothing half-written is left behind either.
    for (const auto& entry : fs::directory_iterator(folder))
        EXPECT_EQ(entry.path().string().find(".partial"), std::string::npos) << entry.path();
}

// The source recording is never replaced, through any name; the output's
// container follows its name; rates the plug-in cannot run at are refused.
TEST_F(RenderCommand, KeepsTheInputAndNamesTheOutputTruly)
{
    const std::vector<double> original = writeInput("in.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1);
    SF_INFO info{};
    const std::vector<double> stored = readOutput("in.wav", info);
    fs::create_symlink(path("in.wav"), path("link.wav"));
    fs::create_hard_link(path("in.wav"), path("hard.wav"));
    for (const char* output : {"in.wav", "link.wav", "hard.wav"}) {
        const CommandResult result = runHost("render " + path("in.wav") + " " + path(output) + " --program 1");
        EXPECT_EQ(result.status, 1) << output << "\n" << result.output;
        EXPECT_NE(result.output.find("its own input"), std::string::npos) << result.output;
        EXPECT_EQ(readOutput("in.wav", info), stored) << output;
    }

    const CommandResult unknown = runHost("render " + path("in.wav") + " " + path("out.mp9"));
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.output.find("not a known extension"), std::string::npos) << unknown.output;
    EXPECT_FALSE(fs::exists(path("out.mp9")));

    writeInput("float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2);
    writeInput("lossy.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 1);
    writeInput("lossy.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2);
    const struct {
        const char* input;
        const char* output;
        int format;
    } containers[] = {{"in.wav", "out.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
                      {"in.wav", "out.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
                      {"float.wav", "float.caf", SF_FORMAT_CAF | SF_FORMAT_FLOAT},
                      // FLAC has no float samples: the nearest lossless choice.
                      {"float.wav", "float.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
                      // WAV takes neither as libsndfile writes it: the nearest PCM.
                      {"lossy.mp3", "mp3.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24},
                      {"lossy.ogg", "ogg.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24}};
    for (const auto& c : containers) {
        const CommandResult result = runHost("render " + path(c.input) + " " + path(c.output) + " --quiet");
        ASSERT_EQ(result.status, 0) << result.output;
        readOutput(c.output, info);
        EXPECT_EQ(info.format, c.format) << c.output;
        EXPECT_EQ(info.frames, 4410) << c.output;
        if ((c.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_24) {
            EXPECT_NE(result.output.find("as Signed 24 bit PCM (the container has no"), std::string::npos)
                << result.output;
        }
    }
    // An SD2 file keeps part of itself in a second file named after the one
    // written, which could not follow the rename: refused, nothing left.
    const CommandResult sd2 = runHost("render " + path("in.wav") + " " + path("out.sd2"));
    EXPECT_EQ(sd2.status, 1);
    EXPECT_NE(sd2.output.find("Sound Designer II"), std::string::npos) << sd2.output;
    for (const std::string& name : filesIn("."))
        EXPECT_EQ(name.find("sd2"), std::string::npos) << name;
    EXPECT_NE(runHost("render " + path("float.wav") + " " + path("again.flac")).output.find("24 bit"),
              std::string::npos);
    const CommandResult noFloat = runHost("render " + path("in.wav") + " " + path("f.flac") + " --float");
    EXPECT_EQ(noFloat.status, 1);
    EXPECT_NE(noFloat.output.find("cannot hold float"), std::string::npos) << noFloat.output;

    for (int rate : {8000, 384000}) {
        writeInput("rate.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, rate);
        const CommandResult result = runHost("render " + path("rate.wav") + " " + path("rate-out.wav"));
        EXPECT_EQ(result.status, 1) << rate;
        EXPECT_NE(result.output.find("from 11025 Hz to 192000 Hz"), std::string::npos) << result.output;
        EXPECT_FALSE(fs::exists(path("rate-out.wav")));
    }
}

// Jobs in parallel give what each gives alone, and one unreadable input
// fails alone.
TEST_F(RenderCommand, BatchMatchesSingleRendersAndSurvivesABadInput)
{
    writeInput("mono.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1);
    writeInput("stereo.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2);
    FILE* bad = std::fopen(path("bad.wav").c_str(), "w");
    ASSERT_NE(bad, nullptr);
    std::fputs("not audio", bad);
    std::fclose(bad);

    const std::string settings = " --program 1 --program \"stereo mix air\" --set Drive=12 --block 100";
    const CommandResult batch = runHost("render -o " + path("batch") + " " + path("mono.wav") + " " + path("bad.wav") +
                                        " " + path("stereo.wav") + settings + " -j 3 --quiet");
    EXPECT_EQ(batch.status, 1) << batch.output;
    EXPECT_NE(batch.output.find("bad.wav"), std::string::npos) << batch.output;
    EXPECT_NE(batch.output.find("6 jobs, 2 failed"), std::string::npos) << batch.output;

    const char* expected[] = {"mono-1-fat-overdrive.wav", "mono-5-stereo-mix-air.wav", "stereo-1-fat-overdrive.wav",
                              "stereo-5-stereo-mix-air.wav"};
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(folder / "batch")) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 4u);
    for (const char* name : expected) {
        const std::string input = std::string(name).substr(0, std::string(name).find('-')) + ".wav";
        const std::string program = std::string(name).substr(std::string(name).find('-') + 1, 1);
        const CommandResult single = runHost("render " + path(input) + " " + path("single.wav") + " --program " +
                                             program + " --set Drive=12 --block 100 --quiet");
        ASSERT_EQ(single.status, 0) << single.output;
        SF_INFO batchInfo{};
        SF_INFO singleInfo{};
        const std::vector<double> batchSamples = readOutput(std::string("batch/") + name, batchInfo);
        const std::vector<double> singleSamples = readOutput("single.wav", singleInfo);
        EXPECT_EQ(batchInfo.format, singleInfo.format) << name;
        EXPECT_GT(singleSamples.size(), 4000u);
        EXPECT_TRUE(batchSamples == singleSamples) << name;
    }
}

// A file-size limit (ulimit -f) fails the job that reaches it, with its own
// reason rather than a full disk's, and leaves nothing of it; the job that
// fits is written.
TEST_F(RenderCommand, AFileSizeLimitFailsOnlyTheJobThatReachesIt)
{
    writeInput("short.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1);
    writeInput("long.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 44100, 88200);

    // 64 KiB: room for the short output (9 KB), not for the long one (700 KB).
    const pid_t pid =
        startHost({"render", "-o", path("out"), path("short.wav"), path("long.wav"), "--program", "1", "--quiet"},
                  path("log.txt"), 64 * 1024);
    ASSERT_GT(pid, 0);
    int status = 0;
    waitpid(pid, &status, 0);
    const std::string output = fileText(path("log.txt"));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status << "\n" << output;
    EXPECT_NE(output.find("long-1-fat-overdrive.wav: file size limit reached"), std::string::npos) << output;
    EXPECT_EQ(filesIn("out"), std::vector<std::string>{"short-1-fat-overdrive.wav"}) << output;
}

// Every output is checked against every input before any job starts: a
// batch that would replace one of its own inputs (an earlier result taken in
// again, or a link to an input) is refused whole with the names, and nothing
// is written, not even a new output folder.
TEST_F(RenderCommand, ABatchNeverWritesOverItsInputs)
{
    fs::create_directories(folder / "d3");
    fs::create_directories(folder / "other");
    writeInput("d3/take.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1);
    // The user's own recording, named as a result of the first input would be.
    writeInput("d3/take-0-default.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2);
    writeInput("other/take.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1);
    SF_INFO info{};
    const std::vector<double> stored = readOutput("d3/take-0-default.wav", info);
    const std::vector<std::string> before = filesIn("d3");

    const CommandResult clash = runHost("render -o " + path("d3") + " " + path("d3/take.wav") + " " +
                                        path("d3/take-0-default.wav") + " --program 0 -j 1");
    EXPECT_EQ(clash.status, 1) << clash.output;
    EXPECT_NE(clash.output.find("nothing was rendered"), std::string::npos) << clash.output;
    EXPECT_NE(clash.output.find(path("d3/take-0-default.wav")), std::string::npos) << clash.output;
    EXPECT_EQ(readOutput("d3/take-0-default.wav", info), stored);
    EXPECT_EQ(filesIn("d3"), before);

    // A link in the output folder that leads to an input elsewhere.
    fs::create_directories(folder / "links");
    fs::create_symlink(path("d3/take-0-default.wav"), path("links/take-1-fat-overdrive.wav"));
    const CommandResult link = runHost("render -o " + path("links") + " " + path("d3/take-0-default.wav") + " " +
                                       path("other/take.wav") + " --program 1");
    EXPECT_EQ(link.status, 1) << link.output;
    EXPECT_NE(link.output.find("the same file as " + path("d3/take-0-default.wav")), std::string::npos) << link.output;
    EXPECT_EQ(readOutput("d3/take-0-default.wav", info), stored);
    EXPECT_EQ(filesIn("links"), std::vector<std::string>{"take-1-fat-overdrive.wav"});

    // Batches refused for any reason make no folder.
    for (const std::string& arguments :
         {path("d3/take.wav") + " " + path("other/take.wav"), path("d3/take.wav") + " --program 16",
          path("d3/take.wav") + " --set Drive=loud"}) {
        const CommandResult refused = runHost("render -o " + path("fresh") + " " + arguments);
        EXPECT_NE(refused.status, 0) << arguments;
        EXPECT_FALSE(fs::exists(folder / "fresh")) << arguments;
    }
}

// Ctrl-C, SIGTERM and SIGHUP during a batch end the tool as the signal
// would, but only after the unfinished jobs' temporary files are gone: what
// remains are the outputs of the jobs that had finished.
TEST_F(RenderCommand, AnInterruptedBatchLeavesOnlyTheFilesOfFinishedJobs)
{
    writeInput("short.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1);
    writeInput("long.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, 44100 * 120);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const std::string out = "out-" + std::to_string(signal);
        const pid_t pid = startHost({"render", "-o", path(out), path("short.wav"), path("long.wav"), "--program", "1",
                                     "--block", "8", "-j", "2", "--quiet"},
                                    path(out + ".log"));
        ASSERT_GT(pid, 0);
        // Wait until the short job is done and the long one is writing.
        bool midway = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        while (!midway && std::chrono::steady_clock::now() < deadline) {
            std::error_code failure;
            bool writing = false;
            for (const auto& entry : fs::directory_iterator(folder / out, failure))
                writing =
                    writing || entry.path().filename().string().rfind("long-1-fat-overdrive.wav.partial-", 0) == 0;
            midway = writing && fs::exists(folder / out / "short-1-fat-overdrive.wav");
            if (!midway)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        kill(pid, midway ? signal : SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        const std::string output = fileText(path(out + ".log"));
        ASSERT_TRUE(midway) << output;
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal << ": " << status << "\n" << output;
        EXPECT_EQ(filesIn(out), std::vector<std::string>{"short-1-fat-overdrive.wav"}) << signal;
        EXPECT_NE(output.find("interrupted; 1 unfinished output removed"), std::string::npos) << output;
        SF_INFO info{};
        EXPECT_EQ(readOutput(out + "/short-1-fat-overdrive.wav", info).size(), 4410u);
    }
}

// What the files alone would not tell: an integer output that clipped, a
// stereo input of which a one-channel program used the left channel only, an
// input cut short; each a warning, the exit status still 0. The row names the
// settings that changed the program, and silence reads as silence.
TEST_F(RenderCommand, SummariesSayWhatTheFilesDoNot)
{
    std::vector<double> loud(4410);
    for (std::size_t i = 0; i < loud.size(); ++i)
        loud[i] = 0.99 * std::sin(2.0 * 3.141592653589793 * 196.0 * static_cast<double>(i) / 44100.0);
    writeSamples("loud.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1, loud);
    ASSERT_EQ(runHost("render " + path("loud.wav") + " " + path("loud-float.wav") + " --program 2 --float").status, 0);
    SF_INFO info{};
    // What 16-bit samples cannot hold, counted in the float render of the same job.
    std::size_t beyond = 0;
    for (double sample : readOutput("loud-float.wav", info)) {
        const double step = std::nearbyint(sample * 32768.0);
        beyond += step > 32767.0 || step < -32768.0 ? 1 : 0;
    }
    ASSERT_GT(beyond, 0u);
    const CommandResult clipped = runHost("render " + path("loud.wav") + " " + path("loud.flac") + " --program 2");
    EXPECT_EQ(clipped.status, 0);
    EXPECT_NE(clipped.output.find("clipped: " + std::to_string(beyond) + " samples beyond full scale"),
              std::string::npos)
        << clipped.output;
    EXPECT_NE(clipped.output.find("--float, or a lower Level"), std::string::npos);

    writeInput("stereo.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2);
    for (const char* settings : {"", " --set Enable=off"}) {
        const CommandResult left = runHost("render " + path("stereo.wav") + " " + path("left.wav") + settings);
        EXPECT_EQ(left.status, 0);
        EXPECT_NE(left.output.find("only the left channel was used"), std::string::npos) << left.output;
        EXPECT_NE(left.output.find("--set Channels=2"), std::string::npos) << left.output;
    }
    const CommandResult both = runHost("render " + path("stereo.wav") + " " + path("both.wav") +
                                       " --set Channels=2 --set drive=12 --program 0");
    EXPECT_EQ(both.output.find("warning"), std::string::npos) << both.output;
    EXPECT_NE(both.output.find("Default (Drive=12.00, Channels=2)"), std::string::npos) << both.output;

    // 4410 frames promised, 2205 there.
    writeInput("cut.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1);
    fs::resize_file(folder / "cut.wav", 44 + 2205 * 2);
    const CommandResult cut = runHost("render " + path("cut.wav") + " " + path("cut-out.wav"));
    EXPECT_EQ(cut.status, 0);
    EXPECT_NE(cut.output.find("its header promised 4410 frames, the file had 2205"), std::string::npos) << cut.output;
    EXPECT_EQ(readOutput("cut-out.wav", info).size(), 2205u);

    writeSamples("silent.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, std::vector<double>(4410, 0.0));
    const CommandResult silent = runHost("render " + path("silent.wav") + " " + path("silent-out.wav") + " --float");
    EXPECT_NE(silent.output.find("in   -inf /   -inf dBFS   out   -inf /   -inf dBFS"), std::string::npos)
        << silent.output;
}

// By default the plug-in starts on silence, so its switch fade is over by the
// take's first frame, and the 16x path's delay is taken off: output frame n
// lines up with input frame n, in full length. --raw keeps the stream as the
// plug-in gives it.
TEST_F(RenderCommand, TakesLineUpWithTheirInputs)
{
    auto peakFrame = [](const std::vector<double>& samples, int channels, int channel) {
        std::size_t best = 0;
        for (std::size_t i = 0; i * channels < samples.size(); ++i)
            if (std::fabs(samples[i * channels + channel]) > std::fabs(samples[best * channels + channel]))
                best = i;
        return best;
    };
    std::vector<double> impulses(2 * 4000, 0.0);
    impulses[2 * 1000] = 0.5;     // left
    impulses[2 * 2500 + 1] = 0.5; // right
    writeSamples("impulses.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, impulses);
    SF_INFO info{};
    for (const char* precision : {"", " --double"}) {
        // "Transparent" runs at 16x.
        const CommandResult aligned = runHost("render " + path("impulses.wav") + " " + path("aligned.wav") +
                                              " --program 2 --set Channels=2 --block 100" + precision);
        ASSERT_EQ(aligned.status, 0) << aligned.output;
        EXPECT_NE(aligned.output.find("9 frames of delay taken off"), std::string::npos) << aligned.output;
        EXPECT_NE(aligned.output.find("lined up"), std::string::npos) << aligned.output;
        const std::vector<double> output = readOutput("aligned.wav", info);
        EXPECT_EQ(info.frames, 4000);
        EXPECT_EQ(peakFrame(output, 2, 0), 1000u) << precision;
        EXPECT_EQ(peakFrame(output, 2, 1), 2500u) << precision;
    }
    const CommandResult raw =
        runHost("render " + path("impulses.wav") + " " + path("raw.wav") + " --program 2 --set Channels=2 --raw");
    EXPECT_NE(raw.output.find("raw"), std::string::npos) << raw.output;
    EXPECT_EQ(peakFrame(readOutput("raw.wav", info), 2, 0), 1009u);

    // A full-scale cosine starts at its peak, untouched by any fade.
    std::vector<double> cosine(4410);
    for (std::size_t i = 0; i < cosine.size(); ++i)
        cosine[i] = 0.999 * std::cos(2.0 * 3.141592653589793 * 196.0 * static_cast<double>(i) / 44100.0);
    writeSamples("cosine.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1, cosine);
    const std::vector<double> stored = readOutput("cosine.wav", info);
    ASSERT_EQ(runHost("render " + path("cosine.wav") + " " + path("cosine-out.wav")).status, 0);
    EXPECT_EQ(readOutput("cosine-out.wav", info)[0], stored[0]);
    ASSERT_EQ(runHost("render " + path("cosine.wav") + " " + path("cosine-raw.wav") + " --raw").status, 0);
    EXPECT_LT(readOutput("cosine-raw.wav", info)[0], 0.1);
}

// The tool answers as any command-line program does: its usage on standard
// output when asked for, a plug-in named without a folder taken from the
// current one.
TEST_F(RenderCommand, HelpAndPlainPluginNamesWorkAsOnAnyCommandLine)
{
    const CommandResult help = runShell(std::string(GRINDLEMARK_HOST_TOOL) + " --help 2>/dev/null");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("usage: grindlemark-host"), std::string::npos);
    EXPECT_NE(help.output.find("--raw"), std::string::npos);

    const fs::path tool(GRINDLEMARK_HOST_TOOL);
    const CommandResult bare = runShell("cd " + tool.parent_path().string() + " && ./" + tool.filename().string() +
                                        " --plugin Grindlemark.so --info 2>&1");
    EXPECT_EQ(bare.status, 0) << bare.output;
    const std::string& output = bare.output;
    EXPECT_NE(output.find("Effect      Grindlemark"), std::string::npos) << output;
}

} // namespace
