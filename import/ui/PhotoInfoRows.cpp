#include "import/ui/PhotoInfoRows.h"

#include <QDir>
#include <QFileInfo>
#include <QVariant>
#include <cmath>
#include <cstdlib>

#include "records/CommonFunc.h"
#include "records/ExifInfo.h"
#include "records/ImageFileInfo.h"
#include "platform/foundation/NativeNames.h"
#include "platform/foundation/Paths.h"

namespace photoinfo {

namespace {

QString textOf(const QVariant& value) {
    if (!value.isValid() || value.isNull()) return QString();
    return value.toString();
}

void append(QList<MetaDataRow>& rows, const char* key, const QString& value) {
    createArrayToUpdateMetaData(rows, CommonFunc::getLocalizedStringForKey(QString::fromLatin1(key)), value);
}

QString dateText(const QDateTime& date) {
    return date.isValid() ? CommonFunc::getDateTimeStringFromDate(date) : QString();
}

}  // namespace

void createArrayToUpdateMetaData(QList<MetaDataRow>& rows, const QString& title, const QString& value) {
    rows.append({title, value.isEmpty() ? kMissing : value});
}

QString getPositioninlatitudelongitude(double angle, const QString& reference) {
    // A value no position can have (damaged metadata: beyond half a turn, or not a number)
    // is shown as missing rather than turned into a count of seconds it cannot hold.
    if (reference.isEmpty() || !std::isfinite(angle) || std::fabs(angle) > 180.0) return kMissing;
    // Whole seconds, truncated toward zero; the sign goes, the reference keeps it.
    long long s = std::llabs(static_cast<long long>(std::trunc(angle * 3600.0)));
    const long long degrees = s / 3600, minutes = (s % 3600) / 60, seconds = s % 60;
    return QStringLiteral("%1° %2' %3'' %4").arg(degrees).arg(minutes).arg(seconds).arg(reference);
}

QList<MetaDataRow> createArrayToUpdateMetaDataWithNode(ImageFileInfo& info) {
    if (!info.exifInfo || info.exifInfo->fileName.isEmpty()) {
        info.setIsExifInfoUpdated(false);
        info.updateExifInfo();
    }
    const ExifInfo empty;
    const ExifInfo& exif = info.exifInfo ? *info.exifInfo : empty;
    QList<MetaDataRow> rows;
    rows.reserve(35);
    append(rows, "ID_FILE_NAME", platform::displayPath(info.fileName));
    append(rows, "ID_FILE_PATH", platform::displayPath(info.filePath));
    append(rows, "ID_FILE_SIZE", CommonFunc::getSizeInUnits(QVariant::fromValue(double(info.fileSize))));
    append(rows, "ID_FILE_LABEL", exif.fileLabel);
    append(rows, "ID_FILE_CREATED", dateText(info.createDate));
    append(rows, "ID_FILE_MODIFIED", dateText(info.modDate));
    append(rows, "ID_FOLDER_NAME",
           platform::displayPath(platform::lastPathComponent(platform::stringByDeletingLastPathComponent(info.filePath))));
    append(rows, "ID_RATING", textOf(exif.rating));
    append(rows, "ID_KEYWORDS", exif.keywords);
    append(rows, "ID_IMAGE_SIZE", exif.imageSizeToDisplay);
    append(rows, "ID_IMAGE_DPI", exif.imageDPI);
    append(rows, "ID_ORIENTATION", exif.orientation == 0 ? QString() : CommonFunc::getOrientationType(exif.orientation));
    bool zoomOk = false;
    const double zoom = exif.digitalZoomRatio.toDouble(&zoomOk);
    append(rows, "ID_DIGITAL_ZOOM_RATIO",
           exif.digitalZoomRatio.isValid() && zoomOk ? QString::number(zoom, 'f', 2) : QString());
    append(rows, "ID_CAPTURE_DATE", dateText(exif.captureDate));
    append(rows, "ID_EDITING_SOFTWARE", exif.editingSoftware);
    append(rows, "ID_EXPOSURE", exif.exposure);
    append(rows, "ID_FOCAL_LENGTH", exif.folcalLength);
    append(rows, "ID_EXPOSURE_BIAS", exif.exposureBias);
    append(rows, "ID_ISO_SPEED_RATING", exif.isoSpeedRating);
    append(rows, "ID_EXPOSURE_MODE", CommonFunc::getExposureModeType(exif.exposureMode));
    append(rows, "ID_EXPOSURE_PROGRAM", CommonFunc::getExposureProgramType(exif.exposureProgram));
    append(rows, "ID_METERING", CommonFunc::getMeteringModeType(exif.meteringMode));
    append(rows, "ID_LIGHT_SOURCE", CommonFunc::getLightSourceType(exif.lightSource));
    append(rows, "ID_SENSING_METHOD", CommonFunc::getColorSensingType(exif.sensingMethod));
    append(rows, "ID_SCENCE_CAPTURE_TYPE", CommonFunc::getScenceCaptureType(exif.sceneCaptureType));
    append(rows, "ID_CAMERA_MAKER", exif.cameraMaker);
    append(rows, "ID_CAMERA_MODEL", exif.cameraModel);
    append(rows, "ID_CAMERA_LENS_MODEL", exif.cameraLensModel);
    append(rows, "ID_CAMERA_FIRMWARE", exif.cameraFirmware);
    append(rows, "ID_COLOR_MODEL", exif.colorModel);
    append(rows, "ID_COLOR_SPACE", textOf(exif.colorSpace));
    append(rows, "ID_PROFILE_NAME", exif.profileName);
    append(rows, "ID_GPS_ALTITUDE", QString::number(exif.gpsAltitude, 'f', 2) + QStringLiteral(" m"));
    append(rows, "ID_GPS_LATITUDE", getPositioninlatitudelongitude(exif.gpsLatitude, exif.gpsLatitudeRef));
    append(rows, "ID_GPS_LONGITUDE", getPositioninlatitudelongitude(exif.gpsLongitude, exif.gpsLongitudeRef));
    return rows;
}

}  // namespace photoinfo
