// The committed skin images are the generator's output, have the sizes the
// controls are built for, are all named by the resource script, and their dial
// LEDs are placed by a model of the lighting rule that matches the dial code.
//
// The generator and its model of the dial rule run in Python (PIL from Debian's
// python3-pil); without them these tests skip and say why. Native builds only:
// the Windows test program has no Python to call.
#ifndef _WIN32

#include "gui/toolkit/DialGeometry.h"
#include "gui/toolkit/SkinGeometry.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kSourceDir = GRINDLEMARK_SOURCE_DIR;
const fs::path kResourceDir = kSourceDir / "resources";

struct ImageSize {
    int width;
    int height;
};

// Every image by resource id with the size its control takes it at.
const std::map<int, ImageSize>& expectedSizes()
{
    using namespace skin;
    static const std::map<int, ImageSize> sizes = {
        {kImageAbout, {kPanelWidth, kPanelHeight}},
        {kImagePanel, {kPanelWidth, kPanelHeight}},
        {kImageDialCharacter, {kDialWideWidth, kDialHeight}},
        {kImageDialLeds, {kDialWideWidth, kDialHeight}},
        {kImageDialDrive, {kDialWideWidth, kDialHeight}},
        {kImageDialLevel, {kDialNarrowWidth, kDialHeight}},
        {kImageScopeResponse, {kScopeResponseWidth, kScopeResponseHeight}},
        {kImageScopeTape, {kScopeSquareSize, kScopeSquareSize}},
        {kImageScopeTube, {kScopeSquareSize, kScopeSquareSize}},
        {kImageMeterInputOff, {kMeterWidth, kMeterHeight}},
        {kImageMeterInputOn, {kMeterWidth, kMeterHeight}},
        {kImageMeterOutputOff, {kMeterWidth, kMeterHeight}},
        {kImageMeterOutputOn, {kMeterWidth, kMeterHeight}},
        {kImageButtonOversample, {kButtonWidth, 2 * kButtonHeight}},
        {kImageButtonPower, {kButtonWidth, 2 * kButtonHeight}},
        {kImageButtonStereo, {kButtonWidth, 2 * kButtonHeight}},
        {kImageButtonDownload, {kButtonWidth, 2 * kButtonHeight}},
        {kImageButtonInfo, {kButtonWidth, 2 * kButtonHeight}},
    };
    return sizes;
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string quoted(const fs::path& path)
{
    return "'" + path.string() + "'";
}

// Debian's own interpreter first: it is the one python3-pil installs into,
// while PATH may lead to another Python without PIL.
std::string pythonWithPil()
{
    for (const char* candidate : {"/usr/bin/python3", "python3"}) {
        const std::string probe = std::string(candidate) + " -c 'import PIL' >/dev/null 2>&1";
        if (std::system(probe.c_str()) == 0) {
            return candidate;
        }
    }
    return "";
}

struct PngHeader {
    bool valid = false;
    uint32_t width = 0;
    uint32_t height = 0;
    int bitDepth = 0;
    int colourType = 0;
};

uint32_t bigEndian32(const std::string& bytes, size_t at)
{
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) {
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
}

// The signature and the IHDR chunk, which the format requires to come first.
PngHeader readPngHeader(const std::string& bytes)
{
    static const std::string signature("\x89PNG\r\n\x1a\n", 8);
    PngHeader header;
    if (bytes.size() < 33 || bytes.compare(0, 8, signature) != 0 || bytes.compare(12, 4, "IHDR") != 0 ||
        bigEndian32(bytes, 8) != 13) {
        return header;
    }
    header.valid = true;
    header.width = bigEndian32(bytes, 16);
    header.height = bigEndian32(bytes, 20);
    header.bitDepth = static_cast<unsigned char>(bytes[24]);
    header.colourType = static_cast<unsigned char>(bytes[25]);
    return header;
}

class SkinImagesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        python = new std::string(pythonWithPil());
        char pattern[] = "/tmp/grindlemark-skin-XXXXXX";
        if (mkdtemp(pattern) != nullptr) {
            workDir = new fs::path(pattern);
        }
    }

    static void TearDownTestSuite()
    {
        if (workDir != nullptr) {
            std::error_code ignored;
            fs::remove_all(*workDir, ignored);
        }
        delete workDir;
        delete python;
        workDir = nullptr;
        python = nullptr;
    }

    // Runs the Python interpreter with PIL; false when there is none.
    static bool havePython() { return python != nullptr && !python->empty() && workDir != nullptr; }

    static int runPython(const std::string& arguments)
    {
        const std::string command = *python + " " + arguments;
        return std::system(command.c_str());
    }

    static std::string* python;
    static fs::path* workDir;
};

