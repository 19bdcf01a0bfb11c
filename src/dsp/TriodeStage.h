#pragma once

#include "dsp/TriodeCircuit.h"

#include <array>

// The tube saturation stage: the triode circuit solved over a grid of input
// voltages into transfer tables, then read per sample with cubic
// interpolation. The cathode capacitor gives the stage memory; two plate
// tables (capacitor held at -15 V and +15 V) are blended by each channel's
// cathode voltage, and a third table gives the cathode's step per sample.
// One object serves both channels; each channel keeps its own NodeVoltages.
class TriodeStage {
public:
    static constexpr int stageChannels = 2;
    static constexpr int tableSize = 513;
    static constexpr int lastTableIndex = tableSize - 1;
    static constexpr double inputSpan = 150.0;               // the tables cover -150 V to +150 V of input
    static constexpr double probeCathodeVoltage = 15.0;      // capacitor voltages of the two plate tables
    static constexpr double restCathodeVoltage = 1.34714498; // Vq: operating point at the 350 V supply

    using Table = std::array<double, tableSize>;

    // The circuit whose solutions fill the tables; its values may be changed
    // before the next rebuildTables.
    TriodeCircuit circuit;

    // Stage rate in Hz (host rate times oversampling factor); set it before rebuildTables.
    double stageRate = 48000.0;

    // Running state per channel: cathode is the capacitor voltage, plate the
    // last output; grid is not used per sample.
    std::array<NodeVoltages, stageChannels> nodeVoltages{};

    // Results of the last rebuild.
    double thresholdShift = 0.0;    // s: input volts per cathode volt moving the conduction knee
    double cathodeInputShift = 0.0; // sc: input volts equivalent to one cathode volt while conducting
    double cathodeDecay = 0.0;      // k: cathode step per cathode volt while cut off
    double restOutput = 0.0;        // output for zero input with the cathode at restCathodeVoltage
    Table plateTableLow{};          // plate for input grid_j - 15 s, capacitor at -15 V before
    Table plateTableHigh{};         // plate for input grid_j + 15 s, capacitor at +15 V before
    Table cathodeStepTable{};       // cathode after one stage sample from 0 V, input grid_j

    // Diagnostics of the last rebuild: the conduction thresholds th1, th2 (input
    // volts where the plate falls to 95 % of the supply with the capacitor at
    // -15 V and +15 V), and the solver's work.
    double thresholdLow = 0.0;
    double thresholdHigh = 0.0;
    int rebuildSolveCount = 0;
    int rebuildIterationCount = 0;

    // Node records reset (resetNodes(-1)), tables empty until the first rebuild.
    TriodeStage();

    // Plate at half the supply, grid and cathode at 0 V, for one channel, or
    // for all when channel is negative; other indices are ignored.
    void resetNodes(int channel);

    // Recomputes the circuit's derived values for stageRate and rebuilds the
    // tables and restOutput. About 2000 circuit solves: called from the audio
    // thread only when the rate changes. Does not allocate; leaves the channel
    // records untouched.
    void rebuildTables();

    // Sets every channel's cathode to its operating point; call after rebuildTables.
    void restCathodes();

    // Fills the three tables and s, k, sc (and the diagnostics) by solving the circuit.
    void sweepCircuit();

    // Catmull-Rom read of a table at position in [0, 1] (clamped; NaN reads entry 0).
    static double readTable(const Table& table, double position) { return interpolate(table, locate(position)); }

    // One stage sample: input voltage in volts, the channel's record (its
    // cathode is read and advanced, its plate receives the output). Returns
    // the plate voltage, falling as the input rises. Audio thread; no
    // allocation, no transcendental functions. Non-finite input cannot index
    // outside the tables.
    double shapeSample(double input, NodeVoltages& nodes) const
    {
        const double cathode = nodes.cathode;
        const double weightLow = (probeCathodeVoltage - cathode) / (2.0 * probeCathodeVoltage);
        const double weightHigh = 1.0 - weightLow;

        // The knee moves with the cathode: both plate tables are read at the
        // input shifted by s * vc, at one shared position.
        const TablePoint platePoint = locate((input - thresholdShift * cathode + inputSpan) / (2.0 * inputSpan));
        const double plateLow = interpolate(plateTableLow, platePoint);
        const double plateHigh = interpolate(plateTableHigh, platePoint);
        const double output = plateHigh * weightHigh + plateLow * weightLow;
        nodes.plate = output;

        const double cathodeStep =
            readTable(cathodeStepTable, (input + cathodeInputShift * cathode + inputSpan) / (2.0 * inputSpan));
        nodes.cathode = cathode + cathodeDecay * cathode + cathodeStep;
        return output;
    }

private:
    // A rebuild is a pure function of the rate and the circuit values, so the
    // last two results are kept: switching oversampling back and forth then
    // costs a copy instead of some two thousand circuit solves on the audio
    // thread.
    struct TableSet {
        bool valid = false;
        double rate = 0.0;
        TriodeCircuit circuit;
        double thresholdShift = 0.0;
        double cathodeInputShift = 0.0;
        double cathodeDecay = 0.0;
        double restOutput = 0.0;
        double thresholdLow = 0.0;
        double thresholdHigh = 0.0;
        int solveCount = 0;
        int iterationCount = 0;
        Table plateTableLow{};
        Table plateTableHigh{};
        Table cathodeStepTable{};
    };
    std::array<TableSet, 2> tableCache{};
    int nextCacheSlot = 0;
    bool takeCachedTables();
    void storeCachedTables();

    struct TablePoint {
        int below;
        int at;
        int above;
        int twoAbove;
        double fraction;
    };

    static TablePoint locate(double position)
    {
        // Written so that NaN fails both tests and lands on 0: the index below
        // must stay inside the table whatever the input.
        position = position > 0.0 ? position : 0.0;
        position = position < 1.0 ? position : 1.0;
        const double scaled = lastTableIndex * position;
        const int at = static_cast<int>(scaled);
        TablePoint point;
        point.at = at;
        point.fraction = scaled - at;
        point.below = at > 0 ? at - 1 : 0;
        // At the last node the fraction is 0, so the clamped neighbours carry no weight.
        point.above = at < lastTableIndex ? at + 1 : lastTableIndex;
        point.twoAbove = at + 2 < lastTableIndex ? at + 2 : lastTableIndex;
        return point;
    }

    static double interpolate(const Table& table, const TablePoint& point)
    {
        const double yBelow = table[point.below];
        const double y0 = table[point.at];
        const double y1 = table[point.above];
        const double y2 = table[point.twoAbove];
        const double c1 = 0.5 * (y1 - yBelow);
        const double c2 = yBelow - 2.5 * y0 + 2.0 * y1 - 0.5 * y2;
        const double c3 = 0.5 * (y2 - yBelow) + 1.5 * (y0 - y1);
        // A fraction of exactly 0 returns y0 unchanged: grid points read their stored value.
        const double f = point.fraction;
        return y0 + f * (c1 + f * (c2 + f * c3));
    }

    double solveCounted(double inputVoltage, double previousCathode, NodeVoltages& nodes);
    void prepareSweep(NodeVoltages& nodes, double cathode, double grid) const;
    double conductionThreshold(double cathode);
};
