// The booster effect: its parameters and programs, its identity towards the
// host, and the audio entry points.
#pragma once

#include "effect/EditorDisplay.h"
#include "effect/Parameters.h"
#include "effect/ProductVersion.h"
#include "effect/ScopeFrame.h"
#include "engine/ProcessingEngine.h"
#include "host/AudioEffectX.h"
#include "platform/CriticalSection.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

constexpr int kResponsePoints = 173;
constexpr VstInt32 kBoosterUniqueId = fourCharCode('Q', 'm', '4', 'T');
constexpr std::uint32_t kScopeIntervalUnset = 0xffffffffu;
// Scope frames staged per stretch of processing; a call longer than this runs
// in several stretches, each handed to the editor on its own.
constexpr VstInt32 kScopeStagingFrames = 256;

class BoosterEffect;
// Makes the effect's editor, which attaches itself; null where there is none.
using EditorFactory = AEffEditor* (*)(BoosterEffect* effect);

class BoosterEffect : public AudioEffectX {
public:
    // The editor, if a factory is given, is created last and attaches itself.
    explicit BoosterEffect(audioMasterCallback host, EditorFactory makeEditor = nullptr);
    ~BoosterEffect() override;

    // The host changes the rate and block size only while the effect is
    // suspended, never during a processing call. Neither touches anything the
    // audio thread writes, so a host that breaks that rule still gets no
    // crash: processing takes the new rate at its next call.
    void setSampleRate(float newRate) override;
    void setBlockSize(VstInt32 newSize) override;
    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;
    void processDoubleReplacing(double** inputs, double** outputs, VstInt32 sampleFrames) override;

    // Any thread. Values are limited to 0..1 (NaN stored as 0); indices above 7 are ignored.
    void setParameter(VstInt32 index, float value) override;
    float getParameter(VstInt32 index) override;

    void setProgram(VstInt32 program) override;
    void setProgramName(char* name) override;
    void getProgramName(char* name) override;
    void getParameterLabel(VstInt32 index, char* label) override;
    void getParameterDisplay(VstInt32 index, char* text) override;
    void getParameterName(VstInt32 index, char* text) override;

    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    VstInt32 getVendorVersion() override { return kBoosterVendorVersion; }

    // The editor attaches its display data for its lifetime; the audio thread
    // hands scope frames and meters to it while the window is open.
    void attachDisplay(EditorDisplay* target) { display.store(target, std::memory_order_seq_cst); }
    // Detaches the display data and returns once no processing call is still
    // handing off to it, so the caller may destroy it. Never call it from the
    // audio thread.
    void detachDisplay();
    // Gives the editor's scope ring with all three ring locks held, or null
    // when one of them is busy (those taken are released again).
    ScopeFrame* lockScopeRing(EditorDisplay& target);

    // The editor's window opens (the interval of the current rate) or closes
    // (the unset marker); both restart the ring at slot 0.
    void startScopeFeed();
    void stopScopeFeed();

    // For tests and the editor: the changed bits not yet taken by processing.
    std::uint32_t pendingChanges();
    const double* responseGridValues() const { return responseGrid.data(); }
    const ProcessingEngine& processingEngine() const { return engine; }
    // Copies the curve if a new one is ready (and marks it taken); never waits.
    bool takeResponseCurve(std::array<double, kResponsePoints>& curve);
    const std::array<double, 4>& peakLevelValues() const { return peakLevels; }
    std::int32_t activeChannelCount() const { return channelCount; }

private:
    enum class Layout { stereo, mono, single };
    struct NoiseStates {
        std::uint32_t left = 0, right = 0, mono = 0, single = 0;
    };

    template <typename Sample>
    void processBlock(Sample** inputs, Sample** outputs, VstInt32 sampleFrames, NoiseStates& noise);
    template <typename Sample, Layout layout>
    void processFrames(Sample** inputs, Sample** outputs, VstInt32 first, VstInt32 frames, NoiseStates& noise);
    void applyParameterChanges();
    void refreshResponseCurve();
    void handOffToEditor(std::uint32_t stagedFrames);
    void handOffTo(EditorDisplay& target, std::uint32_t stagedFrames);
    void computeResponseGrid(double oversampling);
    void prepareTables(double rate);
    const PreparedTriodeTables* preparedTablesFor(double rate) const;
    std::uint32_t scopeIntervalFor(float rate) const;

    ProcessingEngine engine;
    std::int32_t channelCount = 2;
    CriticalSection parameterLock;
    std::array<float, kNumParameters> parameterValues{};
    std::uint32_t changedMask = 0;
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
};
