#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Draws the toolbar strips toolbar.png (24 px buttons) and toolbar@2x.png
(48 px buttons) and writes toolbar.txt, the button names in strip order.

Every pixel is either the key colour (magenta, 255 0 255: transparent) or one
drawn colour: shapes are sampled once at each pixel centre, never blended, so
the program's pixel processors see only clean colours. Each button is drawn in
a 24-unit design space; the 2x strip samples the same shapes at twice the
resolution, so it is drawn finer rather than scaled up.

Usage: make_toolbar.py [OUTPUT_DIR]   (default: the folder above this script)
"""
import math
import os
import struct
import sys
import zlib

KEY = (255, 0, 255)

SLATE = (0x2D, 0x3E, 0x50)     # outlines
BLUE = (0x2F, 0x80, 0xED)      # main accent
BLUE_LIGHT = (0xD6, 0xE6, 0xFB)
BLUE_MID = (0x8F, 0xBC, 0xF6)
WARM = (0xF2, 0x99, 0x4A)      # warm accent
WARM_LIGHT = (0xF9, 0xD0, 0x7A)
GREEN = (0x27, 0xAE, 0x60)
WHITE = (0xFF, 0xFF, 0xFF)
PAPER = (0xF4, 0xF6, 0xF8)
GREY = (0x9A, 0xA5, 0xB1)


# --- geometry ----------------------------------------------------------------

def seg_dist(px, py, ax, ay, bx, by):
    """Distance from point p to the segment a-b."""
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / length2))
    cx, cy = ax + t * dx, ay + t * dy
    return math.hypot(px - cx, py - cy)


def inside_polygon(px, py, pts):
    inside = False
    n = len(pts)
    for i in range(n):
        x1, y1 = pts[i]
        x2, y2 = pts[(i + 1) % n]
        if (y1 > py) != (y2 > py):
            x = x1 + (py - y1) * (x2 - x1) / (y2 - y1)
            if px < x:
                inside = not inside
    return inside


def boundary_dist(px, py, pts):
    n = len(pts)
    return min(seg_dist(px, py, *pts[i], *pts[(i + 1) % n]) for i in range(n))


def angle_in(a, start, end):
    """Whether angle a (degrees) lies on the arc going from start to end
    counter-clockwise on screen (increasing angle with y pointing down means
    clockwise on screen; callers pass angles as on screen, see Canvas.arc)."""
    a = (a - start) % 360.0
    return a <= (end - start) % 360.0


class Canvas:
    """One button. Coordinates are design units (0..24); `k` is the pixel
    scale (1 or 2). Line widths are in design units, so they double in the
    2x strip."""

    def __init__(self, k):
        self.k = k
        self.size = 24 * k
        self.px = [[KEY] * self.size for _ in range(self.size)]

    def _paint(self, test, colour, bounds=None):
        k = self.k
        x0, y0, x1, y1 = 0, 0, self.size, self.size
        if bounds is not None:
            bx0, by0, bx1, by1 = bounds
            x0 = max(0, int(math.floor(bx0 * k)) - 1)
            y0 = max(0, int(math.floor(by0 * k)) - 1)
            x1 = min(self.size, int(math.ceil(bx1 * k)) + 1)
            y1 = min(self.size, int(math.ceil(by1 * k)) + 1)
        for y in range(y0, y1):
            cy = (y + 0.5) / k
            row = self.px[y]
            for x in range(x0, x1):
                if test((x + 0.5) / k, cy):
                    row[x] = colour

    # Filled shapes.
    def rect(self, x0, y0, x1, y1, colour):
        self._paint(lambda x, y: x0 <= x < x1 and y0 <= y < y1, colour, (x0, y0, x1, y1))

    def polygon(self, pts, colour):
        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]
        self._paint(lambda x, y: inside_polygon(x, y, pts), colour, (min(xs), min(ys), max(xs), max(ys)))

    def disc(self, cx, cy, r, colour):
        self._paint(lambda x, y: math.hypot(x - cx, y - cy) < r, colour, (cx - r, cy - r, cx + r, cy + r))

    # Outlines (drawn inside the shape's edge).
    def polygon_outline(self, pts, width, colour):
        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]
        self._paint(lambda x, y: inside_polygon(x, y, pts) and boundary_dist(x, y, pts) < width,
                    colour, (min(xs), min(ys), max(xs), max(ys)))

    def shape(self, pts, fill, width, outline):
        self.polygon(pts, fill)
        self.polygon_outline(pts, width, outline)

    def box(self, x0, y0, x1, y1, fill, width, outline):
        self.shape([(x0, y0), (x1, y0), (x1, y1), (x0, y1)], fill, width, outline)

    def ring(self, cx, cy, r, width, colour):
        self._paint(lambda x, y: r - width <= math.hypot(x - cx, y - cy) < r, colour,
                    (cx - r, cy - r, cx + r, cy + r))

    def arc(self, cx, cy, r, width, start, end, colour):
        """Part of a ring from angle start to angle end, both in degrees,
        measured clockwise on screen from 3 o'clock."""
        def test(x, y):
            d = math.hypot(x - cx, y - cy)
            if not (r - width <= d < r):
                return False
            return angle_in(math.degrees(math.atan2(y - cy, x - cx)), start, end)
        self._paint(test, colour, (cx - r, cy - r, cx + r, cy + r))

    # Strokes centred on a path; ends are square cut at the end points.
    def line(self, ax, ay, bx, by, width, colour, cap=False):
        half = width / 2.0
        if cap:
            self._paint(lambda x, y: seg_dist(x, y, ax, ay, bx, by) < half, colour,
                        (min(ax, bx) - half, min(ay, by) - half, max(ax, bx) + half, max(ay, by) + half))
            return
        length = math.hypot(bx - ax, by - ay)
        ux, uy = (bx - ax) / length, (by - ay) / length
        nx, ny = -uy * half, ux * half
        self.polygon([(ax + nx, ay + ny), (bx + nx, by + ny), (bx - nx, by - ny), (ax - nx, ay - ny)], colour)

    def mirror(self):
        for row in self.px:
            row.reverse()


