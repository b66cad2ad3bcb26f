#!/usr/bin/env python3
"""Which reports bench/tsan/triage.py gives to our code, on reports as the checker writes
them, and which test bench/tsan/run_suite.py names when a run goes wrong (CTest runs this in
every build)."""
import os
import stat
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_suite  # noqa: E402
import triage  # noqa: E402

THREAD = """
  Thread T21 'Thread (pooled)' (tid=20988, running) created by main thread at:
    #0 pthread_create ../../../../src/libsanitizer/tsan/tsan_interceptors_posix.cpp:1001 (libtsan.so.2+0x5e686)
    #1 QThread::start(QThread::Priority) <null> (libQt6Core.so.6+0x2540e3)
    #2 ImageIO_TiffFiles_Test::TestBody() tests/platform/imageio/ImageIOTest.cpp:366 (test_platform_imageio+0xaf74f)
"""


def report(first, second, first_kind="Write", second_kind="Previous write"):
    return ("WARNING: ThreadSanitizer: data race (pid=16491)\n"
            "  %s of size 8 at 0x7b0800026108 by thread T21:\n%s\n"
            "  %s of size 8 at 0x7b0800026108 by main thread:\n%s\n%s\n"
            "SUMMARY: ThreadSanitizer: data race tsan_new_delete.cpp:150 in operator delete(void*, unsigned long)"
            % (first_kind, first, second_kind, second, THREAD))


QT_FREES = ("    #0 operator delete(void*, unsigned long) ../../../../src/libsanitizer/tsan/tsan_new_delete.cpp:150 "
            "(libtsan.so.2+0x86c3d)\n"
            "    #1 <null> <null> (libQt6Gui.so.6+0x15748d)\n")
LOST = "    [failed to restore the stack]\n"
TZSET = ("    #0 strlen ../../../../src/libsanitizer/sanitizer_common/sanitizer_common_interceptors.inc:386 "
         "(libtsan.so.2+0x5d2b6)\n"
         "    #1 __tzset_parse_tz time/tzset.c:367 (libc.so.6+0xbc0a3)\n"
         "    #2 __tzfile_compute time/tzfile.c:618 (libc.so.6+0xbde21)\n")
RUNNER = ("    #0 BatchRunner::noteOutcome(int) ../batch/BatchRunner.cpp:612 (test_batch+0x1e8e4a)\n"
          "    #1 PhotosInFlight::work() ../batch/BatchRunnerPool.cpp:69 (test_batch+0x1f1fe8)\n")
# QtConcurrent's kernel for blockingMapped, made by the test's thread, read by a pool thread.
KERNEL_READ = ("    #0 QtConcurrent::IterateKernel<QList<int>::const_iterator, QList<bool> >::shouldStartThread() "
               "/usr/include/x86_64-linux-gnu/qt6/QtConcurrent/qtconcurrentiteratekernel.h:205 (test_engine+0x49b75)\n"
               "    #1 QtConcurrent::ThreadEngineBase::startThreads() <null> (libQt6Concurrent.so.6+0x2fc4)\n")
KERNEL_MADE = ("    #0 operator new(unsigned long) ../../../../src/libsanitizer/tsan/tsan_new_delete.cpp:64 "
               "(libtsan.so.2+0x87323)\n"
               "    #1 startMappedReduced<bool, QList<bool>, QList<int>&, TestBody()::<lambda(int)> > "
               "/usr/include/x86_64-linux-gnu/qt6/QtConcurrent/qtconcurrentmapkernel.h:254 (test_engine+0x7cbe4)\n"
               "    #2 TestBody tests/engine/CoreImageEffectsTest.cpp:338 (test_engine+0x7cbe4)\n")
# The mapped function itself, a lambda of ours, run by QtConcurrent.
MAPPED = ("    #0 operator() tests/engine/CoreImageEffectsTest.cpp:337 (test_engine+0x7c001)\n"
          "    #1 QtConcurrent::MappedReducedKernel<...>::runIteration(...) "
          "/usr/include/x86_64-linux-gnu/qt6/QtConcurrent/qtconcurrentmapkernel.h:100 (test_engine+0x7c101)\n")
