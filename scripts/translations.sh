#!/usr/bin/env bash
# Brings the window's English catalogue (app/translations/tolvex_en.ts) up to date with the texts
# marked in app/, keeping the translations it has. With --check it changes nothing and fails
# when the catalogue is out of date, or when a text has no finished English translation, keeps
# Japanese, or differs from its source in lines or %1 markers.
set -euo pipefail
cd "$(dirname "$0")/.."
LUPDATE=${LUPDATE:-$(command -v lupdate || echo /usr/lib/qt6/bin/lupdate)}
catalogue=app/translations/tolvex_en.ts
update() {
    "$LUPDATE" -silent -locations none -no-obsolete -source-language ja -target-language en \
        app -ts "$1"
}
if [ "${1:-}" != "--check" ]; then
    update "$catalogue"
    exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$catalogue" "$work/tolvex_en.ts"
update "$work/tolvex_en.ts"
if ! cmp -s "$catalogue" "$work/tolvex_en.ts"; then
    diff -u "$catalogue" "$work/tolvex_en.ts" || true
    echo "the catalogue is out of date: run scripts/translations.sh and translate what it adds"
    exit 1
fi
python3 - "$catalogue" <<'PY'
import re, sys, xml.etree.ElementTree as ET

def text(element):
    # Carriage returns are stored as <byte value="xd"/> elements.
    parts = [element.text or ""]
    for child in element:
        parts.append(chr(int(child.get("value").removeprefix("x"), 16)) if child.tag == "byte" else "")
        parts.append(child.tail or "")
    return "".join(parts)

faults = []
messages = ET.parse(sys.argv[1]).getroot().iter("message")
count = 0
for message in messages:
    count += 1
    source = text(message.find("source"))
    translation = message.find("translation")
    english = text(translation)
    name = source.replace("\r", "\\r")
    if translation.get("type") in ("unfinished", "vanished", "obsolete") or not english:
        faults.append(f"no English for \"{name}\"")
    elif any(ord(c) >= 0x3000 for c in english):
        faults.append(f"Japanese left in the English of \"{name}\"")
    elif english.count("\r") != source.count("\r"):
        faults.append(f"other lines in the English of \"{name}\"")
    elif sorted(re.findall(r"%\d", english)) != sorted(re.findall(r"%\d", source)):
        faults.append(f"other %-markers in the English of \"{name}\"")
for fault in faults:
    print(fault)
if faults or count == 0:
    sys.exit(1)
print(f"{count} texts, each with its English")
PY
