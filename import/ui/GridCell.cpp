#include "import/ui/GridCell.h"

#include "import/ui/ScreenImages.h"

#include <QPalette>
#include <QToolButton>

GridCell::GridCell(QWidget* parent) : CollectionViewCell(parent) {
    // Light labels: the tiles sit on the screen's dark background.
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, QColor(220, 220, 220));
    pal.setColor(QPalette::ButtonText, QColor(220, 220, 220));
    setPalette(pal);
    // The info button that has the keyboard shows it, as the screen's other buttons do.
    if (infoButton())
        infoButton()->setStyleSheet(QStringLiteral(
            "QToolButton { color: #e0e0e0; background: rgba(0,0,0,90); border-radius: 8px; }"
            "QToolButton:focus { border: 2px solid #1ab999; }"));
}

GridCell* GridCell::initWithFrame(const QRect& frame, QWidget* parent) {
    auto* cell = new GridCell(parent);
    cell->setGeometry(frame);
    return cell;
}

void GridCell::setImage(const QImage& image) {
    image_ = image;
    setBackgroundImage(image);
}
void GridCell::setFileName(const QString& name) {
    fileName_ = name;
    setNameValue(name);
}
void GridCell::setFileDimension(const QString& text) {
    fileDimension_ = text;
    setDimensionValue(text);
}
void GridCell::setFileSize(const QString& text) {
    fileSize_ = text;
    setSizeValue(text);
}
void GridCell::setRowIndex(int index) {
    rowIndex_ = index;
    setCellIndex(index);
}
void GridCell::setIsForSmallThumbnail(bool small) {
    isForSmallThumbnail_ = small;
    setIsForSmallThubnails(small);
}

void GridCell::setSelected(bool selected) {
    CollectionViewCell::setSelected(selected);
    if (selected) {
        setCheckImage(screenimages::named(screenimages::kTileCheck));
        setBgselectedColor(QColor::fromRgbF(0.10588235f, 0.67450980f, 0.56078431f, 0.53f));
    } else {
        setCheckImage(QImage());
        setBgselectedColor(Qt::transparent);
    }
}
