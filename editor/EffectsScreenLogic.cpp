#include "editor/EffectsScreenLogic.h"

#include <QFileInfo>
#include <cmath>

#include "engine/FilterCustomization.h"
#include "records/CommonFunc.h"
#include "records/ExifInfo.h"
#include "records/PhotoFile.h"
#include "platform/foundation/NativeNames.h"
#include "platform/foundation/FileAttributes.h"

namespace EffectsScreen {
namespace {

bool usable(QSizeF s) {
    return std::isfinite(s.width()) && std::isfinite(s.height()) && s.width() > 0 && s.height() > 0;
}

QVariantMap row(const QString& title, const QString& value) {
    return QVariantMap{{"title", title}, {"value", value.isEmpty() ? QStringLiteral("---") : value}};
}

}  // namespace

FileExists realFileExists() {
    return [](const QString& path) { return platform::fileExists(path); };
}

QList<int> missingPhotoRows(const PhotoList& photos, const FileExists& exists) {
    QList<int> rows;
    for (int i = 0; i < photos.size(); ++i)
        if (!photos[i] || !exists(photos[i]->filePath)) rows << i;
    return rows;
}

int removeMissingPhotos(PhotoList& photos, const FileExists& exists) {
    const QList<int> rows = missingPhotoRows(photos, exists);
    for (int i = int(rows.size()) - 1; i >= 0; --i) photos.removeAt(rows[i]);
    return int(rows.size());
}

AlertText allPhotosDeletedAlert(int batchCount) {
    const QString suffix = batchCount < 2 ? QString() : QStringLiteral("s");
    return {QStringLiteral("PHOTO%1 DELETED").arg(suffix.toUpper()),
            QStringLiteral("Photo%1 no longer exists in the Source folder!").arg(suffix)};
}

QString footerText(const PhotoList& photos) {
    double bytes = 0;
    for (const auto& p : photos)
        if (p) bytes += p->fileSizeInBytes;
    return QStringLiteral("Batch Count: %1  |  Batch Size: %2  ")
        .arg(QString::number(photos.size()), CommonFunc::unitStringFromBytes(bytes));
}

QString headerInfoText(const PhotoFile& photo) {
    return QStringLiteral("%1 | %2X%3").arg(photo.fileSizeAsString).arg(int(photo.width)).arg(int(photo.height));
}

QList<QVariantMap> metadataRows(const PhotoFile& photo, const QVariantMap& properties) {
    QList<QVariantMap> rows;
    rows << row(QStringLiteral("Name"), photo.displayName())
         << row(QStringLiteral("Folder"), platform::displayPath(photo.fileContainerFolderName))
         << row(QStringLiteral("Size"), photo.fileSizeAsString)
         << row(QStringLiteral("Dimensions"), QStringLiteral("%1 x %2").arg(int(photo.width)).arg(int(photo.height)));
    const auto exif = ExifInfo::initWithDict(properties.isEmpty() ? photo.exifDict : properties);
    if (!exif) return rows;
    rows << row(QStringLiteral("Camera"), QStringList{exif->cameraMaker, exif->cameraModel}.join(' ').trimmed())
         << row(QStringLiteral("Lens"), exif->cameraLensModel)
         << row(QStringLiteral("Focal Length"), exif->folcalLength)
         << row(QStringLiteral("ISO"), exif->isoSpeedRating)
         << row(QStringLiteral("Exposure Bias"), exif->exposureBias)
         << row(QStringLiteral("Captured"),
                exif->captureDate.isValid() ? CommonFunc::getDateTimeStringFromDate(exif->captureDate) : QString())
         << row(QStringLiteral("Colour Model"), exif->colorModel)
         << row(QStringLiteral("Keywords"), exif->keywords);
    return rows;
}

ResetAction resetActionFor(const ResetInputs& in) {
    if (in.effectChosen) {
        if (in.editingStepInBatch) return ResetAction::OpenEditedStep;
        if (in.force || in.currentFilterName == QLatin1String("Resize") || !usable(in.containerSize))
            return ResetAction::RebuildFromDefaults;
        return ResetAction::CarryOver;
    }
    if (in.favouriteShown) return ResetAction::ShowFavourite;
    return in.selectedImageChanged ? ResetAction::RenderAllSteps : ResetAction::Nothing;
}

AppearingPreview previewOnAppearing(bool hasPhoto, bool photoChanged, bool photoReadable, bool sizeChanged) {
    if (hasPhoto && photoReadable && (photoChanged || sizeChanged)) return AppearingPreview::ReadPhoto;
    return sizeChanged ? AppearingPreview::TakeNewSize : AppearingPreview::Nothing;
}

std::optional<QVariantList> carryOverParameters(const QString& filterName, QSizeF containerSize,
                                                const QVariantList& working) {
    if (!usable(containerSize)) return std::nullopt;
    return FilterCustomization::sharedInstance().convertFilterParametrsInPerCent(filterName, containerSize, working);
}

}  // namespace EffectsScreen
