#!/usr/bin/env python3
"""A reader of tolvex strong files (versions 1 and 2), written from docs/strong-format.md alone.

It shares no code with tolvex-cli, so that a file both read the same way shows that the page
describes what the program does.

Usage:
  strong_reader.py [--passphrase-file FILE] (--output PATH | --output-base BASE)
                   [--check-header TOLVEX_DAT] STRONG_FILE

The passphrase comes from --passphrase-file (one line; "-" for standard input) or from the
environment variable TOLVEX_PASSPHRASE, never from the command line, where others could see it.
--output writes the content to PATH; --output-base names it BASE plus the recorded extension.
The recorded name goes to standard output, one line, and a second line tells the version, the
disguise kind and the key derivation's preset ("2 png moderate"). --check-header also requires
a version 1 file's disguise header to be the kind's segment of Tolvex.dat (what a writer must
produce; a reader alone does not ask it). Exit status: 0 done, 1 refused, 2 usage.

Version 2's containers are read by the modules containers_*.py beside this one, each written
from the page's section on its kinds.
"""

import importlib
import os
import struct
import sys

try:
    import nacl.bindings as sodium
    import nacl.exceptions
except ImportError:  # the test script looks for PyNaCl first; say so plainly otherwise
    sys.stderr.write("strong_reader: PyNaCl (python3-nacl) is not installed\n")
    sys.exit(2)

MARKER = bytes([0xE2, 0x54, 0x56, 0x58, 0x53, 0x0D, 0x0A, 0x1A])
PREAMBLE = 67
META_PLAIN = 266
ABYTES = 17
CHUNK = 65536
SEALED_CHUNK = CHUNK + ABYTES
MAX_PASSPHRASE = 4096
MAX_NAME = 255
NAME_MAX = 255  # what the usual Linux file systems take for one component
HEADER_MASK = 0xD3

RIFF = 0x46464952
AVI_RIFF_SIZE = 9960

# kind: (name, extension, magic word, header length H, segment offset in Tolvex.dat)
KINDS = {
    0: ("none", ".tvx", None, 0, None),
    1: ("bmp", ".bmp", 0x03064D42, 774, 0),
    2: ("cab", ".cab", 0x4643534D, 3819, 774),
    3: ("jpg", ".jpg", 0xE0FFD8FF, 918, 4593),
    4: ("lzh", ".lzh", 0x6C2D004F, 3814, 5511),
    5: ("mid", ".mid", 0x6468544D, 87, 9325),
    6: ("png", ".png", 0x474E5089, 283, 9412),
    7: ("wav", ".wav", RIFF, 344, 9695),
    8: ("gca", ".gca", 0x30414347, 3725, 10039),
    9: ("ico", ".ico", 0x00010000, 2238, 13764),
    10: ("tgz", ".tgz", 0x00088B1F, 3829, 16002),
    11: ("tbz", ".tbz", 0x39685A42, 4118, 19831),
    12: ("mp3", ".mp3", 0xC452F3FF, 1452, 23949),
    13: ("cur", ".cur", 0x00020000, 766, 25401),
    14: ("avi", ".avi", RIFF, 10240, 26167),
    15: ("zip", ".zip", 0x04034B50, 3946, 36407),
}

ASCII_WHITE = b" \t\n\x0b\x0c\r"


class Refused(Exception):
    """Why the file is not read; the text is what the user sees."""


DAMAGED = "wrong passphrase or damaged file"
NOT_OPENED = "not a Tolvex file, or the passphrase is wrong"
DAMAGED_V2 = "damaged file"

BODY_OPENING = 16 + 24 + META_PLAIN + ABYTES  # salt, stream header, sealed metadata
# The presets in the order a reader tries them: (name, opslimit, memlimit).
PRESETS = [
    ("interactive", 2, 64 << 20),
    ("moderate", 3, 256 << 20),
    ("sensitive", 4, 1 << 30),
]


def container_readers():
    """kind name -> function(file bytes) -> body area bytes, from the containers_*.py modules."""
    readers = {}
    here = os.path.dirname(os.path.abspath(__file__))
    sys.path.insert(0, here)
    for module in sorted(n[:-3] for n in os.listdir(here) if n.startswith("containers_") and n.endswith(".py")):
        readers.update(importlib.import_module(module).BODIES)
    return readers


