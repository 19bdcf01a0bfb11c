// Frequency-domain behaviour of the 16x oversampler, measured from outside:
// sines go in, levels and phases of what comes out are read by correlation.
//
// Every tone is a multiple of 10 Hz and every analysis window spans 4410 host
// samples (0.1 s), so each tone, and each image or alias of it, completes a
// whole number of cycles in the window and a single-bin correlation reads its
// level without leakage.
//
// The two stages cannot be driven separately. Where a figure belongs to one
// stage, the test picks a frequency at which the other stage is known to be
// flat or known to be in its stop band, and says so.

#include "engine/Oversampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

namespace {

constexpr long long hostRate = 44100;
constexpr long long subRate = Oversampler::factor * hostRate;
// Host samples run before measuring. The slowest all-pass pole (0.927 per
// host sample) has decayed by more than 300 dB by then.
constexpr int settleSamples = 1024;
constexpr int windowSamples = 4410;
constexpr double pi = 3.14159265358979323846;

// Phase reduced in 64-bit integers first, so long runs keep full precision.
double phaseAt(long long n, long long hz, long long rate)
{
    return 2.0 * pi * double((n * hz) % rate) / double(rate);
}

double sineAt(long long n, long long hz, long long rate)
{
    return std::sin(phaseAt(n, hz, rate));
}

// Complex amplitude of the component at hz, scaled so that a unit sine
// sin(phase) reads as 1 + 0i.
std::complex<double> componentAt(const std::vector<double>& signal, long long hz, long long rate)
{
    std::complex<double> sum = 0.0;
    for (long long n = 0; n < static_cast<long long>(signal.size()); ++n) {
        const double phase = phaseAt(n, hz, rate);
        sum += signal[n] * std::complex<double>(std::sin(phase), std::cos(phase));
    }
    return sum * (2.0 / double(signal.size()));
}

double toDb(double ratio)
{
    return 20.0 * std::log10(ratio);
}

// Level of the component at hz, in dB relative to a unit sine.
double levelDb(const std::vector<double>& signal, long long hz, long long rate)
{
    return toDb(std::abs(componentAt(signal, hz, rate)));
}

// Level of everything except the component at hz, in dB relative to a unit
// sine (peak-equivalent of the residual's RMS).
double residualDb(const std::vector<double>& signal, long long hz, long long rate)
{
    const std::complex<double> tone = componentAt(signal, hz, rate);
    double energy = 0.0;
    for (long long n = 0; n < static_cast<long long>(signal.size()); ++n) {
        const double phase = phaseAt(n, hz, rate);
        const double rest = signal[n] - (tone.real() * std::sin(phase) + tone.imag() * std::cos(phase));
        energy += rest * rest;
    }
    return toDb(std::sqrt(2.0 * energy / double(signal.size())));
}

// Level of the whole signal, in dB relative to a unit sine (peak-equivalent
// of its RMS).
double totalDb(const std::vector<double>& signal)
{
    double energy = 0.0;
    for (double value : signal)
        energy += value * value;
    return toDb(std::sqrt(2.0 * energy / double(signal.size())));
}

// A unit host-rate sine through upsample16; returns the window's sub-samples.
std::vector<double> upsampledSine(long long hz)
{
    Oversampler upsampler;
    double subSamples[Oversampler::factor];
    std::vector<double> out;
    out.reserve(std::size_t(windowSamples) * Oversampler::factor);
    for (long long n = 0; n < settleSamples + windowSamples; ++n) {
        upsampler.upsample16(sineAt(n, hz, hostRate), subSamples);
        if (n >= settleSamples)
            out.insert(out.end(), subSamples, subSamples + Oversampler::factor);
    }
    return out;
}

// A unit sine at 16x the host rate through downsample16; returns the window's
// host-rate output.
std::vector<double> downsampledSine(long long hz)
{
    Oversampler downsampler;
    double subSamples[Oversampler::factor];
    std::vector<double> out;
    out.reserve(windowSamples);
    for (long long n = 0; n < settleSamples + windowSamples; ++n) {
        for (int k = 0; k < Oversampler::factor; ++k)
            subSamples[k] = sineAt(Oversampler::factor * n + k, hz, subRate);
        const double value = downsampler.downsample16(subSamples);
        if (n >= settleSamples)
            out.push_back(value);
    }
    return out;
}

struct RoundTrip {
    double gainDb;
    double delaySamples; // host samples, valid while below half a period
};

// A unit host-rate sine through upsample16 and straight on through
// downsample16, as the engine does with an empty chain in between.
RoundTrip roundTrip(long long hz)
{
    Oversampler upsampler;
    Oversampler downsampler;
    double subSamples[Oversampler::factor];
    std::vector<double> in;
    std::vector<double> out;
    for (long long n = 0; n < settleSamples + windowSamples; ++n) {
        const double x = sineAt(n, hz, hostRate);
        upsampler.upsample16(x, subSamples);
        const double y = downsampler.downsample16(subSamples);
        if (n >= settleSamples) {
            in.push_back(x);
            out.push_back(y);
        }
    }
    const std::complex<double> transfer = componentAt(out, hz, hostRate) / componentAt(in, hz, hostRate);
    const double radiansPerSample = 2.0 * pi * double(hz) / double(hostRate);
    return {toDb(std::abs(transfer)), -std::arg(transfer) / radiansPerSample};
}

// Share of the power that the half-band gives the tone rather than its image
// at fs - f, in dB. The half-band pair is power complementary and the FIR
// weighs f and fs - f almost alike near fs / 2, so this isolates the
// half-band's own response at f.
double halfBandShareDb(const std::vector<double>& upsampled, long long hz)
{
    const double tone = std::norm(componentAt(upsampled, hz, subRate));
    const double image = std::norm(componentAt(upsampled, hostRate - hz, subRate));
    return 10.0 * std::log10(tone / (tone + image));
}

} // namespace

