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
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Records of earlier versions name their process and its start time, and have no lock.
const QByteArray kProcessRecordLine = "brisko run record 1";
const QByteArray kFirstLine = "brisko run record 2";
const QString kNewSuffix = QStringLiteral(".new");
// A lock file while it is made, locked before it takes its name.
const QByteArray kLockDraftStem = ".run-";

// A path's bytes as one word of the record, and back.
QByteArray word(const QString& path) { return encodePath(path).toPercentEncoding("/"); }
QString pathOf(const QByteArray& word) { return decodePath(QByteArray::fromPercentEncoding(word)); }

// A run's mark: "r" and letters or digits (never a process id, which older versions put in
// the same place of their file names).
bool isRunMark(const QByteArray& mark) {
    if (mark.size() < 2 || mark.size() > 64 || mark.front() != 'r') return false;
    for (const char c : mark) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return false;
    }
    return true;
}

// The mark of a lock file's name ("run-<mark>.lock"); empty for any other name. Read by
// hand, without a regular expression: this runs on the run's threads too.
QByteArray markOfLock(const QByteArray& name) {
    if (!name.startsWith("run-") || !name.endsWith(".lock")) return {};
    const QByteArray mark = name.mid(4, name.size() - 9);
    return isRunMark(mark) ? mark : QByteArray();
}

QString lockPath(const QString& folder, const QByteArray& mark) {
    return folder + QStringLiteral("/run-") + QString::fromLatin1(mark) + QStringLiteral(".lock");
}
QString recordPath(const QString& folder, const QByteArray& mark) {
    return folder + QStringLiteral("/run-") + QString::fromLatin1(mark) + QStringLiteral(".record");
}

QList<QByteArray> namesIn(const QString& folder) {
    QList<QByteArray> names;
    if (DIR* dir = ::opendir(encodePath(folder).constData())) {
        while (const dirent* e = ::readdir(dir)) names << QByteArray(e->d_name);
        ::closedir(dir);
    }
    return names;
}

// Takes the lock of the file at `path` without waiting (`operation` LOCK_EX or LOCK_SH): the
// descriptor that holds it, or -1 when another process holds it (its run goes on) or the
// file is gone. The file must still have that name once locked: one that a start has
// cleared and removed meanwhile is no run's lock any more.
int lockIfFree(const QString& path, int operation) {
    const QByteArray name = encodePath(path);
    const int fd = ::open(name.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return -1;
    struct stat held {}, named {};
    if (::flock(fd, operation | LOCK_NB) != 0 || ::fstat(fd, &held) != 0 || ::lstat(name.constData(), &named) != 0 ||
        held.st_ino != named.st_ino || held.st_dev != named.st_dev) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// When the process started, in clock ticks since the machine did (field 22 of its stat);
// 0 when it is not running. Only for the records of earlier versions.
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
    pid_t process = 0;  // records of earlier versions
    quint64 started = 0;
    QList<QString> folders;
    QList<TrashEntryInProgress> entries;
};

ReadRecord readRecord(const QString& path) {
    ReadRecord record;
    QFile file;
    if (!openFile(file, path)) return record;
    const QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.isEmpty() || (lines.first() != kFirstLine && lines.first() != kProcessRecordLine)) return record;
    for (const QByteArray& line : lines) {
        const QList<QByteArray> w = line.split(' ');
        if (w.first() == "process" && w.size() == 3) {
            record.process = pid_t(w.at(1).toLongLong());
            record.started = w.at(2).toULongLong();
        } else if (w.first() == "folder" && w.size() == 2) {
            record.folders << pathOf(w.at(1));
        } else if (w.first() == "trash" && (w.size() == 6 || w.size() == 8)) {
            TrashEntryInProgress entry;
            entry.infoPath = pathOf(w.at(2));
            entry.trashedPath = pathOf(w.at(3));
            entry.originalPath = pathOf(w.at(4));
            entry.recordedPath = w.at(5);
            entry.linked = w.at(1) == "1";
            if (w.size() == 8) {
                entry.infoInode = w.at(6).toULongLong();
                entry.deletionDate = w.at(7) == "-" ? QByteArray() : QByteArray::fromPercentEncoding(w.at(7));
            }
            record.entries << entry;
        }
    }
    return record;
}

// Whether the process a record of an earlier version names still runs: the same id,
// started at the same time.
bool stillRunning(pid_t process, quint64 started) {
    if (process <= 0) return false;
    const quint64 now = startTimeOf(process);
    return now != 0 && now == started;
}

// Clears what the run of `record` left: its temporary files (those marked `mark`, and for a
// record of an earlier version, those of processes that are gone) and its unfinished Trash
// entries with their drafts.
void clearAfter(const ReadRecord& record, const QByteArray& mark, RunRecord::Cleared& cleared) {
    const auto ended = [&mark](const QByteArray& other) { return !mark.isEmpty() && other == mark; };
    for (const QString& output : record.folders) cleared.temporaries += removeStaleTemporaries(output, ended);
    for (const TrashEntryInProgress& entry : record.entries) {
        // The entry's draft, too, may have been left in the Trash's "info" folder.
        removeStaleTemporaries(stringByDeletingLastPathComponent(entry.infoPath), ended);
        if (trash::clearUnfinished(entry)) ++cleared.trashEntries;
    }
    ++cleared.records;
}

// Clears after the run marked `mark` in `folder` when it is over, and removes its record.
void clearIfOver(const QString& folder, const QByteArray& mark, RunRecord::Cleared& cleared) {
    const int fd = lockIfFree(lockPath(folder, mark), LOCK_EX);
    if (fd < 0) return;
    const QString record = recordPath(folder, mark);
    clearAfter(readRecord(record), mark, cleared);
    ::unlink(encodePath(record).constData());
    ::unlink(encodePath(record + kNewSuffix).constData());
    ::unlink(encodePath(lockPath(folder, mark)).constData());
    ::close(fd);
}

}  // namespace

