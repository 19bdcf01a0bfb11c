// The tape saturation stage: low-end shaping, a rational soft clipper, and a
// treble roll-off whose peak and shelf follow the driven level (redesigned
// every 5 ms of stage time).
//
// What depends on the stage rate alone is one design value shared by every
// channel (designTapeStage); each channel's TapeStage holds only its running
// state, including the tone sections last designed from its own envelope.
#pragma once

#include "dsp/BiquadSection.h"
#include "dsp/LanePair.h"

// The clipper on one lane or two: identity between the knees, rational
// tails towards ±1 beyond them. The input is scaled into the curve and back
// out.
template <typename Lane> struct TapeClipper {
    Lane inputGain, bias, outputGain;
    Lane kneeLow, kneeHigh;
    // Derived from the knees so that each tail meets the identity with slope 1.
    Lane kneeLowSquare, kneeLowSum, kneeHighSquare, kneeHighSum;

    // The curve on q, already scaled by drive and the input gain.
    Lane curve(Lane q) const;
    // Scaling, curve and output gain.
    Lane clip(Lane x, Lane drive) const { return curve(x * drive * inputGain + bias) * outputGain; }
};

// The stage's clipper: knees at ±0.25, input gain 0.17 and its inverse out.
constexpr TapeClipper<double> makeTapeClipper()
{
    constexpr double low = -0.25, high = 0.25, gain = 0.17;
    return {gain, 0.0, 1.0 / gain, low, high, low * low, 2.0 * low + 1.0, high * high, 1.0 - 2.0 * high};
}

// The stage at one stage rate (host rate times oversampling factor).
struct TapeDesign {
    double stageRate = 0.0;       // Hz
    BiquadCoefficients lowEnd[3]; // before the clipper: 19 Hz high-pass, 55 Hz dip, 59 Hz bump
    BiquadCoefficients topCut;    // first after the clipper: the 20 kHz low-pass
    double redesignPeriod = 0.0;  // samples in 5 ms, fractional
    double attackCoeff = 0.0;     // envelope, per sample, 0.1 ms time constant
    double releaseCoeff = 0.0;    // envelope, per sample, 20 ms time constant
    TapeClipper<double> clipper = makeTapeClipper();
};

// The two level-dependent sections after the low-pass.
struct TapeTone {
    BiquadCoefficients peak;  // 3350 Hz
    BiquadCoefficients shelf; // 7000 Hz
};

// Pure; call the maths library, so they belong in coefficient updates (the
// tone design also runs every 5 ms of stage time). No allocation.
TapeDesign designTapeStage(double stageRate);
// `envelope` is limited to 6; louder passages pull the shelf down.
TapeTone designTapeTone(double envelope, double stageRate);

// One channel's running state.
struct TapeState {
    BiquadMemory lowEnd[3];
    BiquadMemory post[3];         // low-pass, peak, shelf
    TapeTone tone;                // last designed from this channel's envelope
    double envelope = 0.0;        // smoothed |x|·drive
    double redesignCounter = 0.0; // samples since the last tone redesign
};

template <typename Lane> inline Lane TapeClipper<Lane>::curve(Lane q) const
{
    // One division serves all three pieces (q / 1 between the knees is exact),
    // so the pieces differ only in the operands chosen, not in the code run.
    const auto below = q < kneeLow;
    const auto above = q > kneeHigh;
    const Lane numerator = select(below, q + kneeLowSquare, select(above, q - kneeHighSquare, q));
    const Lane denominator = select(below, kneeLowSum - q, select(above, q + kneeHighSum, Lanes<Lane>::both(1.0)));
    return numerator / denominator;
}

class TapeStage {
public:
    // Silent memory and envelope, the tone designed for silence at 44100 Hz.
    TapeStage();

    // Moves to a new design (a rate change): clears the memory of the fixed
    // sections and designs the tone from the envelope at the new rate; the
    // tone sections' memory, the envelope and the redesign clock carry on.
    // Coefficient-update time (maths library calls).
    void takeDesign(const TapeDesign& design);

    // One sample at the design's rate. `drive` is the engine's linear drive
    // (1 to 10). If given, *preClip receives the filtered input ahead of the
    // clipper and *clipped the clipper's output. Realtime safe; every
    // redesignPeriod samples it designs the tone sections. The engine runs
    // the same steps through TapeLanes.
    double processTapeSample(const TapeDesign& design, double x, double drive, double* preClip, double* clipped);

    const TapeState& state() const { return running; }

private:
    template <typename Lane> friend class TapeLanes;
    TapeState running;
};

