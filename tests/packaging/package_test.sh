#!/bin/bash
# package_test.sh <build-dir>: builds the two Debian packages, checks their
# names and dependencies, unpacks them into a throwaway root and runs both
# programs from there.
set -eu
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --build "$build" --target package >/dev/null || fail "cpack failed"
provided=$(dpkg-query -W -f='${Provides}\n' | tr ',' '\n' | sed 's/(.*)//; s/ //g')
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
for name in tindrel tindrel-relay; do
    deb=$build/${name}_${version}_$(dpkg --print-architecture).deb
    [ -s "$deb" ] || fail "no package $deb"
    [ "$(dpkg-deb -f "$deb" Package)" = "$name" ] || fail "$deb is not named $name"
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "$depends" | grep -q 'libqt6core6' || fail "$name does not depend on Qt: $depends"
    # Every dependency (its first alternative) is a package this system has,
    # or one an installed package provides (an ABI marker, say).
    while read -r dep; do
        dpkg-query -W -f='${Status}\n' "$dep" 2>/dev/null | grep -q 'ok installed' ||
            grep -qw -- "$dep" <<<"$provided" ||
            fail "$name depends on $dep, which is not installed here"
    done < <(echo "$depends" | tr ',' '\n' | sed 's/|.*//; s/(.*)//; s/ //g' | grep -v '^$')
    dpkg-deb -x "$deb" "$root"
    echo "$name: $(stat -c %s "$deb") bytes"
done

env -u DISPLAY "$root/usr/bin/tindrel" --version | grep -q "^Tindrel $version$" ||
    fail "tindrel --version"
"$root/usr/bin/tindrel-relay" --help >/dev/null || fail "tindrel-relay --help"
