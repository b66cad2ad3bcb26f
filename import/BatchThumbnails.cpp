#include "import/BatchThumbnails.h"

#include <algorithm>

#include "engine/Utils.h"
#include "import/IntakeRules.h"
#include "platform/foundation/FileAttributes.h"
#include "platform/foundation/ProgramThreads.h"
#include "platform/imageio/ImageIO.h"
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
        if (failsAsItIs(file)) continue;
        if (const QImage* cached = cachedTile(file)) {
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
    platform::FileStamp stamp;
    if (!stale) {
        // Taken before the read: a change while it reads makes the picture stale, never current.
        stamp = platform::FileStamp::of(path);
        // A picture that could not be made for want of memory says nothing of the file: the
        // tile waits for the next pass.
        if (!platform::runContained([&] { image = makeTilePicture(path, make); })) return [] {};
    }
    return [self, path, image = std::move(image), stamp, stale] {
        if (self && !stale) self->tileReady(path, image, stamp);
    };
}

QImage BatchThumbnails::makeTilePicture(const QString& path, const Maker& make) {
    const QImage image = make(path, kGridSize);
    return image.isNull() ? image : Utils::sharedUtils().getAspectFillImageFormImage(image, QSizeF(kGridSize), 1);
}

const QImage* BatchThumbnails::cachedTile(const QString& path) const {
    const Tile* tile = gridCache_.object(path);
    return tile ? &tile->image : nullptr;
}

void BatchThumbnails::tileReady(const QString& path, const QImage& image, const platform::FileStamp& stamp) {
    // A photo that left the batch meanwhile is shown nowhere and kept nowhere.
    if (batchIndexOf(path) < 0) return;
    if (image.isNull()) {
        markUnreadable(path, stamp);
    } else {
        markReadable(path);
        gridCache_.insert(path, new Tile{image, stamp}, std::max<qsizetype>(1, image.sizeInBytes() / 1024));
    }
    const int index = view_.shownTileOf(path);
    if (index >= 0) view_.setTileImage(index, image);
}

QStringList BatchThumbnails::dropChanged() {
    for (const QString& path : gridCache_.keys())
        if (gridCache_.object(path)->stamp != platform::FileStamp::of(path)) gridCache_.remove(path);
    QStringList rowsGone;
    for (auto it = rowStamps_.begin(); it != rowStamps_.end();) {
        if (it.value() == platform::FileStamp::of(it.key())) {
            ++it;
        } else {
            rowsGone << it.key();
            it = rowStamps_.erase(it);
        }
    }
    return rowsGone;
}

bool BatchThumbnails::isReadable(const QString& path) {
    if (failsAsItIs(path)) return false;
    const platform::FileStamp now = platform::FileStamp::of(path);
    const Tile* tile = gridCache_.object(path);
    if (!now.exists) {
        markUnreadable(path, now);  // counted as missing, not as unreadable
        return false;
    }
    const auto row = rowStamps_.constFind(path);
    const bool madeFromNow = (tile && tile->stamp == now) || (row != rowStamps_.cend() && *row == now);
    if (madeFromNow && !unavailable_.contains(path)) return true;
    // Nothing read the file as it is now: its tile is made here, as a load would make it.
    tileReady(path, makeTilePicture(path, make_), now);
    return !unavailable_.contains(path);
}

bool BatchThumbnails::isNoPicture(const QString& path) {
    return !isReadable(path) && !platform::isReadablePicture(path);
}

// ---- the list ----

