#!/usr/bin/env python3
"""Runs one GoogleTest suite built with ThreadSanitizer for bench/tsan.sh, and says
whether every test of it ran and passed.

The process's exit status cannot say so: the checker ends a process whose reports it
counted with a status of its own, and when a thread starts after a process start it cannot
follow it stops the process on the spot ("starting new threads after multi-threaded fork
... Dying") with that same status. So the verdict comes from GoogleTest's own record of
the run (--gtest_output=json), written only when the run got to its end, held against the
list of tests the filter selects: every one must have run and passed or skipped.

The checker's status is 0 here (exitcode=0), so that processes the tests start and check
(the picture generator, the test program run again, a forked child) do not fail for
reports of their own; the checker writes its output to files of its own (log_path), one
per process, so no other output lands in the middle of a report, and a process the
checker stopped is found there and fails its test's run. The files are appended to the
suite's log after each run.

A failure names the test it happened in: for a run that died or hung past the timeout, the
last test it started; for a process the checker stopped among those the tests started,
the test that had started last when the checker wrote its last line.

A test that starts another process records so (BRISKO_STARTS_A_PROCESS in
tests/support/Sanitizers.h) and steps aside while other tests share its process; each such
test is then run again as the one test of a process of its own, and judged the same way.

  run_suite.py BINARY FILTER LOG WORKDIR
prints one line: "<verdict> <tests> <passed> <skipped> <alone> <why>", verdict "passed" or
"FAILED"; every run's output is appended to LOG.
"""
import glob
import json
import os
import re
import signal
import subprocess
import sys
import threading
import time

# A suite that hangs fails instead of holding up the run.
TIMEOUT = int(os.environ.get("TSAN_SUITE_TIMEOUT", "5400"))
PROPERTY = "starts_process"
# What the checker writes when it stops a process.
STOPPED = re.compile(r"ThreadSanitizer: (starting new threads after multi-threaded fork|CHECK failed)|"
                     r"ERROR: ThreadSanitizer")


def results_of(path):
    """The tests of a GoogleTest JSON record: full name -> (result, failed, starts a process)."""
    with open(path) as f:
        record = json.load(f)
    tests = {}
    for suite in record.get("testsuites", []):
        for case in suite.get("testsuite", []):
            name = suite["name"] + "." + case["name"]
            tests[name] = (case.get("result", ""), bool(case.get("failures")), PROPERTY in case)
    return tests


def listed(binary, filter_, work):
    path = os.path.join(work, "list.json")
    if os.path.exists(path):
        os.remove(path)
    status = subprocess.run([binary, "--gtest_list_tests", "--gtest_filter=" + filter_, "--gtest_output=json:" + path],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600, check=False).returncode
    return (list(results_of(path)) if os.path.exists(path) else None), status


def last_started(log_text):
    """The test GoogleTest started last without ending it: where a process died."""
    current = None
    for line in log_text.splitlines():
        if line.startswith("[ RUN      ] "):
            current = line[13:].strip()
        elif line.startswith(("[       OK ] ", "[  FAILED  ] ", "[  SKIPPED ] ")):
            current = None
    return current


def checker_output(prefix, log):
    """Appends the checker's files of one run to the log; when (time.time()) it stopped each
    process it stopped."""
    stopped = []
    with open(log, "a") as out:
        for path in sorted(glob.glob(prefix + ".*"), key=os.path.getmtime):
            with open(path, errors="replace") as f:
                text = f.read()
            if STOPPED.search(text):
                stopped.append(os.path.getmtime(path))
            os.remove(path)
            out.write("\n==== ThreadSanitizer, process %s\n%s" % (path.rsplit(".", 1)[-1], text))
    return stopped


def started_by(starts, when):
    """The test started last at a time: (time, name) pairs in the order the tests started."""
    names = [name for at, name in starts if at <= when]
    return names[-1] if names else None


def copy_output(stream, out, starts):
    """Copies a test program's output into the log as it comes, noting when each test starts."""
    for line in iter(stream.readline, b""):
        text = line.decode(errors="replace")
        if text.startswith("[ RUN      ] "):
            starts.append((time.time(), text[13:].strip()))
        out.write(text)
        out.flush()