# Two of our threads appending to one QString: Qt's code makes the accesses, called by ours.
# The frame of ours that called Qt is not on the stack, its caller is.
APPENDS = ("    #0 memcpy ../../../../src/libsanitizer/sanitizer_common/sanitizer_common_interceptors.inc:827 "
           "(libtsan.so.2+0x5dda6)\n"
           "    #1 QString::append(QChar const*, long long) <null> (libQt6Core.so.6+0x1d4eba)\n"
           "    #2 operator() tests/batch/RenameSchemeTest.cpp:212 (test_batch+0x272f)\n"
           "    #3 _M_run /usr/include/c++/12/bits/std_thread.h:210 (test_batch+0x272f)\n"
           "    #4 <null> <null> (libstdc++.so.6+0xd44a2)\n")
GROWS = ("    #0 realloc ../../../../src/libsanitizer/tsan/tsan_interceptors_posix.cpp:680 (libtsan.so.2+0x4302f)\n"
         "    #1 QArrayData::reallocateUnaligned(QArrayData*, void*, long long, long long, "
         "QArrayData::AllocationOption) <null> (libQt6Core.so.6+0x1f7367)\n"
         "    #2 _M_run /usr/include/c++/12/bits/std_thread.h:210 (test_batch+0x272f)\n"
         "    #3 <null> <null> (libstdc++.so.6+0xd44a2)\n")
QT_GROWS = GROWS.split("    #2")[0]  # on a thread of Qt's: no frame below Qt's own
# Qt converting a picture on its own pool's threads; the picture is ours, the threads Qt's.
QT_CONVERTS = ("    #0 memcpy ../../../../src/libsanitizer/sanitizer_common/sanitizer_common_interceptors.inc:827 "
               "(libtsan.so.2+0x5dda6)\n"
               "    #1 <null> <null> (libQt6Gui.so.6+0x1a2b3c)\n"
               "    #2 QThreadPoolThread::run() <null> (libQt6Core.so.6+0x25a1d2)\n")
CONVERTS_FOR_US = ("    #0 malloc ../../../../src/libsanitizer/tsan/tsan_interceptors_posix.cpp:647 "
                   "(libtsan.so.2+0x3fc93)\n"
                   "    #1 QImage::convertToFormat_helper(QImage::Format, QFlags<Qt::ImageConversionFlag>) const <null> "
                   "(libQt6Gui.so.6+0x18c5f1)\n"
                   "    #2 platform::imageio::toArgb(QImage const&) ../platform/imageio/Pixels.cpp:88 "
                   "(test_platform_imageio+0x2d10f)\n")
# Qt's templates compiled into our binary where the checker found no file: Qt freeing a
# queued call's functor, and a future's results freed by Qt's pool thread.
FUNCTOR_FREED = ("    #0 operator delete(void*, unsigned long) ../../../../src/libsanitizer/tsan/tsan_new_delete.cpp:150 "
                 "(libtsan.so.2+0x86c3d)\n"
                 "    #1 QtPrivate::QCallableObject<PreviewRenderer::deliver()::{lambda()#1}, QtPrivate::List<>, void>::"
                 "impl(int, QtPrivate::QSlotObjectBase*, QObject*, void**, bool*) <null> (test_editor+0x91b3e)\n"
                 "    #2 QMetaCallEvent::~QMetaCallEvent() <null> (libQt6Core.so.6+0x15e7fb)\n")
RESULTS_FREED = ("    #0 free ../../../../src/libsanitizer/tsan/tsan_interceptors_posix.cpp:706 "
                 "(libtsan.so.2+0x3a8f6)\n"
                 "    #1 void QtPrivate::ResultStoreBase::clear<QImage>(QMap<int, QtPrivate::ResultItem>&) <null> "
                 "(test_import+0x6b0c2)\n"
                 "    #2 QMap<int, QtPrivate::ResultItem>::clear() <null> (test_import+0x6b0c2)\n"
                 "    #3 QFutureInterface<QImage>::~QFutureInterface() <null> (test_import+0x6b10d)\n"
                 "    #4 <null> <null> (libQt6Core.so.6+0x2545c1)\n")
