#include "records/ExifInfo.h"

#include "platform/foundation/Format.h"
#include "platform/foundation/Numbers.h"
#include "platform/imageio/ImageProperties.h"
#include "records/CommonFunc.h"

#include <QVariantList>
#include <cmath>
#include <limits>

namespace {

bool isList(const QVariant& v) {
    return v.typeId() == QMetaType::QVariantList || v.typeId() == QMetaType::QStringList;
}

// A value as it prints: whole and fractional numbers in their shortest C-locale form
// (4.2, not 4.2000000000000002), everything else as the log prints it.
QString printed(const QVariant& v) {
    if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float)
        return QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest);
    return platform::describe(v);
}

QString joined(const QVariant& v) {
    QStringList parts;
    for (const QVariant& e : isList(v) ? v.toList() : QVariantList{v}) parts.append(printed(e));
    return parts.join(QLatin1Char(','));
}

// The number at the start of a value; texts are read locale-free, "abc" gives 0.
double doubleValue(const QVariant& v) {
    if (isList(v)) {
        const QVariantList l = v.toList();
        return l.isEmpty() ? 0.0 : doubleValue(l.first());
    }
    if (v.typeId() == QMetaType::QString) return platform::doubleValue(v.toString());
    bool ok = false;
    const double d = v.toDouble(&ok);
    return ok && std::isfinite(d) ? d : 0.0;
}

// Whole part of a value, cut toward zero and held inside 32 bits.
std::int32_t intValue(const QVariant& v) {
    const double d = std::trunc(doubleValue(v));
    if (d >= double(std::numeric_limits<std::int32_t>::max())) return std::numeric_limits<std::int32_t>::max();
    if (d <= double(std::numeric_limits<std::int32_t>::min())) return std::numeric_limits<std::int32_t>::min();
    return std::int32_t(d);
}

QString text(const QVariant& v) {
    if (!v.isValid()) return {};
    return v.typeId() == QMetaType::QString ? v.toString() : printed(v);
}

}  // namespace

std::shared_ptr<ExifInfo> ExifInfo::initWithFile(const QString& path) {
    auto info = std::make_shared<ExifInfo>();
    info->resetAllWithDict(platform::readImageProperties(path));
    return info;
}

std::shared_ptr<ExifInfo> ExifInfo::initWithDict(const QVariantMap& dict) {
    auto info = std::make_shared<ExifInfo>();
    info->resetAllWithDict(dict);
    return info;
}

void ExifInfo::commmonInit() {
    keywords.clear();
    imageSize.clear();
    imageDPI.clear();
    editingSoftware.clear();
    folcalLength.clear();
    exposureBias.clear();
    isoSpeedRating.clear();
    cameraMaker.clear();
    cameraModel.clear();
    cameraLensModel.clear();
    colorModel.clear();
    profileName.clear();
    gpsLatitudeRef.clear();
    gpsLongitudeRef.clear();
    imageSizeToDisplay.clear();
    userComment.clear();
    captureDate = QDateTime();
    meteringMode = QVariant();
    pixelWidth = pixelHeight = 0;
    dpiWidth = dpiHeight = 0;
    orientation = -1;
    flashFired = -1;
}

