#include "ui/CollectionView.h"

#include "platform/foundation/NativeNames.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QUrl>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "platform/foundation/NotificationCenter.h"

const QString ClipView::kBoundsDidChangeNotification = QStringLiteral("NSViewBoundsDidChangeNotification");

void ClipView::setBounds(const QRect& r) {
    if (r == bounds_) return;
    bounds_ = r;
    emit boundsDidChange(r);
    if (posts_) platform::NotificationCenter::defaultCenter().postNotification(kBoundsDidChangeNotification, {}, this);
}

void ClipView::setFillColor(const QColor& color) {
    fill_ = color;
    setAttribute(Qt::WA_OpaquePaintEvent, color.alpha() == 255);
    update();
}

void CollectionView::paintEvent(QPaintEvent* e) {
    if (clip_->fill_.alpha() == 0) return;
    QPainter p(viewport());
    for (const QRect& r : e->region()) fillInBands(p, r, clip_->fill_);
}

CollectionView::CollectionView(QWidget* parent) : QAbstractScrollArea(parent) {
    clip_ = new ClipView;
    setViewport(clip_);
    setFrameShape(QFrame::NoFrame);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    layout_ = std::make_unique<CollectionViewGridLayout>();
    verticalScrollBar()->setSingleStep(20);
    horizontalScrollBar()->setSingleStep(20);
}

CollectionView::~CollectionView() = default;

void CollectionView::registerClass(CellFactory factory, const QString& identifier) {
    factories_.insert(identifier, std::move(factory));
}

CollectionViewCell* CollectionView::dequeueReusableCellWithIdentifier(const QString& identifier, int index) {
    CollectionViewCell* cell = nullptr;
    auto it = reuse_.find(identifier);
    if (it != reuse_.end() && !it->empty()) {
        cell = it->back();
        it->pop_back();
    } else {
        auto f = factories_.find(identifier);
        if (f == factories_.end() || !*f) return nullptr;
        cell = (*f)();
        if (!cell) return nullptr;
        cell->setParent(viewport());
        ++cellsCreated_;
    }
    cell->reuseIdentifier_ = identifier;
    cell->setCellIndex(index);
    return cell;
}

void CollectionView::enqueue(CollectionViewCell* cell) {
    cell->hide();
    cell->setSelected(false);
    cell->indexPath_ = {};
    cell->prepareForReuse();
    if (cell->reuseIdentifier_.isEmpty()) {
        cell->deleteLater();  // nobody can ask for it again
        return;
    }
    reuse_[cell->reuseIdentifier_].push_back(cell);
}

void CollectionView::setCollectionViewLayout(CollectionViewLayout* layout) {
    layout_.reset(layout ? layout : new CollectionViewGridLayout);
    const bool horizontal = layout_->scrollDirection() == CollectionViewLayout::Direction::Horizontal;
    setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(horizontal ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
    relayout();
    tile();
}

void CollectionView::setBackgroundColor(const QColor& color) {
    // Not through the palette: a style sheet of an ancestor may replace it when it polishes.
    viewport()->setAutoFillBackground(false);
    clip_->setFillColor(color);
}

int CollectionView::numberOfItemsInSection(int section) const {
    return section >= 0 && section < int(counts_.size()) ? counts_[size_t(section)] : 0;
}

void CollectionView::reloadData() {
    for (auto& [path, cell] : visible_) enqueue(cell);
    visible_.clear();
    counts_.clear();
    if (dataSource_) {
        const int sections = std::max(0, dataSource_->numberOfSectionsInCollectionView(this).value_or(1));
        counts_.reserve(size_t(sections));
        for (int s = 0; s < sections; ++s) counts_.push_back(std::max(0, dataSource_->numberOfItemsInSection(this, s)));
    }
    selection_.prune(counts_);
    relayout();
    tile();
}

void CollectionView::relayout() {
    layout_->prepareLayout(this, QSizeF(viewport()->size()), counts_);
    const QSizeF content = layout_->contentSize();
    const QSize vp = viewport()->size();
    const int maxX = std::max(0, int(std::ceil(content.width())) - vp.width());
    const int maxY = std::max(0, int(std::ceil(content.height())) - vp.height());
    horizontalScrollBar()->setRange(0, maxX);
    horizontalScrollBar()->setPageStep(vp.width());
    verticalScrollBar()->setRange(0, maxY);
    verticalScrollBar()->setPageStep(vp.height());
}

QRect CollectionView::documentVisibleRect() const {
    return QRect(QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value()), viewport()->size());
}

