#include "ui/CollectionViewLayout.h"

#include <algorithm>
#include <cmath>

IndexPath CollectionViewLayout::indexPathAtPoint(QPointF point) const {
    const QRectF probe(point, QSizeF(0.5, 0.5));
    for (const IndexPath& p : indexPathsInRect(probe))
        if (frameForItem(p).contains(point)) return p;
    return {};
}

// ---- grid

void CollectionViewGridLayout::prepareLayout(CollectionView* view, QSizeF viewport,
                                             const std::vector<int>& itemCounts) {
    counts_ = itemCounts;
    item_ = QSizeF(kDefaultItemWidth, kDefaultItemHeight);
    if (delegate_) {
        if (auto s = delegate_->sizeForItemInCollectionView(view); s && s->width() > 0 && s->height() > 0) item_ = *s;
    }
    width_ = std::max(0.0, viewport.width());
    columns_ = std::max(1, int(std::floor(width_ / item_.width())));
    // The spare width goes into equal gaps: one before each column and one after the last.
    hGap_ = std::max(0.0, (width_ - columns_ * item_.width()) / (columns_ + 1));
    firstRow_.assign(counts_.size(), 0);
    rows_ = 0;
    for (size_t s = 0; s < counts_.size(); ++s) {
        firstRow_[s] = rows_;
        const long long n = std::max(0, counts_[s]);
        rows_ += (n + columns_ - 1) / columns_;
    }
}

QSizeF CollectionViewGridLayout::contentSize() const {
    const double h = rows_ > 0 ? verticalSpacing_ + rows_ * rowPitch() : 0;
    return QSizeF(std::max(width_, columns_ * item_.width()), h);
}

QRectF CollectionViewGridLayout::frameForItem(const IndexPath& path) const {
    if (path.isNull() || path.section >= int(counts_.size()) || path.item >= counts_[size_t(path.section)]) return {};
    const long long row = firstRow_[size_t(path.section)] + path.item / columns_;
    const int col = path.item % columns_;
    const double x = hGap_ + col * (item_.width() + hGap_);
    const double y = verticalSpacing_ + row * rowPitch();
    return QRectF(x, y, item_.width(), item_.height());
}

std::vector<IndexPath> CollectionViewGridLayout::indexPathsInRect(const QRectF& rect) const {
    std::vector<IndexPath> out;
    if (rows_ == 0 || rect.isEmpty()) return out;
    const double pitch = rowPitch();
    long long r0 = (long long)std::floor((rect.top() - verticalSpacing_ - item_.height()) / pitch) + 1;
    long long r1 = (long long)std::floor((rect.bottom() - verticalSpacing_) / pitch);
    r0 = std::max(0LL, r0);
    r1 = std::min(rows_ - 1, r1);
    if (r0 > r1) return out;
    // Sections in row order; find the one holding r0 and walk on.
    size_t s = size_t(std::upper_bound(firstRow_.begin(), firstRow_.end(), r0) - firstRow_.begin());
    s = s == 0 ? 0 : s - 1;
    for (; s < counts_.size(); ++s) {
        const long long n = std::max(0, counts_[s]);
        const long long sRows = (n + columns_ - 1) / columns_;
        const long long a = std::max(r0, firstRow_[s]);
        const long long b = std::min(r1, firstRow_[s] + sRows - 1);
        if (firstRow_[s] > r1) break;
        for (long long r = a; r <= b; ++r) {
            for (int c = 0; c < columns_; ++c) {
                const long long item = (r - firstRow_[s]) * columns_ + c;
                if (item >= n) break;
                const IndexPath p{int(s), int(item)};
                if (frameForItem(p).intersects(rect)) out.push_back(p);
            }
        }
    }
    return out;
}

// ---- single row

void CollectionViewHorizontalLayout::prepareLayout(CollectionView* view, QSizeF viewport,
                                                   const std::vector<int>& itemCounts) {
    counts_ = itemCounts;
    height_ = std::max(0.0, viewport.height());
    const double side = std::max(1.0, height_ - 2 * margin_);
    item_ = QSizeF(side, side);
    if (delegate_) {
        if (auto s = delegate_->sizeForItemInCollectionView(view); s && s->width() > 0 && s->height() > 0) item_ = *s;
    }
    first_.assign(counts_.size(), 0);
    total_ = 0;
    for (size_t s = 0; s < counts_.size(); ++s) {
        first_[s] = total_;
        total_ += std::max(0, counts_[s]);
    }
}

QSizeF CollectionViewHorizontalLayout::contentSize() const {
    const double w = total_ > 0 ? margin_ + total_ * (item_.width() + margin_) : 0;
    return QSizeF(w, std::max(height_, item_.height() + 2 * margin_));
}

QRectF CollectionViewHorizontalLayout::frameForItem(const IndexPath& path) const {
    if (path.isNull() || path.section >= int(counts_.size()) || path.item >= counts_[size_t(path.section)]) return {};
    const long long k = first_[size_t(path.section)] + path.item;
    const double y = std::max(margin_, (height_ - item_.height()) / 2);
    return QRectF(margin_ + k * (item_.width() + margin_), y, item_.width(), item_.height());
}

std::vector<IndexPath> CollectionViewHorizontalLayout::indexPathsInRect(const QRectF& rect) const {
    std::vector<IndexPath> out;
    if (total_ == 0 || rect.isEmpty()) return out;
    const double pitch = item_.width() + margin_;
    long long k0 = std::max(0LL, (long long)std::floor((rect.left() - margin_ - item_.width()) / pitch) + 1);
    long long k1 = std::min(total_ - 1, (long long)std::floor((rect.right() - margin_) / pitch));
    for (long long k = k0; k <= k1; ++k) {
        size_t s = size_t(std::upper_bound(first_.begin(), first_.end(), k) - first_.begin()) - 1;
        const IndexPath p{int(s), int(k - first_[s])};
        if (frameForItem(p).intersects(rect)) out.push_back(p);
    }
    return out;
}
