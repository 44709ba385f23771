"""Readers of the lzh, cab and gca containers, sharing no code with the program's own.

Each function takes a whole file (bytes) and returns its body area (the body, then the padding),
or raises ValueError when the file does not follow the layout.
"""
import struct
import zlib


def _le16(b, at):
    return struct.unpack_from("<H", b, at)[0]


def _le32(b, at):
    return struct.unpack_from("<I", b, at)[0]


def _le64(b, at):
    return struct.unpack_from("<Q", b, at)[0]


def _crc16(data):
    table = _crc16.table
    c = 0
    for byte in data:
        c = table[(c ^ byte) & 0xFF] ^ (c >> 8)
    return c


def _crc16_table():
    table = []
    for i in range(256):
        c = i
        for _ in range(8):
            c = (c >> 1) ^ 0xA001 if c & 1 else c >> 1
        table.append(c)
    return table


_crc16.table = _crc16_table()


def _lzh_member(f, at):
    """The data offset and size of the member whose header is at `at`, and its data CRC."""
    if len(f) - at < 27 or f[at + 2:at + 7] != b"-lh0-" or f[at + 20] != 2:
        raise ValueError("lzh: not a level-2 -lh0- member")
    h_size = _le16(f, at)
    if not 26 <= h_size <= 4096 or h_size > len(f) - at:
        raise ValueError("lzh: header size")
    header = bytearray(f[at:at + h_size])
    packed, original = _le32(header, 7), _le32(header, 11)
    crc_at = None
    seen_sizes = False
    pos, nxt = 26, _le16(header, 24)
    while nxt != 0:
        if not 3 <= nxt <= h_size - pos:
            raise ValueError("lzh: extended header size")
        kind, data = header[pos], header[pos + 1:pos + nxt - 2]
        if kind == 0x00:
            if len(data) < 2 or crc_at is not None:
                raise ValueError("lzh: common header")
            crc_at = pos + 1
        elif kind == 0x42:
            if len(data) != 16 or seen_sizes:
                raise ValueError("lzh: file size header")
            seen_sizes = True
            packed, original = _le64(data, 0), _le64(data, 8)
        pos += nxt
        nxt = _le16(header, pos - 2)
    if crc_at is not None:
        stated = _le16(header, crc_at)
        header[crc_at:crc_at + 2] = b"\0\0"
        if _crc16(header) != stated:
            raise ValueError("lzh: header CRC")
    data_at = at + h_size
    if packed != original or packed > len(f) - data_at - 1:
        raise ValueError("lzh: member size")
    return data_at, packed, _le16(header, 21)


def lzh_body(f):
    out = []
    at = 0
    while True:
        data_at, size, crc = _lzh_member(f, at)
        data = f[data_at:data_at + size]
        if _crc16(data) != crc:
            raise ValueError("lzh: data CRC")
        out.append(data)
        at = data_at + size
        if f[at] == 0:  # the end mark
            return b"".join(out)


def _cab_checksum(data):
    n4 = len(data) // 4 * 4
    words = struct.unpack_from("<%dI" % (n4 // 4), data, 0)
    s = 0
    for w in words:
        s ^= w
    tail = 0
    for byte in data[n4:]:
        tail = (tail << 8) | byte
    return s ^ tail ^ (len(data) | len(data) << 16)


def cab_body(f):
    if len(f) < 44 or f[:4] != b"MSCF" or f[25] != 1:
        raise ValueError("cab: not a cabinet")
    if (_le32(f, 8) != len(f) or _le16(f, 26) != 1 or _le16(f, 28) != 1 or _le16(f, 30) != 0
            or _le16(f, 42) != 0):
        raise ValueError("cab: not one stored folder of one file")
    first, blocks, files_at = _le32(f, 36), _le16(f, 40), _le32(f, 16)
    if not 44 <= files_at <= len(f) - 18:
        raise ValueError("cab: file entry")
    entry = f[files_at:files_at + 272]
    size = _le32(entry, 0)
    if _le32(entry, 4) != 0 or _le16(entry, 8) != 0:
        raise ValueError("cab: file not at the folder's start")
    name_end = entry.find(b"\0", 16)
    if name_end <= 16:
        raise ValueError("cab: name")
    files_end = files_at + name_end + 1
    if not files_end <= first <= len(f) or size > blocks * 32768 or size > len(f) - first:
        raise ValueError("cab: blocks")
    out = []
    got, at = 0, first
    while got < size:
        if blocks == 0 or at + 8 > len(f):
            raise ValueError("cab: blocks end early")
        csum, cb, cu = struct.unpack_from("<IHH", f, at)
        if not 1 <= cb <= 32768 or cu != cb or at + 8 + cb > len(f):
            raise ValueError("cab: block")
        data = f[at + 8:at + 8 + cb]
        if csum != 0 and csum != _cab_checksum(data):
            raise ValueError("cab: block checksum")
        out.append(data[:size - got])
        got += min(cb, size - got)
        at += 8 + cb
        blocks -= 1
    return b"".join(out)


def gca_body(f):
    if len(f) < 50 or f[:4] != b"GCA0":
        raise ValueError("gca: not GCA")
    member_at = _le32(f, 8)
    if _le16(f, 6) != 1 or _le32(f, 12) != len(f) or not 16 <= member_at <= len(f) - 34:
        raise ValueError("gca: archive header")
    if f[member_at:member_at + 4] != b"GCAF" or _le16(f, member_at + 4) != 0:
        raise ValueError("gca: member header")
    packed, original = _le32(f, member_at + 8), _le32(f, member_at + 12)
    data_at = member_at + 30 + _le16(f, member_at + 28)
    if (packed != original or data_at > len(f) - 4 or packed != len(f) - 4 - data_at
            or f[data_at + packed:data_at + packed + 4] != b"GCAE"):
        raise ValueError("gca: member size or end mark")
    body = f[data_at:data_at + packed]
    if zlib.crc32(body) != _le32(f, member_at + 16):
        raise ValueError("gca: CRC-32")
    return body


BODIES = {"lzh": lzh_body, "cab": cab_body, "gca": gca_body}
