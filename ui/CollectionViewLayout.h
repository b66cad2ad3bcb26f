#pragma once
// Where a collection view's items go. A layout is plain geometry: given the viewport
// size and the item count of every section it answers frames, the content size and the
// items inside a rectangle, all in closed form so a million items cost no more than ten.
// Coordinates are the view's own content coordinates (origin top-left, y down).
#include <QRectF>
#include <QSizeF>
#include <optional>
#include <vector>

#include "ui/IndexPath.h"

class CollectionView;

class CollectionViewLayout {
public:
    enum class Direction { Vertical, Horizontal };
    virtual ~CollectionViewLayout() = default;

    // Recomputes the layout for a viewport and the item count of each section.
    virtual void prepareLayout(CollectionView* view, QSizeF viewport, const std::vector<int>& itemCounts) = 0;
    virtual QSizeF contentSize() const = 0;
    virtual QRectF frameForItem(const IndexPath& path) const = 0;
    // Items whose frames meet `rect`, in index path order.
    virtual std::vector<IndexPath> indexPathsInRect(const QRectF& rect) const = 0;
    // The item whose frame holds the point, or a null index path.
    virtual IndexPath indexPathAtPoint(QPointF point) const;
    virtual Direction scrollDirection() const { return Direction::Vertical; }

protected:
    std::vector<int> counts_;
};

// The size every grid item takes, asked of the screen that lays the grid out.
class CollectionViewGridLayoutDelegate {
public:
    virtual ~CollectionViewGridLayoutDelegate() = default;
    virtual std::optional<QSizeF> sizeForItemInCollectionView(CollectionView* view) { return std::nullopt; }
};

// Rows of equal items filling the view's width; the spare width is shared out between
// the columns, rows are `verticalSpacing` apart and every section starts a new row.
class CollectionViewGridLayout : public CollectionViewLayout {
public:
    CollectionViewGridLayout() = default;
    void setDelegate(CollectionViewGridLayoutDelegate* delegate) { delegate_ = delegate; }
    CollectionViewGridLayoutDelegate* delegate() const { return delegate_; }
    void setVerticalSpacing(double spacing) { verticalSpacing_ = spacing; }
    double verticalSpacing() const { return verticalSpacing_; }
    // Item size when the delegate gives none.
    static constexpr double kDefaultItemWidth = 100, kDefaultItemHeight = 100;

    void prepareLayout(CollectionView* view, QSizeF viewport, const std::vector<int>& itemCounts) override;
    QSizeF contentSize() const override;
    QRectF frameForItem(const IndexPath& path) const override;
    std::vector<IndexPath> indexPathsInRect(const QRectF& rect) const override;

    int columns() const { return columns_; }

private:
    CollectionViewGridLayoutDelegate* delegate_ = nullptr;
    double verticalSpacing_ = 0;
    QSizeF item_{kDefaultItemWidth, kDefaultItemHeight};
    double width_ = 0;
    double hGap_ = 0;
    int columns_ = 1;
    std::vector<long long> firstRow_;  // first row of each section
    long long rows_ = 0;
    double rowPitch() const { return item_.height() + verticalSpacing_; }
};

// One row of items running left to right, `itemMargin` apart and from the ends; items
// are square to the viewport's height unless the delegate gives a size.
class CollectionViewHorizontalLayout : public CollectionViewLayout {
public:
    CollectionViewHorizontalLayout() = default;
    void setDelegate(CollectionViewGridLayoutDelegate* delegate) { delegate_ = delegate; }
    void setItemMargin(double margin) { margin_ = margin; }
    double itemMargin() const { return margin_; }

    void prepareLayout(CollectionView* view, QSizeF viewport, const std::vector<int>& itemCounts) override;
    QSizeF contentSize() const override;
    QRectF frameForItem(const IndexPath& path) const override;
    std::vector<IndexPath> indexPathsInRect(const QRectF& rect) const override;
    Direction scrollDirection() const override { return Direction::Horizontal; }

private:
    CollectionViewGridLayoutDelegate* delegate_ = nullptr;
    double margin_ = 0;
    QSizeF item_;
    double height_ = 0;
    std::vector<long long> first_;  // running index of each section's first item
    long long total_ = 0;
};
