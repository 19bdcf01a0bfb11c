// One plug-in instance as the host tool drives it, whatever the plug-in's
// format: identity, parameters and programs by index, processing in single or
// double precision, and the editor in a parent window of the tool's. Each
// format's instance talks to its plug-in only through that format's own entry
// point and calls, exactly as a DAW does.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

class PluginInstance {
public:
    virtual ~PluginInstance() = default;

    // Label and value lines for --info ("Effect", "Vendor", "Latency", ...),
    // in the format's own terms.
    virtual std::vector<std::pair<std::string, std::string>> identity() = 0;

    virtual int parameterCount() = 0;
    virtual std::string parameterName(int index) = 0;
    virtual std::string parameterDisplay(int index) = 0;
    virtual std::string parameterLabel(int index) = 0;
    virtual float parameter(int index) = 0; // normalised 0..1
    virtual void setParameter(int index, float value) = 0;

    virtual int programCount() = 0;
    virtual int program() = 0;
    virtual void setProgram(int program) = 0;
    virtual std::string programName() = 0;

    // The delay the plug-in reports at its current settings, in frames.
    virtual int latency() = 0;

    // Prepares for processing at a rate and a largest block, and starts it.
    virtual void start(double sampleRate, int blockSize) = 0;
    // inputs[1] and outputs[1] null: one channel.
    virtual void process(float** inputs, float** outputs, int frames) = 0;
    virtual void process(double** inputs, double** outputs, int frames) = 0;

    // The editor: its size (false, with the reason, when there is none), its
    // opening in a native parent window, the pump the host runs on its UI
    // thread about 60 times a second, and its closing.
    virtual bool editorSize(int& width, int& height, std::string& reason) = 0;
    virtual bool openEditor(void* parentWindow) = 0;
    virtual void idleEditor() = 0;
    virtual void closeEditor() = 0;
};

// A loaded plug-in file (or bundle) that makes instances of its plug-in.
class PluginModule {
public:
    virtual ~PluginModule() = default;
    // A new instance, or null with the reason in error.
    virtual std::unique_ptr<PluginInstance> instantiate(std::string& error) = 0;
    // Breaches of the format's rules seen so far, by the plug-in or by the
    // tool's own use of it, for formats whose host side checks them.
    virtual std::vector<std::string> protocolFaults() const { return {}; }
};

// Loads a plug-in by its path, choosing the format by the name: a ".vst3"
// bundle or file, a ".clap" file, else a VST 2.4 library. Null with a
// readable reason in error.
std::unique_ptr<PluginModule> loadPluginModule(const std::string& path, std::string& error);
