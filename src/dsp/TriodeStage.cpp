#include "dsp/TriodeStage.h"

namespace {
// Input voltage of table node j: -150 V at node 0 to +150 V at the last node.
double gridInput(int j)
{
    const double span = TriodeTables::inputSpan;
    const double last = TriodeTables::lastTableIndex;
    return span * j / last - span * (last - j) / last;
}

// The plate falling to this share of the supply marks the start of conduction.
constexpr double conductionPlateShare = 0.95;
// Input of the second conduction probe, 7.5 V below the top of the range.
constexpr double slopeProbeInput = 142.5;

thread_local long tableBuilds = 0;
} // namespace

long TriodeTables::buildsOnThisThread()
{
    return tableBuilds;
}

// The neighbours are clamped to the table's ends; at the last node the
// fraction is 0, so the clamped ones carry no weight.
TriodeTables::Segment TriodeTables::segmentAt(const Table& table, int at)
{
    const int last = lastTableIndex;
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

TriodeTables::TriodeTables(const TriodeCircuit& circuit, double stageRate) : solvedCircuit(circuit), rate(stageRate)
{
    ++tableBuilds;
    solvedCircuit.updateDerivedValues(stageRate);
    sweepCircuit();

    const double vq = restCathodeVoltage;
    const double restPosition = (inputSpan - shift * vq) / (2.0 * inputSpan);
    outputAtRest = readTable(plateHigh, restPosition) * (vq + probeCathodeVoltage) / (2.0 * probeCathodeVoltage) +
                   readTable(plateLow, restPosition) * (probeCathodeVoltage - vq) / (2.0 * probeCathodeVoltage);

    for (int at = 0; at < tableSize; ++at) {
        PlateSegments& plate = plateSegments[static_cast<unsigned>(at)];
        plate.low = segmentAt(plateLow, at);
        plate.high = segmentAt(plateHigh, at);
        cathodeSegments[static_cast<unsigned>(at)] = segmentAt(cathodeStep, at);
    }
}

double TriodeTables::solveCounted(double inputVoltage, double previousCathode, NodeVoltages& nodes)
{
    const double plate = solvedCircuit.solveCircuit(inputVoltage, previousCathode, nodes);
    ++report.solveCount;
    report.iterationCount += solvedCircuit.lastIterationCount;
    return plate;
}

// Every pass starts from the plate at half the supply and the given cathode
// and grid, then warm-starts each solve from the one before.
void TriodeTables::prepareSweep(NodeVoltages& nodes, double cathode, double grid) const
{
    nodes.plate = solvedCircuit.supplyVoltage * 0.5;
    nodes.grid = grid;
    nodes.cathode = cathode;
}

double TriodeTables::conductionThreshold(double cathode)
{
    NodeVoltages nodes;
    prepareSweep(nodes, cathode, -inputSpan);
    const double target = conductionPlateShare * solvedCircuit.supplyVoltage;

    // With no crossing the line runs from the last point through (0 V, 0 V);
    // a crossing at the first point takes (0 V, 0 V) as the point before it.
    double previousInput = 0.0;
    double previousPlate = 0.0;
    double input = 0.0;
    double plate = 0.0;
    bool crossed = false;
    for (int j = 0; j < tableSize; ++j) {
        input = gridInput(j);
        plate = solveCounted(input, cathode, nodes);
        if (plate < target) {
            crossed = true;
            break;
        }
        previousInput = input;
        previousPlate = plate;
    }
    if (!crossed) {
        input = 0.0;
        plate = 0.0;
    }
    return previousInput + (target - previousPlate) * (input - previousInput) / (plate - previousPlate);
}

void TriodeTables::sweepCircuit()
{
    const double vp = probeCathodeVoltage;
    const double span = 2.0 * vp;

    report.thresholdLow = conductionThreshold(-vp);
    report.thresholdHigh = conductionThreshold(vp);
    shift = (report.thresholdHigh - report.thresholdLow) / span;
    const double tableShift = vp * shift;

    NodeVoltages nodes;
    prepareSweep(nodes, -vp, -inputSpan);
    for (int j = 0; j < tableSize; ++j)
        plateLow[static_cast<unsigned>(j)] = solveCounted(gridInput(j) - tableShift, -vp, nodes);

    prepareSweep(nodes, vp, -inputSpan);
    for (int j = 0; j < tableSize; ++j)
        plateHigh[static_cast<unsigned>(j)] = solveCounted(gridInput(j) + tableShift, vp, nodes);

    // From 0 V the solved cathode is the step itself.
    prepareSweep(nodes, 0.0, -inputSpan);
    for (int j = 0; j < tableSize; ++j) {
        solveCounted(gridInput(j), 0.0, nodes);
        cathodeStep[static_cast<unsigned>(j)] = nodes.cathode;
    }

    // Cut off, the cathode only discharges through its resistor: the step is
    // linear in the cathode voltage.
    prepareSweep(nodes, -vp, -inputSpan);
    solveCounted(-inputSpan, -vp, nodes);
    const double stepFromLow = nodes.cathode - (-vp);
    prepareSweep(nodes, vp, -inputSpan);
    solveCounted(-inputSpan, vp, nodes);
    const double stepFromHigh = nodes.cathode - vp;
    decay = (stepFromHigh - stepFromLow) / span;

    // Conducting at the top of the range, with the grid started high: the
    // cathode's response to its own voltage, expressed as input volts.
    prepareSweep(nodes, -vp, inputSpan);
    solveCounted(inputSpan, -vp, nodes);
    const double responseLow = (nodes.cathode + vp) + vp * decay;
    prepareSweep(nodes, vp, inputSpan);
    solveCounted(inputSpan, vp, nodes);
    const double responseHigh = (nodes.cathode - vp) - vp * decay;
    prepareSweep(nodes, vp, inputSpan);
    solveCounted(slopeProbeInput, vp, nodes);
    const double responseHighBelow = (nodes.cathode - vp) - vp * decay;

    const double inputSlope = (responseHigh - responseHighBelow) / (inputSpan - slopeProbeInput);
    inputShift = ((responseHigh - responseLow) / inputSlope) / span;
}
