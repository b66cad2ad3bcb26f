#pragma once
// The application log: one line per call on standard error, prefixed with the time and
// the process id. The shell reopens standard error on the log file at start-up.
#include "platform/foundation/Format.h"

namespace platform {

void logText(const QString& text);

// Formats like platform::format and writes one line.
template <class... A>
void log(QStringView fmt, const A&... args) {
    logText(format(fmt, args...));
}

}  // namespace platform
