#!/usr/bin/env python3
"""Draws the pictures of setup.exe's resources and writes them as Windows
files, with nothing but the standard library:

  src/res/logo.bmp     bitmap 133: the maker's logo, 28 x 32, 8 bpp (its 156 colours), on black
  src/res/camera.bmp   bitmap 134: the USB camera, 104 x 100, 24 bpp, on black
  src/res/zentavo.ico  icon 128: the camera, 32 x 32 and 16 x 16, in 24 bpp and 16 colours
  src/res/zentavo.cur  cursor 129: a black and white arrow, 32 x 32, hot spot at its tip

Shapes are drawn with 4 x 4 supersampling, so edges are smooth; the output
is the same byte for byte on every run. Run it from anywhere:

  python3 tools/draw_resources.py [output directory]
"""

import math
import os
import struct
import sys

SAMPLES = 4  # per axis


class Canvas:
    """An RGB picture of floats in 0..255 on a background colour."""

    def __init__(self, width, height, background=(0, 0, 0)):
        self.width = width
        self.height = height
        self.pixels = [[list(background) for _ in range(width)] for _ in range(height)]
        self.coverage = [[0.0] * width for _ in range(height)]

    def fill(self, inside, colour, bounds=None):
        """Paints every pixel by the share of its samples for which
        inside(x, y) holds; colour is an (r, g, b) tuple or a function of (x, y)."""
        x0, y0, x1, y1 = bounds or (0, 0, self.width, self.height)
        x0, y0 = max(0, int(math.floor(x0))), max(0, int(math.floor(y0)))
        x1, y1 = min(self.width, int(math.ceil(x1))), min(self.height, int(math.ceil(y1)))
        step = 1.0 / SAMPLES
        for py in range(y0, y1):
            for px in range(x0, x1):
                hits = 0
                for sy in range(SAMPLES):
                    for sx in range(SAMPLES):
                        if inside(px + (sx + 0.5) * step, py + (sy + 0.5) * step):
                            hits += 1
                if not hits:
                    continue
                alpha = hits / (SAMPLES * SAMPLES)
                c = colour(px + 0.5, py + 0.5) if callable(colour) else colour
                pixel = self.pixels[py][px]
                for i in range(3):
                    pixel[i] = pixel[i] * (1 - alpha) + c[i] * alpha
                self.coverage[py][px] = min(1.0, self.coverage[py][px] + alpha)

    def rgb(self, x, y):
        return tuple(max(0, min(255, int(round(v)))) for v in self.pixels[y][x])


# ---- shapes: functions of a point ------------------------------------------

def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ellipse(cx, cy, rx, ry):
    return lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0


def ring(cx, cy, r_outer, r_inner):
    return lambda x, y: r_inner * r_inner <= (x - cx) ** 2 + (y - cy) ** 2 <= r_outer * r_outer


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        dx = max(x0 + r - x, 0, x - (x1 - r))
        dy = max(y0 + r - y, 0, y - (y1 - r))
        return dx * dx + dy * dy <= r * r
    return inside


def polygon(points):
    def inside(x, y):
        result = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return inside


def thick_path(points, width):
    """A polyline of the given width with round joins and ends."""
    half = width / 2.0

    def inside(x, y):
        for (ax, ay), (bx, by) in zip(points, points[1:]):
            vx, vy = bx - ax, by - ay
            length2 = vx * vx + vy * vy or 1e-9
            t = max(0.0, min(1.0, ((x - ax) * vx + (y - ay) * vy) / length2))
            dx, dy = x - (ax + t * vx), y - (ay + t * vy)
            if dx * dx + dy * dy <= half * half:
                return True
        return False
    return inside


def minus(a, b):
    return lambda x, y: a(x, y) and not b(x, y)


# ---- colours ---------------------------------------------------------------

def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def radial(cx, cy, r, inner, outer):
    return lambda x, y: mix(inner, outer, math.hypot(x - cx, y - cy) / r)


def vertical(y0, y1, top, bottom):
    return lambda x, y: mix(top, bottom, (y - y0) / (y1 - y0))


