#!/bin/bash
# install_test.sh <build-dir>: installs into a temporary root with prefix
# /usr, validates what a desktop reads, and runs both programs from there.
set -eu
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
usr=$root/usr
for f in bin/tindrel bin/tindrel-relay \
    share/applications/io.tindrel.Tindrel.desktop \
    share/metainfo/io.tindrel.Tindrel.metainfo.xml \
    share/dbus-1/services/io.tindrel.Tindrel.service \
    share/dbus-1/interfaces/io.tindrel.Tindrel.xml \
    share/icons/hicolor/scalable/apps/io.tindrel.Tindrel.svg \
    share/icons/hicolor/symbolic/apps/io.tindrel.Tindrel-symbolic.svg \
    share/gnome-shell/extensions/tindrel@tindrel.io/metadata.json \
    share/gnome-shell/extensions/tindrel@tindrel.io/extension.js \
    lib/systemd/system/tindrel-relay.service \
    share/man/man1/tindrel.1.gz share/man/man1/tindrel-relay.1.gz \
    share/doc/tindrel/copyright share/doc/tindrel/changelog.gz \
    share/doc/tindrel-relay/copyright share/doc/tindrel-relay/changelog.gz \
    share/bash-completion/completions/tindrel share/zsh/vendor-completions/_tindrel \
    share/fish/vendor_completions.d/tindrel.fish; do
    [ -s "$usr/$f" ] || fail "$f was not installed"
done

desktop-file-validate "$usr/share/applications/io.tindrel.Tindrel.desktop" ||
    fail "the desktop entry does not validate"
appstreamcli validate --no-net "$usr/share/metainfo/io.tindrel.Tindrel.metainfo.xml" ||
    fail "the metainfo does not validate"

# Activation and the unit name the installed programs, not the build tree.
grep -qx 'Exec=/usr/bin/tindrel' "$usr/share/dbus-1/services/io.tindrel.Tindrel.service" ||
    fail "the bus service file does not start /usr/bin/tindrel"
grep -q '^ExecStart=/usr/bin/tindrel-relay' "$usr/lib/systemd/system/tindrel-relay.service" ||
    fail "the relay unit does not start /usr/bin/tindrel-relay"

# relay/README.md shows the unit as installed: every setting of its
# [Service] section, the program's path included.
source=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$build/CMakeCache.txt")
unit=$usr/lib/systemd/system/tindrel-relay.service
sed -n '/^\[Service\]/,/^\[/p' "$unit" | grep -E '^[A-Za-z]+=' | while read -r setting; do
    grep -qxF -- "$setting" "$source/relay/README.md" ||
        fail "relay/README.md does not show the installed unit's $setting"
done

# man reads both pages without a complaint, and each documents its options.
for page in tindrel tindrel-relay; do
    text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$usr/share/man/man1/$page.1.gz" 2>&1) ||
        fail "man cannot read $page.1.gz"
    grep -q 'warning:' <<<"$text" && fail "man warns about $page.1.gz: $text"
    grep -q -- '--version' <<<"$text" || fail "$page.1.gz has no options"
done

# The Shell loads an extension only from a folder named by its uuid.
grep -q '"uuid": "tindrel@tindrel.io"' \
    "$usr/share/gnome-shell/extensions/tindrel@tindrel.io/metadata.json" ||
    fail "the Shell extension's folder is not named by its uuid"

for size in 16 22 24 32 48 64 128 256 512; do
    png=$usr/share/icons/hicolor/${size}x${size}/apps/io.tindrel.Tindrel.png
    # PNG signature, then the IHDR width and height as 4-byte big-endian numbers.
    header=$(od -An -tx1 -N24 "$png" 2>/dev/null | tr -d ' \n')
    [ "${header:0:16}" = 89504e470d0a1a0a ] || fail "$png is not a PNG"
    [ $((16#${header:32:8})) = "$size" ] && [ $((16#${header:40:8})) = "$size" ] ||
        fail "$png is not ${size}x${size}"
done

# Both programs run from where they were installed, with no display.
env -u DISPLAY "$usr/bin/tindrel" --version | grep -q '^Tindrel ' || fail "tindrel --version"
"$usr/bin/tindrel-relay" --help >/dev/null || fail "tindrel-relay --help"
echo "installed and checked under $root"
