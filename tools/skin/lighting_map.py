#!/usr/bin/env python3
"""Writes, for each dial, which values light each pixel as the skin generator
models the dial's rule, so a test can hold that model against the dial code.

    lighting_map.py FILE

Format: per dial a line "dial NAME WIDTH HEIGHT", then HEIGHT lines of WIDTH
fields: "-" for a pixel no value lights, else "LOW-HIGH", the range of 0..100
values that light it.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import skin_geometry as sg  # noqa: E402


def dial_rings(g):
    """The rings of the three panel dials; the level dial's selector covers
    only its centre pixel and never lights."""
    ring0 = sg.ring0_rule(g)
    return [("character", g.kDialWideWidth, [ring0, sg.character_rule(g)]),
            ("mode", g.kDialWideWidth, [ring0, sg.mode_rule(g)]),
            ("level", g.kDialNarrowWidth, [ring0, sg.DialRingRule(0.0, 0.0, 1, 0, 0, False)])]


def lit_values(g, rings, column, row):
    dx, dy = sg.pixel_offset(g, column, row)
    for rule in rings:
        if rule.in_band(dx, dy):
            step = rule.step_of(dx, dy)
            return [v for v in range(101) if step is not None and step in rule.lit_steps(v)]
    return []


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    g = sg.load_geometry()
    lines = []
    for name, width, rings in dial_rings(g):
        lines.append("dial %s %d %d" % (name, width, g.kDialHeight))
        for row in range(g.kDialHeight):
            fields = []
            for column in range(width):
                values = lit_values(g, rings, column, row)
                if values and values != list(range(values[0], values[-1] + 1)):
                    raise SystemExit("pixel %d,%d of dial %s lights for scattered values" % (column, row, name))
                fields.append("%d-%d" % (values[0], values[-1]) if values else "-")
            lines.append(" ".join(fields))
    with open(sys.argv[1], "w", encoding="ascii") as out:
        out.write("\n".join(lines) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
