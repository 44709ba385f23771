#!/bin/bash
# Makes the golden LHA archives of this folder with jlha (Debian jlha-utils), an archiver
# independent of ours, and the expected listing beside each. Run once; the tests only read what
# is checked in. Needs jlha, python3 and the ja_JP.UTF-8 locale (jlha stores Shift_JIS names
# only under a Japanese locale; elsewhere it stores '?' for every Japanese character).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TZ=UTC # levels 0 and 1 keep MS-DOS local times

# Every byte of the content is derived from fixed seeds: the archives differ only by jlha's own
# choices (and the order in which it reads folders).
python3 - "$work" <<'EOF'
import hashlib, os, sys

def stream(seed, n):
    out = b""
    i = 0
    while len(out) < n:
        out += hashlib.sha256(b"%s-%d" % (seed, i)).digest()
        i += 1
    return out[:n]

def words(seed, n):
    vocab = b"alpha beta gamma delta kappa sigma omega lambda".split()
    raw = stream(seed, n)
    return b" ".join(vocab[b % len(vocab)] for b in raw)[:n] + b"\n"

main = os.path.join(sys.argv[1], "main")
for d in ["docs/notes/deep", "日本語"]:
    os.makedirs(os.path.join(main, d))
def put(path, data, root=main):
    with open(os.path.join(root, path), "wb") as f:
        f.write(data)
put("empty.txt", b"")
put("text.txt", b"".join(b"line %04d: the quick brown fox jumps over the lazy dog\n" % i
                          for i in range(36)))
# A passage repeated beyond lh5's 8 KiB window, inside lh6's and lh7's: only those can match it.
passage = words(b"passage", 300)
filler = b"".join(b"%05d filler line\n" % i for i in range(500))
put("docs/long.txt", passage + filler + passage)
put("docs/notes/random.bin", stream(b"random", 1024))
put("日本語/メモ.txt", "日本語のメモです。\n".encode() * 16)

# Names whose Shift_JIS form has 0x5C ('\') as a second byte: ソ is 83 5C, 表 is 95 5C.
sjis = os.path.join(sys.argv[1], "sjis5c")
os.makedirs(os.path.join(sjis, "ソフト"))
put("ソフト/表.txt", b"hyo\n", sjis)
EOF
find "$work" -exec touch -h -d '2024-01-02 03:04:05' {} +

# The listing of a tree as the archive names it: one line per member, sorted by path,
# "dir - - PATH/" or "file SIZE CRC32 PATH". Bytes outside printable ASCII, and '\', are written
# as \xHH. `encoding` is how jlha stored the names.
listing() { # tree encoding
    python3 - "$1" "$2" <<'EOF'
import os, sys, zlib
root, encoding = sys.argv[1], sys.argv[2]
def escape(b):
    return "".join(chr(c) if 0x20 <= c < 0x7F and c != 0x5C else "\\x%02x" % c for c in b)
lines = []
for dirpath, dirnames, filenames in os.walk(root):
    for name in dirnames + filenames:
        full = os.path.join(dirpath, name)
        rel = escape(os.path.relpath(full, root).encode(encoding))
        if os.path.isdir(full):
            lines.append("dir - - %s/" % rel)
        else:
            data = open(full, "rb").read()
            lines.append("file %d %08x %s" % (len(data), zlib.crc32(data), rel))
print("# kind size crc32 path (made by make.sh; bytes outside printable ASCII as \\xHH)")
print("\n".join(sorted(lines, key=lambda l: l.split(" ", 3)[3])))
EOF
}

# pack NAME TREE SWITCHES [ENV...]: jlha's switches follow the command letter in one word:
# a digit is the header level, oN the method (-lhN-), z stores.
pack() {
    local name=$1 tree=$2 switches=$3 encoding=shift_jis
    shift 3
    rm -f "$here/$name.lzh"
    (cd "$work/$tree" && env LC_ALL=ja_JP.UTF-8 "$@" jlha "$switches" "$here/$name.lzh" \
        $(ls -A | LC_ALL=C sort) >/dev/null)
    [[ "$*" == *lha.encoding=UTF-8* ]] && encoding=utf-8
    listing "$work/$tree" "$encoding" >"$here/$name.txt"
}

for level in 0 1 2; do
    pack "z-h$level" main "a${level}z"
    for method in 5 6 7; do
        pack "o$method-h$level" main "a${level}o$method"
    done
    pack "sjis5c-z-h$level" sjis5c "a${level}z"
done
# The same tree with UTF-8 names, as jlha writes them when told so.
pack utf8-o5-h2 main a2o5 JAVA_TOOL_OPTIONS=-Dlha.encoding=UTF-8