// ---------------------------------------------------------------------------
// Whole round trip, as the engine sees it with oversampling on.

TEST(OversamplerRoundTrip, ConstantInputSettlesAtTheFirDcGain)
{
    Oversampler upsampler;
    Oversampler downsampler;
    double subSamples[Oversampler::factor];
    double output = 0.0;
    for (int n = 0; n < 2000; ++n) {
        upsampler.upsample16(1.0, subSamples);
        output = downsampler.downsample16(subSamples);
    }
    for (double subSample : subSamples)
        EXPECT_NEAR(subSample, 1.0001, 0.00002);
    EXPECT_NEAR(output, 1.0002, 0.00002);
}

TEST(OversamplerRoundTrip, OneKilohertzComesBackDelayedByAboutEightSamples)
{
    const RoundTrip trip = roundTrip(1000);
    EXPECT_NEAR(trip.delaySamples, 8.0, 0.25);
    EXPECT_LT(std::fabs(trip.gainDb), 0.002);
}

TEST(OversamplerRoundTrip, TwentyKilohertzLosesAQuarterDecibel)
{
    const RoundTrip trip = roundTrip(20000);
    EXPECT_NEAR(trip.gainDb, -0.25, 0.02);
}

// ---------------------------------------------------------------------------
// Half-band stage. In upsample16 a host-rate tone at f leaves an image at
// fs - f; the half-band's stop band at fs - f is what suppresses it.

TEST(OversamplerHalfBand, FlatWithinAHundredthOfADecibelToPoint476OfTheHostRate)
{
    for (long long hz : {1000LL, 10000LL, 18000LL, 20000LL, 20990LL}) // 20990 Hz = 0.476 fs
    {
        SCOPED_TRACE(hz);
        EXPECT_GT(halfBandShareDb(upsampledSine(hz), hz), -0.01);
    }
}

TEST(OversamplerHalfBand, CrossesOverAtThreeDecibelsAtHalfTheHostRate)
{
    // 10 Hz below fs / 2: the tone and its image 20 Hz apart carry almost
    // equal shares of the power.
    const long long hz = hostRate / 2 - 10;
    const std::vector<double> upsampled = upsampledSine(hz);
    EXPECT_NEAR(halfBandShareDb(upsampled, hz), -3.0, 0.2);
    EXPECT_NEAR(levelDb(upsampled, hz, subRate), levelDb(upsampled, hostRate - hz, subRate), 0.5);
}

