#pragma once
// The pictures of the batch's grid tiles and list rows: made in the background for what is
// on screen, kept (the grid's in a cache bounded by bytes, the list's by its model), and the
// files that could not be read remembered so their tiles and rows show why. No widget: the
// screen tells it what is visible and shows what comes back through BatchThumbnailsView.
#include <QCache>
#include <QDateTime>
#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QSize>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "platform/foundation/FileAttributes.h"

// Background work whose result is handed back on the main thread. A job returns the
// main-thread step; that step never runs after the workers are gone.
class ThumbnailWorkers {
public:
    using MainStep = std::function<void()>;
    using Job = std::function<MainStep()>;
    virtual ~ThumbnailWorkers() = default;
    virtual void run(Job job) = 0;
};

// What the screen shows of the pictures as they come back (main thread).
class BatchThumbnailsView {
public:
    virtual ~BatchThumbnailsView() = default;
    // The batch index of the tile on screen that shows `path`; -1 when none does.
    virtual int shownTileOf(const QString& path) const = 0;
    // A tile's picture; a null image stands for the file that could not be read.
    virtual void setTileImage(int index, const QImage& image) = 0;
    // A list row's picture, for the file it belongs to.
    virtual void setRowImage(int row, const QString& path, const QImage& image) = 0;
    // The row of the batch index joined or left the unreadable files.
    virtual void unavailableChanged(int index) = 0;
};

class BatchThumbnails : public QObject {
public:
    // Makes a thumbnail of the file no larger than the size; may run on any thread.
    using Maker = std::function<QImage(const QString& path, QSize size)>;
    static constexpr QSize kGridSize{404, 414};
    static constexpr QSize kListSize{35, 24};
    // Decoded grid tiles kept at most (KiB): about a hundred full tiles.
    static constexpr int kGridCacheKiB = 72 * 1024;

    // The program's own thumbnail of the file (upright, its embedded preview where that
    // is enough); the maker the screen uses unless told otherwise.
    static QImage fileThumbnail(const QString& path, QSize size);

    BatchThumbnails(ThumbnailWorkers& gridWorkers, ThumbnailWorkers& listWorkers, Maker make, BatchThumbnailsView& view,
                    QObject* parent = nullptr);

    // ---- the grid ----
    // Scrolling began: loads queued or under way give way to the pass after it settles.
    void scrollingBegan() { state_->isScrollingDone = false; }
    // Scrolling settled: the visible tiles (batch indexes) get their kept pictures at once,
    // the others a load of their file; loads of earlier passes make nothing.
    void loadTiles(const QList<int>& visible);
    const QImage* cachedTile(const QString& path) const;
    void clearTileCache() { gridCache_.clear(); }
    // The grid's and the list's pictures of files whose size or modification time changed
    // since they were made are let go (loaded again when next shown); the others are kept
    // from one appearance of the screen to the next. Returns the files whose list pictures
    // went, for the list to forget.
    QStringList dropChanged();
    // Whether the photo can be read, as its thumbnail's full read found: a photo whose read
    // failed on the file as it is now does not; one whose tile or row was made from the file
    // as it is now does; for any other the tile's picture is made now (and shown), and decides.
    bool isReadable(const QString& path);
    // Whether the file is no picture at all: it does not read (as isReadable finds) and
    // its header names no picture this program reads either.
    bool isNoPicture(const QString& path);
    int cachedTileCount() const { return gridCache_.count(); }
    qint64 cachedTileBytes() const { return qint64(gridCache_.totalCost()) * 1024; }

    // ---- the list ----
    // The rows first..last (batch indexes) that have no picture (`hasPicture`) and none on
    // the way get a load: the grid's picture scaled down when there is one, else the file's.
    // So does a row whose read failed on a file that has changed since.
    void loadRows(int first, int last, const std::function<bool(const QString&)>& hasPicture);

    // ---- files that could not be read ----
    // A file stays here until a read of it works. Its tile and row are not read again while
    // it is as it was when its read failed; once it has changed (a sync client that was
    // rewriting it has finished, a file that was gone is back), the next pass or click reads
    // it again.
    const QSet<QString>& unavailable() const { return unavailable_; }
    bool isUnavailable(const QString& path) const { return unavailable_.contains(path); }
    // Marked without a read (its file is gone); forgotten again (it left the batch, or is
    // there again); all forgotten (the batch was emptied).
    void markUnavailable(const QString& path) { markUnreadable(path); }
    void forget(const QString& path) {
        unavailable_.remove(path);
        failedOn_.remove(path);
    }
    void forgetAll() {
        unavailable_.clear();
        failedOn_.clear();
    }
    // A full read of the file failed (on the file as `stamp` says it was, else as it is now):
    // its tile and row show the not-available picture, and the photo counts as unreadable
    // when its file is still there (gone, it counts as missing).
    void markUnreadable(const QString& path, const std::optional<platform::FileStamp>& stamp = std::nullopt);
    // Why a tile or row shows the not-available picture; "" when it does not.
    QString unavailableToolTip(const QString& path) const;

private:
    struct LoadState {
        std::atomic<bool> isScrollingDone{false};
        std::atomic<int> pass{0};  // the latest loading pass of the visible tiles
    };
    // Worker side of a grid tile: nothing when its pass is over (scrolling began again, or a
    // later pass took over), else the picture of the file.
    static ThumbnailWorkers::MainStep makeTile(const QString& path, int pass, QPointer<BatchThumbnails> self,
                                               std::shared_ptr<LoadState> state, Maker make);
    static ThumbnailWorkers::MainStep makeRow(const QString& path, const QImage& fromGrid,
                                              const platform::FileStamp& gridStamp, QPointer<BatchThumbnails> self,
                                              Maker make);
    static QImage makeTilePicture(const QString& path, const Maker& make);
    void tileReady(const QString& path, const QImage& image, const platform::FileStamp& stamp);
    void rowReady(const QString& path, const QImage& image, const platform::FileStamp& stamp);
    void markReadable(const QString& path);
    // Unavailable, and as it was when its read failed: reading it again would fail again.
    bool failsAsItIs(const QString& path) const;

    ThumbnailWorkers& gridWorkers_;
    ThumbnailWorkers& listWorkers_;
    Maker make_;
    BatchThumbnailsView& view_;
    std::shared_ptr<LoadState> state_ = std::make_shared<LoadState>();
    struct Tile {
        QImage image;
        platform::FileStamp stamp;
    };
    QCache<QString, Tile> gridCache_;  // cost in KiB
    QHash<QString, platform::FileStamp> rowStamps_;  // the list's pictures, as the model keeps them
    QSet<QString> pendingRows_;
    QSet<QString> unavailable_;
    QHash<QString, platform::FileStamp> failedOn_;  // the file each failed read found
};
