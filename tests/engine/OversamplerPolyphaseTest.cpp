// The oversampler's polyphase bookkeeping against a direct reference that
// inserts zeros and filters at the full rate, plus its behaviour on bad
// input and on reset.
//
// The reference runs the same coefficient tables and the same per-tap order,
// but none of the history, position or phase arithmetic: any slip in those
// (wrong phase, wrong end of the doubled history, off-by-one at the wrap)
// shows up as a mismatch. Results are compared exactly, as the order of
// every operation is fixed.

#include "engine/Oversampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

constexpr int factor = Oversampler::factor;
constexpr int halfRatePhases = 2;

// Uniform noise in [-1, 1), repeatable.
std::vector<double> noise(std::size_t length, std::uint32_t seed)
{
    std::vector<double> values(length);
    for (double& value : values) {
        seed = seed * 1664525u + 1013904223u;
        value = double(seed) / 2147483648.0 - 1.0;
    }
    return values;
}

// One branch of the half-band written out at twice the host rate: each
// first-order all-pass in z^2, i.e. y[t] = c (x[t] - y[t-2]) + x[t-2].
std::vector<double> allpassBranchInZSquared(std::vector<double> signal, int branch)
{
    for (int section = 0; section < Oversampler::allpassSectionsPerBranch; ++section) {
        const double c = Oversampler::halfBandAllpass[2 * section + branch];
        std::vector<double> out(signal.size());
        for (std::size_t t = 0; t < signal.size(); ++t) {
            const double x2 = t >= 2 ? signal[t - 2] : 0.0;
            const double y2 = t >= 2 ? out[t - 2] : 0.0;
            out[t] = c * (signal[t] - y2) + x2;
        }
        signal = out;
    }
    return signal;
}

// Direct-form FIR with the 80 taps, run on every sample.
std::vector<double> firAtFullRate(const std::vector<double>& signal)
{
    std::vector<double> out(signal.size());
    for (std::size_t t = 0; t < signal.size(); ++t) {
        double sum = 0.0;
        for (int k = 0; k < Oversampler::firLength; ++k)
            sum += Oversampler::interpolationFir[k] * (t >= std::size_t(k) ? signal[t - k] : 0.0);
        out[t] = sum;
    }
    return out;
}

// Interpolation the slow way: insert a zero after every host sample, run
// A(z^2) + z^-1 B(z^2) at twice the rate, insert seven zeros after every
// sample, run the FIR at 16x. The gain of 8 restores the FIR's zero
// insertion loss.
std::vector<double> referenceUpsample(const std::vector<double>& hostSignal)
{
    std::vector<double> stuffed(hostSignal.size() * halfRatePhases, 0.0);
    for (std::size_t n = 0; n < hostSignal.size(); ++n)
        stuffed[halfRatePhases * n] = hostSignal[n] * 8.0;
    const std::vector<double> branchA = allpassBranchInZSquared(stuffed, 0);
    const std::vector<double> branchB = allpassBranchInZSquared(stuffed, 1);
    std::vector<double> halfRate(stuffed.size());
    for (std::size_t t = 0; t < stuffed.size(); ++t)
        halfRate[t] = branchA[t] + (t >= 1 ? branchB[t - 1] : 0.0);

    const int firPhases = factor / halfRatePhases;
    std::vector<double> subRate(halfRate.size() * firPhases, 0.0);
    for (std::size_t m = 0; m < halfRate.size(); ++m)
        subRate[firPhases * m] = halfRate[m];
    return firAtFullRate(subRate);
}

// Decimation the slow way: the FIR on every 16x sample, keep every eighth
// (the ones that end each half block), run 0.5 (A(z^2) + z^-1 B(z^2)) on
// that and keep every second.
std::vector<double> referenceDownsample(const std::vector<double>& subSignal)
{
    const std::vector<double> filtered = firAtFullRate(subSignal);
    const int firPhases = factor / halfRatePhases;
    std::vector<double> halfRate(filtered.size() / firPhases);
    for (std::size_t m = 0; m < halfRate.size(); ++m)
        halfRate[m] = filtered[firPhases * m + firPhases - 1];
    const std::vector<double> branchA = allpassBranchInZSquared(halfRate, 0);
    const std::vector<double> branchB = allpassBranchInZSquared(halfRate, 1);
    std::vector<double> hostRate(halfRate.size() / halfRatePhases);
    for (std::size_t n = 0; n < hostRate.size(); ++n) {
        const std::size_t t = halfRatePhases * n + 1;
        hostRate[n] = (branchA[t] + branchB[t - 1]) * 0.5;
    }
    return hostRate;
}

