#pragma once
// A scrolling grid (or single row) of cells. Only the items inside the visible area
// have cells; cells that scroll out go back to a queue per reuse identifier and are
// handed out again by `dequeueReusableCellWithIdentifier`, so the cost of scrolling,
// reloading and selecting does not grow with the item count.
#include <QColor>
#include <QHash>
#include <QAbstractScrollArea>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "ui/CollectionSelection.h"
#include "ui/CollectionViewCell.h"
#include "ui/CollectionViewLayout.h"
#include "ui/IndexPath.h"

class QMouseEvent;
class CollectionView;

// What the view asks of the screen that feeds it. Every call has a default that stands
// for "not answered", so a screen overrides only what it needs.
class CollectionViewDataSource {
public:
    virtual ~CollectionViewDataSource() = default;
    virtual std::optional<int> numberOfSectionsInCollectionView(CollectionView*) { return std::nullopt; }
    virtual int numberOfItemsInSection(CollectionView*, int section) { return 0; }
    virtual CollectionViewCell* cellForItemAtIndexPath(CollectionView*, const IndexPath&) { return nullptr; }
};

class CollectionViewDelegate {
public:
    virtual ~CollectionViewDelegate() = default;
    // Made for a user's click only; selecting from code never calls back.
    virtual void didSelectItemAtIndexPath(CollectionView*, const IndexPath&) {}
    virtual std::optional<bool> shouldDeselectItemAtIndexPath(CollectionView*, const IndexPath&) { return std::nullopt; }
    virtual void didRightClickItemAtIndexPath(CollectionView*, const IndexPath&, QMouseEvent*) {}
    virtual void didDoubleClickItemAtIndexPath(CollectionView*, const IndexPath&) {}
    virtual void btnInfoTappedAtLocationInCollectionView(const QPoint& location, const IndexPath&) {}
    // Local files dropped on the view; answering `true` from `acceptsFileDrops` lets them in.
    virtual bool acceptsFileDrops(CollectionView*) { return false; }
    virtual void didDropFiles(CollectionView*, const QStringList& paths) {}
};

// The view's clip view: reports every change of the visible part of the content.
class ClipView : public QWidget {
    Q_OBJECT
public:
    explicit ClipView(QWidget* parent = nullptr) : QWidget(parent) {}
    // The visible rectangle in content coordinates.
    QRect bounds() const { return bounds_; }
    // Also posts `kBoundsDidChangeNotification` (object: this clip view) when set.
    void setPostsBoundsChangedNotifications(bool on) { posts_ = on; }
    static const QString kBoundsDidChangeNotification;
signals:
    void boundsDidChange(QRect bounds);

private:
    friend class CollectionView;
    void setBounds(const QRect& r);
    // Painted by the collection view (which receives the clip view's paint events): an
    // opaque colour lets a scroll move the pixels already drawn instead of repainting
    // every cell.
    void setFillColor(const QColor& color);
    QRect bounds_;
    QColor fill_ = Qt::transparent;
    bool posts_ = false;
};

class CollectionView : public QAbstractScrollArea {
    Q_OBJECT
public:
    enum ScrollPosition { ScrollNone = 0, ScrollNearest = 1, ScrollTop = 2, ScrollMiddle = 3, ScrollBottom = 4 };
    using CellFactory = std::function<CollectionViewCell*()>;

    explicit CollectionView(QWidget* parent = nullptr);
    ~CollectionView() override;

    template <class Cell> void registerClass(const QString& identifier) {
        registerClass([] { return static_cast<CollectionViewCell*>(new Cell()); }, identifier);
    }
    void registerClass(CellFactory factory, const QString& identifier);
    // A cell of the class registered under `identifier`, reused or new, tagged with `index`;
    // null when nothing is registered under that identifier.
    CollectionViewCell* dequeueReusableCellWithIdentifier(const QString& identifier, int index);

    // The view takes ownership of the layout.
    void setCollectionViewLayout(CollectionViewLayout* layout);
    CollectionViewLayout* collectionViewLayout() const { return layout_.get(); }
    void setDataSource(CollectionViewDataSource* source) { dataSource_ = source; }
    void setDelegate(CollectionViewDelegate* delegate) { delegate_ = delegate; }
    CollectionViewDataSource* dataSource() const { return dataSource_; }
    CollectionViewDelegate* delegate() const { return delegate_; }
    void setAnimatesSelection(bool on) { animatesSelection_ = on; }
    bool animatesSelection() const { return animatesSelection_; }
    void setBackgroundColor(const QColor& color);

    void reloadData();
    int numberOfSections() const { return int(counts_.size()); }
    int numberOfItemsInSection(int section) const;

    CollectionViewCell* cellForItemAtIndexPath(const IndexPath& path) const;
    std::vector<IndexPath> indexPathsForVisibleItems() const;
    std::vector<IndexPath> indexPathsForSelectedItems() const;
    std::vector<CollectionViewCell*> visibleCells() const;

    void selectItemAtIndexPath(const IndexPath& path, int scrollPosition, bool animated, int selectionType);
    void selectItemAtIndexPath(const IndexPath& path, int scrollPosition, bool animated) {
        selectItemAtIndexPath(path, scrollPosition, animated, CollectionSelection::Single);
    }
    void deselectAllItems();
    void scrollToItemAtIndexPath(const IndexPath& path, int scrollPosition);
    QRectF rectForItemAtIndexPath(const IndexPath& path) const;
    IndexPath indexPathForItemAtPoint(const QPoint& viewportPoint) const;

    // Forwarded from a cell's info button.
    void btnInfoTappedAtLocationInCollectionView(const QPoint& location, const IndexPath& path);

    ClipView* contentView() const { return clip_; }
    // The visible rectangle in content coordinates.
    QRect documentVisibleRect() const;
    void scrollToPoint(QPoint contentOffset);

    // Cells made so far (new, not reused); lets tests and benchmarks see reuse at work.
    int cellsCreated() const { return cellsCreated_; }

protected:
    void resizeEvent(QResizeEvent*) override;
    bool viewportEvent(QEvent*) override;
    void scrollContentsBy(int dx, int dy) override;
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent*) override;
    void wheelEvent(QWheelEvent*) override;
    void dragEnterEvent(QDragEnterEvent*) override;
    void dragMoveEvent(QDragMoveEvent*) override;
    void dropEvent(QDropEvent*) override;

private:
    void relayout();        // asks the layout again and sizes the scroll range
    void tile();            // makes the visible cells match the visible items
    void enqueue(CollectionViewCell* cell);
    void applySelection(const std::set<IndexPath>& wanted);
    QStringList localFiles(const class QMimeData* mime) const;

    std::unique_ptr<CollectionViewLayout> layout_;
    CollectionViewDataSource* dataSource_ = nullptr;
    CollectionViewDelegate* delegate_ = nullptr;
    ClipView* clip_ = nullptr;
    bool animatesSelection_ = true;
    std::vector<int> counts_;
    CollectionSelection selection_;
    std::map<IndexPath, CollectionViewCell*> visible_;
    QHash<QString, CellFactory> factories_;
    QHash<QString, std::vector<CollectionViewCell*>> reuse_;
    int cellsCreated_ = 0;
    bool tiling_ = false;
};
