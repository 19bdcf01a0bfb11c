#include "ClapInstance.h"

#include <algorithm>
#include <cmath>

namespace {

std::string versionText(const clap_version_t& version)
{
    return std::to_string(version.major) + "." + std::to_string(version.minor) + "." + std::to_string(version.revision);
}

bool blankText(const char* text)
{
    return !text || !*text;
}

double normalised(const clap_param_info_t& info, double plain)
{
    const double span = info.max_value - info.min_value;
    return span > 0.0 ? (plain - info.min_value) / span : 0.0;
}

} // namespace

ClapInstance::ClapInstance(ClapModule& module) : session(module)
{
    if (!session.plugin() || !session.init())
        return;
    initialised = true;
    infos = session.parameterInfos();
    for (std::size_t i = 0; i < infos.size(); ++i)
        if (std::string(infos[i].name) == "Program" && (infos[i].flags & CLAP_PARAM_IS_STEPPED) &&
            !(infos[i].flags & CLAP_PARAM_IS_AUTOMATABLE))
            programParameter = static_cast<int>(i);
    portsText = describePorts();
}

std::string ClapInstance::describePorts()
{
    std::string text;
    for (bool input : {true, false}) {
        const std::vector<clap_audio_port_info_t> ports = session.ports(input);
        if (!ports.empty()) {
            (input ? inputChannels : outputChannels) = ports.front().channel_count;
            wideSamples = wideSamples && (ports.front().flags & CLAP_AUDIO_PORT_SUPPORTS_64BITS);
        }
        text += text.empty() ? "" : "; ";
        text += input ? "in" : "out";
        if (ports.empty())
            text += " none";
        for (const clap_audio_port_info_t& port : ports)
            text += " \"" + std::string(port.name) + "\" " + std::to_string(port.channel_count) +
                    (port.channel_count == 1 ? " channel" : " channels") +
                    (port.flags & CLAP_AUDIO_PORT_SUPPORTS_64BITS ? ", 64-bit" : "");
    }
    return text;
}

std::vector<std::pair<std::string, std::string>> ClapInstance::identity()
{
    serviceHost();
    const clap_plugin_descriptor_t& descriptor = *session.plugin()->desc;
    auto text = [](const char* value) { return std::string(value ? value : ""); };
    std::string features;
    for (const char* const* feature = descriptor.features; feature && *feature; ++feature)
        features += (features.empty() ? "" : " ") + std::string(*feature);
    std::string extensions;
    const std::pair<const void*, const char*> known[] = {
        {session.params, "params"}, {session.audioPorts, "audio-ports"},
        {session.state, "state"},   {session.latency, "latency"},
        {session.gui, "gui"},       {session.timerSupport, "timer-support"}};
    for (const auto& [extension, name] : known)
        if (extension)
            extensions += (extensions.empty() ? "" : " ") + std::string(name);
    return {
        {"Plug-in", text(descriptor.name)},
        {"Id", text(descriptor.id)},
        {"Vendor", text(descriptor.vendor)},
        {"Version", (blankText(descriptor.version) ? "not given" : text(descriptor.version)) + ", CLAP " +
                        versionText(descriptor.clap_version)},
        {"Features", features.empty() ? "none" : features},
        {"Audio ports", portsText},
        {"Extensions", extensions.empty() ? "none" : extensions},
        {"Latency", std::to_string(latency()) + " samples"},
    };
}

std::string ClapInstance::parameterName(int index)
{
    return index >= 0 && index < parameterCount() ? infos[static_cast<std::size_t>(index)].name : "";
}

std::string ClapInstance::parameterDisplay(int index)
{
    serviceHost();
    if (index < 0 || index >= parameterCount())
        return {};
    const clap_id id = infos[static_cast<std::size_t>(index)].id;
    const std::optional<double> value = session.parameterValue(id);
    const std::optional<std::string> text = value ? session.valueText(id, *value) : std::nullopt;
    return text.value_or("?");
}

float ClapInstance::parameter(int index)
{
    serviceHost();
    if (index < 0 || index >= parameterCount())
        return 0.0f;
    const clap_param_info_t& info = infos[static_cast<std::size_t>(index)];
    return static_cast<float>(normalised(info, session.parameterValue(info.id).value_or(info.min_value)));
}

void ClapInstance::setParameter(int index, float value)
{
    if (index < 0 || index >= parameterCount())
        return;
    const clap_param_info_t& info = infos[static_cast<std::size_t>(index)];
    double plain =
        info.min_value + static_cast<double>(std::clamp(value, 0.0f, 1.0f)) * (info.max_value - info.min_value);
    if (info.flags & CLAP_PARAM_IS_STEPPED)
        plain = std::round(plain);
    send(info, plain);
}

void ClapInstance::send(const clap_param_info_t& info, double plain)
{
    const clap_event_param_value_t event = clapParameterEvent(info.id, plain);
    if (!session.isActive()) {
        session.flush({event});
    } else {
        std::lock_guard<std::mutex> lock(pendingMutex);
        pending.push_back(event);
    }
    serviceHost();
}

int ClapInstance::programCount()
{
    if (programParameter < 0)
        return 0;
    const clap_param_info_t& info = infos[static_cast<std::size_t>(programParameter)];
    return static_cast<int>(info.max_value - info.min_value) + 1;
}

int ClapInstance::program()
{
    if (programParameter < 0)
        return 0;
    const clap_param_info_t& info = infos[static_cast<std::size_t>(programParameter)];
    return static_cast<int>(session.parameterValue(info.id).value_or(info.min_value) - info.min_value);
}

