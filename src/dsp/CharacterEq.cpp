#include "dsp/CharacterEq.h"

#include "dsp/BiquadDesign.h"

#include <cmath>

namespace {

enum class SectionKind { peaking, highShelf, highPass, lowPass };

// One section of a shape. Corner and gain move linearly with the amount a:
// f0 = cornerHz + cornerHzPerAmount·a, G = gainDbPerAmount·a.
struct ShapeSection {
    SectionKind kind;
    double cornerHz;
    double cornerHzPerAmount;
    double halfInverseQ; // 1/(2Q): α is sin w0 times this constant
    double gainDbPerAmount;
};

struct CharacterShape {
    int sectionCount;
    ShapeSection sections[eqMaxActiveSections];
    double makeupDbPerAmount;
};

constexpr double halfInverse(double q)
{
    return 1.0 / (2.0 * q);
}

constexpr ShapeSection unusedSection{SectionKind::peaking, 0.0, 0.0, 0.0, 0.0};

constexpr CharacterShape characterShapes[characterShapeCount] = {
    // "Shrill": a presence dip under a strong treble shelf.
    {2,
     {{SectionKind::peaking, 2400.0, 0.0, halfInverse(1.12), -4.3},
      {SectionKind::highShelf, 4000.0, 0.0, halfInverse(0.8), 12.0}},
     0.0},
    // "Bright": a broad lift from 1 kHz up.
    {1, {{SectionKind::highShelf, 1000.0, 0.0, halfInverse(0.5), 8.2}, unusedSection}, 0.0},
    // "Tight": an overdamped high-pass up to 50 Hz, the lost level made up.
    {1, {{SectionKind::highPass, 0.0, 50.0, halfInverse(0.15), 0.0}, unusedSection}, 4.0},
    // "Flat".
    {0, {unusedSection, unusedSection}, 0.0},
    // "Fat": a wide low-mid hump that climbs with the amount, a little air.
    {2,
     {{SectionKind::peaking, 800.0, 200.0, halfInverse(0.35), 10.0},
      {SectionKind::highShelf, 6000.0, 0.0, halfInverse(0.54), 2.6}},
     -1.5},
    // "Warm": a gentle low-mid lift and a low-pass that closes from 18 kHz to 1900 Hz.
    {2,
     {{SectionKind::peaking, 400.0, 0.0, halfInverse(0.25), 3.0},
      {SectionKind::lowPass, 18000.0, -16100.0, halfInverse(1.0), 0.0}},
     0.0},
};

constexpr int flatShapeIndex = 3;

BiquadCoefficients designShapeSection(const ShapeSection& section, double amount, double radiansPerHz)
{
    const double w0 = radiansPerHz * (section.cornerHz + section.cornerHzPerAmount * amount);
    const double alpha = std::sin(w0) * section.halfInverseQ;
    switch (section.kind) {
    case SectionKind::peaking:
        return designPeaking(w0, alpha, cookbookAmplitude(section.gainDbPerAmount * amount));
    case SectionKind::highShelf:
        return designHighShelf(w0, alpha, cookbookAmplitude(section.gainDbPerAmount * amount));
    case SectionKind::highPass:
        return designHighPass(w0, alpha);
    case SectionKind::lowPass:
        return designLowPass(w0, alpha);
    }
    return {};
}

} // namespace

CharacterEqDesign designCharacterEq(int characterIndex, double amount, double stageRate)
{
    const unsigned shapeIndex = static_cast<unsigned>(characterIndex) < characterShapeCount
                                    ? static_cast<unsigned>(characterIndex)
                                    : flatShapeIndex;
    const CharacterShape& shape = characterShapes[shapeIndex];
    const double radiansPerHz = cookbookTwoPi / stageRate;

    CharacterEqDesign design;
    for (int i = 0; i < shape.sectionCount; ++i)
        design.sections[i] = designShapeSection(shape.sections[i], amount, radiansPerHz);
    design.eqSectionCount = shape.sectionCount;
    design.eqMakeupGain = decibelsToGain(shape.makeupDbPerAmount * amount);
    return design;
}

void shareFirstChannelMemory(const CharacterEqDesign& design, const CharacterEqMemory& first, CharacterEqMemory& second)
{
    for (int i = 0; i < design.eqSectionCount; ++i)
        second[static_cast<std::size_t>(i)] = first[static_cast<std::size_t>(i)];
}
