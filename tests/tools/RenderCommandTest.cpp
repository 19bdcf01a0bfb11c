// The render command as a user runs it: real files in, real files out.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct CommandResult {
    int status;
    std::string output;
};

CommandResult runHost(const std::string& arguments)
{
    const std::string command = std::string(GRINDLEMARK_HOST_TOOL) + " " + arguments + " 2>&1";
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
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = channels;
        info.format = format;
        SNDFILE* file = sf_open(path(name).c_str(), SFM_WRITE, &info);
        EXPECT_NE(file, nullptr);
        sf_writef_double(file, samples.data(), frames);
        sf_close(file);
        return samples;
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
// resolution, so every format class must come back as it went in.
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
            const CommandResult result =
                runHost("render " + path(in) + " " + path(out) + " --set Enable=off --set Channels=2 --quiet");
            ASSERT_EQ(result.status, 0) << result.output;
            const std::vector<double> rendered = readOutput(out, written);
            EXPECT_EQ(written.format, format.format) << format.name;
            EXPECT_EQ(written.channels, channels);
            EXPECT_EQ(written.samplerate, 44100);
            ASSERT_EQ(rendered.size(), stored.size()) << format.name;
            for (std::size_t i = 0; i < stored.size(); ++i)
                ASSERT_NEAR(rendered[i], stored[i], format.tolerance) << format.name << " sample " << i;
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
        {"render " + path("in.wav") + " " + path("out.wav") + " --set Sparkle=0.5", 2, "no parameter"},
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
    const struct {
        const char* input;
        const char* output;
        int format;
    } containers[] = {{"in.wav", "out.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
                      {"in.wav", "out.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
                      {"float.wav", "float.caf", SF_FORMAT_CAF | SF_FORMAT_FLOAT},
                      // FLAC has no float samples: the nearest lossless choice.
                      {"float.wav", "float.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24}};
    for (const auto& c : containers) {
        const CommandResult result = runHost("render " + path(c.input) + " " + path(c.output) + " --quiet");
        ASSERT_EQ(result.status, 0) << result.output;
        readOutput(c.output, info);
        EXPECT_EQ(info.format, c.format) << c.output;
    }
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

// A file-size limit stands in for a full disk: the job that hits it fails
// and leaves nothing, the job that fits is written.
TEST_F(RenderCommand, AFullDiskFailsOnlyTheJobThatHitsIt)
{
    writeInput("short.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1);
    writeInput("long.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 44100, 88200);

    // 64 KiB: room for the short output (9 KB), not for the long one (700 KB).
    const std::string command = "bash -c 'trap \"\" XFSZ; ulimit -f 64; exec " + std::string(GRINDLEMARK_HOST_TOOL) +
                                " render -o " + path("out") + " " + path("short.wav") + " " + path("long.wav") +
                                " --program 1 --quiet' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[512];
    while (std::fgets(buffer, sizeof(buffer), pipe))
        output += buffer;
    const int status = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << output;
    EXPECT_NE(output.find("disk full"), std::string::npos) << output;
    EXPECT_TRUE(fs::exists(path("out/short-1-fat-overdrive.wav")));
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(folder / "out")) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1u) << output;
}

} // namespace
