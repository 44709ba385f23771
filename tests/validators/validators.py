#!/usr/bin/env python3
"""Each disguise kind's validators: the checks its format's own tools make, and a real file of
the kind made by other tools, on which they must all find nothing.

validators.py check KIND FILE...   runs KIND's validators on each file; exit 1 when one complains
validators.py calibrate            makes a real file of every kind with other tools and checks it

A validator whose tool is missing is skipped with a line naming its Debian package; a kind no
validator on Debian knows (gca) says so. Calibration keeps the table honest: a validator that
complains about real files of its kind (as ffprobe does about an MP3's estimated duration) is
no judge of ours.
"""
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

# Debian's own interpreter: python3-mido is installed for it, whatever python3 is first on PATH.
DEBIAN_PYTHON = "/usr/bin/python3"


class Validator:
    def __init__(self, name, package, argv, complaint=None, unknown=None):
        self.name = name
        self.package = package
        self.argv = argv            # the command, with {} for the file
        self.complaint = complaint  # a pattern in its output that is a complaint despite exit 0
        self.unknown = unknown      # a pattern saying the tool does not know the kind at all

    def tool(self):
        return self.argv[0]

    def run(self, path):
        """None when it found nothing, else what it said."""
        argv = [path if a == "{}" else a for a in self.argv]
        proc = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              stdin=subprocess.DEVNULL, timeout=120)
        said = proc.stdout.decode("utf-8", "replace")
        if self.unknown and re.search(self.unknown, said):
            return f"does not know the file's type:\n{said}"
        if proc.returncode != 0 or (self.complaint and re.search(self.complaint, said)):
            return f"exit {proc.returncode}:\n{said}"
        return None


def identify():
    return Validator("identify", "imagemagick", ["identify", "-regard-warnings", "{}"])


def exiftool():
    return Validator("exiftool", "libimage-exiftool-perl",
                     ["exiftool", "-validate", "-error", "-warning", "-a", "{}"],
                     complaint=r"(?m)^(Warning|Error)\s*:", unknown=r"(Unknown|Unsupported) file type")


def sevenzip():
    return Validator("7z", "7zip", ["7zz", "t", "{}"], complaint=r"(?i)warning")


def ffprobe():
    # Without -v warning's silence on success, anything printed is a complaint.
    return Validator("ffprobe", "ffmpeg", ["ffprobe", "-v", "warning", "-hide_banner", "{}"],
                     complaint=r"\S")


MIDO = ("import sys, mido\n"
        "m = mido.MidiFile(sys.argv[1], clip=False)\n"
        "m.length\n")

VALIDATORS = {
    "bmp": [identify(), exiftool()],
    "cab": [Validator("cabextract", "cabextract", ["cabextract", "-t", "{}"],
                      complaint=r"(?i)(warning|error)[;:]"), sevenzip()],
    "jpg": [Validator("jpeginfo", "jpeginfo", ["jpeginfo", "-c", "{}"],
                      complaint=r"(?i)(warning|error|\[ERROR\])"), identify(), exiftool()],
    "lzh": [Validator("lha", "lhasa", ["lha", "t", "{}"], complaint=r"(?i)(error|fail)"),
            sevenzip()],
    # exiftool 12.57 knows neither MIDI nor bzip2: it says so rather than judge them.
    "mid": [Validator("mido", "python3-mido", [DEBIAN_PYTHON, "-c", MIDO, "{}"])],
    "png": [Validator("pngcheck", "pngcheck", ["pngcheck", "{}"], complaint=r"(?m)^(?!OK:).+"),
            identify(), exiftool()],
    "wav": [ffprobe(), Validator("sox", "sox", ["sox", "{}", "-n", "stat"],
                                 complaint=r"(?i)\bsox (WARN|FAIL)"), exiftool()],
    "gca": [],
    "ico": [identify(), exiftool()],
    # gzip and bzip2 say nothing when a file is sound, and exit 0 on trailing garbage.
    "tgz": [Validator("gzip", "gzip", ["gzip", "-t", "{}"], complaint=r"\S"),
            Validator("tar", "tar", ["tar", "-tzf", "{}"], complaint=r"(?i)tar: "), sevenzip(),
            exiftool()],
    "tbz": [Validator("bzip2", "bzip2", ["bzip2", "-t", "{}"], complaint=r"\S"),
            Validator("tar", "tar", ["tar", "-tjf", "{}"], complaint=r"(?i)tar: "), sevenzip()],
    "mp3": [Validator("mp3val", "mp3val", ["mp3val", "{}"], complaint=r"(?m)^(WARNING|ERROR)"),
            exiftool()],
    "cur": [identify(), exiftool()],
    "avi": [ffprobe(), exiftool()],
    "zip": [Validator("zip", "zip", ["zip", "-T", "{}"]),
            Validator("unzip", "unzip", ["unzip", "-tq", "{}"]), sevenzip(), exiftool()],
}


def check(kind, path):
    """Lines for a person, and whether any validator complained."""
    lines, failed = [], False
    if not VALIDATORS[kind]:
        return [f"{kind}: no validator on Debian knows this kind"], False
    for v in VALIDATORS[kind]:
        if shutil.which(v.tool()) is None or (v.package == "python3-mido" and subprocess.run(
                [DEBIAN_PYTHON, "-c", "import mido"], stderr=subprocess.DEVNULL).returncode != 0):
            lines.append(f"{kind} {v.name}: skipped, install the package {v.package}")
            continue
        said = v.run(path)
        if said is None:
            lines.append(f"{kind} {v.name}: ok")
        else:
            failed = True
            lines.append(f"{kind} {v.name}: FAILED on {path}: {said}")
    return lines, failed


