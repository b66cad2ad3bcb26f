#pragma once
// What a test program was built with, for the tests that a checker's own workings change:
// those that measure memory, and those that start another process.
#include <gtest/gtest.h>

#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#define BRISKO_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BRISKO_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define BRISKO_TEST_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define BRISKO_TEST_TSAN 1
#endif
#endif

namespace testsupport {

constexpr bool builtWithThreadSanitizer() {
#ifdef BRISKO_TEST_TSAN
    return true;
#else
    return false;
#endif
}

// AddressSanitizer keeps freed blocks aside and ThreadSanitizer shadows every byte the
// program touches, so in either build resident memory says nothing of the program's own.
constexpr bool builtWithSanitizer() {
#ifdef BRISKO_TEST_ASAN
    return true;
#else
    return builtWithThreadSanitizer();
#endif
}

// How many times longer a test waits for the program's work in this build: under
// ThreadSanitizer the pixel loops run some twenty times slower (a run that blurs a 12 MP
// photo across its width takes 7 s of processor time, and two and a half minutes there).
constexpr int slowdown() { return builtWithThreadSanitizer() ? 10 : 1; }

inline constexpr const char* kSanitizerMemoryNote =
    "a sanitizer's own memory is counted in resident memory here, so it says nothing of the program's";

// The property a test that starts another process records (see BRISKO_STARTS_A_PROCESS).
inline constexpr const char* kStartsProcessProperty = "starts_process";

// Whether the current test may go on to start another process: always, except under
// ThreadSanitizer when other tests share its process. There, Qt's way of starting a
// program (the child runs in the parent's memory until it executes the program) leaves
// the checker's record of the parent's main thread as a forked child's, so the checker
// stops the whole process at the next new thread ("starting new threads after
// multi-threaded fork"), and every test after it is lost; and a forked child that starts
// threads dies. Such a test records that it starts a process either way, so that
// bench/tsan.sh can find it in a suite's results and run it as the one test of a process.
inline bool mayStartProcess() {
    ::testing::Test::RecordProperty(kStartsProcessProperty, "yes");
    return !builtWithThreadSanitizer() || ::testing::UnitTest::GetInstance()->test_to_run_count() == 1;
}

// Whether the current test declared that it starts another process.
inline bool declaredStartingProcess() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    if (!test) return false;
    const ::testing::TestResult& result = *test->result();
    for (int i = 0; i < result.test_property_count(); ++i)
        if (std::strcmp(result.GetTestProperty(i).key(), kStartsProcessProperty) == 0) return true;
    return false;
}

}  // namespace testsupport

// The first line of every test (or fixture's SetUp) that starts another process: fork,
// QProcess, a helper that uses either.
#define BRISKO_STARTS_A_PROCESS()                                                                  \
    do {                                                                                           \
        if (!::testsupport::mayStartProcess())                                                     \
            GTEST_SKIP() << "starts another process, so under ThreadSanitizer it runs only alone"; \
    } while (false)
