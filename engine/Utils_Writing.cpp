// Writing the finished output files of a run.
#include "engine/Utils.h"
#include "engine/PngOptimiser.h"

#include "platform/foundation/Log.h"
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/ImageProperties.h"

#include <QDir>
#include <QFile>
#include <QTemporaryFile>
#include <optional>

namespace {

const QString kQualityKey = QStringLiteral("kCGImageDestinationLossyCompressionQuality");

// The image type identifier of each save type, one table both ways.
struct SaveTypeIdentifier {
    platform::ImageType type;
    const char* identifier;
};
constexpr SaveTypeIdentifier kIdentifiers[] = {
    {platform::ImageType::TIFF, "public.tiff"},      {platform::ImageType::BMP, "com.microsoft.bmp"},
    {platform::ImageType::GIF, "com.compuserve.gif"}, {platform::ImageType::JPEG, "public.jpeg"},
    {platform::ImageType::PNG, "public.png"},         {platform::ImageType::JPEG2000, "public.jpeg-2000"},
};

std::optional<platform::ImageType> typeForIdentifier(const QString& identifier) {
    for (const SaveTypeIdentifier& entry : kIdentifiers)
        if (identifier == QLatin1String(entry.identifier)) return entry.type;
    return std::nullopt;
}

QString identifierForSaveType(platform::ImageType saveType) {
    for (const SaveTypeIdentifier& entry : kIdentifiers)
        if (entry.type == saveType) return QString::fromLatin1(entry.identifier);
    return QString();
}

}  // namespace

bool Utils::saveImageInSelectedFormat(platform::ImageType saveType, const QString& filePath,
                                      const QImage& filteredImage,
                                      const QImage& imageRef, const QVariantMap& exifDict, float qualityFactor,
                                      int imageOrientation, const std::shared_ptr<PhotoFile>& photoFile,
                                      platform::FileTarget target, platform::WriteCheck* check) {
    platform::log(u"save image at path %@", filePath);
    const QString identifier = identifierForSaveType(saveType);
    if (identifier.isEmpty()) return false;
    QVariantMap options = exifDict;
    options.insert(kQualityKey, double(qualityFactor));
    // The pixels to write are the given bitmap; a caller that has only the edited image
    // still gets its file rather than a silent failure.
    return writeCGImage(imageRef.isNull() ? filteredImage : imageRef, filePath, identifier, options, target, check);
}

bool Utils::writeCGImage(const QImage& image, const QString& url, const QString& type, const QVariantMap& options,
                         platform::FileTarget target, platform::WriteCheck* check) {
    const std::optional<platform::ImageType> imageType = typeForIdentifier(type);
    if (!imageType) {
        // Writing some other format's bytes under this name would only hide the failure.
        platform::log(u"exception in file write = %@ ", QStringLiteral("no writer for type ") + type);
        return false;
    }
    if (image.isNull()) {
        platform::log(u"exception in file write = %@ ", QStringLiteral("no image to write to ") + url);
        return false;
    }
    const double quality = options.value(kQualityKey, 1.0).toDouble();
    QVariantMap properties = options;
    properties.remove(kQualityKey);
    return platform::writeImageFile(url, image, *imageType, quality, properties, target, check);
}

QImage Utils::imgfrmCG(const QImage& image) { return image; }

QVariantMap& Utils::setImageExifInfo(QVariantMap& dict, const QVariantMap& exifDict) {
    static const char* const keys[] = {"{TIFF}",     "{GPS}",      "{Exif}",      "{IPTC}",       "{JFIF}",
                                       "ColorModel", "DPIHeight",  "DPIWidth",    "Depth",        "Orientation",
                                       "PixelHeight", "PixelWidth", "ProfileName"};
    for (const char* key : keys) {
        const QString k = QString::fromLatin1(key);
        if (exifDict.contains(k)) dict.insert(k, exifDict.value(k));
    }
    return dict;
}

bool saveCompressedPNG(const QImage& image, const QString& destination, const QVariantMap& properties,
                       int memoryLevel) {
    Utils& utils = Utils::sharedUtils();
    QTemporaryFile temp(QDir::tempPath() + QStringLiteral("/TempFile.XXXXXX.png"));
    if (!temp.open()) {
        platform::log(u"Error While Compressing File");
        return utils.saveImageInSelectedFormat(platform::ImageType::PNG, destination, image, image, properties, 1.0f,
                                               1, nullptr);
    }
    temp.close();
    if (utils.saveImageInSelectedFormat(platform::ImageType::PNG, temp.fileName(), image, image, properties, 1.0f, 1,
                                        nullptr)) {
        const QByteArray in = QFile::encodeName(temp.fileName());
        const QByteArray out = QFile::encodeName(destination);
        if (processPNG(in.constData(), out.constData(), kPngOptimiserBatchMethod, memoryLevel) == 0) return true;
    }
    platform::log(u"Error While Compressing File");
    return utils.saveImageInSelectedFormat(platform::ImageType::PNG, destination, image, image, properties, 1.0f, 1,
                                           nullptr);
}
