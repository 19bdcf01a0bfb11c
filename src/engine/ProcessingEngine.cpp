#include "engine/ProcessingEngine.h"

#include "dsp/LanePair.h"
#include "engine/ChainSteps.h"

#include <cmath>
#include <type_traits>

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

// The chain over the chain samples of `frames` host frames (subSamples per
// frame: 1, or 16 when oversampling), in place, lane k on the channel of
// records[k]:
//
//   limiter -> equaliser -> triode -> tape (low end, clipper, tone) -> level
//
// with the triode and the tape stage in the path as the mode says. Each step
// holds the running state it moves in lanes for the chunk. The tube noise
// values come drawn per frame and lane; the fade and the downsampling follow
// in processChunk.
//
// The loop is software-pipelined: pass p runs step k for sample p - k. The
// steps of one pass share no state, so the processor works on all five at
// once instead of waiting out each sample's long chain of dependent
// operations. Each step still takes its samples in order, so every result is
// the one of running the samples one after the other. Within a pass the tone
// step comes before the clipper step: clipping sample p - 3 may redesign the
// tone sections, which must not reach sample p - 4.
template <typename Lane, int subSamples, bool tubeOn, bool tapeOn>
void ProcessingEngine::runChain(Lane* samples, const Lane* tubeNoise, SampleRecord* const* records, int frames)
{
    using L = Lanes<Lane>;
    ChannelState& state0 = channels[static_cast<std::size_t>(records[0][0].channel)];
    ChannelState& state1 = channels[static_cast<std::size_t>(records[L::count - 1][0].channel)];

    // Drive changes only between blocks, so the make-up gains are
    // interpolated once here instead of per chain sample.
    LimiterStep<Lane> limiter(state0.follower, state1.follower);
    EqualiserStep<Lane> equaliser(eqDesign, state0.eqMemory, state1.eqMemory);
    TriodeStep<Lane> triode;
    if (tubeOn)
        triode.gather(*tube, state0.tubeNodes, state1.tubeNodes, driveGain, makeupGain(tubeMakeup));
    TapeStep<Lane> tapeStep;
    const double tapeGain = tapeOn ? makeupGain(tapeMakeup) : 0.0;
    if (tapeOn)
        tapeStep.gather(tape, state0.tape, state1.tape, driveGain, tapeGain);
    const Lane level = L::both(outputGain);
    ScopeValues<Lane, chunkFrames> scope;

    const int total = frames * subSamples;
    const Lane zero = L::both(0.0);
    Lane equalised = zero, shaped = zero, lowEnd = zero, lowEndInput = zero, clipped = zero;
    // One pass. everyStepHolds: true in the passes where each step has a
    // sample, all but the four that fill the pipeline and the four that drain
    // it. Always inlined: a pass called out of line would keep the chain's
    // state in memory instead of registers.
    const auto runPass = [&](int pass, auto everyStepHolds) __attribute__((always_inline))
    {
        const auto holds = [&](int step) { return everyStepHolds || (pass - step >= 0 && pass - step < total); };
        const auto frameOf = [&](int step) { return (pass - step) / subSamples; };
        const Lane equalisedBefore = equalised, shapedBefore = shaped, clippedBefore = clipped;
        const Lane lowEndBefore = lowEnd, lowEndInputBefore = lowEndInput;
        if (holds(0))
            equalised = equaliser.process(limiter.process(samples[pass]));
        if (holds(1)) {
            shaped = equalisedBefore;
            if (tubeOn) {
                scope.tubeIn[frameOf(1)] = equalisedBefore;
                shaped = scope.tubeOut[frameOf(1)] = triode.process(equalisedBefore, tubeNoise[pass - 1]);
            }
        }
        if (holds(2)) {
            lowEndInput = lowEnd = shapedBefore;
            if (tapeOn)
                lowEnd = scope.preClip[frameOf(2)] = tapeStep.lowEnd(shapedBefore);
        }
        if (holds(4))
            samples[pass - 4] = levelStep(tapeOn ? tapeStep.tone(clippedBefore) : clippedBefore, level);
        if (holds(3)) {
            clipped = lowEndInputBefore;
            if (tapeOn)
                clipped = scope.clipped[frameOf(3)] = tapeStep.saturate(lowEndInputBefore, lowEndBefore);
        }
    };
    constexpr int depth = 4;
    if constexpr (subSamples == 1) {
        // Sixteen samples a chunk: the checks cost little, and one loop keeps
        // the code small.
        for (int pass = 0; pass < total + depth; ++pass)
            runPass(pass, std::false_type{});
    } else {
        for (int pass = 0; pass < depth; ++pass)
            runPass(pass, std::false_type{});
        for (int pass = depth; pass < total; ++pass)
            runPass(pass, std::true_type{});
        for (int pass = total; pass < total + depth; ++pass)
            runPass(pass, std::false_type{});
    }

    limiter.scatter(state0.follower, state1.follower);
    equaliser.scatter(state0.eqMemory, state1.eqMemory);
    if (tubeOn)
        triode.scatter(state0.tubeNodes, state1.tubeNodes);
    if (tapeOn)
        tapeStep.scatter();
    scope.write(records, frames, tubeOn, tapeOn, tapeGain);
}

