"""The body areas of the sound and video containers (wav, avi, mid, mp3), read as
docs/strong-format.md describes them. Each function takes the whole file and returns the body
then its padding, or raises ValueError for a file that does not follow the layout."""

import struct


def _chunk(data, offset, end):
    if offset + 8 > end:
        raise ValueError("a chunk header past the end")
    cid = data[offset:offset + 4]
    (size,) = struct.unpack_from("<I", data, offset + 4)
    return cid, size, offset + 8, offset + 8 + size + (size & 1)


def wav(data):
    if len(data) < 12 or data[0:4] not in (b"RIFF", b"RF64") or data[8:12] != b"WAVE":
        raise ValueError("not a WAVE file")
    rf64 = data[0:4] == b"RF64"
    offset, fmt, ds64_data = 12, False, None
    for count in range(1024):
        cid, size, at, after = _chunk(data, offset, len(data))
        if rf64 and count == 0:
            if cid != b"ds64" or size < 28 or at + 28 > len(data):
                raise ValueError("RF64 without its ds64 chunk first")
            (ds64_data,) = struct.unpack_from("<Q", data, at + 8)
        elif cid == b"fmt ":
            if size < 16 or at + 16 > len(data):
                raise ValueError("short fmt chunk")
            tag, channels = struct.unpack_from("<HH", data, at)
            (align,) = struct.unpack_from("<H", data, at + 12)
            if tag not in (1, 0xFFFE) or channels == 0 or align == 0:
                raise ValueError("not PCM")
            fmt = True
        elif cid == b"data":
            if not fmt:
                raise ValueError("data before fmt")
            length = ds64_data if rf64 and size == 0xFFFFFFFF else size
            if at + length > len(data):
                raise ValueError("data chunk past the end of the file")
            return data[at:at + length]
        if after > len(data):
            raise ValueError("chunk past the end of the file")
        offset = after
    raise ValueError("no data chunk")


def _movi(data, start, end):
    offset = start
    for _ in range(256):
        cid, size, at, after = _chunk(data, offset, end)
        if at + size > end:
            raise ValueError("chunk past its RIFF")
        if cid == b"LIST" and size >= 4 and data[at:at + 4] == b"movi":
            return at + 4, at + size
        offset = after
    raise ValueError("no movi list")


def avi(data):
    # One RIFF with JUNK where OpenDML's chunks would stand, or OpenDML RIFFs 'AVIX' after the
    # first: the movi lists are found and read alike, every other chunk skipped.
    if (len(data) < 24 or data[0:4] != b"RIFF" or data[8:12] != b"AVI "
            or data[12:16] != b"LIST" or data[20:24] != b"hdrl"):
        raise ValueError("not an AVI file")
    (size,) = struct.unpack_from("<I", data, 4)
    riff_end = 8 + size
    if riff_end > len(data):
        raise ValueError("RIFF past the end of the file")
    offset, movi_end = _movi(data, 12, riff_end)
    riff_end += riff_end & 1
    pieces = []
    while True:
        while offset < movi_end:
            cid, size, at, after = _chunk(data, offset, movi_end)
            if cid == b"LIST":
                offset = at + 4
                continue
            if after > movi_end + (size & 1):
                raise ValueError("chunk past its movi list")
            if cid in (b"00db", b"00dc"):
                pieces.append(data[at:at + size])
            offset = after
        if riff_end + 8 > len(data):
            break
        cid, size, at, after = _chunk(data, riff_end, len(data))
        if cid != b"RIFF" or size < 4 or data[at:at + 4] != b"AVIX" or at + size > len(data):
            raise ValueError("not an AVIX RIFF after the first")
        riff_end = after
        offset, movi_end = _movi(data, at + 4, at + size)
    return b"".join(pieces)


def _vlq(data, p, end):
    value = 0
    for _ in range(4):
        if p >= end:
            raise ValueError("number past the end of the track")
        b = data[p]
        p += 1
        value = value << 7 | (b & 0x7F)
        if not b & 0x80:
            return value, p
    raise ValueError("number longer than four bytes")


