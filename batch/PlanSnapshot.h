#pragma once
// What one re-planning of the batch reads, copied on the main thread when the
// re-planning is asked for: the settings as values and, per photo, only the facts the
// rename scheme reads. The background pass never touches the live objects, which the
// controls keep changing meanwhile.
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

#include "batch/PreviewClassifier.h"
#include "records/PhotoFile.h"

struct AppliedFilter;
struct BatchRenameSetting;
struct OutputOptionSettings;

struct PlanSnapshot {
    std::shared_ptr<const BatchRenameSetting> renameSetting;
    std::shared_ptr<const OutputOptionSettings> outputSetting;
    QStringList fileFormats;
    // Path, names, extension, dates and the photo-library mark of every photo, in batch order.
    QList<PhotoFile> photos;
    QDateTime now;          // for the current-date stamp
    QString desktopFolder;  // empty: the standard location
    // The output choices and the photos known unreadable or too large under the steps, for
    // the classification.
    PreviewClassifier::Options classifierOptions;

    // Copies of the given objects (null settings stay null).
    static PlanSnapshot take(const QList<std::shared_ptr<PhotoFile>>& photos, const BatchRenameSetting* rename,
                             const OutputOptionSettings* output, const QStringList& fileFormats,
                             const QList<std::shared_ptr<AppliedFilter>>& steps = {});

    bool hasLibraryPhoto() const;
};
