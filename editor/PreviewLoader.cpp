#include "editor/PreviewLoader.h"

#include <QThreadPool>

#include "engine/Utils.h"
#include "platform/foundation/HandOver.h"
#include "platform/foundation/ProgramThreads.h"
#include "platform/imageio/ImageProperties.h"
#include "records/PhotoFile.h"

namespace {

void onGlobalPool(std::function<void()> job) { platform::startOnPool(*QThreadPool::globalInstance(), std::move(job)); }

}  // namespace

PreviewLoader::PreviewLoader(QObject* context, Executor executor)
    : back_(context), executor_(std::move(executor)), latest_(std::make_shared<quint64>(0)) {
    if (!executor_) executor_ = onGlobalPool;
}

PhotoPreviewResult PreviewLoader::loadNow(const PhotoPreviewRequest& request) {
    PhotoPreviewResult r;
    r.generation = request.generation;
    r.path = request.path;
    if (request.path.isEmpty()) return r;
    Utils& utils = Utils::sharedUtils();
    const bool knownSize = request.pixelSize.width() > 0 && request.pixelSize.height() > 0;
    const QSizeF upright = knownSize ? request.pixelSize : utils.getImageOriginalSizeAtFilePathUrl(request.path);
    const auto drawSteps = [&] {
        r.photoScale = r.original.width() > 0 && upright.width() > 0 ? upright.width() / r.original.width() : 1.0;
        r.filtered = applySelectedFiltersOnImage(r.original, request.path, request.steps, r.photoScale);
    };
    if (!request.original.isNull()) {
        r.original = request.original;
        r.thumbnail = request.thumbnail;
        drawSteps();
        r.loaded = true;
        return r;
    }
    // The upright size is fitted, so a turned photo is read no larger than its box.
    const QSizeF previewSize = utils.getAspectFitModeSizeWithsize(upright, request.previewBox);
    r.original = utils.getImageFromPath(request.path, previewSize, request.reading);
    if (r.original.isGrayscale() && !r.original.isNull()) r.original = utils.convertGraycolorModelToRgb(r.original);
    // The step thumbnail comes from the preview picture, so the photo is decoded once.
    const QSizeF thumbSize = utils.getAspectFitModeSizeWithsize(upright, QSizeF(476, 314));
    if (!r.original.isNull() && thumbSize.width() >= 1 && thumbSize.height() >= 1)
        r.thumbnail = r.original.size().width() <= thumbSize.width()
                          ? r.original
                          : r.original.scaled(thumbSize.toSize(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    r.loaded = !r.original.isNull();
    if (r.loaded) drawSteps();
    // The metadata table shows the file's facts as they are now, whatever the batch's record
    // kept of them (a record restored from a session keeps none).
    if (r.loaded) r.properties = platform::readImageProperties(request.path);
    return r;
}

QImage PreviewLoader::applySelectedFiltersOnImage(const QImage& image, const QString& path,
                                                  const QList<AppliedFilter>& steps, double photoScale) {
    Utils& utils = Utils::sharedUtils();
    QImage out = image;
    for (const AppliedFilter& step : steps) {
        if (!step.isApplied || step.filterName == QLatin1String("Resize")) continue;
        const QImage next = utils.applyFilterToPreview(out, path, step.filterName, step.filterParameters, photoScale);
        if (!next.isNull()) out = next;
    }
    return out;
}

QList<AppliedFilter> PreviewLoader::snapshotSteps(const QList<std::shared_ptr<AppliedFilter>>& steps) {
    QList<AppliedFilter> copies;
    for (const auto& s : steps)
        if (s) copies << *s;
    return copies;
}

quint64 PreviewLoader::load(const std::shared_ptr<PhotoFile>& photo, QSizeF previewBox, Completion done) {
    return load(photo, previewBox, {}, QImage(), QImage(), std::move(done));
}

quint64 PreviewLoader::load(const std::shared_ptr<PhotoFile>& photo, QSizeF previewBox,
                            const QList<AppliedFilter>& steps, const QImage& original, const QImage& thumbnail,
                            Completion done) {
    const quint64 generation = ++*latest_;
    PhotoPreviewRequest request;
    request.generation = generation;
    request.steps = steps;
    request.original = original;
    request.thumbnail = thumbnail;
    request.reading = reading_;
    if (photo) {
        request.path = photo->filePath;
        request.pixelSize = QSizeF(photo->width, photo->height);
    }
    request.previewBox = previewBox;

    auto latest = latest_;
    auto deliver = [latest, done](const PhotoPreviewResult& result) {
        if (result.generation == *latest && done) done(result);
    };
    if (!photo) {
        PhotoPreviewResult failed;
        failed.generation = generation;
        back_.post([deliver, failed] { deliver(failed); });
        return generation;
    }
    executor_([request, back = back_, deliver] {
        PhotoPreviewResult result;
        // A load that fails (memory ran short) comes back as a photo that could not be loaded.
        if (!platform::runContained([&] { result = loadNow(request); })) {
            result = PhotoPreviewResult();
            result.generation = request.generation;
            result.path = request.path;
        }
        back.post([deliver, result = std::move(result)] { deliver(result); });
    });
    return generation;
}

StepThumbnails::StepThumbnails(QObject* context, PreviewLoader::Executor executor)
    : back_(context), executor_(std::move(executor)), latest_(std::make_shared<quint64>(0)) {
    if (!executor_) executor_ = onGlobalPool;
}

quint64 StepThumbnails::render(const QImage& thumbnail, const QString& path,
                               const QList<std::shared_ptr<AppliedFilter>>& steps, const QList<int>& rows,
                               Delivered delivered) {
    const quint64 generation = ++*latest_;
    if (thumbnail.isNull()) return generation;
    struct Job {
        int row;
        std::weak_ptr<AppliedFilter> step;
        AppliedFilter copy;
    };
    QList<Job> jobs;
    for (int i = 0; i < steps.size(); ++i)
        if (steps[i] && (rows.isEmpty() || rows.contains(i))) jobs << Job{i, steps[i], *steps[i]};
    auto latest = latest_;
    executor_([jobs, thumbnail, path, latest, back = back_, generation, delivered] {
        for (const Job& job : jobs) {
            QImage picture = thumbnail;
            if (job.copy.filterName != QLatin1String("Resize")) {
                // A step that fails (memory ran short) shows the photo without it, as one that
                // gave no picture does.
                QImage drawn;
                platform::runContained([&] {
                    drawn = Utils::sharedUtils().applyFilterWithImage(thumbnail, path, job.copy.filterName,
                                                                      job.copy.filterParameters, false);
                });
                if (!drawn.isNull()) picture = drawn;
            }
            const bool alive = back.post([job, picture, latest, generation, delivered] {
                if (generation != *latest) return;
                const auto step = job.step.lock();
                if (!step) return;
                step->filterAppliedImage = picture;
                if (delivered) delivered(job.row);
            });
            if (!alive) return;
        }
    });
    return generation;
}
