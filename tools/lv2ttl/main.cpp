// Writes the Turtle files of the LV2 bundle (manifest.ttl, the plug-in's
// description, its presets) from the parameter and program tables, so that
// the description hosts read is the code's own and cannot drift from it.
//   grindlemark-lv2ttl BUNDLE_FOLDER
#include "effect/BoosterProcessor.h"
#include "effect/ProductVersion.h"
#include "format/FormatLayer.h"
#include "lv2/Lv2Ports.h"

#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/instance-access/instance-access.h>
#include <lv2/options/options.h>
#include <lv2/port-groups/port-groups.h>
#include <lv2/presets/presets.h>
#include <lv2/ui/ui.h>
#include <lv2/units/units.h>
#include <lv2/urid/urid.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr const char* kDescriptionFile = "Grindlemark.ttl";
constexpr const char* kPresetsFile = "presets.ttl";

const char* const kPrefixes[][2] = {
    {"doap", "http://usefulinc.com/ns/doap#"},
    {"foaf", "http://xmlns.com/foaf/0.1/"},
    {"lv2", LV2_CORE_PREFIX},
    {"opts", LV2_OPTIONS_PREFIX},
    {"pg", LV2_PORT_GROUPS_PREFIX},
    {"pset", LV2_PRESETS_PREFIX},
    {"rdf", "http://www.w3.org/1999/02/22-rdf-syntax-ns#"},
    {"rdfs", "http://www.w3.org/2000/01/rdf-schema#"},
    {"ui", LV2_UI_PREFIX},
    {"units", LV2_UNITS_PREFIX},
    {"urid", LV2_URID_PREFIX},
};

std::string prefixes()
{
    std::string text;
    for (const auto& prefix : kPrefixes)
        text += std::string("@prefix ") + prefix[0] + ": <" + prefix[1] + "> .\n";
    return text + "\n";
}

std::string uri(const std::string& value)
{
    return "<" + value + ">";
}