std::string* SkinImagesTest::python = nullptr;
fs::path* SkinImagesTest::workDir = nullptr;

#define SKIP_WITHOUT_PYTHON()                                                                                          \
    if (!havePython()) {                                                                                               \
        GTEST_SKIP() << "needs python3 with PIL (Debian package python3-pil) to run the skin generator";               \
    }

TEST_F(SkinImagesTest, CommittedImagesMatchTheGenerator)
{
    SKIP_WITHOUT_PYTHON();
    const fs::path fresh = *workDir / "generated";
    ASSERT_EQ(runPython(quoted(kSourceDir / "tools" / "skin" / "generate_skin.py") + " --out " + quoted(fresh)), 0)
        << "the skin generator failed";

    std::set<std::string> generated;
    for (const auto& entry : fs::directory_iterator(fresh)) {
        generated.insert(entry.path().filename().string());
    }
    std::set<std::string> committed;
    for (const auto& entry : fs::directory_iterator(kResourceDir)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() == ".png" || name == "Grindlemark.rc") {
            committed.insert(name);
        }
    }
    EXPECT_EQ(committed, generated) << "resources/ holds other files than the generator writes";
    for (const std::string& name : generated) {
        EXPECT_TRUE(readFile(fresh / name) == readFile(kResourceDir / name))
            << name << " differs from what tools/skin/generate_skin.py draws; regenerate and commit it";
    }
}

TEST_F(SkinImagesTest, EveryImageHasTheSizeItsControlExpects)
{
    for (const auto& [id, size] : expectedSizes()) {
        const fs::path path = kResourceDir / (std::to_string(id) + ".png");
        const PngHeader header = readPngHeader(readFile(path));
        ASSERT_TRUE(header.valid) << path << " is missing or not a PNG";
        EXPECT_EQ(header.width, static_cast<uint32_t>(size.width)) << "width of image " << id;
        EXPECT_EQ(header.height, static_cast<uint32_t>(size.height)) << "height of image " << id;
        // 8-bit RGBA: per-pixel alpha that the decoder premultiplies.
        EXPECT_EQ(header.bitDepth, 8) << "image " << id;
        EXPECT_EQ(header.colourType, 6) << "image " << id;
    }
}

TEST_F(SkinImagesTest, ResourceScriptNamesEveryImage)
{
    std::istringstream script(readFile(kResourceDir / "Grindlemark.rc"));
    std::set<int> named;
    std::string line;
    while (std::getline(script, line)) {
        if (line.empty() || line.rfind("//", 0) == 0) {
            continue;
        }
        std::istringstream fields(line);
        int id = 0;
        std::string type, file;
        ASSERT_TRUE(static_cast<bool>(fields >> id >> type >> file)) << "cannot read: " << line;
        EXPECT_EQ(type, "PNG") << line;
        EXPECT_EQ(file, "\"" + std::to_string(id) + ".png\"") << line;
        EXPECT_TRUE(named.insert(id).second) << "image " << id << " named twice";
        EXPECT_TRUE(fs::exists(kResourceDir / (std::to_string(id) + ".png"))) << line;
    }
    std::set<int> expected;
    for (const auto& entry : expectedSizes()) {
        expected.insert(entry.first);
    }
    EXPECT_EQ(named, expected);
}

