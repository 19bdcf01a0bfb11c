#include "gui/editor/DisplayScale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

TEST(DisplayScale, MeterValuesFollowTheSegmentScale)
{
    EXPECT_EQ(meterValueOf(1.0, kInputMeterOffsetDb), 95);      // 22 of 23 segments at full scale
    EXPECT_EQ(meterValueOf(1.000001, kInputMeterOffsetDb), 96); // just above: all 23
    EXPECT_EQ(meterValueOf(0.0, kInputMeterOffsetDb), 0);
    EXPECT_EQ(meterValueOf(-0.5, kInputMeterOffsetDb), 0);
    EXPECT_EQ(meterValueOf(1e-19, kInputMeterOffsetDb), 0);
    EXPECT_EQ(meterValueOf(1000.0, kOutputMeterOffsetDb), 100);
    EXPECT_EQ(meterValueOf(std::nan(""), kInputMeterOffsetDb), 0);
    EXPECT_EQ(meterValueOf(std::numeric_limits<double>::infinity(), kInputMeterOffsetDb), 100);
    // The output meter reads 20 dB lower.
    EXPECT_NEAR(meterValueOf(10.0, kOutputMeterOffsetDb), meterValueOf(1.0, kInputMeterOffsetDb), 1);
    // The input meter starts lighting (value 5, the first segment) at about -35 dB.
    EXPECT_LT(meterValueOf(std::pow(10.0, -36.0 / 20.0), kInputMeterOffsetDb), 5);
    EXPECT_GE(meterValueOf(std::pow(10.0, -34.0 / 20.0), kInputMeterOffsetDb), 5);
    int previous = 0;
    for (double db = -120.0; db <= 30.0; db += 0.25) {
        const int value = meterValueOf(std::pow(10.0, db / 20.0), kInputMeterOffsetDb);
        EXPECT_GE(value, previous);
        previous = value;
    }
}

TEST(DisplayScale, ResponseCurveSpansThePlot)
{
    auto [x0, y0] = responseCurvePoint(0, 0.0);
    EXPECT_FLOAT_EQ(x0, -1.0f);
    EXPECT_FLOAT_EQ(y0, 0.0f); // 0 dB on the middle row
    auto [x172, top] = responseCurvePoint(172, 20.0);
    EXPECT_NEAR(x172, 1.0f, 1e-6f);
    EXPECT_FLOAT_EQ(top, -1.0f); // +20 dB at the top edge
    EXPECT_FLOAT_EQ(responseCurvePoint(5, -20.0).second, 1.0f);
    EXPECT_FLOAT_EQ(responseCurvePoint(5, -35.0).second, 1.0f); // held at the bottom edge
    EXPECT_FLOAT_EQ(responseCurvePoint(5, std::nan("")).second, 1.0f);
}

// The selector rings show the step the sound uses, for every factory value.
TEST(DisplayScale, SelectorRingsShowTheParametersStep)
{
    const float characters[] = {0.0f, 1.0f / 6.0f, 1.0f / 3.0f, 0.5f, 2.0f / 3.0f, 1.0f, 0.8333f, 0.16f};
    for (float character : characters) {
        const int value = selectorValueFor(character, 6);
        EXPECT_EQ(std::min(static_cast<int>(static_cast<float>(value) * 0.01f * 6.0f), 5),
                  std::min(static_cast<int>(6.0 * character), 5))
            << character;
    }
    for (float mode : {0.0f, 0.25f, 0.5f, 0.75f, 1.0f, 0.3333f}) {
        const int value = selectorValueFor(mode, 4);
        EXPECT_EQ(std::min(static_cast<int>(static_cast<float>(value) * 0.01f * 4.0f), 3),
                  std::min(static_cast<int>(4.0 * mode), 3))
            << mode;
    }
    // Where truncation already agrees, the value is the plain percentage.
    EXPECT_EQ(selectorValueFor(0.5f, 6), 50);
    EXPECT_EQ(selectorValueFor(0.8f, 6), 80);
    EXPECT_EQ(selectorValueFor(2.0f / 3.0f, 6), 67);
}

} // namespace
