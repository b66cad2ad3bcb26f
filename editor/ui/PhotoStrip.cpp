#include "editor/ui/PhotoStrip.h"

#include <QPointer>
#include <QThreadPool>
#include <QVBoxLayout>

#include "engine/Utils.h"
#include "platform/foundation/HandOver.h"
#include "platform/foundation/ProgramThreads.h"
#include "records/AppDelegate.h"
#include "records/PhotoFile.h"
#include "ui/CollectionViewLayout.h"

namespace {

const QString kCell = QStringLiteral("CELL");

// A strip tile: the teal background marks the chosen photo only.
class StripCell : public CollectionViewCell {
public:
    void setSelected(bool selected) override {
        CollectionViewCell::setSelected(selected);
        setBgselectedColor(selected ? QColor(26, 185, 153) : QColor(Qt::transparent));
    }
};

}  // namespace

PhotoStrip::PhotoStrip(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("customCollectionView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    view_ = new CollectionView(this);
    // The strip that has the keyboard shows it, as the lists beside it do.
    view_->setStyleSheet(
        QStringLiteral("CollectionView { border:2px solid transparent; } CollectionView:focus { border-color:#1ab999; }"));
    layout->addWidget(view_);
    view_->registerClass<StripCell>(kCell);
    boundsTimer_.setSingleShot(true);
    boundsTimer_.setInterval(200);
    connect(&boundsTimer_, &QTimer::timeout, this, &PhotoStrip::loadVisibleThumbnails);
    view_->contentView()->setPostsBoundsChangedNotifications(true);
    connect(view_->contentView(), &ClipView::boundsDidChange, this, [this] { collectionViewPhotosBoundsDidChange(); });
    executor_ = [](std::function<void()> job) {
        platform::startOnPool(*QThreadPool::globalInstance(), std::move(job));
    };
    maker_ = [](const QString& path, QSize size) {
        return Utils::sharedUtils().getThumbnailImageAtFilePath(path, QSizeF(size));
    };
    setGridLayout();
}

void PhotoStrip::setGridLayout() {
    auto* layout = new CollectionViewHorizontalLayout;
    layout->setItemMargin(5);
    view_->setCollectionViewLayout(layout);
    view_->setDataSource(this);
    view_->setDelegate(this);
    view_->setAnimatesSelection(false);
    view_->setBackgroundColor(Qt::transparent);
    reloadData();
    loadVisibleThumbnails();
    const AppDelegate& app = AppDelegate::shared();
    if (app.selectedImageIndex >= 0 && app.selectedImageIndex < app.arraySelectedImagesToProcess.size())
        selectPhoto(app.selectedImageIndex, CollectionView::ScrollNearest, false);
}

void PhotoStrip::reloadData() { view_->reloadData(); }

void PhotoStrip::selectPhoto(int index, int scrollPosition, bool animated) {
    if (index < 0 || index >= view_->numberOfItemsInSection(0)) return;
    view_->selectItemAtIndexPath(IndexPath::indexPathForItem(index, 0), scrollPosition, animated);
}

void PhotoStrip::setMissingRows(const QList<int>& rows) {
    missing_ = QSet<int>(rows.begin(), rows.end());
    reloadData();
}

void PhotoStrip::collectionViewPhotosBoundsDidChange() { boundsTimer_.start(); }

int PhotoStrip::numberOfItemsInSection(CollectionView*, int section) {
    return section == 0 ? int(AppDelegate::shared().arraySelectedImagesToProcess.size()) : 0;
}

CollectionViewCell* PhotoStrip::cellForItemAtIndexPath(CollectionView* view, const IndexPath& path) {
    CollectionViewCell* cell = view->dequeueReusableCellWithIdentifier(kCell, path.item);
    if (!cell) return nullptr;
    const auto& photos = AppDelegate::shared().arraySelectedImagesToProcess;
    const auto photo = photos.value(path.item);
    cell->setIsForSmallThubnails(true);
    cell->setNameValue(photo ? photo->displayName() : QString());
    showPicture(cell, path.item);
    return cell;
}

void PhotoStrip::showPicture(CollectionViewCell* cell, int index) const {
    const auto photo = AppDelegate::shared().arraySelectedImagesToProcess.value(index);
    cell->setBackgroundImage(photo ? dictPhotoImages_.value(photo->filePath).image : QImage());
    // A tile whose file is gone or cannot be read shows the not-available mark.
    QImage mark;
    if (isMarked(index)) {
        mark = QImage(16, 16, QImage::Format_ARGB32_Premultiplied);
        mark.fill(QColor(220, 60, 60));
    }
    cell->setCheckImage(mark);
}

void PhotoStrip::didSelectItemAtIndexPath(CollectionView*, const IndexPath& path) { emit photoChosen(path.item); }

bool PhotoStrip::isMarked(int index) const {
    if (missing_.contains(index)) return true;
    const auto photo = AppDelegate::shared().arraySelectedImagesToProcess.value(index);
    const auto kept = photo ? dictPhotoImages_.constFind(photo->filePath) : dictPhotoImages_.cend();
    return kept != dictPhotoImages_.cend() && !kept->readable;
}

void PhotoStrip::loadVisibleThumbnails() {
    const auto& photos = AppDelegate::shared().arraySelectedImagesToProcess;
    QPointer<PhotoStrip> self(this);
    for (const IndexPath& path : view_->indexPathsForVisibleItems()) {
        const auto photo = photos.value(path.item);
        if (!photo || pending_.contains(photo->filePath)) continue;
        const QString file = photo->filePath;
        // What was made of the file as it is now is kept, a failure included.
        const auto kept = dictPhotoImages_.constFind(file);
        if (kept != dictPhotoImages_.cend() && kept->stamp == platform::FileStamp::of(file)) continue;
        pending_.insert(file);
        executor_([self, back = back_, file, make = maker_] {
            // Taken before the read: a change while it reads makes the picture stale, never current.
            Thumbnail made{QImage(), platform::FileStamp::of(file)};
            // A picture that could not be made for want of memory says nothing of the file:
            // nothing is kept of it, and it is made again when next shown.
            const bool tried = platform::runContained([&] { made.image = make(file, kThumbnailSize); });
            made.readable = !made.image.isNull();
            back.post([self, file, made, tried] {
                if (!self) return;
                self->pending_.remove(file);
                if (tried) self->thumbnailMade(file, made);
            });
        });
    }
}

void PhotoStrip::photoRead(const QString& path, bool readable) {
    const auto kept = dictPhotoImages_.constFind(path);
    if (path.isEmpty() || (readable && (kept == dictPhotoImages_.cend() || kept->readable))) return;
    if (!readable) {
        thumbnailMade(path, {kept == dictPhotoImages_.cend() ? QImage() : kept->image, platform::FileStamp::of(path), false});
        return;
    }
    dictPhotoImages_.erase(kept);
    showPictureOf(path);
    loadVisibleThumbnails();
}

void PhotoStrip::thumbnailMade(const QString& path, const Thumbnail& thumbnail) {
    dictPhotoImages_.insert(path, thumbnail);
    showPictureOf(path);
}

void PhotoStrip::showPictureOf(const QString& path) {
    for (CollectionViewCell* cell : view_->visibleCells()) {
        const auto p = AppDelegate::shared().arraySelectedImagesToProcess.value(cell->indexPath().item);
        if (p && p->filePath == path) showPicture(cell, cell->indexPath().item);
    }
}
