// How the editor turns levels and curve values into display positions.
// Portable arithmetic, so the rules are tested natively.
#pragma once

#include <utility>

// Meter zero points: the input meter's last segment sits just above 0 dBFS,
// the output meter's just above +20 dB.
constexpr double kInputMeterOffsetDb = 36.666666666666664;
constexpr double kOutputMeterOffsetDb = 16.666666666666668;

// The meter value (0..100) of a linear peak level; levels of 0 or below read
// as -100 dB.
int meterValueOf(double level, double offsetDb);

// Point i (0..172) of the response curve at gainDb, in the scope's -1..1
// coordinates: 0 dB on the middle row, +20 dB at the top edge, -20 dB at the
// bottom (lower values are held there), 20 Hz at the left.
std::pair<float, float> responseCurvePoint(int i, double gainDb);

// The ring value (0..100) a selector ring of `segments` shows for a stepped
// parameter: the value truncated to whole percent, unless that lands in
// another segment than the parameter's own step (2/3 reads 66, which a
// six-segment ring shows as step 3, not 4); then the first value of the
// parameter's segment.
int selectorValueFor(float parameter, int segments);