def mid(data):
    if len(data) < 22 or data[0:4] != b"MThd":
        raise ValueError("not a MIDI file")
    size, fmt, tracks, division = struct.unpack_from(">IHHH", data, 4)
    if not 6 <= size <= 256 or fmt > 2 or tracks == 0 or division == 0:
        raise ValueError("bad MIDI header")
    offset = 8 + size
    if data[offset:offset + 4] != b"MTrk":
        raise ValueError("no track after the header")
    pieces = []
    while tracks:
        if offset + 8 > len(data):
            raise ValueError("track header past the end")
        cid = data[offset:offset + 4]
        (length,) = struct.unpack_from(">I", data, offset + 4)
        p, end = offset + 8, offset + 8 + length
        if end > len(data):
            raise ValueError("track past the end")
        offset = end
        if cid != b"MTrk":
            continue
        tracks -= 1
        running = 0
        while p < end:
            _, p = _vlq(data, p, end)
            if p >= end:
                raise ValueError("event past the end of the track")
            status = data[p]
            if status < 0x80:
                if not running:
                    raise ValueError("running status without a status")
                status = running
            else:
                p += 1
            if status == 0xFF:
                if p >= end:
                    raise ValueError("meta event past the end of the track")
                kind = data[p]
                n, p = _vlq(data, p + 1, end)
                if p + n > end:
                    raise ValueError("meta event past the end of the track")
                if kind == 0x7F:
                    pieces.append(data[p:p + n])
                p += n
                if kind == 0x2F:
                    break
            elif status in (0xF0, 0xF7):
                n, p = _vlq(data, p, end)
                if p + n > end:
                    raise ValueError("system exclusive past the end of the track")
                p += n
                running = 0
            elif status >= 0xF1:
                raise ValueError("bad status")
            else:
                running = status
                p += 1 if status & 0xE0 == 0xC0 else 2
                if p > end:
                    raise ValueError("message past the end of the track")
    return b"".join(pieces)


def _syncsafe(b):
    if any(x & 0x80 for x in b):
        raise ValueError("not syncsafe")
    return b[0] << 21 | b[1] << 14 | b[2] << 7 | b[3]


def mp3(data):
    if len(data) < 10 or data[0:3] != b"ID3" or data[3] not in (3, 4) or data[5] & 0x80:
        raise ValueError("not an ID3v2.3/2.4 tag")
    version, flags = data[3], data[5]
    end = 10 + _syncsafe(data[6:10])
    audio = end + (10 if version == 4 and flags & 0x10 else 0)
    if (audio + 2 > len(data) or data[audio] != 0xFF or data[audio + 1] & 0xE0 != 0xE0
            or data[audio + 1] & 0x06 == 0):
        raise ValueError("no MPEG audio after the tag")
    p = 10
    if flags & 0x40:
        if version == 4:
            ext = _syncsafe(bytes(x & 0x7F for x in data[p:p + 4]))
        else:
            ext = 4 + struct.unpack_from(">I", data, p)[0]
        if ext > end - 10:
            raise ValueError("extended header past the tag")
        p += ext
    pieces = []
    while end - p >= 10:
        if data[p] == 0:
            break
        fid = data[p:p + 4]
        if not all(48 <= c <= 57 or 65 <= c <= 90 for c in fid):
            raise ValueError("bad frame id")
        size = _syncsafe(data[p + 4:p + 8]) if version == 4 else struct.unpack_from(">I", data, p + 4)[0]
        (fflags,) = struct.unpack_from(">H", data, p + 8)
        at = p + 10
        if size > end - at:
            raise ValueError("frame past the tag")
        p = at + size
        if fid != b"GEOB":
            continue
        if fflags & (0x004F if version == 4 else 0x00E0):
            raise ValueError("a transformed GEOB frame")
        head = data[at:at + min(size, 4096)]
        if not head or head[0] > 3:
            raise ValueError("bad text encoding")
        wide = head[0] in (1, 2)
        q = 1
        for text_wide in (False, wide, wide):
            step = 2 if text_wide else 1
            while True:
                if q + step > len(head):
                    raise ValueError("unterminated text in GEOB")
                if head[q:q + step] == b"\0" * step:
                    q += step
                    break
                q += step
        pieces.append(data[at + q:at + size])
    return b"".join(pieces)


BODIES = {"wav": wav, "avi": avi, "mid": mid, "mp3": mp3}
