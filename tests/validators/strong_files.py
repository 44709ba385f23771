#!/usr/bin/env python3
"""Strong files that tolvex-cli writes, judged as real files of their kinds.

strong_files.py validate TOLVEX_CLI [KIND...]      every kind (or those named), several sizes: every validator of the kind
                                          (validators.py's table) finds nothing
strong_files.py fingerprints TOLVEX_CLI [KIND...]  twenty files of each kind from the same content and
                                          passphrase share no 8-byte run that a real file of the
                                          kind made by other tools does not also contain; files
                                          without a disguise share no run at all, and their bytes
                                          pass a chi-square test

A validator whose tool is missing is skipped with a line naming its package, as in validators.py.
"""
import collections
import math
import os
import random
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import validators  # noqa: E402

KINDS = ["none", "bmp", "cab", "jpg", "lzh", "mid", "png", "wav", "gca", "ico", "tgz", "tbz",
         "mp3", "cur", "avi", "zip"]
EXTENSIONS = {"none": "tvx"}
PASSPHRASE = "validators passphrase"


def encrypt(cli, kind, sources, folder):
    """Encrypts the sources as strong files of the kind into folder; their paths."""
    env = dict(os.environ, TOLVEX_PASSPHRASE=PASSPHRASE)
    subprocess.run([cli, "encrypt", "--strong", "--kdf", "interactive", "-d", kind, "-q",
                    "--jobs", "2", "--output-dir", folder, *sources],
                   check=True, env=env, stdin=subprocess.DEVNULL)
    extension = EXTENSIONS.get(kind, kind)
    return [os.path.join(folder, os.path.splitext(os.path.basename(s))[0] + "." + extension)
            for s in sources]


def validate(cli, kinds):
    failed = False
    rng = random.Random(31)
    with tempfile.TemporaryDirectory() as work:
        sources = []
        # An empty file (the smallest body), 200 KiB, and 1 MiB and a little.
        for size in (0, 200 * 1024, (1 << 20) + 12345):
            path = os.path.join(work, f"content-{size}.bin")
            with open(path, "wb") as f:
                f.write(rng.randbytes(size))
            sources.append(path)
        for kind in kinds:
            if kind == "none":
                continue
            out = os.path.join(work, kind)
            os.mkdir(out)
            for path in encrypt(cli, kind, sources, out):
                lines, bad = validators.check(kind, path)
                print("\n".join(f"{line} ({os.path.getsize(path)} bytes)" for line in lines))
                failed = failed or bad
    return 1 if failed else 0


def runs(data):
    return {data[i:i + 8] for i in range(len(data) - 7)}


def chi_square_passes(data):
    """Whether the byte counts fit a uniform distribution (255 degrees of freedom, p > 0.001)."""
    counts = collections.Counter(data)
    expected = len(data) / 256
    chi2 = sum((counts.get(b, 0) - expected) ** 2 / expected for b in range(256))
    # The 0.999 quantile of chi-square with 255 degrees of freedom (Wilson-Hilferty).
    k = 255
    z = 3.090
    limit = k * (1 - 2 / (9 * k) + z * math.sqrt(2 / (9 * k))) ** 3
    print(f"none: chi-square {chi2:.1f} (limit {limit:.1f}) over {len(data)} bytes")
    return chi2 < limit


