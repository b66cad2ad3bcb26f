#pragma once
// Loads the preview photo of the effects screen off the main thread. The request's inputs
// are copied on the main thread, the worker touches nothing of the screen, and the result
// comes back by value on the main thread with the generation it was asked for: a result
// older than the latest request is dropped, so the preview always shows the photo last
// chosen however the loads overtake each other.
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QSizeF>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <memory>

#include "platform/foundation/PostBack.h"
#include "platform/imageio/ImageIO.h"
#include "records/AppliedFilter.h"

struct PhotoFile;

struct PhotoPreviewRequest {
    quint64 generation = 0;
    QString path;
    QSizeF pixelSize;   // the photo's upright pixel size, as the batch holds it
    QSizeF previewBox;  // the preview box the picture is fitted into
    // The batch's steps to draw on the preview, copied on the main thread (switched-off
    // steps are skipped); when `original` is given the photo is not read again.
    QList<AppliedFilter> steps;
    QImage original;
    QImage thumbnail;
    platform::DecodeOptions reading;  // how the photo's picture is read
};

struct PhotoPreviewResult {
    quint64 generation = 0;
    QString path;
    bool loaded = false;  // false when there was no photo or it could not be read
    QImage thumbnail;     // fitted into 476 x 314, for the step thumbnails
    QImage original;      // fitted into the preview box, in RGB even for a grey photo
    QImage filtered;      // `original` with the steps drawn on it
    double photoScale = 1.0;  // pixels of the photo to one of `original`
    QVariantMap properties;  // the photo's metadata as read now (only when the photo was read)
};

class PreviewLoader {
public:
    // Runs a job off the main thread; the default is Qt's global thread pool.
    using Executor = std::function<void(std::function<void()>)>;
    using Completion = std::function<void(const PhotoPreviewResult&)>;

    // Completions are delivered on `context`'s thread and never after it is destroyed.
    explicit PreviewLoader(QObject* context, Executor executor = {});
    // Later loads run through this; the generations go on, so older loads stay superseded.
    void setExecutor(Executor executor) {
        if (executor) executor_ = std::move(executor);
    }
    // Called with the photo's path once its file is open for reading, before its picture is
    // read: lets a test change the file under the reader.
    void setSourceReadHook(std::function<void(const QString& path)> hook) { reading_.whileOpen = std::move(hook); }

    // Main thread. A null photo ends at once, still through the completion, as a failed load.
    quint64 load(const std::shared_ptr<PhotoFile>& photo, QSizeF previewBox, Completion done);
    // The same with the steps to draw and, when the photo is already read, its pictures.
    quint64 load(const std::shared_ptr<PhotoFile>& photo, QSizeF previewBox, const QList<AppliedFilter>& steps,
                 const QImage& original, const QImage& thumbnail, Completion done);
    quint64 latestGeneration() const { return *latest_; }

    // The work of one load; any thread.
    static PhotoPreviewResult loadNow(const PhotoPreviewRequest& request);
    // Every switched-on step drawn on the image in list order. The preview is already
    // fitted to its box, so a "Resize" step leaves it as it is (the run resizes last, so
    // every other step meets the photo at its own size). Each step is drawn as it lands on
    // the photo, of which one pixel of the image stands for `photoScale`.
    static QImage applySelectedFiltersOnImage(const QImage& image, const QString& path,
                                              const QList<AppliedFilter>& steps, double photoScale = 1.0);
    // Copies of the steps, made on the main thread, for a worker to read.
    static QList<AppliedFilter> snapshotSteps(const QList<std::shared_ptr<AppliedFilter>>& steps);

private:
    platform::PostBack back_;
    Executor executor_;
    std::shared_ptr<quint64> latest_;
    platform::DecodeOptions reading_;
};

// The batch steps' thumbnails: each switched-on step drawn alone on the photo's thumbnail
// ("Resize" shows the thumbnail as it is), off the main thread, one step at a time, so a
// long list never holds the screen up. Each finished picture is stored in its step on the
// main thread; pictures of a superseded request are dropped.
class StepThumbnails {
public:
    using Delivered = std::function<void(int row)>;

    explicit StepThumbnails(QObject* context, PreviewLoader::Executor executor = {});
    void setExecutor(PreviewLoader::Executor executor) {
        if (executor) executor_ = std::move(executor);
    }
    // Main thread. `rows` picks the steps to draw (all when empty).
    quint64 render(const QImage& thumbnail, const QString& path, const QList<std::shared_ptr<AppliedFilter>>& steps,
                   const QList<int>& rows, Delivered delivered);
    quint64 latestGeneration() const { return *latest_; }

private:
    platform::PostBack back_;
    PreviewLoader::Executor executor_;
    std::shared_ptr<quint64> latest_;
};