# --- the buttons -------------------------------------------------------------

def draw_new(c):
    page = [(4, 2), (14, 2), (19, 7), (19, 22), (4, 22)]
    c.shape(page, WHITE, 1, SLATE)
    fold = [(14, 2), (19, 7), (14, 7)]
    c.shape(fold, BLUE_LIGHT, 1, SLATE)
    # Plus badge at the lower right, with a white rim that parts it from the page.
    c.disc(17.5, 17.5, 6.5, WHITE)
    c.disc(17.5, 17.5, 5.5, GREEN)
    c.rect(16.5, 14, 18.5, 21, WHITE)
    c.rect(14, 16.5, 21, 18.5, WHITE)


def folder_back(c, x0, y0, x1, y1, fill):
    tab = [(x0, y0), (x0 + 6, y0), (x0 + 8, y0 + 2), (x1, y0 + 2), (x1, y1), (x0, y1)]
    c.shape(tab, fill, 1, SLATE)


def draw_open(c):
    folder_back(c, 2, 4, 20, 20, WARM)
    # A sheet sticking out of the folder.
    c.box(5, 8, 18, 14, WHITE, 1, SLATE)
    # The front flap, tilted open.
    flap = [(6, 11), (23, 11), (19, 20), (2, 20)]
    c.shape(flap, WARM_LIGHT, 1, SLATE)


def draw_save(c):
    body = [(3, 3), (18, 3), (21, 6), (21, 21), (3, 21)]
    c.shape(body, BLUE, 1, SLATE)
    # Shutter with its slot.
    c.box(7, 3, 16, 9, PAPER, 1, SLATE)
    c.rect(12, 4, 14, 8, SLATE)
    # Label.
    c.box(6, 12, 18, 21, WHITE, 1, SLATE)
    c.rect(8, 15, 16, 16, GREY)
    c.rect(8, 17, 14, 18, GREY)


def tray(c):
    outer = [(2, 12), (7, 12), (9, 15), (15, 15), (17, 12), (22, 12), (22, 21), (2, 21)]
    c.shape(outer, BLUE_LIGHT, 1, SLATE)


def draw_import(c):
    tray(c)
    # Arrow coming down into the tray.
    c.rect(10.5, 2, 13.5, 9, BLUE)
    c.polygon([(6.5, 8), (17.5, 8), (12, 13.5)], BLUE)


def magnifier(c):
    c.line(15, 15, 21.5, 21.5, 3, SLATE, cap=True)
    c.disc(10, 10, 7.5, BLUE_LIGHT)
    c.ring(10, 10, 7.5, 2, SLATE)


def draw_find(c):
    magnifier(c)
    # A glint on the glass.
    c.arc(10, 10, 5, 1.2, 190, 260, WHITE)


def draw_zoom_in(c):
    magnifier(c)
    c.rect(6, 9, 14, 11, BLUE)
    c.rect(9, 6, 11, 14, BLUE)


def draw_zoom_out(c):
    magnifier(c)
    c.rect(6, 9, 14, 11, BLUE)


