// A CLAP plug-in as the host tool drives it, through a strict ClapSession:
// parameters by their place in the plug-in's list with values normalised over
// each one's range; programs where the plug-in offers them as a stepped,
// non-automatable parameter named "Program" (CLAP 1.1 has no preset list);
// processing started on the thread that sends the first block; the editor
// pumped, with the host's timers and callbacks, by idleEditor().
#pragma once

#include "ClapHost.h"
#include "PluginInstance.h"

#include <mutex>

class ClapInstance final : public PluginInstance {
public:
    // Creates and initialises an instance on this thread, its main thread.
    explicit ClapInstance(ClapModule& module);
    bool valid() const { return initialised; }

    std::vector<std::pair<std::string, std::string>> identity() override;
    int parameterCount() override { return static_cast<int>(infos.size()); }
    std::string parameterName(int index) override;
    std::string parameterDisplay(int index) override;
    std::string parameterLabel(int) override { return {}; } // CLAP texts carry their units
    float parameter(int index) override;
    void setParameter(int index, float value) override;
    int programCount() override;
    int program() override;
    void setProgram(int program) override;
    std::string programName() override;
    int latency() override;
    void start(double sampleRate, int blockSize) override;
    void process(float** inputs, float** outputs, int frames) override { processBlock(inputs, outputs, frames); }
    void process(double** inputs, double** outputs, int frames) override { processBlock(inputs, outputs, frames); }
    bool editorSize(int& width, int& height, std::string& reason) override;
    bool openEditor(void* parentWindow) override;
    void idleEditor() override { serviceHost(); }
    void closeEditor() override { session.closeEditor(); }

private:
    template <typename Sample> void processBlock(Sample** inputs, Sample** outputs, int frames);
    template <typename Sample>
    void runBlock(Sample* const* inputs, Sample* const* outputs, std::uint32_t given, std::size_t frames,
                  const std::vector<clap_event_param_value_t>& events);
    // What a host's main loop does between calls: the plug-in's callbacks and
    // timers, and the restart and flush it asked for.
    void serviceHost();
    // A plain value from the main thread: flushed at once while inactive,
    // sent with the next block while active.
    void send(const clap_param_info_t& info, double plain);
    std::string describePorts();

    ClapSession session;
    bool initialised = false;
    std::vector<clap_param_info_t> infos;
    int programParameter = -1;
    std::string portsText;
    std::uint32_t inputChannels = 2;
    std::uint32_t outputChannels = 2;
    bool wideSamples = true; // the main ports take 64-bit samples
    double sampleRate = 44100.0;
    int blockSize = 512;
    // Held by the audio thread through each block, and by the main thread
    // while it restarts the plug-in or flushes outside processing.
    std::mutex audioMutex;
    std::mutex pendingMutex;
    std::vector<clap_event_param_value_t> pending;
    std::vector<float> spare32;
    std::vector<double> spare64;
    std::vector<float> narrow; // double blocks for 32-bit ports
};

class ClapPluginModule final : public PluginModule {
public:
    bool load(const std::string& path, std::string& error) { return module.load(path, error); }
    std::unique_ptr<PluginInstance> instantiate(std::string& error) override;
    std::vector<std::string> protocolFaults() const override { return module.faults().list(); }

private:
    mutable ClapModule module;
};
