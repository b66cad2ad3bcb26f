#include "records/PhotoFile.h"

#include "platform/foundation/Log.h"
#include "platform/foundation/NativeNames.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/Values.h"
#include "platform/imageio/ImageProperties.h"
#include "platform/imageio/VectorHeaders.h"
#include "records/CommonFunc.h"
#include "records/ImageFileInfo.h"

#include <optional>

namespace {

// Takes a positive vector size over the size from the properties, one dimension at a time.
void applyVectorSize(PhotoFile& photo, const std::optional<QSizeF>& size) {
    if (!size) return;
    platform::log(u"epsDict = %@", platform::format(u"{%@, %@}", size->width(), size->height()));
    if (size->width() > 0) photo.width = size->width();
    if (size->height() > 0) photo.height = size->height();
}

}  // namespace

void PhotoFile::markUnreadable(const platform::FileStamp& failedOn) {
    isUnreadable = true;
    unreadableFile = failedOn;
}

bool PhotoFile::unreadableAsItIs() {
    if (isUnreadable && !(platform::FileStamp::of(filePath) == unreadableFile)) {
        platform::log(u"%@ changed since it could not be read; it is read again", platform::displayPath(filePath));
        isUnreadable = false;
    }
    return isUnreadable;
}

QString PhotoFile::displayName() const {
    return platform::displayPath(originalFileName.isEmpty() ? fileName : originalFileName);
}

std::shared_ptr<PhotoFile> PhotoFile::initWithFileUrl(const QString& path, bool isIphoto) {
    return initWithFileUrl(path, QString(), isIphoto);
}

std::shared_ptr<PhotoFile> PhotoFile::initWithFileUrl(const QString& path,
                                                      const QString& originalFileName,
                                                      bool isIphoto,
                                                      const platform::DecodeOptions& reading) {
    auto photo = std::make_shared<PhotoFile>();
    PhotoFile& p = *photo;
    p.filePath = path;
    p.originalFileName = originalFileName;
    p.fileExtension = platform::pathExtension(path);
    p.fileName = platform::lastPathComponent(path);
    p.fileURL = path;
    p.fileContainerFolderName =
        platform::lastPathComponent(platform::stringByDeletingLastPathComponent(path));
    p.isIphotosNode = isIphoto;

    if (const auto info = ImageFileInfo::initWithPathForFile(path)) {
        p.fileSizeInBytes = double(info->fileSize);
        p.fileSizeAsString = CommonFunc::unitStringFromBytes(p.fileSizeInBytes, 0);
        p.fileCreationDate = info->createDate;
        p.fileModifiedDate = info->modDate;
    }

    // A name that is not UTF-8 is read through a descriptor opened by its bytes.
    const platform::ReadablePath readable(path);
    const QVariantMap props = platform::readImageProperties(readable.path(), reading);
    const int orientation = props.value(QString::fromLatin1(platform::kPropsOrientation)).toInt();
    const float pixelWidth =
        float(platform::numberValue(props.value(QString::fromLatin1(platform::kPropsPixelWidth))));
    const float pixelHeight =
        float(platform::numberValue(props.value(QString::fromLatin1(platform::kPropsPixelHeight))));
    // Orientations 5 to 8 show the stored picture turned by a quarter.
    if (orientation >= 5 && orientation <= 8) {
        p.width = pixelHeight;
        p.height = pixelWidth;
    } else {
        p.width = pixelWidth;
        p.height = pixelHeight;
    }

    // The extension test is exact on purpose: only these spellings are read as vector files.
    const QString& ext = p.fileExtension;
    if (ext == u"eps" || ext == u"EPS") applyVectorSize(p, platform::epsPictureSize(readable.path()));
    if (ext == u"pict" || ext == u"PICT" || ext == u"pct" || ext == u"PCT")
        applyVectorSize(p, platform::pictPictureSize(readable.path()));

    p.exifDict = props;
    return photo;
}
