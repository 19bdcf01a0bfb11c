#include "engine/ProcessingEngine.h"

#include "dsp/CharacterEq.h"
#include "dsp/LanePair.h"

#include <cmath>

namespace {

// Offsets against denormal numbers: s = s * 1664525 + 1013904223 (mod 2^32),
// read unsigned and scaled to a tiny positive value.
constexpr double kTubeNoiseScale = 1.1754943508222875e-38 * 1e16; // 2^-126 * 10^16
constexpr std::uint32_t kNoiseMultiplier = 1664525u;
constexpr std::uint32_t kNoiseIncrement = 1013904223u;

inline std::uint32_t advanceNoise(std::uint32_t& state)
{
    state = state * kNoiseMultiplier + kNoiseIncrement;
    return state;
}

// The generator's step taken n times at once: s -> multiplier s + increment.
struct NoiseJump {
    std::uint32_t multiplier;
    std::uint32_t increment;
};

constexpr NoiseJump noiseJump(int steps)
{
    NoiseJump jump{1u, 0u};
    for (int i = 0; i < steps; ++i) {
        jump.multiplier *= kNoiseMultiplier;
        jump.increment = jump.increment * kNoiseMultiplier + kNoiseIncrement;
    }
    return jump;
}

// The tube noise offsets of one stereo frame: lane 0 takes the next `count`
// values of the generator (channel 0's chain samples), lane 1 the `count`
// after them, as processCore would draw them channel after channel. Two
// copies of the generator run side by side, lane 1's started `count` steps
// ahead; afterwards the state is where 2 * count scalar draws leave it.
// count is 1 or 16.
void drawTubeNoisePairs(std::uint32_t& state, int count, LanePair* offsets)
{
    constexpr NoiseJump oneStep = noiseJump(1);
    constexpr NoiseJump sixteenSteps = noiseJump(16);
    const NoiseJump ahead = count == 16 ? sixteenSteps : oneStep;
    const std::uint32_t lane1Start = ahead.multiplier * state + ahead.increment;

    // 64-bit lanes; the multiply reads only their low 32 bits, which hold the state.
    __m128i lanes = _mm_set_epi64x(static_cast<long long>(lane1Start), static_cast<long long>(state));
    const __m128i multiplier = _mm_set1_epi64x(oneStep.multiplier);
    const __m128i increment = _mm_set1_epi64x(oneStep.increment);
    const __m128i low32 = _mm_set1_epi64x(0xffffffffLL);
    // u as a double, exactly: the bits of 2^52 + u, less 2^52.
    const __m128i exponentOf2Pow52 = _mm_set1_epi64x(0x4330000000000000LL);
    const __m128d twoPow52 = _mm_set1_pd(4503599627370496.0);
    const LanePair scale = LanePair::both(kTubeNoiseScale);
    for (int i = 0; i < count; ++i) {
        lanes = _mm_add_epi64(_mm_mul_epu32(lanes, multiplier), increment);
        const __m128i bits = _mm_or_si128(_mm_and_si128(lanes, low32), exponentOf2Pow52);
        offsets[i] = LanePair(_mm_sub_pd(_mm_castsi128_pd(bits), twoPow52)) * scale;
    }
    state = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(lanes, 8)));
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
        tubePairShaper.build(tubeStage);
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

// The stereo path. Both channels' chain samples of one host frame run side by
// side, lane 0 = channel 0 (left), lane 1 = channel 1 (right), each lane
// repeating the scalar chain's operations in the scalar order. Two things are
// shared between the channels and so cannot simply run side by side: the tube
// noise generator and the fade counter. In the scalar order channel 0's chain
// samples of the frame (1, or 16 when oversampling) take their steps first and
// channel 1's take the ones after them; the noise values are therefore drawn
// for lane 0 and then for lane 1 before the chain runs, and the fade is
// applied after it, lane 0's samples before lane 1's.

