#pragma once
// Moving a user's file to the desktop's Trash, so it can be put back from the file manager.
//
// A file on the volume of the home Trash ($XDG_DATA_HOME/Trash) goes there; a file on another
// volume goes to that volume's "<top>/.Trash/<uid>" when "<top>/.Trash" is a real folder with
// the sticky bit, else to "<top>/.Trash-<uid>". Its information file (where it came from, when)
// is written completely and flushed before the file itself is moved, so the Trash never holds
// a file it cannot put back. A name already taken in the Trash gets a number, tried a bounded
// number of times. Every failure is reported with its reason, and a file that could not go to
// the Trash stays where it was: nothing is ever deleted instead.
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

namespace platform {

// What tells one file's contents from another's without reading them: the same device and
// inode, size and modification time.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = -1;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileIdentity&) const = default;
    // The file at the path itself (a symbolic link is not followed); nullopt when missing.
    static std::optional<FileIdentity> of(const QString& path);
};

// One file put in the Trash (or why not).
struct TrashEntry {
    bool ok = false;
    QString trashedPath;  // the file's place in the Trash's "files" folder
    QString infoPath;     // its ".trashinfo" in the "info" folder
    QString error;        // why it failed, in words for the photo's status and the log
    // The file system takes no second name for a file (link failed); the caller may move
    // the file instead.
    bool linksUnsupported = false;
    bool linked = false;  // the file also stays at its own path (linkIntoTrash)
};

// A Trash entry while it is being made: from the moment its information file may exist
// until its file is in the Trash (or the entry was taken back). A process killed in
// between leaves an information file without its file (or, for a linked entry, a second
// name of a file that was never replaced); clearUnfinished takes such leftovers away.
struct TrashEntryInProgress {
    QString infoPath;
    QString trashedPath;
    QString originalPath;
    QByteArray recordedPath;  // the information file's "Path=" value, as written
    bool linked = false;
    // What tells the information file this entry wrote from any put at its name since (by
    // another process taking the name over, say): its inode and its "DeletionDate=" value.
    // Unknown (0, empty) in the records of earlier versions.
    std::uint64_t infoInode = 0;
    QByteArray deletionDate;
};

// Hears of entries while they are made: the record of the run that makes them, which also
// knows whether another run has ended.
class TrashEntryWatcher {
public:
    virtual ~TrashEntryWatcher() = default;
    // The mark of the watcher's temporary files (see platform::temporaryFileTemplate).
    virtual QByteArray temporaryMark() const = 0;
    // Before a temporary file (an information file's draft) is made in `folder`.
    virtual void temporariesIn(const QString& folder) = 0;
    // Whether the run whose temporary files carry `mark` is known to have ended.
    virtual bool temporariesEnded(const QByteArray& mark) = 0;
    // Before the information file takes the entry's name.
    virtual void trashEntryBegins(const TrashEntryInProgress& entry) = 0;
    // Once the information file holds the entry's name, before its file goes to the Trash.
    virtual void trashEntryNamed(const TrashEntryInProgress&) {}
    // Once the entry is complete, or taken back.
    virtual void trashEntryEnds(const QString& infoPath) = 0;
    // When the entry at `infoPath`, left unfinished, was begun by a run known to have ended:
    // calls `takeOver` with that run's entry, while that run's leftovers can be neither
    // cleared nor taken over by anyone else, and says what it returned. False, without a
    // call, when no such run is known.
    virtual bool takeOverFromEnded(const QString& infoPath,
                                   const std::function<bool(const TrashEntryInProgress& left)>& takeOver) = 0;
};

namespace trash {

// Moves the file at `path` into the Trash. With `expected`, the file must still be that file
// (before and after the move; a file swapped in meanwhile is put back and reported).
TrashEntry moveToTrash(const QString& path, const std::optional<FileIdentity>& expected = std::nullopt,
                       TrashEntryWatcher* watcher = nullptr);

// Puts the file in the Trash under a second name while it stays at `path`, so that a
// replacement can then be renamed over `path` in one step: at no moment is the file gone
// from both places. Same checks and reports as moveToTrash. The watcher hears of the
// entry's end from the caller, once the replacement has taken the name (or the entry
// was undone).
TrashEntry linkIntoTrash(const QString& path, const std::optional<FileIdentity>& expected = std::nullopt,
                         TrashEntryWatcher* watcher = nullptr);

// Takes away what an entry that a process began and never finished left: an information
// file (still the one it wrote: the same path recorded and, where the entry says, the same
// inode and deletion date) whose file is not in the Trash, and, for a linked entry whose
// file was never replaced, the second name in the Trash with its information file. A
// complete entry, and one another process has taken over since, is left alone. Returns
// whether anything was removed.
bool clearUnfinished(const TrashEntryInProgress& entry);

// Takes an entry out of the Trash again, after the step it prepared failed: a linked entry
// is dropped, a moved one goes back to `originalPath` (never over a file that is there now).
bool undo(const TrashEntry& entry, const QString& originalPath);

// The Trash folder that takes files from `path`'s volume, made when missing; empty (and
// `error` set) when there is none that may be used.
QString trashFolderFor(const QString& path, QString* error = nullptr);

// Renames `from` to `to` unless something is at `to`; false with `error` = errno
// (EEXIST when something was there).
bool renameNoReplace(const QString& from, const QString& to, int* error);

}  // namespace trash

}  // namespace platform
