#include "records/ImageFileInfo.h"

#include "platform/foundation/FileAttributes.h"
#include "platform/foundation/Paths.h"
#include "records/ExifInfo.h"

std::shared_ptr<ImageFileInfo> ImageFileInfo::initWithPathForFile(const QString& path) {
    auto info = std::make_shared<ImageFileInfo>();
    info->commonInit();
    info->filePath = path;
    info->fileName = platform::lastPathComponent(path);
    const platform::FileAttributes a = platform::fileAttributes(path);
    info->fileSize = a.size;
    info->modDate = a.modificationDate;
    info->createDate = a.creationDate;
    info->fileType = fileTypeForName(info->fileName);
    return info;
}

void ImageFileInfo::commonInit() {
    filePath.clear();
    modDate = QDateTime();
    createDate = QDateTime();
    fileName.clear();
    fileSize = 0;
    fileType.clear();
    exifInfo.reset();
    isExifInfoUpdated = false;
}

QString ImageFileInfo::fileTypeForName(const QString& fileName) {
    const QString ext = platform::pathExtension(fileName);
    if (ext.toLower() == u"png") return QStringLiteral("Portable Network Graphic");
    return ext.toUpper();
}

void ImageFileInfo::updateExifInfo() {
    if (isExifInfoUpdated) return;
    exifInfo = ExifInfo::initWithFile(filePath);
    isExifInfoUpdated = true;
}
