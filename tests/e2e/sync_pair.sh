# Two tindrel processes paired through their settings, each on a headless
# desktop of its own with its own folders, and a tindrel-relay between them.
# Sourced by the e2e test and the sync benchmarks; needs $repo, $bin, $work
# (and takes $poll_interval, 0.1 s unless set).
#
#   relay_up                 starts tindrel-relay on a free loopback port
#   device_up NAME PEER...   starts tindrel NAME paired with each PEER (none:
#                            paired with nobody); the device's DISPLAY,
#                            folder and PID are in dev_NAME_*
#   tindrel_on NAME ARGS...  runs the `tindrel` command line against NAME,
#                            over the session bus of its own it runs on
#   copy_on NAME TEXT        copies TEXT on NAME's desktop (xclip) and waits
#                            until NAME has recorded it; in_store and
#                            listed_as below check a store and a device list
#   fail MESSAGE             says what failed, shows the ends of the logs
#                            and of the scripts' own *.out files, exits 1
#   pair_down                stops everything started here
#
#   relaunch NAME            starts NAME's tindrel again on its own desktop,
#                            folders and bus (after a kill -9, say)
#
# extra_settings holds more "key=value" lines for every settings file;
# peer_speaks replaces what each paired-device record says its device
# speaks (by default what a pairing between two of this version stores;
# empty: nothing, as a pairing made by an older version left it);
# relay_enabled=false leaves the relay out of the settings, relay_host names
# where it listens when not on loopback; a script may
# redefine launch_device NAME CMD... to start a device elsewhere (it must
# exec, so that the PID kept is the device's own).

pids=()
desktops=()

fail() {
    echo "FAIL: $*" >&2
    local f
    for f in "$work"/*/state/Tindrel/sync.log "$work"/*/tindrel.log "$work"/*.out \
        "$work/relay.log" "${TDL_SANDBOX_DIR:-/nonexistent}"/*/avahi.log; do
        [ -f "$f" ] && { echo "--- $f" >&2; tail -n 30 "$f" >&2; }
    done
    exit 1
}

new_id() { python3 -c 'import uuid; print(str(uuid.uuid4()).upper())'; }
new_key() { python3 -c 'import base64, os; print(base64.b64encode(os.urandom(32)).decode())'; }

# until_ok SECONDS COMMAND...: retries every 20 ms
until_ok() {
    local end=$(( $(date +%s%N) / 1000000 + $1 * 1000 )); shift
    until "$@" >/dev/null 2>&1; do
        (( $(date +%s%N) / 1000000 > end )) && return 1
        sleep 0.02
    done
}

relay_up() {
    "$bin/tindrel-relay" --listen 127.0.0.1 --port 0 2>"$work/relay.log" &
    pids+=($!)
    until_ok 10 grep -q 'listening on 127.0.0.1:' "$work/relay.log" || return 1
    relay_port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/relay.log" | head -1)
}

# Identities first, so that each settings file can name the other device.
identity() {
    eval "id_$1=$(new_id)"
    eval "key_$1=$(new_key)"
}

