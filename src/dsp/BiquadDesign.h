#pragma once

#include "dsp/BiquadSection.h"

// Second-order section designs after the Audio EQ Cookbook, every coefficient
// divided by a0. Pure functions of their arguments; they call the maths
// library, so they belong in coefficient updates, never in per-sample code.
// They do not allocate and may run on any thread.
//
// Arguments shared by all designs:
//   w0    corner or centre angle in radians per sample, 2π·f0/fs;
//   alpha sin(w0)/(2Q), formed by the caller (the callers differ in how they
//         form 1/(2Q), and the rounding of that step is part of their design);
//   amplitude  A = 10^(G/40) for a gain of G dB, see cookbookAmplitude.
//
// Degenerate corners: a corner within cornerGuardAngle of 0 Hz (high-pass) or
// of the Nyquist angle π, or past it (every other kind), yields a
// pass-through. In those limits the cookbook transfer function tends to 1,
// while its poles reach or cross the unit circle, where the direct-form
// memory would grow without bound.

// 2π as every design here forms its angles from it.
constexpr double cookbookTwoPi = 6.283185307179586;

// Corners closer than this (radians per sample) to 0 or π count as sitting on
// them: 1e-6 leaves the poles about 1e-12 inside the unit circle, three orders
// of magnitude clear of the rounding in a1 and a2.
constexpr double cornerGuardAngle = 1e-6;

// A = 10^(G·0.025) for a section gain of G dB.
double cookbookAmplitude(double gainDb);

// Linear gain 10^(dB·0.05).
double decibelsToGain(double gainDb);

BiquadCoefficients designPeaking(double w0, double alpha, double amplitude);

// High shelf with its slope set through Q (no shelf-slope form).
BiquadCoefficients designHighShelf(double w0, double alpha, double amplitude);

// Corner must lie below π; corners at or near 0 give a pass-through.
BiquadCoefficients designHighPass(double w0, double alpha);

// Corner must lie above 0; corners at, near or past π give a pass-through.
BiquadCoefficients designLowPass(double w0, double alpha);
