// Two doubles side by side in one SSE2 register, so that one instruction
// serves two independent signals (in the engine: the left and the right
// channel). Every operation acts on each lane exactly as the scalar operator
// does on a double, with the same IEEE rounding: SSE2 has no fused
// multiply-add and nothing here reorders an expression, so a chain written on
// pairs in the scalar chain's order gives, lane by lane, bit for bit what the
// scalar chain gives. Plain SSE2 only, for the 32-bit build as well.
//
// Header-only and meant to be inlined into the per-sample loops; no
// allocation. Keep pairs in locals (the compiler aligns those) and read
// state through gather/load: heap objects on 32-bit Windows are only 8-byte
// aligned, so a LanePair member there would fault on aligned access.
#pragma once

#include <emmintrin.h>

#include <cmath>

struct LanePair {
    __m128d v;

    LanePair() = default;
    explicit LanePair(__m128d value) : v(value) {}

    static LanePair both(double x) { return LanePair(_mm_set1_pd(x)); }
    static LanePair of(double lane0, double lane1) { return LanePair(_mm_set_pd(lane1, lane0)); }
    // Two doubles from unrelated places, e.g. the same field of two objects.
    static LanePair gather(const double& lane0, const double& lane1)
    {
        return LanePair(_mm_loadh_pd(_mm_load_sd(&lane0), &lane1));
    }
    // Two adjacent doubles, [0] into lane 0; any alignment.
    static LanePair load(const double* pair) { return LanePair(_mm_loadu_pd(pair)); }
    // The same from a 16-byte aligned address (constant tables).
    static LanePair loadAligned(const double* pair) { return LanePair(_mm_load_pd(pair)); }

    double lane0() const { return _mm_cvtsd_f64(v); }
    double lane1() const { return _mm_cvtsd_f64(_mm_unpackhi_pd(v, v)); }
    double lane(int index) const { return index == 0 ? lane0() : lane1(); }
    void scatter(double& lane0Out, double& lane1Out) const
    {
        _mm_store_sd(&lane0Out, v);
        _mm_storeh_pd(&lane1Out, v);
    }
    void store(double* pair) const { _mm_storeu_pd(pair, v); }

    // Replaces one lane, keeping the other (for rare per-lane events).
    void setLane(int index, double x)
    {
        const __m128d value = _mm_set_sd(x);
        v = index == 0 ? _mm_move_sd(v, value) : _mm_unpacklo_pd(v, value);
    }
};

// Regroups two adjacent doubles read at each lane's own address:
// first = (lane0Source[0], lane1Source[0]), second = (lane0Source[1], lane1Source[1]).
// For table reads where each lane fetches its own entry.
inline void gatherAdjacent(const double* lane0Source, const double* lane1Source, LanePair& first, LanePair& second)
{
    const __m128d lane0 = _mm_loadu_pd(lane0Source);
    const __m128d lane1 = _mm_loadu_pd(lane1Source);
    first = LanePair(_mm_unpacklo_pd(lane0, lane1));
    second = LanePair(_mm_unpackhi_pd(lane0, lane1));
}

// Swaps the off-diagonal lanes of two pairs seen as a 2x2 matrix:
// (a0, a1), (b0, b1) become (a0, b0), (a1, b1). Turns two samples of a lane
// pair into two samples of each lane, and back.
inline void transpose(LanePair& a, LanePair& b)
{
    const __m128d first = _mm_unpacklo_pd(a.v, b.v);
    b = LanePair(_mm_unpackhi_pd(a.v, b.v));
    a = LanePair(first);
}

// The integer part of each lane (toward zero, as static_cast<int>), given as
// two ints and returned converted back to double. Lanes must lie in int range.
inline LanePair truncateLanes(LanePair x, int& lane0, int& lane1)
{
    const __m128i integers = _mm_cvttpd_epi32(x.v);
    lane0 = _mm_cvtsi128_si32(integers);
    lane1 = _mm_cvtsi128_si32(_mm_srli_si128(integers, 4));
    return LanePair(_mm_cvtepi32_pd(integers));
}

// A lane-wise truth value from a comparison: all ones or all zeros per lane.
struct LaneMask {
    __m128d bits;

    explicit LaneMask(__m128d value) : bits(value) {}

    bool any() const { return _mm_movemask_pd(bits) != 0; }
    bool lane(int index) const { return ((_mm_movemask_pd(bits) >> index) & 1) != 0; }
};

