#!/usr/bin/env python3
"""Writes tests/data/ipmi/conversion_expected.txt: the values the IPMI reading formula
y = L[(M x + B 10^K1) 10^K2] gives in IEEE double arithmetic, computed here in Python (whose
floats are IEEE doubles on every machine) and so independent of the x87. The library must
give exactly these bits in both of its builds.

Usage: tools/conversion_expectations.py SDR.BIN > tests/data/ipmi/conversion_expected.txt
where SDR.BIN is the sample server's repository (build/i386/machines/sample-server/ipmi/sdr.bin).

Each line: a label, then the FNV-1a 64 hash (hex) over raw bytes 0..255 of the value's eight
bytes (little-endian), for a sensor followed by its "%.2f" text and a newline. A sweep line
combines the hashes of every pair of exponents (bits only).
"""
import struct
import sys

FNV_OFFSET, FNV_PRIME = 0xCBF29CE484222325, 0x100000001B3
EXPONENTS = (-8, -3, -2, -1, 0, 1, 2, 7)


def signed(fmt, raw):
    if fmt == 1:
        return raw if raw < 0x80 else raw - 255
    if fmt == 2:
        return raw if raw < 0x80 else raw - 256
    return raw


def value(m, b, k1, k2, fmt, lin, raw):
    v = (m * float(signed(fmt, raw)) + b * 10.0 ** k1) * 10.0 ** k2
    if lin == 7:
        return 0.0 if v == 0 else 1 / v
    return v


def digest(m, b, k1, k2, fmt, lin, texts=True):
    h = FNV_OFFSET
    for raw in range(256):
        v = value(m, b, k1, k2, fmt, lin, raw)
        data = struct.pack("<d", v) + (("%.2f\n" % v).encode() if texts else b"")
        for byte in data:
            h = ((h ^ byte) * FNV_PRIME) & 0xFFFFFFFFFFFFFFFF
    return h


def ten_bits(low, high):
    v = low | (high >> 6) << 8
    return v - 1024 if v & 0x200 else v


def nibble(v):
    return v - 16 if v & 8 else v


def main():
    sdr = open(sys.argv[1], "rb").read()
    at = 0
    while at + 5 <= len(sdr):
        size = 5 + sdr[at + 4]
        r = sdr[at:at + size]
        at += size
        if r[3] != 1 or len(r) < 48:
            continue
        fmt = r[20] >> 6
        if fmt == 3:
            continue
        m, b = ten_bits(r[24], r[25]), ten_bits(r[26], r[27])
        k1, k2 = nibble(r[29] & 0x0F), nibble(r[29] >> 4)
        lin = r[23] & 0x7F
        print("sensor %02X %016X" % (r[7], digest(m, b, k1, k2, fmt, lin)))
    for lin, formats in ((0, (0, 1, 2)), (7, (0,))):
        for fmt in formats:
            for m in (-512, -100, -7, -1, 1, 2, 3, 5, 6, 7, 10, 13, 49, 100, 511):
                for b in (-512, -50, -5, -1, 0, 1, 3, 100, 511):
                    h = FNV_OFFSET
                    for k1 in EXPONENTS:
                        for k2 in EXPONENTS:
                            h = ((h ^ digest(m, b, k1, k2, fmt, lin, False)) * FNV_PRIME) & 0xFFFFFFFFFFFFFFFF
                    print("sweep L%d F%d M%d B%d %016X" % (lin, fmt, m, b, h))


main()