REPORTED = ("    #0 operator new(unsigned long) ../../../../src/libsanitizer/tsan/tsan_new_delete.cpp:64 "
            "(libtsan.so.2+0x87323)\n"
            "    #1 bool QFutureInterface<QImage>::reportAndEmplaceResult<QImage, QImage>(int, QImage&&) <null> "
            "(test_import+0x6a9f0)\n"
            "    #2 <null> <null> (libQt6Core.so.6+0x2541f0)\n")
# An application's event filter of ours reading a queued call's event that Qt made on a worker.
FILTER_READS = ("    #0 QEvent::type() const /usr/include/x86_64-linux-gnu/qt6/QtCore/qcoreevent.h:297 (test_shell+0x422760)\n"
                "    #1 eventFilter ../ui/KeyboardHelpers.cpp:17 (test_shell+0x422760)\n"
                "    #2 QCoreApplicationPrivate::sendThroughApplicationEventFilters(QObject*, QEvent*) <null> "
                "(libQt6Core.so.6+0x1214b5)\n")
QT_QUEUES = ("    #0 operator new(unsigned long) ../../../../src/libsanitizer/tsan/tsan_new_delete.cpp:64 "
             "(libtsan.so.2+0x87323)\n"
             "    #1 QMetaObject::invokeMethodImpl(QObject*, QtPrivate::QSlotObjectBase*, Qt::ConnectionType, void*) "
             "<null> (libQt6Core.so.6+0x130d34)\n"
             "    #2 BatchRunner::runOnMain(std::function<void ()>) ../batch/BatchRunner.cpp:417 (test_shell+0x2c5506)\n")
# Our code allocating, then Qt's: the allocation is ours.
WE_ALLOCATE = ("    #0 operator new(unsigned long) ../../../../src/libsanitizer/tsan/tsan_new_delete.cpp:64 "
               "(libtsan.so.2+0x87323)\n"
               "    #1 BatchRunner::runOnMain(std::function<void ()>) ../batch/BatchRunner.cpp:417 (test_shell+0x2c5506)\n")
# A string the screen and a worker's snapshot share: the worker lets go of its copy in Qt's
# templates in our binary (an atomic decrement the checker sees), the screen its own inside
# Qt's compiled code, which then frees the characters.
SCREEN_FREES = ("    #0 free ../../../../src/libsanitizer/tsan/tsan_interceptors_posix.cpp:706 (libtsan.so.2+0x47e82)\n"
                "    #1 operator() ../batch/ui/ConvertFormatOrRenameView.cpp:877 (test_batch+0x2c8ae7)\n"
                "    #2 std::function<void (QString)>::operator()(QString) const "
                "/usr/include/c++/12/bits/std_function.h:591 (test_batch+0x2c6348)\n")
WORKER_LETS_GO = ("    #0 std::__atomic_base<int>::fetch_sub(int, std::memory_order) "
                  "/usr/include/c++/12/bits/atomic_base.h:628 (test_batch+0x31bc58)\n"
                  "    #1 bool QAtomicOps<int>::deref<int>(std::atomic<int>&) "
                  "/usr/include/x86_64-linux-gnu/qt6/QtCore/qatomic_cxx11.h:265 (test_batch+0x31bc58)\n"
                  "    #2 QArrayData::deref() /usr/include/x86_64-linux-gnu/qt6/QtCore/qarraydata.h:58 "
                  "(test_batch+0x31bc58)\n"
                  "    #3 QString::~QString() /usr/include/x86_64-linux-gnu/qt6/QtCore/qstring.h:1334 "
                  "(test_batch+0x31bc58)\n"
                  "    #4 OutputOptionSettings::~OutputOptionSettings() ../records/OutputOptionSettings.h:13 "
                  "(test_batch+0x31bc58)\n")
