#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Draws the program's pictures: the window icon (six 32-bit images, the 256 one PNG-compressed), the
small logo at its size and at twice its size (for screens of twice the density), and the same symbol
as PNG files for the desktop's icon theme (hicolor, the usual sizes).
Run with Debian's python3, python3-pil and fonts-dejavu-core:  /usr/bin/python3 resources/make_images.py"""
import io
import math
import struct
from pathlib import Path

from PIL import Image, ImageDraw, ImageFont

HERE = Path(__file__).resolve().parent / "Images"
THEME = Path(__file__).resolve().parent / "icons" / "hicolor"
APP_ID = "org.quellspan.quellspan"  # the desktop entry's and the icon's name
THEME_SIZES = [16, 22, 24, 32, 48, 64, 128, 256]
# The logo's lettering: a scalable font, so that the logo is drawn afresh at each size.
LOGO_FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
RED, GREEN, BLUE, MAGENTA = (255, 0, 0), (0, 155, 0), (0, 0, 255), (255, 0, 255)


def symbol(size):
    """A round badge with four sensor-coloured flux traces rising through it."""
    s = 4 * size  # draw large, then scale down for smooth edges
    im = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    d = ImageDraw.Draw(im)
    d.ellipse((s * 0.03, s * 0.03, s * 0.97, s * 0.97), fill=(24, 40, 72, 255))
    d.ellipse((s * 0.09, s * 0.09, s * 0.91, s * 0.91), fill=(245, 247, 250, 255))
    width = max(2, int(s * 0.045))
    for i, colour in enumerate((RED, GREEN, BLUE, MAGENTA)):
        pts = []
        for k in range(41):
            x = 0.18 + 0.64 * k / 40
            y = 0.70 - 0.09 * i - 0.22 * (k / 40) ** 1.5 + 0.035 * math.sin(k * 0.9 + i)
            pts.append((x * s, y * s))
        d.line(pts, fill=colour + (255,), width=width, joint="curve")
    return im.resize((size, size), Image.LANCZOS)


def bmp_entry(im):
    """An ICO image entry in DIB form: 32-bit BGRA rows bottom-up plus an all-clear AND mask."""
    w, h = im.size
    header = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, 32, 0, 0, 0, 0, 0, 0)
    px = im.tobytes("raw", "BGRA")
    rows = [px[y * w * 4:(y + 1) * w * 4] for y in range(h)]
    mask_row = b"\0" * (((w + 31) // 32) * 4)
    return header + b"".join(reversed(rows)) + mask_row * h


def png_bytes(im):
    buf = io.BytesIO()
    im.save(buf, "PNG")
    return buf.getvalue()


def write_ico(path, sizes):
    images = []
    for size in sizes:
        im = symbol(size)
        images.append((size, png_bytes(im) if size == 256 else bmp_entry(im)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        dim = 0 if size == 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, data in images)
    path.write_bytes(out)


def write_logo(path, scale=1):
    """The 109 x 17 logo drawn at scale times its size: the symbol and the name, both drawn at that
    size rather than enlarged, so that a screen of twice the density shows it sharp."""
    w, h = 109 * scale, 17 * scale
    im = Image.new("RGBA", (w, h), (0, 0, 0, 0))
    d = ImageDraw.Draw(im)
    mark = symbol(17 * scale)
    im.alpha_composite(mark, (0, 0))
    font = ImageFont.truetype(LOGO_FONT, 12 * scale)
    d.text((21 * scale, 1 * scale), "Quellspan", fill=(24, 40, 72, 255), font=font)
    im.save(path, "PNG")


if __name__ == "__main__":
    HERE.mkdir(exist_ok=True)
    write_ico(HERE / "Tarvi_Symbol.ico", [256, 128, 64, 48, 32, 16])
    write_logo(HERE / "tarvi_logo_small.png")
    write_logo(HERE / "tarvi_logo_small@2x.png", 2)
    for size in THEME_SIZES:
        folder = THEME / f"{size}x{size}" / "apps"
        folder.mkdir(parents=True, exist_ok=True)
        (folder / f"{APP_ID}.png").write_bytes(png_bytes(symbol(size)))