TEST(OversamplerHalfBand, RejectsAboutFiftyFiveDecibelsAtPoint544OfTheHostRate)
{
    const long long imageHz = 23990; // 0.544 fs
    const std::vector<double> upsampled = upsampledSine(hostRate - imageHz);
    const double rejection = levelDb(upsampled, imageHz, subRate) - levelDb(upsampled, hostRate - imageHz, subRate);
    EXPECT_NEAR(rejection, -55.0, 1.5);
}

TEST(OversamplerHalfBand, RejectsAtLeastAHundredDecibelsFromPoint567OfTheHostRate)
{
    // Images from 25010 Hz (0.5671 fs) up to 44090 Hz. The FIR adds a little
    // of its own roll-off here, so this bounds the stage pair.
    for (long long hz : {10LL, 1000LL, 5000LL, 10000LL, 15000LL, 18000LL, 19000LL, 19090LL}) {
        SCOPED_TRACE(hz);
        const std::vector<double> upsampled = upsampledSine(hz);
        EXPECT_LT(levelDb(upsampled, hostRate - hz, subRate) - levelDb(upsampled, hz, subRate), -100.0);
    }
}

// ---------------------------------------------------------------------------
// FIR stage. Its pass band is observable where the half-band is flat (below
// 0.476 fs) and its stop band where aliases fold back into the half-band's
// pass band (from 70 kHz up). Its transition (-14 dB at 44.1 kHz, -56 dB at
// 60 kHz) always lies under the half-band's stop band, so only the pair's
// combined rejection can be seen there.

TEST(OversamplerFir, PassBandWithinPoint13DecibelsToTwentyKilohertzBothWays)
{
    // 0.13 dB of the FIR plus at most 0.01 dB of the half-band.
    for (long long hz : {10LL, 1000LL, 5000LL, 10000LL, 15000LL, 18000LL, 19000LL, 19500LL, 20000LL}) {
        SCOPED_TRACE(hz);
        EXPECT_LT(std::fabs(levelDb(upsampledSine(hz), hz, subRate)), 0.14);
        EXPECT_LT(std::fabs(levelDb(downsampledSine(hz), hz, hostRate)), 0.14);
    }
}

TEST(OversamplerFir, DownsampleAliasesFromSeventyKilohertzUpAreBelowMinus110Decibels)
{
    // Up to the 16x Nyquist frequency; the steps of 3070 Hz land aliases all
    // over the host band, including its pass band where only the FIR acts.
    for (long long hz = 70000; hz < subRate / 2; hz += 3070) {
        SCOPED_TRACE(hz);
        EXPECT_LT(totalDb(downsampledSine(hz)), -110.0);
    }
}

TEST(OversamplerFir, UpsampleImagesFromSeventyKilohertzUpAreBelowMinus110Decibels)
{
    // The first FIR image of a tone at f sits at 2 fs - f, above 70 kHz for
    // f up to 18.2 kHz, and carries the tone's full half-band gain.
    for (long long hz = 10; hz <= 18000; hz += 2000) {
        SCOPED_TRACE(hz);
        const std::vector<double> upsampled = upsampledSine(hz);
        EXPECT_LT(levelDb(upsampled, 2 * hostRate - hz, subRate) - levelDb(upsampled, hz, subRate), -110.0);
    }
}

// ---------------------------------------------------------------------------
// The pair together: what reaches the chain and what comes back from it.

TEST(OversamplerImageAndAlias, UpsampledTonesUpToEighteenKilohertzAreCleanToAHundredDecibels)
{
    for (long long hz = 10; hz <= 18000; hz += 2000) {
        SCOPED_TRACE(hz);
        EXPECT_LT(residualDb(upsampledSine(hz), hz, subRate), -100.0);
    }
}

TEST(OversamplerImageAndAlias, DownsampleRejectsEverythingFromPoint567OfTheHostRateByAHundredDecibels)
{
    // Covers the FIR's transition band, where the half-band does the work.
    for (long long hz = 25010; hz <= 70000; hz += 1000) {
        SCOPED_TRACE(hz);
        EXPECT_LT(totalDb(downsampledSine(hz)), -100.0);
    }
}