# An atomic count of ours, not Qt's.
OUR_COUNT = ("    #0 std::__atomic_base<int>::fetch_sub(int, std::memory_order) "
             "/usr/include/c++/12/bits/atomic_base.h:628 (test_batch+0x31bc58)\n" + RUNNER.replace("#0", "#1"))
BENCH = ("    #0 std::vector<double>::push_back(double const&) /usr/include/c++/12/bits/stl_vector.h:1281 "
         "(bench_batch+0x2d0f1)\n"
         "    #1 operator() ../bench/batch/bench_batch.cpp:212 (bench_batch+0x2d0f1)\n")


class Triage(unittest.TestCase):
    def test_reports_and_their_side(self):
        cases = [
            ("Qt frees its own memory on its pool thread", report(QT_FREES, QT_FREES), False),
            ("both sides in our code", report(RUNNER, RUNNER), True),
            ("one side ours, the other Qt's", report(RUNNER, QT_FREES), True),
            # The benchmarks link our libraries statically: their frames are ours.
            ("a benchmark's frames", report(BENCH, BENCH), True),
            # A lost stack says nothing: the kept one decides.
            ("the other side lost, the known one Qt's", report(QT_FREES, LOST), False),
            ("the other side lost, the known one the C library's time zone code", report(TZSET, LOST), False),
            ("the other side lost, the known one ours", report(RUNNER, LOST), True),
            ("the other side printed without a frame", report(QT_FREES, ""), False),
            ("both sides lost", report(LOST, LOST), True),
            ("QtConcurrent's own kernel", report(KERNEL_READ, KERNEL_MADE), False),
            ("a mapped lambda of ours", report(MAPPED, RUNNER), True),
            ("not a data race", report(QT_FREES, QT_FREES).replace("data race (pid", "heap-use-after-free (pid", 1),
             True),
            # Qt's value classes are for one thread at a time: two of ours in one is our fault.
            ("two of our threads appending to one QString", report(APPENDS, GROWS), True),
            ("our QString call, the other side lost", report(APPENDS, LOST), True),
            ("our picture converted on Qt's own threads", report(QT_CONVERTS, CONVERTS_FOR_US), False),
            ("a string's storage grown on two of Qt's own threads", report(QT_GROWS, QT_GROWS), False),
            # Qt's templates in our binary are Qt's code, with a file or without.
            ("Qt frees a queued call's functor", report(FUNCTOR_FREED, QT_FREES), False),
            ("Qt's pool frees a future's results", report(RESULTS_FREED, REPORTED), False),
            # Qt's queue hands an event it made over to the receiving thread.
            ("our event filter reads an event Qt queued", report(FILTER_READS, QT_QUEUES), False),
            ("our code reads a block it allocated on another thread", report(FILTER_READS, WE_ALLOCATE), True),
            ("a template without a file above our code", report(RESULTS_FREED.split("    #3")[0] +
                                                                  RUNNER.replace("#0", "#3").replace("#1", "#4"),
                                                                  QT_FREES), True),
            # Qt's count of shared storage hands it over, though only one side of it is seen.
            ("shared string storage freed after another thread let go of it",
             report(SCREEN_FREES, WORKER_LETS_GO, "Write", "Previous atomic write"), False),
            ("a block freed after another thread wrote into it", report(SCREEN_FREES, RUNNER), True),
            ("a block freed after another thread's atomic count of ours",
             report(SCREEN_FREES, OUR_COUNT, "Write", "Previous atomic write"), True),
            ("Qt's count let go of after the free",
             report(WORKER_LETS_GO, SCREEN_FREES, "Atomic write", "Previous write"), True),
        ]
        for name, text, ours in cases:
            with self.subTest(name):
                self.assertEqual(triage.touches_our_code(text), ours)

    def test_a_line_written_into_a_report_does_not_end_its_stack(self):
        log_line = "2026-12-08 08:02:20.533 BriskoPhotos[2582] save image at path /tmp/x.png\n"
        cut_after_checker = QT_FREES.replace("\n", "\n" + log_line, 1)
        self.assertFalse(triage.touches_our_code(report(cut_after_checker, QT_FREES)))
        # Nor does one glued to the front of a frame hide that frame.
        glued = RUNNER.replace("    #0", "[ RUN      ] BatchRunner.Stops    #0", 1)
        self.assertTrue(triage.touches_our_code(report(QT_FREES, glued)))

    def test_a_log_is_split_into_its_reports(self):
        import tempfile
        with tempfile.TemporaryDirectory() as d:
            log, out = os.path.join(d, "suite.log"), os.path.join(d, "ours.log")
            with open(log, "w") as f:
                f.write("[ RUN      ] A.B\n==================\n%s\n==================\n[       OK ] A.B\n"
                        "==================\n%s\n==================\n" % (report(QT_FREES, LOST), report(RUNNER, RUNNER)))
            sys.argv = ["triage.py", log, out]
            from io import StringIO
            printed, stdout = StringIO(), sys.stdout
            sys.stdout = printed
            try:
                triage.main()
            finally:
                sys.stdout = stdout
            self.assertEqual(printed.getvalue().split(), ["1", "1"])
            with open(out) as f:
                self.assertIn("BatchRunner::noteOutcome", f.read())


