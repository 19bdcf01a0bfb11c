#include "dsp/TapeStage.h"

#include "dsp/BiquadDesign.h"

#include <algorithm>

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

TapeStage::TapeStage()
{
    setStageRate(44100.0);
}

void TapeStage::setStageRate(double rate)
{
    stageRate = rate;
    attackCoeff = 1.0 - std::exp(-1.0 / (rate * 0.0001));
    releaseCoeff = 1.0 - std::exp(-1.0 / (rate * 0.02));
    redesignPeriod = rate * 0.005;
    designFixedFilters();
    designToneFilters();
}

void TapeStage::designFixedFilters()
{
    const double radiansPerHz = cookbookTwoPi / stageRate;

    const double rumbleW0 = radiansPerHz * 19.0;
    preFilters[0].setCoefficients(designHighPass(rumbleW0, std::sin(rumbleW0) * (1.0 / (2.0 * 1.08))));

    const double dipW0 = radiansPerHz * 55.0;
    preFilters[1].setCoefficients(
        designPeaking(dipW0, std::sin(dipW0) * (1.0 / (2.0 * 1.17)), cookbookAmplitude(-4.0)));

    const double bumpW0 = radiansPerHz * 59.0;
    preFilters[2].setCoefficients(
        designPeaking(bumpW0, std::sin(bumpW0) * (1.0 / (2.0 * 1.7)), cookbookAmplitude(4.2)));

    // 20 kHz taken through the tangent prewarp: about 20350 Hz at 44.1 kHz,
    // settling on 20 kHz at high stage rates.
    const double topCornerHz = 2.0 * stageRate * std::tan(20000.0 / (2.0 * stageRate));
    const double topW0 = radiansPerHz * topCornerHz;
    postFilters[0].setCoefficients(designLowPass(topW0, std::sin(topW0) * (1.0 / (2.0 * 0.86))));

    for (BiquadSection& section : preFilters)
        section.clearMemory();
    postFilters[0].clearMemory();
}

void TapeStage::designToneFilters()
{
    const double e = std::min(envelope, maxToneEnvelope);
    const double radiansPerHz = cookbookTwoPi / stageRate;

    const double peakW0 = radiansPerHz * 3350.0;
    postFilters[1].setCoefficients(designPeaking(peakW0, 0.5 * std::sin(peakW0), cookbookAmplitude(tonePeakGainDb(e))));

    const double shelfW0 = radiansPerHz * 7000.0;
    postFilters[2].setCoefficients(
        designHighShelf(shelfW0, std::sin(shelfW0) / (2.0 * toneShelfQ(e)), cookbookAmplitude(toneShelfGainDb(e))));
}
