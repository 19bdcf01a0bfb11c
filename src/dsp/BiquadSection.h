// Second-order filter sections in direct form II, kept as two separate
// values: the coefficients a design produces (one record, however many
// channels run it) and the running memory (one per channel).
#pragma once

#include "dsp/LanePair.h"

// The five normalised coefficients of a second-order section (a0 already
// divided out): what the design functions return. The default value is a
// pass-through.
struct BiquadCoefficients {
    double b0 = 1.0;
    double b1 = 0.0;
    double b2 = 0.0;
    double a1 = 0.0;
    double a2 = 0.0;
};

// One channel's memory of one section; empty by default. A redesign keeps
// it, so the filter carries on from its state with the new coefficients.
struct BiquadMemory {
    double w1 = 0.0;
    double w2 = 0.0;
};

// One direct form II step with coefficients b0..a2 and memory w1, w2, on one
// lane or two. The order of operations is the reference for every result
// that passes through a section.
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

// One sample of one channel through a section. Realtime safe.
inline double processBiquad(double x, const BiquadCoefficients& c, BiquadMemory& memory)
{
    return biquadStep(x, c.b0, c.b1, c.b2, c.a1, c.a2, memory.w1, memory.w2);
}

// A section on one channel (Lane double) or two (LanePair) for a stretch of
// samples: coefficients and memories gathered into lanes before it, the
// memories scattered back after it. Realtime safe.
template <typename Lane> struct BiquadLanes {
    Lane b0, b1, b2, a1, a2, w1, w2;

    static BiquadLanes gather(const BiquadCoefficients& c0, const BiquadCoefficients& c1, const BiquadMemory& m0,
                              const BiquadMemory& m1)
    {
        using L = Lanes<Lane>;
        return {L::gather(c0.b0, c1.b0), L::gather(c0.b1, c1.b1), L::gather(c0.b2, c1.b2), L::gather(c0.a1, c1.a1),
                L::gather(c0.a2, c1.a2), L::gather(m0.w1, m1.w1), L::gather(m0.w2, m1.w2)};
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

    void scatterMemory(BiquadMemory& m0, BiquadMemory& m1) const
    {
        Lanes<Lane>::scatter(w1, m0.w1, m1.w1);
        Lanes<Lane>::scatter(w2, m0.w2, m1.w2);
    }

    Lane process(Lane x) { return biquadStep(x, b0, b1, b2, a1, a2, w1, w2); }
};
