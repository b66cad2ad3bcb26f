#!/usr/bin/env python3
"""Runs a command and prints its wall time, the processor time of it and everything it
started (user + system), and the peak of the resident memory of all its processes
together, sampled every 5 ms from /proc: several peer processes at once (xargs -P) count
as one run, where /usr/bin/time gives only the largest single process's peak. The sampled
peak of a single process is within a few MiB of its own (getrusage) peak, which is
printed too.

    tree_peak.py <command> [arguments...]
"""
import os
import resource
import subprocess
import sys
import time


def descendants(root):
    children = {}
    for entry in os.listdir('/proc'):
        if not entry.isdigit():
            continue
        try:
            with open(f'/proc/{entry}/stat') as f:
                fields = f.read().rsplit(')', 1)[1].split()
            children.setdefault(int(fields[1]), []).append(int(entry))
        except OSError:
            pass
    found, todo = [], [root]
    while todo:
        pid = todo.pop()
        found.append(pid)
        todo.extend(children.get(pid, []))
    return found


def resident_kib(pid):
    try:
        with open(f'/proc/{pid}/status') as f:
            for line in f:
                if line.startswith('VmRSS:'):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def main():
    start = time.monotonic()
    child = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    peak = 0
    while child.poll() is None:
        peak = max(peak, sum(resident_kib(p) for p in descendants(child.pid)))
        time.sleep(0.005)
    wall = time.monotonic() - start
    ru = resource.getrusage(resource.RUSAGE_CHILDREN)
    print(f'{wall:.2f} s wall, {ru.ru_utime:.2f}+{ru.ru_stime:.2f} s CPU, '
          f'peak {peak / 1024:.1f} MiB together (largest one {ru.ru_maxrss / 1024:.1f} MiB), exit {child.returncode}')


if __name__ == '__main__':
    main()
