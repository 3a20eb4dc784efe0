#!/usr/bin/python3
"""Draws Mellowdeck's artwork: window background, playback panel, link buttons,
program icon (ICO + hicolor PNGs + SVG) and the pointing-hand link cursor.

Run from anywhere (writes next to this script):

    /usr/bin/python3 assets/make_assets.py

Needs only Debian's python3-pil. Everything is drawn here from shapes and
seeded noise, so a rerun gives the same pictures. The lettering on the link
buttons uses the bundled Play Bold (fonts/Play-Bold.ttf).
"""

import math
import os
import random
import struct

from PIL import Image, ImageDraw, ImageFilter, ImageFont, ImageOps

HERE = os.path.dirname(os.path.abspath(__file__))
DISPLAY_FONT = os.path.join(HERE, "fonts", "Play-Bold.ttf")


def out(*parts):
    path = os.path.join(HERE, *parts)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    return path


def hexrgb(s):
    s = s.lstrip("#")
    return tuple(int(s[i:i + 2], 16) for i in (0, 2, 4))


# --------------------------------------------------------------------------
# Textures and hardware details
# --------------------------------------------------------------------------

def noise(w, h, seed):
    rng = random.Random(seed)
    return Image.frombytes("L", (w, h), rng.randbytes(w * h))


