#!/usr/bin/env python3
"""Which reports bench/tsan/triage.py gives to our code, on reports as the checker writes
them (CTest runs this in every build)."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
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


if __name__ == "__main__":
    unittest.main()
