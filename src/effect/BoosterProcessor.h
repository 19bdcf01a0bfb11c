// The booster as every plug-in format sees it: parameters, programs, channel
// layouts, processing, and the scope and meter hand-off to an open editor. No
// host header: each format's adapter (VST2, VST3, CLAP, LV2) drives this one
// class, so sound, texts and programs are the same in all of them.
#pragma once

#include "effect/EditorDisplay.h"
#include "effect/Parameters.h"
#include "effect/ProductVersion.h"
#include "effect/ScopeFrame.h"
#include "engine/ProcessingEngine.h"
#include "platform/CriticalSection.h"

#include <array>
#include <atomic>
#include <cstdint>

constexpr int kResponsePoints = 173;
constexpr std::uint32_t kScopeIntervalUnset = 0xffffffffu;
// Scope frames staged per stretch of processing; a call longer than this runs
// in several stretches, each handed to the editor on its own.
constexpr int kScopeStagingFrames = 256;
// The host rates the chain is designed for; formats refuse others.
constexpr double kMinSampleRate = 11025.0;
constexpr double kMaxSampleRate = 192000.0;
constexpr int kMaxBlockSize = 1048576;

class BoosterProcessor {
public:
    BoosterProcessor(); // program 0, 44.1 kHz, block size 256
    ~BoosterProcessor();
    BoosterProcessor(const BoosterProcessor&) = delete;
    BoosterProcessor& operator=(const BoosterProcessor&) = delete;

    // Host thread, while not processing. A rate outside 11025..192000 Hz (or
    // NaN) is ignored and answers false; so is a block size outside 1..2^20.
    // Neither touches anything the audio thread writes: processing takes the
    // new rate at its next call.
    bool setSampleRate(double rate);
    bool setBlockSize(int frames);
    double sampleRate() const;
    int blockSize() const;

    // Audio thread. inputs[1] and outputs[1] null: the single-channel layout;
    // null inputs or outputs: the call only takes parameter changes. Frames
    // beyond the block size run in stretches of it.
    void process(float** inputs, float** outputs, int frames);
    void process(double** inputs, double** outputs, int frames);

    // Any thread. Values are limited to 0..1 (NaN stored as 0); indices
    // outside 0..7 are ignored (and read as 0).
    void setParameter(int index, float value);
    float getParameter(int index);

    // Host thread. Edits live in the program they were made in: switching
    // stores the current values into the old program first. An index outside
    // 0..15, or the current one, changes nothing.
    int program() const;
    void setProgram(int program);
    // The current program's name, up to 24 characters, always terminated.
    void programName(char (&name)[kProgramNameSize + 1]) const;
    void programNameOf(int program, char (&name)[kProgramNameSize + 1]) const;
    void setProgramName(const char* name); // cut to 24 characters
    // Restores a saved state: the current program becomes `program` without
    // storing anything into the old one, then takes the values.
    void restore(int program, const std::array<float, kNumParameters>& values);

    // The delay the chain adds at the current "Oversample" value, in host
    // frames, as a format reports it to its host.
    int latencyFrames();

    // Editor's thread. The editor attaches its display data for its lifetime;
    // the audio thread hands scope frames and meters to it while attached.
    void attachDisplay(EditorDisplay* target);
    // Detaches and returns once no processing call is still handing off to
    // it, so the caller may destroy it. Never from the audio thread.
    void detachDisplay();
    // The editor's window opens (the interval of the current rate) or closes
    // (the unset marker); both restart the ring at slot 0.
    void startScopeFeed();
    void stopScopeFeed();
    // Copies the curve if a new one is ready (and marks it taken); never waits.
    bool takeResponseCurve(std::array<double, kResponsePoints>& curve);

    // For tests and the editor.
    std::uint32_t pendingChanges();
    const double* responseGridValues() const;
    const ProcessingEngine& processingEngine() const;
    const std::array<double, 4>& peakLevelValues() const;
    std::int32_t activeChannelCount() const;
    // Gives the editor's scope ring with all three ring locks held, or null
    // when one of them is busy (those taken are released again).
    ScopeFrame* lockScopeRing(EditorDisplay& target);

    // (private members: what BoosterEffect holds today, less the VST2 record)
};
