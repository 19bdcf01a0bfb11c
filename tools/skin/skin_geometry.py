"""Panel geometry and the controls' lighting rules, as the skin needs them.

The numbers come from src/gui/toolkit/SkinGeometry.h, the same file the
controls are compiled with, so the artwork cannot drift from the code. The
dial and meter rules below repeat the controls' single-precision arithmetic:
the artwork has to put every LED where those rules light it as a whole.
"""

import math
import os
import re
import struct

REPO_ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
HEADER_PATH = os.path.join(REPO_ROOT, "src", "gui", "toolkit", "SkinGeometry.h")

_DECLARATION = re.compile(r"constexpr\s+(int|float)\s+([^;]+);")
_DECLARATOR = re.compile(r"^\s*(k\w+)\s*=\s*([-+0-9.eE]+)f?\s*$")


def f32(value):
    """Rounds a Python float to the nearest single-precision value."""
    return struct.unpack("<f", struct.pack("<f", value))[0]


class Geometry:
    """The constants of the geometry header, as attributes named like in C++."""

    def __init__(self, values):
        self.__dict__.update(values)

    def __getattr__(self, name):
        raise AttributeError("SkinGeometry.h has no constant %s" % name)


def load_geometry(path=HEADER_PATH):
    """Parses every `constexpr int|float kName = value;` line of the header."""
    with open(path, encoding="utf-8") as header:
        text = re.sub(r"//[^\n]*", "", header.read())
    values = {}
    for kind, declarators in _DECLARATION.findall(text):
        for declarator in declarators.split(","):
            match = _DECLARATOR.match(declarator)
            if not match:
                raise ValueError("cannot read the declaration %r in %s" % (declarator.strip(), path))
            name, literal = match.groups()
            values[name] = int(literal) if kind == "int" else f32(float(literal))
    return Geometry(values)


# The largest float: the table's mark for directions in the right half.
NO_TANGENT = f32(3.4028235e38)
UPWARD_ANGLE = f32(-1.5707964)


class DialRingRule:
    """One LED ring of a dial: its band, its arc and the per-pixel angle test."""

    def __init__(self, start_angle, end_angle, steps, inner_radius, outer_radius, fill_mode):
        self.start = f32(start_angle)
        self.end = f32(end_angle)
        self.steps = steps
        self.inner_squared = inner_radius * inner_radius
        self.outer_squared = outer_radius * outer_radius
        self.fill_mode = fill_mode
        self.table = []
        for i in range(steps + 1):
            t = f32(i / steps)
            angle = f32(f32(f32(1.0 - t) * self.start) + f32(t * self.end))
            self.table.append(f32(math.tan(angle)) if angle <= UPWARD_ANGLE else NO_TANGENT)

    def in_band(self, dx, dy):
        distance_squared = f32(f32(dx * dx) + f32(dy * dy))
        return self.inner_squared <= distance_squared <= self.outer_squared

    def within(self, k, dx, dy):
        """The direction lies at or before the k-th step angle (clockwise)."""
        if dx == 0:
            dx = f32(0.1)
        slope = f32(dy / dx)
        n = self.steps
        if dx > 0:
            return slope <= -self.table[n - k]
        if dy >= 0 and slope < self.table[0]:
            return False
        return slope <= self.table[k]

    def step_of(self, dx, dy):
        """The step (fill mode: 1..steps) or segment (0..steps-1) that first
        lights the direction, or None when no value lights it."""
        n = self.steps
        if self.fill_mode:
            for k in range(n + 1):
                if self.within(k, dx, dy):
                    return k
            return None
        for k in range(n):
            if self.within(k + 1, dx, dy) and not self.within(k, dx, dy):
                return k
        return None

    def lit_steps(self, value):
        """Which steps (fill mode, step 0 being the start ray) or the one
        segment that a 0..100 value lights."""
        fraction = f32(value * f32(0.01))
        n = self.steps
        if self.fill_mode:
            k = min(int(f32(fraction * (n + 1))), n)
            return set(range(0, k + 1))
        return {min(int(f32(fraction * n)), n - 1)}


def ring0_rule(g):
    return DialRingRule(g.kRing0StartAngle, g.kRing0EndAngle, g.kRing0Steps, g.kRing0InnerRadius,
                        g.kRing0OuterRadius, True)


def character_rule(g):
    return DialRingRule(g.kCharacterStartAngle, g.kCharacterEndAngle, g.kCharacterSegments,
                        g.kRing1InnerRadius, g.kRing1OuterRadius, False)


def mode_rule(g):
    return DialRingRule(g.kModeStartAngle, g.kModeEndAngle, g.kModeSegments, g.kRing1InnerRadius,
                        g.kRing1OuterRadius, False)


def pixel_offset(g, column, row):
    """A dial pixel's offset from the ring centre, as the dial computes it."""
    return f32(column - g.kDialCenterX), f32(row - g.kDialCenterY)


def step_map(g, rule, width, height):
    """{(column, row): step} for every pixel of the ring's band that some
    value lights."""
    steps = {}
    for row in range(height):
        for column in range(width):
            dx, dy = pixel_offset(g, column, row)
            if rule.in_band(dx, dy):
                step = rule.step_of(dx, dy)
                if step is not None:
                    steps[(column, row)] = step
    return steps


def step_angle(rule, k):
    """Screen angle (radians, y down) at which the k-th step boundary shows.
    Selector arcs lying in the left half show mirrored on the right."""
    t = k / rule.steps
    angle = (1.0 - t) * rule.start + t * rule.end
    if rule.fill_mode:
        return angle
    return -math.pi - ((1.0 - (rule.steps - k) / rule.steps) * rule.start +
                       ((rule.steps - k) / rule.steps) * rule.end)


def meter_bars(g):
    """The two bar rectangles of a meter, (left, top, right, bottom), right and
    bottom exclusive."""
    return [(g.kMeterBar0Left, g.kMeterBar0Top, g.kMeterBar0Right, g.kMeterBar0Bottom),
            (g.kMeterBar1Left, g.kMeterBar1Top, g.kMeterBar1Right, g.kMeterBar1Bottom)]


def meter_segment_columns(g, left, right):
    """Column spans [first, end) that each segment adds to the lit rectangle:
    k lit segments reach column trunc(k * step + left), step = (right-left)/n."""
    n = g.kMeterSegments
    step = f32((right - left) / n)
    edges = [int(f32(f32(k * step) + left)) for k in range(n + 1)]
    return [(edges[s], edges[s + 1]) for s in range(n)]


def meter_lit_segments(g, value):
    """How many segments a 0..100 meter value lights."""
    n = g.kMeterSegments
    fraction = f32(value * f32(0.01))
    return min(int(f32(fraction * (n + 1))), n)
