#pragma once

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

private:
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
