#pragma once

#include "dsp/BiquadSection.h"

#include <cmath>
#include <vector>

// Steady-state gain in dB of `filter` (any callable double(double)) at one
// frequency: a unit sine runs until the transient has died away, then a sine
// and cosine pair is fitted to the output by least squares, which is exact
// for a steady sinusoid whatever the window length.
template <typename Filter>
double measureGainDb(Filter&& filter, double frequencyHz, double sampleRate, double settleSeconds = 0.3)
{
    const double step = 6.283185307179586 * frequencyHz / sampleRate;
    const long settle = static_cast<long>(settleSeconds * sampleRate);
    const long window = static_cast<long>(std::fmax(0.02, 3.0 / frequencyHz) * sampleRate);
    double ss = 0, cc = 0, sc = 0, ys = 0, yc = 0;
    for (long n = 0; n < settle + window; ++n) {
        const double s = std::sin(step * n);
        const double y = filter(s);
        if (n < settle)
            continue;
        const double c = std::cos(step * n);
        ss += s * s;
        cc += c * c;
        sc += s * c;
        ys += y * s;
        yc += y * c;
    }
    const double det = ss * cc - sc * sc;
    const double a = (ys * cc - yc * sc) / det;
    const double b = (yc * ss - ys * sc) / det;
    return 10.0 * std::log10(a * a + b * b);
}

// A cascade of freshly cleared sections followed by a gain, as a callable.
struct SectionChain {
    std::vector<BiquadCoefficients> sections;
    std::vector<BiquadMemory> memories;
    double gain = 1.0;

    SectionChain(const BiquadCoefficients* coefficients, int count, double outputGain = 1.0)
        : sections(coefficients, coefficients + count), memories(static_cast<std::size_t>(count)), gain(outputGain)
    {
    }

    double operator()(double x)
    {
        for (std::size_t i = 0; i < sections.size(); ++i)
            x = processBiquad(x, sections[i], memories[i]);
        return gain * x;
    }
};

inline double gainAt(const BiquadCoefficients& c, double frequencyHz, double sampleRate)
{
    return measureGainDb(SectionChain(&c, 1), frequencyHz, sampleRate);
}