// One chunk of host frames through the chain: in (and up to 16x), tube noise,
// the chain, the switch fade, (down to the host rate and) out. Two things are
// shared between the channels and so cannot simply run side by side: the
// tube noise generator and the fade counter. Within a frame one channel's
// chain samples take their steps before the next channel's; the noise values
// are therefore drawn per frame and lane before the chain runs, and the fade
// is applied after it, frame by frame, lane 0's samples before lane 1's.
template <typename Lane, int subSamples> void ProcessingEngine::processChunk(SampleRecord* const* records, int frames)
{
    using L = Lanes<Lane>;
    SampleRecord* const first = records[0];
    SampleRecord* const last = records[L::count - 1];
    ChannelState& state0 = channels[static_cast<std::size_t>(first[0].channel)];
    ChannelState& state1 = channels[static_cast<std::size_t>(last[0].channel)];
    const bool tubeOn = saturationMode == kModeTube || saturationMode == kModeTubeThenTape;
    const bool tapeOn = saturationMode == kModeTape || saturationMode == kModeTubeThenTape;

    Lane samples[chunkFrames * subSamples];
    Oversampler* const upsamplers[2] = {&state0.upsampler, &state1.upsampler};
    for (int frame = 0; frame < frames; ++frame) {
        const Lane input = L::gather(first[frame].input, last[frame].input);
        if (subSamples == 1) {
            samples[frame] = input;
        } else {
            Oversampler::upsample16(upsamplers, input, samples + frame * subSamples);
            // The records end holding their last sub-sample.
            L::scatter(samples[frame * subSamples + subSamples - 1], first[frame].input, last[frame].input);
        }
    }

    if (tubeOn) {
        Lane tubeNoise[chunkFrames * subSamples];
        for (int frame = 0; frame < frames; ++frame)
            drawTubeNoise(tubeNoiseState, subSamples, tubeNoise + frame * subSamples);
        if (tapeOn)
            runChain<Lane, subSamples, true, true>(samples, tubeNoise, records, frames);
        else
            runChain<Lane, subSamples, true, false>(samples, tubeNoise, records, frames);
    } else {
        if (tapeOn)
            runChain<Lane, subSamples, false, true>(samples, nullptr, records, frames);
        else
            runChain<Lane, subSamples, false, false>(samples, nullptr, records, frames);
    }

    const double fadeLength = factor * 128.0;
    for (int frame = 0; frame < frames; ++frame)
        fadeStep(samples + frame * subSamples, subSamples, fadeCounter, fadeLength, state0.heldOutput,
                 state1.heldOutput);

    if (subSamples == 1) {
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
            LanePair pairs[subSamples];
            for (int i = 0; i < subSamples; ++i)
                pairs[i] = LanePair::of(L::lane(samples[frame * subSamples + i], 0),
                                        L::lane(samples[(frame + 1) * subSamples + i], 0));
            Oversampler::downsample16(twice, pairs).scatter(first[frame].output, first[frame + 1].output);
        }
    }
    Oversampler* const downsamplers[2] = {&state0.downsampler, &state1.downsampler};
    for (; frame < frames; ++frame) {
        const Lane output = Oversampler::downsample16(downsamplers, samples + frame * subSamples);
        L::scatter(output, first[frame].output, last[frame].output);
    }
}

// A run, chunk by chunk: bypassed (also while the chain's rate has no triode
// tables), at the host rate, or oversampled.
template <typename Lane> void ProcessingEngine::processLanes(SampleRecord* const* records, int frames)
{
    using L = Lanes<Lane>;
    for (int start = 0; start < frames; start += chunkFrames) {
        const int chunk = frames - start < chunkFrames ? frames - start : chunkFrames;
        SampleRecord* const pieces[2] = {records[0] + start, records[L::count - 1] + start};
        if (!enabledFlag || !tube) {
            for (SampleRecord* piece : pieces)
                for (int frame = 0; frame < chunk; ++frame)
                    piece[frame].output = piece[frame].input;
        } else if (factor < 1.5) {
            processChunk<Lane, 1>(pieces, chunk);
        } else {
            processChunk<Lane, Oversampler::factor>(pieces, chunk);
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
