"""The body area of tgz, tbz and zip containers, read from their layout's description alone
(docs/strong-format.md, its containers). Each function takes the whole file and returns the body area,
or raises ValueError when the file does not follow the layout."""
import bz2
import struct
import zlib

BLOCK = 512
MAX_TAIL = 1 << 20


def _numeric(field):
    if field[0] == 0x80:
        value = int.from_bytes(field[1:], "big")
        if value > 1 << 62:
            raise ValueError("tar number too large")
        return value
    text = field.lstrip(b" ")
    digits = len(text) - len(text.lstrip(b"01234567"))
    rest = text[digits:]
    if digits == 0 or rest.strip(b"\0 "):
        raise ValueError("tar number malformed")
    return int(text[:digits], 8)


def _header(block):
    if len(block) < BLOCK:
        raise ValueError("tar ends inside a header")
    if block[257:265] not in (b"ustar  \0", b"ustar\x0000"):
        raise ValueError("no ustar magic")
    if block[0] == 0:
        raise ValueError("no name")
    stored = _numeric(block[148:156])
    counted = block[:148] + b" " * 8 + block[156:BLOCK]
    if stored not in (sum(counted), sum(b - 256 if b > 127 else b for b in counted)):
        raise ValueError("tar checksum")
    return chr(block[156]), _numeric(block[124:136])


def _tar_member(tar):
    at = 0
    kind, size = _header(tar[0:BLOCK])
    if kind == "5":
        folder = tar[0:100].split(b"\0")[0]
        if size != 0 or not folder.endswith(b"/"):
            raise ValueError("folder entry")
        at = BLOCK
        kind, size = _header(tar[at:at + BLOCK])
        if not tar[at:at + 100].startswith(folder):
            raise ValueError("member outside its folder")
    if kind not in ("0", "\0"):
        raise ValueError("not a regular file")
    start = at + BLOCK
    body = tar[start:start + size]
    if len(body) != size:
        raise ValueError("tar ends inside the content")
    padding = -size % BLOCK
    tail = tar[start + size:]
    if tail.count(0) != len(tail) or len(tail) < padding + 2 * BLOCK or \
            len(tail) > padding + MAX_TAIL or (len(tail) - padding) % BLOCK:
        raise ValueError("tar tail")
    return body


def _skip_string(data, at, limit):
    end = data.find(b"\0", at, at + limit)
    if end < 0:
        raise ValueError("gzip header string")
    return end + 1


def tgz(data):
    if data[:3] != b"\x1f\x8b\x08" or len(data) < 10 or data[3] & 0xE0:
        raise ValueError("not gzip")
    flags, at = data[3], 10
    if flags & 0x04:
        at += 2 + struct.unpack_from("<H", data, at)[0]
    if flags & 0x08:
        at = _skip_string(data, at, 4096)
    if flags & 0x10:
        at = _skip_string(data, at, 65536)
    if flags & 0x02:
        if struct.unpack_from("<H", data, at)[0] != zlib.crc32(data[:at]) & 0xFFFF:
            raise ValueError("gzip header CRC")
        at += 2
    d = zlib.decompressobj(-15)
    try:
        tar = d.decompress(data[at:])
    except zlib.error as e:
        raise ValueError(str(e))
    if not d.eof or len(d.unused_data) != 8:
        raise ValueError("deflate stream or trailer")
    crc, isize = struct.unpack("<II", d.unused_data)
    if crc != zlib.crc32(tar) or isize != len(tar) & 0xFFFFFFFF:
        raise ValueError("gzip trailer")
    return _tar_member(tar)


def tbz(data):
    if data[:3] != b"BZh" or not 0x31 <= data[3:4][0] <= 0x39 or data[4:10] != b"1AY&SY":
        raise ValueError("not bzip2")
    parts, rest = [], data
    while rest:
        d = bz2.BZ2Decompressor()
        try:
            parts.append(d.decompress(rest))
        except OSError as e:
            raise ValueError(str(e))
        if not d.eof:
            raise ValueError("bzip2 stream cut short")
        rest = d.unused_data
    return _tar_member(b"".join(parts))


