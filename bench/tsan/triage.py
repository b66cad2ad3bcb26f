#!/usr/bin/env python3
"""Sorts the ThreadSanitizer reports of a log (bench/tsan.sh) into those that touch our
code and those that lie wholly inside the system's libraries.

A report lies inside the libraries when, in each of its access stacks, the first frame
below the checker's own functions (malloc, memcpy, operator new and the like) and below
library code compiled into our binary (the templates of Qt and of the C++ library: a frame
whose file is a system header, or, where the checker found no file, whose function is
Qt's or the C++ library's by its name) is in a library rather than in our code: Qt freeing
an event it delivered, Qt's own image threads converting a picture, QtConcurrent setting up
the kernel of a mapped call (its templates count as the library's, though compiled into our
binary), GLib's allocator, qpdf filling a table on first use, the C library's time zone
code. None of these libraries is built with the checker, so their locks are invisible and
every such hand-over looks like a race; what they do is not ours to fix. Every other report
has at least one access made by our code and must be read. Our code is the test programs,
the benchmarks and the program: our libraries are linked in statically, so their frames
carry the executable's name.

One kind of library access is ours all the same: Qt's value classes (strings, byte arrays,
variants, pictures) may be used by several threads only on different objects, so a report
whose every access is such a class's code, called straight from ours (the frame below it
ours, or the start of a thread of ours), is two of our threads in one object. The frame of
ours that made the call is not on the stack (the checker sees only where instrumented code
was entered), its caller is.

An event that Qt made on one thread to queue it for another (a queued call's event) is
handed over by Qt's queue: a report whose one access is Qt making it is the queue's, whoever
reads it on the other side (Qt delivering it, or an event filter of ours looking at it).

Storage that Qt's values share (a string's characters, a list's items) is freed by the
thread that lets go of it last, after every other thread let go of its copy: each release is
an atomic decrement of the storage's count. Where the last release went inside Qt's compiled
code (an assignment in libQt6Core), the checker sees neither it nor the order the count
keeps, only the free; so a report whose access is a free and whose earlier access, on the
other thread, is a release of that count (the decrement itself, made in Qt's templates in
our binary) is the count handing the storage over. Were the storage freed while another
thread still held it, that thread's later release would be a use after the free.

A stack the checker could not restore ("failed to restore the stack", or no frame at all)
says nothing either way, so a report is judged by the stacks it kept; one that kept none is
read. A line that another thread wrote into the middle of a report (a log line, a test's
output) is not part of it and does not end the stack it interrupts.

  triage.py LOG OURS   # writes the reports that touch our code to OURS,
                       # prints "<ours> <inside libraries>"
"""
import re
import sys

OURS = re.compile(r"^(test_\w+|bench_\w+|tsan_\w+|BriskoPhotos|BriskoScreenshots|brisko_\w+)$")
CHECKER = re.compile(r"^libtsan\.so")
# A frame as the checker prints it: "#3 function file:line (module+0x1234)", the file "<null>"
# where it found none; a line another thread wrote may stand in front of it.
FRAME_PARTS = re.compile(r"(?:^|\s)#\d+ (?P<function>.*) (?P<file>\S+) \((?P<module>[^()]+)\+0x[0-9a-f]+\)\s*$")
# Library code compiled into our binary: templates from the system's headers. Where the
# checker found no file, the function's name says whose it is.
SYSTEM_HEADER = re.compile(r"^/usr/include/")
LIBRARY_NAME = re.compile(r"^(std::|__gnu_cxx::|Qt\w*::|Q[A-Z]\w*(<|::))")
# QtConcurrent's templates are compiled into our binary, but an access they make before
# any frame of ours is QtConcurrent working on its own state (its kernels and engines).
QT_CONCURRENT_NAME = re.compile(r"^QtConcurrent::")
QT_CONCURRENT_FILE = re.compile(r"/qt6/QtConcurrent/")
QT = re.compile(r"^libQt6\w*\.so")
# Qt's value classes (strings, byte arrays and the storage of its lists, variants, pictures)
# may be used by several threads only on different objects: two threads in one object's
# methods is a misuse by whoever called them.
QT_VALUE_CLASS = re.compile(r"^(QString|QByteArray|QArrayData|QVariant|QImage|QUrl|QDateTime|QBitArray|QJson\w+|"
                            r"QRegularExpression\w*)::")
# Qt's functions that make the event they queue for another thread: the event is that
# thread's once Qt's queue hands it over, and whatever reads it there (Qt, or an event filter
# of ours) reads what the queue handed over.
QT_QUEUES_AN_EVENT = re.compile(r"^(QMetaObject::invokeMethodImpl|QCoreApplication::postEvent)\(")
CHECKER_ALLOCATES = re.compile(r"^(operator new|malloc|calloc)\b")
CHECKER_FREES = re.compile(r"^(operator delete|free|realloc)\b")
# The release of a reference to the storage Qt's values share.
QT_SHARED_RELEASE = re.compile(r"^(QArrayData::deref|QtPrivate::RefCount::deref)\(")
# The C and C++ runtimes' own frames at the foot of a stack, starting a thread.
RUNTIME = re.compile(r"^(libstdc\+\+|libc)\.so")
ACCESS = re.compile(r"(Write|Read|Atomic write|Atomic read|Previous write|Previous read|"
                    r"Previous atomic write|Previous atomic read) of size \d+ at ")
