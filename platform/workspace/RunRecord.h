#pragma once
// The record a run keeps while it goes on, in the user's data folder: the folders it makes
// files in and the Trash entries it is in the middle of making. A run that ends removes its
// record. One that did not end (the process killed, the power gone) leaves it behind, and
// the next start of the program clears what that run left: its temporary files in those
// folders, and the Trash entries it began and never finished. Only what the record names
// is looked at, so nothing of the user's or of another program's is ever touched.
//
// The record is rewritten whole under another name and renamed into place at each change,
// so a kill at any moment leaves the old record or the new one.
#include <QList>
#include <QString>
#include <memory>
#include <mutex>
#include <sys/types.h>

#include "platform/workspace/Trash.h"

namespace platform {

class RunRecord : public TrashEntryWatcher {
public:
    // Where the records are kept: "runs" in the application's data folder.
    static QString recordsFolder();

    // A new record of a run of this process in `folder` (made when missing); null, with a
    // log line, when it cannot be written (the run goes on without one). `process` stands
    // for the process the run belongs to when it is not this one.
    static std::shared_ptr<RunRecord> begin(const QString& folder = recordsFolder(), pid_t process = 0);

    // The run has ended: the record is removed, and what comes later is not recorded.
    // Dropping a record without ending it leaves it, as a killed run does.
    void end();

    // A folder the run is about to make files in (recorded once).
    void addOutputFolder(const QString& folder);
    void trashEntryBegins(const TrashEntryInProgress& entry) override;
    void trashEntryEnds(const QString& infoPath) override;

    QString path() const { return path_; }

    // What a start cleared after the runs that did not end.
    struct Cleared {
        int records = 0;      // records of runs whose process is gone
        int temporaries = 0;  // temporary files removed from their folders
        int trashEntries = 0;  // unfinished Trash entries taken away
    };
    // Clears after every run recorded in `folder` whose process is gone, and removes its
    // record; records of runs still going (this program started twice) stay.
    static Cleared clearAfterUnfinishedRuns(const QString& folder = recordsFolder());

private:
    RunRecord(QString path, pid_t process, quint64 started);
    bool write();

    const QString path_;
    const pid_t process_;
    const quint64 started_;  // the process's start time, so a reused process id is told apart
    std::mutex mutex_;
    bool ended_ = false;
    QList<QString> folders_;
    QList<TrashEntryInProgress> entries_;
};

}  // namespace platform
