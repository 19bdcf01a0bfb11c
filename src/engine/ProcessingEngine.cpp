#include "engine/ProcessingEngine.h"

#include "dsp/CharacterEq.h"

#include <cmath>

namespace {

// Offsets against denormal numbers: s = s * 1664525 + 1013904223 (mod 2^32),
// read unsigned and scaled to a tiny positive value.
constexpr double kTubeNoiseScale = 1.1754943508222875e-38 * 1e16; // 2^-126 * 10^16

inline std::uint32_t advanceNoise(std::uint32_t& state)
{
    state = state * 1664525u + 1013904223u;
    return state;
}

} // namespace

ProcessingEngine::ProcessingEngine()
{
    // Both followers, the triode stage's records, the tape stages, pass-through
    // equaliser sections and silent oversamplers come from the member defaults.
    tubeStage.thresholdShift = 0.0;
    tubeStage.resetNodes(-1);
    tubeStage.restOutput = 0.0;

    for (BiquadSection& section : eqSections)
        section = BiquadSection{};

    drive = 1.0;
    levelGain = 1.0;
    amount = 0.0;
    enabled = 0;
    saturationMode = kModeOff;
    characterIndex = 3;
    eqUpdateFlag = 1;

    TriodeCircuit& circuit = tubeStage.circuit;
    circuit.supplyVoltage = 350.0;
    circuit.cathodeCapacitance = 2.2e-6;
    circuit.cathodeResistance = 1000.0;
    circuit.stopperResistance = 10000.0;
    circuit.loadResistance = 4000000.0;
    circuit.sourceResistance = 200000.0;

    heldOutput = {0.0, 0.0};
    fadeCounter = 0;

    // Entry n - 1 belongs to drive n. The last entry (drive 16) lies beyond
    // the drive range but is filled by the same law.
    for (int n = 1; n <= kMakeupTableSize; ++n) {
        const double growth = std::exp(0.08 * n);
        tubeMakeup[static_cast<std::size_t>(n - 1)] = 0.0173 * (0.02 * growth + 1.0 / n);
        tapeMakeup[static_cast<std::size_t>(n - 1)] = 0.0225 * growth + 0.9 / n;
    }

    sampleRate = 48000.0;
    oversampling = 1.0;
    eqUpdateFlag = 1;
    updateCoefficients(true);
}

std::int32_t ProcessingEngine::fadeSteps() const
{
    return static_cast<std::int32_t>(std::lround(oversampling * 128.0));
}

void ProcessingEngine::updateCoefficients(bool rateChanged)
{
    const double chainRate = sampleRate * oversampling;
    if (rateChanged) {
        tubeStage.stageRate = chainRate;
        tubeStage.rebuildTables();
        tubeStage.restCathodes();
        for (TapeStage& stage : tapeStages)
            stage.setStageRate(chainRate);
        fadeCounter = fadeSteps();
    }
    if (eqUpdateFlag)
        applyCharacterEq(designCharacterEq(characterIndex, amount, chainRate), eqSections.data(), eqSectionCount,
                         eqMakeupGain);
}

double ProcessingEngine::responseAt(double phi) const
{
    double gainDb = 0.0;
    for (int i = 0; i < eqSectionCount; ++i) {
        const BiquadSection& s = eqSections[static_cast<std::size_t>(i)];
        const double sumB = s.b0 + s.b1 + s.b2;
        const double sumA = 1.0 + s.a1 + s.a2;
        const double numerator = sumB * sumB + phi * (s.b0 * s.b2 * phi - (s.b1 * (s.b0 + s.b2) + 4.0 * s.b0 * s.b2));
        const double denominator = sumA * sumA + phi * (s.a2 * phi - (s.a1 * (1.0 + s.a2) + 4.0 * s.a2));
        gainDb += 10.0 * (std::log10(numerator) - std::log10(denominator));
    }
    return gainDb;
}

double ProcessingEngine::makeupGain(const std::array<double, kMakeupTableSize>& table) const
{
    // Linear interpolation between the entries for drive n and n + 1.
    const int n = static_cast<int>(drive);
    const double fraction = drive - n;
    return (1.0 - fraction) * table[static_cast<std::size_t>(n - 1)] + fraction * table[static_cast<std::size_t>(n)];
}

void ProcessingEngine::processCore(SampleRecord& record)
{
    const std::size_t k = static_cast<std::size_t>(record.channel);
    double x = record.input;

    // Input limiter: divide by the envelope only while it exceeds full scale.
    EnvelopeFollower& follower = inputFollowers[k];
    const double magnitude = std::fabs(x);
    follower.fast = follower.fast + (magnitude - follower.fast) * follower.fastCoeff;
    follower.slow = follower.slow + (magnitude - follower.slow) * follower.slowCoeff;
    const double envelope = follower.fast > follower.slow ? follower.fast : follower.slow;
    if (envelope > 1.0)
        x = x / envelope;

    for (std::int32_t i = 0; i < eqSectionCount; ++i)
        x = eqSections[3 * k + static_cast<std::size_t>(i)].process(x);

    double t = eqMakeupGain * x;
    record.tubeX = 0.0;
    record.tubeY = 0.0;
    record.tapeX = 0.0;
    record.tapeY = 0.0;

    if (saturationMode == kModeTube || saturationMode == kModeTubeThenTape) {
        record.tubeX = t * 0.6;
        const double offset = static_cast<double>(advanceNoise(tubeNoiseState)) * kTubeNoiseScale;
        const double stageInput = drive * t + offset;
        const double plate = tubeStage.shapeSample(stageInput, tubeStage.nodeVoltages[k]);
        // Remove the rest output, invert the phase, bring the level back.
        t = -(plate - tubeStage.restOutput) * makeupGain(tubeMakeup);
        record.tubeY = t * 0.6;
    }
    if (saturationMode == kModeTape || saturationMode == kModeTubeThenTape) {
        double preClip = 0.0;
        double clipped = 0.0;
        const double y = tapeStages[k].processTapeSample(t, drive, &preClip, &clipped);
        const double gain = makeupGain(tapeMakeup);
        record.tapeY = gain * 0.55 * clipped;
        record.tapeX = preClip * 0.5;
        t = y * gain;
    }

    const double out = levelGain * t;

    // Switch fade: one counter for the engine, stepped by every chain sample
    // of either channel; slides from the held output to the new one.
    if (fadeCounter > 0) {
        --fadeCounter;
        const double a = fadeCounter / (oversampling * 128.0);
        record.output = (1.0 - a) * out + a * heldOutput[k];
    } else {
        record.output = out;
        heldOutput[k] = out;
    }
}

void ProcessingEngine::processSample(SampleRecord& record)
{
    if (enabled == 0) {
        record.output = record.input;
        return;
    }
    if (oversampling < 1.5) {
        processCore(record);
        return;
    }
    const std::size_t k = static_cast<std::size_t>(record.channel);
    double subSamples[16];
    upsamplers[k].upsample16(record.input, subSamples);
    for (double& subSample : subSamples) {
        record.input = subSample;
        processCore(record);
        subSample = record.output;
    }
    record.output = downsamplers[k].downsample16(subSamples);
}
