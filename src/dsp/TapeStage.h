#pragma once

#include "dsp/BiquadSection.h"
#include "dsp/LanePair.h"

#include <cmath>

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
    // every redesignPeriod samples it calls designToneFilters.
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

inline double TapeStage::softClip(double q) const
{
    // One division serves all three pieces (q / 1 between the knees is exact),
    // so the pieces differ only in the operands chosen, not in the code run.
    const bool below = q < kneeLow;
    const bool above = q > kneeHigh;
    const double numerator = below ? q + kneeLowSquare : (above ? q - kneeHighSquare : q);
    const double denominator = below ? kneeLowSum - q : (above ? q + kneeHighSum : 1.0);
    return numerator / denominator;
}

inline double TapeStage::processTapeSample(double x, double drive, double* preClip, double* clipped)
{
    // The envelope hears the raw input; the clipper hears the low-end-shaped one.
    const double level = std::fabs(x) * drive;
    const double follow = level >= envelope ? attackCoeff : releaseCoeff;
    envelope += (level - envelope) * follow;

    // Redesign before this sample is filtered, with the envelope just updated.
    redesignCounter += 1.0;
    const double overshoot = redesignCounter - redesignPeriod;
    if (overshoot >= 0.0) {
        redesignCounter = overshoot;
        designToneFilters();
    }

    const double shaped = preFilters[2].process(preFilters[1].process(preFilters[0].process(x)));
    if (preClip)
        *preClip = shaped;

    const double saturated = softClip(shaped * drive * clipInputGain + clipBias) * clipOutputGain;
    if (clipped)
        *clipped = saturated;

    return postFilters[2].process(postFilters[1].process(postFilters[0].process(saturated)));
}

// The tape stages of two channels run side by side, lane k on stage k, each
// lane bit for bit what processTapeSample gives on its own stage. gather()
// takes both stages' coefficients and running state into pairs before a
// stretch of samples, scatter() writes the running state (envelopes,
// redesign counters, filter memories) back after it. The level-dependent
// redesign stays scalar: a lane whose counter is due hands its envelope back
// to its stage, which designs its tone sections as usual, and the lane takes
// the new coefficients. Audio thread; no allocation.
class TapeStagePair {
public:
    void gather(TapeStage& lane0, TapeStage& lane1);
    void scatter() const;

    // processTapeSample on both lanes, in three steps so that a caller can
    // overlap consecutive samples: for an input x,
    //   shaped = lowEnd(x); clipped = saturate(x, shaped, drive); y = tone(clipped),
    // where shaped and clipped are the display's two values. Each step takes
    // the samples in order, and tone() of a sample must run before
    // saturate() of the next, which may redesign the tone sections. drive is
    // the same factor for both lanes.

    // The low-end sections ahead of the clipper.
    LanePair lowEnd(LanePair x) { return preFilters[2].process(preFilters[1].process(preFilters[0].process(x))); }
    // The envelope (of the stage's input x), the redesign clock, and the
    // clipper on the low-end sections' output.
    LanePair saturate(LanePair x, LanePair shaped, LanePair drive);
    // The tone sections after the clipper.
    LanePair tone(LanePair clipped)
    {
        return postFilters[2].process(postFilters[1].process(postFilters[0].process(clipped)));
    }

private:
    LanePair softClip(LanePair q) const;
    void redesignLanes(LaneMask due);

    TapeStage* stages[2] = {nullptr, nullptr};
    BiquadSectionPair postFilters[3];
    BiquadSectionPair preFilters[3];
    LanePair envelope, redesignCounter, redesignPeriod, attackCoeff, releaseCoeff;
    LanePair clipInputGain, clipBias, clipOutputGain;
    LanePair kneeLow, kneeHigh, kneeLowSquare, kneeLowSum, kneeHighSquare, kneeHighSum;
};

