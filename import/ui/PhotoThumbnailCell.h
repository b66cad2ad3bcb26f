#pragma once
// Two further photo cells beside GridCell: a collection item (PhotoThumbnailCell) and a
// list row (PhotoListViewCell). Their check and info buttons report to the same screen
// operations as the grid and the list.
#include <QImage>
#include <QPointer>
#include <QWidget>
#include <memory>

#include "ui/IndexPath.h"

class QLabel;
class QPushButton;
class QTableView;
class PhotoFile;

// The widget `levels` parents above `w` (or the highest one there is): the view in whose
// coordinates the cells report their info buttons.
QWidget* viewLevelsAbove(QWidget* w, int levels);

class PhotoThumbnailCellDelegate {
public:
    virtual ~PhotoThumbnailCellDelegate() = default;
    // The photo's batch index, as a one-index set.
    virtual void btnCheckBoxTappedAtIndex(const QList<int>& indexes) = 0;
    // The info button's origin in the view three levels above the item's view.
    virtual void btnInfoTappedAtLocationInCollectionView(const QPoint& location, const IndexPath& path) = 0;
};

class PhotoListCellDelegate {
public:
    virtual ~PhotoListCellDelegate() = default;
    // The info button's origin in the view two levels above the table, and the row.
    virtual void btnInfoTappedAtLocationInTableView(const QPoint& location, int row) = 0;
};

class PhotoThumbnailCell : public QWidget {
    Q_OBJECT
public:
    explicit PhotoThumbnailCell(QWidget* parent = nullptr);
    // A copy with widgets of its own, showing the same photo.
    PhotoThumbnailCell* copy(QWidget* parent = nullptr) const;

    void setRepresentedObject(const std::shared_ptr<PhotoFile>& photo);
    std::shared_ptr<PhotoFile> representedObject() const { return photo_; }
    void setSelected(bool selected);
    bool isSelected() const { return selected_; }
    void btnCheckBoxTapped();
    void btnInfoTapped();

    PhotoThumbnailCellDelegate* delegate = nullptr;
    int index = -1;

    QLabel* imgPhoto = nullptr;
    QLabel *lblFileName = nullptr, *lblFileDimension = nullptr, *lblFileSize = nullptr;
    QLabel* imgCheckBox = nullptr;
    QPushButton *checkBox = nullptr, *btnInfo = nullptr;
    QLabel* bgSelectedState = nullptr;

private:
    // The photo's place in the batch now, or -1 when it has left the batch.
    int batchIndex() const;
    std::shared_ptr<PhotoFile> photo_;
    bool selected_ = false;
};

class PhotoListViewCell : public QWidget {
    Q_OBJECT
public:
    explicit PhotoListViewCell(QWidget* parent = nullptr);
    void btnInfoTapped();

    PhotoListCellDelegate* delegate = nullptr;
    int index = -1;

    QLabel *imgPhoto = nullptr, *imgCheck = nullptr;
    QLabel *lblName = nullptr, *lblType = nullptr, *lblDimension = nullptr, *lblSize = nullptr, *lblLocation = nullptr;
    QPushButton* btnInfo = nullptr;
};