std::string literal(const std::string& text)
{
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

// A port value as text, and the float a host reads from it: every LV2 port
// value is a float, read directly or, as lilv does, through a double.
bool readsAs(const char* text, float& value)
{
    value = std::strtof(text, nullptr);
    return static_cast<float>(std::strtod(text, nullptr)) == value;
}

// The shortest plain decimal of `units` that a host reads as a float `accept`s.
// With a decimal point, Turtle types it a decimal, which lilv hands on as a
// float: hosts apply presets by their float port values only.
template <typename Accept> std::string shortestDecimal(double units, int fewestPlaces, Accept accept)
{
    char text[64];
    for (int places = fewestPlaces; places <= 12; ++places) {
        std::snprintf(text, sizeof text, "%.*f", places, units);
        float read = 0.0f;
        if (readsAs(text, read) && accept(read))
            return text;
    }
    return "";
}

std::string number(float value)
{
    return shortestDecimal(value, 0, [value](float read) { return read == value; });
}

// The port value, in display units, that gives the parameter exactly `value`;
// empty when there is none.
std::string portValue(int id, float value)
{
    return shortestDecimal(displayUnitsOf(id, value), 1,
                           [id, value](float read) { return valueOfDisplayUnits(id, read) == value; });
}

std::string presetUri(int program)
{
    return kLv2PresetUriPrefix + std::to_string(program);
}

std::string controlPort(const FormatParameter& facts, std::string& error)
{
    const std::string defaultText = portValue(facts.id, facts.defaultValue);
    if (defaultText.empty())
        error = std::string("no ") + facts.symbol + " port value gives its default back";
    const ParameterInfo& table = kParameters[static_cast<std::size_t>(facts.id)];
    std::ostringstream port;
    port << "[\n"
         << "        a lv2:InputPort , lv2:ControlPort ;\n"
         << "        lv2:index " << facts.id << " ;\n"
         << "        lv2:symbol " << literal(facts.symbol) << " ;\n"
         << "        lv2:name " << literal(facts.name) << " ;\n"
         << "        lv2:default " << defaultText << " ;\n"
         << "        lv2:minimum " << number(static_cast<float>(facts.displayMin)) << " ;\n"
         << "        lv2:maximum " << number(static_cast<float>(facts.displayMax));
    if (!std::strcmp(facts.unit, "dB"))
        port << " ;\n        units:unit units:db";
    if (facts.stepCount > 0) {
        // An on/off switch is a toggle; other steps are a list of named choices.
        if (table.stepNames == kEnableNames)
            port << " ;\n        lv2:portProperty lv2:toggled , lv2:integer";
        else
            port << " ;\n        lv2:portProperty lv2:integer , lv2:enumeration";
        for (int step = 0; step <= facts.stepCount; ++step) {
            const float stepValue = valueOfDisplayUnits(facts.id, step);
            port << (step == 0 ? " ;\n        lv2:scalePoint " : " , ") << "[ rdfs:label "
                 << literal(parameterText(facts.id, stepValue)) << " ; rdf:value " << step << " ]";
        }
    }
    port << "\n    ]";
    return port.str();
}

std::string audioPort(const Lv2AudioPort& audio)
{
    std::ostringstream port;
    port << "[\n"
         << "        a lv2:AudioPort , " << (audio.input ? "lv2:InputPort" : "lv2:OutputPort") << " ;\n"
         << "        lv2:index " << audio.index << " ;\n"
         << "        lv2:symbol " << literal(audio.symbol) << " ;\n"
         << "        lv2:name " << literal(audio.name) << " ;\n"
         << "        pg:group " << uri(std::string(kLv2PluginUri) + (audio.input ? "#in" : "#out")) << " ;\n"
         << "        lv2:designation " << (audio.left ? "pg:left" : "pg:right") << "\n    ]";
    return port.str();
}

// The delay at each "Oversample" setting, as the processor reports it.
int latencyAt(float oversample)
{
    BoosterProcessor processor;
    processor.setParameter(kOversample, oversample);
    processor.process(static_cast<float**>(nullptr), nullptr, 0);
    return processor.latencyFrames();
}

std::string latencyPort()
{
    const int largest = std::max(latencyAt(0.0f), latencyAt(1.0f));
    std::ostringstream port;
    port << "[\n"
         << "        a lv2:OutputPort , lv2:ControlPort ;\n"
         << "        lv2:index " << kLv2Latency << " ;\n"
         << "        lv2:symbol \"latency\" ;\n"
         << "        lv2:name \"Latency\" ;\n"
         << "        lv2:designation lv2:latency ;\n"
         << "        lv2:portProperty lv2:reportsLatency , lv2:integer ;\n"
         << "        units:unit units:frame ;\n"
         << "        lv2:minimum 0 ;\n"
         << "        lv2:maximum " << largest << "\n    ]";
    return port.str();
}

std::string description(std::string& error)
{
    const std::string plugin = uri(kLv2PluginUri);
    std::ostringstream ttl;
    ttl << prefixes();
    ttl << uri(std::string(kLv2PluginUri) + "#in") << "\n    a pg:InputGroup , pg:StereoGroup ;\n"
        << "    lv2:symbol \"in\" ;\n    rdfs:label \"Input\" .\n\n";
    ttl << uri(std::string(kLv2PluginUri) + "#out") << "\n    a pg:OutputGroup , pg:StereoGroup ;\n"
        << "    lv2:symbol \"out\" ;\n    rdfs:label \"Output\" .\n\n";
    ttl << plugin << "\n"
        << "    a lv2:Plugin , lv2:DistortionPlugin , doap:Project ;\n"
        << "    doap:name " << literal(GRINDLEMARK_NAME_TEXT) << " ;\n"
        << "    doap:maintainer [ foaf:name " << literal(GRINDLEMARK_VENDOR_TEXT) << " ] ;\n"
        << "    rdfs:comment \"A guitar booster and overdrive.\" ;\n"
        << "    lv2:minorVersion " << GRINDLEMARK_VERSION_MINOR << " ;\n"
        << "    lv2:microVersion " << GRINDLEMARK_VERSION_PATCH << " ;\n"
        << "    lv2:optionalFeature lv2:hardRTCapable , urid:map , opts:options ;\n"
        << "    opts:supportedOption " << uri(LV2_BUF_SIZE__maxBlockLength) << " , "
        << uri(LV2_BUF_SIZE__nominalBlockLength) << " ;\n"
        << "    pg:mainInput " << uri(std::string(kLv2PluginUri) + "#in") << " ;\n"
        << "    pg:mainOutput " << uri(std::string(kLv2PluginUri) + "#out") << " ;\n"
        << "    ui:ui " << uri(kLv2EditorUri) << " ;\n"
        << "    lv2:port ";
    std::vector<std::string> ports;
    for (const FormatParameter& facts : formatParameters())
        ports.push_back(controlPort(facts, error));
    for (const Lv2AudioPort& audio : kLv2AudioPorts)
        ports.push_back(audioPort(audio));
    ports.push_back(latencyPort());
    for (std::size_t i = 0; i < ports.size(); ++i)
        ttl << (i ? " , " : "") << ports[i];
    ttl << " .\n\n";
    ttl << uri(kLv2EditorUri) << "\n"
        << "    a ui:X11UI ;\n"
        << "    lv2:requiredFeature " << uri(LV2_INSTANCE_ACCESS_URI) << " , ui:parent , ui:idleInterface ;\n"
        << "    lv2:optionalFeature ui:touch , ui:resize , ui:noUserResize ;\n"
        << "    lv2:extensionData ui:idleInterface .\n";
    return ttl.str();
}

std::string presets(std::string& error)
{
    std::ostringstream ttl;
    ttl << prefixes();
    for (int program = 0; program < kNumPrograms; ++program) {
        const ProgramRecord& record = kFactoryPrograms[static_cast<std::size_t>(program)];
        ttl << uri(presetUri(program)) << "\n"
            << "    a pset:Preset ;\n"
            << "    lv2:appliesTo " << uri(kLv2PluginUri) << " ;\n"
            << "    rdfs:label " << literal(std::string(record.name, strnlen(record.name, kProgramNameSize))) << " ;\n"
            << "    lv2:port ";
        for (const FormatParameter& facts : formatParameters()) {
            const float value = record.values[facts.id];
            const std::string text = portValue(facts.id, value);
            if (text.empty())
                error = std::string("program \"") + record.name + "\": no " + facts.symbol + " port value gives " +
                        std::to_string(value) + " back";
            ttl << (facts.id ? " , " : "") << "[ lv2:symbol " << literal(facts.symbol) << " ; pset:value " << text
                << " ]";
        }
        ttl << " .\n\n";
    }
    return ttl.str();
}

std::string manifest()
{
    std::ostringstream ttl;
    ttl << prefixes();
    ttl << uri(kLv2PluginUri) << "\n    a lv2:Plugin ;\n    lv2:binary " << uri(kLv2BinaryName) << " ;\n"
        << "    rdfs:seeAlso " << uri(kDescriptionFile) << " .\n\n";
    ttl << uri(kLv2EditorUri) << "\n    a ui:X11UI ;\n    ui:binary " << uri(kLv2BinaryName) << " ;\n"
        << "    rdfs:seeAlso " << uri(kDescriptionFile) << " .\n\n";
    for (int program = 0; program < kNumPrograms; ++program) {
        const ProgramRecord& record = kFactoryPrograms[static_cast<std::size_t>(program)];
        ttl << uri(presetUri(program)) << "\n    a pset:Preset ;\n    lv2:appliesTo " << uri(kLv2PluginUri) << " ;\n"
            << "    rdfs:label " << literal(std::string(record.name, strnlen(record.name, kProgramNameSize)))
            << " ;\n    rdfs:seeAlso " << uri(kPresetsFile) << " .\n\n";
    }
    return ttl.str();
}

// Beside the file and renamed, so a failed run leaves no partial file.
bool writeFile(const std::string& folder, const char* name, const std::string& text)
{
    const std::string path = folder + "/" + name;
    const std::string partial = path + ".partial";
    std::FILE* file = std::fopen(partial.c_str(), "wb");
    if (!file) {
        std::fprintf(stderr, "grindlemark-lv2ttl: cannot write %s: %s\n", partial.c_str(), std::strerror(errno));
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) != 0 || !written || std::rename(partial.c_str(), path.c_str()) != 0) {
        std::fprintf(stderr, "grindlemark-lv2ttl: cannot write %s\n", path.c_str());
        std::remove(partial.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: grindlemark-lv2ttl BUNDLE_FOLDER\n");
        return 2;
    }
    std::string error;
    const std::string descriptionText = description(error);
    const std::string presetText = presets(error);
    if (!error.empty()) {
        std::fprintf(stderr, "grindlemark-lv2ttl: %s\n", error.c_str());
        return 1;
    }
    const std::string folder = argv[1];
    const bool written = writeFile(folder, kDescriptionFile, descriptionText) &&
                         writeFile(folder, kPresetsFile, presetText) && writeFile(folder, "manifest.ttl", manifest());
    return written ? 0 : 1;
}
