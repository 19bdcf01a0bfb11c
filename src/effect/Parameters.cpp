#include "effect/Parameters.h"

#include <cstdio>

void formatParameterDisplay(int index, float value, char* text, int size)
{
    const ParameterInfo& info = kParameters[static_cast<std::size_t>(index)];
    const auto bytes = static_cast<std::size_t>(size);
    switch (info.display) {
    case DisplayRule::namedStep:
        std::snprintf(text, bytes, "%s", info.stepNames[parameterStep(index, value)]);
        break;
    case DisplayRule::scaled:
        std::snprintf(text, bytes, "%.2f", scaledValue(index, value));
        break;
    case DisplayRule::channelCount:
        std::snprintf(text, bytes, "%d", parameterStep(index, value) + 1);
        break;
    case DisplayRule::oversampling:
        std::snprintf(text, bytes, "%d", static_cast<int>(oversamplingFactorOf(value)));
        break;
    }
}
