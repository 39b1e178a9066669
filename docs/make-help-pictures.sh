#!/usr/bin/env bash
# Makes the help's pictures of the dialogs from the real dialogs, so that they
# stay true when a dialog changes: runs the dialog tests of the Windows build
# under Xvfb and wine (scripts/test-win.sh; they take a screenshot of each
# window), then copies the shots the help shows into docs/help/pictures and
# records in pictures.txt the template each one was made from, its size and
# a fingerprint of the template's text. The help's picture test compares
# these with the current templates.
#
#   bash docs/make-help-pictures.sh            run the dialog tests, then copy
#   bash docs/make-help-pictures.sh SHOTDIR    copy from the screenshots of a
#                                              run made before (same tree)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

if [ $# -ge 1 ]; then
  shots="$1"
else
  . scripts/winenv.sh
  # Pictures come only from a run whose dialog tests all passed.
  bash scripts/test-win.sh -R '^ui_dialog_tests(_[0-9]+)?$'
  shots="$LUMORA_WIN_BUILD/screenshots"
fi

python3 - "$shots" docs/help/pictures src/ui/win32/dialogs.rc <<'PY'
import os, re, shutil, struct, sys

shots, out, rc = sys.argv[1:4]
# picture of the help -> the dialog template it shows
pictures = [
    ("main.png", "IDD_LUMORA"),
    ("settings.png", "IDD_SETTINGS"),
    ("feed_search.png", "IDD_FEED"),
    ("feed_collection.png", "IDD_FEED"),
    ("local_cache.png", "IDD_CACHE"),
]

def fingerprint(text):
    # FNV-1a, 64 bits, over the template's lines joined with LF: the help
    # test computes the same over the current resource script.
    h = 0xcbf29ce484222325
    for b in text.encode("latin-1"):
        h ^= b
        h = (h * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
    return "%016x" % h

def template(name):
    lines = open(rc, "rb").read().decode("latin-1").replace("\r\n", "\n").split("\n")
    for i, line in enumerate(lines):
        if re.match(r"^%s\s+DIALOGEX\b" % name, line):
            block = []
            for l in lines[i:]:
                block.append(l)
                if l.strip() == "END":
                    return "\n".join(block) + "\n"
    sys.exit("make-help-pictures: no template %s in %s" % (name, rc))

os.makedirs(out, exist_ok=True)
record = ["# picture template WIDTHxHEIGHT fingerprint-of-the-template (written by docs/make-help-pictures.sh)"]
for png, name in pictures:
    src = os.path.join(shots, png)
    data = open(src, "rb").read(24) if os.path.exists(src) else b""
    if len(data) < 24 or data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit("make-help-pictures: %s is missing or not a PNG" % src)
    width, height = struct.unpack(">II", data[16:24])
    shutil.copyfile(src, os.path.join(out, png))
    record.append("%s %s %dx%d %s" % (png, name, width, height, fingerprint(template(name))))
    print("%s: %s, %dx%d" % (png, name, width, height))
with open(os.path.join(out, "pictures.txt"), "w", newline="\n") as f:
    f.write("\n".join(record) + "\n")
PY
