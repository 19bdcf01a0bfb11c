#include "dsp/TriodeCircuit.h"

#include <cmath>

namespace {
// e^-40 < 2^-57: 1 + e^u rounds to 1 with a wide margin for any libm's exp.
constexpr double deepCutOff = -40.0;

// Reciprocal of the row's largest magnitude, for scaled pivoting. An all-zero
// row would give an infinite scale and 0 * inf in the pivot search.
double rowScale(const double* row)
{
    double largest = std::fabs(row[0]);
    largest = std::fabs(row[1]) > largest ? std::fabs(row[1]) : largest;
    largest = std::fabs(row[2]) > largest ? std::fabs(row[2]) : largest;
    return largest > 0.0 ? 1.0 / largest : 1.0;
}

template <typename T> void exchange(T& a, T& b)
{
    const T held = a;
    a = b;
    b = held;
}
} // namespace

TriodeCircuit::TriodeCircuit()
{
    updateDerivedValues(48000.0);
}

void TriodeCircuit::updateDerivedValues(double stageRate)
{
    const double sourceConductance = 1.0 / sourceResistance;
    const double stopperConductance = 1.0 / stopperResistance;
    const double leakConductance = 1.0 / leakResistance;
    const double inputNodeConductance = sourceConductance + stopperConductance + leakConductance;

    // The input node is eliminated: the stopper current is
    // inputGain * Vin + gridConductance * Vgrid.
    inputGain = sourceConductance * stopperConductance / inputNodeConductance;
    gridConductance = -stopperConductance * (sourceConductance + leakConductance) / inputNodeConductance;

    capacitorStep = 1.0 / (stageRate * cathodeCapacitance);
    plateConductance = 1.0 / plateResistance;
    loadConductance = 1.0 / loadResistance;
    cathodeConductance = 1.0 / cathodeResistance;
    invKp = 1.0 / model.kp;
    invKg1 = 1.0 / model.kg1;
}

TriodeCircuit::PlateCurrentState TriodeCircuit::evaluatePlate(double plate, double grid, double cathode,
                                                              bool withSlopes) const
{
    PlateCurrentState state{0.0, 0.0, 0.0, 0.0};
    const double plateCathode = plate - cathode;
    if (plateCathode <= 0.0)
        return state;

    const double gridCathode = grid - cathode + model.gridOffset;
    const double denominator = model.kvb + plateCathode * plateCathode;
    const double rootDenominator = std::sqrt(denominator);
    const double u = model.kp * (model.invMu + gridCathode / rootDenominator);

    // Far below cut-off e^u is under half an ulp of 1, so ln(1 + e^u) is
    // ln(1) = 0 exactly and the tube carries nothing: skip the two calls.
    // (About a third of a table sweep's iterations land here.)
    if (u < deepCutOff)
        return state;

    // Softplus ln(1 + e^u); above 16 it equals u to within 1.2e-7,
    // and e^u would only grow towards overflow.
    double expU = 0.0;
    double softplus = u;
    if (u <= 16.0) {
        expU = std::exp(u);
        softplus = std::log(1.0 + expU);
    }

    const double e1 = invKp * plateCathode * softplus;
    if (e1 <= 0.0)
        return state;

    // E1^ex is taken as E1^(ex-1) * E1 so that the power also serves the slope.
    const double powerTerm = std::pow(e1, model.ex - 1.0);
    state.current = 2.0 * invKg1 * powerTerm * e1;
    if (!withSlopes)
        return state;

    // Logistic e^u / (e^u + 1), cut off at +-6: only the Jacobian uses it.
    double logistic = 0.0;
    if (u > 6.0)
        logistic = 1.0;
    else if (u >= -6.0)
        logistic = expU / (expU + 1.0);

    const double r = 1.0 / rootDenominator;
    const double g = 2.0 * model.ex * powerTerm * invKg1;
    state.plateSlope = g * (invKp * softplus - plateCathode * plateCathode * gridCathode * r * logistic / denominator);
    state.gridSlope = g * r * plateCathode * logistic;
    state.cathodeSlope = -state.plateSlope - state.gridSlope;
    return state;
}

double TriodeCircuit::plateCurrent(double plate, double grid, double cathode) const
{
    return evaluatePlate(plate, grid, cathode, false).current;
}

double TriodeCircuit::gridCurrent(double grid, double cathode) const
{
    const double v = grid - cathode + 0.2 + model.gridOffset;
    return v > 0.0 ? 1e-5 * v * std::sqrt(v) : 0.0;
}

void TriodeCircuit::plateCurrentSlopes(double& plate, double& grid, double& cathode) const
{
    const PlateCurrentState state = evaluatePlate(plate, grid, cathode, true);
    plate = state.plateSlope;
    grid = state.gridSlope;
    cathode = state.cathodeSlope;
}

