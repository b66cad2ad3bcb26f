#pragma once
// One tile of a collection view: a picture with a name, a dimension and a size line, a
// check mark, a selected-state colour and an info button. Subclasses (the photo tile)
// fill it through the setters; the tile paints itself, so a screen full of tiles stays
// cheap. Mouse presses pass through to the collection view, which does the selecting.
#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include "ui/IndexPath.h"

class QToolButton;
class CollectionView;

class QPainter;
// Draws in bands of a few rows, on the painting thread alone (see the .cpp).
void drawInBands(QPainter& p, QPoint at, const QPixmap& pixmap);
void fillInBands(QPainter& p, const QRect& rect, const QColor& color);

class CollectionViewCell : public QWidget {
    Q_OBJECT
public:
    explicit CollectionViewCell(QWidget* parent = nullptr);
    // The frame form of construction; the collection view places the cell itself.
    static CollectionViewCell* initWithFrame(const QRect& frame, QWidget* parent = nullptr);

    void setBackgroundImage(const QImage& image);
    void setNameValue(const QString& name);  // also the tool tip
    void setDimensionValue(const QString& text);
    void setSizeValue(const QString& text);
    void setCheckImage(const QImage& image);  // a null image shows no check mark
    void setBgselectedColor(const QColor& color);
    void setIsForSmallThubnails(bool small);

    QImage backgroundImage() const { return background_; }
    QString nameValue() const { return name_; }
    QString dimensionValue() const { return dimension_; }
    QString sizeValue() const { return size_; }
    QImage checkImage() const { return check_; }
    QColor bgselectedColor() const { return selectedColor_; }
    bool isForSmallThubnails() const { return small_; }

    int cellIndex() const { return cellIndex_; }
    void setCellIndex(int index) { cellIndex_ = index; }
    QString reuseIdentifier() const { return reuseIdentifier_; }
    IndexPath indexPath() const { return indexPath_; }

    // Called by the collection view as the item's selection changes; the base shows it
    // with the selected-state colour only when one was given.
    virtual void setSelected(bool selected);
    bool isSelected() const { return selected_; }
    // Called before the cell goes back into the reuse queue.
    virtual void prepareForReuse() {}

    QToolButton* infoButton() const { return info_; }

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;

private:
    friend class CollectionView;
    void infoTapped();
    CollectionView* collectionView() const;

    QImage background_, check_;
    QPixmap shownBackground_;  // background_ scaled to where it was last drawn
    QString name_, dimension_, size_;
    QColor selectedColor_ = Qt::transparent;
    bool small_ = false;
    bool selected_ = false;
    int cellIndex_ = -1;
    QString reuseIdentifier_;
    IndexPath indexPath_;
    QToolButton* info_ = nullptr;
};
