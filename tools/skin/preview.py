#!/usr/bin/env python3
"""Composes the skin the way the editor shows it, for looking at the artwork.

    preview.py [--images FOLDER] [--out FILE] [--about]

Every control image is alpha-blended over its piece of the panel; the dials
light their LEDs by the dials' per-pixel rule, the meters by their column
rule, the displays get a sample curve and sample dots, and three buttons are
on. Writes build/skin-preview.png unless told otherwise.
"""

import argparse
import math
import os
import sys

from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import skin_geometry as sg  # noqa: E402


def load(folder, resource_id):
    return Image.open(os.path.join(folder, "%d.png" % resource_id)).convert("RGBA")


def compose(panel, image, x, y):
    """The editor's composeOverPanel: the panel region with the image blended over it."""
    region = panel.crop((x, y, x + image.width, y + image.height)).convert("RGBA")
    return Image.alpha_composite(region, image)


def show_dial(g, canvas, panel, folder, base_id, x, rings):
    base = compose(panel, load(folder, base_id), x, g.kDialY)
    leds = load(folder, g.kImageDialLeds).crop((0, 0, base.width, base.height))
    lit = compose(panel, leds, x, g.kDialY)
    out, lit_pixels = base.load(), lit.load()
    for row in range(base.height):
        for column in range(base.width):
            dx, dy = sg.pixel_offset(g, column, row)
            for rule, value in rings:
                if rule.in_band(dx, dy):
                    step = rule.step_of(dx, dy)
                    if step is not None and step in rule.lit_steps(value):
                        out[column, row] = lit_pixels[column, row]
                    break
    canvas.paste(base, (x, g.kDialY))


def show_meter(g, canvas, panel, folder, off_id, on_id, y, values):
    off = compose(panel, load(folder, off_id), g.kMeterX, y)
    on = compose(panel, load(folder, on_id), g.kMeterX, y)
    for (left, top, right, bottom), value in zip(sg.meter_bars(g), values):
        k = sg.meter_lit_segments(g, value)
        edge = sg.meter_segment_columns(g, left, right)[k - 1][1] if k > 0 else left
        if edge > left:
            off.paste(on.crop((left, top, edge, bottom)), (left, top))
    canvas.paste(off, (g.kMeterX, y))


def plot_curve(face, plot_width, points):
    """Anti-aliased red curve, weighted over four rows like the display does."""
    pixels = face.load()
    height = face.height
    for x, y in points:
        column = int(round((x * plot_width + face.width) * 0.5))
        row = (y * 80 + height) * 0.5
        if not 1 <= column <= plot_width or row < 2.001 or row > height - 3.999:
            continue
        for r in range(int(row - 1.001), int(row + 1.999) + 1):
            weight = max(0.0, 1 - abs(row - r) * 0.5)
            red, green, blue, alpha = pixels[column, r]
            pixels[column, r] = (int(red + (255 - red) * weight), int(green * (1 - weight)),
                                 int(blue * (1 - weight)), alpha)


def plot_dots(face, points, age):
    pixels = face.load()
    for x, y in points:
        column = int((-x * 80 + face.width) * 0.5)
        row = int((y * 80 + face.height) * 0.5)
        if 1 <= column <= 80 and 1 <= row <= 80:
            red, green, blue, alpha = pixels[column, row]
            pixels[column, row] = (max(red, 255 - age * 14), green, blue, alpha)


def show_scopes(g, canvas, panel, folder):
    response = compose(panel, load(folder, g.kImageScopeResponse), g.kScopeResponseX, g.kScopeY)
    curve = []
    for i in range(173):
        frequency = 20 * 1000 ** (i / 172)
        decibels = 7 * math.exp(-(math.log(frequency / 1600) ** 2) / 0.8) - 5 / (1 + (frequency / 120) ** 2)
        curve.append((i * 2.0 / 172 - 1.0, -(max(0.0, decibels + 20) * 0.05 - 1.0)))
    plot_curve(response, g.kScopeResponsePlotWidth, curve)
    canvas.paste(response, (g.kScopeResponseX, g.kScopeY))
    for image_id, x, shape in ((g.kImageScopeTube, g.kScopeTubeX, lambda v: -math.tanh(2.2 * v + 0.3) * 0.7),
                               (g.kImageScopeTape, g.kScopeTapeX, lambda v: math.tanh(1.6 * v) * 0.8)):
        face = compose(panel, load(folder, image_id), x, g.kScopeY)
        for age in range(12, -1, -1):
            points = []
            for n in range(80):
                v = 0.9 * math.sin(2 * math.pi * (n / 80 + age * 0.013))
                points.append((v, shape(v)))
            plot_dots(face, points, age)
        canvas.paste(face, (x, g.kScopeY))


def main():
    root = sg.REPO_ROOT
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--images", default=os.path.join(root, "resources"))
    parser.add_argument("--out", default=os.path.join(root, "build", "skin-preview.png"))
    parser.add_argument("--about", action="store_true", help="show the about picture instead of the panel")
    parser.add_argument("--zoom", type=int, default=1, help="enlarge the result by this whole factor")
    args = parser.parse_args()
    g = sg.load_geometry()
    folder = args.images
    panel = load(folder, g.kImagePanel)
    canvas = load(folder, g.kImageAbout) if args.about else panel.copy()

    if not args.about:
        ring0 = sg.ring0_rule(g)
        show_dial(g, canvas, panel, folder, g.kImageDialCharacter, g.kDialCharacterX,
                  [(ring0, 62), (sg.character_rule(g), 55)])
        show_dial(g, canvas, panel, folder, g.kImageDialDrive, g.kDialDriveX, [(ring0, 78), (sg.mode_rule(g), 30)])
        show_dial(g, canvas, panel, folder, g.kImageDialLevel, g.kDialLevelX, [(ring0, 40)])
        show_scopes(g, canvas, panel, folder)
        show_meter(g, canvas, panel, folder, g.kImageMeterInputOff, g.kImageMeterInputOn, g.kMeterInputY, (71, 64))
        show_meter(g, canvas, panel, folder, g.kImageMeterOutputOff, g.kImageMeterOutputOn, g.kMeterOutputY,
                   (93, 88))

    buttons = [(g.kImageButtonOversample, g.kButtonOversampleX, 1), (g.kImageButtonPower, g.kButtonPowerX, 1),
               (g.kImageButtonStereo, g.kButtonStereoX, 1), (g.kImageButtonDownload, g.kButtonDownloadX, 0),
               (g.kImageButtonInfo, g.kButtonInfoX, 1 if args.about else 0)]
    for image_id, x, state in buttons:
        strip = load(folder, image_id)
        height = strip.height // 2
        frame = compose(panel, strip.crop((0, state * height, strip.width, (state + 1) * height)), x, g.kButtonY)
        canvas.paste(frame, (x, g.kButtonY))

    if args.zoom > 1:
        canvas = canvas.resize((canvas.width * args.zoom, canvas.height * args.zoom), Image.NEAREST)
    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    canvas.convert("RGB").save(args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
