#include "engine/ProcessingEngine.h"

#include "dsp/LanePair.h"

#include <cmath>

namespace {

// Offsets against denormal numbers: s = s * 1664525 + 1013904223 (mod 2^32),
// read unsigned and scaled to a tiny positive value.
constexpr double kTubeNoiseScale = 1.1754943508222875e-38 * 1e16; // 2^-126 * 10^16
constexpr std::uint32_t kNoiseMultiplier = 1664525u;
constexpr std::uint32_t kNoiseIncrement = 1013904223u;

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

// The tube noise offsets of one channel's `count` chain samples.
void drawTubeNoise(std::uint32_t& state, int count, double* offsets)
{
    for (int i = 0; i < count; ++i) {
        state = state * kNoiseMultiplier + kNoiseIncrement;
        offsets[i] = static_cast<double>(state) * kTubeNoiseScale;
    }
}

// The tube noise offsets of one stereo frame: lane 0 takes the next `count`
// values of the generator (channel 0's chain samples), lane 1 the `count`
// after them, as the channels draw them one after the other. Two copies of
// the generator run side by side, lane 1's started `count` steps ahead;
// afterwards the state is where 2 * count single draws leave it. count is 1
// or 16.
void drawTubeNoise(std::uint32_t& state, int count, LanePair* offsets)
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

PreparedTriodeTables::PreparedTriodeTables(double rate, const TriodeCircuit& circuit)
    : hostRate(rate), byFactor{{TriodeTables(circuit, rate * kOversamplingFactors[0]),
                                TriodeTables(circuit, rate * kOversamplingFactors[1])}}
{
}

ProcessingEngine::ProcessingEngine()
{
    // Entry n - 1 belongs to drive n. The last entry (drive 16) lies beyond
    // the drive range but is filled by the same law.
    for (int n = 1; n <= kMakeupTableSize; ++n) {
        const double growth = std::exp(0.08 * n);
        tubeMakeup[static_cast<std::size_t>(n - 1)] = 0.0173 * (0.02 * growth + 1.0 / n);
        tapeMakeup[static_cast<std::size_t>(n - 1)] = 0.0225 * growth + 0.9 / n;
    }
    setChainRate(48000.0, 1.0, nullptr);
}

std::int32_t ProcessingEngine::fadeSteps() const
{
    return static_cast<std::int32_t>(std::lround(factor * 128.0));
}

void ProcessingEngine::setEnabled(bool on)
{
    if (on != enabledFlag) {
        enabledFlag = on;
        startFade();
    }
}

void ProcessingEngine::setMode(std::int32_t newMode)
{
    if (newMode != saturationMode) {
        saturationMode = newMode;
        startFade();
    }
}

void ProcessingEngine::setDrive(double linear)
{
    driveGain = linear;
}

void ProcessingEngine::setLevel(double linear)
{
    outputGain = linear;
}

void ProcessingEngine::setCharacter(std::int32_t index, double amountValue)
{
    character = index;
    characterAmount = amountValue;
    designEqualiser();
}

void ProcessingEngine::designEqualiser()
{
    eqDesign = designCharacterEq(character, characterAmount, hostRate * factor);
    shareFirstChannelMemory(eqDesign, channels[0].eqMemory, channels[1].eqMemory);
}

void ProcessingEngine::setChainRate(double rate, double newFactor, const PreparedTriodeTables* tables)
{
    hostRate = rate;
    factor = newFactor;
    if (tables && tables->hostRate == rate)
        triodeSet = tables;
    else if (triodeSet && triodeSet->hostRate != rate)
        triodeSet = nullptr;
    tube = triodeSet ? &triodeSet->forFactor(factor) : nullptr;

    const double chainRate = hostRate * factor;
    tape = designTapeStage(chainRate);
    for (ChannelState& state : channels) {
        state.tubeNodes.cathode = TriodeTables::restCathodeVoltage;
        state.tape.takeDesign(tape);
    }
    startFade();
    designEqualiser();
}

double ProcessingEngine::responseAt(double phi) const
{
    double gainDb = 0.0;
    for (int i = 0; i < eqDesign.eqSectionCount; ++i) {
        const BiquadCoefficients& s = eqDesign.sections[i];
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
    const int n = static_cast<int>(driveGain);
    const double fraction = driveGain - n;
    return (1.0 - fraction) * table[static_cast<std::size_t>(n - 1)] + fraction * table[static_cast<std::size_t>(n)];
}

// The chain over the `count` chain samples (1, or 16 when oversampling) of
// each of `frames` host frames, in place, lane k on the channel of
// records[k]. The channels' state is gathered into lanes once for the
// stretch and written back after it. Two things are shared between the
// channels and so cannot simply run side by side: the tube noise generator
// and the fade counter. Within a frame one channel's chain samples take
// their steps before the next channel's; the noise values are therefore
// drawn per frame and lane before the chain runs, and the fade is applied
// after it, frame by frame, lane 0's samples before lane 1's.
template <typename Lane, int count, bool tubeOn, bool tapeOn>
void ProcessingEngine::runChain(Lane* samples, const Lane* tubeNoise, SampleRecord* const* records, int frames)
{
    using L = Lanes<Lane>;
    const std::size_t first = static_cast<std::size_t>(records[0][0].channel);
    const std::size_t second = static_cast<std::size_t>(records[L::count - 1][0].channel);
    ChannelState& state0 = channels[first];
    ChannelState& state1 = channels[second];

    // Running state into locals for the stretch, written back at its end.
    EnvelopeFollower& follower0 = state0.follower;
    EnvelopeFollower& follower1 = state1.follower;
    Lane fast = L::gather(follower0.fast, follower1.fast);
    Lane slow = L::gather(follower0.slow, follower1.slow);
    const Lane fastCoeff = L::gather(follower0.fastCoeff, follower1.fastCoeff);
    const Lane slowCoeff = L::gather(follower0.slowCoeff, follower1.slowCoeff);

    const int sectionCount = eqDesign.eqSectionCount;
    BiquadLanes<Lane> eq[eqMaxActiveSections];
    for (int i = 0; i < sectionCount; ++i)
        eq[i] = BiquadLanes<Lane>::gather(eqDesign.sections[i], eqDesign.sections[i], state0.eqMemory[i],
                                          state1.eqMemory[i]);

    NodeVoltages& nodes0 = state0.tubeNodes;
    NodeVoltages& nodes1 = state1.tubeNodes;
    Lane cathode = L::gather(nodes0.cathode, nodes1.cathode);
    Lane plate = L::gather(nodes0.plate, nodes1.plate);
    TapeLanes<Lane> tapeLanes;
    if (tapeOn)
        tapeLanes.gather(tape, state0.tape, state1.tape);

    // Fixed for the stretch: drive changes only between blocks, so the
    // make-up gains are interpolated once here instead of per chain sample.
    const TriodeTables& tubeTables = *tube;
    const Lane eqGain = L::both(eqDesign.eqMakeupGain);
    const Lane driveLanes = L::both(driveGain);
    const Lane outputLanes = L::both(outputGain);
    const Lane restOutput = L::both(tubeTables.restOutput());
    const Lane tubeGain = L::both(tubeOn ? makeupGain(tubeMakeup) : 0.0);
    const Lane tapeGain = L::both(tapeOn ? makeupGain(tapeMakeup) : 0.0);

    // What the scope points need from each frame's last chain sample: every
    // chain sample writes its frame's slot, the last one stays.
    Lane tubeIn[runFrames], tubeOut[runFrames], preClip[runFrames], clipped[runFrames];

    // The chain in five steps per sample, each feeding the next.
    auto limiterAndEqualiser = [&](Lane x) {
        // Input limiter: divide by the envelope only while it exceeds full scale.
        const Lane magnitude = absolute(x);
        fast = fast + (magnitude - fast) * fastCoeff;
        slow = slow + (magnitude - slow) * slowCoeff;
        const Lane envelope = greaterOr(fast, slow);
        const auto limited = envelope > L::both(1.0);
        if (L::any(limited))
            x = select(limited, x / envelope, x);

        for (int s = 0; s < sectionCount; ++s)
            x = eq[s].process(x);
        return eqGain * x;
    };
    auto tubeStep = [&](Lane t, int i) {
        if (tubeOn) {
            tubeIn[i / count] = t;
            const Lane stageInput = driveLanes * t + tubeNoise[i];
            const Lane shaped = tubeTables.shapeSample(stageInput, cathode, plate);
            // Remove the rest output, invert the phase, bring the level back.
            t = -(shaped - restOutput) * tubeGain;
            tubeOut[i / count] = t;
        }
        return t;
    };
    struct TapeStageInput {
        Lane input;
        Lane lowEnd;
    };
    auto tapeLowEnd = [&](Lane t, int i) {
        TapeStageInput stageInput{t, t};
        if (tapeOn)
            stageInput.lowEnd = preClip[i / count] = tapeLanes.lowEnd(t);
        return stageInput;
    };
    auto tapeSaturation = [&](TapeStageInput stageInput, int i) {
        Lane t = stageInput.input;
        if (tapeOn)
            t = clipped[i / count] = tapeLanes.saturate(stageInput.input, stageInput.lowEnd, driveLanes);
        return t;
    };
    auto tapeToneAndLevel = [&](Lane t) {
        if (tapeOn)
            t = tapeLanes.tone(t) * tapeGain;
        return outputLanes * t;
    };

    // Software-pipelined: pass p runs step k for sample p - k. The steps of
    // one pass share no state, so the processor works on all five at once
    // instead of waiting out each sample's long chain of dependent
    // operations. Each step still takes its samples in order, so every
    // result is the one of running the samples one after the other. Within a
    // pass the tone step comes before the saturation step: saturating sample
    // p - 3 may redesign the tone sections, which must not reach sample p - 4.
    const int total = frames * count;
    const Lane zero = L::both(0.0);
    Lane equalised = zero, shaped = zero, saturated = zero;
    TapeStageInput lowEnd{zero, zero};
    for (int pass = 0; pass < total + 4; ++pass) {
        const auto holdsSample = [&](int step) { return pass - step >= 0 && pass - step < total; };
        const Lane equalisedBefore = equalised, shapedBefore = shaped, saturatedBefore = saturated;
        const TapeStageInput lowEndBefore = lowEnd;
        if (holdsSample(0))
            equalised = limiterAndEqualiser(samples[pass]);
        if (holdsSample(1))
            shaped = tubeStep(equalisedBefore, pass - 1);
        if (holdsSample(2))
            lowEnd = tapeLowEnd(shapedBefore, pass - 2);
        if (holdsSample(4))
            samples[pass - 4] = tapeToneAndLevel(saturatedBefore);
        if (holdsSample(3))
            saturated = tapeSaturation(lowEndBefore, pass - 3);
    }

    L::scatter(fast, follower0.fast, follower1.fast);
    L::scatter(slow, follower0.slow, follower1.slow);
    for (int i = 0; i < sectionCount; ++i)
        eq[i].scatterMemory(state0.eqMemory[i], state1.eqMemory[i]);
    if (tubeOn) {
        L::scatter(cathode, nodes0.cathode, nodes1.cathode);
        L::scatter(plate, nodes0.plate, nodes1.plate);
    }
    if (tapeOn)
        tapeLanes.scatter();

    for (int lane = 0; lane < L::count; ++lane) {
        for (int frame = 0; frame < frames; ++frame) {
            SampleRecord& record = records[lane][frame];
            record.tubeX = 0.0;
            record.tubeY = 0.0;
            record.tapeX = 0.0;
            record.tapeY = 0.0;
            if (tubeOn) {
                record.tubeX = L::lane(tubeIn[frame], lane) * 0.6;
                record.tubeY = L::lane(tubeOut[frame], lane) * 0.6;
            }
            if (tapeOn) {
                record.tapeY = L::lane(tapeGain, lane) * 0.55 * L::lane(clipped[frame], lane);
                record.tapeX = L::lane(preClip[frame], lane) * 0.5;
            }
        }
    }
}

// Switch fade: one counter for the engine, stepped by every chain sample of
// either channel, lane 0's samples first, so the fade may end between the
// two channels or part-way through either; slides from the held output to
// the new one.
template <typename Lane> void ProcessingEngine::fadeOutputs(Lane* samples, int count, int firstChannel)
{
    using L = Lanes<Lane>;
    double* held[2] = {&channels[static_cast<std::size_t>(firstChannel)].heldOutput,
                       &channels[static_cast<std::size_t>(firstChannel + L::count - 1)].heldOutput};
    if (!(fadeCounter > 0)) {
        L::scatter(samples[count - 1], *held[0], *held[1]);
        return;
    }
    for (int lane = 0; lane < L::count; ++lane) {
        for (int i = 0; i < count; ++i) {
            double out = L::lane(samples[i], lane);
            if (fadeCounter > 0) {
                --fadeCounter;
                const double a = fadeCounter / (factor * 128.0);
                out = (1.0 - a) * out + a * *held[lane];
                L::setLane(samples[i], lane, out);
            } else {
                *held[lane] = out;
            }
        }
    }
}

template <typename Lane, int count> void ProcessingEngine::processStretch(SampleRecord* const* records, int frames)
{
    using L = Lanes<Lane>;
    SampleRecord* const first = records[0];
    SampleRecord* const last = records[L::count - 1];
    ChannelState& state0 = channels[static_cast<std::size_t>(first[0].channel)];
    ChannelState& state1 = channels[static_cast<std::size_t>(last[0].channel)];
    const bool tubeOn = saturationMode == kModeTube || saturationMode == kModeTubeThenTape;
    const bool tapeOn = saturationMode == kModeTape || saturationMode == kModeTubeThenTape;

    Lane samples[runFrames * count];
    Oversampler* const upsamplers[2] = {&state0.upsampler, &state1.upsampler};
    for (int frame = 0; frame < frames; ++frame) {
        const Lane input = L::gather(first[frame].input, last[frame].input);
        if (count == 1) {
            samples[frame] = input;
        } else {
            Oversampler::upsample16(upsamplers, input, samples + frame * count);
            // The records end holding their last sub-sample.
            L::scatter(samples[frame * count + count - 1], first[frame].input, last[frame].input);
        }
    }

    if (tubeOn) {
        Lane tubeNoise[runFrames * count];
        for (int frame = 0; frame < frames; ++frame)
            drawTubeNoise(tubeNoiseState, count, tubeNoise + frame * count);
        if (tapeOn)
            runChain<Lane, count, true, true>(samples, tubeNoise, records, frames);
        else
            runChain<Lane, count, true, false>(samples, tubeNoise, records, frames);
    } else {
        if (tapeOn)
            runChain<Lane, count, false, true>(samples, nullptr, records, frames);
        else
            runChain<Lane, count, false, false>(samples, nullptr, records, frames);
    }

    for (int frame = 0; frame < frames; ++frame)
        fadeOutputs(samples + frame * count, count, first[0].channel);

    if (count == 1) {
        for (int frame = 0; frame < frames; ++frame)
            L::scatter(samples[frame], first[frame].output, last[frame].output);
        return;
    }
    int frame = 0;
    if (L::count == 1) {
        // One channel's decimator takes two host samples at a time in the
        // lanes of a pair: their sums are independent, so they overlap.
        Oversampler* const twice[2] = {&state0.downsampler, &state0.downsampler};
        for (; frame + 1 < frames; frame += 2) {
            LanePair pairs[count];
            for (int i = 0; i < count; ++i)
                pairs[i] =
                    LanePair::of(L::lane(samples[frame * count + i], 0), L::lane(samples[(frame + 1) * count + i], 0));
            Oversampler::downsample16(twice, pairs).scatter(first[frame].output, first[frame + 1].output);
        }
    }
    Oversampler* const downsamplers[2] = {&state0.downsampler, &state1.downsampler};
    for (; frame < frames; ++frame) {
        const Lane output = Oversampler::downsample16(downsamplers, samples + frame * count);
        L::scatter(output, first[frame].output, last[frame].output);
    }
}

template <typename Lane> void ProcessingEngine::processLanes(SampleRecord* const* records, int frames)
{
    using L = Lanes<Lane>;
    for (int start = 0; start < frames; start += runFrames) {
        const int stretch = frames - start < runFrames ? frames - start : runFrames;
        SampleRecord* const pieces[2] = {records[0] + start, records[L::count - 1] + start};
        if (!enabledFlag || !tube) {
            for (SampleRecord* piece : pieces)
                for (int frame = 0; frame < stretch; ++frame)
                    piece[frame].output = piece[frame].input;
        } else if (factor < 1.5) {
            processStretch<Lane, 1>(pieces, stretch);
        } else {
            processStretch<Lane, Oversampler::factor>(pieces, stretch);
        }
    }
}

void ProcessingEngine::processRun(SampleRecord* records, int frames)
{
    SampleRecord* const lanes[1] = {records};
    processLanes<double>(lanes, frames);
}

void ProcessingEngine::processStereoRun(SampleRecord* left, SampleRecord* right, int frames)
{
    for (int frame = 0; frame < frames; ++frame) {
        left[frame].channel = 0;
        right[frame].channel = 1;
    }
    SampleRecord* const lanes[2] = {left, right};
    processLanes<LanePair>(lanes, frames);
}
