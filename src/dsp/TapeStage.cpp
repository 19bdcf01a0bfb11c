#include "dsp/TapeStage.h"

#include "dsp/BiquadDesign.h"

#include <algorithm>
#include <cmath>

namespace {

// The level-dependent tone shape, e being the envelope limited to 6.
// Loud passages pull the 7 kHz shelf down and broaden it; the 3350 Hz peak
// dips a little more between e = 1 and 3.
double toneShelfQ(double e)
{
    if (e > 3.6)
        return 0.119616;
    if (e > 0.997)
        return 0.1304 * e - 0.0869 * e * e + 0.7764;
    return 0.82;
}

double toneShelfGainDb(double e)
{
    return 0.8731 - (0.1544 * e + 0.1388 * e * e);
}

double tonePeakGainDb(double e)
{
    if (e > 1.0 && e < 3.0)
        return 0.1722 * e * e - 0.7167 * e + 0.4445;
    return -0.1;
}

constexpr double maxToneEnvelope = 6.0;

} // namespace

TapeDesign designTapeStage(double stageRate)
{
    TapeDesign design;
    design.stageRate = stageRate;
    design.attackCoeff = 1.0 - std::exp(-1.0 / (stageRate * 0.0001));
    design.releaseCoeff = 1.0 - std::exp(-1.0 / (stageRate * 0.02));
    design.redesignPeriod = stageRate * 0.005;

    const double radiansPerHz = cookbookTwoPi / stageRate;
    const double rumbleW0 = radiansPerHz * 19.0;
    design.lowEnd[0] = designHighPass(rumbleW0, std::sin(rumbleW0) * (1.0 / (2.0 * 1.08)));

    const double dipW0 = radiansPerHz * 55.0;
    design.lowEnd[1] = designPeaking(dipW0, std::sin(dipW0) * (1.0 / (2.0 * 1.17)), cookbookAmplitude(-4.0));

    const double bumpW0 = radiansPerHz * 59.0;
    design.lowEnd[2] = designPeaking(bumpW0, std::sin(bumpW0) * (1.0 / (2.0 * 1.7)), cookbookAmplitude(4.2));

    // 20 kHz taken through the tangent prewarp: about 20350 Hz at 44.1 kHz,
    // settling on 20 kHz at high stage rates.
    const double topCornerHz = 2.0 * stageRate * std::tan(20000.0 / (2.0 * stageRate));
    const double topW0 = radiansPerHz * topCornerHz;
    design.topCut = designLowPass(topW0, std::sin(topW0) * (1.0 / (2.0 * 0.86)));
    return design;
}

TapeTone designTapeTone(double envelope, double stageRate)
{
    const double e = std::min(envelope, maxToneEnvelope);
    const double radiansPerHz = cookbookTwoPi / stageRate;

    TapeTone tone;
    const double peakW0 = radiansPerHz * 3350.0;
    tone.peak = designPeaking(peakW0, 0.5 * std::sin(peakW0), cookbookAmplitude(tonePeakGainDb(e)));

    const double shelfW0 = radiansPerHz * 7000.0;
    tone.shelf =
        designHighShelf(shelfW0, std::sin(shelfW0) / (2.0 * toneShelfQ(e)), cookbookAmplitude(toneShelfGainDb(e)));
    return tone;
}

TapeStage::TapeStage()
{
    running.tone = designTapeTone(0.0, 44100.0);
}

void TapeStage::takeDesign(const TapeDesign& design)
{
    for (BiquadMemory& memory : running.lowEnd)
        memory = BiquadMemory{};
    running.post[0] = BiquadMemory{};
    running.tone = designTapeTone(running.envelope, design.stageRate);
}
