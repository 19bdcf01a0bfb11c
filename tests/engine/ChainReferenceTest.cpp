// The engine against an independent reference: the chain written out plainly,
// one sample of one channel at a time in double, from the behaviour the
// chain is meant to have, with its own filter designs, oversampler, table
// reader, stages and fade. Only the triode tables (the solved circuit) and
// the oversampler's coefficient tables are shared as data. Both must agree
// bit for bit over ragged runs, for every mode and both factors, on one lane
// (processRun) and on two (processStereoRun), so a change to any one
// stage's arithmetic shows here.
#include "engine/ProcessingEngine.h"
#include "support/SharedTriodeTables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr double kTwoPi = 6.283185307179586;

struct Coefficients {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
};
struct Section {
    Coefficients c;
    double w1 = 0, w2 = 0;
    double run(double x)
    {
        const double w = x - c.a1 * w1 - c.a2 * w2;
        const double y = c.b0 * w + c.b1 * w1 + c.b2 * w2;
        w2 = w1;
        w1 = w;
        return y;
    }
};

// Audio EQ Cookbook sections, every coefficient divided by a0.
Coefficients normalised(double b0, double b1, double b2, double a0, double a1, double a2)
{
    return {b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0};
}
Coefficients peaking(double w0, double alpha, double gainDb)
{
    const double a = std::pow(10.0, gainDb * 0.025), cs = std::cos(w0);
    return normalised(1 + alpha * a, -2 * cs, 1 - alpha * a, 1 + alpha / a, -2 * cs, 1 - alpha / a);
}
Coefficients highShelf(double w0, double alpha, double gainDb)
{
    const double a = std::pow(10.0, gainDb * 0.025), cs = std::cos(w0), root = 2 * std::sqrt(a) * alpha;
    return normalised(a * ((a + 1) + (a - 1) * cs + root), -2 * a * ((a - 1) + (a + 1) * cs),
                      a * ((a + 1) + (a - 1) * cs - root), (a + 1) - (a - 1) * cs + root, 2 * ((a - 1) - (a + 1) * cs),
                      (a + 1) - (a - 1) * cs - root);
}
Coefficients highPass(double w0, double alpha)
{
    const double cs = std::cos(w0);
    return normalised((1 + cs) / 2, -(1 + cs), (1 + cs) / 2, 1 + alpha, -2 * cs, 1 - alpha);
}
Coefficients lowPass(double w0, double alpha)
{
    const double cs = std::cos(w0);
    return normalised((1 - cs) / 2, 1 - cs, (1 - cs) / 2, 1 + alpha, -2 * cs, 1 - alpha);
}

// The six character shapes at amount a (amounts above 0 only: "Tight" at 0
// has no corner).
struct Equaliser {
    int count = 0;
    Coefficients slots[2];
    double makeup = 1;
};
Equaliser characterDesign(int shape, double a, double rate)
{
    const double k = kTwoPi / rate;
    auto alpha = [](double w0, double q) { return std::sin(w0) * (1.0 / (2.0 * q)); };
    Equaliser eq;
    double w0 = 0, w1 = 0;
    switch (shape) {
    case 0: // "Shrill"
        w0 = k * 2400, w1 = k * 4000;
        eq = {2, {peaking(w0, alpha(w0, 1.12), -4.3 * a), highShelf(w1, alpha(w1, 0.8), 12 * a)}, 1};
        break;
    case 1: // "Bright"
        w0 = k * 1000;
        eq = {1, {highShelf(w0, alpha(w0, 0.5), 8.2 * a), {}}, 1};
        break;
    case 2: // "Tight"
        w0 = k * (50 * a);
        eq = {1, {highPass(w0, alpha(w0, 0.15)), {}}, std::pow(10.0, 4 * a * 0.05)};
        break;
    case 4: // "Fat"
        w0 = k * (800 + 200 * a), w1 = k * 6000;
        eq = {2,
              {peaking(w0, alpha(w0, 0.35), 10 * a), highShelf(w1, alpha(w1, 0.54), 2.6 * a)},
              std::pow(10.0, -1.5 * a * 0.05)};
        break;
    case 5: // "Warm"
        w0 = k * 400, w1 = k * (18000 - 16100 * a);
        eq = {2, {peaking(w0, alpha(w0, 0.25), 3 * a), lowPass(w1, alpha(w1, 1.0))}, 1};
        break;
    default: // "Flat"
        break;
    }
    return eq;
}

