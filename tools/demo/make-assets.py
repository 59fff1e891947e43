#!/usr/bin/env python3
"""Makes the demo product's generated assets, deterministically:

  demo/setup/header.png, header_dark.png    wizard header, light and dark theme
  demo/setup/wizard_light.png, wizard_dark.png   side picture of full-screen pages
  demo/product/addons.png                   picture of the add-ons page
  demo/setup/License_*.rtf                  from demo/licenses/License_*.txt
  "Icon=" of demo/setup/*.lng               16 x 16 flag icons (.ico, hexadecimal)

usage: tools/demo/make-assets.py   (run again after changing this script or a license text)
"""
import math
import os
import re
import struct
import zlib

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
SETUP = os.path.join(ROOT, "demo", "setup")
LICENSES = os.path.join(ROOT, "demo", "licenses")
SS = 3  # samples per pixel and axis


def hexrgb(text):
    return tuple(int(text[i:i + 2], 16) for i in (0, 2, 4))


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


# --- shapes: functions (x, y) -> bool, sampled SS x SS times per pixel ---

def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r, w, a0=-math.pi, a1=math.pi):
    def inside(x, y):
        d = math.hypot(x - cx, y - cy)
        if abs(d - r) > w / 2:
            return False
        a = math.atan2(y - cy, x - cx)
        return a0 <= a <= a1
    return inside


def triangle(p0, p1, p2):
    def side(a, b, x, y):
        return (b[0] - a[0]) * (y - a[1]) - (b[1] - a[1]) * (x - a[0])
    def inside(x, y):
        s0, s1, s2 = side(p0, p1, x, y), side(p1, p2, x, y), side(p2, p0, x, y)
        return (s0 >= 0 and s1 >= 0 and s2 >= 0) or (s0 <= 0 and s1 <= 0 and s2 <= 0)
    return inside


def rrect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        dx = max(x0 + r - x, 0, x - (x1 - r))
        dy = max(y0 + r - y, 0, y - (y1 - r))
        return dx * dx + dy * dy <= r * r
    return inside


def render(width, height, background, layers):
    """background(x, y) -> (r, g, b, a); layers: [(shape, (r, g, b), alpha)]."""
    rows = []
    for py in range(height):
        row = bytearray()
        for px in range(width):
            r, g, b, a = background(px + 0.5, py + 0.5)
            col = [r, g, b]
            alpha = a / 255.0
            for shape, colour, opacity in layers:
                hits = 0
                for sy in range(SS):
                    for sx in range(SS):
                        if shape(px + (sx + 0.5) / SS, py + (sy + 0.5) / SS):
                            hits += 1
                if hits:
                    t = opacity * hits / (SS * SS)
                    col = [col[i] + (colour[i] - col[i]) * t for i in range(3)]
                    alpha = alpha + (1 - alpha) * t
            row += bytes(int(round(c)) for c in col) + bytes([int(round(alpha * 255))])
        rows.append(bytes(row))
    return rows


