#!/usr/bin/env python3
"""Sorts the ThreadSanitizer reports of a log (bench/tsan.sh) into those that touch our
code and those that lie wholly inside the system's libraries.

A report lies inside the libraries when, in each of its access stacks, the first frame
below the checker's own functions (malloc, memcpy, operator new and the like) and below
library code compiled into our binary from system headers (Qt's and the C++ library's
templates) is in a library rather than in our code: Qt freeing an event it delivered, Qt's
own image threads converting a picture, QtConcurrent setting up the kernel of a mapped call
(its templates count as the library's, though compiled into our binary), GLib's allocator,
qpdf filling a table on first use, the C library's time zone code. None of these libraries is built with the checker, so
their locks are invisible and every such hand-over looks like a race; what they do is not
ours to fix. Every other report has at least one access made by our code and must be read.
Our code is the test programs, the benchmarks and the program: our libraries are linked in
statically, so their frames carry the executable's name.

A stack the checker could not restore ("failed to restore the stack", or no frame at all)
says nothing either way, so a report is judged by the stacks it kept; one that kept none is
read. A line that
another thread wrote into the middle of a report (a log line, a test's output) is not part
of it and does not end the stack it interrupts.

  triage.py LOG OURS   # writes the reports that touch our code to OURS,
                       # prints "<ours> <inside libraries>"
"""
import re
import sys

OURS = re.compile(r"\((test_\w+|bench_\w+|tsan_\w+|BriskoPhotos|BriskoScreenshots|brisko_\w+)\+0x")
CHECKER = re.compile(r"\(libtsan\.so")
SYSTEM_HEADER = re.compile(r" /usr/include/|#\d+ (std::|QtPrivate::|__gnu_cxx::)")
# QtConcurrent's templates are compiled into our binary, but an access they make before
# any frame of ours is QtConcurrent working on its own state (its kernels and engines).
QT_CONCURRENT = re.compile(r"#\d+ QtConcurrent::|/qt6/QtConcurrent/")
ACCESS = re.compile(r"(Write|Read|Atomic write|Atomic read|Previous write|Previous read|"
                    r"Previous atomic write|Previous atomic read) of size \d+ at ")
FRAME = re.compile(r"(?:^|\s)#\d+ ")
# The report's other parts, each of which ends the stack before it.
SECTION = re.compile(r"^  (Location is|Mutex M|Thread T|Thread main|Main thread|As if synchronized|Cycle in|"
                     r"Issue is)")
LOST = "failed to restore the stack"


def access_stacks(report):
    """The frames of each access, in order; None for a stack the checker could not restore."""
    stacks, current = [], None
    for line in report.splitlines():
        if ACCESS.search(line):
            current = []
            stacks.append(current)
        elif current is None:
            continue
        elif FRAME.search(line):
            current.append(line)
        elif LOST in line:
            stacks[-1] = None
            current = None
        elif not line.strip() or SECTION.match(line):
            current = None
        # Anything else was written into the report by another thread.
    # A stack the checker printed without a frame is as lost as one it says it lost.
    return [s or None for s in stacks]


def top_is_ours(stack):
    for frame in stack:
        if QT_CONCURRENT.search(frame):
            return False
        if CHECKER.search(frame) or (OURS.search(frame) and SYSTEM_HEADER.search(frame)):
            continue
        return bool(OURS.search(frame))
    return True  # nothing but the checker and system templates: read, not assumed away


def touches_our_code(report):
    if not report.startswith("WARNING: ThreadSanitizer: data race"):
        return True
    kept = [s for s in access_stacks(report) if s is not None]
    return not kept or any(top_is_ours(s) for s in kept)


def main():
    log, out = sys.argv[1], sys.argv[2]
    with open(log, errors="replace") as f:
        text = f.read()
    reports = re.findall(r"WARNING: ThreadSanitizer:.*?\nSUMMARY: ThreadSanitizer:[^\n]*", text, re.S)
    ours = [r for r in reports if touches_our_code(r)]
    with open(out, "w") as f:
        f.write("\n\n".join(ours) + ("\n" if ours else ""))
    print(len(ours), len(reports) - len(ours))


if __name__ == "__main__":
    main()
