#pragma once

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