void BatchThumbnails::loadRows(int first, int last, const std::function<bool(const QString&)>& hasPicture) {
    const auto snapshot = AppDelegate::shared().arraySelectedImagesToProcess;
    for (int row = std::max(0, first); row <= last && row < snapshot.size(); ++row) {
        const QString file = snapshot[row]->filePath;
        // A row whose read failed keeps its older picture behind the not-available one; it is
        // read again only once its file has changed.
        if (pendingRows_.contains(file) || failsAsItIs(file) || (hasPicture(file) && !unavailable_.contains(file)))
            continue;
        pendingRows_.insert(file);
        QImage fromGrid;
        platform::FileStamp gridStamp;
        if (const Tile* tile = gridCache_.object(file)) fromGrid = tile->image, gridStamp = tile->stamp;
        listWorkers_.run([self = QPointer<BatchThumbnails>(this), make = make_, fromGrid, gridStamp, file] {
            return makeRow(file, fromGrid, gridStamp, self, make);
        });
    }
}

// A row's picture belongs to its file: it is shown in whichever row holds the file when it
// comes back, also after the list was reloaded meanwhile.
ThumbnailWorkers::MainStep BatchThumbnails::makeRow(const QString& path, const QImage& fromGrid,
                                                    const platform::FileStamp& gridStamp, QPointer<BatchThumbnails> self,
                                                    Maker make) {
    // The grid's picture is scaled keeping its shape (stretching it into the row's 35 x 24
    // would squash it); the fill then crops it to the row's size.
    const platform::FileStamp stamp = fromGrid.isNull() ? platform::FileStamp::of(path) : gridStamp;
    QImage image;
    const bool made = platform::runContained([&] {
        image = fromGrid.isNull() ? make(path, kListSize)
                                  : fromGrid.scaled(kListSize, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
        if (!image.isNull()) image = Utils::sharedUtils().getAspectFillImageFormImage(image, QSizeF(kListSize), 1);
    });
    // Not made for want of memory: the row is asked for again when next shown, its file not
    // judged by it.
    if (!made) {
        return [self, path] {
            if (self) self->pendingRows_.remove(path);
        };
    }
    return [self, path, image = std::move(image), stamp] {
        if (self) self->rowReady(path, image, stamp);
    };
}

void BatchThumbnails::rowReady(const QString& path, const QImage& image, const platform::FileStamp& stamp) {
    pendingRows_.remove(path);
    const int row = batchIndexOf(path);
    if (row < 0) return;
    // A failed read is not kept as the row's picture: it is tried again when the screen
    // next appears.
    if (image.isNull()) {
        markUnreadable(path, stamp);
    } else {
        markReadable(path);
        rowStamps_.insert(path, stamp);
        view_.setRowImage(row, path, image);
    }
}

// ---- files that could not be read ----

void BatchThumbnails::markUnreadable(const QString& path, const std::optional<platform::FileStamp>& stamp) {
    unavailable_.insert(path);
    failedOn_.insert(path, stamp ? *stamp : platform::FileStamp::of(path));
    // A picture kept from before would come back as the file's once it reads again.
    gridCache_.remove(path);
    const int index = batchIndexOf(path);
    if (index < 0) return;
    // The output screen counts it among the errors while the file stays as it failed; a file
    // that is gone counts as missing there.
    PhotoFile& photo = *AppDelegate::shared().arraySelectedImagesToProcess[index];
    if (platform::fileExists(path)) photo.markUnreadable(failedOn_.value(path));
    else photo.isUnreadable = false;
    view_.unavailableChanged(index);
}

void BatchThumbnails::markReadable(const QString& path) {
    const bool wasUnavailable = unavailable_.remove(path);
    failedOn_.remove(path);
    const int index = batchIndexOf(path);
    if (index < 0) return;
    AppDelegate::shared().arraySelectedImagesToProcess[index]->isUnreadable = false;
    if (wasUnavailable) view_.unavailableChanged(index);
}

bool BatchThumbnails::failsAsItIs(const QString& path) const {
    if (!unavailable_.contains(path)) return false;
    const auto failed = failedOn_.constFind(path);
    return failed == failedOn_.cend() || *failed == platform::FileStamp::of(path);
}

QString BatchThumbnails::unavailableToolTip(const QString& path) const {
    return unavailable_.contains(path) ? intake::unavailablePhotoText(path) : QString();
}
