#!/usr/bin/env python3
"""Draws the editor's skin: every PNG under resources/ and the resource script
that names them.

    generate_skin.py [--out FOLDER]

Needs python3-pil and fonts-dejavu-core. The output is the same bytes on every
run: noise comes from fixed seeds and the PNGs carry no time or text chunks.
All positions come from src/gui/toolkit/SkinGeometry.h.
"""

import argparse
import math
import os
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import skin_geometry as sg  # noqa: E402
from skin_draw import (Canvas, add_noise, draw_label, draw_rotated_label, font, mix, noise_image,  # noqa: E402
                       rgba)

# ---------------------------------------------------------------------------
# Palette: warm graphite panel, amber LEDs, cool dark displays.
PANEL_TOP = "#292725"
PANEL_BOTTOM = "#1d1c1a"
TITLE_TOP = "#181716"
TITLE_BOTTOM = "#0f0f0e"
PLATE_TOP = "#2e2c29"
PLATE_BOTTOM = "#242321"
PLATE_EDGE = "#0b0a09"
BEVEL_LIGHT = (255, 246, 230)
WELL = "#080808"
TEXT = "#dcd4c6"
TEXT_DIM = "#a29a8d"
TEXT_SHADOW = (0, 0, 0, 150)
AMBER = "#ffa23a"
AMBER_HOT = "#fff0c8"
AMBER_GLOW = "#ff8a1e"
LED_OFF = "#3b2514"
LED_OFF_EDGE = "#1a110a"
DISPLAY = "#0c1114"
GRID = "#1c272d"
GRID_MAIN = "#2a3a43"
GRID_MINOR = "#141d22"
DISPLAY_TEXT = "#4a5f6a"

CHARACTER_NAMES = ["Shrill", "Bright", "Tight", "Flat", "Fat", "Warm"]
MODE_NAMES = ["off", "tube", "tape", "t'n't"]
PRODUCT = "Grindlemark"
VERSION = "1.0.0"
VENDOR = "OVK"

# Frames of the three sections (left, top, right, bottom) in panel pixels.
SECTION_TOP = 42
SECTION_BOTTOM = 286


class GeometryError(Exception):
    pass


# ---------------------------------------------------------------------------
# Layout derived from the geometry header.

class SelectorLed:
    """One LED of the selector ring: where it sits and which segments light it."""

    def __init__(self, segment, angle, mode_segment):
        self.segment = segment
        self.angle = angle
        self.mode_segment = mode_segment


class Layout:
    def __init__(self, g):
        self.g = g
        self.centre = (g.kDialCenterX + 0.5, g.kDialCenterY + 0.5)
        # The BOOST plate starts further left than symmetry would put it: the
        # upright meter names need the strip between its edge and the meters.
        self.sections = [(5, SECTION_TOP, 200, SECTION_BOTTOM), (204, SECTION_TOP, 399, SECTION_BOTTOM),
                         (403, SECTION_TOP, 601, SECTION_BOTTOM)]
        # Headings centre on what the plates hold: the response display, the
        # gap between the two XY displays, the meters.
        self.header_centres = [g.kScopeResponseX + g.kScopeResponseWidth / 2,
                               (g.kScopeTubeX + g.kScopeSquareSize + g.kScopeTapeX) / 2,
                               g.kMeterX + g.kMeterWidth / 2]
        self.ring0 = sg.ring0_rule(g)
        self.character = sg.character_rule(g)
        self.mode = sg.mode_rule(g)
        width, height = g.kDialWideWidth, g.kDialHeight
        self.ring0_steps = sg.step_map(g, self.ring0, width, height)
        self.character_steps = sg.step_map(g, self.character, width, height)
        self.mode_steps = sg.step_map(g, self.mode, width, height)

        # Ring 0: one LED per step; the LED of step i sits between the step
        # angles i-1 and i, clear of both rays and of the band's edges.
        self.ring0_leds = []
        for i in range(1, self.ring0.steps + 1):
            a0 = sg.step_angle(self.ring0, i - 1)
            a1 = sg.step_angle(self.ring0, i)
            self.ring0_leds.append((i, (a0 + a1) / 2))
        self.ring0_led_half_angle = math.radians(2.7)
        self.ring0_led_radii = (g.kRing0InnerRadius + 0.85, g.kRing0OuterRadius - 0.85)

        # Ring 1: the character and mode selectors share the LED picture, so
        # each LED must lie inside one character segment and inside one mode
        # segment (or outside the mode arc). Every character segment gets an
        # LED in the widest part of it that no mode boundary crosses; each
        # mode segment must then hold exactly one of those LEDs.
        char_edges = [sg.step_angle(self.character, k) for k in range(self.character.steps + 1)]
        mode_edges = [sg.step_angle(self.mode, k) for k in range(self.mode.steps + 1)]
        self.selector_leds = []
        for k in range(self.character.steps):
            lo, hi = char_edges[k], char_edges[k + 1]
            cuts = sorted([lo, hi] + [e for e in mode_edges if lo < e < hi])
            a, b = max(zip(cuts, cuts[1:]), key=lambda piece: piece[1] - piece[0])
            centre = (a + b) / 2
            mode_segment = None
            for j in range(self.mode.steps):
                if mode_edges[j] < centre <= mode_edges[j + 1]:
                    mode_segment = j
            self.selector_leds.append(SelectorLed(k, centre, mode_segment))
        for j in range(self.mode.steps):
            owners = [led for led in self.selector_leds if led.mode_segment == j]
            if len(owners) != 1:
                raise GeometryError("mode segment %d holds %d selector LEDs" % (j, len(owners)))
        self.selector_radius = (g.kRing1InnerRadius + g.kRing1OuterRadius) / 2 - 3.0
        self.selector_bezel = 5.0
        self.selector_lens = 3.5
        self._ring0_regions = {}
        for p, step in self.ring0_steps.items():
            self._ring0_regions.setdefault(step, set()).add(p)
        self._selector_regions = {
            led.segment: {p for p, k in self.character_steps.items()
                          if k == led.segment and self.mode_steps.get(p) == led.mode_segment}
            for led in self.selector_leds}

    def selector_centre(self, led):
        cx, cy = self.centre
        return (cx + self.selector_radius * math.cos(led.angle), cy + self.selector_radius * math.sin(led.angle))

    def ring0_region(self, step):
        return self._ring0_regions.get(step, set())

    def selector_region(self, led):
        """Pixels that light exactly when this LED's segment lights, on both
        selector dials."""
        return self._selector_regions[led.segment]

    def dial_origin(self, kind):
        g = self.g
        x = {"character": g.kDialCharacterX, "mode": g.kDialDriveX, "level": g.kDialLevelX}[kind]
        return x, g.kDialY

    def ring_centre_on_panel(self, kind):
        x, y = self.dial_origin(kind)
        return x + self.centre[0], y + self.centre[1]


