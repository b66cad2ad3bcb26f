#pragma once
// One photo of the batch: made once when the photo is added, then read by every screen,
// by the engine and by the run, which writes the photo's result into it.
#include <QDateTime>
#include <QImage>
#include <QString>
#include <QVariantMap>
#include <memory>

#include "platform/foundation/FileAttributes.h"
#include "platform/imageio/ImageIO.h"

struct PhotoFile {
    // Result of the run for this photo (processStatus).
    enum ProcessStatus : int {
        NotProcessed = 0,
        Processed = 1,
        Failed = 2,
        Skipped = 3,  // the output file already exists
    };

    bool isIphotosNode = false;  // came from a photo library, not the file system
    int processStatus = NotProcessed;
    QString filePath;
    QString fileContainerFolderName;
    QDateTime fileCreationDate;
    QDateTime fileModifiedDate;
    QString fileExtension;  // case kept, no dot, "" when none
    QString fileName;
    QString fileSizeAsString;
    QString fileURL;  // the same path string as filePath
    QImage thumbnailImg;
    double height = 0;  // upright pixel height (after the orientation tag)
    double width = 0;   // upright pixel width
    double fileSizeInBytes = 0;
    QString processInfoMessage;
    QString originalFileName;  // the name shown to the user
    // A full read of the file failed (the add screen could not make its thumbnail, or a run
    // could not read it), although its header could be read; not stored. The mark holds for
    // the file as it was then (unreadableFile): once the file has changed (mended, replaced)
    // the photo is read afresh, see unreadableAsItIs.
    bool isUnreadable = false;
    platform::FileStamp unreadableFile;
    // Marks the photo unreadable as the file was when it failed (stamped before that read).
    void markUnreadable(const platform::FileStamp& failedOn);
    // Whether the mark still holds: a file that is no longer the one that failed drops it.
    bool unreadableAsItIs();
    QImage thumbnailForCollection;
    QVariantMap exifDict;  // image properties as read when the record was made

    // Reads the file's size, dates, image properties and upright pixel size. A file that
    // cannot be read gives zero sizes; the caller keeps the record only when width and
    // height are both greater than 0; so does one cut short while it is read, as a
    // reader finds it then. `reading` is how the image properties are read (its whileOpen
    // lets a test change the file under the reader).
    static std::shared_ptr<PhotoFile> initWithFileUrl(const QString& path,
                                                      const QString& originalFileName,
                                                      bool isIphoto,
                                                      const platform::DecodeOptions& reading = {});
    static std::shared_ptr<PhotoFile> initWithFileUrl(const QString& path, bool isIphoto);

    // The name people see: the shown name, else the file's name (records made outside an
    // add, such as a restored session, may carry none), with each byte of a name that is
    // not UTF-8 written \xNN.
    QString displayName() const;
};
