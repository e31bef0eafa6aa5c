#!/usr/bin/env python3
"""Draws the web browser's three 16x16 GIF89a icons and writes web/Icons.cpp.

Each icon has a global colour table, one graphic control extension marking a
transparent colour, and one LZW-compressed image. A comment extension pads each
file to the byte count the listing pages have always been served with (folder
375, file 379, up one folder 581), so the images can be redrawn freely without
changing the size a client sees.

Usage: scripts/make_icons.py [--preview DIR]   (run from anywhere)
--preview also writes each icon, decoded back from its GIF bytes and scaled 8x,
as a PNG for a look with an image viewer.
"""
import argparse
import os
import struct
import sys
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Pictures: one character per pixel, mapped through each icon's legend to a
# palette index. '.' is always the transparent colour.
FOLDER = [
    "................",
    "................",
    "..KKKKK.........",
    ".KyyyyyK........",
    ".KyyyyyyKKKKKKK.",
    ".KYYYYYYYYYYYYKs",
    ".KYyyyyyyyyyyyKs",
    ".KYyyyyyyyyyyyKs",
    ".KYyyyyyyyyyyyKs",
    ".KYyyyyyyyyyyyKs",
    ".KYyyyyyyyyyyyKs",
    ".KYyyyyyyyyyyyKs",
    ".KYooooooooooyKs",
    ".KKKKKKKKKKKKKKs",
    "..ssssssssssssss",
    "................",
]

FILE = [
    "..KKKKKKKKK.....",
    "..KwwwwwwwKK....",
    "..KwwwwwwwKwK...",
    "..KwwwwwwwKwwK..",
    "..KwwwwwwwKKKKK.",
    "..KwgggggwwwwwK.",
    "..KwwwwwwwwwwwK.",
    "..KwgggggggggwK.",
    "..KwwwwwwwwwwwK.",
    "..KwgggggggggwK.",
    "..KwwwwwwwwwwwK.",
    "..KwgggggggggwK.",
    "..KwwwwwwwwwwwK.",
    "..KwggggggwwwwK.",
    "..KwwwwwwwwwwwK.",
    "..KKKKKKKKKKKKK.",
]

CDUP = [
    ".......G........",
    "......GaG.......",
    ".....GaaaG......",
    "....GaaaaaG.....",
    "...GGGaaaGGG....",
    ".....GaaaG......",
    "..KKKGaaaGK.....",
    ".KyyyGaaaGyKKKK.",
    ".KYYYGaaaGGGGGKs",
    ".KYyyGaaaaaaaGKs",
    ".KYyyGaaaaaaaGKs",
    ".KYyyyGGGGGGGGKs",
    ".KYyyyyyyyyyyyKs",
    ".KKKKKKKKKKKKKKs",
    "..ssssssssssssss",
    "................",
]

COLOURS = {
    "K": (0x40, 0x40, 0x40),  # outline
    "y": (0xFF, 0xE0, 0x70),  # folder body
    "Y": (0xF0, 0xC8, 0x40),  # folder edge highlight
    "o": (0xD8, 0xA8, 0x30),  # folder bottom shade
    "s": (0xB0, 0xB0, 0xB0),  # drop shadow
    "w": (0xFF, 0xFF, 0xFF),  # paper
    "g": (0x90, 0x98, 0xB0),  # text lines / arrow fill
    "G": (0x20, 0x80, 0x20),  # arrow outline
    "a": (0x70, 0xD0, 0x70),  # arrow fill
}

# name, picture, palette size, transparent index, total byte count, first index used
# for the drawing colours, file name of the array.
ICONS = [
    ("forder.gif", "kFolderGif", FOLDER, 64, 0, 375),
    ("file.gif", "kFileGif", FILE, 64, 59, 379),
    ("cdup.gif", "kCdupGif", CDUP, 128, 11, 581),
]