inline LanePair operator+(LanePair a, LanePair b)
{
    return LanePair(_mm_add_pd(a.v, b.v));
}
inline LanePair operator-(LanePair a, LanePair b)
{
    return LanePair(_mm_sub_pd(a.v, b.v));
}
inline LanePair operator*(LanePair a, LanePair b)
{
    return LanePair(_mm_mul_pd(a.v, b.v));
}
inline LanePair operator/(LanePair a, LanePair b)
{
    return LanePair(_mm_div_pd(a.v, b.v));
}
// Flips the sign bit only, as the scalar unary minus does.
inline LanePair operator-(LanePair a)
{
    return LanePair(_mm_xor_pd(a.v, _mm_set1_pd(-0.0)));
}

inline LaneMask operator<(LanePair a, LanePair b)
{
    return LaneMask(_mm_cmplt_pd(a.v, b.v));
}
inline LaneMask operator>(LanePair a, LanePair b)
{
    return LaneMask(_mm_cmpgt_pd(a.v, b.v));
}
inline LaneMask operator>=(LanePair a, LanePair b)
{
    return LaneMask(_mm_cmpge_pd(a.v, b.v));
}

// mask ? whenTrue : whenFalse, per lane.
inline LanePair select(LaneMask mask, LanePair whenTrue, LanePair whenFalse)
{
    return LanePair(_mm_or_pd(_mm_and_pd(mask.bits, whenTrue.v), _mm_andnot_pd(mask.bits, whenFalse.v)));
}

// Clears the sign bit, as std::fabs does (NaN stays NaN).
inline LanePair absolute(LanePair a)
{
    return LanePair(_mm_andnot_pd(_mm_set1_pd(-0.0), a.v));
}

// a > b ? a : b per lane, with the scalar ternary's answer b when either is
// NaN and for equal zeros of either sign (that is what MAXPD computes).
inline LanePair greaterOr(LanePair a, LanePair b)
{
    return LanePair(_mm_max_pd(a.v, b.v));
}
// a < b ? a : b per lane, likewise b for NaN and equal zeros (MINPD).
inline LanePair lessOr(LanePair a, LanePair b)
{
    return LanePair(_mm_min_pd(a.v, b.v));
}

// The same operations on a plain double, so that one body written over the
// lane type serves one channel (double) and two (LanePair) alike.
inline double absolute(double a)
{
    return std::fabs(a);
}
inline double greaterOr(double a, double b)
{
    return a > b ? a : b;
}
inline double lessOr(double a, double b)
{
    return a < b ? a : b;
}
inline double select(bool mask, double whenTrue, double whenFalse)
{
    return mask ? whenTrue : whenFalse;
}
inline double truncateLanes(double x, int& lane0, int& lane1)
{
    lane0 = static_cast<int>(x);
    lane1 = lane0;
    return lane0;
}
inline void gatherAdjacent(const double* lane0Source, const double*, double& first, double& second)
{
    first = lane0Source[0];
    second = lane0Source[1];
}

// What a body over the lane type needs to know of it: how many channels it
// carries, and how it meets per-channel state kept as plain doubles. For a
// double the second channel's arguments are ignored.
template <typename Lane> struct Lanes;

template <> struct Lanes<double> {
    static constexpr int count = 1;
    static double both(double x) { return x; }
    static double gather(const double& lane0, const double&) { return lane0; }
    static void scatter(double value, double& lane0, double&) { lane0 = value; }
    static double lane(double value, int) { return value; }
    static void setLane(double& value, int, double x) { value = x; }
    static bool any(bool mask) { return mask; }
    static bool lane(bool mask, int) { return mask; }
};

template <> struct Lanes<LanePair> {
    static constexpr int count = 2;
    static LanePair both(double x) { return LanePair::both(x); }
    static LanePair gather(const double& lane0, const double& lane1) { return LanePair::gather(lane0, lane1); }
    static void scatter(LanePair value, double& lane0, double& lane1) { value.scatter(lane0, lane1); }
    static double lane(LanePair value, int index) { return value.lane(index); }
    static void setLane(LanePair& value, int index, double x) { value.setLane(index, x); }
    static bool any(LaneMask mask) { return mask.any(); }
    static bool lane(LaneMask mask, int index) { return mask.lane(index); }
};
