#pragma once
// A short-lived view of one file (name, byte size, dates, type text) that builds the
// file's ExifInfo on demand. Made for one purpose and dropped by its maker.
#include <QDateTime>
#include <QString>
#include <cstdint>
#include <memory>

struct ExifInfo;

struct ImageFileInfo {
    QString filePath;
    QDateTime modDate;
    QDateTime createDate;
    QString fileName;
    std::uint64_t fileSize = 0;
    QString fileType;  // "Portable Network Graphic" for png, else the extension upper-cased
    std::shared_ptr<ExifInfo> exifInfo;
    bool isExifInfoUpdated = false;

    // An unreadable file gives size 0 and invalid dates.
    static std::shared_ptr<ImageFileInfo> initWithPathForFile(const QString& path);

    void commonInit();
    // Builds exifInfo once; clear isExifInfoUpdated to force a rebuild.
    void updateExifInfo();
    void setIsExifInfoUpdated(bool updated) { isExifInfoUpdated = updated; }

    // The type text shown for a file name ("Portable Network Graphic", "JPG", "").
    static QString fileTypeForName(const QString& fileName);
};
