#include "editor/PreviewLoader.h"

#include <QMetaObject>
#include <QThreadPool>

#include "engine/Utils.h"
#include "records/PhotoFile.h"

PreviewLoader::PreviewLoader(QObject* context, Executor executor)
    : context_(context), executor_(std::move(executor)), latest_(std::make_shared<quint64>(0)) {
    if (!executor_) executor_ = [](std::function<void()> job) { QThreadPool::globalInstance()->start(std::move(job)); };
}

PreviewResult PreviewLoader::loadNow(const PreviewRequest& request) {
    PreviewResult r;
    r.generation = request.generation;
    r.path = request.path;
    if (request.path.isEmpty()) return r;
    Utils& utils = Utils::sharedUtils();
    const QSizeF thumbSize = utils.getAspectFitModeSizeWithsize(request.pixelSize, QSizeF(476, 314));
    r.thumbnail = utils.getThumbnailImageAtFilePath(request.path, thumbSize);
    const QSizeF stored = utils.getImageOriginalSizeAtFilePathUrl(request.path);
    const QSizeF previewSize = utils.getAspectFitModeSizeWithsize(stored, request.previewBox);
    r.original = utils.getImageFromPath(request.path, previewSize);
    if (r.original.isGrayscale() && !r.original.isNull()) r.original = utils.convertGraycolorModelToRgb(r.original);
    r.loaded = !r.original.isNull();
    return r;
}

quint64 PreviewLoader::load(const std::shared_ptr<PhotoFile>& photo, QSizeF previewBox, Completion done) {
    const quint64 generation = ++*latest_;
    PreviewRequest request;
    request.generation = generation;
    if (photo) {
        request.path = photo->filePath;
        request.pixelSize = QSizeF(photo->width, photo->height);
    }
    request.previewBox = previewBox;

    auto latest = latest_;
    QPointer<QObject> context = context_;
    auto deliver = [latest, done](const PreviewResult& result) {
        if (result.generation == *latest && done) done(result);
    };
    if (!photo) {
        PreviewResult failed;
        failed.generation = generation;
        if (context) QMetaObject::invokeMethod(context, [deliver, failed] { deliver(failed); }, Qt::QueuedConnection);
        return generation;
    }
    executor_([request, context, deliver] {
        PreviewResult result = loadNow(request);
        if (context)
            QMetaObject::invokeMethod(context, [deliver, result = std::move(result)] { deliver(result); },
                                      Qt::QueuedConnection);
    });
    return generation;
}