// Straight-line LU with scaled partial pivoting: rows are exchanged by
// pointer, and each exchange is applied to the right-hand side at once, which
// is the same as replaying the recorded exchanges before the substitution.
void TriodeCircuit::solveLinear3(double (&matrix)[3][3], double (&vector)[3])
{
    double* row0 = matrix[0];
    double* row1 = matrix[1];
    double* row2 = matrix[2];
    double scale0 = rowScale(row0);
    double scale1 = rowScale(row1);
    double scale2 = rowScale(row2);

    // Column 0: a later row takes the pivot only if strictly larger.
    double pivotSize = std::fabs(row0[0]) * scale0;
    int pivot = 0;
    const double size1 = std::fabs(row1[0]) * scale1;
    if (size1 > pivotSize) {
        pivotSize = size1;
        pivot = 1;
    }
    if (std::fabs(row2[0]) * scale2 > pivotSize)
        pivot = 2;
    if (pivot == 1) {
        exchange(row0, row1);
        exchange(scale0, scale1);
        exchange(vector[0], vector[1]);
    } else if (pivot == 2) {
        exchange(row0, row2);
        exchange(scale0, scale2);
        exchange(vector[0], vector[2]);
    }
    if (row0[0] == 0.0)
        row0[0] = 1e-40;
    row1[0] /= row0[0];
    row1[1] -= row1[0] * row0[1];
    row1[2] -= row1[0] * row0[2];
    row2[0] /= row0[0];
    row2[1] -= row2[0] * row0[1];
    row2[2] -= row2[0] * row0[2];

    // Column 1.
    if (std::fabs(row2[1]) * scale2 > std::fabs(row1[1]) * scale1) {
        exchange(row1, row2);
        exchange(vector[1], vector[2]);
    }
    if (row1[1] == 0.0)
        row1[1] = 1e-40;
    row2[1] /= row1[1];
    row2[2] -= row2[1] * row1[2];

    if (row2[2] == 0.0)
        row2[2] = 1e-40;

    // Forward substitution with the unit lower triangle, then back substitution.
    vector[1] -= row1[0] * vector[0];
    vector[2] -= row2[0] * vector[0];
    vector[2] -= row2[1] * vector[1];
    vector[2] /= row2[2];
    vector[1] -= row1[2] * vector[2];
    vector[1] /= row1[1];
    vector[0] -= row0[1] * vector[1];
    vector[0] -= row0[2] * vector[2];
    vector[0] /= row0[0];
}

double TriodeCircuit::solveCircuit(double inputVoltage, double previousCathode, NodeVoltages& nodes)
{
    double plate = nodes.plate;
    double grid = nodes.grid;
    double cathode = nodes.cathode;
    const double plateLoadConductance = plateConductance + loadConductance;

    int iteration = 0;
    while (iteration < maxIterations) {
        ++iteration;
        const PlateCurrentState triode = evaluatePlate(plate, grid, cathode, true);

        const double gridVoltageAboveCutIn = grid - cathode + 0.2 + model.gridOffset;
        double gridCurrentNow = 0.0;
        double gridSlope = 0.0;
        if (gridVoltageAboveCutIn > 0.0) {
            const double root = std::sqrt(gridVoltageAboveCutIn);
            gridCurrentNow = 1e-5 * gridVoltageAboveCutIn * root;
            gridSlope = 1.5e-5 * root;
        }

        // Residuals of the grid, cathode and plate nodes; the cathode capacitor
        // is discretised by backward Euler.
        double step[3];
        step[0] = gridCurrentNow - (inputGain * inputVoltage + gridConductance * grid);
        step[1] = (cathodeConductance * cathode - triode.current - gridCurrentNow) * capacitorStep +
                  (cathode - previousCathode);
        step[2] = plateLoadConductance * plate - plateConductance * supplyVoltage + triode.current;

        // Negated Jacobian; rows: grid, cathode, plate node; columns: plate, grid, cathode.
        double jacobian[3][3] = {
            {0.0, gridConductance - gridSlope, gridSlope},
            {triode.plateSlope * capacitorStep, (triode.gridSlope + gridSlope) * capacitorStep,
             -1.0 - (cathodeConductance - triode.cathodeSlope + gridSlope) * capacitorStep},
            {-plateLoadConductance - triode.plateSlope, -triode.gridSlope, -triode.cathodeSlope},
        };
        solveLinear3(jacobian, step);

        plate += step[0];
        grid += step[1];
        cathode += step[2];
        if (std::fabs(step[0]) + std::fabs(step[1]) + std::fabs(step[2]) < convergenceStep)
            break;
    }

    lastIterationCount = iteration;
    nodes.plate = plate;
    nodes.grid = grid;
    nodes.cathode = cathode;
    return plate;
}