template <bool tube, bool tape>
void ProcessingEngine::runPairedChain(LanePair* samples, const LanePair* tubeNoise, int count, SampleRecord& left,
                                      SampleRecord& right)
{
    // Running state into locals for the frame, written back at its end.
    EnvelopeFollower& follower0 = inputFollowers[0];
    EnvelopeFollower& follower1 = inputFollowers[1];
    LanePair fast = LanePair::gather(follower0.fast, follower1.fast);
    LanePair slow = LanePair::gather(follower0.slow, follower1.slow);
    const LanePair fastCoeff = LanePair::gather(follower0.fastCoeff, follower1.fastCoeff);
    const LanePair slowCoeff = LanePair::gather(follower0.slowCoeff, follower1.slowCoeff);

    const int sectionCount = eqSectionCount;
    BiquadSectionPair eq[eqSlotsPerChannel];
    for (int i = 0; i < sectionCount; ++i)
        eq[i] = BiquadSectionPair::gather(eqSections[static_cast<std::size_t>(i)],
                                          eqSections[static_cast<std::size_t>(eqSlotsPerChannel + i)]);

    NodeVoltages& nodes0 = tubeStage.nodeVoltages[0];
    NodeVoltages& nodes1 = tubeStage.nodeVoltages[1];
    LanePair cathode = LanePair::gather(nodes0.cathode, nodes1.cathode);
    LanePair plate = LanePair::gather(nodes0.plate, nodes1.plate);
    TapeStagePair tapePair;
    if (tape)
        tapePair.gather(tapeStages[0], tapeStages[1]);

    // Fixed for the frame: drive changes only between blocks, so the make-up
    // gains are interpolated once here instead of per chain sample.
    const LanePair eqGain = LanePair::both(eqMakeupGain);
    const LanePair driveGain = LanePair::both(drive);
    const LanePair outputGain = LanePair::both(levelGain);
    const LanePair restOutput = LanePair::both(tubeStage.restOutput);
    const LanePair tubeGain = LanePair::both(tube ? makeupGain(tubeMakeup) : 0.0);
    const LanePair tapeGain = LanePair::both(tape ? makeupGain(tapeMakeup) : 0.0);

    // What the scope points need from the frame's last chain sample.
    LanePair tubeIn = LanePair::both(0.0), tubeOut = tubeIn, preClip = tubeIn, clipped = tubeIn;

    // The chain in five steps per sample, each feeding the next.
    auto limiterAndEqualiser = [&](LanePair x) {
        const LanePair magnitude = abs(x);
        fast = fast + (magnitude - fast) * fastCoeff;
        slow = slow + (magnitude - slow) * slowCoeff;
        const LanePair envelope = greaterOr(fast, slow);
        const LaneMask limited = envelope > LanePair::both(1.0);
        if (limited.any())
            x = select(limited, x / envelope, x);

        for (int s = 0; s < sectionCount; ++s)
            x = eq[s].process(x);
        return eqGain * x;
    };
    auto tubeStep = [&](LanePair t, int i) {
        if (tube) {
            tubeIn = t;
            const LanePair stageInput = driveGain * t + tubeNoise[i];
            const LanePair shaped = tubePairShaper.shapeSample(stageInput, cathode, plate);
            t = -(shaped - restOutput) * tubeGain;
            tubeOut = t;
        }
        return t;
    };
    struct TapeStageInput {
        LanePair input;
        LanePair lowEnd;
    };
    auto tapeLowEnd = [&](LanePair t) {
        TapeStageInput stageInput{t, t};
        if (tape)
            stageInput.lowEnd = preClip = tapePair.lowEnd(t);
        return stageInput;
    };
    auto tapeSaturation = [&](TapeStageInput stageInput) {
        LanePair t = stageInput.input;
        if (tape)
            t = clipped = tapePair.saturate(stageInput.input, stageInput.lowEnd, driveGain);
        return t;
    };
    auto tapeToneAndLevel = [&](LanePair t) {
        if (tape)
            t = tapePair.tone(t) * tapeGain;
        return outputGain * t;
    };

    // Software-pipelined: pass p runs step k for sample p - k. The steps of
    // one pass share no state, so the processor works on all five at once
    // instead of waiting out each sample's long chain of dependent
    // operations (the frame runs about a third faster than one sample after
    // the other). Each step still takes its samples in order, so every
    // result is the scalar one. Within a pass the tone step comes before the
    // saturation step: saturating sample p - 3 may redesign the tone
    // sections, which must not reach sample p - 4.
    const LanePair zero = LanePair::both(0.0);
    LanePair equalised = zero, shaped = zero, saturated = zero;
    TapeStageInput lowEnd{zero, zero};
    for (int pass = 0; pass < count + 4; ++pass) {
        const auto holdsSample = [&](int step) { return pass - step >= 0 && pass - step < count; };
        const LanePair equalisedBefore = equalised, shapedBefore = shaped, saturatedBefore = saturated;
        const TapeStageInput lowEndBefore = lowEnd;
        if (holdsSample(0))
            equalised = limiterAndEqualiser(samples[pass]);
        if (holdsSample(1))
            shaped = tubeStep(equalisedBefore, pass - 1);
        if (holdsSample(2))
            lowEnd = tapeLowEnd(shapedBefore);
        if (holdsSample(4))
            samples[pass - 4] = tapeToneAndLevel(saturatedBefore);
        if (holdsSample(3))
            saturated = tapeSaturation(lowEndBefore);
    }

    fast.scatter(follower0.fast, follower1.fast);
    slow.scatter(follower0.slow, follower1.slow);
    for (int i = 0; i < sectionCount; ++i)
        eq[i].scatterMemory(eqSections[static_cast<std::size_t>(i)],
                            eqSections[static_cast<std::size_t>(eqSlotsPerChannel + i)]);
    if (tube) {
        cathode.scatter(nodes0.cathode, nodes1.cathode);
        plate.scatter(nodes0.plate, nodes1.plate);
    }
    if (tape)
        tapePair.scatter();

    SampleRecord* records[2] = {&left, &right};
    for (int lane = 0; lane < 2; ++lane) {
        SampleRecord& record = *records[lane];
        record.tubeX = 0.0;
        record.tubeY = 0.0;
        record.tapeX = 0.0;
        record.tapeY = 0.0;
        if (tube) {
            record.tubeX = tubeIn.lane(lane) * 0.6;
            record.tubeY = tubeOut.lane(lane) * 0.6;
        }
        if (tape) {
            record.tapeY = tapeGain.lane(lane) * 0.55 * clipped.lane(lane);
            record.tapeX = preClip.lane(lane) * 0.5;
        }
    }
}