def similar(kind, folder, rng, member):
    """Real files of the kind made by the tools our containers follow, holding random data of
    `member` bytes where the kind holds a member, so that what such files share by their format
    (fields, chunk names, the sizes of equal data) counts as shared by real files too."""
    os.makedirs(folder, exist_ok=True)
    data = os.path.join(folder, "member.bin")
    with open(data, "wb") as f:
        f.write(rng.randbytes(member))
    made = []

    def make(name, *argv, cwd=None):
        out = os.path.join(folder, name)
        subprocess.run([a.replace("{}", out) for a in argv], check=True, cwd=cwd,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        made.append(out)

    ffmpeg = ["ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i"]
    if kind == "wav":
        make("sox.wav", "sox", "-n", "-r", "44100", "-c", "2", "{}", "synth", "0.2", "whitenoise")
        make("ffmpeg.wav", *ffmpeg, "anoisesrc=d=0.2", "-c:a", "pcm_s16le", "{}")
    elif kind == "avi":
        # As many frames as the member fills, as the containers' videos have.
        frames = max(1, -(-member // (160 * 120 * 3)))
        make("ffmpeg.avi", *ffmpeg, "testsrc=size=160x120:rate=10", "-frames:v", str(frames),
             "-c:v", "rawvideo", "-pix_fmt", "bgr24", "{}")
    elif kind == "mp3":
        make("ffmpeg.mp3", *ffmpeg, "sine=duration=1", "-c:a", "libmp3lame", "{}")
        # LAME's own tag, as the lame program writes it.
        make("sine.wav", "sox", "-n", "-r", "44100", "-c", "2", "{}", "synth", "1", "sine", "440")
        make("lame.mp3", "lame", "--quiet", "-b", "128", os.path.join(folder, "sine.wav"), "{}")
    elif kind == "jpg":
        # libjpeg's standard Huffman tables, and tables made for the picture (ImageMagick's way).
        made.append(validators.reference(kind, folder, rng))
        make("standard.jpg", "convert", "-size", "320x240", "plasma:", "-strip", "-define",
             "jpeg:optimize-coding=false", "{}")
    elif kind in ("ico", "cur"):
        # Vista's large icons: a 256-pixel PNG of 8-bit RGBA in the directory.
        make("large.ico", "convert", "-size", "256x256", "plasma:", "-alpha", "set", "-channel",
             "A", "+noise", "Random", "+channel", "-depth", "8", "-strip",
             "-define", "png:color-type=6", "ICO:{}")
        # The same stored, as an icon of incompressible pixels comes out.
        make("stored.ico", "convert", "-size", "256x256", "plasma:", "-alpha", "set", "-channel",
             "A", "+noise", "Random", "+channel", "-depth", "8", "-strip",
             "-define", "png:color-type=6", "-define", "png:compression-level=0", "ICO:{}")
        made.append(validators.reference(kind, folder, rng))
        if kind == "cur":  # ImageMagick writes icons only: the cursor's type
            for path in made[:2]:
                with open(path, "r+b") as f:
                    f.seek(2)
                    f.write(b"\x02\x00")
    elif kind == "mid":
        make("mido.mid", validators.DEBIAN_PYTHON, "-c",
             "import sys, mido\n"
             "m = mido.MidiFile(type=1)\n"
             "for k in range(3):\n"
             "    t = mido.MidiTrack(); m.tracks.append(t)\n"
             "    t.append(mido.MetaMessage('track_name', name='Track %d' % k))\n"
             "    for n in range(8):\n"
             "        t.append(mido.Message('note_on', note=60 + n, velocity=64, time=0))\n"
             "        t.append(mido.Message('note_off', note=60 + n, velocity=64, time=240))\n"
             "m.save(sys.argv[1])\n", "{}")
    elif kind == "tgz":
        make("tar.tgz", "tar", "-czf", "{}", "member.bin", cwd=folder)
    elif kind == "tbz":
        make("tar.tbz", "tar", "-cjf", "{}", "member.bin", cwd=folder)
    elif kind == "zip":
        make("zip.zip", "zip", "-q", "-0", "{}", "member.bin", cwd=folder)
        make("zip-x.zip", "zip", "-q", "-0", "-X", "{}", "member.bin", cwd=folder)
    elif kind == "cab":
        make("gcab.cab", "gcab", "-c", "{}", "member.bin", cwd=folder)
    elif kind == "lzh":
        make("jlha.lzh", "jlha", "a", "{}", "member.bin", cwd=folder)
    elif kind == "gca":
        # No tool makes or reads GCA: what may be shared is the layout's fixed fields alone,
        # its signatures and the values every GCA archive of one stored member holds.
        out = os.path.join(folder, "fixed-fields.gca")
        with open(out, "wb") as f:
            f.write(b"GCA0\x00\x01\x01\x00\x10\x00\x00\x00" + b"GCAF\x00\x00\x00\x00" + b"GCAE")
        made.append(out)
    else:
        made.append(validators.reference(kind, folder, rng))
    return made


def fingerprints(cli, kinds):
    failed = False
    rng = random.Random(32)
    with tempfile.TemporaryDirectory() as work:
        content = rng.randbytes(3000)
        body = 323 + len(content) + 17  # what the content's body holds (docs/strong-format.md)
        sources = []
        for i in range(20):
            folder = os.path.join(work, "in", str(i))
            os.makedirs(folder)
            path = os.path.join(folder, "same.txt")
            with open(path, "wb") as f:
                f.write(content)
            sources.append(path)
        for kind in kinds:
            files = []
            for i, source in enumerate(sources):
                out = os.path.join(work, kind, str(i))
                os.makedirs(out)
                files += encrypt(cli, kind, [source], out)
            datas = [open(p, "rb").read() for p in files]
            shared = runs(datas[0])
            for data in datas[1:]:
                shared &= runs(data)
            if kind == "none":
                if shared:
                    print(f"none: FAILED: {len(shared)} runs of 8 bytes common to twenty files")
                    failed = True
                if not chi_square_passes(b"".join(datas)):
                    print("none: FAILED: the bytes are not uniform")
                    failed = True
                continue
            try:
                real = similar(kind, os.path.join(work, "real", kind), rng, body)
            except (subprocess.CalledProcessError, FileNotFoundError) as e:
                print(f"{kind}: skipped, no tool to make a real file to compare with ({e})")
                continue
            for path in real:
                shared -= runs(open(path, "rb").read())
            if shared:
                sample = ", ".join(sorted(r.hex(" ") for r in shared)[:5])
                print(f"{kind}: FAILED: {len(shared)} runs of 8 bytes common to twenty files and "
                      f"in no real file, such as {sample}")
                failed = True
            else:
                print(f"{kind}: ok (what twenty files share, real ones made by "
                      f"{len(real)} other tool runs share too)")
    return 1 if failed else 0


def main(argv):
    kinds = [k for k in argv[2:] if k in KINDS] or KINDS
    if len(argv) >= 2 and argv[0] == "validate":
        return validate(argv[1], kinds)
    if len(argv) >= 2 and argv[0] == "fingerprints":
        return fingerprints(argv[1], kinds)
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
