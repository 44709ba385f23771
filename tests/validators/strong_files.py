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


def fingerprints(cli, kinds):
    failed = False
    rng = random.Random(32)
    with tempfile.TemporaryDirectory() as work:
        content = rng.randbytes(3000)
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
            maker = validators.MAKERS.get(kind)
            if kind == "gca":
                # No other tool makes this kind: nothing may be shared at all.
                reference = b""
            elif shutil.which(maker) is None:
                print(f"{kind}: skipped, no {maker} to make a real file to compare with")
                continue
            else:
                reference = open(validators.reference(kind, os.path.join(work, kind), rng),
                                 "rb").read()
            ours = shared - runs(reference)
            if ours:
                sample = ", ".join(sorted(r.hex(" ") for r in ours)[:5])
                print(f"{kind}: FAILED: {len(ours)} runs of 8 bytes common to twenty files and "
                      f"in no real file, such as {sample}")
                failed = True
            else:
                print(f"{kind}: ok ({len(shared)} runs shared, each in a real file too)")
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
