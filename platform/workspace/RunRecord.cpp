#include "platform/workspace/RunRecord.h"

#include "platform/foundation/FileSync.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NativeNames.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/TemporaryFiles.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

const QByteArray kFirstLine = "brisko run record 1";
const QString kNewSuffix = QStringLiteral(".new");

// A path's bytes as one word of the record, and back.
QByteArray word(const QString& path) { return encodePath(path).toPercentEncoding("/"); }
QString pathOf(const QByteArray& word) { return decodePath(QByteArray::fromPercentEncoding(word)); }

// When the process started, in clock ticks since the machine did (field 22 of its stat);
// 0 when it is not running.
quint64 startTimeOf(pid_t process) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(process));
    if (!stat.open(QIODevice::ReadOnly)) return 0;
    const QByteArray line = stat.readAll();
    // The name in parentheses may hold blanks and parentheses of its own.
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0) return 0;
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    return fields.size() > 19 ? fields.at(19).toULongLong() : 0;
}

struct ReadRecord {
    pid_t process = 0;
    quint64 started = 0;
    QList<QString> folders;
    QList<TrashEntryInProgress> entries;
};

ReadRecord readRecord(const QString& path) {
    ReadRecord record;
    QFile file;
    if (!openFile(file, path)) return record;
    const QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.isEmpty() || lines.first() != kFirstLine) return record;
    for (const QByteArray& line : lines) {
        const QList<QByteArray> w = line.split(' ');
        if (w.first() == "process" && w.size() == 3) {
            record.process = pid_t(w.at(1).toLongLong());
            record.started = w.at(2).toULongLong();
        } else if (w.first() == "folder" && w.size() == 2) {
            record.folders << pathOf(w.at(1));
        } else if (w.first() == "trash" && w.size() == 6) {
            record.entries << TrashEntryInProgress{pathOf(w.at(2)), pathOf(w.at(3)), pathOf(w.at(4)), w.at(5),
                                                   w.at(1) == "1"};
        }
    }
    return record;
}

// Whether the process a record names still runs: the same id, started at the same time.
bool stillRunning(pid_t process, quint64 started) {
    if (process <= 0) return false;
    const quint64 now = startTimeOf(process);
    return now != 0 && now == started;
}

}  // namespace

QString RunRecord::recordsFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + QStringLiteral("/runs");
}

RunRecord::RunRecord(QString path, pid_t process, quint64 started)
    : path_(std::move(path)), process_(process), started_(started) {}

std::shared_ptr<RunRecord> RunRecord::begin(const QString& folder, pid_t process) {
    if (process <= 0) process = ::getpid();
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        log(u"%@: the record of the run could not be made; the run goes on without it", displayPath(folder));
        return nullptr;
    }
    QByteArray name = encodePath(folder) + "/run-" + QByteArray::number(qint64(process)) + "-XXXXXX.record";
    const int fd = ::mkostemps(name.data(), 7, O_CLOEXEC);
    if (fd < 0) {
        log(u"%@: the record of the run could not be made; the run goes on without it", displayPath(folder));
        return nullptr;
    }
    ::close(fd);
    std::shared_ptr<RunRecord> record(new RunRecord(decodePath(name), process, startTimeOf(process)));
    const std::lock_guard<std::mutex> lock(record->mutex_);
    if (!record->write()) {
        ::unlink(name.constData());
        return nullptr;
    }
    return record;
}

bool RunRecord::write() {
    QByteArray text = kFirstLine + '\n';
    text += "process " + QByteArray::number(qint64(process_)) + ' ' + QByteArray::number(started_) + '\n';
    for (const QString& folder : folders_) text += "folder " + word(folder) + '\n';
    for (const TrashEntryInProgress& e : entries_) {
        text += "trash " + QByteArray(e.linked ? "1 " : "0 ") + word(e.infoPath) + ' ' + word(e.trashedPath) + ' ' +
                word(e.originalPath) + ' ' + e.recordedPath + '\n';  // percent-encoded already
    }
    const QByteArray next = encodePath(path_ + kNewSuffix);
    const int fd = ::open(next.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool ok = fd >= 0 && writeWhole(fd, text);
    if (fd >= 0 && ::close(fd) != 0) ok = false;
    ok = ok && std::rename(next.constData(), encodePath(path_).constData()) == 0;
    if (!ok) {
        ::unlink(next.constData());
        log(u"%@: the record of the run could not be written (%@)", displayPath(path_),
            QString::fromLocal8Bit(std::strerror(errno)));
    }
    return ok;
}

void RunRecord::end() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (ended_) return;
    ended_ = true;
    ::unlink(encodePath(path_).constData());
    ::unlink(encodePath(path_ + kNewSuffix).constData());
}

void RunRecord::addOutputFolder(const QString& folder) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (ended_ || folders_.contains(folder)) return;
    folders_ << folder;
    write();
}

void RunRecord::trashEntryBegins(const TrashEntryInProgress& entry) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (ended_) return;
    entries_ << entry;
    write();
}

void RunRecord::trashEntryEnds(const QString& infoPath) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (ended_) return;
    if (entries_.removeIf([&](const TrashEntryInProgress& e) { return e.infoPath == infoPath; }) > 0) write();
}

RunRecord::Cleared RunRecord::clearAfterUnfinishedRuns(const QString& folder) {
    static const QRegularExpression recordName(QStringLiteral("^run-(\\d+)-.+\\.record(\\.new)?$"));
    Cleared cleared;
    QStringList names;
    if (DIR* dir = ::opendir(encodePath(folder).constData())) {
        while (const dirent* e = ::readdir(dir)) names << decodePath(QByteArray(e->d_name));
        ::closedir(dir);
    }
    for (const QString& name : names) {
        const QRegularExpressionMatch match = recordName.match(name);
        if (!match.hasMatch()) continue;
        const QString path = folder + u'/' + name;
        const bool draft = !match.captured(2).isEmpty();
        ReadRecord record = draft ? ReadRecord{} : readRecord(path);
        if (record.process <= 0) record.process = pid_t(match.captured(1).toLongLong());
        const quint64 started = record.started ? record.started : startTimeOf(record.process);
        if (stillRunning(record.process, started)) continue;
        if (!draft) {
            for (const QString& output : record.folders) cleared.temporaries += removeStaleTemporaries(output);
            for (const TrashEntryInProgress& entry : record.entries) {
                // The entry's draft, too, may have been left in the Trash's "info" folder.
                removeStaleTemporaries(stringByDeletingLastPathComponent(entry.infoPath));
                if (trash::clearUnfinished(entry)) ++cleared.trashEntries;
            }
            ++cleared.records;
        }
        ::unlink(encodePath(path).constData());
    }
    if (cleared.records > 0)
        log(u"cleared after %d runs that did not end: %d temporary files, %d unfinished Trash entries", cleared.records,
            cleared.temporaries, cleared.trashEntries);
    return cleared;
}

}  // namespace platform
