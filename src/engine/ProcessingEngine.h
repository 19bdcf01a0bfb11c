// The per-instance signal chain: input limiter, character equaliser, triode
// and tape saturation with make-up gains, output level and switch fade, at the
// host rate or at sixteen times it.
//
// The chain is written once, over the lane type: a double carries one
// channel (the mono and single layouts), a LanePair the two channels of a
// stereo frame side by side, each lane giving bit for bit what the double
// gives for its channel.
//
// Words for frames: a run is the consecutive host frames a caller hands in
// one call (any length); the engine takes a run in chunks of at most
// chunkFrames frames, through which the chain's state stays in registers.
//
// The triode tables are built on the host's thread and handed in by pointer
// (PreparedTriodeTables), so the audio thread only switches between ready
// ones. Every operation here runs on the audio thread (construction aside)
// and none allocates, locks, throws or solves the circuit.
#pragma once

#include "dsp/CharacterEq.h"
#include "dsp/TapeStage.h"
#include "dsp/TriodeStage.h"
#include "engine/ChannelState.h"
#include "engine/SampleRecord.h"

#include <array>
#include <cstdint>

enum SaturationMode : std::int32_t { kModeOff = 0, kModeTube = 1, kModeTape = 2, kModeTubeThenTape = 3 };

constexpr int kMakeupTableSize = 16; // entry k belongs to drive k + 1
constexpr int kEngineChannels = 2;
constexpr int kOversamplingFactors[] = {1, 16};

// The triode tables for both oversampling factors at one host rate, built
// on the host's thread and then only read. The engine reads the set it was
// handed through a pointer, without a lock: whoever hands it a set keeps
// that set alive and unchanged until the engine has been handed another.
// About 124 kB.
struct PreparedTriodeTables {
    // Solves both sets for hostRate (Hz): thousands of circuit solves, a few
    // milliseconds; host thread. No allocation.
    explicit PreparedTriodeTables(double hostRate, const TriodeCircuit& circuit = TriodeCircuit{});

    const TriodeTables& forFactor(double factor) const { return byFactor[factor < 1.5 ? 0 : 1]; }

    const double hostRate;
    const std::array<TriodeTables, 2> byFactor; // factor 1, factor 16
};

class ProcessingEngine {
public:
    // Ends with a complete design for 48000 Hz without oversampling, "Flat"
    // shape, bypassed, and no triode tables yet (see setChainRate).
    ProcessingEngine();

    // A run of host samples of the channel records[0].channel, one record
    // each: bypass, the chain at the host rate, or 16 sub-samples per host
    // sample through the oversamplers and the chain. Leaves each result and
    // scope points in its record. Equal to the same records one call each.
    void processRun(SampleRecord* records, int frames);

    // A run of stereo host frames: left[i] through channel 0, right[i]
    // through channel 1, side by side. Equal bit for bit to processRun on
    // left[i] followed by right[i] for each frame in turn, including the
    // order in which the two channels take the shared tube noise and fade
    // steps. Sets the records' channel fields to 0 and 1.
    void processStereoRun(SampleRecord* left, SampleRecord* right, int frames);

    // One sample, and one stereo frame.
    void processSample(SampleRecord& record) { processRun(&record, 1); }
    void processStereoFrame(SampleRecord& left, SampleRecord& right) { processStereoRun(&left, &right, 1); }

    // Settings, between blocks. Turning the chain on and changing the mode
    // start a switch fade from the held outputs to the new chain's; turning
    // it off bypasses at once (the counter rests until it is on again).
    void setEnabled(bool on);
    void setMode(std::int32_t mode);
    void setDrive(double linear); // 1 to 10
    void setLevel(double linear);
    // Redesigns the equaliser for the shape (0..5) at amount (0 to 1).
    void setCharacter(std::int32_t index, double amountValue);
    // Moves the chain to hostRate (Hz) times factor (1 or 16): triode tables,
    // tape stages and equaliser, cathodes at rest and a switch fade. The
    // triode tables are taken by pointer from `tables` when that set holds
    // hostRate, else kept from the set the engine has when that one does.
    // With neither, nothing is solved here: the chain runs bypassed until a
    // call hands a set for its rate (needsTriodeTables). Never copies tables.
    void setChainRate(double hostRate, double factor, const PreparedTriodeTables* tables);
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
    // The set the engine reads and the tables of its factor; null until a
    // set for the chain's rate was handed in.
    const PreparedTriodeTables* triodeTables() const { return triodeSet; }
    const TriodeTables* tubeDesign() const { return tube; }
    bool needsTriodeTables() const { return tube == nullptr; }
    const ChannelState& channel(int k) const { return channels[static_cast<std::size_t>(k)]; }
    std::int32_t fadeRemaining() const { return fadeCounter; }
    std::uint32_t noiseState() const { return tubeNoiseState; }
    const CharacterEqDesign& equaliserDesign() const { return eqDesign; }
    const TapeDesign& tapeDesign() const { return tape; }

private:
    static constexpr int chunkFrames = 16;

    template <typename Lane> void processLanes(SampleRecord* const* records, int frames);
    template <typename Lane, int subSamples> void processChunk(SampleRecord* const* records, int frames);
    template <typename Lane, int subSamples, bool tubeOn, bool tapeOn>
    void runChain(Lane* samples, const Lane* tubeNoise, SampleRecord* const* records, int frames);
    double makeupGain(const std::array<double, kMakeupTableSize>& table) const;
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
    const PreparedTriodeTables* triodeSet = nullptr;
    const TriodeTables* tube = nullptr;
    CharacterEqDesign eqDesign;
    TapeDesign tape;
    std::array<double, kMakeupTableSize> tubeMakeup{};
    std::array<double, kMakeupTableSize> tapeMakeup{};

    // Running state.
    std::array<ChannelState, kEngineChannels> channels{};
    std::int32_t fadeCounter = 0;
    // The tube stage's anti-denormal noise; one state per engine.
    std::uint32_t tubeNoiseState = 0;
};
