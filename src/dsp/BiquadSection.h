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

// One second-order filter section in direct form II: the five coefficients
// followed by the two memory words. A default-constructed section is a
// pass-through with empty memory. Plain data; safe to copy as a whole record,
// memory included. No member allocates; all of them are realtime safe.
struct BiquadSection {
    double b0 = 1.0;
    double b1 = 0.0;
    double b2 = 0.0;
    double a1 = 0.0;
    double a2 = 0.0;
    double w1 = 0.0;
    double w2 = 0.0;

    // Filters one sample. The order of operations is the reference order for
    // every other implementation of the chain (a vectorised one must match it).
    double process(double x)
    {
        const double w = x - a1 * w1 - a2 * w2;
        const double y = b0 * w + b1 * w1 + b2 * w2;
        w2 = w1;
        w1 = w;
        return y;
    }

    // Replaces the coefficients and keeps the memory, so a redesigned filter
    // carries on from its current state.
    void setCoefficients(const BiquadCoefficients& c)
    {
        b0 = c.b0;
        b1 = c.b1;
        b2 = c.b2;
        a1 = c.a1;
        a2 = c.a2;
    }

    BiquadCoefficients coefficients() const { return {b0, b1, b2, a1, a2}; }

    void clearMemory()
    {
        w1 = 0.0;
        w2 = 0.0;
    }
};

// Two sections run side by side, lane k holding one section's coefficients
// and memory (in the engine: the same section of the left and the right
// channel). The loop body is process() on pairs, in the same order, so each
// lane matches its scalar section bit for bit. Gathered from two records
// before a stretch of samples, memory scattered back after it. Realtime safe.
struct BiquadSectionPair {
    LanePair b0, b1, b2, a1, a2, w1, w2;

    static BiquadSectionPair gather(const BiquadSection& lane0, const BiquadSection& lane1)
    {
        BiquadSectionPair pair;
        pair.b0 = LanePair::gather(lane0.b0, lane1.b0);
        pair.b1 = LanePair::gather(lane0.b1, lane1.b1);
        pair.b2 = LanePair::gather(lane0.b2, lane1.b2);
        pair.a1 = LanePair::gather(lane0.a1, lane1.a1);
        pair.a2 = LanePair::gather(lane0.a2, lane1.a2);
        pair.w1 = LanePair::gather(lane0.w1, lane1.w1);
        pair.w2 = LanePair::gather(lane0.w2, lane1.w2);
        return pair;
    }

    // Takes one lane's new coefficients after a redesign; memory carries on.
    void setLaneCoefficients(int lane, const BiquadSection& section)
    {
        b0.setLane(lane, section.b0);
        b1.setLane(lane, section.b1);
        b2.setLane(lane, section.b2);
        a1.setLane(lane, section.a1);
        a2.setLane(lane, section.a2);
    }

    void scatterMemory(BiquadSection& lane0, BiquadSection& lane1) const
    {
        w1.scatter(lane0.w1, lane1.w1);
        w2.scatter(lane0.w2, lane1.w2);
    }

    LanePair process(LanePair x)
    {
        const LanePair w = x - a1 * w1 - a2 * w2;
        const LanePair y = b0 * w + b1 * w1 + b2 * w2;
        w2 = w1;
        w1 = w;
        return y;
    }
};
