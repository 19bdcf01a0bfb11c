#pragma once

#include "dsp/LanePair.h"
#include "dsp/TriodeStage.h"

#include <array>

// The triode stage's per-sample shaping for two lanes at once (in the engine:
// the left and the right channel); each lane gives bit for bit what
// TriodeStage::shapeSample gives for that lane's input and cathode.
//
// It reads a repacked copy of the stage's three tables: for every node, the
// four numbers of the Catmull-Rom segment that starts there (y0 and c1, c2,
// c3, formed from the clamped neighbours exactly as the stage forms them on
// every read). They depend on the node alone, so forming them once per
// rebuild changes no result; a read becomes one fetch of the node's segment
// per lane and the Horner step. The two plate tables are read at one
// position, so their segments sit side by side.
class TriodePairShaper {
public:
    // Copies the stage's tables and constants; call after every
    // rebuildTables. Coefficient-update time (about 1500 table entries), no
    // allocation, no maths library.
    void build(const TriodeStage& stage);

    // One stage sample per lane: input voltages in volts; each lane's cathode
    // voltage is read and advanced, its plate voltage receives the output,
    // which is also returned. Audio thread; realtime safe.
    LanePair shapeSample(LanePair input, LanePair& cathode, LanePair& plate) const;

private:
    struct Segment {
        double y0, c1, c2, c3;
    };
    struct PlateSegments {
        Segment low, high;
    };

    // Catmull-Rom: value = y0 + f (c1 + f (c2 + f c3)) with the node's segment.
    static LanePair evaluate(const Segment& lane0, const Segment& lane1, LanePair fraction);
    // The table position of each lane, clamped as the stage clamps it: node
    // indices and the fraction beyond them.
    static LanePair locate(LanePair position, int& node0, int& node1);

    std::array<PlateSegments, TriodeStage::tableSize> plateSegments{};
    std::array<Segment, TriodeStage::tableSize> cathodeSegments{};
    // The stage's s, sc and k, each stored for both lanes (one load per use).
    double thresholdShift[2] = {0.0, 0.0};
    double cathodeInputShift[2] = {0.0, 0.0};
    double cathodeDecay[2] = {0.0, 0.0};
};

inline LanePair TriodePairShaper::evaluate(const Segment& lane0, const Segment& lane1, LanePair fraction)
{
    LanePair y0, c1, c2, c3;
    gatherAdjacent(&lane0.y0, &lane1.y0, y0, c1);
    gatherAdjacent(&lane0.c2, &lane1.c2, c2, c3);
    const LanePair f = fraction;
    return y0 + f * (c1 + f * (c2 + f * c3));
}

inline LanePair TriodePairShaper::locate(LanePair position, int& node0, int& node1)
{
    // NaN fails the first comparison and lands on 0, as in the stage.
    position = lessOr(greaterOr(position, LanePair::both(0.0)), LanePair::both(1.0));
    const LanePair scaled = LanePair::both(TriodeStage::lastTableIndex) * position;
    return scaled - truncateLanes(scaled, node0, node1);
}

inline LanePair TriodePairShaper::shapeSample(LanePair input, LanePair& cathode, LanePair& plate) const
{
    const LanePair probe = LanePair::both(TriodeStage::probeCathodeVoltage);
    const LanePair probeSpan = LanePair::both(2.0 * TriodeStage::probeCathodeVoltage);
    const LanePair inputSpan = LanePair::both(TriodeStage::inputSpan);
    const LanePair positionSpan = LanePair::both(2.0 * TriodeStage::inputSpan);

    const LanePair weightLow = (probe - cathode) / probeSpan;
    const LanePair weightHigh = LanePair::both(1.0) - weightLow;

    int node0, node1;
    const LanePair plateFraction =
        locate((input - LanePair::load(thresholdShift) * cathode + inputSpan) / positionSpan, node0, node1);
    const PlateSegments& plate0 = plateSegments[static_cast<unsigned>(node0)];
    const PlateSegments& plate1 = plateSegments[static_cast<unsigned>(node1)];
    const LanePair plateLow = evaluate(plate0.low, plate1.low, plateFraction);
    const LanePair plateHigh = evaluate(plate0.high, plate1.high, plateFraction);
    const LanePair output = plateHigh * weightHigh + plateLow * weightLow;
    plate = output;

    const LanePair cathodeFraction =
        locate((input + LanePair::load(cathodeInputShift) * cathode + inputSpan) / positionSpan, node0, node1);
    const LanePair cathodeStep = evaluate(cathodeSegments[static_cast<unsigned>(node0)],
                                          cathodeSegments[static_cast<unsigned>(node1)], cathodeFraction);
    cathode = cathode + LanePair::load(cathodeDecay) * cathode + cathodeStep;
    return output;
}