// The 16x converter of one channel in one direction: the half-band pair of
// all-pass branches and the 80-tap FIR over a plain history of 2x samples
// (up) or 16x samples (down).
struct Converter {
    double allpassIn[8] = {}, allpassOut[8] = {};
    std::deque<double> history; // newest first

    Converter(std::size_t length) : history(length, 0.0) {}
    double branch(double x, int first)
    {
        for (int k = first; k < 8; k += 2) {
            const double y = Oversampler::halfBandAllpass[k] * (x - allpassOut[k]) + allpassIn[k];
            allpassIn[k] = x;
            allpassOut[k] = y;
            x = y;
        }
        return x;
    }
    // Sum over the taps h[first], h[first + step], ... of the history from `from` on.
    double fir(int first, int step, int taps, std::size_t from) const
    {
        const double* h = Oversampler::interpolationFir;
        double sum = h[first] * history[from];
        for (int i = 1; i < taps; ++i)
            sum = sum + h[first + step * i] * history[from + static_cast<std::size_t>(i)];
        return sum;
    }
    void up(double x, double* out)
    {
        x = x * 8;
        const double earlier = branch(x, 0), later = branch(x, 1);
        history.push_front(earlier);
        history.push_front(later);
        history.resize(12);
        for (int j = 0; j < 8; ++j) {
            out[j] = fir(j, 8, 10, 1);
            out[8 + j] = fir(j, 8, 10, 0);
        }
    }
    double down(const double* in)
    {
        for (int i = 0; i < 16; ++i)
            history.push_front(in[i]);
        history.resize(88); // the earlier sum reaches 87 samples back
        const double a = branch(fir(0, 1, 80, 0), 0);
        const double b = branch(fir(0, 1, 80, 8), 1);
        return (a + b) * 0.5;
    }
};

// Catmull-Rom on 513 points at position p in [0, 1].
double readTable(const TriodeTables::Table& y, double p)
{
    p = p < 0 ? 0 : (p > 1 ? 1 : p);
    const double t = 512 * p;
    const int i = static_cast<int>(t);
    const double f = t - i;
    if (f <= 0)
        return y[static_cast<std::size_t>(i)];
    const double ym = y[static_cast<std::size_t>(std::max(i - 1, 0))], y0 = y[static_cast<std::size_t>(i)];
    const double y1 = y[static_cast<std::size_t>(i + 1)], y2 = y[static_cast<std::size_t>(std::min(i + 2, 512))];
    const double c1 = 0.5 * (y1 - ym), c2 = ym - 2.5 * y0 + 2 * y1 - 0.5 * y2, c3 = 0.5 * (y2 - ym) + 1.5 * (y0 - y1);
    return y0 + f * (c1 + f * (c2 + f * c3));
}

struct Channel {
    double fast = 0, slow = 0;
    Section eq[2];
    double cathode = 0;
    Section pre[3], post[3];
    double envelope = 0, counter = 0;
    double held = 0;
    Converter up{12}, down{88};
};

class ReferenceChain {
public:
    ReferenceChain()
    {
        for (int n = 1; n <= 16; ++n) {
            tubeMakeup[n - 1] = 0.0173 * (0.02 * std::exp(0.08 * n) + 1.0 / n);
            tapeMakeup[n - 1] = 0.0225 * std::exp(0.08 * n) + 0.9 / n;
        }
    }

