#pragma once

#include "dsp/BiquadSection.h"

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