// One dial as the skin generator models it: per pixel the range of values
// that light it, or none.
struct ModelledDial {
    int width = 0;
    int height = 0;
    std::vector<std::array<int, 2>> litRange; // {low, high}, or {-1, -1}
};

std::map<std::string, ModelledDial> readLightingMap(const fs::path& path)
{
    std::map<std::string, ModelledDial> dials;
    std::istringstream in(readFile(path));
    std::string word, name;
    while (in >> word >> name) {
        if (word != "dial") {
            break;
        }
        ModelledDial& dial = dials[name];
        in >> dial.width >> dial.height;
        for (int i = 0; i < dial.width * dial.height && in >> word; ++i) {
            const size_t dash = word.find('-');
            if (word == "-" || dash == std::string::npos) {
                dial.litRange.push_back({-1, -1});
            } else {
                dial.litRange.push_back({std::stoi(word.substr(0, dash)), std::stoi(word.substr(dash + 1))});
            }
        }
    }
    return dials;
}

// The generator places every LED inside the pixels that one step lights,
// using its own model of the dial's rule; hold that model against the dial
// code for every value.
TEST_F(SkinImagesTest, GeneratorModelsTheDialLightingRule)
{
    SKIP_WITHOUT_PYTHON();
    using namespace skin;
    const fs::path mapFile = *workDir / "lighting.map";
    ASSERT_EQ(runPython(quoted(kSourceDir / "tools" / "skin" / "lighting_map.py") + " " + quoted(mapFile)), 0);
    const auto modelled = readLightingMap(mapFile);

    struct DialCase {
        const char* name;
        int width;
        int ring1Segments;
        float ring1Start, ring1End;
        int ring1Inner, ring1Outer;
    };
    const DialCase dials[] = {
        {"character", kDialWideWidth, kCharacterSegments, kCharacterStartAngle, kCharacterEndAngle, kRing1InnerRadius,
         kRing1OuterRadius},
        {"mode", kDialWideWidth, kModeSegments, kModeStartAngle, kModeEndAngle, kRing1InnerRadius, kRing1OuterRadius},
        {"level", kDialNarrowWidth, 1, 0.0f, 0.0f, 0, 0},
    };
    for (const DialCase& dial : dials) {
        SCOPED_TRACE(dial.name);
        ASSERT_EQ(modelled.count(dial.name), 1u);
        const ModelledDial& model = modelled.at(dial.name);
        ASSERT_EQ(model.width, dial.width);
        ASSERT_EQ(model.height, kDialHeight);
        ASSERT_EQ(model.litRange.size(), static_cast<size_t>(dial.width * kDialHeight));

        DialRing rings[2];
        shapeDialRing(rings[0], true, kRing0StartAngle, kRing0EndAngle, kRing0Steps, kRing0InnerRadius,
                      kRing0OuterRadius);
        shapeDialRing(rings[1], false, dial.ring1Start, dial.ring1End, dial.ring1Segments, dial.ring1Inner,
                      dial.ring1Outer);
        int mismatches = 0;
        int litSomewhere = 0;
        for (int value = 0; value <= 100; ++value) {
            rings[0].value = rings[1].value = value;
            for (int row = 0; row < kDialHeight; ++row) {
                for (int column = 0; column < dial.width; ++column) {
                    const auto& range = model.litRange[static_cast<size_t>(row * dial.width + column)];
                    const bool expected = range[0] <= value && value <= range[1];
                    const bool lit = litRingAt(rings, kDialCenterX, kDialCenterY, column, row) >= 0;
                    litSomewhere += lit;
                    if (lit != expected && ++mismatches <= 5) {
                        ADD_FAILURE() << "pixel " << column << ", " << row << " at value " << value << ": dial "
                                      << (lit ? "lights" : "leaves dark") << " what the skin assumes "
                                      << (expected ? "lit" : "dark");
                    }
                }
            }
        }
        EXPECT_EQ(mismatches, 0);
        EXPECT_GT(litSomewhere, 0);
    }
}

} // namespace

#endif // _WIN32