// The tape stages of one channel (Lane double) or two (LanePair), lane k on
// stage k, for a stretch of samples. gather() takes the design and the
// stages' running state into lanes before it, scatter() writes the running
// state back after it. The level-dependent redesign stays per stage: a lane
// whose counter is due designs its own tone from its own envelope. Audio
// thread; no allocation.
template <typename Lane> class TapeLanes {
public:
    using Mask = decltype(Lane() < Lane());

    void gather(const TapeDesign& design, TapeStage& lane0, TapeStage& lane1);
    void scatter() const;

    // processTapeSample in three steps so that a caller can overlap
    // consecutive samples: for an input x,
    //   shaped = lowEnd(x); clipped = saturate(x, shaped, drive); y = tone(clipped),
    // where shaped and clipped are the display's two values. Each step takes
    // the samples in order, and tone() of a sample must run before
    // saturate() of the next, which may redesign the tone sections.

    // The low-end sections ahead of the clipper.
    Lane lowEnd(Lane x) { return lowEndFilters[2].process(lowEndFilters[1].process(lowEndFilters[0].process(x))); }
    // The envelope (of the stage's input x), the redesign clock, and the
    // clipper on the low-end sections' output.
    Lane saturate(Lane x, Lane shaped, Lane drive);
    // The low-pass and the tone sections after the clipper.
    Lane tone(Lane clipped) { return postFilters[2].process(postFilters[1].process(postFilters[0].process(clipped))); }

private:
    void redesignLanes(Mask due);

    TapeStage* stages[2] = {nullptr, nullptr};
    double stageRate = 0.0;
    BiquadLanes<Lane> lowEndFilters[3];
    BiquadLanes<Lane> postFilters[3];
    Lane envelope, redesignCounter, redesignPeriod, attackCoeff, releaseCoeff;
    TapeClipper<Lane> clipper;
};

template <typename Lane>
inline void TapeLanes<Lane>::gather(const TapeDesign& design, TapeStage& lane0, TapeStage& lane1)
{
    using L = Lanes<Lane>;
    stages[0] = &lane0;
    stages[1] = &lane1;
    stageRate = design.stageRate;
    TapeState& s0 = lane0.running;
    TapeState& s1 = lane1.running;
    for (int i = 0; i < 3; ++i)
        lowEndFilters[i] = BiquadLanes<Lane>::gather(design.lowEnd[i], design.lowEnd[i], s0.lowEnd[i], s1.lowEnd[i]);
    postFilters[0] = BiquadLanes<Lane>::gather(design.topCut, design.topCut, s0.post[0], s1.post[0]);
    postFilters[1] = BiquadLanes<Lane>::gather(s0.tone.peak, s1.tone.peak, s0.post[1], s1.post[1]);
    postFilters[2] = BiquadLanes<Lane>::gather(s0.tone.shelf, s1.tone.shelf, s0.post[2], s1.post[2]);
    envelope = L::gather(s0.envelope, s1.envelope);
    redesignCounter = L::gather(s0.redesignCounter, s1.redesignCounter);
    redesignPeriod = L::both(design.redesignPeriod);
    attackCoeff = L::both(design.attackCoeff);
    releaseCoeff = L::both(design.releaseCoeff);
    const TapeClipper<double>& c = design.clipper;
    clipper = {L::both(c.inputGain),  L::both(c.bias),           L::both(c.outputGain),
               L::both(c.kneeLow),    L::both(c.kneeHigh),       L::both(c.kneeLowSquare),
               L::both(c.kneeLowSum), L::both(c.kneeHighSquare), L::both(c.kneeHighSum)};
}

template <typename Lane> inline void TapeLanes<Lane>::scatter() const
{
    TapeState& s0 = stages[0]->running;
    TapeState& s1 = stages[1]->running;
    for (int i = 0; i < 3; ++i) {
        lowEndFilters[i].scatterMemory(s0.lowEnd[i], s1.lowEnd[i]);
        postFilters[i].scatterMemory(s0.post[i], s1.post[i]);
    }
    Lanes<Lane>::scatter(envelope, s0.envelope, s1.envelope);
    Lanes<Lane>::scatter(redesignCounter, s0.redesignCounter, s1.redesignCounter);
}

template <typename Lane> inline void TapeLanes<Lane>::redesignLanes(Mask due)
{
    using L = Lanes<Lane>;
    for (int lane = 0; lane < L::count; ++lane) {
        if (!L::lane(due, lane))
            continue;
        TapeState& state = stages[lane]->running;
        state.tone = designTapeTone(L::lane(envelope, lane), stageRate);
        postFilters[1].setLaneCoefficients(lane, state.tone.peak);
        postFilters[2].setLaneCoefficients(lane, state.tone.shelf);
    }
}

template <typename Lane> inline Lane TapeLanes<Lane>::saturate(Lane x, Lane shaped, Lane drive)
{
    using L = Lanes<Lane>;
    // The envelope hears the raw input; the clipper hears the low-end-shaped one.
    const Lane level = absolute(x) * drive;
    const Lane follow = select(level >= envelope, attackCoeff, releaseCoeff);
    envelope = envelope + (level - envelope) * follow;

    // Redesign before this sample's tone sections run, with the envelope just
    // updated. The counters of two lanes need not agree (a mono stretch
    // advances lane 0 only), so each lane redesigns on its own schedule. The
    // low-end sections do not depend on the envelope or the redesign, so
    // having run them first changes nothing.
    redesignCounter = redesignCounter + L::both(1.0);
    const Lane overshoot = redesignCounter - redesignPeriod;
    const Mask due = overshoot >= L::both(0.0);
    if (L::any(due)) {
        redesignCounter = select(due, overshoot, redesignCounter);
        redesignLanes(due);
    }

    return clipper.clip(shaped, drive);
}

inline double TapeStage::processTapeSample(const TapeDesign& design, double x, double drive, double* preClip,
                                           double* clipped)
{
    TapeLanes<double> lanes;
    lanes.gather(design, *this, *this);
    const double shaped = lanes.lowEnd(x);
    const double saturated = lanes.saturate(x, shaped, drive);
    const double y = lanes.tone(saturated);
    lanes.scatter();
    if (preClip)
        *preClip = shaped;
    if (clipped)
        *clipped = saturated;
    return y;
}
