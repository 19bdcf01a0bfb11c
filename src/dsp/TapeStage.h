#pragma once

#include "dsp/BiquadSection.h"
#include "dsp/LanePair.h"

// The tape saturation stage of one channel: low-end shaping, a rational soft
// clipper, and a treble roll-off whose peak and shelf follow the driven level
// (redesigned every 5 ms of stage time). Plain data driven by the engine on
// the audio thread; nothing here allocates or locks.
class TapeStage {
public:
    // Builds a stage running at 44100 Hz with silent memory and envelope.
    TapeStage();

    // Moves the stage to `rate` Hz (host rate times oversampling factor):
    // sets stageRate, attackCoeff, releaseCoeff and redesignPeriod, then runs
    // designFixedFilters and designToneFilters. Clears the memory of the fixed
    // sections only. Coefficient-update time (maths library calls).
    void setStageRate(double rate);

    // Designs the 20 kHz low-pass and the three low-end sections for
    // stageRate and clears their memory.
    void designFixedFilters();

    // Designs the 3350 Hz peak and the 7000 Hz shelf from the envelope
    // (limited to 6); their memory carries on.
    void designToneFilters();

    // The clipper curve on its own (input already scaled by drive and
    // clipInputGain): identity between the knees, rational tails towards ±1.
    double softClip(double q) const;

    // One sample at stageRate. `drive` is the engine's linear drive (1 to 10).
    // If given, *preClip receives the filtered input ahead of the clipper and
    // *clipped the clipper's output; either pointer may be null. Realtime safe;
    // every redesignPeriod samples it calls designToneFilters. The engine
    // runs the same steps through TapeLanes over a stretch of samples.
    double processTapeSample(double x, double drive, double* preClip, double* clipped);

    BiquadSection postFilters[3]; // after the clipper: 20 kHz low-pass, 3350 Hz peak, 7000 Hz shelf
    BiquadSection preFilters[3];  // before the clipper: 19 Hz high-pass, 55 Hz dip, 59 Hz bump
    double envelope = 0.0;        // smoothed |x|·drive
    double stageRate = 44100.0;   // Hz
    double redesignCounter = 0.0; // samples since the last tone redesign
    double redesignPeriod = 0.0;  // samples in 5 ms, fractional
    double attackCoeff = 0.0;     // per sample, 0.1 ms time constant
    double releaseCoeff = 0.0;    // per sample, 20 ms time constant
    double clipInputGain = 0.17;
    double clipBias = 0.0;
    double clipOutputGain = 1.0 / 0.17;
    double kneeLow = -0.25;
    double kneeHigh = 0.25;
    // Derived so that each tail meets the identity with slope 1 at its knee.
    double kneeLowSquare = kneeLow * kneeLow;
    double kneeLowSum = 2.0 * kneeLow + 1.0;
    double kneeHighSquare = kneeHigh * kneeHigh;
    double kneeHighSum = 1.0 - 2.0 * kneeHigh;
};

// The tape stages of one channel (Lane double) or two (LanePair), lane k on
// stage k, for a stretch of samples. gather() takes the stages'
// coefficients and running state into lanes before it, scatter() writes the
// running state (envelopes, redesign counters, filter memories) back after
// it. The level-dependent redesign stays per stage: a lane whose counter is
// due hands its envelope back to its stage, which designs its tone sections
// as usual, and the lane takes the new coefficients. Audio thread; no
// allocation.
template <typename Lane> class TapeLanes {
public:
    using Mask = decltype(Lane() < Lane());

    void gather(TapeStage& lane0, TapeStage& lane1);
    void scatter() const;

    // processTapeSample in three steps so that a caller can overlap
    // consecutive samples: for an input x,
    //   shaped = lowEnd(x); clipped = saturate(x, shaped, drive); y = tone(clipped),
    // where shaped and clipped are the display's two values. Each step takes
    // the samples in order, and tone() of a sample must run before
    // saturate() of the next, which may redesign the tone sections.

    // The low-end sections ahead of the clipper.
    Lane lowEnd(Lane x) { return preFilters[2].process(preFilters[1].process(preFilters[0].process(x))); }
    // The envelope (of the stage's input x), the redesign clock, and the
    // clipper on the low-end sections' output.
    Lane saturate(Lane x, Lane shaped, Lane drive);
    // The tone sections after the clipper.
    Lane tone(Lane clipped) { return postFilters[2].process(postFilters[1].process(postFilters[0].process(clipped))); }

    // The clipper curve with the gathered knees.
    Lane softClip(Lane q) const;

private:
    void redesignLanes(Mask due);

    TapeStage* stages[2] = {nullptr, nullptr};
    BiquadLanes<Lane> postFilters[3];
    BiquadLanes<Lane> preFilters[3];
    Lane envelope, redesignCounter, redesignPeriod, attackCoeff, releaseCoeff;
    Lane clipInputGain, clipBias, clipOutputGain;
    Lane kneeLow, kneeHigh, kneeLowSquare, kneeLowSum, kneeHighSquare, kneeHighSum;
};

