// The per-instance signal chain: input limiter, character equaliser, triode
// and tape saturation with make-up gains, output level and switch fade, at the
// host rate or at sixteen times it.
//
// Every operation runs on the audio thread (construction excepted) and none
// allocates, locks or throws.
#pragma once

#include "dsp/BiquadSection.h"
#include "dsp/TapeStage.h"
#include "dsp/TriodeStage.h"
#include "engine/Oversampler.h"
#include "engine/SampleRecord.h"
#include "engine/TriodePairShaper.h"

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

class ProcessingEngine {
public:
    // Ends with a complete design for 48000 Hz without oversampling, "Flat" shape.
    ProcessingEngine();

    // One sample of one channel: bypass, the chain at the host rate, or 16
    // sub-samples through the oversamplers and the chain. Leaves the result and
    // the scope points in the record.
    void processSample(SampleRecord& record);

    // One stereo host frame: left through channel 0, right through channel 1,
    // both chains computed side by side in SIMD lanes. Equal bit for bit to
    // processSample(left) followed by processSample(right), including the
    // order in which the two channels take the shared tube noise and fade
    // steps. Sets the records' channel fields to 0 and 1.
    void processStereoFrame(SampleRecord& left, SampleRecord& right);

    // Redesigns the equaliser; with rateChanged also moves the triode tables
    // and tape stages to the chain rate and starts a switch fade.
    void updateCoefficients(bool rateChanged);

    // The equaliser's gain in dB at phi = 4 sin^2(pi f / R), make-up excluded.
    double responseAt(double phi) const;

    // The fade length for the current factor: 128 chain samples per host-rate step.
    std::int32_t fadeSteps() const;

    // Parameter-driven fields, written by the processing entry between blocks.
    double drive = 1.0;     // linear, 1 to 15.9
    double levelGain = 1.0; // linear
    double amount = 0.0;    // 0 to 1
    std::uint8_t eqUpdateFlag = 1;
    std::int32_t enabled = 0;
    std::int32_t saturationMode = kModeOff;
    std::int32_t characterIndex = 3; // "Flat"

    std::array<EnvelopeFollower, kEngineChannels> inputFollowers{};
    TriodeStage tubeStage;
    std::array<TapeStage, kEngineChannels> tapeStages{};
    std::array<double, kMakeupTableSize> tubeMakeup{};
    std::array<double, kMakeupTableSize> tapeMakeup{};
    std::array<double, kEngineChannels> heldOutput{};
    std::int32_t fadeCounter = 0;
    std::array<BiquadSection, 3 * kEngineChannels> eqSections{}; // channel k: 3k .. 3k + 2
    std::int32_t eqSectionCount = 0;
    double eqMakeupGain = 1.0;
    double sampleRate = 48000.0; // host rate, Hz
    double oversampling = 1.0;   // 1 or 16
    std::array<Oversampler, kEngineChannels> upsamplers{};
    std::array<Oversampler, kEngineChannels> downsamplers{};
    // The tube stage's anti-denormal noise; one state per engine.
    std::uint32_t tubeNoiseState = 0;
    // The tube stage's tables repacked for the stereo path; rebuilt with them.
    TriodePairShaper tubePairShaper;

    // One sample at the chain rate.
    void processCore(SampleRecord& record);

private:
    // The stereo frame's chain on sample pairs (lane k = channel k), in place,
    // and the switch fade over its results.
    template <bool tube, bool tape>
    void runPairedChain(LanePair* samples, const LanePair* tubeNoise, int count, SampleRecord& left,
                        SampleRecord& right);
    void fadePairedOutputs(LanePair* samples, int count);

    double makeupGain(const std::array<double, kMakeupTableSize>& table) const;
};