def run(*argv, cwd=None):
    subprocess.run(argv, check=True, cwd=cwd, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def reference(kind, folder, rng):
    """A real file of the kind, made by the tools people make such files with; None for gca."""
    out = os.path.join(folder, "reference." + kind)
    w, h = rng.randrange(40, 120), rng.randrange(30, 90)
    if kind in ("bmp", "jpg", "png"):
        # Without -strip ImageMagick adds time stamps after the pixels, which exiftool notes.
        run("convert", "-size", f"{w}x{h}", "plasma:", "-strip", out)
    elif kind in ("ico", "cur"):
        run("convert", "-size", "32x32", "plasma:", "-strip", "ico:" + out)
        if kind == "cur":
            # ImageMagick writes icons only: the same file with the cursor's type and a hot spot.
            with open(out, "r+b") as f:
                f.seek(2)
                f.write(b"\x02\x00")
                f.seek(6 + 4)
                f.write(b"\x10\x00\x10\x00")
    elif kind == "wav":
        run("sox", "-n", "-r", "44100", "-c", "2", out, "synth", "1", "sine", str(rng.randrange(200, 900)))
    elif kind == "mp3":
        run("ffmpeg", "-loglevel", "error", "-f", "lavfi", "-i", "sine=duration=1", "-c:a",
            "libmp3lame", out)
    elif kind == "avi":
        run("ffmpeg", "-loglevel", "error", "-f", "lavfi", "-i",
            f"testsrc=duration=1:size={w}x{h}:rate=10", "-c:v", "mjpeg", out)
    elif kind == "mid":
        run(DEBIAN_PYTHON, "-c",
            "import sys, mido\n"
            "m = mido.MidiFile(); t = mido.MidiTrack(); m.tracks.append(t)\n"
            "for n in range(8):\n"
            "    t.append(mido.Message('note_on', note=60 + n, velocity=64, time=0))\n"
            "    t.append(mido.Message('note_off', note=60 + n, velocity=64, time=240))\n"
            "m.save(sys.argv[1])\n", out)
    elif kind == "gca":
        return None
    else:
        members = os.path.join(folder, "members")
        os.makedirs(members, exist_ok=True)
        with open(os.path.join(members, "data.bin"), "wb") as f:
            f.write(rng.randbytes(rng.randrange(1000, 9000)))
        with open(os.path.join(members, "notes.txt"), "w") as f:
            f.write("notes\n")
        names = ["data.bin", "notes.txt"]
        if kind == "tgz":
            run("tar", "-czf", out, *names, cwd=members)
        elif kind == "tbz":
            run("tar", "-cjf", out, *names, cwd=members)
        elif kind == "zip":
            run("zip", "-q", out, *names, cwd=members)
        elif kind == "cab":
            run("gcab", "-c", out, *names, cwd=members)
        elif kind == "lzh":
            run("jlha", "a", out, *names, cwd=members)
    return out


MAKERS = {"bmp": "convert", "jpg": "convert", "png": "convert", "ico": "convert",
          "cur": "convert", "wav": "sox", "mp3": "ffmpeg", "avi": "ffmpeg", "mid": DEBIAN_PYTHON,
          "tgz": "tar", "tbz": "bzip2", "zip": "zip", "cab": "gcab", "lzh": "jlha"}


# Kinds whose validators notice bytes after the end of a file, as every one of them is told to.
NOTICE_TRAILING_DATA = {"bmp", "cab", "lzh", "png", "tgz", "tbz", "mp3", "zip"}


def calibrate():
    """Every validator passes a real file of its kind, and the kinds above fail with bytes after
    their end: the table neither complains about sound files nor misses the trailing data."""
    failed = False
    rng = random.Random(30)
    with tempfile.TemporaryDirectory() as folder:
        for kind in VALIDATORS:
            maker = MAKERS.get(kind)
            if maker and shutil.which(maker) is None:
                print(f"{kind}: skipped, no {maker} to make a real file with")
                continue
            try:
                path = reference(kind, folder, rng)
            except subprocess.CalledProcessError as e:
                print(f"{kind}: skipped, making a real file failed ({e.cmd[0]})")
                continue
            if path is None:
                print(f"{kind}: no tool on Debian makes or checks this kind")
                continue
            lines, bad = check(kind, path)
            print("\n".join(lines))
            failed = failed or bad
            if kind in NOTICE_TRAILING_DATA:
                with open(path, "ab") as f:
                    f.write(rng.randbytes(4096))
                lines, noticed = check(kind, path)
                ran = [line for line in lines if "skipped" not in line]
                if ran and not noticed:
                    print(f"{kind}: NOT NOTICED: 4096 bytes after the end passed every validator")
                    failed = True
                elif ran:
                    print(f"{kind}: bytes after the end noticed")
    return 1 if failed else 0


def main(argv):
    if len(argv) >= 3 and argv[0] == "check" and argv[1] in VALIDATORS:
        failed = False
        for path in argv[2:]:
            lines, bad = check(argv[1], path)
            print("\n".join(lines))
            failed = failed or bad
        return 1 if failed else 0
    if argv == ["calibrate"]:
        return calibrate()
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