def bezier(p0, p1, p2, p3, steps=24):
    out = []
    for i in range(steps + 1):
        t = i / steps
        u = 1 - t
        out.append((u ** 3 * p0[0] + 3 * u * u * t * p1[0] + 3 * u * t * t * p2[0] + t ** 3 * p3[0],
                    u ** 3 * p0[1] + 3 * u * u * t * p1[1] + 3 * u * t * t * p2[1] + t ** 3 * p3[1]))
    return out


# ---- the pictures ----------------------------------------------------------

def draw_camera(width=104, height=100):
    """The product's USB camera: a silver ball with a dark lens on a round
    foot, its cable running out to a USB plug."""
    s = min(width / 104.0, height / 100.0)
    ox, oy = (width - 104 * s) / 2, (height - 100 * s) / 2

    def P(x, y):
        return (ox + x * s, oy + y * s)

    def L(v):
        return v * s

    c = Canvas(width, height)
    # Cable from the foot to a plug at the bottom right.
    cable = bezier(P(60, 90), P(78, 98), P(84, 76), P(92, 80))
    c.fill(thick_path(cable, L(2.6)), (70, 72, 78))
    c.fill(thick_path(cable, L(1.0)), (120, 124, 132))
    c.fill(rounded_rect(*P(88, 76), *P(101, 84), L(1.2)), vertical(P(0, 76)[1], P(0, 84)[1],
                                                                     (200, 204, 210), (110, 114, 122)))
    c.fill(rounded_rect(*P(100, 77.5), *P(104, 82.5), L(0.5)), (170, 172, 176))
    # Foot and neck.
    fx, fy = P(50, 88)
    c.fill(ellipse(fx, fy, L(27), L(7)), vertical(fy - L(7), fy + L(7), (150, 154, 164), (40, 42, 50)))
    c.fill(ellipse(fx, fy - L(1.5), L(22), L(4.2)), vertical(fy - L(6), fy + L(3), (205, 208, 216), (120, 124, 134)))
    neck_top, neck_bottom = P(0, 62)[1], P(0, 86)[1]
    c.fill(rounded_rect(fx - L(6), neck_top, fx + L(6), neck_bottom, L(3)),
           lambda x, y: mix((225, 228, 234), (90, 94, 104), abs(x - fx + L(2)) / L(7)))
    # The ball, lit from the top left.
    bx, by, br = P(50, 40)[0], P(50, 40)[1], L(33)
    c.fill(circle(bx, by, br), radial(bx - L(12), by - L(14), L(52), (250, 251, 253), (96, 100, 112)))
    # A thin dark seam round the front plate, then the plate.
    c.fill(ring(bx + L(1), by + L(2), L(23.5), L(21.5)), (70, 74, 84))
    c.fill(circle(bx + L(1), by + L(2), L(21.5)), radial(bx - L(6), by - L(5), L(30), (92, 96, 108), (28, 30, 36)))
    # Lens: barrel, glass, reflections.
    lx, ly = bx + L(1.5), by + L(3)
    c.fill(circle(lx, ly, L(14)), radial(lx, ly, L(14), (20, 20, 24), (62, 64, 72)))
    c.fill(ring(lx, ly, L(14), L(12.6)), (150, 154, 164))
    c.fill(circle(lx, ly, L(10.5)), radial(lx + L(3), ly + L(3), L(12), (40, 60, 140), (4, 6, 18)))
    c.fill(circle(lx, ly, L(5)), radial(lx, ly, L(5), (0, 0, 0), (18, 28, 70)))
    c.fill(ellipse(lx - L(4.5), ly - L(4.5), L(3.2), L(2.2)), (235, 240, 255))
    c.fill(circle(lx + L(4.5), ly + L(4.8), L(1.4)), (120, 170, 255))
    # Status light above the lens.
    gx, gy = bx + L(1), by - L(25.5)
    c.fill(circle(gx, gy, L(3.4)), (30, 60, 40))
    c.fill(circle(gx, gy, L(2.2)), radial(gx - L(0.6), gy - L(0.6), L(2.4), (190, 255, 190), (30, 190, 70)))
    return c