// Ragged block lengths, as a host hands them over; between blocks another
// oversampler runs, as the second channel does in the engine.
// The total of 710 host samples wraps the 128-entry history many times.
const int blockLengths[] = {1, 7, 64, 3, 128, 129, 2, 255, 31, 90};
constexpr std::size_t totalLength = 710;

} // namespace

TEST(OversamplerPolyphase, UpsampleMatchesZeroStuffingReferenceOverSplitBlocks)
{
    const std::vector<double> input = noise(totalLength, 11u);
    const std::vector<double> expected = referenceUpsample(input);

    Oversampler upsampler;
    Oversampler otherChannel;
    const std::vector<double> otherInput = noise(input.size(), 12u);
    std::vector<double> produced(input.size() * factor);
    std::size_t n = 0;
    for (int length : blockLengths) {
        for (int i = 0; i < length; ++i, ++n)
            upsampler.upsample16(input[n], &produced[n * factor]);
        double scratch[factor];
        for (int i = 0; i < length; ++i)
            otherChannel.upsample16(otherInput[std::size_t(i)], scratch);
    }
    ASSERT_EQ(n, input.size());

    for (std::size_t t = 0; t < produced.size(); ++t)
        ASSERT_EQ(produced[t], expected[t]) << "sub-sample " << t;
}

TEST(OversamplerPolyphase, DownsampleMatchesZeroStuffingReferenceOverSplitBlocks)
{
    const std::vector<double> input = noise(totalLength * factor, 21u);
    const std::vector<double> expected = referenceDownsample(input);

    Oversampler downsampler;
    Oversampler otherChannel;
    const std::vector<double> otherInput = noise(input.size(), 22u);
    std::vector<double> produced(input.size() / factor);
    std::size_t n = 0;
    for (int length : blockLengths) {
        for (int i = 0; i < length; ++i, ++n)
            produced[n] = downsampler.downsample16(&input[n * factor]);
        for (int i = 0; i < length; ++i)
            otherChannel.downsample16(&otherInput[std::size_t(i) * factor]);
    }
    ASSERT_EQ(n, produced.size());

    for (std::size_t t = 0; t < produced.size(); ++t)
        ASSERT_EQ(produced[t], expected[t]) << "host sample " << t;
}

// The engine replaces NaN inputs before they get here; if one slips through,
// the filters may carry it, but nothing may read or write outside the object
// and a reset must bring back a clean filter.
TEST(OversamplerRobustness, NaNInputIsCarriedWithoutHarmAndResetClearsIt)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<double> input = noise(300, 31u);
    double subSamples[factor];

    // Each direction on its own, so that each sees its NaN first hand.
    Oversampler upsampler;
    Oversampler downsampler;
    double downsampled = 0.0;
    for (std::size_t n = 0; n < input.size(); ++n) {
        upsampler.upsample16(n == 5 ? nan : input[n], subSamples);
        double block[factor];
        for (int k = 0; k < factor; ++k)
            block[k] = (n == 9 && k == 3) ? nan : input[(n * factor + std::size_t(k)) % input.size()];
        downsampled = downsampler.downsample16(block);
    }
    // The all-pass memories keep it: this is why the engine guards its input.
    EXPECT_TRUE(std::isnan(subSamples[0]));
    EXPECT_TRUE(std::isnan(downsampled));
    for (double infinity : {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
        upsampler.upsample16(infinity, subSamples);
        downsampler.downsample16(subSamples);
    }

    upsampler.reset();
    downsampler.reset();
    Oversampler freshUpsampler;
    Oversampler freshDownsampler;
    double freshSubSamples[factor];
    for (std::size_t n = 0; n < input.size(); ++n) {
        upsampler.upsample16(input[n], subSamples);
        freshUpsampler.upsample16(input[n], freshSubSamples);
        for (int k = 0; k < factor; ++k)
            ASSERT_EQ(subSamples[k], freshSubSamples[k]);
        ASSERT_EQ(downsampler.downsample16(subSamples), freshDownsampler.downsample16(freshSubSamples));
    }
}
