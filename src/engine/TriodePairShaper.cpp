#include "engine/TriodePairShaper.h"

namespace {

// The segment starting at node `at`, with the neighbours clamped to the
// table's ends and the coefficients in the stage's own order of operations.
template <typename Segment> Segment segmentAt(const TriodeStage::Table& table, int at)
{
    const int last = TriodeStage::lastTableIndex;
    const double yBelow = table[static_cast<unsigned>(at > 0 ? at - 1 : 0)];
    const double y0 = table[static_cast<unsigned>(at)];
    const double y1 = table[static_cast<unsigned>(at < last ? at + 1 : last)];
    const double y2 = table[static_cast<unsigned>(at + 2 < last ? at + 2 : last)];
    Segment segment;
    segment.y0 = y0;
    segment.c1 = 0.5 * (y1 - yBelow);
    segment.c2 = yBelow - 2.5 * y0 + 2.0 * y1 - 0.5 * y2;
    segment.c3 = 0.5 * (y2 - yBelow) + 1.5 * (y0 - y1);
    return segment;
}

} // namespace

void TriodePairShaper::build(const TriodeStage& stage)
{
    for (int at = 0; at < TriodeStage::tableSize; ++at) {
        PlateSegments& plate = plateSegments[static_cast<unsigned>(at)];
        plate.low = segmentAt<Segment>(stage.plateTableLow, at);
        plate.high = segmentAt<Segment>(stage.plateTableHigh, at);
        cathodeSegments[static_cast<unsigned>(at)] = segmentAt<Segment>(stage.cathodeStepTable, at);
    }
    for (int lane = 0; lane < 2; ++lane) {
        thresholdShift[lane] = stage.thresholdShift;
        cathodeInputShift[lane] = stage.cathodeInputShift;
        cathodeDecay[lane] = stage.cathodeDecay;
    }
}