def kind_of(leading):
    """(kind, H) from the first bytes, or None when no header length can be found."""
    if len(leading) < 4:
        return None
    (magic,) = struct.unpack_from("<I", leading, 0)
    if magic == RIFF:
        if len(leading) < 8:
            return None
        (riff_size,) = struct.unpack_from("<I", leading, 4)
        return (14, 10240) if riff_size == AVI_RIFF_SIZE else (7, 344)
    for kind, (_, _, word, length, _) in KINDS.items():
        if word is not None and word != RIFF and word == magic:
            return kind, length
    return 0, 0


def cut(text):
    return text.strip(ASCII_WHITE)


def checked_passphrase(text, where):
    text = cut(text)
    if not text:
        raise Refused("the passphrase %s is empty" % where)
    if len(text) > MAX_PASSPHRASE:
        raise Refused("the passphrase %s is longer than %d bytes" % (where, MAX_PASSPHRASE))
    return text


def passphrase_from_file(path):
    where = "standard input" if path == "-" else path
    if path == "-":
        data = sys.stdin.buffer.read(MAX_PASSPHRASE + 1)
    else:
        with open(path, "rb") as f:
            data = f.read(MAX_PASSPHRASE + 1)
    if len(data) > MAX_PASSPHRASE:
        raise Refused("the key file %s is larger than %d bytes" % (where, MAX_PASSPHRASE))
    if data.endswith(b"\r\n"):
        data = data[:-2]
    elif data.endswith(b"\n"):
        data = data[:-1]
    text = cut(data)
    # An LF left inside means a second non-empty line: refused, never cut to the first.
    if b"\n" in text:
        raise Refused("the key file %s holds more than one line" % where)
    return checked_passphrase(text, "in " + where)


def passphrase_from_environment():
    value = os.environb.get(b"TOLVEX_PASSPHRASE")
    if value is None:
        raise Refused("no passphrase: give --passphrase-file FILE or set TOLVEX_PASSPHRASE")
    return checked_passphrase(value, "in TOLVEX_PASSPHRASE")


def read_exactly(f, n):
    """Up to n bytes: fewer only at the end of the file."""
    parts = []
    while n > 0:
        piece = f.read(n)
        if not piece:
            break
        parts.append(piece)
        n -= len(piece)
    return b"".join(parts)


def name_follows_rule(name):
    if not 1 <= len(name) <= MAX_NAME or name in (b".", b".."):
        return False
    return all(b >= 0x20 and b != 0x7F and b != 0x2F for b in name)


def extension_of(name):
    dot = name.rfind(b".")
    return b"" if dot < 0 else name[dot + 1 :]


def output_name(base, name):
    """The output's path for an output base and a recorded name."""
    extension = extension_of(name)
    last = os.path.basename(base)
    # A dot-file's base is its whole name already: nothing is added.
    if not extension or last == name:
        return base
    return base + b"." + extension


def check_header(template_path, kind, header):
    _, _, _, length, first = KINDS[kind]
    if length == 0:
        return
    with open(template_path, "rb") as t:
        t.seek(first)
        segment = read_exactly(t, length)
    if len(segment) != length or bytes(b ^ HEADER_MASK for b in segment) != header:
        raise Refused(
            "the disguise header is not the %s segment of %s" % (KINDS[kind][0], template_path)
        )


def pull(state, sealed, ad=None):
    try:
        return sodium.crypto_secretstream_xchacha20poly1305_pull(state, sealed, ad)
    except (nacl.exceptions.CryptoError, ValueError):
        raise Refused(DAMAGED)


def version1_preamble(data):
    """(kind, H) when the file starts with a disguise header and version 1's marker and guard."""
    found = kind_of(data[:8])
    if found is None:
        return None
    kind, h = found
    p = data[h : h + PREAMBLE]
    if len(p) < PREAMBLE or p[:8] != MARKER or p[14] != 0xFF:
        return None
    return found


def decrypt(f, passphrase, out_path_for, template=None):
    """Reads the strong file `f`; out_path_for(name) gives where the content goes. Returns the
    recorded name, the path written and (version, kind name, preset name)."""
    data = f.read()
    if version1_preamble(data) is None:
        return decrypt_version2(data, passphrase, out_path_for)
    f.seek(0)
    return decrypt_version1(f, passphrase, out_path_for, template)


