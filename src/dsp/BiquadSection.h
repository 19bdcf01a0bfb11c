#pragma once

#include "dsp/LanePair.h"

// The five normalised coefficients of a second-order section (a0 already
// divided out). What the design functions return and what a redesign writes
// into a running section.
struct BiquadCoefficients {
    double b0 = 1.0;
    double b1 = 0.0;
    double b2 = 0.0;
    double a1 = 0.0;
    double a2 = 0.0;
};

// One direct form II step with coefficients c and memory w1, w2, on one lane
// or two. The order of operations is the reference for every result that
// passes through a section.
template <typename Lane, typename Coefficient>
inline Lane biquadStep(Lane x, const Coefficient& b0, const Coefficient& b1, const Coefficient& b2,
                       const Coefficient& a1, const Coefficient& a2, Lane& w1, Lane& w2)
{
    const Lane w = x - a1 * w1 - a2 * w2;
    const Lane y = b0 * w + b1 * w1 + b2 * w2;
    w2 = w1;
    w1 = w;
    return y;
}

// One second-order filter section in direct form II: its coefficient record
// and the two memory words. A default-constructed section is a pass-through
// with empty memory. Plain data; safe to copy as a whole record, memory
// included. No member allocates; all of them are realtime safe.
struct BiquadSection {
    BiquadCoefficients coefficients;
    double w1 = 0.0;
    double w2 = 0.0;

    double process(double x)
    {
        const BiquadCoefficients& c = coefficients;
        return biquadStep(x, c.b0, c.b1, c.b2, c.a1, c.a2, w1, w2);
    }

    // Replaces the coefficients and keeps the memory, so a redesigned filter
    // carries on from its current state.
    void setCoefficients(const BiquadCoefficients& c) { coefficients = c; }

    void clearMemory()
    {
        w1 = 0.0;
        w2 = 0.0;
    }
};

// The same section of one channel (Lane double) or two (LanePair) held in
// lanes for a stretch of samples: gathered from the records before it, the
// memory scattered back after it. Realtime safe.
template <typename Lane> struct BiquadLanes {
    Lane b0, b1, b2, a1, a2, w1, w2;

    static BiquadLanes gather(const BiquadSection& lane0, const BiquadSection& lane1)
    {
        using L = Lanes<Lane>;
        const BiquadCoefficients& c0 = lane0.coefficients;
        const BiquadCoefficients& c1 = lane1.coefficients;
        return {L::gather(c0.b0, c1.b0),      L::gather(c0.b1, c1.b1), L::gather(c0.b2, c1.b2),
                L::gather(c0.a1, c1.a1),      L::gather(c0.a2, c1.a2), L::gather(lane0.w1, lane1.w1),
                L::gather(lane0.w2, lane1.w2)};
    }

    // Takes one lane's new coefficients after a redesign; memory carries on.
    void setLaneCoefficients(int lane, const BiquadCoefficients& c)
    {
        using L = Lanes<Lane>;
        L::setLane(b0, lane, c.b0);
        L::setLane(b1, lane, c.b1);
        L::setLane(b2, lane, c.b2);
        L::setLane(a1, lane, c.a1);
        L::setLane(a2, lane, c.a2);
    }

    void scatterMemory(BiquadSection& lane0, BiquadSection& lane1) const
    {
        Lanes<Lane>::scatter(w1, lane0.w1, lane1.w1);
        Lanes<Lane>::scatter(w2, lane0.w2, lane1.w2);
    }

    Lane process(Lane x) { return biquadStep(x, b0, b1, b2, a1, a2, w1, w2); }
};
