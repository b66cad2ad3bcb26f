#pragma once
// The effects screen's photo strip: the batch's photos in one horizontal row of the kit's
// collection view. Thumbnails are read off the main thread once scrolling has rested for
// 0.2 s and kept by path with the file as it was read; a file changed since is read again
// on the next pass. Photos whose file is gone or cannot be read are marked. A click on a
// tile reports the photo chosen.
#include <QHash>
#include <QImage>
#include <QSet>
#include <QSize>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

#include "platform/foundation/FileAttributes.h"
#include "platform/foundation/PostBack.h"
#include "ui/CollectionView.h"

struct PhotoFile;

class PhotoStrip : public QWidget, public CollectionViewDataSource, public CollectionViewDelegate {
    Q_OBJECT
public:
    using Executor = std::function<void(std::function<void()>)>;
    // Makes a tile's thumbnail of the file, no larger than the size; runs on the executor.
    using Maker = std::function<QImage(const QString& path, QSize size)>;
    static constexpr QSize kThumbnailSize{120, 90};

    explicit PhotoStrip(QWidget* parent = nullptr);
    // Thumbnail reading runs through this (tests run it inline).
    void setExecutor(Executor executor) { executor_ = std::move(executor); }
    void setMaker(Maker maker) { maker_ = std::move(maker); }
    CollectionView* collectionView() const { return view_; }

    // New layout, reload, visible thumbnails, and the application's selected photo selected.
    void setGridLayout();
    void reloadData();
    void selectPhoto(int index, int scrollPosition, bool animated);
    // Marks the rows whose file is gone.
    void setMissingRows(const QList<int>& rows);
    // Restarts the 0.2 s wait before the visible tiles read their thumbnails.
    void collectionViewPhotosBoundsDidChange();
    // Reads the visible tiles' thumbnails now.
    void loadVisibleThumbnails();
    QImage cachedThumbnail(const QString& path) const { return dictPhotoImages_.value(path).image; }
    // What a read of the photo's whole picture (the preview's) found: one that failed marks
    // its tile, over the thumbnail it had, until the file changes; one that worked takes the
    // mark off and has the thumbnail made again.
    void photoRead(const QString& path, bool readable);
    // Whether the tile shows the not-available mark (its file is gone or cannot be read).
    bool isMarked(int index) const;

    int numberOfItemsInSection(CollectionView*, int section) override;
    CollectionViewCell* cellForItemAtIndexPath(CollectionView*, const IndexPath&) override;
    void didSelectItemAtIndexPath(CollectionView*, const IndexPath&) override;

signals:
    void photoChosen(int index);

private:
    CollectionView* view_ = nullptr;
    QTimer boundsTimer_;
    Executor executor_;
    Maker maker_;
    // Thumbnails come back only while the strip lives.
    platform::PostBack back_{this};
    // The picture made of the file as the stamp says it was; not readable when the file
    // could not be read then.
    struct Thumbnail {
        QImage image;
        platform::FileStamp stamp;
        bool readable = true;
    };
    QHash<QString, Thumbnail> dictPhotoImages_;
    void thumbnailMade(const QString& path, const Thumbnail& thumbnail);
    void showPicture(CollectionViewCell* cell, int index) const;
    void showPictureOf(const QString& path);
    QSet<QString> pending_;
    QSet<int> missing_;
};