def build_palette(picture, size, transparent):
    """Palette of `size` entries: a grey ramp, the transparent slot white-ish, and
    the drawing colours at the first free indices after the transparent one."""
    palette = [((i * 255) // (size - 1),) * 3 for i in range(size)]
    palette[transparent] = (0xFF, 0xFF, 0xFE)
    mapping = {".": transparent}
    used = sorted({c for row in picture for c in row if c != "."})
    index = (transparent + 1) % size
    for symbol in used:
        palette[index] = COLOURS[symbol]
        mapping[symbol] = index
        index = (index + 1) % size
    pixels = [mapping[c] for row in picture for c in row]
    return palette, pixels


def lzw_encode(pixels, min_code_size):
    clear = 1 << min_code_size
    end = clear + 1
    codes = []
    table = {(i,): i for i in range(clear)}
    next_code = end + 1
    code_size = min_code_size + 1
    codes.append((clear, code_size))
    current = (pixels[0],)
    for p in pixels[1:]:
        candidate = current + (p,)
        if candidate in table:
            current = candidate
            continue
        codes.append((table[current], code_size))
        if next_code < 4096:
            table[candidate] = next_code
            next_code += 1
            if next_code - 1 == (1 << code_size) and code_size < 12:
                code_size += 1
        else:
            codes.append((clear, code_size))
            table = {(i,): i for i in range(clear)}
            next_code = end + 1
            code_size = min_code_size + 1
        current = (p,)
    codes.append((table[current], code_size))
    codes.append((end, code_size))
    out = bytearray()
    bits = 0
    nbits = 0
    for code, size in codes:
        bits |= code << nbits
        nbits += size
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8
    if nbits:
        out.append(bits & 0xFF)
    return bytes(out)


def lzw_decode(data, min_code_size, count):
    clear = 1 << min_code_size
    end = clear + 1
    pos = 0
    code_size = min_code_size + 1
    table = [(i,) for i in range(clear)] + [(), ()]
    out = []
    previous = None
    total_bits = len(data) * 8
    while pos + code_size <= total_bits:
        code = 0
        for b in range(code_size):
            bit = (data[(pos + b) // 8] >> ((pos + b) % 8)) & 1
            code |= bit << b
        pos += code_size
        if code == clear:
            table = [(i,) for i in range(clear)] + [(), ()]
            code_size = min_code_size + 1
            previous = None
            continue
        if code == end:
            break
        if code < len(table):
            entry = table[code]
            if previous is not None:
                table.append(previous + (entry[0],))
        else:
            entry = previous + (previous[0],)
            table.append(entry)
        out.extend(entry)
        previous = entry
        if len(table) == (1 << code_size) and code_size < 12:
            code_size += 1
    return out[:count]


def sub_blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out.append(len(chunk))
        out += chunk
    out.append(0)
    return bytes(out)


def comment_extension(total, text):
    """A comment extension of exactly `total` bytes (at least 4)."""
    remaining = total - 3  # introducer, label and block terminator
    payload = (text.encode("ascii") + b" " * remaining)
    out = bytearray(b"\x21\xFE")
    used = 0
    while remaining > 0:
        length = min(255, remaining - 1)
        if remaining - (length + 1) == 1:
            length -= 1
        out.append(length)
        out += payload[used:used + length]
        used += length
        remaining -= length + 1
    out.append(0)
    assert len(out) == total
    return bytes(out)


def make_gif(picture, palette_size, transparent, target):
    palette, pixels = build_palette(picture, palette_size, transparent)
    depth = palette_size.bit_length() - 1
    header = b"GIF89a" + struct.pack("<HHBBB", 16, 16, 0x80 | 0x70 | (depth - 1), transparent, 0)
    table = b"".join(bytes(c) for c in palette)
    gce = bytes([0x21, 0xF9, 4, 0x01, 0, 0, transparent, 0])
    descriptor = b"\x2C" + struct.pack("<HHHHB", 0, 0, 16, 16, 0)
    data = lzw_encode(pixels, depth)
    image = descriptor + bytes([depth]) + sub_blocks(data)
    natural = len(header) + len(table) + len(gce) + len(image) + 1
    padding = target - natural
    if padding != 0 and padding < 4:
        sys.exit("icon cannot be padded to %d bytes (natural size %d)" % (target, natural))
    comment = comment_extension(padding, "CorvelFtp icon") if padding else b""
    gif = header + table + comment + gce + image + b"\x3B"
    assert len(gif) == target, (len(gif), target)
    assert lzw_decode(data, depth, 256) == pixels, "LZW round trip failed"
    return gif, palette, pixels


def write_png(path, palette, pixels, scale=8):
    size = 16 * scale
    rows = bytearray()
    for y in range(size):
        rows.append(0)
        for x in range(size):
            rows += bytes(palette[pixels[(y // scale) * 16 + x // scale]])

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(rows))) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def c_array(name, data):
    lines = ["constexpr unsigned char %s[] = {" % name]
    for i in range(0, len(data), 16):
        lines.append("    " + ", ".join("0x%02X" % b for b in data[i:i + 16]) + ",")
    lines.append("};")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--preview", help="directory for PNG previews")
    args = parser.parse_args()
    parts = []
    table = []
    for route, symbol, picture, palette_size, transparent, target in ICONS:
        assert len(picture) == 16 and all(len(row) == 16 for row in picture), route
        gif, palette, pixels = make_gif(picture, palette_size, transparent, target)
        parts.append("// %s: %d bytes, %d colours, transparent index %d.\n%s" % (
            route, len(gif), palette_size, transparent, c_array(symbol, gif)))
        table.append('    {"%s", %s, sizeof %s},' % (route, symbol, symbol))
        if args.preview:
            os.makedirs(args.preview, exist_ok=True)
            write_png(os.path.join(args.preview, route.replace(".gif", ".png")), palette, pixels)
    source = (
        "// Generated by scripts/make_icons.py; edit the pictures there and run it again.\n"
        '#include "web/Icons.h"\n\n'
        "#include <iterator>\n\n"
        "namespace corvel {\n\nnamespace {\n\n"
        + "\n\n".join(parts)
        + "\n\nconstexpr WebIcon kIcons[] = {\n" + "\n".join(table) + "\n};\n\n}  // namespace\n\n"
        "const WebIcon* findWebIcon(std::string_view routeName) {\n"
        "    for (const WebIcon& icon : kIcons)\n"
        "        if (icon.routeName == routeName) return &icon;\n"
        "    return nullptr;\n"
        "}\n\n}  // namespace corvel\n"
    )
    with open(os.path.join(ROOT, "web", "Icons.cpp"), "w") as f:
        f.write(source)


if __name__ == "__main__":
    main()
