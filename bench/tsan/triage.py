#!/usr/bin/env python3
"""Sorts the ThreadSanitizer reports of a log (bench/tsan.sh) into those that touch our
code and those that lie wholly inside the system's libraries.

A report lies inside the libraries when, in each of its access stacks, the first frame
below the checker's own functions (malloc, memcpy, operator new and the like) and below
library code compiled into our binary from system headers (Qt's and the C++ library's
templates) is in a library rather than in our code: Qt freeing an event it delivered, Qt's own image threads
converting a picture, GLib's allocator, qpdf filling a table on first use, the C library's
time zone code. None of these libraries is built with the checker, so their locks are
invisible and every such hand-over looks like a race; what they do is not ours to fix.
Every other report has at least one access made by our code (or one whose stack was
lost) and must be read.

  triage.py LOG OURS   # writes the reports that touch our code to OURS,
                       # prints "<ours> <inside libraries>"
"""
import re
import sys

OURS = re.compile(r"\((test_\w+|BriskoPhotos|brisko_\w+)\+0x")
CHECKER = re.compile(r"\(libtsan\.so")
SYSTEM_HEADER = re.compile(r" /usr/include/|#\d+ (std::|QtConcurrent::|QtPrivate::|__gnu_cxx::)")
ACCESS = re.compile(r"^  (Write|Read|Atomic write|Atomic read|Previous write|Previous read|"
                    r"Previous atomic write|Previous atomic read) of size")


def access_stacks(report):
    stacks, current = [], None
    for line in report.splitlines():
        if ACCESS.match(line):
            current = []
            stacks.append(current)
        elif current is not None and line.strip().startswith("#"):
            current.append(line)
        elif current is not None and line.strip() and not line.strip().startswith("#"):
            if "failed to restore" in line:
                current.append("<lost>")
            current = None
    return stacks


def top_is_ours(stack):
    for frame in stack:
        if frame == "<lost>":
            return True
        if CHECKER.search(frame) or (OURS.search(frame) and SYSTEM_HEADER.search(frame)):
            continue
        return bool(OURS.search(frame))
    return True  # an empty stack is read, not assumed away


def main():
    log, out = sys.argv[1], sys.argv[2]
    text = open(log, errors="replace").read()
    reports = re.findall(r"WARNING: ThreadSanitizer:.*?\nSUMMARY: ThreadSanitizer:[^\n]*", text, re.S)
    ours = [r for r in reports
            if not r.startswith("WARNING: ThreadSanitizer: data race")
            or any(top_is_ours(s) for s in access_stacks(r))]
    with open(out, "w") as f:
        f.write("\n\n".join(ours) + ("\n" if ours else ""))
    print(len(ours), len(reports) - len(ours))


if __name__ == "__main__":
    main()
