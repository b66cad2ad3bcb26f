#pragma once
// The effects screen's life-cycle rules without a widget: the batch's missing photos and
// their alert, the footer and header texts, the metadata rows, what a new preview photo
// does to the panel, what the preview does as the screen appears, and carrying the working
// parameters over to another photo.
#include <QList>
#include <QSizeF>
#include <QString>
#include <QVariantList>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <optional>

struct PhotoFile;

namespace EffectsScreen {

using PhotoList = QList<std::shared_ptr<PhotoFile>>;
using FileExists = std::function<bool(const QString& path)>;
FileExists realFileExists();

// Rows of the batch whose file is gone.
QList<int> missingPhotoRows(const PhotoList& photos, const FileExists& exists = realFileExists());
// Removes the photos whose file is gone; returns how many went.
int removeMissingPhotos(PhotoList& photos, const FileExists& exists = realFileExists());

struct AlertText {
    QString title, message;
};
// "PHOTO DELETED" / "Photo no longer exists…" for a batch of fewer than two photos, the
// plural for more.
AlertText allPhotosDeletedAlert(int batchCount);

// "Batch Count: <n>  |  Batch Size: <size>  ".
QString footerText(const PhotoList& photos);
// "<size> | <width>X<height>".
QString headerInfoText(const PhotoFile& photo);
// Title/value rows of the photo's facts for the metadata table, its camera facts from
// `properties` (the file's metadata as read) or, when none were read, from the photo's record.
QList<QVariantMap> metadataRows(const PhotoFile& photo, const QVariantMap& properties = {});

// What re-establishing the panel after a new preview photo (or a changed step list) does.
enum class ResetAction {
    OpenEditedStep,       // the step being edited is opened again
    RebuildFromDefaults,  // the effect's panel is built anew
    CarryOver,            // the effect's panel keeps the user's values, scaled to the photo
    RenderAllSteps,       // no effect chosen: the preview shows the batch's steps
    ShowFavourite,        // a favourite is shown: it is applied again
    Nothing,
};
struct ResetInputs {
    bool effectChosen = false;        // an effect of the basic or FX groups is selected
    bool editingStepInBatch = false;  // edit mode, and the edited step is still in the batch
    bool force = false;
    QString currentFilterName;
    QSizeF containerSize;             // the preview's image container
    bool favouriteShown = false;
    bool selectedImageChanged = false;
};
ResetAction resetActionFor(const ResetInputs& in);

// What the preview does as the screen appears. The photo is read again when it changed while
// another screen showed, or when the window changed its size meanwhile (a photo is read at
// the size it is shown at); a preview with no photo to read only takes its new size.
enum class AppearingPreview { ReadPhoto, TakeNewSize, Nothing };
AppearingPreview previewOnAppearing(bool hasPhoto, bool photoChanged, bool photoReadable, bool sizeChanged);

// The working parameters as size-relative values for the photo now shown; nullopt when the
// container has no usable size, in which case the panel is rebuilt from its defaults.
std::optional<QVariantList> carryOverParameters(const QString& filterName, QSizeF containerSize,
                                                const QVariantList& working);

}  // namespace EffectsScreen
