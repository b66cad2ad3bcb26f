#include "shell/TerminationRequests.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace {

// The pipe from the handler to the event loop; -1 until install() made it.
struct SignalPipe {
    int read = -1;
    int write = -1;
    std::once_flag made;
};

SignalPipe& signalPipe() {
    static SignalPipe pipe;
    return pipe;
}

void onTermination(int signal) {
    const int savedErrno = errno;
    const char number = char(signal);
    // Non-blocking: a pipe already full of requests needs no more.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe().write, &number, 1);
    errno = savedErrno;
}

}  // namespace

void TerminationRequests::install() {
    SignalPipe& p = signalPipe();
    std::call_once(p.made, [&p] {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
        p.read = fds[0];
        p.write = fds[1];
        struct sigaction action = {};
        action.sa_handler = onTermination;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(SIGTERM, &action, nullptr);
        sigaction(SIGINT, &action, nullptr);
    });
}

TerminationRequests::TerminationRequests(QObject* parent) : QObject(parent) {
    const int fd = signalPipe().read;
    if (fd < 0) return;
    notifier_ = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationRequests::readPipe);
}

void TerminationRequests::readPipe() {
    char numbers[16];
    for (ssize_t n; (n = ::read(signalPipe().read, numbers, sizeof numbers)) > 0;) {
        for (ssize_t i = 0; i < n; ++i) emit requested(int(numbers[i]));
    }
}