def end_session(child):
    """Kills the processes of the session a test program was started in."""
    try:
        os.killpg(child.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


def run(binary, filter_, log, work, tag, timeout=None):
    """Runs the tests the filter selects; returns (results or None, why it is not trusted)."""
    path = os.path.join(work, tag + ".json")
    prefix = os.path.join(work, tag + ".tsan")
    for old in glob.glob(path) + glob.glob(prefix + ".*"):
        os.remove(old)
    env = dict(os.environ)
    env["TSAN_OPTIONS"] = env.get("TSAN_OPTIONS", "") + ":exitcode=0:log_path=" + prefix
    starts = []
    with open(log, "a") as out:
        out.write("\n==== %s --gtest_filter=%s\n" % (os.path.basename(binary), filter_))
        out.flush()
        start = out.tell()
        # A session of its own, so that a hung run is ended with every process it started.
        child = subprocess.Popen(["setarch", "-R", binary, "--gtest_filter=" + filter_, "--gtest_output=json:" + path],
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env, start_new_session=True)
        copier = threading.Thread(target=copy_output, args=(child.stdout, out, starts))
        copier.start()
        try:
            status = child.wait(timeout=timeout or TIMEOUT)
            hung = False
        except subprocess.TimeoutExpired:
            end_session(child)
            status = child.wait()
            hung = True
        copier.join(timeout=10)
        if copier.is_alive():  # a process the run left behind holds the output open
            end_session(child)
            copier.join()
        child.stdout.close()
    with open(log, errors="replace") as f:
        f.seek(start)
        where = last_started(f.read())
    stopped = checker_output(prefix, log)
    if hung:
        return None, "did not finish within %d s%s" % (timeout or TIMEOUT, " in " + where if where else "")
    if not os.path.exists(path):
        why = "died" + (" in " + where if where else "") + " (status %d)" % status
        if stopped:
            why += ", stopped by the checker"
        return None, why
    if stopped:
        # The process that ran the tests got to the end: the checker stopped one they started.
        tests = sorted({started_by(starts, when) or "before the first test" for when in stopped})
        return results_of(path), "the checker stopped %d process(es) started in %s" % (len(stopped), ", ".join(tests))
    if status not in (0, 1):
        return results_of(path), "ended with status %d" % status
    return results_of(path), ""


def judge(expected, results):
    """(passed, skipped, to run alone, failed, missing) for the expected tests."""
    passed, skipped, alone, failed, missing = [], [], [], [], []
    for name in expected:
        if name not in results:
            missing.append(name)
            continue
        result, failures, starts = results[name]
        if failures:
            failed.append(name)
        elif result == "SKIPPED":
            (alone if starts else skipped).append(name)
        elif result == "COMPLETED":
            passed.append(name)
        else:
            missing.append(name)
    return passed, skipped, alone, failed, missing


def main():
    binary, filter_, log, work = sys.argv[1:5]
    os.makedirs(work, exist_ok=True)
    expected, status = listed(binary, filter_, work)
    if not expected:
        # A program that cannot start (a crash before main) lists nothing either.
        print("FAILED 0 0 0 0 no tests listed" + (" (status %d)" % status if status else ""))
        return
    whys = []
    results, why = run(binary, filter_, log, work, "all")
    if results is None:
        print("FAILED %d 0 0 0 %s" % (len(expected), why + ": none of its %d tests is counted" % len(expected)))
        return
    if why:
        whys.append(why)
    passed, skipped, alone, failed, missing = judge(expected, results)
    ran_alone = []
    for name in alone:
        one, why = run(binary, name, log, work, "alone")
        ran_alone.append(name)
        if why and name not in why:
            why = name + " " + why
        if one is None:
            failed.append(name)
            whys.append(why)
            continue
        if why:
            whys.append(why)
        p, s, a, f, m = judge([name], one)
        passed += p
        skipped += s
        failed += f + a  # a test still stepping aside alone is not run at all
        missing += m
    if failed:
        whys.append("failed: " + ", ".join(failed))
    if missing:
        whys.append("%d of %d tests did not run (first: %s)" % (len(missing), len(expected), missing[0]))
    verdict = "FAILED" if whys else "passed"
    print("%s %d %d %d %d %s" % (verdict, len(expected), len(passed), len(skipped), len(ran_alone), "; ".join(whys)))


if __name__ == "__main__":
    main()
