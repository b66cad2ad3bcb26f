#pragma once
// The file system facts of one file, read without following nothing but the path itself
// (symbolic links are followed, like the attribute readers of the photo records expect).
#include <QDateTime>
#include <QString>
#include <cstdint>

namespace platform {

struct FileAttributes {
    bool exists = false;
    bool isDirectory = false;
    std::uint64_t size = 0;
    QDateTime modificationDate;
    // Which file it is: another file put in its place has another inode.
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    // The birth time where the file system keeps one, else the modification date, so a
    // readable file always has both dates.
    QDateTime creationDate;
};

// An unreadable or missing path gives exists == false, size 0 and invalid dates.
FileAttributes fileAttributes(const QString& path);

// What a reader can tell a later change of a file by: whether it was there, its size, its
// modification time and which file it is (device and inode, so another file put in its
// place with the same size and time counts as a change), taken before a read began. A file
// that differs from the stamp has changed since, and what was read of it is stale.
struct FileStamp {
    bool exists = false;
    std::uint64_t size = 0;
    QDateTime modified;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    static FileStamp of(const QString& path);
    bool operator==(const FileStamp&) const = default;
};

bool fileExists(const QString& path);
bool isDirectory(const QString& path);

// Whether two paths name one file. Existing files are compared by their identity on disk
// (device and inode), so a different spelling on a case-insensitive volume, a hard link or
// a symbolic link counts as the same file; paths that do not both exist are compared as
// cleaned absolute paths.
bool isSameFile(const QString& a, const QString& b);

// Sets the modification (and access) time. Linux has no settable birth time, so the
// creation date of a written file cannot be given back; returns false on failure.
bool setModificationDate(const QString& path, const QDateTime& date);

}  // namespace platform
