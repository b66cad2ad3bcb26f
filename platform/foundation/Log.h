#pragma once
// The application log: one line per call on standard error, prefixed with the time and
// the process id. The shell reopens standard error on the log file at start-up.
//
// Logging never throws: a line is often written on the way out of a failure, a memory
// shortage among them, where an exception from the log would take the thread down with
// it. A line that cannot be made (no memory to format it) is replaced by a fixed one.
#include "platform/foundation/Format.h"

namespace platform {

void logText(const QString& text) noexcept;
// The fixed line that stands for one that could not be made.
void logLineLost() noexcept;

// Formats like platform::format and writes one line.
template <class... A>
void log(QStringView fmt, const A&... args) noexcept {
    try {
        logText(format(fmt, args...));
    } catch (...) {
        logLineLost();
    }
}

}  // namespace platform