void CollectionView::scrollToPoint(QPoint offset) {
    horizontalScrollBar()->setValue(offset.x());
    verticalScrollBar()->setValue(offset.y());
    tile();
}

void CollectionView::tile() {
    if (tiling_) return;  // a data source that scrolls while handing out cells
    tiling_ = true;
    const QRect visibleRect = documentVisibleRect();
    const std::vector<IndexPath> wanted = layout_->indexPathsInRect(QRectF(visibleRect));
    // Cells that left the visible area go back to their queues first, so the new
    // items can reuse them.
    for (auto it = visible_.begin(); it != visible_.end();) {
        if (!std::binary_search(wanted.begin(), wanted.end(), it->first)) {
            enqueue(it->second);
            it = visible_.erase(it);
        } else {
            ++it;
        }
    }
    const QPoint origin = visibleRect.topLeft();
    for (const IndexPath& p : wanted) {
        CollectionViewCell* cell = nullptr;
        if (auto it = visible_.find(p); it != visible_.end()) {
            cell = it->second;
        } else {
            if (dataSource_) cell = dataSource_->cellForItemAtIndexPath(this, p);
            if (!cell) continue;
            if (cell->parentWidget() != viewport()) cell->setParent(viewport());
            cell->indexPath_ = p;
            if (cell->cellIndex() < 0) cell->setCellIndex(p.item);
            visible_[p] = cell;
            cell->setSelected(selection_.contains(p));
        }
        const QRectF f = layout_->frameForItem(p);
        cell->setGeometry(QRect(QPoint(int(std::lround(f.x())) - origin.x(), int(std::lround(f.y())) - origin.y()),
                                QSize(int(std::lround(f.width())), int(std::lround(f.height())))));
        cell->show();
    }
    clip_->setBounds(visibleRect);
    tiling_ = false;
}

CollectionViewCell* CollectionView::cellForItemAtIndexPath(const IndexPath& path) const {
    auto it = visible_.find(path);
    return it == visible_.end() ? nullptr : it->second;
}

std::vector<IndexPath> CollectionView::indexPathsForVisibleItems() const {
    std::vector<IndexPath> out;
    out.reserve(visible_.size());
    for (const auto& [p, c] : visible_) out.push_back(p);
    return out;
}

std::vector<CollectionViewCell*> CollectionView::visibleCells() const {
    std::vector<CollectionViewCell*> out;
    for (const auto& [p, c] : visible_) out.push_back(c);
    return out;
}

std::vector<IndexPath> CollectionView::indexPathsForSelectedItems() const {
    return {selection_.selected().begin(), selection_.selected().end()};
}

void CollectionView::applySelection(const std::set<IndexPath>& wanted) {
    selection_.assign(wanted);
    for (auto& [p, cell] : visible_) cell->setSelected(selection_.contains(p));
}

void CollectionView::selectItemAtIndexPath(const IndexPath& path, int scrollPosition, bool animated, int type) {
    if (path.isNull()) return;
    std::function<bool(const IndexPath&)> mayDeselect;
    if (delegate_) {
        mayDeselect = [this](const IndexPath& p) {
            return delegate_->shouldDeselectItemAtIndexPath(this, p).value_or(true);
        };
    }
    applySelection(selection_.resulting(path, type, counts_, mayDeselect));
    scrollToItemAtIndexPath(path, scrollPosition);
}

void CollectionView::deselectAllItems() { applySelection({}); }

QRectF CollectionView::rectForItemAtIndexPath(const IndexPath& path) const { return layout_->frameForItem(path); }

IndexPath CollectionView::indexPathForItemAtPoint(const QPoint& viewportPoint) const {
    return layout_->indexPathAtPoint(QPointF(viewportPoint + documentVisibleRect().topLeft()));
}