device_up() {
    local name=$1 home="$work/$1" peers="" peer
    local id key peer_id peer_key line
    eval "id=\$id_$name key=\$key_$name"
    shift
    for peer in "$@"; do
        eval "peer_id=\$id_$peer peer_key=\$key_$peer"
        peers+="${peers:+,}{\"id\":\"$peer_id\",\"name\":\"$peer\",\"keyBase64\":\"$peer_key\",\"platform\":\"linux\"${peer_speaks-,\"protocol\":4,\"capabilities\":[\"catch-up\",\"replay-guard\"]}}"
    done
    peers="[$peers]"
    mkdir -p -m 700 "$home/config/Tindrel" "$home/data/Tindrel" "$home/state" "$home/run"
    # The stored forms of identity and paired devices; the JSON goes in one
    # quoted INI string so that its commas do not make it a list.
    {
        echo '[General]'
        echo "pollInterval=${poll_interval:-0.1}"
        echo 'syncEnabled=true'
        if [ "${relay_enabled:-true}" = true ]; then
            echo 'relayEnabled=true'
            echo "relayURL=ws://${relay_host:-127.0.0.1}:$relay_port"
        else
            echo 'relayEnabled=false'
        fi
        echo "syncDeviceId=$id"
        echo "syncDeviceName=$name"
        echo "syncDeviceKey=$key"
        echo "syncPeers=\"${peers//\"/\\\"}\""
        [ -z "${extra_settings:-}" ] || printf '%s\n' "$extra_settings"
    } >"$home/config/Tindrel/Tindrel.conf"
    chmod 600 "$home/config/Tindrel/Tindrel.conf"
    # A busy machine sometimes keeps the window manager from coming up in time.
    line=$(TINDREL_XDESKTOP_STATE="$home/desktop" env -u DISPLAY "$repo/scripts/x-desktop.sh" up) ||
        line=$(TINDREL_XDESKTOP_STATE="$home/desktop" env -u DISPLAY "$repo/scripts/x-desktop.sh" up) ||
        return 1
    local display=${line#DISPLAY=}
    desktops+=("$home/desktop|$display")
    eval "dev_${name}_display=$display dev_${name}_home=\"$home\""
    # A session bus of the device's own, for its command line; a socket
    # file, so that it reaches into a network namespace too.
    dbus-daemon --config-file="$repo/tests/support/private-bus.conf" --nofork --nopidfile \
        --address="unix:path=$home/run/bus" \
        >"$home/bus.log" 2>&1 </dev/null &
    pids+=($!)
    until_ok 10 test -S "$home/run/bus" || return 1
    relaunch "$name"
}

relaunch() {
    local name=$1 home display
    eval "home=\$dev_${name}_home display=\$dev_${name}_display"
    DISPLAY=$display XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" \
        XDG_STATE_HOME="$home/state" XDG_RUNTIME_DIR="$home/run" \
        launch_device "$name" env DBUS_SESSION_BUS_ADDRESS="unix:path=$home/run/bus" \
        "$bin/tindrel" >>"$home/tindrel.log" 2>&1 &
    pids+=($!)
    eval "dev_${name}_pid=$!"
}

tindrel_on() {
    local name=$1
    shift
    DBUS_SESSION_BUS_ADDRESS="unix:path=$work/$name/run/bus" "$bin/tindrel" "$@"
}

# on_bus NAME: NAME's tindrel answers its command line
on_bus() {
    tindrel_on "$1" devices
}

# No system bus: these devices meet through the relay only, and never
# publish on the host's own network through an avahi-daemon there.
launch_device() {
    shift
    DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/tindrel-e2e exec "$@"
}

store_of() { echo "$work/$1/data/Tindrel/store.json"; }
# in_store NAME pinned|history TEXT
in_store() {
    python3 - "$(store_of "$1")" "$2" "$3" <<'PY'
import json, sys
try:
    store = json.load(open(sys.argv[1]))
except (OSError, ValueError):
    sys.exit(1)  # not written yet, or being replaced
sys.exit(0 if any(c["text"] == sys.argv[3] for c in store[sys.argv[2]]) else 1)
PY
}
# listed_as NAME PEERNAME STATE: NAME's command line lists PEERNAME so
# ("connected", "connected through the relay", "paused", "not connected")
listed_as() {
    tindrel_on "$1" devices | grep -q -P "\t$2\t$3$"
}
# copy_on NAME TEXT: a copy on NAME's desktop, once NAME has recorded it
copy_on() {
    local display
    eval "display=\$dev_${1}_display"
    printf '%s' "$2" | DISPLAY=$display xclip -quiet -selection clipboard >/dev/null 2>&1 &
    pids+=($!)
    until_ok 10 in_store "$1" history "$2" || fail "$1 did not record a copy"
}

# relay_linked NAME PEERNAME: NAME's relay link to PEERNAME is up
relay_linked() {
    grep -q "relay connected for $2" "$work/$1/state/Tindrel/sync.log"
}

clipboard_of() {
    DISPLAY=$1 timeout 2 xclip -o -selection clipboard 2>/dev/null
}

# clipboard_is DISPLAY TEXT
clipboard_is() {
    [ "$(clipboard_of "$1")" = "$2" ]
}

pair_down() {
    set +e
    local pid desktop
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
    for desktop in "${desktops[@]}"; do
        TINDREL_XDESKTOP_STATE="${desktop%|*}" "$repo/scripts/x-desktop.sh" down "${desktop#*|}" \
            >/dev/null 2>&1
    done
}
