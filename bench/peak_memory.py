#!/usr/bin/env python3
"""Peak memory of a command and of each process it starts.
    peak_memory.py CMD [ARG]...
Runs CMD and looks at /proc every 10 ms; prints on standard error the wall
time, the high-water mark (VmHWM) of the process and of each descendant (such
as the 7zz a ZIP or 7z job starts), and the largest sum of resident sizes of
them all seen at one time: the whole job's peak. /usr/bin/time -v reports only
the largest single process of the tree."""
import os, subprocess, sys, time
def status(pid):
    d = {}
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                k, _, v = line.partition(":")
                d[k] = v.strip()
    except OSError:
        return None
    return d
def children(pid):
    out = []
    try:
        for t in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{t}/children") as f:
                out += [int(x) for x in f.read().split()]
    except OSError:
        pass
    return out
start = time.time()
p = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL)
hwm = {}
names = {}
maxsum = 0
while p.poll() is None:
    todo = [p.pid]; total = 0
    while todo:
        pid = todo.pop()
        s = status(pid)
        if s:
            names[pid] = s.get("Name")
            h = int(s.get("VmHWM", "0 kB").split()[0]); hwm[pid] = max(hwm.get(pid, 0), h)
            total += int(s.get("VmRSS", "0 kB").split()[0])
        todo += children(pid)
    maxsum = max(maxsum, total)
    time.sleep(0.01)
wall = time.time() - start
print(f"rc={p.returncode} wall={wall:.2f}s", file=sys.stderr)
for pid, h in hwm.items():
    print(f"  {names[pid]} pid {pid}: VmHWM {h/1024:.0f} MB", file=sys.stderr)
print(f"  max sum RSS {maxsum/1024:.0f} MB", file=sys.stderr)