FRAME = re.compile(r"(?:^|\s)#\d+ ")
# The report's other parts, each of which ends the stack before it.
SECTION = re.compile(r"^  (Location is|Mutex M|Thread T|Thread main|Main thread|As if synchronized|Cycle in|"
                     r"Issue is)")
LOST = "failed to restore the stack"


def accesses(report):
    """Each access as (kind, frames), in order: kind as the checker names it ("Write",
    "Previous atomic write"), frames None for a stack the checker could not restore."""
    kinds, stacks, current = [], [], None
    for line in report.splitlines():
        access = ACCESS.search(line)
        if access:
            current = []
            kinds.append(access.group(1))
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
    return [(k, s or None) for k, s in zip(kinds, stacks)]


def access_stacks(report):
    """The frames of each access, in order; None for a stack the checker could not restore."""
    return [s for _, s in accesses(report)]


def qualified_name(function):
    """A function's name without the return type a function template's name begins with."""
    depth = 0
    for i, c in enumerate(function):
        if c in "<([{":
            depth += 1
        elif c in ">)]}":
            depth -= 1
        elif depth == 0 and c == " ":
            head = function[:i]
            # "operator new(...)", "QString::operator QByteArray()": no return type there.
            if "(" in head or head == "operator" or head.endswith("::operator"):
                return function
            return function[i + 1:]
    return function


class Frame:
    def __init__(self, line):
        match = FRAME_PARTS.search(line)
        self.function, self.file, self.module = match.groups() if match else ("", "<null>", "")
        self.name = qualified_name(self.function)

    def checker(self):
        return bool(CHECKER.match(self.module))

    def in_our_binary(self):
        return bool(OURS.match(self.module))

    def qt_concurrent(self):
        return bool(QT_CONCURRENT_NAME.match(self.name) or QT_CONCURRENT_FILE.search(self.file))

    def library_template(self):
        """Library code compiled into our binary."""
        if not self.in_our_binary():
            return False
        if self.file == "<null>":
            return bool(LIBRARY_NAME.match(self.name))
        return bool(SYSTEM_HEADER.match(self.file))

    def ours(self):
        return self.in_our_binary() and not self.library_template()

    def qt_value_class(self):
        return bool(QT.match(self.module) and QT_VALUE_CLASS.match(self.name))


def side(stack):
    """Whose access a stack is: "ours" (our code made it), "call" (a Qt value class that our
    code called made it), "queued" (Qt made an event to queue it) or "library"."""
    every = [Frame(line) for line in stack]
    if (len(every) > 1 and every[0].checker() and CHECKER_ALLOCATES.match(every[0].name) and
            QT.match(every[1].module) and QT_QUEUES_AN_EVENT.match(every[1].name)):
        return "queued"
    frames = [f for f in every if not f.checker()]
    i = 0
    while i < len(frames) and frames[i].library_template() and not frames[i].qt_concurrent():
        i += 1
    if i == len(frames):
        return "ours"  # nothing but the checker and system templates: read, not assumed away
    if frames[i].qt_concurrent():
        return "library"
    if frames[i].ours():
        return "ours"
    if not frames[i].qt_value_class():
        return "library"
    while i < len(frames) and (frames[i].qt_value_class() or frames[i].library_template()):
        i += 1
    # The frame of ours that called Qt is not on the stack (Qt is not built with the checker,
    # so the checker only sees where our code was entered); its caller is, or the start of
    # the thread our code made. A stack that ends here is one of Qt's own threads.
    if i < len(frames) and (frames[i].ours() or RUNTIME.match(frames[i].module)):
        return "call"
    return "library"


def releases_shared_storage(stack):
    """Whether an access is Qt's count of shared storage let go of: nothing but library
    templates down to the release."""
    for line in stack:
        frame = Frame(line)
        if QT_SHARED_RELEASE.match(frame.name):
            return True
        if not frame.library_template():
            return False
    return False


def shared_storage_freed_after_release(report):
    """A free of storage Qt's values share, after another thread let go of its copy."""
    made = accesses(report)
    if len(made) != 2 or any(s is None for _, s in made):
        return False
    (kind, freed), (earlier_kind, released) = made
    first = Frame(freed[0])
    return (kind == "Write" and first.checker() and bool(CHECKER_FREES.match(first.name)) and
            earlier_kind == "Previous atomic write" and releases_shared_storage(released))


def touches_our_code(report):
    if not report.startswith("WARNING: ThreadSanitizer: data race"):
        return True
    if shared_storage_freed_after_release(report):
        return False
    sides = [side(s) for s in access_stacks(report) if s is not None]
    if "queued" in sides:
        return False  # an event Qt queued, read where its queue delivered it
    return not sides or "ours" in sides or all(s == "call" for s in sides)


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