QString RunRecord::recordsFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + QStringLiteral("/runs");
}

RunRecord::RunRecord(QString folder, QByteArray mark, int lock)
    : folder_(std::move(folder)), mark_(std::move(mark)), path_(recordPath(folder_, mark_)), lock_(lock) {}

RunRecord::~RunRecord() {
    if (lock_ >= 0) ::close(lock_);
}

std::shared_ptr<RunRecord> RunRecord::begin(const QString& folder) {
    const auto failed = [&folder] {
        log(u"%@: the record of the run could not be made; the run goes on without it", displayPath(folder));
        return nullptr;
    };
    if (folder.isEmpty() || !QDir().mkpath(folder)) return failed();
    // The lock is held before the file has the name a start looks for, so no start ever
    // finds it free while the run goes on.
    QByteArray draft = encodePath(folder) + '/' + kLockDraftStem + "XXXXXX";
    const int fd = ::mkostemp(draft.data(), O_CLOEXEC);
    if (fd < 0) return failed();
    const QByteArray mark = 'r' + draft.right(6);
    int error = 0;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !trash::renameNoReplace(decodePath(draft), lockPath(folder, mark), &error)) {
        ::unlink(draft.constData());
        ::close(fd);
        return failed();
    }
    std::shared_ptr<RunRecord> record(new RunRecord(folder, mark, fd));
    const std::lock_guard<std::mutex> lock(record->mutex_);
    if (!record->write()) {
        ::unlink(encodePath(lockPath(folder, mark)).constData());
        return nullptr;
    }
    return record;
}

bool RunRecord::write() {
    QByteArray text = kFirstLine + '\n';
    for (const QString& folder : folders_) text += "folder " + word(folder) + '\n';
    for (const TrashEntryInProgress& e : entries_) {
        text += "trash " + QByteArray(e.linked ? "1 " : "0 ") + word(e.infoPath) + ' ' + word(e.trashedPath) + ' ' +
                word(e.originalPath) + ' ' + e.recordedPath /* percent-encoded already */ + ' ' +
                QByteArray::number(qulonglong(e.infoInode)) + ' ' +
                (e.deletionDate.isEmpty() ? QByteArray("-") : e.deletionDate.toPercentEncoding()) + '\n';
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
    // The lock goes last: a record is never without it.
    ::unlink(encodePath(lockPath(folder_, mark_)).constData());
    ::close(lock_);
    lock_ = -1;
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

bool RunRecord::temporariesEnded(const QByteArray& mark) {
    if (mark == mark_ || !isRunMark(mark)) return false;
    const int fd = lockIfFree(lockPath(folder_, mark), LOCK_SH);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool RunRecord::takeOverFromEnded(const QString& infoPath,
                                  const std::function<bool(const TrashEntryInProgress& left)>& takeOver) {
    const auto entryIn = [&infoPath](const QString& record) -> std::optional<TrashEntryInProgress> {
        for (const TrashEntryInProgress& e : readRecord(record).entries) {
            if (e.infoPath == infoPath) return e;
        }
        return std::nullopt;
    };
    for (const QByteArray& name : namesIn(folder_)) {
        const QByteArray mark = markOfLock(name);
        if (mark.isEmpty() || mark == mark_ || !entryIn(recordPath(folder_, mark))) continue;
        // Held while the entry is taken over: no start clears after that run meanwhile, and
        // no other run takes the same entry.
        const int fd = lockIfFree(lockPath(folder_, mark), LOCK_EX);
        if (fd < 0) return false;  // that run goes on
        const std::optional<TrashEntryInProgress> left = entryIn(recordPath(folder_, mark));
        const bool taken = left && takeOver(*left);
        ::close(fd);
        return taken;
    }
    return false;
}

RunRecord::Cleared RunRecord::clearAfterUnfinishedRuns(const QString& folder) {
    static const QRegularExpression processRecordName(QStringLiteral("^run-(\\d+)-.+\\.record(\\.new)?$"));
    Cleared cleared;
    for (const QByteArray& bytes : namesIn(folder)) {
        if (const QByteArray mark = markOfLock(bytes); !mark.isEmpty()) {
            clearIfOver(folder, mark, cleared);
            continue;
        }
        const QString name = decodePath(bytes);
        const QString path = folder + u'/' + name;
        if (bytes.startsWith(kLockDraftStem) && bytes.size() == kLockDraftStem.size() + 6) {
            // A lock file a killed run was making: it had no record yet.
            if (const int fd = lockIfFree(path, LOCK_EX); fd >= 0) {
                ::unlink(encodePath(path).constData());
                ::close(fd);
            }
            continue;
        }
        const QRegularExpressionMatch match = processRecordName.match(name);
        if (!match.hasMatch()) continue;
        // A record of an earlier version: its run is over once its process is gone.
        const bool draft = !match.captured(2).isEmpty();
        ReadRecord record = draft ? ReadRecord{} : readRecord(path);
        if (record.process <= 0) record.process = pid_t(match.captured(1).toLongLong());
        const quint64 started = record.started ? record.started : startTimeOf(record.process);
        if (stillRunning(record.process, started)) continue;
        if (!draft) clearAfter(record, QByteArray(), cleared);
        ::unlink(encodePath(path).constData());
    }
    if (cleared.records > 0)
        log(u"cleared after %d runs that did not end: %d temporary files, %d unfinished Trash entries", cleared.records,
            cleared.temporaries, cleared.trashEntries);
    return cleared;
}

}  // namespace platform
