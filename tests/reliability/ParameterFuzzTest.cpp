// Hostile parameter values, seeded so that a failure can be replayed.
#include "effect/Parameters.h"
#include "support/TestHost.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

TEST(ParameterFuzz, AnyValueIsStoredWithinTheUnitRangeAndDisplaysFitTheirField)
{
    HostedEffect host;
    host.set(kChannels, 1.0f);
    host.dispatch(effSetBlockSize, 0, 64);
    std::vector<float> left(64, 0.2f), right(64, -0.2f), outLeft(64), outRight(64);
    float* inputs[2] = {left.data(), right.data()};
    float* outputs[2] = {outLeft.data(), outRight.data()};

    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> values = {-1.0f, 2.0f, std::nanf(""), inf, -inf, -0.0f, 0.5f, 1e-45f, 0.99999994f};
    std::mt19937 random(20261208);
    std::uniform_real_distribution<float> wide(-3.0f, 4.0f);
    for (int i = 0; i < 10000; ++i)
        values.push_back(i % 3 ? wide(random) : std::uniform_real_distribution<float>(0.0f, 1.0f)(random));

    for (std::size_t n = 0; n < values.size(); ++n) {
        const auto index = static_cast<VstInt32>(random() % 8);
        host.set(index, values[n]);
        const float stored = host.get(index);
        ASSERT_TRUE(stored >= 0.0f && stored <= 1.0f) << "value " << values[n];

        unsigned char text[32];
        std::memset(text, 0xA5, sizeof(text));
        host.dispatch(effGetParamDisplay, index, 0, text);
        const auto length = strnlen(reinterpret_cast<const char*>(text), sizeof(text));
        ASSERT_LT(length, 8u) << "value " << values[n];
        for (std::size_t i = length + 1; i < sizeof(text); ++i)
            ASSERT_EQ(text[i], 0xA5) << "display of parameter " << index << " wrote past its terminator";

        if (n % 16 == 0) {
            host.effect->processReplacing(host.effect, inputs, outputs, 64);
            for (std::size_t i = 0; i < 64; ++i)
                ASSERT_TRUE(std::isfinite(outLeft[i]) && std::isfinite(outRight[i])) << "after value " << values[n];
        }
    }
}

} // namespace
