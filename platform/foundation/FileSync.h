#pragma once
// Making a finished file survive a power loss.
#include <QByteArray>
#include <QString>

namespace platform {

// Flushes a file's data and the folder entry that names it to the disk (fsync on both),
// so a rename that put it there is durable too. False, with one log line, when either
// could not be opened or flushed.
bool syncFileAndFolder(const QString& path);

// Writes all of `bytes` to the descriptor, going on after short writes and interruptions;
// false (errno set) when the system refuses.
bool writeWhole(int fd, const QByteArray& bytes);

}  // namespace platform
