#!/usr/bin/python3
"""Generates src/imaging/fax_font_data.cpp, the built-in fax font.

The glyphs come from the public-domain X11 "misc-fixed" bitmap fonts
(Debian package xfonts-base), ISO 8859-1 encoding:
  small    (12 x 8 cells, 2 bytes/row):  5x8,  each pixel doubled across
  standard (20 x 16 cells, 3 bytes/row): 9x15, each pixel doubled across
Fax pixels at normal resolution are about twice as tall as wide, so doubling
across keeps the letters' proportions. Characters the source font lacks
(control codes, 0x7F..0x9F) stay blank.

Run once by hand and commit the output:
  /usr/bin/python3 scripts/make-fax-font.py > src/imaging/fax_font_data.cpp
Uses the Python standard library only.
"""
import gzip
import struct
import sys

FONT_DIR = "/usr/share/fonts/X11/misc/"

PCF_ACCELERATORS = 1 << 1
PCF_METRICS = 1 << 2
PCF_BITMAPS = 1 << 3
PCF_BDF_ENCODINGS = 1 << 5
PCF_BDF_ACCELERATORS = 1 << 8
PCF_COMPRESSED_METRICS = 0x100
PCF_BYTE_MSB = 1 << 2
PCF_BIT_MSB = 1 << 3


class PcfFont:
    """Just enough of the PCF format to pull out glyph bitmaps."""

    def __init__(self, path):
        self.data = gzip.open(path).read()
        if self.data[:4] != b"\x01fcp":
            raise ValueError(path + ": not a PCF file")
        count = struct.unpack_from("<i", self.data, 4)[0]
        self.tables = {}
        for i in range(count):
            kind, fmt, size, offset = struct.unpack_from("<4i", self.data, 8 + 16 * i)
            self.tables[kind] = (fmt, offset)
        self._read_accelerators()
        self._read_metrics()
        self._read_bitmaps()
        self._read_encodings()

    def _table(self, kind):
        fmt, offset = self.tables[kind]
        stored = struct.unpack_from("<i", self.data, offset)[0]
        order = ">" if stored & PCF_BYTE_MSB else "<"
        return stored, order, offset + 4

    def _read_accelerators(self):
        kind = PCF_BDF_ACCELERATORS if PCF_BDF_ACCELERATORS in self.tables else PCF_ACCELERATORS
        fmt, order, pos = self._table(kind)
        self.ascent, self.descent = struct.unpack_from(order + "2i", self.data, pos + 8)

    def _read_metrics(self):
        fmt, order, pos = self._table(PCF_METRICS)
        self.metrics = []
        if fmt & PCF_COMPRESSED_METRICS:
            count = struct.unpack_from(order + "h", self.data, pos)[0]
            pos += 2
            for i in range(count):
                m = [b - 0x80 for b in self.data[pos + 5 * i: pos + 5 * i + 5]]
                self.metrics.append(tuple(m))
        else:
            count = struct.unpack_from(order + "i", self.data, pos)[0]
            pos += 4
            for i in range(count):
                self.metrics.append(struct.unpack_from(order + "5h", self.data, pos + 12 * i))

    def _read_bitmaps(self):
        fmt, order, pos = self._table(PCF_BITMAPS)
        if (fmt >> 4) & 3 and not fmt & PCF_BYTE_MSB:
            raise ValueError("multi-byte scan units in LSB byte order are not handled")
        count = struct.unpack_from(order + "i", self.data, pos)[0]
        self.offsets = struct.unpack_from(order + "%di" % count, self.data, pos + 4)
        sizes = struct.unpack_from(order + "4i", self.data, pos + 4 + 4 * count)
        self.bitmap_base = pos + 4 + 4 * count + 16
        self.glyph_pad = 1 << (fmt & 3)
        self.msb_bits = bool(fmt & PCF_BIT_MSB)
        del sizes

    def _read_encodings(self):
        fmt, order, pos = self._table(PCF_BDF_ENCODINGS)
        min2, max2, min1, max1, _default = struct.unpack_from(order + "5h", self.data, pos)
        count = (max2 - min2 + 1) * (max1 - min1 + 1)
        indices = struct.unpack_from(order + "%dH" % count, self.data, pos + 10)
        self.glyph_of = {}
        if min1 == 0 and max1 == 0:
            for i, g in enumerate(indices):
                if g != 0xFFFF:
                    self.glyph_of[min2 + i] = g

    def cell(self, code):
        """The glyph of `code` as rows of 0/1 over the font's whole cell, or None."""
        if code not in self.glyph_of:
            return None
        g = self.glyph_of[code]
        lsb, rsb, width, ascent, descent = self.metrics[g][:5]
        cell_h = self.ascent + self.descent
        rows = [[0] * width for _ in range(cell_h)]
        row_bytes = ((rsb - lsb + 7) // 8 + self.glyph_pad - 1) // self.glyph_pad * self.glyph_pad
        base = self.bitmap_base + self.offsets[g]
        for y in range(ascent + descent):
            cy = self.ascent - ascent + y
            if not 0 <= cy < cell_h:
                continue
            for x in range(rsb - lsb):
                byte = self.data[base + y * row_bytes + x // 8]
                bit = (byte >> (7 - x % 8)) & 1 if self.msb_bits else (byte >> (x % 8)) & 1
                cx = lsb + x
                if bit and 0 <= cx < width:
                    rows[cy][cx] = 1
        return rows


def build_part(font, pixel_width, bytes_per_row, rows, top_pad, left_pad):
    out = bytearray()
    for code in range(256):
        cell = font.cell(code)
        for r in range(rows):
            bits = [0] * (bytes_per_row * 8)
            src_row = r - top_pad
            if cell is not None and 0 <= src_row < len(cell):
                for x, on in enumerate(cell[src_row]):
                    for dx in (0, 1):
                        px = left_pad + 2 * x + dx
                        if on and px < pixel_width:
                            bits[px] = 1
            for b in range(bytes_per_row):
                value = 0
                for i in range(8):
                    value = (value << 1) | bits[8 * b + i]
                out.append(value)
    return out


def main():
    small = build_part(PcfFont(FONT_DIR + "5x8-ISO8859-1.pcf.gz"), 12, 2, 8, 0, 1)
    standard = build_part(PcfFont(FONT_DIR + "9x15-ISO8859-1.pcf.gz"), 20, 3, 16, 1, 1)
    data = small + standard
    assert len(small) == 4096 and len(data) == 16384
    w = sys.stdout.write
    w("// Generated by scripts/make-fax-font.py from the public-domain X11 misc-fixed\n")
    w("// fonts 5x8 and 9x15 (ISO 8859-1). Do not edit by hand.\n")
    w('#include "imaging/fax_font.h"\n\n')
    w("namespace veltrane::imaging {\n\n")
    w("// Bytes 0..4095: small font, 256 glyphs of 8 rows x 2 bytes (12 pixels).\n")
    w("// Bytes 4096..16383: standard font, 256 glyphs of 16 rows x 3 bytes (20 pixels).\n")
    w("extern const unsigned char kFaxFontResource[kFaxFontResourceSize] = {\n")
    for i in range(0, len(data), 16):
        w("    " + ", ".join("0x%02X" % b for b in data[i:i + 16]) + ",\n")
    w("};\n\n}  // namespace veltrane::imaging\n")


if __name__ == "__main__":
    main()
