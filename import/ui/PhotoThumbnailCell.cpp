#include "import/ui/PhotoThumbnailCell.h"

#include <QGridLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "import/ui/ScreenImages.h"
#include "records/AppDelegate.h"
#include "records/PhotoFile.h"

namespace {

void showImage(QLabel* view, const QImage& image) {
    view->setPixmap(QPixmap::fromImage(image));
    view->setProperty("imageName", screenimages::nameOf(image));
}

QString imageNameOf(const QLabel* view) { return view->property("imageName").toString(); }

}  // namespace

QWidget* viewLevelsAbove(QWidget* w, int levels) {
    for (int i = 0; i < levels && w->parentWidget(); ++i) w = w->parentWidget();
    return w;
}

PhotoThumbnailCell::PhotoThumbnailCell(QWidget* parent) : QWidget(parent) {
    // Each cell, copies included, builds widgets of its own.
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    bgSelectedState = new QLabel(this);
    bgSelectedState->setStyleSheet(QStringLiteral("background: rgba(27,172,143,135);"));
    imgPhoto = new QLabel(this);
    imgPhoto->setAlignment(Qt::AlignCenter);
    imgPhoto->setMinimumSize(202, 207);
    lblFileName = new QLabel(this);
    lblFileDimension = new QLabel(this);
    lblFileSize = new QLabel(this);
    imgCheckBox = new QLabel(this);
    checkBox = new QPushButton(this);
    checkBox->setObjectName(QStringLiteral("checkBox"));
    checkBox->setFlat(true);
    btnInfo = new QPushButton(QStringLiteral("i"), this);
    btnInfo->setObjectName(QStringLiteral("btnInfo"));
    btnInfo->setFixedSize(20, 20);
    layout->addWidget(bgSelectedState, 0, 0, 5, 2);
    layout->addWidget(imgPhoto, 0, 0, 1, 2);
    layout->addWidget(imgCheckBox, 0, 0, Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(checkBox, 0, 0, Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(btnInfo, 0, 1, Qt::AlignRight | Qt::AlignTop);
    layout->addWidget(lblFileName, 1, 0, 1, 2, Qt::AlignHCenter);
    layout->addWidget(lblFileDimension, 2, 0, 1, 2, Qt::AlignHCenter);
    layout->addWidget(lblFileSize, 3, 0, 1, 2, Qt::AlignHCenter);
    checkBox->hide();
    bgSelectedState->hide();
    connect(checkBox, &QPushButton::clicked, this, [this] { btnCheckBoxTapped(); });
    connect(btnInfo, &QPushButton::clicked, this, [this] { btnInfoTapped(); });
}

PhotoThumbnailCell* PhotoThumbnailCell::copy(QWidget* parent) const {
    auto* cell = new PhotoThumbnailCell(parent);
    cell->delegate = delegate;
    cell->index = index;
    if (photo_) cell->setRepresentedObject(photo_);
    cell->setSelected(selected_);
    return cell;
}

void PhotoThumbnailCell::setRepresentedObject(const std::shared_ptr<PhotoFile>& photo) {
    photo_ = photo;
    if (!photo) return;
    lblFileName->setText(photo->displayName());
    lblFileDimension->setText(QStringLiteral("Dimensions %1 X %2").arg(int(photo->width)).arg(int(photo->height)));
    lblFileSize->setText(QStringLiteral("Size %1").arg(photo->fileSizeAsString));
    checkBox->hide();
    bgSelectedState->hide();
    showImage(imgPhoto, photo->thumbnailImg.isNull() ? screenimages::named(screenimages::kPlaceHolder) : photo->thumbnailImg);
}

void PhotoThumbnailCell::setSelected(bool selected) {
    selected_ = selected;
    checkBox->setVisible(selected);
    showImage(imgCheckBox, screenimages::named(selected ? screenimages::kCheck : screenimages::kUncheck));
    // A photo that cannot be shown gets no selected backing.
    bgSelectedState->setHidden(!selected || imageNameOf(imgPhoto) == screenimages::kNotAvailableBig);
}

int PhotoThumbnailCell::batchIndex() const {
    if (!photo_) return -1;
    return int(AppDelegate::shared().arraySelectedImagesToProcess.indexOf(photo_));
}

void PhotoThumbnailCell::btnCheckBoxTapped() {
    const int at = batchIndex();
    if (at < 0 || !delegate) return;
    delegate->btnCheckBoxTappedAtIndex({at});
}

void PhotoThumbnailCell::btnInfoTapped() {
    const int at = batchIndex();
    if (at < 0 || !delegate) return;
    const QPoint origin = btnInfo->mapTo(viewLevelsAbove(this, 3), QPoint(0, 0));
    delegate->btnInfoTappedAtLocationInCollectionView(origin, IndexPath{0, at});
}

PhotoListViewCell::PhotoListViewCell(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 0, 2, 0);
    imgCheck = new QLabel(this);
    imgPhoto = new QLabel(this);
    imgPhoto->setFixedSize(35, 24);
    lblName = new QLabel(this);
    lblType = new QLabel(this);
    lblDimension = new QLabel(this);
    lblSize = new QLabel(this);
    lblLocation = new QLabel(this);
    btnInfo = new QPushButton(QStringLiteral("i"), this);
    btnInfo->setObjectName(QStringLiteral("btnInfo"));
    btnInfo->setFixedSize(20, 20);
    for (QWidget* w : std::initializer_list<QWidget*>{imgCheck, imgPhoto, lblName, lblType, lblDimension, lblSize, lblLocation, btnInfo})
        layout->addWidget(w);
    connect(btnInfo, &QPushButton::clicked, this, [this] { btnInfoTapped(); });
}

void PhotoListViewCell::btnInfoTapped() {
    // The table is two levels up (the cell sits in the table's viewport).
    auto* table = qobject_cast<QTableView*>(viewLevelsAbove(this, 2));
    if (!table || !delegate) return;
    const int row = table->rowAt(mapTo(table->viewport(), QPoint(0, height() / 2)).y());
    const QPoint origin = btnInfo->mapTo(viewLevelsAbove(table, 2), QPoint(0, 0));
    delegate->btnInfoTappedAtLocationInTableView(origin, row);
}
