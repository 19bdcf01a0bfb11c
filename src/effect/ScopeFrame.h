// The unit of the editor's scope ring: per staged sample, the tube stage's
// point, the tape stage's point and a third point the editor keeps for itself.
#pragma once

struct ScopePoint {
    double x;
    double y;
};

struct ScopeFrame {
    ScopePoint points[3];
};

constexpr int kScopeRingSize = 512;
