#include "GuitarPhrase.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

constexpr double kPi = 3.141592653589793;

// A plucked string as a Karplus-Strong loop: a burst of filtered noise shaped
// like a pick attack circulates through a delay line with a gentle low-pass
// and loss, which gives the decaying, darkening tone of a real string. The
// fractional part of the delay is an all-pass, so the pitch is in tune.
class PluckedString {
public:
    PluckedString(double frequency, double sampleRate, double pickPosition, std::uint32_t seed, double loudness)
    {
        const double period = sampleRate / frequency - 0.5; // the averaging filter adds half a sample
        const auto length = static_cast<std::size_t>(period);
        const double fraction = period - static_cast<double>(length);
        allpassCoefficient = (1.0 - fraction) / (1.0 + fraction);
        line.assign(length, 0.0);
        // A pick excites a string most away from its nodes: a comb over the noise.
        const auto pickOffset = std::max<std::size_t>(1, static_cast<std::size_t>(pickPosition * length));
        std::vector<double> noise(length);
        std::uint32_t state = seed;
        double smoothed = 0.0;
        for (double& sample : noise) {
            state = state * 1664525u + 1013904223u;
            const double white = static_cast<double>(state) / 4294967296.0 * 2.0 - 1.0;
            smoothed += 0.5 * (white - smoothed); // a pick is not a click
            sample = smoothed;
        }
        for (std::size_t i = 0; i < length; ++i)
            line[i] = loudness * (noise[i] - (i >= pickOffset ? noise[i - pickOffset] : 0.0));
    }

    double next()
    {
        const double current = line[position];
        const double following = line[(position + 1) % line.size()];
        const double averaged = 0.4985 * (current + following); // loss and low-pass per round trip
        const double tuned = allpassCoefficient * (averaged - allpassOutput) + allpassInput;
        allpassInput = averaged;
        allpassOutput = tuned;
        line[position] = tuned;
        position = (position + 1) % line.size();
        return current;
    }

private:
    std::vector<double> line;
    std::size_t position = 0;
    double allpassCoefficient = 0.0;
    double allpassInput = 0.0;
    double allpassOutput = 0.0;
};

struct Note {
    double startSeconds;
    double midiNote;
    double loudness;
    double lengthSeconds; // then muted by the fretting hand
};

double frequencyOf(double midiNote)
{
    return 440.0 * std::pow(2.0, (midiNote - 69.0) / 12.0);
}

// An E minor pentatonic lick over the low E, then an open E major chord, strummed.
const Note kPhrase[] = {
    {0.00, 40, 1.0, 1.2},   {0.45, 52, 0.8, 0.4},  {0.75, 55, 0.8, 0.4},  {1.05, 57, 0.9, 0.35}, {1.35, 59, 0.85, 0.3},
    {1.60, 62, 0.9, 0.55},  {2.10, 64, 1.0, 1.0},  {3.00, 40, 1.0, 3.0},  {3.012, 47, 0.9, 3.0}, {3.024, 52, 0.9, 3.0},
    {3.036, 56, 0.85, 3.0}, {3.048, 59, 0.8, 3.0}, {3.060, 64, 0.8, 3.0},
};

} // namespace

std::vector<float> synthesizeGuitarPhrase(double sampleRate)
{
    const double totalSeconds = 6.5;
    std::vector<double> mix(static_cast<std::size_t>(totalSeconds * sampleRate), 0.0);
    std::uint32_t seed = 12345;
    for (const Note& note : kPhrase) {
        PluckedString string(frequencyOf(note.midiNote), sampleRate, 0.13, seed += 7919, note.loudness);
        const auto start = static_cast<std::size_t>(note.startSeconds * sampleRate);
        const auto muteAt = static_cast<std::size_t>(note.lengthSeconds * sampleRate);
        const auto muteLength = static_cast<std::size_t>(0.05 * sampleRate);
        for (std::size_t i = 0; start + i < mix.size(); ++i) {
            double gain = 1.0;
            if (i >= muteAt + muteLength)
                break;
            if (i >= muteAt)
                gain = 0.5 + 0.5 * std::cos(kPi * static_cast<double>(i - muteAt) / static_cast<double>(muteLength));
            mix[start + i] += gain * string.next();
        }
    }
    // A pickup and cable roll off the top a little: one gentle low-pass.
    const double coefficient = 1.0 - std::exp(-2.0 * kPi * 5000.0 / sampleRate);
    double state = 0.0;
    double peak = 0.0;
    for (double& sample : mix) {
        state += coefficient * (sample - state);
        sample = state;
        peak = std::max(peak, std::fabs(sample));
    }
    const double target = std::pow(10.0, -12.0 / 20.0);
    std::vector<float> phrase(mix.size());
    for (std::size_t i = 0; i < mix.size(); ++i)
        phrase[i] = static_cast<float>(mix[i] * (peak > 0.0 ? target / peak : 0.0));
    return phrase;
}