# ---------------------------------------------------------------------------
# Shared surfaces

def bevel_frame(canvas, box, radius, fill_top, fill_bottom, light=0.16, dark=0.55, shadow=True):
    """A raised plate: soft drop shadow, dark outline, gradient face, light top
    edge and dark bottom edge."""
    left, top, right, bottom = box
    if shadow:
        drop = canvas.blur(canvas.shift(canvas.rect_mask(left, top, right, bottom, radius), 0, 2), 2.5)
        canvas.fill(drop, (0, 0, 0), 0.75)
    canvas.fill(canvas.rect_mask(left, top, right, bottom, radius), PLATE_EDGE)
    face = canvas.vertical_gradient([(top, fill_top), (bottom, fill_bottom)])
    inner = canvas.rect_mask(left + 1, top + 1, right - 1, bottom - 1, radius - 1)
    canvas.fill(inner, face)
    # Top-left light and bottom-right dark lips, one pixel wide.
    lip_light = ImageChops.subtract(inner, canvas.shift(inner, 1, 1))
    lip_dark = ImageChops.subtract(inner, canvas.shift(inner, -1, -1))
    canvas.fill(lip_light, BEVEL_LIGHT, light)
    canvas.fill(lip_dark, (0, 0, 0), dark)


def sunken_well(canvas, box, radius, depth=1.0):
    """A recess cut into the plate: dark inside, shadow on its upper lip,
    catch-light on its lower lip."""
    left, top, right, bottom = box
    outer = canvas.rect_mask(left, top, right, bottom, radius)
    canvas.fill(outer, WELL)
    lower_lip = ImageChops.subtract(canvas.rect_mask(left, top + 1, right, bottom + 1, radius), outer)
    canvas.fill(lower_lip, BEVEL_LIGHT, 0.10 * depth)
    upper_shade = ImageChops.subtract(outer, canvas.shift(outer, 0, 2))
    canvas.fill(canvas.blur(upper_shade, 0.6), (0, 0, 0), 0.8)