void ClapInstance::setProgram(int program)
{
    if (program >= 0 && program < programCount()) {
        const clap_param_info_t& info = infos[static_cast<std::size_t>(programParameter)];
        send(info, info.min_value + program);
    }
}

std::string ClapInstance::programName()
{
    return programParameter < 0 ? std::string() : parameterDisplay(programParameter);
}

int ClapInstance::latency()
{
    return static_cast<int>(session.latencyFrames());
}

void ClapInstance::start(double rate, int frames)
{
    sampleRate = rate;
    blockSize = std::max(frames, 1);
    const std::size_t spareChannels = std::max(inputChannels, outputChannels);
    spare32.assign(spareChannels * static_cast<std::size_t>(blockSize), 0.0f);
    spare64.assign(spareChannels * static_cast<std::size_t>(blockSize), 0.0);
    narrow.assign(4 * static_cast<std::size_t>(blockSize), 0.0f);
    session.activate(sampleRate, 1, static_cast<std::uint32_t>(blockSize));
}

template <typename Sample> void ClapInstance::processBlock(Sample** inputs, Sample** outputs, int frames)
{
    std::lock_guard<std::mutex> audio(audioMutex);
    if (!session.isActive() || !inputs || !outputs || !inputs[0] || !outputs[0])
        return;
    if (!session.isProcessing() && !session.startProcessing())
        return;
    std::vector<clap_event_param_value_t> events;
    {
        std::lock_guard<std::mutex> lock(pendingMutex);
        events.swap(pending);
    }
    const std::uint32_t given = inputs[1] && outputs[1] ? 2 : 1;
    for (int first = 0; first < frames; first += blockSize) {
        const auto count = static_cast<std::size_t>(std::min(blockSize, frames - first));
        Sample* in[2] = {inputs[0] + first, given > 1 ? inputs[1] + first : nullptr};
        Sample* out[2] = {outputs[0] + first, given > 1 ? outputs[1] + first : nullptr};
        if constexpr (std::is_same_v<Sample, double>) {
            if (!wideSamples) {
                // A port without 64-bit support gets the samples as floats.
                float* narrowIn[2] = {narrow.data(), narrow.data() + blockSize};
                float* narrowOut[2] = {narrow.data() + 2 * blockSize, narrow.data() + 3 * blockSize};
                for (std::uint32_t c = 0; c < given; ++c)
                    std::transform(in[c], in[c] + count, narrowIn[c], [](double x) { return static_cast<float>(x); });
                runBlock(narrowIn, narrowOut, given, count, events);
                for (std::uint32_t c = 0; c < given; ++c)
                    std::copy_n(narrowOut[c], count, out[c]);
                events.clear();
                continue;
            }
        }
        runBlock(in, out, given, count, events);
        events.clear();
    }
}

template <typename Sample>
void ClapInstance::runBlock(Sample* const* inputs, Sample* const* outputs, std::uint32_t given, std::size_t frames,
                            const std::vector<clap_event_param_value_t>& events)
{
    // The caller's one or two channels onto the plug-in's main ports: a
    // missing input channel repeats the last one given, output channels the
    // caller has no room for go to spare buffers.
    Sample* spare = nullptr;
    if constexpr (std::is_same_v<Sample, float>)
        spare = spare32.data();
    else
        spare = spare64.data();
    std::vector<Sample*> in(inputChannels);
    std::vector<Sample*> out(outputChannels);
    for (std::uint32_t c = 0; c < inputChannels; ++c)
        in[c] = inputs[std::min(c, given - 1)];
    for (std::uint32_t c = 0; c < outputChannels; ++c)
        out[c] = c < given ? outputs[c] : spare + c * static_cast<std::size_t>(blockSize);
    session.process(in.data(), inputChannels, out.data(), outputChannels, static_cast<std::uint32_t>(frames), events);
    // A one-channel output shows in both of the caller's channels.
    for (std::uint32_t c = std::max<std::uint32_t>(outputChannels, 1); c < given; ++c)
        std::copy_n(outputs[outputChannels - 1], frames, outputs[c]);
}

void ClapInstance::serviceHost()
{
    session.serviceMainThread();
    if (session.takeRestartRequest() && session.isActive()) {
        // As a host does: processing stops, and the plug-in goes through
        // deactivate and activate before the next block starts it again.
        std::lock_guard<std::mutex> audio(audioMutex);
        if (session.isProcessing())
            session.stopProcessing();
        session.deactivate();
        session.activate(sampleRate, 1, static_cast<std::uint32_t>(blockSize));
    }
    if (session.takeFlushRequest()) {
        // While processing, the next block carries what the plug-in has to say.
        std::lock_guard<std::mutex> audio(audioMutex);
        if (!session.isProcessing())
            session.flush();
    }
}

bool ClapInstance::editorSize(int& width, int& height, std::string& reason)
{
    width = height = 0;
    if (!session.gui) {
        reason = "the plug-in has no editor";
        return false;
    }
    std::uint32_t w = 0;
    std::uint32_t h = 0;
    if (!session.editorSize(w, h)) {
        reason = std::string("the plug-in's editor does not embed in a ") + clapWindowApi() + " window here";
        return false;
    }
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return true;
}

bool ClapInstance::openEditor(void* parentWindow)
{
    return session.openEditor(clapWindowApi(), reinterpret_cast<std::uintptr_t>(parentWindow));
}

std::unique_ptr<PluginInstance> ClapPluginModule::instantiate(std::string& error)
{
    auto instance = std::make_unique<ClapInstance>(module);
    if (!instance->valid()) {
        error = "the plug-in could not be created and initialised";
        return nullptr;
    }
    return instance;
}
