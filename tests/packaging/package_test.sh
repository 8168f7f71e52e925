#!/bin/bash
# package_test.sh <build-dir>: builds the two Debian packages, checks their
# names and dependencies, has lintian review them as a distribution would,
# unpacks them into a throwaway root and runs both programs from there.
set -eu
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --build "$build" --target package >/dev/null || fail "cpack failed"
provided=$(dpkg-query -W -f='${Provides}\n' | tr ',' '\n' | sed 's/(.*)//; s/ //g')
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
debs=()
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
    # The changelog's newest entry is the version being packaged.
    changelog=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO "./usr/share/doc/$name/changelog.gz" |
        gzip -dc | head -n 1)
    [[ $changelog == "tindrel ($version) "* ]] ||
        fail "$name's changelog starts with \"$changelog\", not version $version"
    dpkg-deb -x "$deb" "$root"
    echo "$name: $(stat -c %s "$deb") bytes"
    debs+=("$deb")
done

# What a distribution's review flags at lintian's default level, errors and
# warnings alike, fails the packages.
lintian --version >/dev/null || fail "lintian is not installed (scripts/bootstrap test)"
findings=$(lintian --fail-on error,warning "${debs[@]}" 2>&1) ||
    fail "lintian: $findings"

# The relay's maintainer scripts are in its package, executable.
for script in postinst prerm postrm; do
    dpkg-deb --ctrl-tarfile "$build/tindrel-relay_${version}_$(dpkg --print-architecture).deb" |
        tar -tv "./$script" 2>/dev/null | grep -q '^-rwxr-xr-x' ||
        fail "the relay package has no executable $script"
done

env -u DISPLAY "$root/usr/bin/tindrel" --version | grep -q "^Tindrel $version$" ||
    fail "tindrel --version"
"$root/usr/bin/tindrel-relay" --help >/dev/null || fail "tindrel-relay --help"
