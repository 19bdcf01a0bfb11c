#include "dsp/BiquadDesign.h"

#include <cmath>

namespace {

// True when the corner is at or past the top of the band. Written so that a
// NaN angle also counts as degenerate.
bool cornerReachesNyquist(double w0)
{
    constexpr double pi = 0.5 * cookbookTwoPi;
    return !(w0 < pi - cornerGuardAngle);
}

BiquadCoefficients normalised(double b0, double b1, double b2, double a0, double a1, double a2)
{
    return {b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0};
}

} // namespace

double cookbookAmplitude(double gainDb)
{
    return std::pow(10.0, gainDb * 0.025);
}

double decibelsToGain(double gainDb)
{
    return std::pow(10.0, gainDb * 0.05);
}

BiquadCoefficients designPeaking(double w0, double alpha, double amplitude)
{
    if (cornerReachesNyquist(w0))
        return {};
    const double cs = std::cos(w0);
    return normalised(1.0 + alpha * amplitude, -2.0 * cs, 1.0 - alpha * amplitude, 1.0 + alpha / amplitude, -2.0 * cs,
                      1.0 - alpha / amplitude);
}

BiquadCoefficients designHighShelf(double w0, double alpha, double amplitude)
{
    if (cornerReachesNyquist(w0))
        return {};
    const double cs = std::cos(w0);
    const double a = amplitude;
    const double twoSqrtAAlpha = 2.0 * std::sqrt(a) * alpha;
    return normalised(a * ((a + 1.0) + (a - 1.0) * cs + twoSqrtAAlpha), -2.0 * a * ((a - 1.0) + (a + 1.0) * cs),
                      a * ((a + 1.0) + (a - 1.0) * cs - twoSqrtAAlpha), (a + 1.0) - (a - 1.0) * cs + twoSqrtAAlpha,
                      2.0 * ((a - 1.0) - (a + 1.0) * cs), (a + 1.0) - (a - 1.0) * cs - twoSqrtAAlpha);
}

BiquadCoefficients designHighPass(double w0, double alpha)
{
    // At a 0 Hz corner the section is (1 − z⁻¹)² / (1 − z⁻¹)²: unity gain, but
    // a double pole at z = 1 that integrates the input twice.
    if (!(w0 > cornerGuardAngle))
        return {};
    const double cs = std::cos(w0);
    return normalised((1.0 + cs) / 2.0, -(1.0 + cs), (1.0 + cs) / 2.0, 1.0 + alpha, -2.0 * cs, 1.0 - alpha);
}

BiquadCoefficients designLowPass(double w0, double alpha)
{
    if (cornerReachesNyquist(w0))
        return {};
    const double cs = std::cos(w0);
    return normalised((1.0 - cs) / 2.0, 1.0 - cs, (1.0 - cs) / 2.0, 1.0 + alpha, -2.0 * cs, 1.0 - alpha);
}