def open_metadata(meta, out_path_for, damaged):
    """The size, name and target of an authentic metadata chunk, checked in the page's order."""
    (size,) = struct.unpack_from("<Q", meta, 0)
    (n,) = struct.unpack_from("<H", meta, 8)
    if not 1 <= n <= MAX_NAME:
        raise Refused(damaged)
    name = meta[10 : 10 + n]
    if not name_follows_rule(name):
        raise Refused(damaged)
    if any(meta[10 + n :]):
        raise Refused(damaged)
    target = out_path_for(name)
    if len(os.path.basename(target)) > NAME_MAX:
        raise Refused("name too long")
    return size, name, target


def write_staged(target, chunks):
    """Writes what `chunks` yields beside the target, named only once all of it verified."""
    folder = os.path.dirname(target) or b"."
    staged = os.path.join(folder, b".strong_reader-%d.part" % os.getpid())
    try:
        with open(staged, "xb") as out:
            for plain in chunks:
                out.write(plain)
        os.replace(staged, target)
    finally:
        if os.path.exists(staged):
            os.unlink(staged)


def find_body(data):
    """(kind name, body area) of a version 2 file: the first container whose layout it has and
    that gives the opening of a body; else kind 0, the whole file."""
    readers = container_readers()
    for kind in sorted(KINDS):
        name = KINDS[kind][0]
        if kind == 0 or name not in readers:
            continue
        try:
            body = readers[name](data)
        except ValueError:
            continue
        if len(body) >= BODY_OPENING:
            return name, body
        break
    return "none", data


def decrypt_version2(data, passphrase, out_path_for):
    kind, body = find_body(data)
    if len(body) < BODY_OPENING:
        raise Refused(NOT_OPENED)
    salt, header = body[:16], body[16:40]
    sealed_meta = body[40:BODY_OPENING]
    for preset, ops, mem in PRESETS:
        try:
            key = sodium.crypto_pwhash_alg(
                32, passphrase, salt, ops, mem, sodium.crypto_pwhash_ALG_ARGON2ID13
            )
        except (nacl.exceptions.CryptoError, MemoryError):
            continue
        state = sodium.crypto_secretstream_xchacha20poly1305_state()
        sodium.crypto_secretstream_xchacha20poly1305_init_pull(state, header, key)
        try:
            meta, tag = sodium.crypto_secretstream_xchacha20poly1305_pull(state, sealed_meta, None)
        except (nacl.exceptions.CryptoError, ValueError):
            continue
        break
    else:
        raise Refused(NOT_OPENED)
    if tag != sodium.crypto_secretstream_xchacha20poly1305_TAG_MESSAGE or len(meta) != META_PLAIN:
        raise Refused(DAMAGED_V2)
    size, name, target = open_metadata(meta, out_path_for, DAMAGED_V2)

    def chunks():
        at, left = BODY_OPENING, size
        while True:
            length = min(CHUNK, left)
            final = length < CHUNK
            sealed = body[at : at + length + ABYTES]
            if len(sealed) != length + ABYTES:
                raise Refused(DAMAGED_V2)
            try:
                plain, tag = sodium.crypto_secretstream_xchacha20poly1305_pull(state, sealed, None)
            except (nacl.exceptions.CryptoError, ValueError):
                raise Refused(DAMAGED_V2)
            want = (
                sodium.crypto_secretstream_xchacha20poly1305_TAG_FINAL
                if final
                else sodium.crypto_secretstream_xchacha20poly1305_TAG_MESSAGE
            )
            if tag != want or len(plain) != length:
                raise Refused(DAMAGED_V2)
            yield plain
            at += length + ABYTES
            left -= length
            if final:
                break
        if kind == "none" and at != len(body):
            raise Refused(DAMAGED_V2)  # kind 0 is its body: nothing follows the final chunk

    write_staged(target, chunks())
    return name, target, (2, kind, preset)