def brushed(w, h, dark, light, seed, streak=48, grain=0.35):
    """Brushed metal: long horizontal streaks plus a little fine grain,
    coloured between two tones."""
    n = noise(w, h, seed)
    streaks = n.resize((max(1, w // streak), h), Image.BOX).resize((w, h), Image.BICUBIC)
    streaks = ImageOps.autocontrast(streaks, cutoff=1)
    fine = noise(w, h, seed + 1).filter(ImageFilter.GaussianBlur(0.6))
    fine = ImageOps.autocontrast(fine, cutoff=1)
    mix = Image.blend(streaks, fine, grain)
    mix = ImageOps.autocontrast(mix, cutoff=0.5)
    return ImageOps.colorize(mix, black=hexrgb(dark), white=hexrgb(light))


def vertical_gradient(w, h, top, bottom):
    g = Image.linear_gradient("L").resize((w, h))
    return ImageOps.colorize(g, black=hexrgb(top), white=hexrgb(bottom))


def overlay(base, draw_fn):
    """Draws with alpha onto an RGB picture."""
    layer = Image.new("RGBA", base.size, (0, 0, 0, 0))
    draw_fn(ImageDraw.Draw(layer))
    merged = Image.alpha_composite(base.convert("RGBA"), layer)
    return merged.convert("RGB")


def screw(d_px, angle_deg, sx=1.0, sy=1.0):
    """A countersunk Phillips screw head, returned as an RGBA tile of about
    d_px across. sx/sy pre-distort it for pictures the program stretches."""
    ss = 8
    size = int(round(d_px * ss))
    tile = Image.new("RGBA", (size + 2 * ss, size + 2 * ss), (0, 0, 0, 0))
    dr = ImageDraw.Draw(tile)
    c = tile.size[0] / 2
    r = size / 2
    # dark countersink ring, then a domed head lit from the top left
    dr.ellipse([c - r, c - r, c + r, c + r], fill=(20, 21, 24, 255))
    steps = 24
    for i in range(steps):
        t = i / steps
        rr = r * 0.88 * (1 - t * 0.97)
        off = -r * 0.22 * t
        v = int(95 + 150 * t)
        dr.ellipse([c - rr + off, c - rr + off, c + rr + off, c + rr + off],
                   fill=(v, v, min(255, v + 6), 255))
    # cross slots
    a = math.radians(angle_deg)
    L = r * 0.62
    wdt = max(1, int(r * 0.2))
    for k in (0, 1):
        aa = a + k * math.pi / 2
        dx, dy = math.cos(aa) * L, math.sin(aa) * L
        dr.line([c - dx, c - dy, c + dx, c + dy], fill=(30, 31, 34, 255), width=wdt)
        dr.line([c - dx + 2, c - dy + 2, c + dx + 2, c + dy + 2], fill=(230, 232, 235, 120), width=max(1, wdt // 3))
    outw = max(1, int(round(tile.size[0] / ss * sx)))
    outh = max(1, int(round(tile.size[1] / ss * sy)))
    return tile.resize((outw, outh), Image.LANCZOS)


def put(base, tile, cx, cy):
    x = int(round(cx - tile.size[0] / 2))
    y = int(round(cy - tile.size[1] / 2))
    rgba = base.convert("RGBA")
    rgba.alpha_composite(tile, (x, y))
    return rgba.convert("RGB")


def engraved_text(draw, xy, text, font, dark, light, anchor="la"):
    x, y = xy
    draw.text((x + 1, y + 1), text, font=font, fill=light, anchor=anchor)
    draw.text((x, y), text, font=font, fill=dark, anchor=anchor)


def bevel_rect(draw, box, width, hi, lo):
    """Raised when hi is the lighter colour, sunken when swapped."""
    x0, y0, x1, y1 = box
    for i in range(width):
        draw.line([x0 + i, y1 - i, x0 + i, y0 + i, x1 - i, y0 + i], fill=hi)
        draw.line([x0 + i, y1 - i, x1 - i, y1 - i, x1 - i, y0 + i], fill=lo)


# --------------------------------------------------------------------------
# Window background (shown unscaled; the top-left 540 x 173 is visible)
# --------------------------------------------------------------------------

def make_background():
    w, h = 572, 943
    img = brushed(w, h, "#1b1d21", "#2b2e33", seed=1997, streak=64)

    # Middle column: a recessed legend plate behind the device captions.
    plate = (262, 3, 404, 135)

    def plate_fn(d):
        d.rectangle(plate, fill=(8, 9, 12, 70))
        bevel_rect(d, plate, 1, (0, 0, 0, 150), (255, 255, 255, 34))
        # engraved dividers between the four caption rows
        for y in (35, 67, 99):
            d.line([plate[0] + 6, y, plate[2] - 6, y], fill=(0, 0, 0, 110))
            d.line([plate[0] + 6, y + 1, plate[2] - 6, y + 1], fill=(255, 255, 255, 18))
    img = overlay(img, plate_fn)

    # Wordmark under the captions, between two screws.
    font = ImageFont.truetype(DISPLAY_FONT, 12)
    small = ImageFont.truetype(DISPLAY_FONT, 7)

    def mark_fn(d):
        engraved_text(d, (334, 149), "MELLOWDECK", font, (150, 154, 160, 210), (0, 0, 0, 160), anchor="mm")
        engraved_text(d, (334, 162), "GM  SOUND  MODULE", small, (120, 124, 130, 190), (0, 0, 0, 140), anchor="mm")
        # a small amber power lamp, as on the real thing
        d.ellipse([391, 145, 397, 151], fill=(0, 0, 0, 200))
    img = overlay(img, mark_fn)
    lamp = Image.new("RGBA", (40, 40), (0, 0, 0, 0))
    ld = ImageDraw.Draw(lamp)
    ld.ellipse([8, 8, 32, 32], fill=(255, 150, 30, 255))
    ld.ellipse([12, 11, 22, 19], fill=(255, 230, 170, 255))
    lamp = lamp.resize((5, 5), Image.LANCZOS)
    img = put(img, lamp, 394, 148)
    img = put(img, screw(9, 20), 271, 155)

    # The part of the picture the window never shows: keep the same metal,
    # with rack screws so it is not a blank area if the layout ever grows.
    for (x, y) in ((271, 300), (540, 300), (271, 600), (540, 600), (271, 900), (540, 900)):
        img = put(img, screw(9, (x * 7 + y) % 90), x, y)

    img.save(out("background.jpg"), quality=92, optimize=True)
    return img


# --------------------------------------------------------------------------
# Playback panel (640 x 480, shown stretched to 257 x 169)
# --------------------------------------------------------------------------

PANEL_SHOWN = (257, 169)


def make_panel():
    s = 3  # draw at 3x the shown size, then squash to the stored size
    w, h = PANEL_SHOWN[0] * s, PANEL_SHOWN[1] * s
    img = brushed(w, h, "#9ca1a8", "#c6cacf", seed=4711, streak=40, grain=0.3)
    # a soft light fall-off from the top
    shade = vertical_gradient(w, h, "#ffffff", "#000000").convert("L")
    shade = shade.point(lambda v: int(v * 0.10))
    img = Image.composite(Image.new("RGB", (w, h), (255, 255, 255)), img, shade)

    def frame_fn(d):
        bevel_rect(d, (0, 0, w - 1, h - 1), 2 * s, (255, 255, 255, 200), (40, 42, 46, 220))
        # engraved groove around the face
        inset = 5 * s
        d.rounded_rectangle([inset, inset, w - 1 - inset, h - 1 - inset], radius=4 * s,
                            outline=(70, 74, 80, 150), width=s)
        d.rounded_rectangle([inset + s, inset + s, w - 1 - inset + s, h - 1 - inset + s], radius=4 * s,
                            outline=(255, 255, 255, 110), width=s)
        # a thin amber pin stripe above the perforated strip
        d.rectangle([18 * s, 148 * s, (PANEL_SHOWN[0] - 18) * s, 149 * s], fill=(222, 130, 22, 230))
        # perforated speaker strip along the bottom edge
        for row, y in enumerate((155, 160)):
            x = 22 + (row * 2.5)
            while x < PANEL_SHOWN[0] - 22:
                cx, cy = x * s, y * s
                r = 1.3 * s
                d.ellipse([cx - r, cy - r + s * 0.4, cx + r, cy + r + s * 0.4], fill=(255, 255, 255, 120))
                d.ellipse([cx - r, cy - r, cx + r, cy + r], fill=(22, 23, 26, 255))
                x += 5
    img = overlay(img, frame_fn)

    # screened legend across the open middle of the face
    big = ImageFont.truetype(DISPLAY_FONT, 9 * s)
    small = ImageFont.truetype(DISPLAY_FONT, 6 * s)

    def legend_fn(d):
        y = 80 * s
        engraved_text(d, (14 * s, y), "MD-97", big, (52, 56, 62, 230), (255, 255, 255, 120), anchor="ls")
        engraved_text(d, ((PANEL_SHOWN[0] - 14) * s, y), "GENERAL MIDI FILE PLAYER", small,
                      (60, 64, 70, 220), (255, 255, 255, 110), anchor="rs")
        d.rectangle([14 * s, y + 3 * s, (PANEL_SHOWN[0] - 14) * s, y + 3 * s + 1], fill=(52, 56, 62, 200))
        d.rectangle([14 * s, y + 3 * s + 2, (PANEL_SHOWN[0] - 14) * s, y + 3 * s + 3], fill=(255, 255, 255, 90))
    img = overlay(img, legend_fn)

    for (x, y, a) in ((10, 31, 15), (PANEL_SHOWN[0] - 10, 31, 60), (10, 158, 40), (PANEL_SHOWN[0] - 10, 158, 80)):
        img = put(img, screw(7 * s, a), x * s, y * s)

    img = img.resize((640, 480), Image.LANCZOS)
    img.save(out("panel.jpg"), quality=92, optimize=True)
    return img


# --------------------------------------------------------------------------
# Link buttons
# --------------------------------------------------------------------------

def icon_house(d, cx, cy, u, col, dark):
    pts = [(-1.0, 0.05), (0, -0.9), (1.0, 0.05), (0.72, 0.05), (0.72, 0.85),
           (0.18, 0.85), (0.18, 0.35), (-0.18, 0.35), (-0.18, 0.85), (-0.72, 0.85), (-0.72, 0.05)]
    poly = [(cx + x * u, cy + y * u) for x, y in pts]
    d.polygon([(x + u * 0.08, y + u * 0.08) for x, y in poly], fill=dark)
    d.polygon(poly, fill=col)
    # chimney
    d.rectangle([cx + 0.45 * u, cy - 0.78 * u, cx + 0.65 * u, cy - 0.35 * u], fill=col)


def icon_din(d, cx, cy, u, col, dark, face):
    """Five-pin DIN socket: the MIDI connector."""
    d.ellipse([cx - u + u * 0.08, cy - u + u * 0.08, cx + u + u * 0.08, cy + u + u * 0.08], fill=dark)
    d.ellipse([cx - u, cy - u, cx + u, cy + u], fill=col)
    r2 = u * 0.78
    d.ellipse([cx - r2, cy - r2, cx + r2, cy + r2], fill=face)
    # key notch at the bottom
    d.rectangle([cx - u * 0.16, cy + r2 - u * 0.12, cx + u * 0.16, cy + u * 0.98], fill=col)
    pr = u * 0.12
    for deg in (180, 225, 270, 315, 0):
        a = math.radians(deg)
        px, py = cx + math.cos(a) * u * 0.5, cy + math.sin(a) * u * 0.5
        d.ellipse([px - pr, py - pr, px + pr, py + pr], fill=col)


def make_link_button(shown, label, icon, seed):
    s = 4
    w, h = shown[0] * s, shown[1] * s
    img = brushed(w, h, "#1b1d21", "#2b2e33", seed=seed, streak=64)
    bx0, by0, bx1, by1 = 7 * s, 7 * s, w - 7 * s - 1, h - 8 * s - 1
    rad = 7 * s

    # drop shadow under the button
    sh = Image.new("L", (w, h), 0)
    ImageDraw.Draw(sh).rounded_rectangle([bx0 + s, by0 + 3 * s, bx1 + s, by1 + 3 * s], radius=rad, fill=200)
    sh = sh.filter(ImageFilter.GaussianBlur(2.5 * s))
    img = Image.composite(Image.new("RGB", (w, h), (0, 0, 0)), img, sh)

    # recessed well the button sits in
    well = Image.new("RGBA", (w, h), (0, 0, 0, 0))
    ImageDraw.Draw(well).rounded_rectangle([bx0 - 3 * s, by0 - 3 * s, bx1 + 3 * s, by1 + 3 * s],
                                           radius=rad + 3 * s, outline=(0, 0, 0, 150), width=s)
    img = Image.alpha_composite(img.convert("RGBA"), well).convert("RGB")

    # the button cap: a vertical gradient, lighter at the top
    cap = vertical_gradient(w, h, "#50555e", "#2a2d33")
    mask = Image.new("L", (w, h), 0)
    ImageDraw.Draw(mask).rounded_rectangle([bx0, by0, bx1, by1], radius=rad, fill=255)
    img = Image.composite(cap, img, mask)

    def edge_fn(d):
        d.rounded_rectangle([bx0, by0, bx1, by1], radius=rad, outline=(0, 0, 0, 255), width=s)
        d.rounded_rectangle([bx0 + s, by0 + s, bx1 - s, by1 - s], radius=rad - s,
                            outline=(255, 255, 255, 60), width=s)
        # top highlight lip
        d.arc([bx0 + s, by0 + s, bx0 + s + 2 * rad, by0 + s + 2 * rad], 180, 270, fill=(255, 255, 255, 150), width=s)
        d.line([bx0 + s + rad, by0 + s, bx1 - s - rad, by0 + s], fill=(255, 255, 255, 150), width=s)
        d.arc([bx1 - s - 2 * rad, by0 + s, bx1 - s, by0 + s + 2 * rad], 270, 360, fill=(255, 255, 255, 90), width=s)
    img = overlay(img, edge_fn)

    amber = (255, 170, 40, 255)
    dark = (0, 0, 0, 160)
    cy_icon = by0 + (by1 - by0) * 0.36
    font = ImageFont.truetype(DISPLAY_FONT, 11 * s)

    def face_fn(d):
        if icon == "house":
            icon_house(d, w / 2, cy_icon, 11 * s, amber, dark)
        else:
            icon_din(d, w / 2, cy_icon, 11 * s, amber, dark, (40, 43, 49, 255))
        ty = by0 + (by1 - by0) * 0.80
        d.text((w / 2 + s, ty + s), label, font=font, fill=(0, 0, 0, 200), anchor="mm")
        d.text((w / 2, ty), label, font=font, fill=(214, 218, 224, 255), anchor="mm")
    img = overlay(img, face_fn)
    return img


def make_links():
    upper = make_link_button((137, 81), "SYNTH HOME", "house", seed=81)
    upper = upper.resize((141, 83), Image.LANCZOS)
    upper.convert("P", palette=Image.ADAPTIVE, colors=256).save(out("link-upper.gif"), optimize=False)

    lower = make_link_button((137, 80), "MIDI INFO", "din", seed=80)
    lower = lower.resize((640, 480), Image.LANCZOS)
    lower.save(out("link-lower.jpg"), quality=92, optimize=True)


# --------------------------------------------------------------------------
# Program icon: a small synth module with a note, one design for every size
# --------------------------------------------------------------------------

ICON_PALETTE = [
    "#000000", "#1a1c20", "#2b2e34", "#454a52", "#6f747c", "#a8adb4", "#d8dce0", "#ffffff",
    "#ffb02e", "#c77a0c", "#5a3a06", "#e0402a", "#8a8f96", "#3a3e45", "#ffd680", "#0e0f11",
]


def ellipse_poly(cx, cy, rx, ry, rot_deg=0.0, n=40):
    a = math.radians(rot_deg)
    pts = []
    for i in range(n):
        t = 2 * math.pi * i / n
        x, y = rx * math.cos(t), ry * math.sin(t)
        pts.append((cx + x * math.cos(a) - y * math.sin(a), cy + x * math.sin(a) + y * math.cos(a)))
    return pts


def icon_shapes():
    """The icon as (kind, geometry, colour) in a 256-unit square."""
    S = []
    S.append(("rrect", (10, 70, 246, 226, 22), "#0e0f11"))          # outline
    S.append(("rrect", (16, 76, 240, 220, 18), "#2b2e34"))          # body
    S.append(("rect", (16, 76, 240, 92), "#454a52"))                # lit top edge
    S.append(("rrect", (16, 76, 240, 100, 12), "#454a52"))
    # display window
    S.append(("rect", (32, 100, 126, 128), "#0e0f11"))
    S.append(("rect", (36, 104, 122, 124), "#5a3a06"))
    S.append(("rect", (42, 110, 92, 118), "#ffb02e"))
    # two knobs
    for cx in (160, 204):
        S.append(("ellipse", (cx, 114, 17, 17), "#0e0f11"))
        S.append(("ellipse", (cx, 113, 14, 14), "#a8adb4"))
        S.append(("ellipse", (cx - 3, 110, 7, 7), "#d8dce0"))
    # keyboard
    S.append(("rect", (28, 142, 228, 210), "#0e0f11"))
    keys = 7
    kw = (228 - 32) / keys
    for i in range(keys):
        x0 = 32 + i * kw
        S.append(("rect", (x0, 146, x0 + kw - 4, 206), "#ffffff"))
        S.append(("rect", (x0, 196, x0 + kw - 4, 206), "#a8adb4"))
    for i in (0, 1, 3, 4, 5):
        cx = 32 + (i + 1) * kw - 2
        S.append(("rect", (cx - 9, 146, cx + 9, 182), "#0e0f11"))
    # an eighth note rising out of the module
    S.append(("poly", ellipse_poly(184, 62, 26, 18, -22), "#0e0f11"))
    S.append(("rect", (201, 8, 217, 64), "#0e0f11"))
    S.append(("poly", [(209, 8), (248, 30), (248, 52), (217, 34)], "#0e0f11"))
    S.append(("poly", ellipse_poly(184, 62, 21, 13, -22), "#ffb02e"))
    S.append(("rect", (205, 12, 213, 62), "#ffb02e"))
    S.append(("poly", [(211, 13), (243, 32), (243, 45), (213, 27)], "#ffb02e"))
    return S


def render_icon(px):
    ss = 8 if px <= 64 else 4
    big = px * ss
    img = Image.new("RGBA", (big, big), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    k = big / 256.0
    for kind, g, col in icon_shapes():
        c = hexrgb(col) + (255,)
        if kind == "rect":
            d.rectangle([g[0] * k, g[1] * k, g[2] * k - 1, g[3] * k - 1], fill=c)
        elif kind == "rrect":
            d.rounded_rectangle([g[0] * k, g[1] * k, g[2] * k - 1, g[3] * k - 1], radius=g[4] * k, fill=c)
        elif kind == "ellipse":
            cx, cy, rx, ry = g
            d.ellipse([(cx - rx) * k, (cy - ry) * k, (cx + rx) * k, (cy + ry) * k], fill=c)
        elif kind == "poly":
            d.polygon([(x * k, y * k) for x, y in g], fill=c)
    return img.resize((px, px), Image.LANCZOS)


def icon_svg():
    parts = ['<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">']
    for kind, g, col in icon_shapes():
        if kind == "rect":
            parts.append(f'<rect x="{g[0]:.2f}" y="{g[1]:.2f}" width="{g[2] - g[0]:.2f}" height="{g[3] - g[1]:.2f}" fill="{col}"/>')
        elif kind == "rrect":
            parts.append(f'<rect x="{g[0]}" y="{g[1]}" width="{g[2] - g[0]}" height="{g[3] - g[1]}" rx="{g[4]}" fill="{col}"/>')
        elif kind == "ellipse":
            parts.append(f'<ellipse cx="{g[0]}" cy="{g[1]}" rx="{g[2]}" ry="{g[3]}" fill="{col}"/>')
        elif kind == "poly":
            pts = " ".join(f"{x:.2f},{y:.2f}" for x, y in g)
            parts.append(f'<polygon points="{pts}" fill="{col}"/>')
    parts.append("</svg>")
    return "\n".join(parts) + "\n"


def palette_image(colours):
    pal = []
    for c in colours:
        pal.extend(hexrgb(c))
    pal.extend([0] * (768 - len(pal)))
    p = Image.new("P", (1, 1))
    p.putpalette(pal)
    return p


def write_ico_4bit(rgba, path):
    """A classic 32 x 32, 16-colour BMP-in-ICO with an AND mask."""
    w, h = rgba.size
    assert (w, h) == (32, 32)
    alpha = rgba.getchannel("A")
    opaque = Image.new("RGB", (w, h), (0, 0, 0))
    opaque.paste(rgba.convert("RGB"), mask=alpha.point(lambda a: 255 if a >= 128 else 0))
    idx = opaque.quantize(palette=palette_image(ICON_PALETTE), dither=Image.Dither.NONE)
    px = idx.load()
    ap = alpha.load()
    xor = bytearray()
    andm = bytearray()
    for y in range(h - 1, -1, -1):          # bottom-up rows
        for x in range(0, w, 2):
            a = px[x, y] if ap[x, y] >= 128 else 0
            b = px[x + 1, y] if ap[x + 1, y] >= 128 else 0
            xor.append((a << 4) | b)
        bits = 0
        for x in range(w):
            bits = (bits << 1) | (0 if ap[x, y] >= 128 else 1)
        andm += bits.to_bytes(4, "big")
    pal = bytearray()
    for c in ICON_PALETTE:
        r, g, b = hexrgb(c)
        pal += bytes((b, g, r, 0))
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 4, 0, len(xor) + len(andm), 0, 0, 16, 0)
    body = header + pal + xor + andm
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", w, h, 16, 0, 1, 4, len(body), 6 + 16)
    with open(path, "wb") as f:
        f.write(icondir + entry + body)
    # what the ICO shows, for looking at it
    shown = idx.convert("RGBA")
    shown.putalpha(alpha.point(lambda a: 255 if a >= 128 else 0))
    return shown


def make_icons():
    ico32 = write_ico_4bit(render_icon(32), out("icon.ico"))
    for px in (16, 32, 48, 64, 128, 256):
        img = ico32 if px == 32 else render_icon(px)
        img.save(out("icons", "hicolor", f"{px}x{px}", "apps", "mellowdeck.png"), optimize=True)
    with open(out("icons", "hicolor", "scalable", "apps", "mellowdeck.svg"), "w") as f:
        f.write(icon_svg())


# --------------------------------------------------------------------------
# Link cursor: a pointing hand, 32 x 32, 16-colour palette with transparency
# --------------------------------------------------------------------------

HAND = [
    # 0         1         2         3
    # 01234567890123456789012345678901
    "................................",  # 0
    ".........KK.....................",  # 1  fingertip at (9, 1)
    "........KWWK....................",  # 2
    "........KWWGK...................",  # 3
    "........KWWGK...................",  # 4
    "........KWWGK...................",  # 5
    "........KWWGK...................",  # 6
    "........KWWGKKK.................",  # 7
    "........KWWGKWGKKK..............",  # 8
    "........KWWGKWGKWGKK............",  # 9
    "........KWWGKWGKWGKWGK..........",  # 10
    "....KK..KWWGKWGKWGKWGK..........",  # 11
    "...KWWK.KWWWWWWWWWWWGK..........",  # 12
    "...KWWGKKWWWWWWWWWWWGK..........",  # 13
    "....KWWGKWWWWWWWWWWWGK..........",  # 14
    ".....KWWGWWWWWWWWWWWGK..........",  # 15
    ".....KWWWWWWWWWWWWWWGK..........",  # 16
    "......KWWWWWWWWWWWWWGK..........",  # 17
    "......KWWWWWWWWWWWWWGK..........",  # 18
    ".......KWWWWWWWWWWWGK...........",  # 19
    ".......KWWWWWWWWWWWGK...........",  # 20
    "........KWWWWWWWWWGK............",  # 21
    "........KWWWWWWWWWGK............",  # 22
    "........KKKKKKKKKKKK............",  # 23
    "........KAAAAAAAAAAK............",  # 24  amber cuff
    "........KDDDDDDDDDDK............",  # 25
    "........KKKKKKKKKKKK............",  # 26
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
]
HAND_HOTSPOT = (9, 1)
HAND_COLOURS = {".": None, "K": "#000000", "W": "#ffffff", "G": "#b4b8be",
                "A": "#ffb02e", "D": "#c77a0c"}


def make_hand():
    order = ["K", "W", "G", "A", "D"]
    pal = [(255, 0, 255)]  # index 0: transparent
    pal += [hexrgb(HAND_COLOURS[k]) for k in order]
    while len(pal) < 16:
        pal.append((0, 0, 0))
    img = Image.new("P", (32, 32), 0)
    flat = []
    for c in pal:
        flat.extend(c)
    img.putpalette(flat)
    px = img.load()
    assert len(HAND) == 32 and all(len(r) == 32 for r in HAND)
    for y, row in enumerate(HAND):
        for x, ch in enumerate(row):
            if ch != ".":
                px[x, y] = 1 + order.index(ch)
    assert HAND[HAND_HOTSPOT[1]][HAND_HOTSPOT[0]] == "K"
    img.save(out("hand.png"), transparency=0, bits=4, optimize=False)


def main():
    make_background()
    make_panel()
    make_links()
    make_icons()
    make_hand()


if __name__ == "__main__":
    main()
