#!/bin/bash
# relay_maintainer_scripts_test.sh <script-dir>: runs the relay package's
# postinst, prerm and postrm as dpkg would for an install, an upgrade, an
# upgrade after the administrator disabled the unit, a removal and a purge,
# with the system's tools replaced by stubs that record their calls, and
# checks what each one asked of adduser and systemd's Debian helpers.
set -eu
scripts=$(cd "$1" && pwd)
fail() { echo "FAIL: $*" >&2; exit 1; }

# The scripts start units only where systemd runs, which they tell by
# /run/systemd/system: give them one of their own in a mount namespace.
if [ -z "${IN_NAMESPACE:-}" ]; then
    exec env IN_NAMESPACE=1 unshare --mount "$0" "$@"
fi
mount -t tmpfs tmpfs /run

stubs=$(mktemp -d)
trap 'rm -rf "$stubs"' EXIT
log=$stubs/calls
for tool in adduser deb-systemd-helper deb-systemd-invoke systemctl; do
    printf '#!/bin/sh\necho "%s $*" >>"%s"\n' "$tool" "$log" >"$stubs/$tool"
done
# was-enabled answers as the case says; getent knows the user once it exists.
cat >>"$stubs/deb-systemd-helper" <<'STUB'
[ "$1 $2" != "--quiet was-enabled" ] || [ "$WAS_ENABLED" = yes ]
STUB
printf '#!/bin/sh\n[ "$USER_EXISTS" = yes ]\n' >"$stubs/getent"
chmod +x "$stubs"/*

# run <script> <args...>: the calls it made, one a line.
run() {
    : >"$log"
    PATH=$stubs:$PATH "$scripts/$1" "${@:2}" || fail "$* exited with $?"
    cat "$log"
}
expect() { # <what> <calls> <pattern>: the calls hold a line matching it
    grep -qE -- "$3" <<<"$2" || fail "$1: no call matching '$3' in:"$'\n'"$2"
}
refuse() {
    ! grep -qE -- "$3" <<<"$2" || fail "$1: unwanted call matching '$3' in:"$'\n'"$2"
}

# Without systemd running (a chroot, an image build): enabled, not started.
calls=$(USER_EXISTS=no WAS_ENABLED=yes run postinst configure)
expect "install without systemd" "$calls" '^adduser --system --group .*tindrel-relay$'
expect "install without systemd" "$calls" '^deb-systemd-helper enable tindrel-relay.service$'
refuse "install without systemd" "$calls" '^(deb-systemd-invoke|systemctl) '

mkdir -p /run/systemd/system
calls=$(USER_EXISTS=no WAS_ENABLED=yes run postinst configure)
expect "first install" "$calls" '^adduser --system --group .*--no-create-home.* tindrel-relay$'
expect "first install" "$calls" '^deb-systemd-helper enable tindrel-relay.service$'
expect "first install" "$calls" '^deb-systemd-invoke start tindrel-relay.service$'

calls=$(USER_EXISTS=yes WAS_ENABLED=yes run postinst configure 0.1.0)
refuse "upgrade" "$calls" '^adduser'
expect "upgrade" "$calls" '^deb-systemd-helper enable tindrel-relay.service$'
expect "upgrade" "$calls" '^deb-systemd-invoke restart tindrel-relay.service$'

# The administrator's "systemctl disable" outlives an upgrade.
calls=$(USER_EXISTS=yes WAS_ENABLED=no run postinst configure 0.1.0)
refuse "upgrade when disabled" "$calls" '^deb-systemd-helper enable'
expect "upgrade when disabled" "$calls" '^deb-systemd-helper update-state tindrel-relay.service$'

calls=$(run prerm remove)
expect "remove" "$calls" '^deb-systemd-invoke stop tindrel-relay.service$'
calls=$(run prerm upgrade 0.1.1)
refuse "upgrade's prerm" "$calls" 'stop'
calls=$(run postrm remove)
expect "remove" "$calls" '^deb-systemd-helper mask tindrel-relay.service$'
calls=$(run postrm purge)
expect "purge" "$calls" '^deb-systemd-helper purge tindrel-relay.service$'
expect "purge" "$calls" '^deb-systemd-helper unmask tindrel-relay.service$'
echo "maintainer scripts checked"
