#pragma once
// The record a run keeps while it goes on, in the user's data folder: the folders it makes
// files in and the Trash entries it is in the middle of making. A run that ends removes its
// record. One that did not end (the process killed, the power gone) leaves it behind, and
// the next start of the program clears what that run left: its temporary files in those
// folders, and the Trash entries it began and never finished. Only what the record names
// is looked at, so nothing of the user's or of another program's is ever touched.
//
// A run is going on for as long as it holds the lock of its record (an flock on a file
// beside it, which the kernel lets go when the process ends however it ends). That holds
// whatever process id the run has, in whatever PID namespace (a sandboxed copy of the
// program sharing the home): nothing a run whose lock is held made is cleared, taken over
// or reused. The record's name gives the run its mark, which its temporary files carry.
//
// The record is rewritten whole under another name and renamed into place at each change,
// so a kill at any moment leaves the old record or the new one. Records of earlier versions
// (named after a process id, with no lock) are still read and cleared once their process is
// gone.
#include <QList>
#include <QString>
#include <memory>
#include <mutex>

#include "platform/workspace/Trash.h"

namespace platform {

class RunRecord : public TrashEntryWatcher {
public:
    // Where the records are kept: "runs" in the application's data folder.
    static QString recordsFolder();

    // A new record of a run in `folder` (made when missing), locked for as long as it
    // lives; null, with a log line, when it cannot be written (the run goes on without one).
    static std::shared_ptr<RunRecord> begin(const QString& folder = recordsFolder());
    // Lets go of the lock. A record dropped without end() stays, as a killed run's does, and
    // the next start clears after it.
    ~RunRecord() override;
    RunRecord(const RunRecord&) = delete;
    RunRecord& operator=(const RunRecord&) = delete;

    // The run has ended: the record is removed, and what comes later is not recorded.
    void end();

    // A folder the run is about to make files in (recorded once).
    void addOutputFolder(const QString& folder);

    QByteArray temporaryMark() const override { return mark_; }
    void temporariesIn(const QString& folder) override { addOutputFolder(folder); }
    bool temporariesEnded(const QByteArray& mark) override;
    void trashEntryBegins(const TrashEntryInProgress& entry) override;
    void trashEntryEnds(const QString& infoPath) override;
    bool takeOverFromEnded(const QString& infoPath,
                           const std::function<bool(const TrashEntryInProgress& left)>& takeOver) override;

    QString path() const { return path_; }

    // What a start cleared after the runs that did not end.
    struct Cleared {
        int records = 0;      // records of runs that are over
        int temporaries = 0;  // temporary files removed from their folders
        int trashEntries = 0;  // unfinished Trash entries taken away
    };
    // Clears after every run recorded in `folder` that is over (its lock free), and removes
    // its record; records of runs still going (this program started twice, or a copy of it
    // in a sandbox) stay.
    static Cleared clearAfterUnfinishedRuns(const QString& folder = recordsFolder());

private:
    RunRecord(QString folder, QByteArray mark, int lock);
    bool write();

    const QString folder_;
    const QByteArray mark_;
    const QString path_;
    int lock_;  // held from begin to the end of the record
    std::mutex mutex_;
    bool ended_ = false;
    QList<QString> folders_;
    QList<TrashEntryInProgress> entries_;
};

}  // namespace platform
