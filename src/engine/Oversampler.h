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

    // Interpolator: one host-rate sample x in, 16 sub-samples at 16x the host
    // rate written to subSamples[0..15], oldest first. Unity gain in the pass
    // band. Audio thread; no allocation, no branches on the data.
    inline void upsample16(double x, double* subSamples);

    // Decimator: 16 sub-samples at 16x the host rate (oldest first) in, one
    // host-rate sample out. Unity gain in the pass band. Audio thread; no
    // allocation, no branches on the data.
    inline double downsample16(const double* subSamples);

    // Two channels' interpolators side by side: lane k of x goes through
    // object `lane0` or `lane1`, and lane k of subSamples[0..15] receives
    // what that object's upsample16 would give, bit for bit. Audio thread;
    // no allocation.
    static inline void upsample16Pair(Oversampler& lane0, Oversampler& lane1, LanePair x, LanePair* subSamples);

    // Two channels' decimators side by side, likewise: lane k of the 16
    // sub-sample pairs through object k, the result of each in its lane.
    static inline LanePair downsample16Pair(Oversampler& lane0, Oversampler& lane1, const LanePair* subSamples);

private:
    // Tap k in both lanes.
    static inline LanePair tapPair(int k);

    // Both half-band branches of one object on one register: branch A in
    // lane 0, branch B in lane 1 (their sections sit next to each other in
    // the memories and in the coefficient table). The same operations as
    // runAllpassBranches.
    inline LanePair runAllpassBranchPair(LanePair branches);

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

inline void Oversampler::upsample16(double x, double* subSamples)
{
    // Inserting seven zeros between 2x samples leaves 1/8 of the level; the
    // gain is restored up front rather than in the taps.
    x = x * 8.0;

    // Both branches see the same input; A yields the earlier and B the later
    // of the two samples at twice the host rate.
    double earlier = x;
    double later = x;
    runAllpassBranches(earlier, later);

    // The history runs backward in time here: after the store, reading upward
    // from position gives the 2x sequence newest first. Stepping by two keeps
    // position even, so the pair never straddles the end of the lower copy;
    // the mask also keeps an object that was misused in both directions in
    // bounds.
    position = (position + historyLength - 2) & (historyLength - 2);
    history[position] = later;
    history[position + historyLength] = later;
    history[position + 1] = earlier;
    history[position + 1 + historyLength] = earlier;

    // newest[0] = later, newest[1] = earlier, newest[2] = previous later, ...
    // At most newest[10] is read, well inside the doubled history.
    const double* newest = history + position;

    // Phase j of the eight-fold interpolation weighs taps j, j + 8, ..., j + 72.
    // subSamples[0..7] take the earlier sample as the newest input,
    // subSamples[8..15] the later one. Each sum runs tap by tap in order;
    // the eight phases are independent, which is what gets vectorised.
    double fromEarlier[firPhases];
    double fromLater[firPhases];
    for (int j = 0; j < firPhases; ++j) {
        fromEarlier[j] = interpolationFir[j] * newest[1];
        fromLater[j] = interpolationFir[j] * newest[0];
    }
    for (int i = 1; i < tapsPerPhase; ++i) {
        const double* taps = interpolationFir + firPhases * i;
        const double olderForEarlier = newest[i + 1];
        const double olderForLater = newest[i];
        for (int j = 0; j < firPhases; ++j) {
            fromEarlier[j] += taps[j] * olderForEarlier;
            fromLater[j] += taps[j] * olderForLater;
        }
    }
    for (int j = 0; j < firPhases; ++j) {
        subSamples[j] = fromEarlier[j];
        subSamples[firPhases + j] = fromLater[j];
    }
}

inline double Oversampler::downsample16(const double* subSamples)
{
    // The history runs forward in time here. Position advances by whole
    // blocks, so a block never straddles the end of the lower copy; the mask
    // only matters for an object misused in both directions and keeps it in
    // bounds.
    const int blockStart = position & (historyLength - factor);
    for (int i = 0; i < factor; ++i) {
        history[blockStart + i] = subSamples[i];
        history[blockStart + i + historyLength] = subSamples[i];
    }

    // Only the two FIR outputs that the half-band needs are computed: the one
    // aligned with the last sub-sample (later) and the one aligned with the
    // eighth (earlier). Reads go backward from the upper copy, so all 80 taps
    // are contiguous; the lowest index reached is 128 + 7 - 79.
    const double* laterNewest = history + historyLength + blockStart + factor - 1;
    const double* earlierNewest = history + historyLength + blockStart + firPhases - 1;
    double later = interpolationFir[0] * laterNewest[0];
    double earlier = interpolationFir[0] * earlierNewest[0];
    for (int k = 1; k < firLength; ++k) {
        later += interpolationFir[k] * laterNewest[-k];
        earlier += interpolationFir[k] * earlierNewest[-k];
    }

    position = (blockStart + factor) & historyMask;

    // Branch A takes the later 2x sample, branch B the earlier one.
    runAllpassBranches(later, earlier);
    return (later + earlier) * 0.5;
}