inline void TapeStagePair::gather(TapeStage& lane0, TapeStage& lane1)
{
    stages[0] = &lane0;
    stages[1] = &lane1;
    for (int i = 0; i < 3; ++i) {
        postFilters[i] = BiquadSectionPair::gather(lane0.postFilters[i], lane1.postFilters[i]);
        preFilters[i] = BiquadSectionPair::gather(lane0.preFilters[i], lane1.preFilters[i]);
    }
    envelope = LanePair::gather(lane0.envelope, lane1.envelope);
    redesignCounter = LanePair::gather(lane0.redesignCounter, lane1.redesignCounter);
    redesignPeriod = LanePair::gather(lane0.redesignPeriod, lane1.redesignPeriod);
    attackCoeff = LanePair::gather(lane0.attackCoeff, lane1.attackCoeff);
    releaseCoeff = LanePair::gather(lane0.releaseCoeff, lane1.releaseCoeff);
    clipInputGain = LanePair::gather(lane0.clipInputGain, lane1.clipInputGain);
    clipBias = LanePair::gather(lane0.clipBias, lane1.clipBias);
    clipOutputGain = LanePair::gather(lane0.clipOutputGain, lane1.clipOutputGain);
    kneeLow = LanePair::gather(lane0.kneeLow, lane1.kneeLow);
    kneeHigh = LanePair::gather(lane0.kneeHigh, lane1.kneeHigh);
    kneeLowSquare = LanePair::gather(lane0.kneeLowSquare, lane1.kneeLowSquare);
    kneeLowSum = LanePair::gather(lane0.kneeLowSum, lane1.kneeLowSum);
    kneeHighSquare = LanePair::gather(lane0.kneeHighSquare, lane1.kneeHighSquare);
    kneeHighSum = LanePair::gather(lane0.kneeHighSum, lane1.kneeHighSum);
}

inline void TapeStagePair::scatter() const
{
    TapeStage& lane0 = *stages[0];
    TapeStage& lane1 = *stages[1];
    for (int i = 0; i < 3; ++i) {
        postFilters[i].scatterMemory(lane0.postFilters[i], lane1.postFilters[i]);
        preFilters[i].scatterMemory(lane0.preFilters[i], lane1.preFilters[i]);
    }
    envelope.scatter(lane0.envelope, lane1.envelope);
    redesignCounter.scatter(lane0.redesignCounter, lane1.redesignCounter);
}

inline void TapeStagePair::redesignLanes(LaneMask due)
{
    for (int lane = 0; lane < 2; ++lane) {
        if (!due.lane(lane))
            continue;
        TapeStage& stage = *stages[lane];
        stage.envelope = envelope.lane(lane);
        stage.designToneFilters();
        postFilters[1].setLaneCoefficients(lane, stage.postFilters[1]);
        postFilters[2].setLaneCoefficients(lane, stage.postFilters[2]);
    }
}

inline LanePair TapeStagePair::softClip(LanePair q) const
{
    // The scalar curve's operand choice, made per lane; the one division
    // runs for both lanes as it does for every scalar sample.
    const LaneMask below = q < kneeLow;
    const LaneMask above = q > kneeHigh;
    const LanePair numerator = select(below, q + kneeLowSquare, select(above, q - kneeHighSquare, q));
    const LanePair denominator = select(below, kneeLowSum - q, select(above, q + kneeHighSum, LanePair::both(1.0)));
    return numerator / denominator;
}

inline LanePair TapeStagePair::saturate(LanePair x, LanePair shaped, LanePair drive)
{
    const LanePair level = abs(x) * drive;
    const LanePair follow = select(level >= envelope, attackCoeff, releaseCoeff);
    envelope = envelope + (level - envelope) * follow;

    // The counters of the two lanes need not agree (a mono stretch advances
    // lane 0 only), so each lane redesigns on its own schedule. The low-end
    // sections do not depend on the envelope or the redesign, so having run
    // them first changes nothing.
    redesignCounter = redesignCounter + LanePair::both(1.0);
    const LanePair overshoot = redesignCounter - redesignPeriod;
    const LaneMask due = overshoot >= LanePair::both(0.0);
    if (due.any()) {
        redesignCounter = select(due, overshoot, redesignCounter);
        redesignLanes(due);
    }

    return softClip(shaped * drive * clipInputGain + clipBias) * clipOutputGain;
}