def _zip64(extra, want):
    at = 0
    while at + 4 <= len(extra):
        tag, size = struct.unpack_from("<HH", extra, at)
        if size > len(extra) - at - 4:
            raise ValueError("extra field")
        if tag == 1:
            if size < 8 * want:
                raise ValueError("Zip64 field too short")
            return list(struct.unpack_from("<%dQ" % want, extra, at + 4))
        at += 4 + size
    if want:
        raise ValueError("no Zip64 field")
    return []


def zip_(data):
    if data[:4] != b"PK\3\4":
        raise ValueError("not a zip")
    end = None
    for at in range(len(data) - 22, max(len(data) - 22 - 65535, 0) - 1, -1):
        if data[at:at + 4] == b"PK\5\6" and \
                at + 22 + struct.unpack_from("<H", data, at + 20)[0] == len(data):
            end = at
            break
    if end is None:
        raise ValueError("no end record")
    disk, cd_disk, _, entries, cd_size, cd_offset = struct.unpack_from("<HHHHII", data, end + 4)
    if disk or cd_disk:
        raise ValueError("several disks")
    cd_end = end
    if end >= 76 and data[end - 20:end - 16] == b"PK\6\7":
        loc_disk, end64, disks = struct.unpack_from("<IQI", data, end - 16)
        if loc_disk != 0 or disks != 1 or end64 + 56 > end - 20 or \
                data[end64:end64 + 4] != b"PK\6\6":
            raise ValueError("Zip64 locator")
        size64, _, _, d1, d2, n1, entries, cd_size, cd_offset = \
            struct.unpack_from("<QHHIIQQQQ", data, end64 + 4)
        if size64 < 44 or end64 + 12 + size64 != end - 20 or d1 or d2 or n1 != 1:
            raise ValueError("Zip64 end record")
        cd_end = end64
    if entries != 1 or cd_offset + cd_size != cd_end or cd_size < 46:
        raise ValueError("central directory")
    c = data[cd_offset:cd_end]
    (sig, _, _, flags, method, _, _, crc, csize, usize, nlen, xlen, klen, cdisk, _, _,
     offset) = struct.unpack_from("<IHHHHHHIIIHHHHHII", c, 0)
    if sig != 0x02014b50 or 46 + nlen + xlen + klen != len(c) or flags & 1 or method or cdisk:
        raise ValueError("central header")
    name = c[46:46 + nlen]
    values = {"u": usize, "c": csize, "o": offset}
    full = [k for k in "uco" if values[k] == 0xFFFFFFFF]
    for k, v in zip(full, _zip64(c[46 + nlen:46 + nlen + xlen], len(full))):
        values[k] = v
    usize, csize, offset = values["u"], values["c"], values["o"]
    if usize != csize:
        raise ValueError("sizes differ")
    (lsig, _, lflags, lmethod, _, _, lcrc, lcsize, lusize, lnlen, lxlen) = \
        struct.unpack_from("<IHHHHHIIIHH", data, offset)
    if lsig != 0x04034b50 or lmethod or lnlen != nlen or data[offset + 30:offset + 30 + nlen] != name:
        raise ValueError("local header")
    if not lflags & 8:
        if lusize == 0xFFFFFFFF or lcsize == 0xFFFFFFFF:
            extra = data[offset + 30 + nlen:offset + 30 + nlen + lxlen]
            lusize, lcsize = _zip64(extra, 2)
        if lcrc != crc or lusize != usize or lcsize != usize:
            raise ValueError("local header disagrees")
    start = offset + 30 + nlen + lxlen
    if start + usize > cd_offset:
        raise ValueError("member overlaps the central directory")
    body = data[start:start + usize]
    if zlib.crc32(body) != crc:
        raise ValueError("CRC-32")
    return body


BODIES = {"tgz": tgz, "tbz": tbz, "zip": zip_}