    void setEnabled(bool on)
    {
        if (on != enabled)
            fade = static_cast<int>(std::lround(factor * 128));
        enabled = on;
    }
    void setMode(int newMode)
    {
        if (newMode != mode)
            fade = static_cast<int>(std::lround(factor * 128));
        mode = newMode;
    }
    void setDrive(double d) { drive = d; }
    void setLevel(double g) { level = g; }
    void setCharacter(int shape, double amount)
    {
        character = shape;
        characterAmount = amount;
        redesignEqualiser();
    }
    void setRate(double hostRate, double newFactor, const PreparedTriodeTables& set)
    {
        rate = hostRate * newFactor;
        factor = newFactor;
        tables = &set.forFactor(factor);
        const double vq = TriodeTables::restCathodeVoltage;
        const double p0 = (150 - tables->thresholdShift() * vq) / 300;
        restOutput = readTable(tables->plateTableHigh(), p0) * (vq + 15) / 30 +
                     readTable(tables->plateTableLow(), p0) * (15 - vq) / 30;
        attack = 1 - std::exp(-1 / (rate * 0.0001));
        release = 1 - std::exp(-1 / (rate * 0.02));
        period = rate * 0.005;
        const double k = kTwoPi / rate;
        const double topCorner = 2 * rate * std::tan(20000 / (2 * rate));
        const Coefficients fixed[4] = {highPass(k * 19, std::sin(k * 19) * (1.0 / (2.0 * 1.08))),
                                       peaking(k * 55, std::sin(k * 55) * (1.0 / (2.0 * 1.17)), -4.0),
                                       peaking(k * 59, std::sin(k * 59) * (1.0 / (2.0 * 1.7)), 4.2),
                                       lowPass(k * topCorner, std::sin(k * topCorner) * (1.0 / (2.0 * 0.86)))};
        for (Channel& ch : channels) {
            ch.cathode = vq;
            for (int i = 0; i < 3; ++i)
                ch.pre[i] = {fixed[i]};
            ch.post[0] = {fixed[3]};
            redesignTone(ch);
        }
        fade = static_cast<int>(std::lround(factor * 128));
        redesignEqualiser();
    }
    void startFade() { fade = static_cast<int>(std::lround(factor * 128)); }

    void process(SampleRecord& r)
    {
        if (!enabled) {
            r.output = r.input;
            return;
        }
        if (factor < 1.5) {
            core(r);
            return;
        }
        Channel& ch = channels[r.channel];
        double sub[16], out[16];
        ch.up.up(r.input, sub);
        for (int i = 0; i < 16; ++i) {
            r.input = sub[i];
            core(r);
            out[i] = r.output;
        }
        r.output = ch.down.down(out);
    }

private:
    void redesignEqualiser()
    {
        eq = characterDesign(character, characterAmount, rate);
        for (int i = 0; i < eq.count; ++i) {
            channels[0].eq[i].c = eq.slots[i];
            channels[1].eq[i] = channels[0].eq[i]; // channel 1 carries on from channel 0's memory
        }
    }
    void redesignTone(Channel& ch) const
    {
        const double e = std::min(ch.envelope, 6.0), k = kTwoPi / rate;
        const double shelfQ = e > 3.6 ? 0.119616 : (e > 0.997 ? 0.1304 * e - 0.0869 * e * e + 0.7764 : 0.82);
        const double shelfDb = 0.8731 - (0.1544 * e + 0.1388 * e * e);
        const double peakDb = e > 1 && e < 3 ? 0.1722 * e * e - 0.7167 * e + 0.4445 : -0.1;
        ch.post[1].c = peaking(k * 3350, 0.5 * std::sin(k * 3350), peakDb);
        ch.post[2].c = highShelf(k * 7000, std::sin(k * 7000) / (2 * shelfQ), shelfDb);
    }
    double makeup(const double* table) const
    {
        const int n = static_cast<int>(drive);
        const double f = drive - n;
        return (1 - f) * table[n - 1] + f * table[n];
    }
    double tape(Channel& ch, double x, double& preClip, double& clipped)
    {
        const double t = std::fabs(x) * drive;
        ch.envelope += (t - ch.envelope) * (t >= ch.envelope ? attack : release);
        ch.counter += 1;
        if (ch.counter - period >= 0) {
            ch.counter -= period;
            redesignTone(ch);
        }
        preClip = ch.pre[2].run(ch.pre[1].run(ch.pre[0].run(x)));
        double q = preClip * drive * 0.17 + 0;
        if (q < -0.25)
            q = (q + 0.0625) / (0.5 - q);
        else if (q > 0.25)
            q = (q - 0.0625) / (q + 0.5);
        clipped = q * (1.0 / 0.17);
        return ch.post[2].run(ch.post[1].run(ch.post[0].run(clipped)));
    }
    double triode(Channel& ch, double u)
    {
        const double vc = ch.cathode;
        const double wLow = (15 - vc) / 30, wHigh = 1 - wLow;
        const double p = (u - tables->thresholdShift() * vc + 150) / 300;
        const double out =
            readTable(tables->plateTableHigh(), p) * wHigh + readTable(tables->plateTableLow(), p) * wLow;
        const double d = readTable(tables->cathodeStepTable(), (u + tables->cathodeInputShift() * vc + 150) / 300);
        ch.cathode = vc + tables->cathodeDecay() * vc + d;
        return out;
    }
    void core(SampleRecord& r)
    {
        Channel& ch = channels[r.channel];
        double x = r.input;
        ch.fast = ch.fast + (std::fabs(x) - ch.fast) * 0.001;
        ch.slow = ch.slow + (std::fabs(x) - ch.slow) * 0.0001;
        const double e = ch.fast > ch.slow ? ch.fast : ch.slow;
        if (e > 1.0)
            x = x / e;
        for (int i = 0; i < eq.count; ++i)
            x = ch.eq[i].run(x);
        double t = eq.makeup * x;
        r.tubeX = r.tubeY = r.tapeX = r.tapeY = 0;
        if (mode == kModeTube || mode == kModeTubeThenTape) {
            r.tubeX = t * 0.6;
            noise = noise * 1664525u + 1013904223u;
            const double y = triode(ch, drive * t + noise * 1.1754943508222875e-38 * 1e16);
            t = -(y - restOutput) * makeup(tubeMakeup);
            r.tubeY = t * 0.6;
        }
        if (mode == kModeTape || mode == kModeTubeThenTape) {
            const double y = tape(ch, t, r.tapeX, r.tapeY);
            const double g = makeup(tapeMakeup);
            r.tapeY = g * 0.55 * r.tapeY;
            r.tapeX = r.tapeX * 0.5;
            t = y * g;
        }
        const double out = level * t;
        if (fade > 0) {
            --fade;
            const double a = fade / (factor * 128);
            r.output = (1 - a) * out + a * ch.held;
        } else {
            r.output = out;
            ch.held = out;
        }
    }