def decrypt_version1(f, passphrase, out_path_for, template=None):
    leading = read_exactly(f, 8)
    kind, h = kind_of(leading)
    prefix = leading + read_exactly(f, h + PREAMBLE - len(leading))
    p = prefix[h:]
    if p[8] != 1:
        raise Refused("unsupported: a strong file of version %d" % p[8])
    if p[9] != kind or p[10] != 2 or p[11] != 16 or p[12] != 0 or p[13] != 0:
        raise Refused(DAMAGED)
    (ops,) = struct.unpack_from("<I", p, 15)
    (mem,) = struct.unpack_from("<Q", p, 19)
    if not (1 <= ops <= 16 and 8192 <= mem <= 1 << 30 and mem % 1024 == 0):
        raise Refused(
            "key-derivation parameters beyond what the program accepts "
            "(%d passes, %d bytes)" % (ops, mem)
        )
    if template is not None:
        check_header(template, kind, prefix[:h])
    salt, header = p[27:43], p[43:67]
    try:
        key = sodium.crypto_pwhash_alg(
            32, passphrase, salt, ops, mem, sodium.crypto_pwhash_ALG_ARGON2ID13
        )
    except (nacl.exceptions.CryptoError, MemoryError):
        raise Refused("not enough memory for the key derivation")
    state = sodium.crypto_secretstream_xchacha20poly1305_state()
    sodium.crypto_secretstream_xchacha20poly1305_init_pull(state, header, key)

    sealed = read_exactly(f, META_PLAIN + ABYTES)
    if len(sealed) != META_PLAIN + ABYTES:
        raise Refused(DAMAGED)
    meta, tag = pull(state, sealed, prefix)
    if tag != sodium.crypto_secretstream_xchacha20poly1305_TAG_MESSAGE or len(meta) != META_PLAIN:
        raise Refused(DAMAGED)
    (size,) = struct.unpack_from("<Q", meta, 0)
    (n,) = struct.unpack_from("<H", meta, 8)
    if not 1 <= n <= MAX_NAME:
        raise Refused(DAMAGED)
    name = meta[10 : 10 + n]
    if not name_follows_rule(name):
        raise Refused(DAMAGED)
    if any(meta[10 + n :]):
        raise Refused(DAMAGED)
    target = out_path_for(name)
    if len(os.path.basename(target)) > NAME_MAX:
        raise Refused("name too long")

    # Staged beside the target and named only once the final chunk verified.
    folder = os.path.dirname(target) or b"."
    staged = os.path.join(folder, b".strong_reader-%d.part" % os.getpid())
    done = 0
    try:
        with open(staged, "xb") as out:
            while True:
                sealed = read_exactly(f, SEALED_CHUNK)
                whole = len(sealed) == SEALED_CHUNK
                if len(sealed) < ABYTES:
                    raise Refused(DAMAGED)
                plain, tag = pull(state, sealed)
                want = (
                    sodium.crypto_secretstream_xchacha20poly1305_TAG_MESSAGE
                    if whole
                    else sodium.crypto_secretstream_xchacha20poly1305_TAG_FINAL
                )
                if tag != want:
                    raise Refused(DAMAGED)
                done += len(plain)
                if done > size:
                    raise Refused(DAMAGED)
                out.write(plain)
                if not whole:
                    break
        if done != size:
            raise Refused(DAMAGED)
        os.replace(staged, target)
    finally:
        if os.path.exists(staged):
            os.unlink(staged)
    presets = {(o, m): n for n, o, m in PRESETS}
    return name, target, (1, KINDS[kind][0], presets.get((ops, mem), "%d/%d" % (ops, mem)))


def main(argv):
    args = list(argv[1:])
    options = {}
    positional = []
    while args:
        a = args.pop(0)
        if a in ("--passphrase-file", "--output", "--output-base", "--check-header"):
            if not args:
                return usage("%s needs a value" % a)
            options[a] = args.pop(0)
        elif a.startswith("--"):
            return usage("unknown option %s" % a)
        else:
            positional.append(a)
    if len(positional) != 1 or ("--output" in options) == ("--output-base" in options):
        return usage("give one strong file and one of --output or --output-base")
    try:
        if "--passphrase-file" in options:
            passphrase = passphrase_from_file(options["--passphrase-file"])
        else:
            passphrase = passphrase_from_environment()
        if "--output" in options:
            fixed = os.fsencode(options["--output"])
            out_path_for = lambda name: fixed
        else:
            base = os.fsencode(options["--output-base"])
            out_path_for = lambda name: output_name(base, name)
        with open(positional[0], "rb") as f:
            name, _, (version, kind, preset) = decrypt(
                f, passphrase, out_path_for, options.get("--check-header")
            )
    except Refused as e:
        sys.stderr.write("strong_reader: %s: %s\n" % (positional[0], e))
        return 1
    except OSError as e:
        sys.stderr.write("strong_reader: %s\n" % e)
        return 1
    sys.stdout.buffer.write(name + b"\n")
    sys.stdout.write("%d %s %s\n" % (version, kind, preset))
    return 0


def usage(message):
    synopsis = __doc__.split("Usage:")[1].split("\n\n")[0]
    sys.stderr.write("strong_reader: %s\nUsage:%s\n" % (message, synopsis))
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
