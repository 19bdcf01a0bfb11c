// The per-instance signal chain: input limiter, character equaliser, triode
// and tape saturation with make-up gains, output level and switch fade, at the
// host rate or at sixteen times it.
//
// The chain is written once, over the lane type: a double carries one
// channel (the mono and single layouts), a LanePair the two channels of a
// stereo frame side by side, each lane giving bit for bit what the double
// gives for its channel.
//
// Setting the rate solves the triode tables unless they are ready; the
// processing entry hands in tables prepared on the host's thread, so that the
// audio thread only switches between ready ones. Every other operation runs
// on the audio thread and none allocates, locks or throws.
#pragma once

#include "dsp/BiquadSection.h"
#include "dsp/CharacterEq.h"
#include "dsp/TapeStage.h"
#include "dsp/TriodeStage.h"
#include "engine/Oversampler.h"
#include "engine/SampleRecord.h"

#include <array>
#include <cstdint>

// Tracks the mean of |x| on two time scales; the larger one drives the limiter.
struct EnvelopeFollower {
    double fast = 0.0;
    double slow = 0.0;
    double fastCoeff = 0.001; // per chain sample, whatever the rate
    double slowCoeff = 0.0001;
};

enum SaturationMode : std::int32_t { kModeOff = 0, kModeTube = 1, kModeTape = 2, kModeTubeThenTape = 3 };

constexpr int kMakeupTableSize = 16; // entry k belongs to drive k + 1
constexpr int kEngineChannels = 2;
constexpr int kOversamplingFactors[] = {1, 16};

// The triode tables for both oversampling factors at one host rate, solved
// where the host sets the rate. Plain data; about 250 kB.
struct PreparedTriodeTables {
    double hostRate = 0.0; // 0 until prepared
    std::array<TriodeStage, 2> byFactor;

    // Solves both sets for hostRate (Hz). Host thread: thousands of circuit
    // solves, no allocation.
    void prepare(double rate);
};

// One channel's running state, apart from the designs that drive it.
struct ChannelState {
    EnvelopeFollower follower;
    NodeVoltages tubeNodes{175.0, 0.0, 0.0}; // plate at half the supply until the first rate
    TapeStage tape;
    double heldOutput = 0.0; // the output the switch fade slides away from
    Oversampler upsampler;
    Oversampler downsampler;
};

class ProcessingEngine {
public:
    // Ends with a complete design for 48000 Hz without oversampling, "Flat"
    // shape, bypassed. Solves the triode tables for that rate.
    ProcessingEngine();

    // Consecutive host samples of the channel records[0].channel, one record
    // each: bypass, the chain at the host rate, or 16 sub-samples per host
    // sample through the oversamplers and the chain. Leaves each result and
    // scope points in its record. Equal to the same records one call each.
    void processRun(SampleRecord* records, int frames);

    // Consecutive stereo host frames: left[i] through channel 0, right[i]
    // through channel 1, side by side. Equal bit for bit to processRun on
    // left[i] followed by right[i] for each frame in turn, including the
    // order in which the two channels take the shared tube noise and fade
    // steps. Sets the records' channel fields to 0 and 1.
    void processStereoRun(SampleRecord* left, SampleRecord* right, int frames);

    // One sample, and one stereo frame.
    void processSample(SampleRecord& record) { processRun(&record, 1); }
    void processStereoFrame(SampleRecord& left, SampleRecord& right) { processStereoRun(&left, &right, 1); }

    // Settings, between blocks. A change of bypass or mode starts a switch fade.
    void setEnabled(bool on);
    void setMode(std::int32_t mode);
    void setDrive(double linear); // 1 to 10
    void setLevel(double linear);
    // Redesigns the equaliser for the shape (0..5) at amount (0 to 1).
    void setCharacter(std::int32_t index, double amountValue);
    // Moves the chain to hostRate (Hz) times factor (1 or 16): triode tables,
    // tape stages and equaliser, cathodes at rest and a switch fade. Takes
    // the tables from its own cache, else from `prepared` when that holds
    // hostRate (a copy), else solves them here, which only a host that
    // changes the rate behind the processing entry's back can cause.
    void setChainRate(double hostRate, double factor, const PreparedTriodeTables* prepared);
    // Starts a switch fade over the current factor's length.
    void startFade() { fadeCounter = fadeSteps(); }

    // The equaliser's gain in dB at phi = 4 sin^2(pi f / R), make-up excluded.
    double responseAt(double phi) const;

    // The fade length for the current factor: 128 chain samples per host-rate step.
    std::int32_t fadeSteps() const;

    // Read-only views, for the processing entry and tests.
    bool enabled() const { return enabledFlag; }
    std::int32_t mode() const { return saturationMode; }
    double drive() const { return driveGain; }
    double levelGain() const { return outputGain; }
    std::int32_t characterIndex() const { return character; }
    double amount() const { return characterAmount; }
    double sampleRate() const { return hostRate; }
    double oversampling() const { return factor; }
    const TriodeStage& tubeDesign() const { return *tube; }
    const ChannelState& channel(int k) const { return channels[static_cast<std::size_t>(k)]; }
    std::int32_t fadeRemaining() const { return fadeCounter; }
    std::uint32_t noiseState() const { return tubeNoiseState; }
    const BiquadSection* equaliserSections() const { return eqSections.data(); }

private:
    // Host frames per stretch that the chain runs through in one go.
    static constexpr int runFrames = 16;

    template <typename Lane> void processLanes(SampleRecord* const* records, int frames);
    template <typename Lane, int count> void processStretch(SampleRecord* const* records, int frames);
    template <typename Lane, int count, bool tubeOn, bool tapeOn>
    void runChain(Lane* samples, const Lane* tubeNoise, SampleRecord* const* records, int frames);
    template <typename Lane> void fadeOutputs(Lane* samples, int count, int firstChannel);
    double makeupGain(const std::array<double, kMakeupTableSize>& table) const;
    const TriodeStage& triodeTablesFor(double stageRate, const PreparedTriodeTables* prepared);
    void designEqualiser();

    // Settings.
    bool enabledFlag = false;
    std::int32_t saturationMode = kModeOff;
    double driveGain = 1.0;
    double outputGain = 1.0;
    std::int32_t character = 3; // "Flat"
    double characterAmount = 0.0;
    double hostRate = 48000.0; // Hz
    double factor = 1.0;       // 1 or 16

    // Designs.
    std::array<TriodeStage, 2> triodeCache; // by stage rate; one per factor once the rate is known
    const TriodeStage* tube = &triodeCache[0];
    std::array<BiquadSection, eqSlotsPerChannel * kEngineChannels> eqSections{}; // channel k: 3k .. 3k + 2
    std::int32_t eqSectionCount = 0;
    double eqMakeupGain = 1.0;
    std::array<double, kMakeupTableSize> tubeMakeup{};
    std::array<double, kMakeupTableSize> tapeMakeup{};

    // Running state.
    std::array<ChannelState, kEngineChannels> channels{};
    std::int32_t fadeCounter = 0;
    // The tube stage's anti-denormal noise; one state per engine.
    std::uint32_t tubeNoiseState = 0;
};
