#pragma once
// A saved reference to a photo file: its path and the identity of the file it named
// (device and inode, size, modification time), stored as a small binary property list.
// Resolving fails when nothing is at the path any more; a different file now at the
// path resolves but is reported as stale.
#include <QByteArray>
#include <QString>

struct Bookmark {
    QString path;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modificationTime = 0;  // milliseconds since the epoch

    // The bookmark data of a file; empty (logged) when the path names no regular file.
    static QByteArray bookmarkDataForPath(const QString& path);
    // The path a bookmark names, or "" when the data is damaged or the file is gone.
    // *isStale, when given, says whether the file found differs from the one saved.
    static QString resolveBookmarkData(const QByteArray& data, bool* isStale = nullptr);

    static Bookmark fromData(const QByteArray& data, bool* ok);
    QByteArray toData() const;
};