def draw_rotate_cw(c):
    # Circular arrow turning clockwise: the arc runs from the upper right,
    # down and round to twelve o'clock, where the head points on to the right.
    cx, cy, r, w = 12, 13.5, 8.5, 2.5
    c.arc(cx, cy, r, w, -15, 271, BLUE)
    mid = r - w / 2.0
    # At twelve o'clock the clockwise direction points right (+x).
    ex, ey = cx, cy - mid
    c.polygon([(ex, ey - 4.5), (ex + 5.5, ey), (ex, ey + 4.5)], BLUE)
    # A small picture in the middle: what is being turned.
    c.box(9, 11, 15, 17, WHITE, 1, SLATE)
    c.polygon([(10, 16), (12, 13), (14, 16)], GREEN)


def draw_rotate_ccw(c):
    draw_rotate_cw(c)
    c.mirror()


def draw_list_view(c):
    for y in (4, 10, 16):
        c.box(2, y, 7, y + 5, BLUE, 1, SLATE)
        c.rect(9, y + 1, 22, y + 3, SLATE)
        c.rect(9, y + 3, 18, y + 4, GREY)


def draw_thumbnail_view(c):
    for x in (3, 13):
        for y in (3, 13):
            c.box(x, y, x + 8, y + 8, BLUE_LIGHT, 1, SLATE)
            c.rect(x + 2, y + 2, x + 6, y + 6, BLUE)


def picture(c, x0, y0, x1, y1):
    c.box(x0, y0, x1, y1, BLUE_LIGHT, 1, SLATE)
    c.disc(x1 - 5, y0 + 5, 2, WARM)
    c.polygon([(x0 + 1, y1 - 1), (x0 + 7, y0 + 7), (x0 + 11, y0 + 11), (x0 + 13, y0 + 9),
               (x1 - 1, y1 - 3), (x1 - 1, y1 - 1)], GREEN)


def draw_media_view(c):
    picture(c, 2, 4, 22, 20)


def draw_info_panel(c):
    c.disc(12, 12, 10, BLUE)
    c.ring(12, 12, 10, 1, SLATE)
    c.disc(12, 7, 1.7, WHITE)
    c.rect(11, 10, 13, 17, WHITE)
    c.rect(10, 10, 11, 11, WHITE)
    c.rect(10, 16, 14, 17.5, WHITE)


def small_folder(c, x0, y0, x1, y1, fill):
    pts = [(x0, y0), (x0 + 3, y0), (x0 + 4, y0 + 1), (x1, y0 + 1), (x1, y1), (x0, y1)]
    c.shape(pts, fill, 1, SLATE)


def draw_organize_panel(c):
    # Tree lines.
    c.rect(5, 8, 6, 19, SLATE)
    c.rect(5, 12, 10, 13, SLATE)
    c.rect(5, 18, 10, 19, SLATE)
    # Root folder and two children.
    small_folder(c, 2, 2, 11, 8, WARM)
    small_folder(c, 10, 9, 17, 15, WARM_LIGHT)
    # A tag hanging at the second child.
    tag = [(10, 16), (18, 16), (22, 19), (18, 22), (10, 22)]
    c.shape(tag, BLUE, 1, SLATE)
    c.rect(17, 18, 19, 20, WHITE)


BUTTONS = [
    ("new", draw_new),
    ("open", draw_open),
    ("save", draw_save),
    ("import", draw_import),
    ("find", draw_find),
    ("zoom_in", draw_zoom_in),
    ("zoom_out", draw_zoom_out),
    ("rotate_cw", draw_rotate_cw),
    ("rotate_ccw", draw_rotate_ccw),
    ("list_view", draw_list_view),
    ("thumbnail_view", draw_thumbnail_view),
    ("media_view", draw_media_view),
    ("info_panel", draw_info_panel),
    ("organize_panel", draw_organize_panel),
]


# --- output ------------------------------------------------------------------

def write_png(path, width, height, rows):
    raw = bytearray()
    for row in rows:
        raw.append(0)  # filter: none
        for r, g, b in row:
            raw += bytes((r, g, b))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def strip(k):
    size = 24 * k
    rows = [[] for _ in range(size)]
    for _, draw in BUTTONS:
        c = Canvas(k)
        draw(c)
        for y in range(size):
            rows[y].extend(c.px[y])
    return size * len(BUTTONS), size, rows


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    for k, name in ((1, "toolbar.png"), (2, "toolbar@2x.png")):
        w, h, rows = strip(k)
        write_png(os.path.join(out, name), w, h, rows)
    with open(os.path.join(out, "toolbar.txt"), "w") as f:
        for name, _ in BUTTONS:
            f.write(name + "\n")


if __name__ == "__main__":
    main()