void ExifInfo::resetAllWithDict(const QVariantMap& d) {
    if (d.isEmpty()) return;
    const QVariant width = d.value(QLatin1String(platform::kPropsPixelWidth));
    const QVariant height = d.value(QLatin1String(platform::kPropsPixelHeight));

    profileName = text(d.value(QLatin1String(platform::kPropsProfileName)));
    pixelWidth = intValue(width);
    pixelHeight = intValue(height);
    imageSize = printed(width) + QStringLiteral(" x ") + printed(height);
    colorModel = text(d.value(QLatin1String(platform::kPropsColorModel)));
    dpiWidth = dpiHeight = 0;

    // Photos stored turned by a quarter show with their sides swapped.
    const int w = intValue(width), h = intValue(height);
    const int shown = intValue(d.value(QLatin1String(platform::kPropsOrientation)));
    const bool quarter = shown >= 5 && shown <= 8;
    imageSizeToDisplay = platform::format(u"%d x %d", quarter ? h : w, quarter ? w : h);

    const QString dpiW = QLatin1String(platform::kPropsDPIWidth), dpiH = QLatin1String(platform::kPropsDPIHeight);
    if (d.contains(dpiW) && d.contains(dpiH)) {
        dpiWidth = doubleValue(d.value(dpiW));
        dpiHeight = doubleValue(d.value(dpiH));
        imageDPI = platform::format(u"%.1f x %.1f", dpiWidth, dpiHeight);
    }

    const QString exifKey = QLatin1String(platform::kPropsExif);
    if (d.contains(exifKey)) {
        const QVariantMap e = d.value(exifKey).toMap();
        const QVariant original = e.value(QStringLiteral("DateTimeOriginal"));
        captureDate = original.typeId() == QMetaType::QString ? CommonFunc::getDateFromString(original.toString())
                                                              : QDateTime();
        rating = e.value(QStringLiteral("Rating"));
        const QVariant focal = e.value(QStringLiteral("FocalLength"));
        folcalLength = focal.isValid() ? printed(focal) + QStringLiteral(" mm") : QString();
        const QVariant bias = e.value(QStringLiteral("ExposureBiasValue"));
        exposureBias = bias.isValid() ? platform::format(u"%.2f EV", doubleValue(bias)) : QString();
        const QVariant iso = e.value(QStringLiteral("ISOSpeedRatings"));
        if (iso.isValid()) isoSpeedRating = joined(iso);
        exposureMode = e.value(QStringLiteral("ExposureMode"));
        exposureProgram = e.value(QStringLiteral("ExposureProgram"));
        meteringMode = e.value(QStringLiteral("MeteringMode"));
        lightSource = e.value(QStringLiteral("LightSource"));
        sensingMethod = e.value(QStringLiteral("SensingMethod"));
        sceneCaptureType = e.value(QStringLiteral("SceneCaptureType"));
        digitalZoomRatio = e.value(QStringLiteral("DigitalZoomRatio"));
        colorSpace = e.value(QStringLiteral("ColorSpace"));
        const QVariant flash = e.value(QStringLiteral("Flash"));
        flashFired = flash.isValid() && intValue(flash) != 0 ? 1 : 0;
        userComment = text(e.value(QStringLiteral("UserComment")));
    }

    const QString tiffKey = QLatin1String(platform::kPropsTIFF);
    if (d.contains(tiffKey)) {
        const QVariantMap t = d.value(tiffKey).toMap();
        cameraMaker = text(t.value(QStringLiteral("Make")));
        cameraModel = text(t.value(QStringLiteral("Model")));
        orientation = intValue(t.value(QStringLiteral("Orientation")));
        editingSoftware = text(t.value(QStringLiteral("Software")));
    }

    const QString gpsKey = QLatin1String(platform::kPropsGPS);
    if (d.contains(gpsKey)) {
        const QVariantMap g = d.value(gpsKey).toMap();
        gpsLatitude = doubleValue(g.value(QStringLiteral("Latitude")));
        gpsLongitude = doubleValue(g.value(QStringLiteral("Longitude")));
        gpsLatitudeRef = text(g.value(QStringLiteral("LatitudeRef")));
        gpsLongitudeRef = text(g.value(QStringLiteral("LongitudeRef")));
        gpsAltitude = doubleValue(g.value(QStringLiteral("Altitude")));
    }

    const QVariantMap iptc = d.value(QLatin1String(platform::kPropsIPTC)).toMap();
    if (iptc.contains(QStringLiteral("Keywords"))) keywords = joined(iptc.value(QStringLiteral("Keywords")));

    const QString auxKey = QLatin1String(platform::kPropsExifAux);
    if (d.contains(auxKey)) cameraLensModel = text(d.value(auxKey).toMap().value(QStringLiteral("LensModel")));
}
