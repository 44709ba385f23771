"""The body area of the picture kinds (bmp, png, ico, cur, jpg), read by the rules of
docs/strong-format.md (its containers) alone.

BODIES maps a kind's name to a function that takes the whole file and returns its body area
(the body, then whatever padding follows it), raising ValueError when the file does not follow
the layout.
"""

import struct
import zlib

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def _need(condition, what):
    if not condition:
        raise ValueError(what)


def bmp(data):
    _need(len(data) >= 54 and data[:2] == b"BM", "not a bitmap")
    file_size, _, _, pixels, info = struct.unpack_from("<IHHII", data, 2)
    width, height, planes, bits, compression, image_size = struct.unpack_from("<iiHHII", data, 18)
    _need(file_size == len(data), "bfSize is not the file's size")
    _need(info in (40, 108, 124) and len(data) >= 14 + info, "unknown info header")
    _need(pixels >= 14 + info and pixels <= len(data), "pixel array offset")
    _need(width > 0 and height != 0 and planes == 1 and bits == 24 and compression == 0,
          "not a 24-bit BI_RGB bitmap")
    row = (width * 24 + 31) // 32 * 4
    area = row * abs(height)
    _need(len(data) - pixels == area, "the pixel array does not end the file")
    _need(image_size in (0, area), "biSizeImage")
    return data[pixels:pixels + area]


def _chunks(data, at, end):
    """(type, data start, length) of each chunk from `at` to `end`, checking their bounds."""
    while at < end:
        _need(end - at >= 12, "chunk cut short")
        length, kind = struct.unpack_from(">I4s", data, at)
        _need(length <= 0x7FFFFFFF and end - at - 12 >= length, "chunk length")
        _need(all(65 <= c <= 90 or 97 <= c <= 122 for c in kind), "chunk type")
        yield kind, at + 8, length
        at += 12 + length


def _crc_ok(data, start, length):
    crc = struct.unpack_from(">I", data, start + length)[0]
    return zlib.crc32(data[start - 4:start + length]) == crc


def png_area(data, start=0, end=None):
    """The pixel rows' bytes of the PNG in data[start:end] and its width, height, channels."""
    end = len(data) if end is None else end
    _need(end - start >= 8 + 25 + 24 and data[start:start + 8] == PNG_SIGNATURE, "not a PNG")
    chunks = _chunks(data, start + 8, end)
    kind, at, length = next(chunks)
    _need(kind == b"IHDR" and length == 13 and _crc_ok(data, at, length), "IHDR")
    width, height, depth, color, method, filtering, interlace = struct.unpack_from(
        ">IIBBBBB", data, at)
    _need(0 < width <= 0x7FFFFFFF and 0 < height <= 0x7FFFFFFF, "dimensions")
    _need(depth == 8 and color in (2, 6) and (method, filtering, interlace) == (0, 0, 0),
          "not 8-bit RGB or RGBA, non-interlaced")
    channels = 3 if color == 2 else 4
    stream, state, ended = [], "before", False
    for kind, at, length in chunks:
        _need(not ended, "data after IEND")
        if kind == b"IDAT":
            _need(state in ("before", "idat"), "IDAT chunks not consecutive")
            _need(_crc_ok(data, at, length), "IDAT CRC")
            stream.append(data[at:at + length])
            state = "idat"
        elif kind == b"IEND":
            _need(state != "before" and length == 0, "IEND")
            ended = True
        else:
            _need(kind[0] & 0x20, "a critical chunk other than IDAT")
            if state == "idat":
                state = "after"
    _need(ended, "no IEND")
    inflater = zlib.decompressobj()
    raw = inflater.decompress(b"".join(stream))
    _need(inflater.eof and not inflater.unused_data, "zlib stream")
    row = width * channels
    _need(len(raw) == height * (row + 1), "rows")
    rows = []
    for y in range(height):
        at = y * (row + 1)
        _need(raw[at] == 0, "filter type other than 0")
        rows.append(raw[at + 1:at + 1 + row])
    return b"".join(rows), width, height, channels


def png(data):
    return png_area(data)[0]


def _icon(data, kind):
    _need(len(data) >= 6 + 16 + 57, "too short")
    reserved, found, count = struct.unpack_from("<HHH", data, 0)
    _need(reserved == 0 and found == kind and count > 0, "not an icon directory of this type")
    at = 6 + 16 * count
    _need(at <= len(data), "directory")
    areas = []
    for i in range(count):
        w, h, colors, zero, a, b, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        width, height = w or 256, h or 256
        _need(colors == 0 and zero == 0, "entry")
        if kind == 1:
            _need(a in (0, 1) and b in (0, 32), "planes or bit count")
        else:
            _need(a < width and b < height, "hot spot")
        _need(offset == at and size >= 57 and size <= len(data) - at, "image placement")
        area, found_width, found_height, channels = png_area(data, offset, offset + size)
        _need((found_width, found_height, channels) == (width, height, 4),
              "image does not match entry")
        areas.append(area)
        at += size
    _need(at == len(data), "the last image does not end the file")
    return b"".join(areas)


def ico(data):
    return _icon(data, 1)


def cur(data):
    return _icon(data, 2)


def _segment(data, at):
    _need(len(data) - at >= 4, "segment cut short")
    marker, length = data[at + 1], struct.unpack_from(">H", data, at + 2)[0]
    _need(data[at] == 0xFF and marker >= 0xC0 and marker not in (0xD8, 0xD9, 0xFF)
          and not 0xD0 <= marker <= 0xD7, "marker")
    _need(length >= 2 and length <= len(data) - at - 2, "segment length")
    return marker, length


def jpg(data):
    _need(len(data) >= 64 and data[:4] == b"\xff\xd8\xff\xe0" and data[6:11] == b"JFIF\0",
          "not a JFIF file")
    app0 = struct.unpack_from(">H", data, 4)[0]
    _need(app0 >= 16, "APP0 length")
    at = 4 + app0
    body = []
    while True:
        marker, length = _segment(data, at)
        if marker != 0xFE:
            break
        body.append(data[at + 4:at + 2 + length])
        at += 2 + length
    _need(body, "no COM segment after the JFIF header")
    frame = False
    for _ in range(4096):
        marker, length = _segment(data, at)
        at += 2 + length
        if marker == 0xDA:
            _need(frame and len(data) - at >= 2 and data[-2:] == b"\xff\xd9", "scan or EOI")
            return b"".join(body)
        if 0xC0 <= marker <= 0xCF and marker not in (0xC4, 0xC8, 0xCC):
            frame = True
    raise ValueError("no scan")


BODIES = {"bmp": bmp, "png": png, "ico": ico, "cur": cur, "jpg": jpg}
