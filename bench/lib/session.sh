# Sourced by the process-level benchmarks: a headless desktop of their own,
# private XDG folders, a tindrel process on it, and its CPU time.
#   session_up <work-dir>        starts the desktop, exports DISPLAY and XDG_*
#   start_tindrel <binary>       starts it, sets tindrel_pid, waits until it runs
#   cpu_ns <pid>                 CPU time of all its threads so far, in ns
#   summary <label> <file>       "label: median X ms, worst Y ms (n=N)" of a column of ms
session_pids=()

session_up() {
    work=$1
    export TINDREL_XDESKTOP_STATE="$work/desktop"
    local line
    line=$(env -u DISPLAY "$repo/scripts/x-desktop.sh" up) || return 1
    export "${line?}"
    export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_STATE_HOME="$work/state"
    export XDG_RUNTIME_DIR="$work/run"
    mkdir -p -m 700 "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME/Tindrel" "$XDG_DATA_HOME/Tindrel"
    trap session_down EXIT
}

session_down() {
    set +e
    local pid
    for pid in "${session_pids[@]}"; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    "$repo/scripts/x-desktop.sh" down "$DISPLAY" >/dev/null 2>&1
    rm -rf "$work"
}

start_tindrel() {
    "$1" >"$work/tindrel.log" 2>&1 &
    tindrel_pid=$!
    session_pids+=("$tindrel_pid")
    sleep 3 # start-up is not what these scripts time
    kill -0 "$tindrel_pid" || { cat "$work/tindrel.log" >&2; return 1; }
}

cpu_ns() {
    cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%d\n", s }'
}

summary() {
    sort -n "$2" | awk -v label="$1" '{ v[NR] = $1 } END {
        if (NR == 0) { printf "%s: no figures\n", label; exit }
        printf "%s: median %.1f ms, worst %.1f ms (n=%d)\n", label, v[int((NR + 1) / 2)], v[NR], NR }'
}
