"""Drawing helpers for the skin: shapes are drawn four times larger and scaled
down with a Lanczos filter, so every edge is anti-aliased; small lettering is
drawn at its final size, where the font's hinting keeps it crisp.

Coordinates are in final pixels as floats; pixel (c, r) covers c..c+1, r..r+1.
Everything here is deterministic: no clocks, and noise only from seeded
generators.
"""

import math
import os
import random

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

SUPERSAMPLING = 4

FONT_FOLDERS = ["/usr/share/fonts/truetype/dejavu"]
FONT_FILES = {"regular": "DejaVuSans.ttf", "bold": "DejaVuSans-Bold.ttf"}


def font(weight, size):
    for folder in FONT_FOLDERS:
        path = os.path.join(folder, FONT_FILES[weight])
        if os.path.exists(path):
            return ImageFont.truetype(path, size)
    raise FileNotFoundError("DejaVu Sans (%s) is missing: install fonts-dejavu-core" % weight)


def rgba(colour, alpha=255):
    """'#rrggbb' or an (r, g, b) tuple to an RGBA tuple."""
    if isinstance(colour, str):
        colour = tuple(int(colour[i:i + 2], 16) for i in (1, 3, 5))
    if len(colour) == 4:
        return tuple(colour)
    return tuple(colour) + (alpha,)


def mix(a, b, t):
    a, b = rgba(a), rgba(b)
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(4))


