#pragma once
// The photo tile of the add-photos grid (also the effects screen's photo strip): a
// CollectionViewCell whose properties are kept here and handed to the base tile.
#include "ui/CollectionViewCell.h"

class GridCell : public CollectionViewCell {
    Q_OBJECT
public:
    explicit GridCell(QWidget* parent = nullptr);
    static GridCell* initWithFrame(const QRect& frame, QWidget* parent = nullptr);

    void setImage(const QImage& image);
    void setFileName(const QString& name);
    void setFileDimension(const QString& text);
    void setFileSize(const QString& text);
    // Also the base tile's cellIndex, which the thumbnail loader compares.
    void setRowIndex(int index);
    void setIsForSmallThumbnail(bool small);

    QImage image() const { return image_; }
    QString fileName() const { return fileName_; }
    QString fileDimension() const { return fileDimension_; }
    QString fileSize() const { return fileSize_; }
    int rowIndex() const { return rowIndex_; }
    bool isForSmallThumbnail() const { return isForSmallThumbnail_; }

    void setSelected(bool selected) override;

private:
    QImage image_;
    QString fileName_, fileDimension_, fileSize_;
    int rowIndex_ = -1;
    bool isForSmallThumbnail_ = false;
};
