#!/usr/bin/env python3
"""Paints the splash artwork procedurally and writes the PNG images the launcher embeds.

Run from anywhere: python3 tools/artwork/generate_artwork.py. The PNGs are committed; rerun only when
the artwork changes. The slogan's characters are set with ImageMagick (`convert`) in the
WenQuanYi Zen Hei face; everything else is painted here from shapes, with supersampled edges.
"""
import math
import os
import struct
import subprocess
import sys
import zlib

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "resources")


def write_png(path, width, height, pixels):
    """pixels: list of rows, each a list of (r, g, b, a) tuples with 0..255 ints (straight alpha)."""
    raw = bytearray()
    for row in pixels:
        raw.append(0)
        for r, g, b, a in row:
            raw += bytes((r, g, b, a))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)
    return png


def over(dst, src):
    """Source-over on straight-alpha float colours (r, g, b, a in 0..1)."""
    sa = src[3]
    if sa <= 0:
        return dst
    da = dst[3] * (1 - sa)
    a = sa + da
    if a <= 0:
        return (0.0, 0.0, 0.0, 0.0)
    return tuple((src[i] * sa + dst[i] * da) / a for i in range(3)) + (a,)


def render(width, height, layers, samples=3):
    """layers: functions (x, y) -> (r, g, b, a) or None, painted in order at each sample."""
    rows = []
    offsets = [(i + 0.5) / samples for i in range(samples)]
    for py in range(height):
        row = []
        for px in range(width):
            acc = [0.0, 0.0, 0.0, 0.0]
            for oy in offsets:
                for ox in offsets:
                    colour = (0.0, 0.0, 0.0, 0.0)
                    for layer in layers:
                        c = layer(px + ox, py + oy)
                        if c is not None:
                            colour = over(colour, c)
                    for i in range(3):
                        acc[i] += colour[i] * colour[3]
                    acc[3] += colour[3]
            n = samples * samples
            a = acc[3] / n
            if a <= 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(int(round(min(1.0, acc[i] / acc[3]) * 255)) for i in range(3)) +
                           (int(round(min(1.0, a) * 255)),))
        rows.append(row)
    return rows


def mix(c1, c2, t):
    t = max(0.0, min(1.0, t))
    return tuple(c1[i] + (c2[i] - c1[i]) * t for i in range(len(c1)))


def hexc(text, alpha=1.0):
    v = int(text.lstrip("#"), 16)
    return ((v >> 16 & 255) / 255, (v >> 8 & 255) / 255, (v & 255) / 255, alpha)


def rounded_rect_inside(x, y, left, top, right, bottom, radius):
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius and left <= x <= right and top <= y <= bottom