class Canvas:
    """A supersampled drawing surface of a given final size."""

    def __init__(self, width, height, fill=(0, 0, 0, 0)):
        self.width, self.height = width, height
        self.image = Image.new("RGBA", (width * SUPERSAMPLING, height * SUPERSAMPLING), rgba(fill))

    # --- masks (mode "L", supersampled) ---------------------------------------
    def mask(self):
        return Image.new("L", self.image.size, 0)

    @staticmethod
    def _scale(points):
        return [(x * SUPERSAMPLING, y * SUPERSAMPLING) for x, y in points]

    def rect_mask(self, left, top, right, bottom, radius=0.0):
        mask = self.mask()
        box = [left * SUPERSAMPLING, top * SUPERSAMPLING, right * SUPERSAMPLING - 1, bottom * SUPERSAMPLING - 1]
        if radius > 0:
            ImageDraw.Draw(mask).rounded_rectangle(box, radius=radius * SUPERSAMPLING, fill=255)
        else:
            ImageDraw.Draw(mask).rectangle(box, fill=255)
        return mask

    def circle_mask(self, cx, cy, radius):
        mask = self.mask()
        s = SUPERSAMPLING
        ImageDraw.Draw(mask).ellipse([(cx - radius) * s, (cy - radius) * s, (cx + radius) * s - 1,
                                      (cy + radius) * s - 1], fill=255)
        return mask

    def ring_mask(self, cx, cy, inner, outer):
        return ImageChops.subtract(self.circle_mask(cx, cy, outer), self.circle_mask(cx, cy, inner))

    def polygon_mask(self, points):
        mask = self.mask()
        ImageDraw.Draw(mask).polygon(self._scale(points), fill=255)
        return mask

    def sector_mask(self, cx, cy, inner, outer, angle0, angle1, segments=24):
        """Annular sector between two screen angles (radians, y down)."""
        points = []
        for i in range(segments + 1):
            a = angle0 + (angle1 - angle0) * i / segments
            points.append((cx + outer * math.cos(a), cy + outer * math.sin(a)))
        for i in range(segments, -1, -1):
            a = angle0 + (angle1 - angle0) * i / segments
            points.append((cx + inner * math.cos(a), cy + inner * math.sin(a)))
        return self.polygon_mask(points)

    def line_mask(self, points, width):
        mask = self.mask()
        ImageDraw.Draw(mask).line(self._scale(points), fill=255, width=max(1, int(round(width * SUPERSAMPLING))),
                                  joint="curve")
        return mask

    def arc_mask(self, cx, cy, radius, angle0, angle1, width):
        mask = self.mask()
        s = SUPERSAMPLING
        ImageDraw.Draw(mask).arc([(cx - radius) * s, (cy - radius) * s, (cx + radius) * s, (cy + radius) * s],
                                 math.degrees(angle0), math.degrees(angle1), fill=255,
                                 width=max(1, int(round(width * s))))
        return mask

    @staticmethod
    def blur(mask, radius):
        return mask.filter(ImageFilter.GaussianBlur(radius * SUPERSAMPLING))

    @staticmethod
    def shift(mask, dx, dy):
        return ImageChops.offset(mask, int(round(dx * SUPERSAMPLING)), int(round(dy * SUPERSAMPLING)))

    # --- painting --------------------------------------------------------------
    def fill(self, mask, paint, opacity=1.0):
        """Composites a colour or a supersampled RGBA image through a mask."""
        if isinstance(paint, Image.Image):
            layer = paint.copy()
        else:
            layer = Image.new("RGBA", self.image.size, rgba(paint))
        alpha = ImageChops.multiply(layer.getchannel("A"), mask)
        if opacity < 1.0:
            alpha = alpha.point(lambda v: int(round(v * opacity)))
        layer.putalpha(alpha)
        self.image = Image.alpha_composite(self.image, layer)

    def vertical_gradient(self, stops):
        """Full-size RGBA image whose colour runs through the stops
        [(y, colour), ...] given in final pixels."""
        height = self.image.size[1]
        column = Image.new("RGBA", (1, height))
        pixels = []
        for row in range(height):
            y = (row + 0.5) / SUPERSAMPLING
            pixels.append(_interpolate(stops, y))
        column.putdata(pixels)
        return column.resize(self.image.size, Image.NEAREST)

    def angular_paint(self, cx, cy, radius, colour_at):
        """Full-size RGBA image coloured by colour_at(angle, distance) inside
        the given radius (a pixel beyond it) and transparent outside."""
        w, h = self.image.size
        s = SUPERSAMPLING
        image = Image.new("RGBA", (w, h), (0, 0, 0, 0))
        left = max(0, int((cx - radius - 1) * s))
        top = max(0, int((cy - radius - 1) * s))
        right = min(w, int(math.ceil((cx + radius + 1) * s)))
        bottom = min(h, int(math.ceil((cy + radius + 1) * s)))
        pixels = []
        for row in range(top, bottom):
            y = (row + 0.5) / s - cy
            for col in range(left, right):
                x = (col + 0.5) / s - cx
                pixels.append(colour_at(math.atan2(y, x), math.hypot(x, y)))
        patch = Image.new("RGBA", (right - left, bottom - top))
        patch.putdata(pixels)
        image.paste(patch, (left, top))
        return image

    def text(self, position, string, text_font, colour, anchor="ls", spacing=0.0):
        """Large lettering, drawn supersampled (spacing: extra pixels between letters)."""
        big = font_like(text_font, SUPERSAMPLING)
        mask = self.mask()
        draw = ImageDraw.Draw(mask)
        x, y = position
        if spacing == 0.0:
            draw.text((x * SUPERSAMPLING, y * SUPERSAMPLING), string, font=big, fill=255, anchor=anchor)
        else:
            width = spaced_width(string, text_font, spacing)
            if anchor[0] == "m":
                x -= width / 2
            elif anchor[0] == "r":
                x -= width
            for ch in string:
                draw.text((x * SUPERSAMPLING, y * SUPERSAMPLING), ch, font=big, fill=255, anchor="l" + anchor[1])
                x += text_font.getlength(ch) + spacing
        self.fill(mask, colour)
        return mask

    def downscaled(self):
        return self.image.resize((self.width, self.height), Image.LANCZOS)


