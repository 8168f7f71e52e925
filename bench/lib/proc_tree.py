#!/usr/bin/env python3
# CPU time and wake-ups of a process with every process under it, between two
# snapshots, read from /proc alone (no tracer that would wake it itself).
#   proc_tree.py snapshot PID >FILE   what the tree has used so far
#   proc_tree.py between FILE0 FILE1  prints "CPU_NS WAKEUPS" in between
#
# CPU: each live thread's run time in ns (/proc/PID/task/TID/schedstat), and
# for the children a process has reaped, the ticks /proc/PID/stat adds up in
# cutime and cstime (a program that hands work to short-lived children spends
# it there). A child reaped in between brought its whole life into its
# parent's cutime: what it had used by the first snapshot is taken off.
# Wake-ups: voluntary and involuntary context switches of each live thread
# (/proc/PID/task/TID/status). A thread or child that ended in between took
# its switches with it: those are not counted.
import json, os, sys

HZ = os.sysconf("SC_CLK_TCK")
TICK_NS = 1_000_000_000 // HZ


def stat_fields(pid):
    with open(f"/proc/{pid}/stat") as f:
        # The name in field 2 may hold spaces and parentheses.
        return f.read().rsplit(")", 1)[1].split()


def tree(root):
    children = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                children.setdefault(int(stat_fields(entry)[1]), []).append(int(entry))
            except (OSError, IndexError):
                pass  # gone meanwhile
    found, todo = [], [root]
    while todo:
        pid = todo.pop()
        found.append(pid)
        todo += children.get(pid, [])
    return found


def snapshot(root):
    processes = {}
    for pid in tree(root):
        try:
            fields = stat_fields(pid)
            # utime stime cutime cstime: fields 14 to 17, here 11 to 14.
            ticks = [int(v) for v in fields[11:15]]
            tasks = {}
            for tid in os.listdir(f"/proc/{pid}/task"):
                try:
                    with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                        run_ns = int(f.read().split()[0])
                    switches = 0
                    with open(f"/proc/{pid}/task/{tid}/status") as f:
                        for line in f:
                            if line.startswith(("voluntary_ctxt", "nonvoluntary_ctxt")):
                                switches += int(line.split()[1])
                    tasks[tid] = [run_ns, switches]
                except OSError:
                    pass  # the thread ended meanwhile
            processes[str(pid)] = {"ppid": int(fields[1]), "ticks": ticks, "tasks": tasks}
        except (OSError, IndexError):
            pass
    return processes


def between(before, after):
    cpu_ns = wakeups = 0
    for pid, now in after.items():
        then = before.get(pid, {"ticks": [0, 0, 0, 0], "tasks": {}})
        for tid, (run_ns, switches) in now["tasks"].items():
            old_run, old_switches = then["tasks"].get(tid, [0, 0])
            cpu_ns += run_ns - old_run
            wakeups += switches - old_switches
        cpu_ns += (sum(now["ticks"][2:]) - sum(then["ticks"][2:])) * TICK_NS
    for pid, then in before.items():
        if pid not in after:
            cpu_ns -= sum(then["ticks"]) * TICK_NS
    return cpu_ns, wakeups


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "snapshot":
        json.dump(snapshot(int(sys.argv[2])), sys.stdout)
    elif len(sys.argv) == 4 and sys.argv[1] == "between":
        with open(sys.argv[2]) as f0, open(sys.argv[3]) as f1:
            print(*between(json.load(f0), json.load(f1)))
    else:
        sys.exit("usage: proc_tree.py snapshot PID | between FILE0 FILE1")