void ProcessingEngine::fadePairedOutputs(LanePair* samples, int count)
{
    if (!(fadeCounter > 0)) {
        samples[count - 1].scatter(heldOutput[0], heldOutput[1]);
        return;
    }
    // The scalar fade step, lane 0's samples first: the fade may end between
    // the two channels, or part-way through either.
    for (int lane = 0; lane < 2; ++lane) {
        double& held = heldOutput[static_cast<std::size_t>(lane)];
        for (int i = 0; i < count; ++i) {
            double out = samples[i].lane(lane);
            if (fadeCounter > 0) {
                --fadeCounter;
                const double a = fadeCounter / (oversampling * 128.0);
                out = (1.0 - a) * out + a * held;
                samples[i].setLane(lane, out);
            } else {
                held = out;
            }
        }
    }
}

void ProcessingEngine::processStereoFrame(SampleRecord& left, SampleRecord& right)
{
    left.channel = 0;
    right.channel = 1;
    if (enabled == 0) {
        left.output = left.input;
        right.output = right.input;
        return;
    }

    constexpr int maxCount = Oversampler::factor;
    const bool oversampled = !(oversampling < 1.5);
    const bool tube = saturationMode == kModeTube || saturationMode == kModeTubeThenTape;
    const bool tape = saturationMode == kModeTape || saturationMode == kModeTubeThenTape;

    // At the host rate a frame holds a single chain sample per channel, and
    // gathering the chain's state into pairs and back costs about as much as
    // pairing saves, or more (the tape stage's sections); only the tube stage
    // alone, whose table reads dominate, gains. The other host-rate frames
    // take the scalar chain, channel 0 first.
    if (!oversampled && !(tube && !tape)) {
        processCore(left);
        processCore(right);
        return;
    }

    const int count = oversampled ? maxCount : 1;
    LanePair samples[maxCount];
    if (oversampled) {
        Oversampler::upsample16Pair(upsamplers[0], upsamplers[1], LanePair::of(left.input, right.input), samples);
        // As in processSample, the records end holding their last sub-sample.
        samples[maxCount - 1].scatter(left.input, right.input);
    } else {
        samples[0] = LanePair::of(left.input, right.input);
    }

    if (tube) {
        LanePair tubeNoise[maxCount];
        drawTubeNoisePairs(tubeNoiseState, count, tubeNoise);
        if (tape)
            runPairedChain<true, true>(samples, tubeNoise, count, left, right);
        else
            runPairedChain<true, false>(samples, tubeNoise, count, left, right);
    } else {
        if (tape)
            runPairedChain<false, true>(samples, nullptr, count, left, right);
        else
            runPairedChain<false, false>(samples, nullptr, count, left, right);
    }

    fadePairedOutputs(samples, count);

    const LanePair output =
        oversampled ? Oversampler::downsample16Pair(downsamplers[0], downsamplers[1], samples) : samples[0];
    output.scatter(left.output, right.output);
}
