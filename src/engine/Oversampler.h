#pragma once

#include "dsp/LanePair.h"

// One channel's sixteen-fold rate converter, used in one direction only:
// either as an interpolator (upsample16) or as a decimator (downsample16),
// never both on the same object.
//
// Both directions run the same two stages with fixed coefficients:
//  - host rate <-> 2x: a polyphase IIR half-band, 0.5 * (A(z^2) + z^-1 B(z^2)),
//    each branch four first-order all-pass sections (c + z^-1) / (1 + c z^-1);
//  - 2x <-> 16x: an 80-tap linear-phase FIR low-pass, evaluated polyphase.
//
// The FIR reads a circular history of 128 samples stored twice (entry i and
// entry i + 128 always hold the same value), so any run of up to 128
// consecutive entries is contiguous in memory and the tap loops never wrap.
//
// Each direction gains 1.0001 at DC (the FIR's tap sum); an interpolator
// followed by a decimator delays a 1 kHz tone at 44.1 kHz by about 8 host
// samples.
//
// Every result depends on the exact order of the operations below, so the
// sums must not be reassociated or fused into multiply-adds. The bodies are
// kept plain and inline so that callers can inline them and the compiler can
// vectorise across the FIR phases, which leaves each sum's order intact.
class Oversampler {
public:
    static constexpr int factor = 16;
    // What an interpolator and a decimator in a row delay the chain by, in
    // host frames: an impulse comes out this much later at 16x (the 1x path
    // adds none). Formats report it to hosts as latency, and the renderer
    // takes it off so that a take lines up with its DI.
    static constexpr int latencyFrames = 9;
    static constexpr int historyLength = 128;
    static constexpr int allpassSectionsPerBranch = 4;
    static constexpr int allpassCount = 2 * allpassSectionsPerBranch;
    static constexpr int firLength = 80;
    static constexpr int firPhases = 8;                        // 2x -> 16x
    static constexpr int tapsPerPhase = firLength / firPhases; // 10

    // Half-band all-pass coefficients. Even entries form branch A, odd
    // entries branch B; section m of a branch uses entry 2m (A) or 2m + 1 (B).
    static constexpr double halfBandAllpass[allpassCount] = {
        0.029224847909498444, 0.11100633018519479, 0.23034569682098943, 0.36934599510310256,
        0.5132320320968043,   0.6537278571840232,  0.789787692015113,   0.9271638358417171,
    };

    // Low-pass at 16x the host rate: pass band to about 0.45 of the host
    // rate, stop band from about 1.6 times the host rate, where the
    // half-band's own images and aliases sit. DC gain 1.0001.
    static constexpr double interpolationFir[firLength] = {
        -5.209750513827e-06, -1.563664577118e-05, -3.60597443816e-05, -6.938765443094e-05, -0.0001168479582324,
        -0.0001758735034237, -0.0002381531342617, -0.000288202482375, -0.000303149800459,  -0.0002544233985412,
        -0.0001118279466691, 0.0001499053544536,  0.0005426015202616, 0.001055331369699,   0.001646140731779,
        0.002237047934574,   0.00271465314972,    0.002938218587228,  0.002756197870744,   0.002030717973649,
        0.0006678625659938,  -0.001350097721266,  -0.003935749023775, -0.006876702726794,  -0.009830480609544,
        -0.01233834108823,   -0.01385987231532,   -0.01382707046305,  -0.01171320477853,   -0.007108612727801,
        0.0002066762377259,  0.01020449475956,    0.02257447092918,   0.03672200697379,    0.05180195557239,
        0.066786719636,      0.08056237614987,    0.09204193053073,   0.1002817549679,     0.1045861596209,
        0.1045861596209,     0.1002817549679,     0.09204193053073,   0.08056237614987,    0.066786719636,
        0.05180195557239,    0.03672200697379,    0.02257447092918,   0.01020449475956,    0.0002066762377259,
        -0.007108612727801,  -0.01171320477853,   -0.01382707046305,  -0.01385987231532,   -0.01233834108823,
        -0.009830480609544,  -0.006876702726794,  -0.003935749023775, -0.001350097721266,  0.0006678625659938,
        0.002030717973649,   0.002756197870744,   0.002938218587228,  0.00271465314972,    0.002237047934574,
        0.001646140731779,   0.001055331369699,   0.0005426015202616, 0.0001499053544536,  -0.0001118279466691,
        -0.0002544233985412, -0.000303149800459,  -0.000288202482375, -0.0002381531342617, -0.0001758735034237,
        -0.0001168479582324, -6.938765443094e-05, -3.60597443816e-05, -1.563664577118e-05, -5.209750513827e-06,
    };

