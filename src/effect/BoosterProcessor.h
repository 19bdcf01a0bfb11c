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
#include <memory>

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
    // new rate at its next call. The rate is kept in single precision, as
    // the VST2 interface hands it over, so every format runs the same chain.
    // setSampleRate builds the rate's triode tables here (milliseconds); if
    // that fails, processing runs bypassed and the next call of either builds
    // them.
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
    // Any thread; meant for the values a format's host sends inside its
    // processing call: like setParameter, but never waits. While another
    // thread holds the parameters the value waits in its slot, and whoever
    // takes them next (processing included) takes it first.
    void setParameterFromAudio(int index, float value);
    // Any thread, never waits: the value last set, taken by processing or not.
    float latestParameter(int index) const;

    // Host thread. Edits live in the program they were made in: switching
    // stores the current values into the old program first. An index outside
    // 0..15, or the current one, changes nothing.
    int program() const;
    void setProgram(int program);
    // The current program's name, up to 24 characters, always terminated and
    // zero-filled to the end.
    void programName(char (&name)[kProgramNameSize + 1]) const;
    // Any program's name likewise; empty for an index outside 0..15.
    void programNameOf(int program, char (&name)[kProgramNameSize + 1]) const;
    void setProgramName(const char* name); // cut to 24 characters; null is ignored
    // Restores a saved state: the current program becomes `program` without
    // storing anything into the old one, then takes the values (limited like
    // setParameter's). An index outside 0..15 changes nothing.
    void restore(int program, const std::array<float, kNumParameters>& values);

    // The delay the chain adds at the current "Oversample" value, in host
    // frames, as a format reports it to its host.
    int latencyFrames() const;

    // Editor's thread. The editor attaches its display data for its lifetime;
    // the audio thread hands scope frames and meters to it while attached.
    void attachDisplay(EditorDisplay* target) { display.store(target, std::memory_order_seq_cst); }
    // Detaches and returns once no processing call is still handing off to
    // it, so the caller may destroy it. Never from the audio thread.
    void detachDisplay();
    // The editor's window opens (the interval of the current rate) or closes
    // (the unset marker); both restart the ring at slot 0.
    void startScopeFeed();
    void stopScopeFeed();
    // Copies the curve if a new one is ready (and marks it taken); never waits.
    bool takeResponseCurve(std::array<double, kResponsePoints>& curve);

    // For tests and the editor: the changed bits not yet taken by processing.
    std::uint32_t pendingChanges();
    const double* responseGridValues() const { return responseGrid.data(); }
    const ProcessingEngine& processingEngine() const { return engine; }
    const std::array<double, 4>& peakLevelValues() const { return peakLevels; }
    std::int32_t activeChannelCount() const { return channelCount; }
    // Gives the editor's scope ring with all three ring locks held, or null
    // when one of them is busy (those taken are released again).
    ScopeFrame* lockScopeRing(EditorDisplay& target);

private:
    enum class Layout { stereo, mono, single };
    struct NoiseStates {
        std::uint32_t left = 0, right = 0, mono = 0, single = 0;
    };

    template <typename Sample>
    void processBlock(Sample** inputs, Sample** outputs, int sampleFrames, NoiseStates& noise);
    template <typename Sample, Layout layout>
    void processFrames(Sample** inputs, Sample** outputs, int first, int frames, NoiseStates& noise);
    void applyParameterChanges();
    void refreshResponseCurve();
    void handOffToEditor(std::uint32_t stagedFrames);
    void handOffTo(EditorDisplay& target, std::uint32_t stagedFrames);
    void computeResponseGrid(double oversampling);
    // Host thread: builds the tables for a rate unless a slot holds them;
    // false if they could not be built.
    bool prepareTables(double rate);
    void reapplyRate();
    const PreparedTriodeTables* preparedTablesFor(double rate) const;
    std::uint32_t scopeIntervalFor(float rate) const;
    // With parameterLock held: the values set from processing that wait.
    void takeWaitingValues();

    ProcessingEngine engine;
    std::int32_t channelCount = 2;
    CriticalSection parameterLock;
    std::array<float, kNumParameters> parameterValues{};
    std::uint32_t changedMask = 0;
    // Every value as last set, and the bits of those set from processing that
    // still wait to reach parameterValues.
    std::array<std::atomic<float>, kNumParameters> latestValues{};
    std::atomic<std::uint32_t> waitingMask{0};
    CriticalSection displayLock;
    std::uint8_t responsePending = 0;
    std::uint8_t responseReady = 0;
    std::array<double, kResponsePoints> responseGrid{};
    std::array<double, kResponsePoints> responseCurve{};
    std::array<double, 4> peakLevels{};
    double peakRelease = 0.0;
    std::array<ScopeFrame, kScopeStagingFrames> scopeStaging{};
    // Written by the editor's thread when its window opens or closes.
    std::atomic<std::uint32_t> scopeInterval{kScopeIntervalUnset};
    std::atomic<std::uint32_t> scopeCounter{0};
    std::atomic<std::int32_t> scopeWriteIndex{0};
    std::uint32_t stagedFrames = 0;
    std::atomic<EditorDisplay*> display{nullptr};
    std::atomic<bool> handOffActive{false};
    // The host rate as the audio thread reads it: it reaches the engine, the
    // meters and the response grid when "Oversample" is re-applied.
    std::atomic<float> hostRate{44100.0f};
    // Set by the host between calls; read by processing.
    std::atomic<int> framesPerBlock{256};
    // Triode tables solved on the host's thread for the host rate, so that
    // processing and automating "Oversample" only switch between ready ones.
    // The engine reads the set it was handed without a lock; preparedLock
    // guards the slots and the engine's choice among them, and the host's
    // thread never frees the set the engine holds.
    CriticalSection preparedLock;
    std::array<std::unique_ptr<const PreparedTriodeTables>, 2> tableSlots;
    // Set by the audio thread when the chain's rate has no tables (they
    // could not be built); the host's next rate or block size call builds them.
    std::atomic<bool> tablesWanted{false};
    // Changes taken from changedMask but left for a later call.
    std::uint32_t deferredChanges = 0;
    // Anti-denormal noise: one generator per loop and precision, per instance.
    NoiseStates floatNoise;
    NoiseStates doubleNoise;
    // Each instance edits its own copy of the programs, so that instances on
    // different threads never write shared memory.
    ProgramTable programs = kFactoryPrograms;
    std::atomic<int> currentProgram{0};
};
