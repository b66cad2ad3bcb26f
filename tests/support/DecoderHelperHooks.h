#pragma once
// Driving the program's decoder helpers from a test: their test hook, and a watcher that
// kills every helper that takes a request, as another program or the kernel short of
// memory would. Each suite that uses these links the image readers.
#include "platform/imageio/DecoderHelpers.h"

#include <QList>
#include <QSet>
#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

namespace testsupport {

// Sets the helpers' test hook for the helpers started from now on, and takes it away
// again; the helpers started meanwhile end with it.
class HelperHook {
public:
    explicit HelperHook(const char* value) {
        platform::endIdleDecoderHelpers();
        qputenv("BRISKO_DECODER_TEST", value);
    }
    ~HelperHook() { undo(); }
    HelperHook(const HelperHook&) = delete;
    HelperHook& operator=(const HelperHook&) = delete;
    void undo() {
        qunsetenv("BRISKO_DECODER_TEST");
        platform::setDecoderHelperTimeLimit(0);
        platform::endIdleDecoderHelpers();
    }
};

// The helper working on a request, once there is one (within ten seconds); -1 when none.
inline qint64 workingHelper() {
    for (int i = 0; i < 2000; ++i) {
        const QList<qint64> busy = platform::busyDecoderHelpers();
        if (!busy.isEmpty()) return busy.first();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
}

// While it lives, every helper that takes a request is killed with SIGKILL from outside;
// use it with a hook that makes them wait (pause=...), so that none answers first.
class HelperKiller {
public:
    HelperKiller()
        : thread_([this] {
              while (!stop_.load()) {
                  for (const qint64 pid : platform::busyDecoderHelpers()) {
                      if (killed_.contains(pid)) continue;
                      ::kill(pid_t(pid), SIGKILL);
                      killed_.insert(pid);
                      count_.fetch_add(1);
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(2));
              }
          }) {}
    ~HelperKiller() {
        stop_.store(true);
        thread_.join();
    }
    HelperKiller(const HelperKiller&) = delete;
    HelperKiller& operator=(const HelperKiller&) = delete;
    int killed() const { return count_.load(); }

private:
    std::atomic<bool> stop_{false};
    std::atomic<int> count_{0};
    QSet<qint64> killed_;  // the watcher's own
    std::thread thread_;
};

}  // namespace testsupport