def background(g, seed):
    """Panel base with the title bar: the panel and the about picture share it,
    so the buttons (composed over the panel) sit right on both."""
    width, height = g.kPanelWidth, g.kPanelHeight
    canvas = Canvas(width, height, PANEL_BOTTOM)
    canvas.fill(canvas.rect_mask(0, 0, width, height), canvas.vertical_gradient(
        [(0, PANEL_TOP), (height, PANEL_BOTTOM)]))
    bar = g.kButtonHeight
    canvas.fill(canvas.rect_mask(0, 0, width, bar), canvas.vertical_gradient(
        [(0, TITLE_TOP), (bar, TITLE_BOTTOM)]))
    canvas.fill(canvas.rect_mask(0, bar, width, bar + 1), (0, 0, 0), 0.9)
    canvas.fill(canvas.rect_mask(0, bar + 1, width, bar + 2), BEVEL_LIGHT, 0.09)
    shade = canvas.blur(canvas.rect_mask(0, bar + 2, width, bar + 5), 1.2)
    canvas.fill(shade, (0, 0, 0), 0.35)
    image = canvas.downscaled()
    image = add_noise(image, noise_image(image.size, seed, 5, blur=0.5))
    image = add_noise(image, noise_image((width // 8 + 1, height // 8 + 1), seed + 1, 4, blur=0.8)
                      .resize((width, height), Image.BICUBIC))
    return image


def title(image, g):
    """Product name and emblem at the left of the title bar."""
    bar = g.kButtonHeight
    canvas = Canvas(image.width, bar + 2)
    # Emblem: a small LED arc around a lit dot, the panel's dial in miniature.
    cx, cy, radius = 22.0, bar / 2, 9.0
    for i in range(11):
        a = math.radians(-229 + i * 27.8)
        canvas.fill(canvas.sector_mask(cx, cy, radius - 2.2, radius, a - 0.16, a + 0.16),
                    AMBER if i < 8 else LED_OFF)
    canvas.fill(canvas.circle_mask(cx, cy, 3.6), mix(AMBER, AMBER_HOT, 0.35))
    canvas.fill(canvas.blur(canvas.circle_mask(cx, cy, 3.6), 2.0), AMBER_GLOW, 0.5)
    name_font = font("bold", 19)
    canvas.text((39, cy + 7), PRODUCT, name_font, TEXT, anchor="ls", spacing=0.6)
    strip = canvas.downscaled()
    image = Image.alpha_composite(image, _pad(strip, image.size))
    tag_x = 39 + name_font.getlength(PRODUCT) + 0.6 * (len(PRODUCT) - 1) + 12
    image = draw_label(image, (tag_x, cy + 7), "BOOST  \u00b7  OVERDRIVE", font("regular", 9), TEXT_DIM,
                       spacing=1.2)
    return image


def _pad(layer, size, at=(0, 0)):
    full = Image.new("RGBA", size, (0, 0, 0, 0))
    full.alpha_composite(layer, at)
    return full


# ---------------------------------------------------------------------------
# Panel (104)

def draw_panel(layout):
    g = layout.g
    image = title(background(g, 104), g)
    canvas = Canvas(g.kPanelWidth, g.kPanelHeight)
    for box in layout.sections:
        bevel_frame(canvas, box, 6, PLATE_TOP, PLATE_BOTTOM)
    # Displays and meters sit in wells cut into the plates.
    scopes = [(g.kScopeResponseX, g.kScopeResponseWidth, g.kScopeResponseHeight),
              (g.kScopeTubeX, g.kScopeSquareSize, g.kScopeSquareSize),
              (g.kScopeTapeX, g.kScopeSquareSize, g.kScopeSquareSize)]
    for x, w, h in scopes:
        sunken_well(canvas, (x - 2, g.kScopeY - 2, x + w + 2, g.kScopeY + h + 2), 3)
    for y in (g.kMeterInputY, g.kMeterOutputY):
        sunken_well(canvas, (g.kMeterX - 2, y - 2, g.kMeterX + g.kMeterWidth + 2, y + g.kMeterHeight + 2), 4)
    # Each knob sits in a shallow dish, and the selector LEDs on a printed arc.
    for kind in ("character", "mode", "level"):
        cx, cy = layout.ring_centre_on_panel(kind)
        dish = canvas.circle_mask(cx, cy, 43)
        canvas.fill(canvas.blur(dish, 3.0), (0, 0, 0), 0.28)
        rim = ImageChops.subtract(canvas.circle_mask(cx, cy + 0.8, 43.5), canvas.circle_mask(cx, cy, 43.5))
        canvas.fill(rim, BEVEL_LIGHT, 0.07)
    for kind, leds in (("character", layout.selector_leds),
                       ("mode", [led for led in layout.selector_leds if led.mode_segment is not None])):
        cx, cy = layout.ring_centre_on_panel(kind)
        first, last = leds[0].angle, leds[-1].angle
        radius = layout.selector_radius - layout.selector_bezel - 3.5
        groove = canvas.arc_mask(cx, cy, radius, first, last, 1.0)
        for led in leds:
            x, y = math.cos(led.angle), math.sin(led.angle)
            groove = ImageChops.add(groove, canvas.line_mask(
                [(cx + radius * x, cy + radius * y), (cx + (radius + 2.5) * x, cy + (radius + 2.5) * y)], 1.0))
        canvas.fill(canvas.shift(groove, 0, 1), BEVEL_LIGHT, 0.10)
        canvas.fill(groove, (0, 0, 0), 0.6)
    image = Image.alpha_composite(image, canvas.downscaled())

    headers = ["CHARACTER", "SATURATION", "BOOST"]
    header_font = font("bold", 10)
    for (left, top, right, _), centre, header in zip(layout.sections, layout.header_centres, headers):
        baseline = top + 17
        image = draw_label(image, (centre, baseline), header, header_font, TEXT, anchor="ms", spacing=2.0,
                           shadow=TEXT_SHADOW)
        half = (header_font.getlength(header) + 2.0 * (len(header) - 1)) / 2
        rule = Image.new("RGBA", image.size, (0, 0, 0, 0))
        draw = ImageDraw.Draw(rule)
        y = baseline - 4
        for x0, x1 in ((left + 12, centre - half - 8), (centre + half + 8, right - 12)):
            draw.line([(x0, y), (x1, y)], fill=rgba(BEVEL_LIGHT, 34))
            draw.line([(x0, y + 1), (x1, y + 1)], fill=(0, 0, 0, 110))
        image = Image.alpha_composite(image, rule)

    label_font = font("regular", 11)
    small_font = font("regular", 9)
    # Selector names beside their LEDs.
    for kind, names in (("character", CHARACTER_NAMES), ("mode", MODE_NAMES)):
        ox, oy = layout.dial_origin(kind)
        leds = layout.selector_leds if kind == "character" else sorted(
            (led for led in layout.selector_leds if led.mode_segment is not None), key=lambda led: led.mode_segment)
        for led, name in zip(leds, names):
            x, y = layout.selector_centre(led)
            image = draw_label(image, (ox + x + layout.selector_bezel + 4.5, oy + y + 0.5), name, label_font,
                               TEXT, anchor="lm", shadow=TEXT_SHADOW)
    # Knob names under the knobs.
    for kind, name in (("character", "amount"), ("mode", "harmonics"), ("level", "level")):
        cx, _ = layout.ring_centre_on_panel(kind)
        image = draw_label(image, (cx, SECTION_BOTTOM - 7), name, label_font, TEXT, anchor="ms", shadow=TEXT_SHADOW)
    # Meter names read upwards in the strip left of the meters.
    for y, name in ((g.kMeterInputY, "input"), (g.kMeterOutputY, "output")):
        strip_left = layout.sections[2][0] + 2
        strip_right = g.kMeterX - 2
        image = draw_rotated_label(image, ((strip_left + strip_right) / 2, y + g.kMeterHeight / 2), name, small_font,
                                   TEXT_DIM, shadow=TEXT_SHADOW)
    return image


# ---------------------------------------------------------------------------
# Dials (105, 107, 108 bases; 106 LEDs)

def knob_and_track(layout, width):
    """Knob body and the dark track of ring 0, identical on every dial."""
    key = (id(layout), width)
    if key not in _KNOB_CACHE:
        _KNOB_CACHE[key] = _draw_knob_and_track(layout, width)
    return _KNOB_CACHE[key].copy()


_KNOB_CACHE = {}


def _draw_knob_and_track(layout, width):
    g = layout.g
    cx, cy = layout.centre
    canvas = Canvas(width, g.kDialHeight)
    inner, outer = g.kRing0InnerRadius - 1.6, g.kRing0OuterRadius + 1.6
    canvas.fill(canvas.blur(canvas.shift(canvas.circle_mask(cx, cy, outer + 0.5), 0, 1), 1.2), (0, 0, 0), 0.5)
    canvas.fill(canvas.ring_mask(cx, cy, inner, outer), "#0d0c0b")
    canvas.fill(ImageChops.subtract(canvas.circle_mask(cx, cy, outer), canvas.circle_mask(cx, cy - 0.7, outer)),
                BEVEL_LIGHT, 0.10)

    radius = g.kRing0InnerRadius - 5.0
    canvas.fill(canvas.blur(canvas.shift(canvas.circle_mask(cx, cy, radius), 0, 2.2), 1.8), (0, 0, 0), 0.9)

    def skirt(angle, distance):
        # Knurled skirt: fine ridges catching light from the top left.
        light = 0.5 + 0.5 * math.cos(angle + math.radians(125))
        ridge = 0.5 + 0.5 * math.cos(angle * 60)
        level = 24 + 22 * light + 10 * ridge * (0.4 + light)
        return (int(level), int(level * 0.97), int(level * 0.93), 255)

    canvas.fill(canvas.circle_mask(cx, cy, radius), canvas.angular_paint(cx, cy, radius, skirt))
    cap = radius - 5.0

    def machined(angle, distance):
        # Spun-metal cap: two opposed sheens, darker towards the edge.
        sheen = math.cos(2 * (angle + math.radians(40)))
        level = 52 + 22 * sheen - 10 * (distance / cap) ** 2
        return (int(level), int(level * 0.98), int(level * 0.95), 255)

    canvas.fill(canvas.circle_mask(cx, cy, cap + 0.8), (10, 10, 10))
    canvas.fill(canvas.circle_mask(cx, cy, cap), canvas.angular_paint(cx, cy, cap, machined))
    top_rim = ImageChops.subtract(canvas.circle_mask(cx, cy, cap), canvas.circle_mask(cx, cy + 0.8, cap))
    canvas.fill(top_rim, BEVEL_LIGHT, 0.35)
    canvas.fill(canvas.circle_mask(cx, cy, 2.2), (18, 18, 18))
    return canvas.downscaled()


def _ring0_led_mask(layout, canvas, angle):
    r0, r1 = layout.ring0_led_radii
    half = layout.ring0_led_half_angle
    cx, cy = layout.centre
    return canvas.sector_mask(cx, cy, r0, r1, angle - half, angle + half, segments=6)


def _clip_to(layer, region, what=None):
    """Keeps only the pixels of the region. Unless it is a soft glow (no
    name), refuses to cut away more than a trace: the LED would then not
    light as a whole."""
    pixels = layer.load()
    worst = 0
    for y in range(layer.height):
        for x in range(layer.width):
            if (x, y) not in region and pixels[x, y][3]:
                worst = max(worst, pixels[x, y][3])
                pixels[x, y] = (0, 0, 0, 0)
    if what is not None and worst > 10:
        raise GeometryError("%s reaches outside the pixels that light it (alpha %d)" % (what, worst))
    return layer


def _glow(led_layer, radius, strength, colour):
    alpha = led_layer.getchannel("A").filter(ImageFilter.GaussianBlur(radius))
    glow = Image.new("RGBA", led_layer.size, rgba(colour))
    glow.putalpha(alpha.point(lambda v: int(min(255, v * strength))))
    return glow


def ring0_led_layer(layout, width, index, angle, lit):
    canvas = Canvas(width, layout.g.kDialHeight)
    mask = _ring0_led_mask(layout, canvas, angle)
    if lit:
        canvas.fill(mask, AMBER)
        cx, cy = layout.centre
        r0, r1 = layout.ring0_led_radii
        core = ImageChops.multiply(mask, canvas.ring_mask(cx, cy, r0 + 0.9, r1 - 0.9))
        canvas.fill(ImageChops.multiply(canvas.blur(core, 0.5), mask), AMBER_HOT, 0.8)
    else:
        canvas.fill(mask, LED_OFF)
        canvas.fill(ImageChops.subtract(mask, canvas.shift(mask, 0, 0.8)), (0, 0, 0), 0.35)
    region = layout.ring0_region(index)
    layer = _clip_to(canvas.downscaled(), region, "ring 0 LED %d" % index)
    if lit:
        layer = Image.alpha_composite(_clip_to(_glow(layer, 1.1, 0.7, AMBER_GLOW), region), layer)
    return layer


def selector_led_layer(layout, width, led, lit):
    canvas = Canvas(width, layout.g.kDialHeight)
    x, y = layout.selector_centre(led)
    bezel = canvas.circle_mask(x, y, layout.selector_bezel)
    canvas.fill(bezel, "#050505")
    canvas.fill(ImageChops.subtract(bezel, canvas.shift(bezel, 0, -0.8)), BEVEL_LIGHT, 0.14)
    lens = canvas.circle_mask(x, y, layout.selector_lens)
    if lit:
        canvas.fill(lens, AMBER)
        hot = ImageChops.multiply(canvas.blur(canvas.circle_mask(x - 0.6, y - 0.7, 1.6), 0.7), lens)
        canvas.fill(hot, AMBER_HOT, 0.95)
    else:
        canvas.fill(lens, LED_OFF)
        canvas.fill(canvas.circle_mask(x - 0.9, y - 1.1, 1.1), (255, 220, 180), 0.10)
    region = layout.selector_region(led)
    layer = _clip_to(canvas.downscaled(), region, "selector LED %d" % led.segment)
    if lit:
        layer = Image.alpha_composite(layer, _clip_to(_glow(layer.copy(), 1.2, 0.35, AMBER_GLOW), region))
    return layer


def draw_dial(layout, kind, lit=False, width=None):
    g = layout.g
    width = width or (g.kDialNarrowWidth if kind == "level" else g.kDialWideWidth)
    image = knob_and_track(layout, width)
    for index, angle in layout.ring0_leds:
        image = Image.alpha_composite(image, ring0_led_layer(layout, width, index, angle, lit))
    for led in layout.selector_leds:
        if kind == "character" or (kind == "mode" and led.mode_segment is not None):
            image = Image.alpha_composite(image, selector_led_layer(layout, width, led, lit))
    return image


def draw_dial_leds(layout, bases):
    """The lit picture: in every pixel that a dial can light, the dial as it
    looks with that pixel's LED on; elsewhere transparent."""
    g = layout.g
    width = g.kDialWideWidth
    unlit = knob_and_track(layout, width)
    lit = draw_dial(layout, "character", lit=True)
    image = Image.new("RGBA", (width, g.kDialHeight), (0, 0, 0, 0))
    source_lit, source_unlit, target = lit.load(), unlit.load(), image.load()
    for (x, y), step in layout.ring0_steps.items():
        # Step 0 is the start ray, lit even at value 0: it must look unlit.
        target[x, y] = source_lit[x, y] if step > 0 else source_unlit[x, y]
    for led in layout.selector_leds:
        for x, y in layout.selector_region(led):
            target[x, y] = source_lit[x, y]
    check_dial_consistency(layout, image, bases)
    return image


def check_dial_consistency(layout, leds, bases):
    """Where a dial lights a pixel, the LED picture may differ from the dial's
    base only inside the LED that the pixel belongs to."""
    led_pixels = leds.load()
    for kind, base in bases.items():
        base_pixels = base.load()
        own = set()
        for led in layout.selector_leds:
            if kind == "character" or (kind == "mode" and led.mode_segment is not None):
                own |= layout.selector_region(led)
        ring1 = {"character": layout.character_steps, "mode": layout.mode_steps, "level": {}}[kind]
        for (x, y), step in list(layout.ring0_steps.items()) + list(ring1.items()):
            if x >= base.width:
                continue
            in_led = ((x, y) in layout.ring0_steps and layout.ring0_steps[(x, y)] > 0) or (x, y) in own
            if not in_led and led_pixels[x, y] != base_pixels[x, y]:
                raise GeometryError("dial %s: pixel %d,%d lights outside any LED" % (kind, x, y))
    # Ring 0 is shared: its band must look the same on every base.
    reference = bases["character"].load()
    for kind, base in bases.items():
        pixels = base.load()
        for (x, y) in layout.ring0_steps:
            if x < base.width and pixels[x, y] != reference[x, y]:
                raise GeometryError("dial %s: ring 0 differs from the character dial at %d,%d" % (kind, x, y))


# ---------------------------------------------------------------------------
# Displays (110, 111, 112)

def display_face(width, height):
    image = Image.new("RGBA", (width, height), rgba(DISPLAY))
    draw = ImageDraw.Draw(image)
    draw.rectangle([0, 0, width - 1, height - 1], outline=rgba("#030404"))
    return image, draw


def dotted_line(draw, points, colour, every=2):
    (x0, y0), (x1, y1) = points
    if x0 == x1:
        for y in range(y0, y1 + 1, every):
            draw.point((x0, y), fill=rgba(colour))
    else:
        for x in range(x0, x1 + 1, every):
            draw.point((x, y0), fill=rgba(colour))


def draw_response_face(g):
    width, height = g.kScopeResponseWidth, g.kScopeResponseHeight
    plot_width, plot_height = g.kScopeResponsePlotWidth, g.kScopePlotHeight
    image, draw = display_face(width, height)
    left, top = (width - plot_width) // 2, (height - plot_height) // 2
    right, bottom = left + plot_width - 1, top + plot_height - 1

    def row_of(decibels):
        # The curve maps +20 dB to the plot's top edge and -20 dB to its
        # bottom edge; 0 dB lands on the row the centre of the control is in.
        return int(round((-decibels / 20.0 * plot_height + height) * 0.5))

    def column_of(frequency):
        return int(round(left + plot_width * math.log(frequency / 20.0, 1000.0)))

    for frequency in (50, 200, 500, 2000, 5000):
        dotted_line(draw, ((column_of(frequency), top), (column_of(frequency), bottom)), GRID_MINOR)
    for frequency in (100, 1000, 10000):
        draw.line([(column_of(frequency), top), (column_of(frequency), bottom)], fill=rgba(GRID))
    # -20 dB falls on the frame's bottom row, just outside the plot.
    for decibels in (20, 10, -10, -20):
        draw.line([(left, row_of(decibels)), (right, row_of(decibels))], fill=rgba(GRID))
    draw.line([(left, row_of(0)), (right, row_of(0))], fill=rgba(GRID_MAIN))
    tiny = font("regular", 8)
    for decibels, text in ((10, "+10"), (0, "0 dB"), (-10, "-10")):
        image = draw_label(image, (left + 3, row_of(decibels) - 2), text, tiny, DISPLAY_TEXT)
    for frequency, text in ((100, "100"), (1000, "1k"), (10000, "10k")):
        image = draw_label(image, (column_of(frequency) + 3, bottom - 2), text, tiny, DISPLAY_TEXT)
    return image


def draw_xy_face(g, name):
    size, plot = g.kScopeSquareSize, g.kScopeSquarePlotWidth
    image, draw = display_face(size, size)
    first = (size - plot) // 2
    last = first + plot - 1
    middle = size // 2
    for quarter in (first + plot // 4, first + 3 * plot // 4):
        dotted_line(draw, ((quarter, first), (quarter, last)), GRID)
        dotted_line(draw, ((first, quarter), (last, quarter)), GRID)
    draw.line([(middle, first), (middle, last)], fill=rgba(GRID_MAIN))
    draw.line([(first, middle), (last, middle)], fill=rgba(GRID_MAIN))
    image = draw_label(image, (first + 3, first + 9), name, font("regular", 8), DISPLAY_TEXT)
    return image


# ---------------------------------------------------------------------------
# Meters (113 to 116)

METER_ZONES = [(0.0, "#43d15a"), (0.62, "#b8e04a"), (0.74, "#ffc23a"), (0.86, "#ff5a2e"), (1.0, "#ff2b24")]


def meter_colour(fraction):
    for (f0, c0), (f1, c1) in zip(METER_ZONES, METER_ZONES[1:]):
        if fraction <= f1:
            return mix(c0, c1, (fraction - f0) / (f1 - f0))
    return rgba(METER_ZONES[-1][1])


def meter_decibel_column(g, decibels, offset, left, right):
    """Where a level would end the lit bar, as the editor scales meter values."""
    value = (decibels + offset) * 60.0 / 23.0 + 8.0 / 23.0
    segments = value * 0.01 * (g.kMeterSegments + 1)
    return left + segments * (right - left) / g.kMeterSegments


def meter_segment_layer(g, bar, segment, span, lit):
    """One LED of a bar, evenly spaced along it and kept inside the columns
    that its own step of the lit rectangle uncovers."""
    left, top, right, bottom = bar
    first, end = span
    n = g.kMeterSegments
    step = (right - left) / n
    canvas = Canvas(g.kMeterWidth, g.kMeterHeight)
    x0 = left + segment * step + 0.5
    x1 = left + (segment + 1) * step - 1.0
    colour = meter_colour(segment / (n - 1))
    mask = canvas.rect_mask(x0, top + 1, x1, bottom - 1, 0.8)
    if lit:
        canvas.fill(mask, colour)
        canvas.fill(canvas.rect_mask(x0 + 0.8, top + 2.2, x1 - 0.8, top + 4.2, 0.8), (255, 255, 255), 0.30)
    else:
        canvas.fill(mask, mix((14, 14, 14), colour, 0.18))
    region = {(x, y) for x in range(first, end) for y in range(top, bottom)}
    return _clip_to(canvas.downscaled(), region, "meter segment %d" % segment)


def draw_meter(g, lit, scale):
    width, height = g.kMeterWidth, g.kMeterHeight
    canvas = Canvas(width, height)
    canvas.fill(canvas.rect_mask(0, 0, width, height, 3), "#0b0b0b")
    for left, top, right, bottom in sg.meter_bars(g):
        canvas.fill(canvas.rect_mask(left - 1, top - 1, right + 1, bottom + 1, 1.5), "#030303")
    image = canvas.downscaled()
    for bar in sg.meter_bars(g):
        for segment, span in enumerate(sg.meter_segment_columns(g, bar[0], bar[2])):
            image = Image.alpha_composite(image, meter_segment_layer(g, bar, segment, span, lit))
    tiny = font("regular", 8)
    (left, _, right, bar0_bottom), (_, bar1_top, _, _) = sg.meter_bars(g)
    offset, marks = scale
    middle = (bar0_bottom + bar1_top) / 2
    for decibels, text in marks:
        x = meter_decibel_column(g, decibels, offset, left, right)
        anchor = "rm" if x > right - 6 else "mm"
        image = draw_label(image, (min(x, right + 0.5), middle + 0.5), text, tiny, "#6d665c", anchor=anchor)
    return image


INPUT_SCALE = (36.666666666666664, [(-30, "-30"), (-20, "-20"), (-10, "-10"), (0, "0")])
OUTPUT_SCALE = (16.666666666666668, [(-10, "-10"), (0, "0"), (10, "+10"), (20, "+20")])


def check_meter(g, off, on):
    """The on and off pictures may differ only inside the bars, where the lit
    rectangle can uncover them."""
    off_pixels, on_pixels = off.load(), on.load()
    bars = sg.meter_bars(g)
    for y in range(off.height):
        for x in range(off.width):
            if off_pixels[x, y] != on_pixels[x, y] and not any(
                    left <= x < right and top <= y < bottom for left, top, right, bottom in bars):
                raise GeometryError("meter lights pixel %d,%d outside its bars" % (x, y))


# ---------------------------------------------------------------------------
# Buttons (123 to 127)

def icon_oversample(canvas, cx, cy, colour):
    canvas.text((cx, cy + 0.5), "16x", font("bold", 11), colour, anchor="mm")


def icon_power(canvas, cx, cy, colour):
    radius = 6.5
    canvas.fill(canvas.arc_mask(cx, cy, radius, math.radians(-55), math.radians(235), 2.0), colour)
    canvas.fill(canvas.line_mask([(cx, cy - radius - 1.5), (cx, cy - 0.5)], 2.0), colour)


def icon_stereo(canvas, cx, cy, colour):
    for dx in (-3.6, 3.6):
        canvas.fill(canvas.ring_mask(cx + dx, cy, 4.6, 6.3), colour)


def icon_download(canvas, cx, cy, colour):
    canvas.fill(canvas.line_mask([(cx, cy - 7), (cx, cy + 2)], 2.0), colour)
    canvas.fill(canvas.polygon_mask([(cx - 4.8, cy - 0.5), (cx + 4.8, cy - 0.5), (cx, cy + 4.8)]), colour)
    canvas.fill(canvas.line_mask([(cx - 7, cy + 4), (cx - 7, cy + 7), (cx + 7, cy + 7), (cx + 7, cy + 4)], 1.8),
                colour)


def icon_info(canvas, cx, cy, colour):
    canvas.fill(canvas.ring_mask(cx, cy, 6.3, 8.0), colour)
    canvas.fill(canvas.circle_mask(cx, cy - 3.6, 1.25), colour)
    canvas.fill(canvas.rect_mask(cx - 1.0, cy - 1.2, cx + 1.0, cy + 4.6, 0.3), colour)


def draw_button(g, icon):
    width, height = g.kButtonWidth, g.kButtonHeight
    strip = Image.new("RGBA", (width, 2 * height), (0, 0, 0, 0))
    for frame, lit in enumerate((False, True)):
        canvas = Canvas(width, height)
        box = (4, 4, width - 4, height - 5)
        cap = canvas.rect_mask(*box, 5)
        canvas.fill(canvas.blur(canvas.shift(cap, 0, 1.5), 1.5), (0, 0, 0), 0.9)
        canvas.fill(cap, "#050505")
        face = canvas.rect_mask(box[0] + 1, box[1] + 1, box[2] - 1, box[3] - 1, 4)
        top, bottom = ("#33302c", "#1f1d1b") if not lit else ("#3a322a", "#241e19")
        canvas.fill(face, canvas.vertical_gradient([(box[1], top), (box[3], bottom)]))
        canvas.fill(ImageChops.subtract(face, canvas.shift(face, 0, 1)), BEVEL_LIGHT, 0.22)
        cx, cy = width / 2, (box[1] + box[3]) / 2
        if lit:
            glow = Canvas(width, height)
            icon(glow, cx, cy, AMBER_GLOW)
            canvas.fill(ImageChops.multiply(canvas.blur(glow.image.getchannel("A"), 2.0), face), AMBER_GLOW, 0.9)
            icon(canvas, cx, cy, mix(AMBER, AMBER_HOT, 0.25))
        else:
            icon(canvas, cx, cy, "#8d867b")
        strip.alpha_composite(canvas.downscaled(), (0, frame * height))
    return strip


# ---------------------------------------------------------------------------
# About picture (103)

def draw_about(layout):
    g = layout.g
    image = title(background(g, 104), g)
    width, height = g.kPanelWidth, g.kPanelHeight
    canvas = Canvas(width, height)
    box = (6, SECTION_TOP, width - 6, SECTION_BOTTOM)
    bevel_frame(canvas, box, 6, PLATE_TOP, PLATE_BOTTOM)
    cx = width / 2
    # A row of amber LEDs under the name, fading out to the sides.
    for i in range(-16, 17):
        x = cx + i * 9.0
        fade = 1.0 - abs(i) / 17.0
        mask = canvas.rect_mask(x - 3, 148, x + 3, 153, 1.0)
        canvas.fill(mask, mix(LED_OFF, AMBER, fade ** 1.5))
    image = Image.alpha_composite(image, canvas.downscaled())
    words = Canvas(width, height)
    words.text((cx, 128), PRODUCT, font("bold", 40), TEXT, anchor="ms", spacing=1.0)
    image = Image.alpha_composite(image, words.downscaled())
    image = draw_label(image, (cx, 82), "GUITAR BOOSTER  \u00b7  OVERDRIVE", font("bold", 10), TEXT_DIM,
                       anchor="ms", spacing=2.0, shadow=TEXT_SHADOW)
    image = draw_label(image, (cx, 184), "version " + VERSION, font("regular", 12), TEXT, anchor="ms",
                       shadow=TEXT_SHADOW)
    image = draw_label(image, (cx, 206), "design, sound and code by " + VENDOR, font("regular", 12), TEXT,
                       anchor="ms", shadow=TEXT_SHADOW)
    image = draw_label(image, (cx, 266), "click  i  again to return to the panel", font("regular", 10), TEXT_DIM,
                       anchor="ms", shadow=TEXT_SHADOW)
    return image


# ---------------------------------------------------------------------------

def build_images(g):
    """{resource id: image} for every skin image."""
    layout = Layout(g)
    images = {}
    images[g.kImagePanel] = draw_panel(layout)
    images[g.kImageAbout] = draw_about(layout)
    bases = {kind: draw_dial(layout, kind) for kind in ("character", "mode", "level")}
    images[g.kImageDialCharacter] = bases["character"]
    images[g.kImageDialDrive] = bases["mode"]
    images[g.kImageDialLevel] = bases["level"]
    images[g.kImageDialLeds] = draw_dial_leds(layout, bases)
    images[g.kImageScopeResponse] = draw_response_face(g)
    images[g.kImageScopeTube] = draw_xy_face(g, "tube")
    images[g.kImageScopeTape] = draw_xy_face(g, "tape")
    for off_id, on_id, scale in ((g.kImageMeterInputOff, g.kImageMeterInputOn, INPUT_SCALE),
                                 (g.kImageMeterOutputOff, g.kImageMeterOutputOn, OUTPUT_SCALE)):
        images[off_id] = draw_meter(g, False, scale)
        images[on_id] = draw_meter(g, True, scale)
        check_meter(g, images[off_id], images[on_id])
    images[g.kImageButtonOversample] = draw_button(g, icon_oversample)
    images[g.kImageButtonPower] = draw_button(g, icon_power)
    images[g.kImageButtonStereo] = draw_button(g, icon_stereo)
    images[g.kImageButtonDownload] = draw_button(g, icon_download)
    images[g.kImageButtonInfo] = draw_button(g, icon_info)
    return images


def write_resources(images, folder):
    os.makedirs(folder, exist_ok=True)
    lines = ["// Skin images of the editor, drawn by tools/skin/generate_skin.py.", ""]
    for resource_id in sorted(images):
        images[resource_id].save(os.path.join(folder, "%d.png" % resource_id), format="PNG")
        lines.append('%d PNG "%d.png"' % (resource_id, resource_id))
    with open(os.path.join(folder, "Grindlemark.rc"), "w", encoding="ascii", newline="\n") as script:
        script.write("\n".join(lines) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=os.path.join(sg.REPO_ROOT, "resources"),
                        help="folder for the PNGs and Grindlemark.rc (default: resources/)")
    args = parser.parse_args()
    try:
        images = build_images(sg.load_geometry())
    except GeometryError as error:
        print("generate_skin: " + str(error), file=sys.stderr)
        return 1
    write_resources(images, args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
