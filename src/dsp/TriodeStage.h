#pragma once

#include "dsp/LanePair.h"
#include "dsp/TriodeCircuit.h"

#include <array>

// The tube saturation stage's design at one stage rate: the triode circuit
// solved over a grid of input voltages into transfer tables, and their
// per-sample reader with cubic interpolation. Two plate tables (capacitor
// held at -15 V and +15 V) are blended by a channel's cathode voltage, and a
// third table gives the cathode's step per sample.
//
// An immutable value of the circuit and the rate alone, built where the rate
// is set and then shared by pointer, never copied: the channels' node
// voltages live with their owner, and one set of tables serves any number of
// channels. About 62 kB.
class TriodeTables {
public:
    static constexpr int tableSize = 513;
    static constexpr int lastTableIndex = tableSize - 1;
    static constexpr double inputSpan = 150.0;               // the tables cover -150 V to +150 V of input
    static constexpr double probeCathodeVoltage = 15.0;      // capacitor voltages of the two plate tables
    static constexpr double restCathodeVoltage = 1.34714498; // Vq: operating point at the 350 V supply

    using Table = std::array<double, tableSize>;

    // What the sweep found on the way: the conduction thresholds th1, th2
    // (input volts where the plate falls to 95 % of the supply with the
    // capacitor at -15 V and +15 V), and the solver's work.
    struct SweepReport {
        double thresholdLow = 0.0;
        double thresholdHigh = 0.0;
        int solveCount = 0;
        int iterationCount = 0;
    };

    // Solves `circuit` at `stageRate` Hz (host rate times oversampling
    // factor, > 0): about 2000 circuit solves, a millisecond or more on the
    // calling thread, so never on the audio thread. Does not allocate.
    TriodeTables(const TriodeCircuit& circuit, double stageRate);
    explicit TriodeTables(double stageRate) : TriodeTables(TriodeCircuit{}, stageRate) {}
    TriodeTables(const TriodeTables&) = delete;
    TriodeTables& operator=(const TriodeTables&) = delete;

    // How many tables the calling thread has built, ever: a thread that
    // must never solve the circuit can be shown not to have.
    static long buildsOnThisThread();

    double stageRate() const { return rate; }
    const TriodeCircuit& circuit() const { return solvedCircuit; }
    double thresholdShift() const { return shift; }               // s: input volts per cathode volt moving the knee
    double cathodeInputShift() const { return inputShift; }       // sc: input volts per cathode volt while conducting
    double cathodeDecay() const { return decay; }                 // k: cathode step per cathode volt while cut off
    double restOutput() const { return outputAtRest; }            // output for zero input, cathode at Vq
    const Table& plateTableLow() const { return plateLow; }       // plate for input grid_j - 15 s, capacitor at -15 V
    const Table& plateTableHigh() const { return plateHigh; }     // plate for input grid_j + 15 s, capacitor at +15 V
    const Table& cathodeStepTable() const { return cathodeStep; } // cathode after one sample from 0 V, input grid_j
    const SweepReport& sweepReport() const { return report; }

    // Catmull-Rom read of a table at position in [0, 1] (clamped; NaN reads entry 0).
    static double readTable(const Table& table, double position);

    // One stage sample per lane (Lane double or LanePair): input voltages in
    // volts; each lane's cathode voltage is read and advanced, its plate
    // voltage receives the output, which is also returned: the plate voltage,
    // falling as the input rises. Audio thread; no allocation, no
    // transcendental functions. Non-finite input cannot index outside the
    // tables.
    template <typename Lane> Lane shapeSample(Lane input, Lane& cathode, Lane& plate) const;

    // The same for one channel's node record (its grid is not used).
    double shapeSample(double input, NodeVoltages& nodes) const
    {
        return shapeSample(input, nodes.cathode, nodes.plate);
    }

private:
    // The Catmull-Rom segment that starts at a node: y0 and c1, c2, c3,
    // formed from the clamped neighbours once per build, exactly as a read
    // of the table between this node and the next would form them. A read
    // is then one fetch per lane and the Horner step. The two plate tables
    // are read at one position, so their segments sit side by side.
    struct Segment {
        double y0, c1, c2, c3;
    };
    struct PlateSegments {
        Segment low, high;
    };