    // Clears the history, the position and the all-pass memories.
    Oversampler() { reset(); }

    // Back to silence. Not real-time critical, but allocates nothing.
    void reset();

    // Interpolators of one channel (Lane double) or two (LanePair): lane k
    // of x goes through *objects[k], and lane k of subSamples[0..15]
    // receives its 16 sub-samples at 16x the host rate, oldest first. Unity
    // gain in the pass band. Audio thread; no allocation, no branches on the
    // data.
    template <typename Lane> static void upsample16(Oversampler* const* objects, Lane x, Lane* subSamples);

    // Decimators likewise: lane k of the 16 sub-samples (oldest first)
    // through *objects[k], one host-rate sample per lane out; both lanes may
    // name one object, which then takes lane 0's host sample before lane
    // 1's. Unity gain in the pass band. Audio thread; no allocation, no
    // branches on the data.
    template <typename Lane> static Lane downsample16(Oversampler* const* objects, const Lane* subSamples);

    // One object as an interpolator or as a decimator.
    void upsample16(double x, double* subSamples)
    {
        Oversampler* const self[1] = {this};
        upsample16<double>(self, x, subSamples);
    }
    double downsample16(const double* subSamples)
    {
        Oversampler* const self[1] = {this};
        return downsample16<double>(self, subSamples);
    }

private:
    // Tap k in every lane.
    template <typename Lane> static Lane tap(int k);

    // Runs both half-band branches side by side: branch A on inputA, branch B
    // on inputB, each through its four sections; results replace the inputs.
    inline void runAllpassBranches(double& inputA, double& inputB);

    static constexpr int historyMask = historyLength - 1;

    double history[2 * historyLength];
    int position;                       // 0..historyLength - 1, where the next call starts
    double allpassInput[allpassCount];  // x1 per section, same indexing as halfBandAllpass
    double allpassOutput[allpassCount]; // y1 per section
};

inline void Oversampler::runAllpassBranches(double& inputA, double& inputB)
{
    double branch[2] = {inputA, inputB};
    for (int section = 0; section < allpassSectionsPerBranch; ++section) {
        for (int b = 0; b < 2; ++b) {
            const int k = 2 * section + b;
            const double x = branch[b];
            // y = c * (x - y1) + x1, evaluated in exactly this order.
            const double y = halfBandAllpass[k] * (x - allpassOutput[k]) + allpassInput[k];
            allpassInput[k] = x;
            allpassOutput[k] = y;
            branch[b] = y;
        }
    }
    inputA = branch[0];
    inputB = branch[1];
}

// The FIR taps, each repeated in both lanes, so that a paired tap is one load.
struct OversamplerTapPairs {
    alignas(16) double taps[Oversampler::firLength][2];
};

constexpr OversamplerTapPairs makeOversamplerTapPairs()
{
    OversamplerTapPairs pairs{};
    for (int k = 0; k < Oversampler::firLength; ++k) {
        pairs.taps[k][0] = Oversampler::interpolationFir[k];
        pairs.taps[k][1] = Oversampler::interpolationFir[k];
    }
    return pairs;
}

inline constexpr OversamplerTapPairs oversamplerTapPairs = makeOversamplerTapPairs();

template <> inline double Oversampler::tap<double>(int k)
{
    return interpolationFir[k];
}

template <> inline LanePair Oversampler::tap<LanePair>(int k)
{
    return LanePair::loadAligned(oversamplerTapPairs.taps[k]);
}