    bool enabled = false;
    int mode = 0, character = 3;
    double characterAmount = 0, drive = 1, level = 1, rate = 48000, factor = 1;
    double tubeMakeup[16], tapeMakeup[16];
    const TriodeTables* tables = nullptr;
    double restOutput = 0, attack = 0, release = 0, period = 0;
    Equaliser eq;
    Channel channels[2];
    int fade = 0;
    std::uint32_t noise = 0;
};

std::uint64_t bitsOf(double value)
{
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

::testing::AssertionResult sameRecord(const SampleRecord& expected, const SampleRecord& actual)
{
    const std::pair<const char*, double SampleRecord::*> fields[] = {
        {"output", &SampleRecord::output}, {"input", &SampleRecord::input}, {"tubeX", &SampleRecord::tubeX},
        {"tubeY", &SampleRecord::tubeY},   {"tapeX", &SampleRecord::tapeX}, {"tapeY", &SampleRecord::tapeY}};
    for (const auto& field : fields)
        if (bitsOf(expected.*field.second) != bitsOf(actual.*field.second))
            return ::testing::AssertionFailure()
                   << field.first << ": reference " << expected.*field.second << ", engine " << actual.*field.second;
    return ::testing::AssertionSuccess();
}

// A plucked tone per channel with harmonics, at `amplitude`.
double pluck(int channel, long frame, double amplitude)
{
    const double t = static_cast<double>(frame) / 44100.0;
    const double phase = kTwoPi * (channel == 0 ? 110.0 : 146.8) * t + 0.7 * channel;
    return amplitude * std::exp(-3.0 * std::fmod(t, 0.4)) *
           (std::sin(phase) + 0.5 * std::sin(2 * phase) + 0.25 * std::sin(3 * phase));
}

// Mode 0..3 and the oversampling factor.
class ChainReference : public ::testing::TestWithParam<std::tuple<int, int>> {
protected:
    template <typename Change> void configure(Change change)
    {
        change(*engine);
        change(reference);
    }

    // `frames` frames on channel 0 alone (stereo false) or on both, the
    // engine in ragged runs, the reference one sample at a time.
    ::testing::AssertionResult run(long frames, double amplitude, bool stereo)
    {
        std::vector<SampleRecord> left, right;
        for (long i = 0; i < frames; ++i) {
            left.push_back({pluck(0, frame + i, amplitude), 0, 0, 0, 0, 0, 0});
            right.push_back({pluck(1, frame + i, amplitude), 0, 1, 0, 0, 0, 0});
        }
        std::vector<SampleRecord> engineLeft = left, engineRight = right;
        for (long i = 0; i < frames; ++i) {
            reference.process(left[static_cast<std::size_t>(i)]);
            if (stereo)
                reference.process(right[static_cast<std::size_t>(i)]);
        }
        static constexpr long lengths[] = {1, 7, 16, 17, 33, 5, 2, 64};
        for (long start = 0; start < frames;) {
            const long length = std::min(frames - start, lengths[runIndex++ % 8]);
            const auto at = static_cast<std::size_t>(start);
            if (stereo)
                engine->processStereoRun(&engineLeft[at], &engineRight[at], static_cast<int>(length));
            else
                engine->processRun(&engineLeft[at], static_cast<int>(length));
            start += length;
        }
        for (long i = 0; i < frames; ++i, ++frame) {
            const auto k = static_cast<std::size_t>(i);
            auto result = sameRecord(left[k], engineLeft[k]);
            if (result && stereo)
                result = sameRecord(right[k], engineRight[k]);
            if (!result)
                return result << (stereo ? " (stereo)" : " (mono)") << " at frame " << frame;
        }
        return ::testing::AssertionSuccess();
    }

    std::unique_ptr<ProcessingEngine> engine = std::make_unique<ProcessingEngine>();
    ReferenceChain reference;
    long frame = 0;
    unsigned runIndex = 0;
};

TEST_P(ChainReference, EngineMatchesThePlainChainBitForBit)
{
    const int mode = std::get<0>(GetParam());
    const double factor = std::get<1>(GetParam());
    const long length = factor > 1 ? 600 : 3000; // host frames per phase
    configure([&](auto& chain) {
        chain.setDrive(3.5);
        chain.setLevel(1.4);
        chain.setEnabled(true);
        chain.setMode(mode);
        chain.setCharacter(4, 0.7); // "Fat": two sections and a make-up gain
    });
    engine->setChainRate(44100.0, factor, &sharedTriodeTables(44100.0));
    reference.setRate(44100.0, factor, sharedTriodeTables(44100.0));

    ASSERT_TRUE(run(length, 0.3, true));  // the rate's fade, then steady playing
    ASSERT_TRUE(run(length, 0.3, false)); // one lane: the channels' states part
    ASSERT_TRUE(run(length, 0.3, true));
    ASSERT_TRUE(run(length, 4.0, true)); // loud enough for the limiter to divide

    // Settings between runs: every shape, drive, level, a mode switch and
    // back, bypass and back, each with its fade.
    for (int shape = 0; shape < characterShapeCount; ++shape) {
        configure([&](auto& chain) {
            chain.setCharacter(shape, 0.2 + 0.13 * shape);
            chain.setDrive(1.0 + 1.6 * shape);
            chain.setLevel(0.6 + 0.3 * shape);
        });
        ASSERT_TRUE(run(length / 4, 0.5, shape % 2 == 0)) << "shape " << shape;
    }
    configure([&](auto& chain) { chain.setMode((mode + 1) % 4); });
    ASSERT_TRUE(run(length / 2, 0.3, true));
    configure([&](auto& chain) { chain.setMode(mode); });
    ASSERT_TRUE(run(length / 2, 0.3, false));
    configure([](auto& chain) { chain.setEnabled(false); });
    ASSERT_TRUE(run(length / 4, 0.3, true));
    configure([](auto& chain) { chain.setEnabled(true); });
    ASSERT_TRUE(run(length / 2, 0.0, true)); // silence

    // A new host rate: new tables, tape designs and equaliser, cathodes at rest.
    engine->setChainRate(48000.0, factor, &sharedTriodeTables(48000.0));
    reference.setRate(48000.0, factor, sharedTriodeTables(48000.0));
    ASSERT_TRUE(run(length, 0.3, true));
    configure([](auto& chain) { chain.startFade(); });
    ASSERT_TRUE(run(length / 2, 0.3, false));
}

INSTANTIATE_TEST_SUITE_P(EveryModeAtBothFactors, ChainReference,
                         ::testing::Combine(::testing::Values(0, 1, 2, 3), ::testing::Values(1, 16)),
                         [](const ::testing::TestParamInfo<std::tuple<int, int>>& info) {
                             return "mode" + std::to_string(std::get<0>(info.param)) + "x" +
                                    std::to_string(std::get<1>(info.param));
                         });

} // namespace
