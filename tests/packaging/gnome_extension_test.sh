#!/bin/bash
# gnome_extension_test.sh <extension-dir>: packs our GNOME Shell extension as
# extensions.gnome.org and `gnome-extensions install` take it, and checks
# what the Shell reads before it loads one: the metadata names the folder's
# uuid and the Shell versions the code is written for. Exits 77 (skipped)
# where GNOME's tool is missing.
set -eu
dir=$(realpath "$1")
command -v gnome-extensions >/dev/null || { echo "gnome-extensions is not installed"; exit 77; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# The tool warns rather than fails on a broken metadata.json: any word on
# stderr counts.
gnome-extensions pack --force --out-dir "$out" "$dir" 2>"$out/stderr" || fail "pack failed"
[ ! -s "$out/stderr" ] || fail "pack complained: $(cat "$out/stderr")"
zip=$out/tindrel@tindrel.io.shell-extension.zip
[ -s "$zip" ] || fail "pack wrote no $(basename "$zip")"

/usr/bin/python3 - "$dir" "$zip" <<'PY' || fail "the extension"
import json, os, sys, zipfile
folder, archive = sys.argv[1:]
names = sorted(zipfile.ZipFile(archive).namelist())
assert names == ["extension.js", "metadata.json"], f"the archive holds {names}"
meta = json.load(open(os.path.join(folder, "metadata.json")))
assert meta["uuid"] == os.path.basename(folder), "uuid is not the folder's name"
assert meta["shell-version"] == ["43", "44"], "shell-version is not 43 and 44"
for key in ("name", "description"):
    assert isinstance(meta.get(key), str) and meta[key], f"no {key}"
PY
# The legacy entry point the Shell 43 and 44 call.
grep -q '^function init()' "$dir/extension.js" || fail "extension.js has no init()"
echo "packed $(basename "$zip")"