def png(rows, width, height):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    raw = b"".join(b"\0" + r for r in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def save(name, data):
    with open(os.path.join(SETUP, name), "wb") as f:
        f.write(data)


# --- the player's mark: a disc with a play triangle and sound rings ---

def mark(cx, cy, r, disc, symbol, rings, ring_opacity):
    layers = [(circle(cx, cy, r), disc, 1.0),
              (triangle((cx - r * 0.32, cy - r * 0.45), (cx - r * 0.32, cy + r * 0.45),
                        (cx + r * 0.5, cy)), symbol, 1.0)]
    for i in range(3):
        layers.append((ring(cx, cy, r * (1.45 + 0.45 * i), r * 0.16, -0.75, 0.75), rings,
                       ring_opacity * (1 - 0.25 * i)))
    return layers


def header(dark):
    w, h = 640, 53
    left, right = (hexrgb("F4BE72"), hexrgb("E0913C")) if dark else (hexrgb("6E3C0C"), hexrgb("B5701F"))
    def bg(x, y):
        c = mix(left, right, x / w)
        # faint diagonal bands
        band = 0.04 * math.sin((x + y * 1.5) / 23.0)
        c = mix(c, (255, 255, 255) if not dark else (120, 60, 0), abs(band))
        return (*c, 255)
    disc, sym = ((hexrgb("3A1F05"), hexrgb("F4BE72")) if dark else ((255, 255, 255), hexrgb("8A4A10")))
    layers = mark(30, 26.5, 14, disc, sym, disc, 0.8)
    for i in range(14):  # an equaliser fading out to the right
        bh = 6 + 10 * abs(math.sin(i * 1.7))
        layers.append((rrect(80 + i * 7, 40 - bh, 84 + i * 7, 40, 1), disc, 0.35 * (1 - i / 14)))
    save("header_dark.png" if dark else "header.png", png(render(w, h, bg, layers), w, h))


def wizard(dark):
    w, h = 196, 436
    top, bottom = (hexrgb("2E2A26"), hexrgb("17130F")) if dark else (hexrgb("C27A2A"), hexrgb("6E3C0C"))
    def bg(x, y):
        c = mix(top, bottom, y / h)
        glow = max(0.0, 1 - math.hypot(x - 98, y - 170) / 190)
        c = mix(c, hexrgb("DE8C33") if dark else hexrgb("F2B766"), 0.35 * glow * glow)
        return (*c, 255)
    accent = hexrgb("DE8C33") if dark else (255, 255, 255)
    sym = hexrgb("201A14") if dark else hexrgb("8A4A10")
    layers = []
    for i in range(5):  # rings around the mark
        layers.append((ring(98, 170, 50 + i * 18, 3), accent, 0.22 - 0.035 * i))
    layers += mark(98, 170, 34, accent, sym, accent, 0.9)
    for i in range(11):  # equaliser at the bottom
        bh = 14 + 46 * abs(math.sin(i * 0.9 + 0.4))
        layers.append((rrect(22 + i * 14, 400 - bh, 31 + i * 14, 400, 2), accent, 0.55))
    name = "wizard_dark.png" if dark else "wizard_light.png"
    save(name, png(render(w, h, bg, layers), w, h))


def addons():
    w = h = 96
    def bg(x, y):
        return (0, 0, 0, 0)
    tile = rrect(6, 6, 90, 90, 16)
    layers = [(tile, hexrgb("C27A2A"), 1.0),
              (rrect(6, 48, 90, 90, 16), hexrgb("9A5718"), 0.6),
              (rrect(40, 22, 56, 74, 3), (255, 255, 255), 1.0),
              (rrect(22, 40, 74, 56, 3), (255, 255, 255), 1.0)]
    with open(os.path.join(ROOT, "demo", "product", "addons.png"), "wb") as f:
        f.write(png(render(w, h, bg, layers), w, h))


# --- 16 x 16 icons: an .ico holding one 32-bit bitmap ---

def flag_pixels(kind):
    px = [[(0, 0, 0, 0)] * 16 for _ in range(16)]
    for y in range(2, 14):
        for x in range(0, 16):
            if kind == "DE":
                c = (0, 0, 0) if y < 6 else ((221, 0, 0) if y < 10 else (255, 206, 0))
            elif kind == "RU":
                c = (255, 255, 255) if y < 6 else ((0, 57, 166) if y < 10 else (213, 43, 30))
            else:  # a simplified blue field with white diagonals and a red cross
                fy, fx = y - 2, x * 12 / 16
                c = (1, 33, 105)
                if abs(fx - fy) <= 1 or abs(fx - (11 - fy)) <= 1:
                    c = (255, 255, 255)
                if 6 <= x <= 9 or 4 <= fy <= 7:
                    c = (255, 255, 255)
                if 7 <= x <= 8 or 5 <= fy <= 6:
                    c = (200, 16, 46)
            px[y][x] = (*c, 255)
    return px


def ico(kind):
    pixels = flag_pixels(kind)
    header = struct.pack("<IiiHHIIiiII", 40, 16, 32, 1, 32, 0, 16 * 16 * 4 + 16 * 4, 0, 0, 0, 0)
    xor = b"".join(bytes((b, g, r, a)) for row in reversed(pixels) for (r, g, b, a) in row)
    mask = bytearray()
    for row in reversed(pixels):
        bits = 0
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits |= 0x8000 >> x
        mask += struct.pack(">H", bits) + b"\0\0"
    image = header + xor + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 16, 16, 0, 0, 1, 32, len(image), 22)
    return directory + image


def set_icons():
    for name, kind in (("English.lng", "EN"), ("German.lng", "DE"), ("Russian.lng", "RU")):
        path = os.path.join(SETUP, name)
        with open(path, "rb") as f:
            data = f.read()
        bom = b"\xef\xbb\xbf" if data.startswith(b"\xef\xbb\xbf") else b""
        text = data[len(bom):].decode("utf-8")
        text = re.sub(r"(?m)^Icon=.*$", "Icon=" + ico(kind).hex(), text, count=1)
        with open(path, "wb") as f:
            f.write(bom + text.encode("utf-8"))


# --- licenses: plain UTF-8 text to RTF; the first line is the heading ---

def rtf_escape(text):
    out = []
    for ch in text:
        code = ord(ch)
        if ch in "\\{}":
            out.append("\\" + ch)
        elif code < 128:
            out.append(ch)
        else:
            out.append("\\u%d?" % (code if code < 32768 else code - 65536))
    return "".join(out)


def licenses():
    for name in sorted(os.listdir(LICENSES)):
        if not name.endswith(".txt"):
            continue
        with open(os.path.join(LICENSES, name), encoding="utf-8") as f:
            lines = f.read().strip("\n").split("\n")
        body = [r"{\rtf1\ansi\ansicpg1252\deff0\uc1",
                r"{\fonttbl{\f0\fswiss\fcharset0 Segoe UI;}}",
                r"{\colortbl;\red172\green103\blue28;}",
                r"\viewkind4\pard\sa120\f0\fs18",
                r"{\b\fs26\cf1 " + rtf_escape(lines[0]) + r"}\par"]
        for line in lines[1:]:
            body.append((rtf_escape(line) if line.strip() else "") + r"\par")
        body.append("}")
        with open(os.path.join(SETUP, name[:-4] + ".rtf"), "w", encoding="ascii", newline="\r\n") as f:
            f.write("\n".join(body) + "\n")


if __name__ == "__main__":
    header(False)
    header(True)
    wizard(False)
    wizard(True)
    addons()
    set_icons()
    licenses()
