#!/usr/bin/env python3
"""Writes the extraction fuzzer's seed archives into fuzz/extract_seeds/: a plain member and
hostile names (climbing, absolute, backslashes, NUL, dot names, links, deep folders, a bad CRC,
a size bomb) at header levels 0, 1, 2 and 3."""
import os
import struct
import sys


def crc16(data, crc=0):
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


DOS_TIME = ((2023 - 1980) << 25) | (11 << 21) | (14 << 16) | (22 << 11) | (13 << 5) | 10


def member(level, name, data=b"data", folder=None, mode=0o100644, method=b"-lh0-",
           original=None, crc=None):
    original = len(data) if original is None else original
    crc = crc16(data) if crc is None else crc
    ext = []
    if level >= 2:
        ext.append((0x00, b"\0\0"))
        ext.append((0x01, name))
    if folder is not None and level >= 1:
        ext.append((0x02, folder))
    if level >= 1 and mode is not None:
        ext.append((0x50, struct.pack("<H", mode)))
    width = 4 if level == 3 else 2

    def chain(entries):
        out = b""
        for i, (t, d) in enumerate(entries):
            nxt = 1 + len(entries[i + 1][1]) + width if i + 1 < len(entries) else 0
            out += bytes([t]) + d + (struct.pack("<I", nxt) if width == 4 else struct.pack("<H", nxt))
        return out

    if level in (0, 1):
        extbytes = chain(ext) if level == 1 else b""
        body = method + struct.pack("<IIIBB", len(data) + len(extbytes), original, DOS_TIME, 0x20, level)
        body += bytes([len(name)]) + name + struct.pack("<H", crc)
        if level == 1:
            body += b"U" + struct.pack("<H", 1 + len(ext[0][1]) + 2 if ext else 0)
        head = bytes([len(body), sum(body) & 0xFF]) + body
        return head + extbytes + data
    first = 1 + len(ext[0][1]) + width
    fixed = method + struct.pack("<IIIBB", len(data), original, 1700000000, 0x20, level)
    fixed += struct.pack("<H", crc) + b"U"
    if level == 2:
        h = bytearray(struct.pack("<H", 0) + fixed + struct.pack("<H", first) + chain(ext))
        struct.pack_into("<H", h, 0, len(h))
        crc_at = 2 + len(fixed) + 2 + 1
    else:
        h = bytearray(struct.pack("<H", 4) + fixed + struct.pack("<II", 0, first) + chain(ext))
        struct.pack_into("<I", h, 24, len(h))
        crc_at = 2 + len(fixed) + 8 + 1
    struct.pack_into("<H", h, crc_at, crc16(bytes(h)))
    return bytes(h) + data


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "extract_seeds")
    os.makedirs(out, exist_ok=True)
    names = {"plain": b"plain.txt", "climb": b"../x", "absolute": b"/tmp/x",
             "inner-climb": b"a/../../x", "backslash": b"..\\x", "dot": b".", "dotdot": b"..",
             "empty": b"", "nul": b"a\0/../../x"}
    folders = {"climb": b"..\xff", "absolute": b"\xfftmp\xff", "inner-climb": b"a\xff..\xff..\xff",
               "deep": b"d\xff" * 200}
    for level in range(4):
        for key, name in names.items():
            if level < 2 and len(name) == 0:
                continue
            blob = member(level, b"ok.txt") + member(level, name) + b"\0"
            open(os.path.join(out, "l%d-name-%s.lzh" % (level, key)), "wb").write(blob)
        if level >= 1:
            for key, folder in folders.items():
                blob = member(level, b"ok.txt") + member(level, b"x", folder=folder) + b"\0"
                open(os.path.join(out, "l%d-folder-%s.lzh" % (level, key)), "wb").write(blob)
            link = member(level, b"link|/etc", mode=0o120777)
            open(os.path.join(out, "l%d-link.lzh" % level), "wb").write(link + b"\0")
            bits = member(level, b"wide", mode=0o106777) + member(level, b"", method=b"-lhd-",
                                                                  data=b"", folder=b"dir\xff",
                                                                  mode=0o41777)
            open(os.path.join(out, "l%d-modes.lzh" % level), "wb").write(bits + b"\0")
        bad = member(level, b"ok.txt") + member(level, b"bad.txt", crc=0x1234) + b"\0"
        open(os.path.join(out, "l%d-bad-crc.lzh" % level), "wb").write(bad)
        bomb = member(level, b"bomb", method=b"-lh5-", data=b"\0" * 32, original=0xFFFFFFF0) + b"\0"
        open(os.path.join(out, "l%d-bomb.lzh" % level), "wb").write(bomb)


main()