template <typename Lane> inline void Oversampler::upsample16(Oversampler* const* objects, Lane x, Lane* subSamples)
{
    using L = Lanes<Lane>;
    // Inserting seven zeros between 2x samples leaves 1/8 of the level; the
    // gain is restored up front rather than in the taps.
    x = x * L::both(8.0);

    const double* newest[2];
    for (int lane = 0; lane < L::count; ++lane) {
        Oversampler& object = *objects[lane];
        // Both branches see the same input; A yields the earlier and B the
        // later of the two samples at twice the host rate.
        double earlier = L::lane(x, lane);
        double later = earlier;
        object.runAllpassBranches(earlier, later);

        // The history runs backward in time here: after the store, reading
        // upward from position gives the 2x sequence newest first. Stepping
        // by two keeps position even, so the pair never straddles the end of
        // the lower copy; the mask also keeps an object that was misused in
        // both directions in bounds.
        object.position = (object.position + historyLength - 2) & (historyLength - 2);
        double* slot = object.history + object.position;
        slot[0] = later;
        slot[historyLength] = later;
        slot[1] = earlier;
        slot[1 + historyLength] = earlier;
        newest[lane] = slot;
    }

    // recent[i]: the 2x sample i steps back from the newest, per lane
    // (recent[0] = later, recent[1] = earlier, recent[2] = previous later...).
    Lane recent[tapsPerPhase + 1];
    for (int i = 0; i <= tapsPerPhase; ++i)
        recent[i] = L::gather(newest[0][i], newest[L::count - 1][i]);

    // Phase j of the eight-fold interpolation weighs taps j, j + 8, ..., j + 72.
    // subSamples[0..7] take the earlier sample as the newest input,
    // subSamples[8..15] the later one. Each sum runs tap by tap in order;
    // the eight phases are independent, which is what gets vectorised.
    Lane fromEarlier[firPhases];
    Lane fromLater[firPhases];
    for (int j = 0; j < firPhases; ++j) {
        fromEarlier[j] = tap<Lane>(j) * recent[1];
        fromLater[j] = tap<Lane>(j) * recent[0];
    }
    for (int i = 1; i < tapsPerPhase; ++i) {
        for (int j = 0; j < firPhases; ++j) {
            fromEarlier[j] = fromEarlier[j] + tap<Lane>(firPhases * i + j) * recent[i + 1];
            fromLater[j] = fromLater[j] + tap<Lane>(firPhases * i + j) * recent[i];
        }
    }
    for (int j = 0; j < firPhases; ++j) {
        subSamples[j] = fromEarlier[j];
        subSamples[firPhases + j] = fromLater[j];
    }
}

template <typename Lane> inline Lane Oversampler::downsample16(Oversampler* const* objects, const Lane* subSamples)
{
    using L = Lanes<Lane>;
    // The history runs forward in time here. Position advances by whole
    // blocks, so a block never straddles the end of the lower copy; the mask
    // only matters for an object misused in both directions and keeps it in
    // bounds. The lanes store one after the other, so two lanes may name the
    // same object: its two consecutive host samples, lane 0 first.
    double* block[2];
    for (int lane = 0; lane < L::count; ++lane) {
        Oversampler& object = *objects[lane];
        const int blockStart = object.position & (historyLength - factor);
        block[lane] = object.history + blockStart;
        for (int i = 0; i < factor; ++i) {
            const double value = L::lane(subSamples[i], lane);
            block[lane][i] = value;
            block[lane][i + historyLength] = value;
        }
        object.position = (blockStart + factor) & historyMask;
    }
    double* const block1 = block[L::count - 1];

    // Only the two FIR outputs that the half-band needs are computed: the one
    // aligned with the last sub-sample (later) and the one aligned with the
    // eighth (earlier). Reads go backward from the upper copy, so all 80 taps
    // are contiguous; the lowest index reached is 128 + 7 - 79.
    const double* laterNewest0 = block[0] + historyLength + factor - 1;
    const double* laterNewest1 = block1 + historyLength + factor - 1;
    const double* earlierNewest0 = block[0] + historyLength + firPhases - 1;
    const double* earlierNewest1 = block1 + historyLength + firPhases - 1;
    Lane later = tap<Lane>(0) * L::gather(laterNewest0[0], laterNewest1[0]);
    Lane earlier = tap<Lane>(0) * L::gather(earlierNewest0[0], earlierNewest1[0]);
    auto addTap = [&](int k) {
        later = later + tap<Lane>(k) * L::gather(laterNewest0[-k], laterNewest1[-k]);
        earlier = earlier + tap<Lane>(k) * L::gather(earlierNewest0[-k], earlierNewest1[-k]);
    };
    // Unrolled by hand (taps 1 to 79 in order): the loop's own bookkeeping
    // would otherwise cost a third of it.
    int k = 1;
    for (; k + 3 < firLength; k += 4) {
        addTap(k);
        addTap(k + 1);
        addTap(k + 2);
        addTap(k + 3);
    }
    for (; k < firLength; ++k)
        addTap(k);

    double results[2];
    for (int lane = 0; lane < L::count; ++lane) {
        Oversampler& object = *objects[lane];
        // Branch A takes the later 2x sample, branch B the earlier one.
        double a = L::lane(later, lane);
        double b = L::lane(earlier, lane);
        object.runAllpassBranches(a, b);
        results[lane] = (a + b) * 0.5;
    }
    return L::gather(results[0], results[L::count - 1]);
}
