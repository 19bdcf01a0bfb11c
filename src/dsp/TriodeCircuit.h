#pragma once

// Constants of Koren's triode equation. The amplification factor is kept as
// its reciprocal; gridOffset (volts) is added to the grid-cathode voltage in
// both the plate and the grid current law.
struct TriodeModel {
    double invMu;
    double ex;
    double kg1;
    double kp;
    double kvb;
    double gridOffset;
};

// The three node voltages of one triode stage, in volts.
struct NodeVoltages {
    double plate;
    double grid;
    double cathode;
};

// One triode gain stage as a circuit: grid input network (source, stopper and
// leak resistors), triode, plate resistor to the supply, plate load to ground,
// cathode resistor bypassed by a capacitor. Solves the node voltages for one
// input voltage and one previous capacitor voltage by Newton-Raphson.
// Not for the per-sample path: every solve costs several exponentials.
class TriodeCircuit {
public:
    // 12AX7 published constants.
    static constexpr TriodeModel twelveAX7{0.01, 1.4, 1060.0, 600.0, 300.0, 0.0};

    static constexpr int maxIterations = 256;
    static constexpr double convergenceStep = 1e-12; // volts, sum over the three nodes

    // Circuit values in SI units; callers may change them, then must call
    // updateDerivedValues before the next solve.
    TriodeModel model = twelveAX7;
    double sourceResistance = 200000.0; // input source to input node
    double stopperResistance = 10000.0; // input node to grid
    double leakResistance = 1000000.0;  // input node to ground
    double supplyVoltage = 350.0;
    double plateResistance = 100000.0;  // supply to plate
    double loadResistance = 4000000.0;  // plate to ground
    double cathodeResistance = 1000.0;  // cathode to ground
    double cathodeCapacitance = 2.2e-6; // cathode to ground, across the resistor

    // Derived from the values above by updateDerivedValues.
    double inputGain = 0.0;
    double gridConductance = 0.0;
    double capacitorStep = 0.0;
    double plateConductance = 0.0;
    double loadConductance = 0.0;
    double cathodeConductance = 0.0;
    double invKp = 0.0;
    double invKg1 = 0.0;

    // Newton iterations taken by the last solveCircuit call (1 to maxIterations).
    int lastIterationCount = 0;

    // Derived values for a stage running at 48000 Hz.
    TriodeCircuit();

    // Recomputes the derived values; stageRate in Hz (> 0) sets the step of the
    // backward-Euler cathode capacitor. Call after changing any circuit value.
    void updateDerivedValues(double stageRate);

    // Plate current in amperes for the given node voltages; 0 while the plate
    // is not above the cathode.
    double plateCurrent(double plate, double grid, double cathode) const;

    // Grid current in amperes; conduction starts 0.2 V below the cathode.
    double gridCurrent(double grid, double cathode) const;

    // Replaces the three node voltages by the partial derivatives of the plate
    // current with respect to the plate, grid and cathode voltage (A/V).
    void plateCurrentSlopes(double& plate, double& grid, double& cathode) const;

    // Solves matrix * x = vector in place (vector becomes x); the matrix is
    // overwritten. Singular systems give finite numbers, never a division by 0.
    static void solveLinear3(double (&matrix)[3][3], double (&vector)[3]);

    // Solves the node voltages for input voltage inputVoltage with the cathode
    // capacitor at previousCathode one stage sample earlier. nodes is the start
    // point and receives the solution (the last iterate if the iteration limit
    // is reached). Returns the plate voltage. Does not allocate.
    double solveCircuit(double inputVoltage, double previousCathode, NodeVoltages& nodes);

private:
    struct PlateCurrentState {
        double current;
        double plateSlope;
        double gridSlope;
        double cathodeSlope;
    };

    // Current and slopes at one operating point, sharing the transcendental
    // terms. withSlopes false leaves the slopes at 0.
    PlateCurrentState evaluatePlate(double plate, double grid, double cathode, bool withSlopes) const;
};
