#include "import/BatchThumbnails.h"

#include <algorithm>

#include "engine/Utils.h"
#include "import/IntakeRules.h"
#include "platform/foundation/FileAttributes.h"
#include "records/AppDelegate.h"
#include "records/PhotoFile.h"

namespace {

int batchIndexOf(const QString& path) {
    const auto& batch = AppDelegate::shared().arraySelectedImagesToProcess;
    for (int i = 0; i < batch.size(); ++i)
        if (batch[i]->filePath == path) return i;
    return -1;
}

}  // namespace

BatchThumbnails::BatchThumbnails(ThumbnailWorkers& gridWorkers, ThumbnailWorkers& listWorkers, Maker make,
                                 BatchThumbnailsView& view, QObject* parent)
    : QObject(parent), gridWorkers_(gridWorkers), listWorkers_(listWorkers), make_(std::move(make)), view_(view) {
    gridCache_.setMaxCost(kGridCacheKiB);
}

QImage BatchThumbnails::fileThumbnail(const QString& path, QSize size) {
    return Utils::sharedUtils().getThumbnailImageAtFilePath(path, QSizeF(size));
}

// ---- the grid ----

void BatchThumbnails::loadTiles(const QList<int>& visible) {
    state_->isScrollingDone = true;
    // Loads queued by an earlier pass give way to this one's (see makeTile).
    const int pass = ++state_->pass;
    const auto snapshot = AppDelegate::shared().arraySelectedImagesToProcess;
    for (const int index : visible) {
        if (index < 0 || index >= snapshot.size()) continue;
        const QString file = snapshot[index]->filePath;
        if (unavailable_.contains(file)) continue;
        if (const QImage* cached = gridCache_.object(file)) {
            view_.setTileImage(index, *cached);
            continue;
        }
        gridWorkers_.run([self = QPointer<BatchThumbnails>(this), state = state_, make = make_, pass, file] {
            return makeTile(file, pass, self, state, make);
        });
    }
}

// The worker sees only the path and two atomics. A load whose pass is over makes nothing;
// a picture that was made belongs to its file and is shown wherever that file's tile is
// when it comes back.
ThumbnailWorkers::MainStep BatchThumbnails::makeTile(const QString& path, int pass, QPointer<BatchThumbnails> self,
                                                     std::shared_ptr<LoadState> state, Maker make) {
    const bool stale = !state->isScrollingDone.load() || state->pass.load() != pass;
    QImage image;
    if (!stale) {
        image = make(path, kGridSize);
        if (!image.isNull()) image = Utils::sharedUtils().getAspectFillImageFormImage(image, QSizeF(kGridSize), 1);
    }
    return [self, path, image = std::move(image), stale] {
        if (self && !stale) self->tileReady(path, image);
    };
}

void BatchThumbnails::tileReady(const QString& path, const QImage& image) {
    // A photo that left the batch meanwhile is shown nowhere and kept nowhere.
    if (batchIndexOf(path) < 0) return;
    if (image.isNull()) {
        markUnreadable(path);
    } else {
        markReadable(path);
        gridCache_.insert(path, new QImage(image), std::max<qsizetype>(1, image.sizeInBytes() / 1024));
    }
    const int index = view_.shownTileOf(path);
    if (index >= 0) view_.setTileImage(index, image);
}

// ---- the list ----

void BatchThumbnails::loadRows(int first, int last, const std::function<bool(const QString&)>& hasPicture) {
    const auto snapshot = AppDelegate::shared().arraySelectedImagesToProcess;
    for (int row = std::max(0, first); row <= last && row < snapshot.size(); ++row) {
        const QString file = snapshot[row]->filePath;
        if (hasPicture(file) || pendingRows_.contains(file) || unavailable_.contains(file)) continue;
        pendingRows_.insert(file);
        QImage fromGrid;
        if (const QImage* cached = gridCache_.object(file)) fromGrid = *cached;
        listWorkers_.run([self = QPointer<BatchThumbnails>(this), make = make_, fromGrid, file] {
            return makeRow(file, fromGrid, self, make);
        });
    }
}

// A row's picture belongs to its file: it is shown in whichever row holds the file when it
// comes back, also after the list was reloaded meanwhile.
ThumbnailWorkers::MainStep BatchThumbnails::makeRow(const QString& path, const QImage& fromGrid,
                                                    QPointer<BatchThumbnails> self, Maker make) {
    // The grid's picture is scaled keeping its shape (stretching it into the row's 35 x 24
    // would squash it); the fill then crops it to the row's size.
    QImage image = fromGrid.isNull() ? make(path, kListSize)
                                     : fromGrid.scaled(kListSize, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    if (!image.isNull()) image = Utils::sharedUtils().getAspectFillImageFormImage(image, QSizeF(kListSize), 1);
    return [self, path, image = std::move(image)] {
        if (self) self->rowReady(path, image);
    };
}

void BatchThumbnails::rowReady(const QString& path, const QImage& image) {
    pendingRows_.remove(path);
    const int row = batchIndexOf(path);
    if (row < 0) return;
    // A failed read is not kept as the row's picture: it is tried again when the screen
    // next appears.
    if (image.isNull()) {
        markUnreadable(path);
    } else {
        markReadable(path);
        view_.setRowImage(row, path, image);
    }
}

// ---- files that could not be read ----

void BatchThumbnails::markUnreadable(const QString& path) {
    unavailable_.insert(path);
    const int index = batchIndexOf(path);
    if (index < 0) return;
    // The output screen counts it among the errors; a file that is gone counts as missing there.
    AppDelegate::shared().arraySelectedImagesToProcess[index]->isUnreadable = platform::fileExists(path);
    view_.unavailableChanged(index);
}

void BatchThumbnails::markReadable(const QString& path) {
    const int index = batchIndexOf(path);
    if (index >= 0) AppDelegate::shared().arraySelectedImagesToProcess[index]->isUnreadable = false;
}

QString BatchThumbnails::unavailableToolTip(const QString& path) const {
    return unavailable_.contains(path) ? intake::unavailablePhotoText(platform::fileExists(path)) : QString();
}
