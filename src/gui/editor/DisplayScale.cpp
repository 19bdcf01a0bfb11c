#include "gui/editor/DisplayScale.h"

#include "effect/Parameters.h"

#include <cmath>

namespace {

constexpr double kMeterSlope = 2.608695652173913; // 60/23: 23 segments over 60 dB
// Rounds the scale so that full scale lands just inside the last segment.
const double kMeterRounding = std::ceil(95.65217391304348) - 95.65217391304348;

constexpr float kCurveOffsetDb = 20.0f;
constexpr float kCurveScale = 0.05f;
constexpr float kColumnStep = 0.0058139535f; // 1/172

} // namespace

int meterValueOf(double level, double offsetDb)
{
    const double levelDb = level > 0.0 ? 20.0 * std::log10(level) : -100.0;
    const double scaled = (levelDb + offsetDb) * kMeterSlope + kMeterRounding;
    if (!(scaled > 0.0))
        return 0;
    return scaled >= 100.0 ? 100 : static_cast<int>(scaled);
}

std::pair<float, float> responseCurvePoint(int i, double gainDb)
{
    float v = static_cast<float>(gainDb) + kCurveOffsetDb;
    if (!(v >= 0.0f))
        v = 0.0f;
    const float x = static_cast<float>(i) * 2.0f * kColumnStep - 1.0f;
    const float y = -(v * kCurveScale - 1.0f);
    return {x, y};
}

namespace {

// The segment a ring lights for a value, as the dial paints it.
int segmentOf(int value, int segments)
{
    const int segment = static_cast<int>(static_cast<float>(value) * 0.01f * static_cast<float>(segments));
    return segment < segments - 1 ? segment : segments - 1;
}

} // namespace

int selectorValueFor(float parameter, int segments)
{
    const double scaled = static_cast<double>(parameter) * 100.0;
    int value = scaled > 0.0 ? (scaled < 100.0 ? static_cast<int>(scaled) : 100) : 0;
    if (segments <= 0)
        return value;
    const int step = stepOf(parameter, segments);
    if (segmentOf(value, segments) == step)
        return value;
    value = 0;
    while (value < 100 && segmentOf(value, segments) < step)
        ++value;
    return value;
}
