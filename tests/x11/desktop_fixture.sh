#!/bin/bash
# Starts or stops the headless desktop the x11 tests share. The display is
# written to a file the tests read; the caller's DISPLAY is never used.
#   desktop_fixture.sh up|down <display-file> <state-dir>
set -u
here=$(cd "$(dirname "$0")" && pwd)
desktop="$here/../../scripts/x-desktop.sh"
action=$1 file=$2 state=$3
unset DISPLAY
export TINDREL_XDESKTOP_STATE=$state
mkdir -p "$state"

stop() {
    [ -s "$file" ] && "$desktop" down "$(cat "$file")" >/dev/null 2>&1
    rm -f "$file"
}

case $action in
up)
    stop # a desktop left behind by an interrupted run
    line=$("$desktop" up) || { echo "headless desktop did not start" >&2; exit 1; }
    echo "${line#DISPLAY=}" >"$file"
    echo "headless desktop on ${line#DISPLAY=}"
    ;;
down)
    stop
    ;;
*)
    echo "usage: $0 up|down <display-file> <state-dir>" >&2
    exit 2
    ;;
esac