template <typename Lane> inline void TapeLanes<Lane>::gather(TapeStage& lane0, TapeStage& lane1)
{
    using L = Lanes<Lane>;
    stages[0] = &lane0;
    stages[1] = &lane1;
    for (int i = 0; i < 3; ++i) {
        postFilters[i] = BiquadLanes<Lane>::gather(lane0.postFilters[i], lane1.postFilters[i]);
        preFilters[i] = BiquadLanes<Lane>::gather(lane0.preFilters[i], lane1.preFilters[i]);
    }
    envelope = L::gather(lane0.envelope, lane1.envelope);
    redesignCounter = L::gather(lane0.redesignCounter, lane1.redesignCounter);
    redesignPeriod = L::gather(lane0.redesignPeriod, lane1.redesignPeriod);
    attackCoeff = L::gather(lane0.attackCoeff, lane1.attackCoeff);
    releaseCoeff = L::gather(lane0.releaseCoeff, lane1.releaseCoeff);
    clipInputGain = L::gather(lane0.clipInputGain, lane1.clipInputGain);
    clipBias = L::gather(lane0.clipBias, lane1.clipBias);
    clipOutputGain = L::gather(lane0.clipOutputGain, lane1.clipOutputGain);
    kneeLow = L::gather(lane0.kneeLow, lane1.kneeLow);
    kneeHigh = L::gather(lane0.kneeHigh, lane1.kneeHigh);
    kneeLowSquare = L::gather(lane0.kneeLowSquare, lane1.kneeLowSquare);
    kneeLowSum = L::gather(lane0.kneeLowSum, lane1.kneeLowSum);
    kneeHighSquare = L::gather(lane0.kneeHighSquare, lane1.kneeHighSquare);
    kneeHighSum = L::gather(lane0.kneeHighSum, lane1.kneeHighSum);
}

template <typename Lane> inline void TapeLanes<Lane>::scatter() const
{
    TapeStage& lane0 = *stages[0];
    TapeStage& lane1 = *stages[1];
    for (int i = 0; i < 3; ++i) {
        postFilters[i].scatterMemory(lane0.postFilters[i], lane1.postFilters[i]);
        preFilters[i].scatterMemory(lane0.preFilters[i], lane1.preFilters[i]);
    }
    Lanes<Lane>::scatter(envelope, lane0.envelope, lane1.envelope);
    Lanes<Lane>::scatter(redesignCounter, lane0.redesignCounter, lane1.redesignCounter);
}

template <typename Lane> inline void TapeLanes<Lane>::redesignLanes(Mask due)
{
    using L = Lanes<Lane>;
    for (int lane = 0; lane < L::count; ++lane) {
        if (!L::lane(due, lane))
            continue;
        TapeStage& stage = *stages[lane];
        stage.envelope = L::lane(envelope, lane);
        stage.designToneFilters();
        postFilters[1].setLaneCoefficients(lane, stage.postFilters[1].coefficients);
        postFilters[2].setLaneCoefficients(lane, stage.postFilters[2].coefficients);
    }
}

// The clipper curve on one lane or two, knees given as the stage holds them.
template <typename Lane>
inline Lane softClipCurve(Lane q, Lane kneeLow, Lane kneeHigh, Lane kneeLowSquare, Lane kneeLowSum, Lane kneeHighSquare,
                          Lane kneeHighSum)
{
    // One division serves all three pieces (q / 1 between the knees is exact),
    // so the pieces differ only in the operands chosen, not in the code run.
    const auto below = q < kneeLow;
    const auto above = q > kneeHigh;
    const Lane numerator = select(below, q + kneeLowSquare, select(above, q - kneeHighSquare, q));
    const Lane denominator = select(below, kneeLowSum - q, select(above, q + kneeHighSum, Lanes<Lane>::both(1.0)));
    return numerator / denominator;
}

template <typename Lane> inline Lane TapeLanes<Lane>::softClip(Lane q) const
{
    return softClipCurve(q, kneeLow, kneeHigh, kneeLowSquare, kneeLowSum, kneeHighSquare, kneeHighSum);
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

    return softClip(shaped * drive * clipInputGain + clipBias) * clipOutputGain;
}

inline double TapeStage::softClip(double q) const
{
    return softClipCurve(q, kneeLow, kneeHigh, kneeLowSquare, kneeLowSum, kneeHighSquare, kneeHighSum);
}

inline double TapeStage::processTapeSample(double x, double drive, double* preClip, double* clipped)
{
    TapeLanes<double> lanes;
    lanes.gather(*this, *this);
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