// The FIR taps, each repeated in both lanes, for the paired operations.
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

inline LanePair Oversampler::tapPair(int k)
{
    return LanePair::loadAligned(oversamplerTapPairs.taps[k]);
}

inline LanePair Oversampler::runAllpassBranchPair(LanePair branches)
{
    for (int section = 0; section < allpassSectionsPerBranch; ++section) {
        const int k = 2 * section;
        const LanePair x = branches;
        const LanePair y = LanePair::load(halfBandAllpass + k) * (x - LanePair::load(allpassOutput + k)) +
                           LanePair::load(allpassInput + k);
        x.store(allpassInput + k);
        y.store(allpassOutput + k);
        branches = y;
    }
    return branches;
}

inline void Oversampler::upsample16Pair(Oversampler& lane0, Oversampler& lane1, LanePair x, LanePair* subSamples)
{
    x = x * LanePair::both(8.0);

    // Per object: A (earlier) and B (later) from the same input, stored as
    // upsample16 stores them.
    Oversampler* objects[2] = {&lane0, &lane1};
    const double* newest[2];
    for (int lane = 0; lane < 2; ++lane) {
        Oversampler& object = *objects[lane];
        const LanePair earlierLater = object.runAllpassBranchPair(LanePair::both(x.lane(lane)));
        object.position = (object.position + historyLength - 2) & (historyLength - 2);
        double* slot = object.history + object.position;
        earlierLater.scatter(slot[1], slot[0]);
        earlierLater.scatter(slot[1 + historyLength], slot[historyLength]);
        newest[lane] = slot;
    }

    // recent[i] holds both objects' 2x samples i steps back from the newest.
    LanePair recent[tapsPerPhase + 1];
    for (int i = 0; i <= tapsPerPhase; ++i)
        recent[i] = LanePair::gather(newest[0][i], newest[1][i]);

    // Each sub-sample's sum runs tap by tap in upsample16's order.
    for (int j = 0; j < firPhases; ++j) {
        LanePair fromEarlier = tapPair(j) * recent[1];
        LanePair fromLater = tapPair(j) * recent[0];
        for (int i = 1; i < tapsPerPhase; ++i) {
            fromEarlier = fromEarlier + tapPair(firPhases * i + j) * recent[i + 1];
            fromLater = fromLater + tapPair(firPhases * i + j) * recent[i];
        }
        subSamples[j] = fromEarlier;
        subSamples[firPhases + j] = fromLater;
    }
}

inline LanePair Oversampler::downsample16Pair(Oversampler& lane0, Oversampler& lane1, const LanePair* subSamples)
{
    const int blockStart0 = lane0.position & (historyLength - factor);
    const int blockStart1 = lane1.position & (historyLength - factor);
    double* block0 = lane0.history + blockStart0;
    double* block1 = lane1.history + blockStart1;
    // Two sub-samples at a time, turned into two consecutive samples of each lane.
    for (int i = 0; i < factor; i += 2) {
        LanePair lane0Samples = subSamples[i];
        LanePair lane1Samples = subSamples[i + 1];
        transpose(lane0Samples, lane1Samples);
        lane0Samples.store(block0 + i);
        lane0Samples.store(block0 + i + historyLength);
        lane1Samples.store(block1 + i);
        lane1Samples.store(block1 + i + historyLength);
    }

    const double* laterNewest0 = block0 + historyLength + factor - 1;
    const double* laterNewest1 = block1 + historyLength + factor - 1;
    const double* earlierNewest0 = block0 + historyLength + firPhases - 1;
    const double* earlierNewest1 = block1 + historyLength + firPhases - 1;
    LanePair later = tapPair(0) * LanePair::gather(laterNewest0[0], laterNewest1[0]);
    LanePair earlier = tapPair(0) * LanePair::gather(earlierNewest0[0], earlierNewest1[0]);
    auto addTap = [&](int k) {
        later = later + tapPair(k) * LanePair::gather(laterNewest0[-k], laterNewest1[-k]);
        earlier = earlier + tapPair(k) * LanePair::gather(earlierNewest0[-k], earlierNewest1[-k]);
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
    lane0.position = (blockStart0 + factor) & historyMask;
    lane1.position = (blockStart1 + factor) & historyMask;

    // Per object: branch A takes the later 2x sample, branch B the earlier.
    LanePair branches0 = later;
    LanePair branches1 = earlier;
    transpose(branches0, branches1);
    branches0 = lane0.runAllpassBranchPair(branches0);
    branches1 = lane1.runAllpassBranchPair(branches1);
    return LanePair::of((branches0.lane0() + branches0.lane1()) * 0.5, (branches1.lane0() + branches1.lane1()) * 0.5);
}