def draw_logo(width=28, height=32):
    """The maker's mark: a blue shield with a white crescent and a cyan spark."""
    c = Canvas(width, height)
    shield = polygon([(14, 1), (26.5, 6), (26.5, 17), (14, 31), (1.5, 17), (1.5, 6)])
    c.fill(shield, vertical(1, 31, (40, 200, 230), (20, 50, 150)))
    inner = polygon([(14, 3.2), (24.6, 7.4), (24.6, 16.3), (14, 28.2), (3.4, 16.3), (3.4, 7.4)])
    c.fill(minus(shield, inner), (170, 235, 250))
    crescent = minus(circle(13.5, 14.5, 7.6), circle(17.2, 13.2, 6.2))
    c.fill(crescent, (255, 255, 255))
    c.fill(circle(18.6, 11.6, 1.9), (140, 250, 255))
    return c


def draw_icon(size):
    """The camera ball alone, for the icon."""
    c = Canvas(size, size)
    s = size / 32.0

    def L(v):
        return v * s

    c.fill(ellipse(L(16), L(29), L(10), L(2.6)), vertical(L(26), L(32), (160, 164, 174), (50, 52, 60)))
    c.fill(rounded_rect(L(13.5), L(21), L(18.5), L(29), L(1.5)), (150, 154, 164))
    c.fill(circle(L(16), L(13), L(12.5)), radial(L(11), L(7.5), L(20), (250, 251, 253), (96, 100, 112)))
    c.fill(circle(L(16.5), L(14), L(8)), radial(L(15), L(12), L(10), (80, 84, 96), (22, 24, 30)))
    c.fill(circle(L(16.5), L(14), L(5.5)), radial(L(17.5), L(15), L(6), (40, 60, 150), (4, 6, 18)))
    c.fill(circle(L(14.8), L(12.3), L(1.6)), (235, 240, 255))
    return c


# ---- Windows file formats ----------------------------------------------------

def bmp_rows_24(canvas):
    """Bottom-up BGR rows padded to four bytes."""
    rows = []
    pad = (4 - (canvas.width * 3) % 4) % 4
    for y in range(canvas.height - 1, -1, -1):
        row = bytearray()
        for x in range(canvas.width):
            r, g, b = canvas.rgb(x, y)
            row += bytes((b, g, r))
        rows.append(bytes(row) + b"\0" * pad)
    return b"".join(rows)


def info_header(width, height, bits, image_size, colours=0):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, image_size, 2835, 2835,
                       colours, 0)


def bmp_rows_8(canvas, palette):
    """Bottom-up rows of palette indices padded to four bytes."""
    index = {colour: i for i, colour in enumerate(palette)}
    rows = []
    pad = (4 - canvas.width % 4) % 4
    for y in range(canvas.height - 1, -1, -1):
        row = bytes(index[canvas.rgb(x, y)] for x in range(canvas.width))
        rows.append(row + b"\0" * pad)
    return b"".join(rows)


def write_bmp(path, canvas):
    """A picture of at most 256 colours is written with a colour table (8 bpp),
    the same pixels in about a third of the bytes; a richer one in 24 bpp."""
    colours = sorted({canvas.rgb(x, y) for y in range(canvas.height) for x in range(canvas.width)})
    if len(colours) <= 256:
        pixels = bmp_rows_8(canvas, colours)
        header = info_header(canvas.width, canvas.height, 8, len(pixels), len(colours))
        header += b"".join(bytes((b, g, r, 0)) for r, g, b in colours)
    else:
        pixels = bmp_rows_24(canvas)
        header = info_header(canvas.width, canvas.height, 24, len(pixels))
    offset = 14 + len(header)
    data = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset) + header + pixels
    with open(path, "wb") as f:
        f.write(data)


