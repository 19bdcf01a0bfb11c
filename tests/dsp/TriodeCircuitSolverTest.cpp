#include "dsp/TriodeCircuit.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>

namespace {
// Net current out of each node, recomputed from the resistor network itself
// (input node included), not from the solver's eliminated form.
void expectKirchhoff(const TriodeCircuit& c, double vin, double vc, double rate, const NodeVoltages& n)
{
    const double gs = 1.0 / c.sourceResistance, gst = 1.0 / c.stopperResistance, gl = 1.0 / c.leakResistance;
    const double inputNode = (vin * gs + n.grid * gst) / (gs + gst + gl);
    const double ig = c.gridCurrent(n.grid, n.cathode);
    const double ip = c.plateCurrent(n.plate, n.grid, n.cathode);
    ASSERT_NEAR(ig, (inputNode - n.grid) / c.stopperResistance, 1e-12) << vin << " " << vc;
    ASSERT_NEAR(n.cathode / c.cathodeResistance + c.cathodeCapacitance * rate * (n.cathode - vc), ip + ig, 1e-12)
        << vin << " " << vc;
    ASSERT_NEAR((c.supplyVoltage - n.plate) / c.plateResistance, n.plate / c.loadResistance + ip, 1e-12)
        << vin << " " << vc;
}
} // namespace

TEST(TriodeCircuitSolver, CutOffAndRestPoints)
{
    TriodeCircuit circuit;
    NodeVoltages nodes{175.0, 0.0, 0.0};
    EXPECT_NEAR(circuit.solveCircuit(-150.0, 0.0, nodes), 341.46, 0.005);
    EXPECT_LT(circuit.plateCurrent(nodes.plate, nodes.grid, nodes.cathode), 1e-12);

    for (int i = 0; i < 5000; ++i)
        circuit.solveCircuit(0.0, nodes.cathode, nodes);
    EXPECT_NEAR(nodes.plate, 210.17, 0.005);
    EXPECT_NEAR(nodes.cathode, 1.3458, 0.00005);
    EXPECT_NEAR(nodes.grid, 0.0, 1e-9);

    // From its own solution an identical solve has nothing left to do.
    const NodeVoltages settled = nodes;
    circuit.solveCircuit(0.0, settled.cathode, nodes);
    EXPECT_EQ(circuit.lastIterationCount, 1);
    EXPECT_NEAR(nodes.plate, settled.plate, 1e-12);
}

TEST(TriodeCircuitSolver, WarmStartedSolutionsObeyKirchhoff)
{
    // The undamped iteration relies on warm starts: inputs advance in small
    // steps, each solve starting from the one before, as a table sweep does.
    for (double rate : {48000.0, 768000.0}) {
        TriodeCircuit circuit;
        circuit.updateDerivedValues(rate);
        for (double vc : {-15.0, 0.0, 1.35, 15.0}) {
            NodeVoltages nodes{175.0, -150.0, vc};
            for (double vin = -150.0; vin <= 150.0; vin += 0.5) {
                circuit.solveCircuit(vin, vc, nodes);
                ASSERT_LT(circuit.lastIterationCount, 20) << vin << " " << vc;
                expectKirchhoff(circuit, vin, vc, rate, nodes);
            }
        }
    }
}

TEST(TriodeCircuitSolver, SlopesMatchTheCurrentLaw)
{
    TriodeCircuit circuit;
    for (double plate : {2.0, 1.0, -100.0}) // plate at or below the cathode (2 V)
    {
        EXPECT_EQ(circuit.plateCurrent(plate, 5.0, 2.0), 0.0);
        double p = plate, g = 5.0, k = 2.0;
        circuit.plateCurrentSlopes(p, g, k);
        EXPECT_TRUE(p == 0.0 && g == 0.0 && k == 0.0) << plate;
    }
    EXPECT_EQ(circuit.gridCurrent(-0.2, 0.0), 0.0);
    EXPECT_GT(circuit.gridCurrent(-0.19, 0.0), 0.0);

    // Near the knee, conducting, and deep in conduction; the logistic's
    // cut-off at 6 limits the agreement to a few parts in 1000.
    const double h = 1e-4;
    for (const NodeVoltages& n : {NodeVoltages{200.0, 0.0, 1.35}, NodeVoltages{300.0, -3.0, 1.0},
                                  NodeVoltages{100.0, 1.0, 0.0}, NodeVoltages{50.0, 10.0, 0.0}}) {
        double slope[3] = {n.plate, n.grid, n.cathode};
        circuit.plateCurrentSlopes(slope[0], slope[1], slope[2]);
        for (int node = 0; node < 3; ++node) {
            double up[3] = {n.plate, n.grid, n.cathode}, down[3] = {n.plate, n.grid, n.cathode};
            up[node] += h;
            down[node] -= h;
            const double numeric =
                (circuit.plateCurrent(up[0], up[1], up[2]) - circuit.plateCurrent(down[0], down[1], down[2])) / (2 * h);
            EXPECT_NEAR(slope[node], numeric, 3e-3 * std::fabs(numeric)) << n.plate << " node " << node;
            EXPECT_NE(numeric, 0.0);
        }
    }
}

TEST(TriodeCircuitLinearSolve, SolvesPivotedAndSurvivesSingularSystems)
{
    const double expected[3] = {1.5, -2.0, 0.25};
    const double regular[2][3][3] = {
        {{0.0, 2.0, -1.0}, {3.0, 1.0, 4.0}, {1.0, -1.0, 5.0}},    // zero in the first pivot
        {{1e-9, 1.0, 1.0}, {1e10, 1e10, -2e10}, {2.0, 1.0, 7.0}}, // rows of very different scale
    };
    for (const auto& system : regular) {
        double matrix[3][3], vector[3] = {0.0, 0.0, 0.0};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) {
                matrix[i][j] = system[i][j];
                vector[i] += system[i][j] * expected[j];
            }
        TriodeCircuit::solveLinear3(matrix, vector);
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(vector[i], expected[i], 1e-12);
    }

    const double singular[4][3][3] = {
        {{0.0, 0.0, 0.0}, {0.0, 0.0, 0.0}, {0.0, 0.0, 0.0}},
        {{1.0, 1.0, 1.0}, {1.0, 1.0, 1.0}, {1.0, 1.0, 1.0}},
        {{0.0, 0.0, 0.0}, {1.0, 2.0, 3.0}, {4.0, 5.0, 6.0}},
        {{0.0, 1.0, 2.0}, {0.0, 3.0, 4.0}, {0.0, 5.0, 7.0}},
    };
    for (const auto& system : singular) {
        double matrix[3][3];
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                matrix[i][j] = system[i][j];
        double vector[3] = {1.0, -2.0, 3.0};
        std::feclearexcept(FE_DIVBYZERO);
        TriodeCircuit::solveLinear3(matrix, vector);
        EXPECT_FALSE(std::fetestexcept(FE_DIVBYZERO));
        EXPECT_TRUE(std::isfinite(vector[0]) && std::isfinite(vector[1]) && std::isfinite(vector[2]));
    }
}
