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
#include <functional>
#include <memory>

struct PhotoFile;

struct PreviewRequest {
    quint64 generation = 0;
    QString path;
    QSizeF pixelSize;   // the photo's upright pixel size, as the batch holds it
    QSizeF previewBox;  // the preview box the picture is fitted into
};

struct PreviewResult {
    quint64 generation = 0;
    QString path;
    bool loaded = false;  // false when there was no photo or it could not be read
    QImage thumbnail;     // fitted into 476 x 314, for the step thumbnails
    QImage original;      // fitted into the preview box, in RGB even for a grey photo
};

class PreviewLoader {
public:
    // Runs a job off the main thread; the default is Qt's global thread pool.
    using Executor = std::function<void(std::function<void()>)>;
    using Completion = std::function<void(const PreviewResult&)>;

    // Completions are delivered on `context`'s thread and never after it is destroyed.
    explicit PreviewLoader(QObject* context, Executor executor = {});

    // Main thread. A null photo ends at once, still through the completion, as a failed load.
    quint64 load(const std::shared_ptr<PhotoFile>& photo, QSizeF previewBox, Completion done);
    quint64 latestGeneration() const { return *latest_; }

    // The work of one load; any thread.
    static PreviewResult loadNow(const PreviewRequest& request);

private:
    QPointer<QObject> context_;
    Executor executor_;
    std::shared_ptr<quint64> latest_;
};