def mask_rows(width, height, opaque):
    """The 1 bpp AND mask, bottom-up: 1 where the picture is transparent."""
    stride = ((width + 31) // 32) * 4
    out = bytearray()
    for y in range(height - 1, -1, -1):
        row = bytearray(stride)
        for x in range(width):
            if not opaque(x, y):
                row[x // 8] |= 0x80 >> (x % 8)
        out += row
    return bytes(out)


VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
         (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
         (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def nearest_vga(rgb):
    return min(range(16), key=lambda i: sum((rgb[k] - VGA16[i][k]) ** 2 for k in range(3)))


def icon_image(canvas, bits):
    w, h = canvas.width, canvas.height

    def opaque(x, y):
        return canvas.coverage[y][x] >= 0.4

    if bits == 24:
        xor = bmp_rows_24(canvas)
        palette = b""
    else:
        stride = ((w * 4 + 31) // 32) * 4
        rows = bytearray()
        for y in range(h - 1, -1, -1):
            row = bytearray(stride)
            for x in range(w):
                index = nearest_vga(canvas.rgb(x, y)) if opaque(x, y) else 0
                row[x // 2] |= index << (4 if x % 2 == 0 else 0)
            rows += row
        xor = bytes(rows)
        palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in VGA16)
    # Transparent pixels are black in the colour part so the mask shows through.
    if bits == 24:
        xor = bytearray(xor)
        stride = ((w * 3 + 3) // 4) * 4
        for y in range(h):
            for x in range(w):
                if not opaque(x, y):
                    i = (h - 1 - y) * stride + x * 3
                    xor[i:i + 3] = b"\0\0\0"
        xor = bytes(xor)
    mask = mask_rows(w, h, opaque)
    header = info_header(w, h * 2, bits, len(xor) + len(mask), 16 if bits == 4 else 0)
    return header + palette + xor + mask


def write_icon_file(path, kind, images):
    """images: (width, height, colour count, bits or hot spot x, planes or hot spot y, data)."""
    out = struct.pack("<HHH", 0, kind, len(images))
    offset = 6 + 16 * len(images)
    entries, blobs = b"", b""
    for width, height, colours, word1, word2, data in images:
        entries += struct.pack("<BBBBHHII", width % 256, height % 256, colours, 0, word1, word2,
                               len(data), offset + len(blobs))
        blobs += data
    with open(path, "wb") as f:
        f.write(out + entries + blobs)


def write_icon(path):
    images = []
    for size in (32, 16):
        canvas = draw_icon(size)
        images.append((size, size, 0, 1, 24, icon_image(canvas, 24)))
        images.append((size, size, 16, 1, 4, icon_image(canvas, 4)))
    write_icon_file(path, 1, images)


# The arrow pixel by pixel: '#' black outline, 'o' white, anything else clear.
ARROW = [
    "#",
    "##",
    "#o#",
    "#oo#",
    "#ooo#",
    "#oooo#",
    "#ooooo#",
    "#oooooo#",
    "#ooooooo#",
    "#oooooooo#",
    "#ooooo#####",
    "#oo#oo#",
    "#o# #oo#",
    "##  #oo#",
    "#    #oo#",
    "     #oo#",
    "      #oo#",
    "      #oo#",
    "       ##",
]


def write_cursor(path):
    """A monochrome arrow: white inside a black outline, hot spot at its tip (0, 0)."""
    size = 32

    def cell(x, y):
        return ARROW[y][x] if y < len(ARROW) and x < len(ARROW[y]) else " "

    stride = 4
    xor = bytearray()
    for y in range(size - 1, -1, -1):
        row = bytearray(stride)
        for x in range(size):
            if cell(x, y) == "o":
                row[x // 8] |= 0x80 >> (x % 8)
        xor += row
    mask = mask_rows(size, size, lambda x, y: cell(x, y) in "#o")
    palette = struct.pack("<BBBBBBBB", 0, 0, 0, 0, 255, 255, 255, 0)
    header = info_header(size, size * 2, 1, len(xor) + len(mask), 2)
    data = header + palette + bytes(xor) + mask
    write_icon_file(path, 2, [(size, size, 2, 0, 0, data)])


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "src", "res")
    os.makedirs(out, exist_ok=True)
    write_bmp(os.path.join(out, "logo.bmp"), draw_logo())
    write_bmp(os.path.join(out, "camera.bmp"), draw_camera())
    write_icon(os.path.join(out, "zentavo.ico"))
    write_cursor(os.path.join(out, "zentavo.cur"))


if __name__ == "__main__":
    main()