# A stand-in for a test program, as run_suite.py runs one: it prints GoogleTest's lines, does
# what its tests say, and writes GoogleTest's record of the run at its end.
FAKE_SUITE = """#!/usr/bin/env python3
import json, os, subprocess, sys, time
TESTS = %s
record = [a.split(":", 1)[1] for a in sys.argv if a.startswith("--gtest_output=json:")][0]
checker = [o.split("=", 1)[1] for o in os.environ["TSAN_OPTIONS"].split(":") if o.startswith("log_path=")][0]
for name, action in TESTS:
    print("[ RUN      ] Fake." + name, flush=True)
    time.sleep(0.1)
    if action == "hang":
        time.sleep(60)
    if action == "child stopped":
        # A process the test starts, which the checker stops, writing into its own file.
        subprocess.run([sys.executable, "-c", "import os, sys; open(sys.argv[1] + '.' + str(os.getpid()), 'w').write("
                        "'ThreadSanitizer: starting new threads after multi-threaded fork is not supported. Dying')",
                        checker])
        time.sleep(0.1)
    print("[       OK ] Fake." + name + " (100 ms)", flush=True)
with open(record, "w") as f:
    cases = [{"name": n, "result": "COMPLETED"} for n, _ in TESTS]
    json.dump({"testsuites": [{"name": "Fake", "testsuite": cases}]}, f)
"""


class SuiteRuns(unittest.TestCase):
    def run_fake(self, tests, timeout=None):
        with tempfile.TemporaryDirectory() as d:
            binary = os.path.join(d, "test_fake")
            with open(binary, "w") as f:
                f.write(FAKE_SUITE % repr(tests))
            os.chmod(binary, os.stat(binary).st_mode | stat.S_IXUSR)
            log = os.path.join(d, "fake.log")
            results, why = run_suite.run(binary, "*", log, d, "all", timeout=timeout)
            with open(log) as f:
                return results, why, f.read()

    def test_a_failed_run_names_the_test_it_was_in(self):
        cases = [
            ("a hang past the timeout", [("First", ""), ("Hangs", "hang"), ("Never", "")], 1,
             "did not finish within 1 s in Fake.Hangs"),
            ("a process a test started, stopped by the checker",
             [("First", ""), ("StartsAChild", "child stopped"), ("Last", "")], None,
             "the checker stopped 1 process(es) started in Fake.StartsAChild"),
        ]
        for name, tests, timeout, why in cases:
            with self.subTest(name):
                results, said, log = self.run_fake(tests, timeout)
                self.assertEqual(said, why)
                self.assertIn("[ RUN      ] Fake.First", log)
                if results is not None:
                    self.assertIn("multi-threaded fork", log)


if __name__ == "__main__":
    unittest.main()