def font_like(text_font, factor):
    return ImageFont.truetype(text_font.path, int(round(text_font.size * factor)))


def spaced_width(string, text_font, spacing):
    return sum(text_font.getlength(ch) for ch in string) + spacing * (len(string) - 1)


def _interpolate(stops, y):
    if y <= stops[0][0]:
        return rgba(stops[0][1])
    for (y0, c0), (y1, c1) in zip(stops, stops[1:]):
        if y <= y1:
            return mix(c0, c1, (y - y0) / (y1 - y0) if y1 > y0 else 1.0)
    return rgba(stops[-1][1])


def draw_label(image, position, string, text_font, colour, anchor="ls", spacing=0.0, shadow=None):
    """Small lettering at final size (hinted), optionally with a 1-pixel shadow
    below it that makes it look printed into the surface."""
    layer = Image.new("RGBA", image.size, (0, 0, 0, 0))
    draw = ImageDraw.Draw(layer)
    x, y = position
    if spacing:
        width = spaced_width(string, text_font, spacing)
        if anchor[0] == "m":
            x -= width / 2
        elif anchor[0] == "r":
            x -= width
    for offset, paint in (((0, 1), shadow), ((0, 0), colour)):
        if paint is None:
            continue
        if spacing:
            cx = x
            for ch in string:
                draw.text((cx + offset[0], y + offset[1]), ch, font=text_font, fill=rgba(paint), anchor="l" + anchor[1])
                cx += text_font.getlength(ch) + spacing
        else:
            draw.text((x + offset[0], y + offset[1]), string, font=text_font, fill=rgba(paint), anchor=anchor)
    return Image.alpha_composite(image, layer)


def draw_rotated_label(image, centre, string, text_font, colour, shadow=None):
    """Small lettering reading upwards, centred on a point."""
    width = int(math.ceil(text_font.getlength(string))) + 4
    height = text_font.size + 6
    strip = Image.new("RGBA", (width, height), (0, 0, 0, 0))
    strip = draw_label(strip, (width / 2, height / 2), string, text_font, colour, anchor="mm", shadow=None)
    if shadow is not None:
        shade = draw_label(Image.new("RGBA", (width, height), (0, 0, 0, 0)), (width / 2, height / 2), string,
                           text_font, shadow, anchor="mm")
    turned = strip.transpose(Image.ROTATE_90)
    layer = Image.new("RGBA", image.size, (0, 0, 0, 0))
    x = int(round(centre[0] - turned.size[0] / 2))
    y = int(round(centre[1] - turned.size[1] / 2))
    if shadow is not None:
        layer.alpha_composite(shade.transpose(Image.ROTATE_90), (x + 1, y))
    layer.alpha_composite(turned, (x, y))
    return Image.alpha_composite(image, layer)


def noise_image(size, seed, amplitude, blur=0.0):
    """Grey noise centred on 128 with roughly the given spread, from a seeded
    generator so every run makes the same bytes."""
    width, height = size
    data = random.Random(seed).randbytes(width * height)
    noise = Image.frombytes("L", size, data)
    if blur > 0:
        noise = noise.filter(ImageFilter.GaussianBlur(blur))
        # Blurring narrows the spread; stretch it back around the middle.
        lo, hi = noise.getextrema()
        span = max(1, max(hi - 128, 128 - lo))
        return noise.point(lambda v: int(round(128 + (v - 128) * amplitude / span)))
    return noise.point(lambda v: int(round(128 + (v - 128) * amplitude / 128)))


def add_noise(image, noise):
    """Adds (noise - 128) to the colour channels, keeping alpha."""
    r, g, b, a = image.split()
    lighter = noise.point(lambda v: max(0, v - 128))
    darker = noise.point(lambda v: max(0, 128 - v))
    channels = [ImageChops.subtract(ImageChops.add(c, lighter), darker) for c in (r, g, b)]
    return Image.merge("RGBA", channels + [a])