def in_circle(x, y, cx, cy, r):
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def segment_distance(x, y, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(x - (ax + t * dx), y - (ay + t * dy))


# ---- 1001: close button, a light cross on a transparent ground -------------------------------
def close_button():
    c = 24.5

    def shade(x, y):
        return hexc("#000000", 0.30) if in_circle(x, y, c, c, 19) else None

    def ring(x, y):
        d = math.hypot(x - c, y - c)
        return hexc("#F2E6D0", 0.85) if 17.5 <= d <= 20 else None

    def cross_shadow(x, y):
        d = min(segment_distance(x, y, c - 8, c - 7, c + 9, c + 10), segment_distance(x, y, c + 9, c - 7, c - 8, c + 10))
        return hexc("#000000", 0.45) if d <= 3.2 else None

    def cross(x, y):
        d = min(segment_distance(x, y, c - 8.5, c - 8.5, c + 8.5, c + 8.5),
                segment_distance(x, y, c + 8.5, c - 8.5, c - 8.5, c + 8.5))
        return hexc("#FBF7EE") if d <= 2.8 else None

    return render(49, 49, [shade, ring, cross_shadow, cross], samples=4)


# ---- 1002: the product logo, a crowned shield ------------------------------------------------
def shield_inside(x, y, w, h, inset):
    left, right, top = inset, w - inset, 14 + inset
    mid = w / 2
    if y < top or x < left or x > right:
        return False
    shoulder = h * 0.55
    if y <= shoulder:
        return True
    # the lower half narrows to a point along two arcs
    t = (y - shoulder) / (h - inset - 2 - shoulder)
    if t > 1:
        return False
    half = (right - left) / 2 * math.sqrt(max(0.0, 1 - t * t))
    return abs(x - mid) <= half


def logo():
    w, h = 92, 115

    def border(x, y):
        return mix(hexc("#FFE58A"), hexc("#B8860B"), y / h) if shield_inside(x, y, w, h, 2) else None

    def field(x, y):
        if not shield_inside(x, y, w, h, 6):
            return None
        col = mix(hexc("#D4202A"), hexc("#6E0710"), y / h)
        if (x + y * 0.6) % 18 < 3:  # faint diagonal sheen
            col = mix(col, hexc("#FFFFFF"), 0.08)
        return col

    def crown(x, y):
        if y < 2 or y > 16 or x < 26 or x > 66:
            return None
        base = 10 <= y <= 16
        peaks = any(abs(x - px) < (16 - y) * 0.45 + 1 for px in (29, 46, 63)) and y >= 3
        return mix(hexc("#FFF1A8"), hexc("#C99A1C"), y / 16) if base or peaks else None

    def letter(x, y):
        # a bold "T" with a gold bevel
        bar = rounded_rect_inside(x, y, 24, 32, 68, 44, 3)
        stem = rounded_rect_inside(x, y, 39, 32, 53, 92, 3)
        if not (bar or stem):
            return None
        return mix(hexc("#FFF4C2"), hexc("#E0A820"), (y - 32) / 60)

    def gem(x, y):
        return mix(hexc("#9BE7FF"), hexc("#1F6FD1"), (y - 99) / 10) if in_circle(x, y, 46, 103, 4.5) else None

    return render(w, h, [border, field, crown, letter, gem], samples=3)


# ---- 1003: a partner platform's plate (carried, not placed) ----------------------------------
def partner_logo():
    w, h = 748, 200

    def plate(x, y):
        if not rounded_rect_inside(x, y, 4, 4, w - 4, h - 4, 36):
            return None
        return mix(hexc("#2E5E9E", 0.95), hexc("#142A4A", 0.95), y / h)

    def stripes(x, y):
        if not rounded_rect_inside(x, y, 24, 24, w - 24, h - 24, 24):
            return None
        return hexc("#FFFFFF", 0.10) if (x - y) % 40 < 14 else None

    def badge(x, y):
        return mix(hexc("#FFFFFF"), hexc("#A8C8F0"), (y - 50) / 100) if in_circle(x, y, 110, 100, 52) else None

    def badge_mark(x, y):
        d = segment_distance(x, y, 84, 104, 104, 124)
        d = min(d, segment_distance(x, y, 104, 124, 140, 76))
        return hexc("#2E5E9E") if d <= 8 else None

    def bars(x, y):
        for i, length in enumerate((420, 330, 380)):
            top = 60 + i * 30
            if rounded_rect_inside(x, y, 200, top, 200 + length, top + 16, 8):
                return hexc("#FFFFFF", 0.85 - 0.2 * i)
        return None

    return render(w, h, [plate, stripes, badge, badge_mark, bars], samples=2)


# ---- 1004: slogan, gold characters -----------------------------------------------------------
SLOGAN_LINES = ("热血征程", "即刻开启")  # "a passionate journey" / "starts now"


def slogan(path):
    font = "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc"
    lines = (("-0-28", SLOGAN_LINES[0], 50), ("+26+30", SLOGAN_LINES[1], 42))

    def text_layer(extra):
        args = ["-size", "261x123", "xc:none", "-font", font, "-gravity", "center"] + extra
        for offset, line, size in lines:
            args += ["-pointsize", str(size), "-annotate", offset, line]
        return args

    outline = path + ".outline.png"
    mask = path + ".mask.png"
    # dark outline under the glyphs, then a vertical gold gradient clipped to the glyphs over it
    subprocess.run(["convert"] + text_layer(["-stroke", "#4A1400", "-strokewidth", "7", "-fill", "#4A1400"]) +
                   [outline], check=True)
    subprocess.run(["convert"] + text_layer(["-fill", "white"]) + [mask], check=True)
    subprocess.run(["convert", outline, "(", "-size", "261x123", "gradient:#FFF6B0-#D08A10", mask,
                    "-compose", "CopyOpacity", "-composite", ")", "-compose", "Over", "-composite",
                    "-strip", "-define", "png:color-type=6", path], check=True)
    os.remove(outline)
    os.remove(mask)


# ---- 1005: background, a red slanted banner with a mascot, bubbles and coins ------------------
def banner_inside(x, y):
    # a parallelogram leaning right: top edge from 70 to 734, bottom edge from 14 to 690
    top, bottom = 12 + (x - 70) * -0.012, 318
    if y < top or y > bottom:
        return False
    t = (y - 12) / (bottom - 12)
    left = 70 + (14 - 70) * t
    right = 734 + (690 - 734) * t
    return left <= x <= right


def background():
    w, h = 740, 328

    def trim(x, y):
        # gold rim: the banner grown by 3 pixels
        for dx, dy in ((-3, 0), (3, 0), (0, -3), (0, 3)):
            if banner_inside(x + dx, y + dy):
                return mix(hexc("#FFE28A"), hexc("#B9831A"), y / h)
        return None

    def banner(x, y):
        if not banner_inside(x, y):
            return None
        col = mix(hexc("#E0262F"), hexc("#7C0A12"), y / h)
        if (x * 0.7 + y) % 46 < 10:  # slanted light stripes
            col = mix(col, hexc("#FF6A5A"), 0.18)
        glow = math.exp(-((x - 590) ** 2 + (y - 140) ** 2) / (2 * 120 ** 2))
        return mix(col, hexc("#FFB347"), glow * 0.35)

    def lower_band(x, y):
        # a darker band under the progress bar and the notices keeps the white texts readable
        if banner_inside(x, y) and y >= 262:
            return hexc("#3A0206", 0.45)
        return None

    bubbles = [(48 + (i * 97) % 640, 30 + (i * 53) % 230, 4 + (i * 7) % 11) for i in range(22)]

    def bubble(x, y):
        for bx, by, r in bubbles:
            d = math.hypot(x - bx, y - by)
            if d <= r:
                if d >= r - 1.5:
                    return hexc("#FFFFFF", 0.55)
                if math.hypot(x - (bx - r * 0.35), y - (by - r * 0.35)) <= r * 0.3:
                    return hexc("#FFFFFF", 0.7)
                return hexc("#FFD6E0", 0.12)
        return None

    coins = [(470, 250, 15), (505, 236, 12), (676, 232, 14), (700, 200, 10), (455, 110, 11), (640, 52, 9)]

    def coin(x, y):
        for cx, cy, r in coins:
            ex, ey = (x - cx) / r, (y - cy) / (r * 0.8)
            d = ex * ex + ey * ey
            if d <= 1:
                if d >= 0.6:
                    return mix(hexc("#FFF0A0"), hexc("#C08010"), (y - cy + r) / (2 * r))
                inner = abs(x - cx) <= r * 0.12 and abs(y - cy) <= r * 0.45
                return hexc("#B07008") if inner else hexc("#F5C842")
        return None

    mx, my = 585, 150

    def mascot(x, y):
        # ears
        for ex in (mx - 42, mx + 42):
            if abs(x - ex) <= (y - (my - 88)) * 0.55 and my - 88 <= y <= my - 40:
                return hexc("#F39A1E")
        d = math.hypot(x - mx, (y - my) * 1.05)
        if d > 62:
            return None
        col = mix(hexc("#FFD35C"), hexc("#F08A12"), (y - my + 62) / 124)
        if d > 58:
            col = hexc("#8A3A00")
        # belly
        if math.hypot(x - mx, (y - my - 28) * 1.3) <= 34:
            col = hexc("#FFF1CF")
        # eyes
        for ex in (mx - 22, mx + 22):
            if math.hypot(x - ex, (y - my + 14) * 0.8) <= 12:
                col = hexc("#FFFFFF")
                if math.hypot(x - ex - 3, y - my + 12) <= 6:
                    col = hexc("#1B1B1B")
                    if math.hypot(x - ex - 5, y - my + 15) <= 2:
                        col = hexc("#FFFFFF")
        # cheeks
        for cx in (mx - 38, mx + 38):
            if math.hypot(x - cx, (y - my - 6) * 1.4) <= 9:
                col = mix(col, hexc("#FF6F7F"), 0.6)
        # smile
        sd = math.hypot(x - mx, y - (my - 2))
        if 16 <= sd <= 20 and y > my + 6:
            col = hexc("#8A3A00")
        return col

    def paw(x, y):
        for px, py in ((mx - 58, my + 20), (mx + 60, my + 8)):
            if math.hypot(x - px, (y - py) * 1.2) <= 14:
                return hexc("#F5A623")
        return None

    return render(w, h, [trim, banner, lower_band, bubble, coin, paw, mascot], samples=2)


# ---- 1006: bright green rounded bar (progress fill) --------------------------------------------
def progress_fill():
    w, h = 18, 15

    def body(x, y):
        if not rounded_rect_inside(x, y, 0.5, 0.5, w - 0.5, h - 0.5, 6.5):
            return None
        col = mix(hexc("#A8FF7A"), hexc("#1F9E2A"), y / h)
        if 2.5 <= y <= 5 and 4 <= x <= w - 4:
            col = mix(col, hexc("#FFFFFF"), 0.45)
        return col

    return render(w, h, [body], samples=4)


# ---- 1007: dark blue-green rounded bar (progress track) -----------------------------------------
def progress_track():
    w, h = 35, 11

    def rim(x, y):
        return hexc("#5FA8A0", 0.9) if rounded_rect_inside(x, y, 0, 0, w, h, 5.5) else None

    def body(x, y):
        if not rounded_rect_inside(x, y, 1, 1, w - 1, h - 1, 4.5):
            return None
        return mix(hexc("#06211F"), hexc("#0F4A45"), y / h)

    return render(w, h, [rim, body], samples=4)


# ---- 108: the program icon (PNG for Linux, ICO with PNG entries for Windows) -------------------
def icon(size):
    scale = size / 64.0

    def disc(x, y):
        x, y = x / scale, y / scale
        if not in_circle(x, y, 32, 32, 30):
            return None
        if not in_circle(x, y, 32, 32, 27):
            return hexc("#F2C94C")
        return mix(hexc("#E0262F"), hexc("#7C0A12"), y / 64)

    def letter(x, y):
        x, y = x / scale, y / scale
        if rounded_rect_inside(x, y, 17, 16, 47, 25, 2) or rounded_rect_inside(x, y, 27, 16, 37, 50, 2):
            return mix(hexc("#FFF4C2"), hexc("#E0A820"), (y - 16) / 34)
        return None

    return render(size, size, [disc, letter], samples=4)


def write_ico(path, pngs):
    header = struct.pack("<HHH", 0, 1, len(pngs))
    entries, data = b"", b""
    offset = 6 + 16 * len(pngs)
    for size, png in pngs:
        dim = 0 if size >= 256 else size
        entries += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(png), offset + len(data))
        data += png
    with open(path, "wb") as f:
        f.write(header + entries + data)


def main():
    out = HERE
    images = {
        1001: (49, 49, close_button),
        1002: (92, 115, logo),
        1003: (748, 200, partner_logo),
        1005: (740, 328, background),
        1006: (18, 15, progress_fill),
        1007: (35, 11, progress_track),
    }
    only = set(int(a) for a in sys.argv[1:])
    for rid, (w, h, paint) in images.items():
        if only and rid not in only:
            continue
        write_png(os.path.join(out, "%d.png" % rid), w, h, paint())
        print("painted %d (%dx%d)" % (rid, w, h))
    slogan(os.path.join(out, "1004.png"))
    print("painted 1004 (261x123)")
    pngs = []
    for size in (16, 32, 48, 64):
        png = write_png(os.path.join(out, "icon_108_%d.png" % size), size, size, icon(size))
        pngs.append((size, png))
    write_ico(os.path.join(out, "icon_108.ico"), pngs)
    for size in (16, 32, 48):
        os.remove(os.path.join(out, "icon_108_%d.png" % size))
    os.replace(os.path.join(out, "icon_108_64.png"), os.path.join(out, "108.png"))
    print("painted icon 108")


if __name__ == "__main__":
    main()