    static Segment segmentAt(const Table& table, int at);
    template <typename Lane> static Lane evaluate(const Segment& lane0, const Segment& lane1, Lane fraction);
    template <typename Lane> static Lane locateLanes(Lane position, int& node0, int& node1);

    void sweepCircuit();
    double solveCounted(double inputVoltage, double previousCathode, NodeVoltages& nodes);
    void prepareSweep(NodeVoltages& nodes, double cathode, double grid) const;
    double conductionThreshold(double cathode);

    TriodeCircuit solvedCircuit; // derived values for `rate`
    double rate;
    double shift = 0.0;
    double inputShift = 0.0;
    double decay = 0.0;
    double outputAtRest = 0.0;
    SweepReport report;
    Table plateLow{};
    Table plateHigh{};
    Table cathodeStep{};
    std::array<PlateSegments, tableSize> plateSegments{};
    std::array<Segment, tableSize> cathodeSegments{};
};

template <typename Lane> inline Lane TriodeTables::evaluate(const Segment& lane0, const Segment& lane1, Lane fraction)
{
    Lane y0, c1, c2, c3;
    gatherAdjacent(&lane0.y0, &lane1.y0, y0, c1);
    gatherAdjacent(&lane0.c2, &lane1.c2, c2, c3);
    // A fraction of exactly 0 returns y0 unchanged: grid points read their stored value.
    const Lane f = fraction;
    return y0 + f * (c1 + f * (c2 + f * c3));
}

template <typename Lane> inline Lane TriodeTables::locateLanes(Lane position, int& node0, int& node1)
{
    using L = Lanes<Lane>;
    // NaN fails the first comparison and lands on 0: the node must stay
    // inside the table whatever the input.
    position = lessOr(greaterOr(position, L::both(0.0)), L::both(1.0));
    const Lane scaled = L::both(lastTableIndex) * position;
    return scaled - truncateLanes(scaled, node0, node1);
}

inline double TriodeTables::readTable(const Table& table, double position)
{
    int node, unused;
    const double fraction = locateLanes(position, node, unused);
    const Segment segment = segmentAt(table, node);
    return evaluate(segment, segment, fraction);
}

template <typename Lane> inline Lane TriodeTables::shapeSample(Lane input, Lane& cathode, Lane& plate) const
{
    using L = Lanes<Lane>;
    const Lane weightLow = (L::both(probeCathodeVoltage) - cathode) / L::both(2.0 * probeCathodeVoltage);
    const Lane weightHigh = L::both(1.0) - weightLow;
    const Lane span = L::both(inputSpan);
    const Lane positionSpan = L::both(2.0 * inputSpan);

    // The knee moves with the cathode: both plate tables are read at the
    // input shifted by s * vc, at one shared position.
    int node0, node1;
    const Lane plateFraction = locateLanes((input - L::both(shift) * cathode + span) / positionSpan, node0, node1);
    const PlateSegments& plate0 = plateSegments[static_cast<unsigned>(node0)];
    const PlateSegments& plate1 = plateSegments[static_cast<unsigned>(node1)];
    const Lane plateLow = evaluate(plate0.low, plate1.low, plateFraction);
    const Lane plateHigh = evaluate(plate0.high, plate1.high, plateFraction);
    const Lane output = plateHigh * weightHigh + plateLow * weightLow;
    plate = output;

    const Lane cathodeFraction =
        locateLanes((input + L::both(inputShift) * cathode + span) / positionSpan, node0, node1);
    const Lane cathodeStep = evaluate(cathodeSegments[static_cast<unsigned>(node0)],
                                      cathodeSegments[static_cast<unsigned>(node1)], cathodeFraction);
    cathode = cathode + L::both(decay) * cathode + cathodeStep;
    return output;
}
