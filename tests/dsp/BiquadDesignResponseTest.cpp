#include "dsp/BiquadDesign.h"

#include <gtest/gtest.h>

#include <cmath>

// A high-pass at 0 Hz, and sections at or past the Nyquist angle (low host
// rates), would put poles on or outside the unit circle: they come out as
// exact pass-throughs, and corners just inside the guard are still stable.
TEST(BiquadDesign, DegenerateCornersPassThroughAndNearOnesStayStable)
{
    const double pi = cookbookTwoPi / 2;
    const double warmAt32k = cookbookTwoPi * 18000 / 32000;
    const double warmAt8k = cookbookTwoPi * 18000 / 8000; // aliases to a plausible-looking angle
    const BiquadCoefficients degenerate[] = {
        designHighPass(0.0, 0.0),
        designHighPass(1e-9, 1e-9 / 0.3),
        designLowPass(pi, 0.0),
        designLowPass(warmAt32k, std::sin(warmAt32k) / 2),
        designLowPass(warmAt8k, std::sin(warmAt8k) / 2),
        designPeaking(4.0, std::sin(4.0), cookbookAmplitude(6.0)),
        designHighShelf(4.0, std::sin(4.0), cookbookAmplitude(6.0)),
    };
    for (const BiquadCoefficients& c : degenerate) {
        BiquadMemory memory;
        for (double x : {1.0, -0.5, 0.25, 0.0})
            EXPECT_EQ(processBiquad(x, c, memory), x);
    }

    // Jury's conditions: both poles strictly inside the unit circle.
    auto stable = [](const BiquadCoefficients& c) {
        return 1.0 + c.a1 + c.a2 > 0.0 && 1.0 - c.a1 + c.a2 > 0.0 && std::fabs(c.a2) < 1.0;
    };
    const double low = 2 * cornerGuardAngle, high = pi - 2 * cornerGuardAngle;
    EXPECT_TRUE(stable(designHighPass(low, std::sin(low) / 0.3)));
    EXPECT_TRUE(stable(designLowPass(high, std::sin(high) / 2)));
    EXPECT_TRUE(stable(designPeaking(high, std::sin(high), cookbookAmplitude(-12.0))));
    EXPECT_TRUE(stable(designHighShelf(high, std::sin(high), cookbookAmplitude(12.0))));
}