void CollectionView::scrollToItemAtIndexPath(const IndexPath& path, int position) {
    const QRectF f = layout_->frameForItem(path);
    if (f.isEmpty() || position == ScrollNone) return;
    const bool horizontal = layout_->scrollDirection() == CollectionViewLayout::Direction::Horizontal;
    QScrollBar* bar = horizontal ? horizontalScrollBar() : verticalScrollBar();
    const double start = horizontal ? f.left() : f.top();
    const double end = horizontal ? f.right() : f.bottom();
    const double page = horizontal ? viewport()->width() : viewport()->height();
    const double current = bar->value();
    double target = current;
    switch (position) {
    case ScrollNearest:
        if (start < current) target = start;
        else if (end > current + page) target = std::min(start, end - page);
        break;
    case ScrollTop: target = start; break;
    case ScrollMiddle: target = (start + end) / 2 - page / 2; break;
    case ScrollBottom: target = end - page; break;
    default: return;
    }
    bar->setValue(int(std::lround(std::clamp(target, double(bar->minimum()), double(bar->maximum())))));
    tile();
}

void CollectionView::btnInfoTappedAtLocationInCollectionView(const QPoint& location, const IndexPath& path) {
    if (delegate_) delegate_->btnInfoTappedAtLocationInCollectionView(location, path);
}

void CollectionView::resizeEvent(QResizeEvent* e) {
    QAbstractScrollArea::resizeEvent(e);
    relayout();
    tile();
}

bool CollectionView::viewportEvent(QEvent* e) {
    // A scroll bar coming or going resizes the viewport without resizing the view.
    if (e->type() == QEvent::Resize) {
        relayout();
        tile();
    }
    return QAbstractScrollArea::viewportEvent(e);
}

// The viewport moves its pixels and its cells by the scroll; an opaque viewport then
// repaints only the strip that came into view.
void CollectionView::scrollContentsBy(int dx, int dy) {
    viewport()->scroll(dx, dy);
    tile();
}

// A strip that runs sideways scrolls sideways under the ordinary (vertical) wheel as
// well: its own vertical scroll bar has nothing to scroll.
void CollectionView::wheelEvent(QWheelEvent* e) {
    if (layout_ && layout_->scrollDirection() == CollectionViewLayout::Direction::Horizontal &&
        horizontalScrollBar()->maximum() > 0) {
        QCoreApplication::sendEvent(horizontalScrollBar(), e);
        return;
    }
    QAbstractScrollArea::wheelEvent(e);
}

void CollectionView::mousePressEvent(QMouseEvent* e) {
    const IndexPath p = indexPathForItemAtPoint(e->position().toPoint());
    if (e->button() == Qt::RightButton) {
        if (!p.isNull() && delegate_) delegate_->didRightClickItemAtIndexPath(this, p, e);
        return;
    }
    if (e->button() != Qt::LeftButton) return;
    // A press between tiles keeps the selection: the screens tie it to the current photo.
    if (p.isNull()) return;
    int type = CollectionSelection::Single;
    if (e->modifiers() & Qt::ShiftModifier) type = CollectionSelection::Extending;
    else if (e->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) type = CollectionSelection::Multiple;
    selectItemAtIndexPath(p, ScrollNone, animatesSelection_, type);
    if (delegate_ && selection_.contains(p)) delegate_->didSelectItemAtIndexPath(this, p);
}

void CollectionView::mouseDoubleClickEvent(QMouseEvent* e) {
    const IndexPath p = indexPathForItemAtPoint(e->position().toPoint());
    if (e->button() == Qt::LeftButton && !p.isNull() && delegate_) delegate_->didDoubleClickItemAtIndexPath(this, p);
}

QStringList CollectionView::localFiles(const QMimeData* mime) const {
    // Read from the list's bytes, so a name that is not UTF-8 keeps them.
    if (!mime || !mime->hasUrls()) return {};
    return platform::localPathsFromUriList(mime->data(QStringLiteral("text/uri-list")));
}

void CollectionView::dragEnterEvent(QDragEnterEvent* e) {
    if (delegate_ && delegate_->acceptsFileDrops(this) && !localFiles(e->mimeData()).isEmpty()) e->acceptProposedAction();
    else e->ignore();
}

void CollectionView::dragMoveEvent(QDragMoveEvent* e) {
    if (delegate_ && delegate_->acceptsFileDrops(this)) e->acceptProposedAction();
    else e->ignore();
}

void CollectionView::dropEvent(QDropEvent* e) {
    const QStringList files = localFiles(e->mimeData());
    if (!delegate_ || !delegate_->acceptsFileDrops(this) || files.isEmpty()) {
        e->ignore();
        return;
    }
    e->acceptProposedAction();
    delegate_->didDropFiles(this, files);
}
