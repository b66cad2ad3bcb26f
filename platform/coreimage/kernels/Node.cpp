// Pixel loops are written to vectorise; -O2 leaves many of them scalar, so this file is
// compiled at -O3 (platform/CMakeLists.txt).
#include "platform/coreimage/kernels/Node.h"

#include "platform/coreimage/Parallel.h"
#include "platform/coreimage/PixelPack.h"
#include "platform/graphics/YUp.h"

#include <QImage>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

namespace platform::ci {

QRectF infiniteRect() { return QRectF(-kInfiniteHalf, -kInfiniteHalf, 2 * kInfiniteHalf, 2 * kInfiniteHalf); }
bool isInfinite(const QRectF& r) { return r.width() >= kInfiniteHalf || r.height() >= kInfiniteHalf; }

PixelRect PixelRect::intersected(const PixelRect& o) const {
    const int x0 = std::max(x, o.x), y0 = std::max(y, o.y);
    const int x1 = std::min(right(), o.right()), y1 = std::min(top(), o.top());
    if (x1 <= x0 || y1 <= y0) return {x0, y0, 0, 0};
    return {x0, y0, x1 - x0, y1 - y0};
}

PixelRect PixelRect::united(const PixelRect& o) const {
    if (empty()) return o;
    if (o.empty()) return *this;
    const int x0 = std::min(x, o.x), y0 = std::min(y, o.y);
    const int x1 = std::max(right(), o.right()), y1 = std::max(top(), o.top());
    return {x0, y0, x1 - x0, y1 - y0};
}

PixelRect PixelRect::covering(const QRectF& r) {
    if (!std::isfinite(r.x()) || !std::isfinite(r.y()) || !std::isfinite(r.width()) || !std::isfinite(r.height()) || r.isEmpty())
        return {};
    auto clampd = [](double v) { return std::clamp(v, -kInfiniteHalf, kInfiniteHalf); };
    // A tolerance keeps rectangles that are integral up to rounding from gaining a pixel.
    const double eps = 1e-6;
    const double x0 = std::floor(clampd(r.left()) + eps), y0 = std::floor(clampd(r.top()) + eps);
    const double x1 = std::ceil(clampd(r.left() + r.width()) - eps), y1 = std::ceil(clampd(r.top() + r.height()) - eps);
    if (x1 <= x0 || y1 <= y0) return {int(x0), int(y0), 0, 0};
    return {int(x0), int(y0), int(x1 - x0), int(y1 - y0)};
}

namespace {

using Storage = std::vector<float, UninitializedAllocator<float>>;

// Storage kept between the buffers of renders in progress.
class StoragePool {
public:
    static StoragePool& instance() {
        static StoragePool p;
        return p;
    }
    void enter() {
        std::lock_guard<std::mutex> l(m_);
        ++active_;
    }
    void leave() {
        std::vector<Storage> drop;
        {
            std::lock_guard<std::mutex> l(m_);
            if (--active_ == 0) drop.swap(free_), kept_ = 0;
        }
    }
    // Storage of at least n floats, or an empty one. When none is large enough, the largest
    // kept storage is let go instead, so that a buffer outgrowing the one before it (the
    // second strip of a render, which has rows on both sides) does not leave that one
    // held beside it.
    Storage take(size_t n) {
        Storage s;
        bool fits = false;
        {
            std::lock_guard<std::mutex> l(m_);
            size_t best = free_.size(), largest = free_.size();
            for (size_t i = 0; i < free_.size(); ++i) {
                const size_t c = free_[i].capacity();
                if (c >= n && (best == free_.size() || c < free_[best].capacity())) best = i;
                if (largest == free_.size() || c > free_[largest].capacity()) largest = i;
            }
            fits = best != free_.size();
            const size_t pick = fits ? best : largest;
            if (pick == free_.size()) return s;
            s = std::move(free_[pick]);
            free_.erase(free_.begin() + ptrdiff_t(pick));
            kept_ -= s.capacity();
        }
        if (!fits) Storage().swap(s);
        return s;
    }
    void give(Storage&& s) {
        const size_t c = s.capacity();
        if (c < kMinKept) return;
        std::lock_guard<std::mutex> l(m_);
        if (active_ == 0 || free_.size() >= kMaxCount || kept_ + c > kMaxFloats) return;
        kept_ += c;
        free_.push_back(std::move(s));
    }

private:
    static constexpr size_t kMinKept = 256 * 1024;            // floats (1 MB)
    static constexpr size_t kMaxFloats = 128ull * 1024 * 1024;  // 512 MB
    static constexpr size_t kMaxCount = 8;
    std::mutex m_;
    int active_ = 0;
    size_t kept_ = 0;
    std::vector<Storage> free_;
};

}  // namespace

RenderScope::RenderScope() { StoragePool::instance().enter(); }
RenderScope::~RenderScope() { StoragePool::instance().leave(); }

Buffer::Buffer(const PixelRect& r, Init init) : rect(r) {
    if (r.empty()) {
        rect.w = rect.h = 0;
        return;
    }
    const size_t n = size_t(r.w) * size_t(r.h) * 4;
    data = StoragePool::instance().take(n);
    data.resize(n);
    if (init == kZero) std::fill(data.begin(), data.end(), 0.0f);
}

Buffer::~Buffer() { StoragePool::instance().give(std::move(data)); }

Buffer& Buffer::operator=(Buffer&& o) noexcept {
    if (this != &o) {
        StoragePool::instance().give(std::move(data));
        data = std::move(o.data);
        rect = o.rect;
        o.rect = {};
    }
    return *this;
}

void Buffer::sampleAtEdge(double sx, double sy, float out[4]) const {
    // Same arithmetic as the inside case, with missing taps reading as transparent, so a
    // point gives the same colour whichever rectangle was rendered around it.
    const double fx = sx - 0.5 - rect.x, fy = sy - 0.5 - rect.y;
    const double flx = std::floor(fx), fly = std::floor(fy);
    out[0] = out[1] = out[2] = out[3] = 0.0f;
    if (!(flx > -2 && fly > -2 && flx < rect.w + 1 && fly < rect.h + 1)) return;
    const int ix = int(flx), iy = int(fly);
    const float tx = float(fx - flx), ty = float(fy - fly);
    static const float kClear[4] = {0, 0, 0, 0};
    auto tap = [&](int x, int y) -> const float* {
        if (x < 0 || y < 0 || x >= rect.w || y >= rect.h) return kClear;
        return data.data() + (size_t(y) * size_t(rect.w) + size_t(x)) * 4;
    };
    const float *p00 = tap(ix, iy), *p10 = tap(ix + 1, iy), *p01 = tap(ix, iy + 1), *p11 = tap(ix + 1, iy + 1);
    for (int c = 0; c < 4; ++c) {
        const float lo = p00[c] + tx * (p10[c] - p00[c]);
        const float hi = p01[c] + tx * (p11[c] - p01[c]);
        out[c] = lo + ty * (hi - lo);
    }
}

void Buffer::paste(const Buffer& src) {
    const PixelRect o = rect.intersected(src.rect);
    if (o.empty()) return;
    for (int y = o.y; y < o.top(); ++y)
        std::memcpy(at(o.x, y), src.at(o.x, y), size_t(o.w) * 4 * sizeof(float));
}

Buffer Node::render(const PixelRect& r) const {
    if (r.empty()) return Buffer(r);
    const QRectF e = extent();
    const PixelRect rc = isInfinite(e) ? r : r.intersected(PixelRect::covering(e));
    if (rc.empty()) return Buffer(r);
    Buffer b = renderInside(rc);
    if (b.rect == r) return b;
    Buffer out(r);
    out.paste(b);
    return out;
}

Buffer renderOf(const NodePtr& n, const PixelRect& r) { return n ? n->render(r) : Buffer(r); }

PixelRect clipToInput(const NodePtr& n, const PixelRect& r) {
    if (!n) return PixelRect{r.x, r.y, 0, 0};
    const QRectF e = n->extent();
    if (isInfinite(e)) return r;
    return r.intersected(PixelRect::covering(e).grown(1));
}

namespace {

// ---- source --------------------------------------------------------------------------
class SourceNode final : public Node {
public:
    // An opaque RGB32 picture is read as it is (its pixels are premultiplied ARGB with the
    // alpha forced to 255), so a photo is not copied only to be read.
    explicit SourceNode(const QImage& img)
        : image_(img.format() == QImage::Format_RGB32 ? img : img.convertToFormat(QImage::Format_ARGB32_Premultiplied)),
          alphaMask_(image_.format() == QImage::Format_RGB32 ? 0xff000000u : 0u) {}
    QRectF extent() const override { return QRectF(0, 0, image_.width(), image_.height()); }
    int rowReach() const override { return 0; }
    const QImage& image() const { return image_; }

protected:
    Buffer renderInside(const PixelRect& r) const override {
        Buffer b(r, Buffer::kUninitialized);
        const int H = image_.height();
        parallelFor(r.y, r.top(), [&](int y0, int y1) {
            for (int y = y0; y < y1; ++y) {
                const auto* src = reinterpret_cast<const quint32*>(image_.constScanLine(platform::toQtRow(y, H))) + r.x;
                platform::pixelpack::unpackRow(src, b.row(y), r.w, alphaMask_);
            }
        }, r.w);
        return b;
    }

private:
    QImage image_;
    quint32 alphaMask_;
};

class ConstantNode final : public Node {
public:
    explicit ConstantNode(const float c[4]) { std::copy(c, c + 4, c_); }
    QRectF extent() const override { return infiniteRect(); }
    int rowReach() const override { return 0; }

protected:
    Buffer renderInside(const PixelRect& r) const override {
        Buffer b(r, Buffer::kUninitialized);
        float* d = b.data.data();
        for (long long i = 0, n = r.area(); i < n; ++i, d += 4) std::copy(c_, c_ + 4, d);
        return b;
    }

private:
    float c_[4];
};

class CropNode final : public Node {
public:
    CropNode(NodePtr in, const QRectF& rect) : in_(std::move(in)) {
        const QRectF e = in_ ? in_->extent() : QRectF();
        extent_ = isInfinite(e) ? rect.normalized() : e.intersected(rect.normalized());
    }
    QRectF extent() const override { return extent_; }
    int reach() const override { return reachOf(in_); }
    int rowReach() const override { return rowReachOf(in_); }

protected:
    Buffer renderInside(const PixelRect& r) const override { return renderOf(in_, r); }

private:
    NodePtr in_;
    QRectF extent_;
};

class TransformNode final : public Node {
public:
    TransformNode(NodePtr in, const QTransform& t) : in_(std::move(in)), t_(t), inv_(t.inverted()) {
        const QRectF e = in_ ? in_->extent() : QRectF();
        extent_ = isInfinite(e) ? infiniteRect() : t.mapRect(e);
        shift_ = t.type() <= QTransform::TxTranslate && t.dx() == std::round(t.dx()) && t.dy() == std::round(t.dy());
    }
    QRectF extent() const override { return extent_; }
    int reach() const override { return reachOf(in_) + 1; }
    int rowReach() const override {
        const int below = rowReachOf(in_);
        return shift_ && below >= 0 ? below + int(std::abs(t_.dy())) : -1;
    }

protected:
    Buffer renderInside(const PixelRect& r) const override {
        if (shift_) {
            const int dx = int(t_.dx()), dy = int(t_.dy());
            Buffer b = renderOf(in_, {r.x - dx, r.y - dy, r.w, r.h});
            b.rect = r;
            return b;
        }
        PixelRect roi = PixelRect::covering(inv_.mapRect(r.toRectF())).grown(1);
        const QRectF ie = in_->extent();
        if (!isInfinite(ie)) roi = roi.intersected(PixelRect::covering(ie).grown(1));
        if (roi.empty()) return Buffer(r);
        Buffer out(r, Buffer::kUninitialized);
        const Buffer src = renderOf(in_, roi);
        parallelFor(r.y, r.top(), [&](int y0, int y1) {
            for (int y = y0; y < y1; ++y) {
                float* d = out.row(y);
                for (int x = r.x; x < r.right(); ++x, d += 4) {
                    const QPointF q = inv_.map(QPointF(x + 0.5, y + 0.5));
                    src.sample(q.x(), q.y(), d);
                }
            }
        }, r.w * 8.0);
        return out;
    }

private:
    NodePtr in_;
    QTransform t_, inv_;
    QRectF extent_;
    bool shift_ = false;
};

class ClampNode final : public Node {
public:
    explicit ClampNode(NodePtr in) : in_(std::move(in)) {
        const QRectF e = in_ ? in_->extent() : QRectF();
        extent_ = e.isEmpty() ? QRectF() : infiniteRect();
        src_ = isInfinite(e) ? PixelRect{} : PixelRect::covering(e);
        infiniteInput_ = isInfinite(e);
    }
    QRectF extent() const override { return extent_; }
    int reach() const override { return reachOf(in_); }

protected:
    Buffer renderInside(const PixelRect& r) const override {
        if (infiniteInput_) return renderOf(in_, r);
        auto cx = [&](int x) { return std::clamp(x, src_.x, src_.right() - 1); };
        auto cy = [&](int y) { return std::clamp(y, src_.y, src_.top() - 1); };
        const PixelRect roi{cx(r.x), cy(r.y), cx(r.right() - 1) - cx(r.x) + 1, cy(r.top() - 1) - cy(r.y) + 1};
        const Buffer src = renderOf(in_, roi);
        Buffer out(r, Buffer::kUninitialized);
        parallelFor(r.y, r.top(), [&](int y0, int y1) {
            for (int y = y0; y < y1; ++y) {
                const int sy = cy(y);
                float* d = out.row(y);
                for (int x = r.x; x < r.right(); ++x, d += 4) std::memcpy(d, src.at(cx(x), sy), 4 * sizeof(float));
            }
        }, r.w);
        return out;
    }

private:
    NodePtr in_;
    QRectF extent_;
    PixelRect src_;
    bool infiniteInput_ = false;
};

// ---- colour --------------------------------------------------------------------------
struct Stage {
    ColorStage plain;
    PositionedColorStage positioned;
};

class ColorNode final : public Node {
public:
    ColorNode(NodePtr in, std::vector<Stage> stages) : in_(std::move(in)), stages_(std::move(stages)) {}
    QRectF extent() const override { return in_ ? in_->extent() : QRectF(); }
    int reach() const override { return reachOf(in_); }
    int rowReach() const override { return rowReachOf(in_); }
    const NodePtr& input() const { return in_; }
    const std::vector<Stage>& stages() const { return stages_; }

protected:
    Buffer renderInside(const PixelRect& r) const override {
        Buffer b = renderOf(in_, r);
        parallelFor(r.y, r.top(), [&](int y0, int y1) {
            for (int y = y0; y < y1; ++y) {
                float* p = b.row(y);
                using V4f = float __attribute__((vector_size(16)));
                for (int i = 0; i < r.w; ++i) {
                    float* q = p + 4 * i;
                    V4f v;
                    std::memcpy(&v, q, sizeof v);
                    const float a = v[3];
                    const float inv = a > 0.0f ? 1.0f / a : 0.0f;
                    const V4f k = {inv, inv, inv, 1.0f};
                    v *= k;
                    std::memcpy(q, &v, sizeof v);
                }
                for (const Stage& s : stages_) {
                    if (s.plain) s.plain(p, r.w);
                    else s.positioned(p, r.w, r.x, y);
                }
                for (int i = 0; i < r.w; ++i) {
                    float* q = p + 4 * i;
                    V4f v;
                    std::memcpy(&v, q, sizeof v);
                    const V4f k = {v[3], v[3], v[3], 1.0f};
                    v *= k;
                    std::memcpy(q, &v, sizeof v);
                }
            }
        }, r.w * (2.0 + double(stages_.size())));
        return b;
    }

private:
    NodePtr in_;
    std::vector<Stage> stages_;
};

NodePtr addStage(const NodePtr& in, Stage s) {
    if (!in) return nullptr;
    if (auto c = std::dynamic_pointer_cast<const ColorNode>(in)) {
        std::vector<Stage> st = c->stages();
        st.push_back(std::move(s));
        return std::make_shared<ColorNode>(c->input(), std::move(st));
    }
    return std::make_shared<ColorNode>(in, std::vector<Stage>{std::move(s)});
}

class CombineNode final : public Node {
public:
    CombineNode(NodePtr a, NodePtr b, const QRectF& e, CombineRow fn) : a_(std::move(a)), b_(std::move(b)), extent_(e), fn_(std::move(fn)) {}
    QRectF extent() const override { return extent_; }
    int reach() const override { return std::max(reachOf(a_), reachOf(b_)); }
    int rowReach() const override { return widerRowReach(rowReachOf(a_), rowReachOf(b_)); }

protected:
    Buffer renderInside(const PixelRect& r) const override {
        Buffer a = renderOf(a_, r);
        const Buffer b = renderOf(b_, r);
        parallelFor(r.y, r.top(), [&](int y0, int y1) {
            for (int y = y0; y < y1; ++y) fn_(a.row(y), b.row(y), a.row(y), r.w);
        }, r.w * 2.0);
        return a;
    }

private:
    NodePtr a_, b_;
    QRectF extent_;
    CombineRow fn_;
};

class WarpNode final : public Node {
public:
    WarpNode(NodePtr in, const QRectF& e, WarpMap map, WarpRoi roi, int reach)
        : in_(std::move(in)), extent_(e), map_(std::move(map)), roi_(std::move(roi)), reach_(reach) {}
    QRectF extent() const override { return extent_; }
    int reach() const override { return reachOf(in_) + reach_; }

protected:
    Buffer renderInside(const PixelRect& r) const override {
        PixelRect roi = roi_(r);
        const QRectF ie = in_ ? in_->extent() : QRectF();
        if (!isInfinite(ie)) roi = roi.intersected(PixelRect::covering(ie).grown(1));
        if (roi.empty()) return Buffer(r);
        Buffer out(r, Buffer::kUninitialized);
        const Buffer src = renderOf(in_, roi);
        parallelFor(r.y, r.top(), [&](int y0, int y1) {
            for (int y = y0; y < y1; ++y) {
                float* d = out.row(y);
                for (int x = r.x; x < r.right(); ++x, d += 4) {
                    double sx, sy;
                    map_(x + 0.5, y + 0.5, sx, sy);
                    src.sample(sx, sy, d);
                }
            }
        }, r.w * 16.0);
        return out;
    }

private:
    NodePtr in_;
    QRectF extent_;
    WarpMap map_;
    WarpRoi roi_;
    int reach_;
};

class RegionNode final : public Node {
public:
    enum Out { kZeroOut, kUninitializedOut, kNoOut };
    RegionNode(NodePtr in, const QRectF& e, WarpRoi roi, int reach, RegionFn fn, Out out)
        : in_(std::move(in)), extent_(e), roi_(std::move(roi)), reach_(reach), fn_(std::move(fn)), out_(out) {}
    QRectF extent() const override { return extent_; }
    int reach() const override { return reachOf(in_) + reach_; }

protected:
    Buffer renderInside(const PixelRect& r) const override {
        Buffer src = renderOf(in_, roi_(r));
        Buffer out;
        if (out_ == kNoOut) out.rect = r;
        else out = Buffer(r, out_ == kUninitializedOut ? Buffer::kUninitialized : Buffer::kZero);
        fn_(src, out);
        if (out.rect == r && out.data.size() == size_t(r.area()) * 4) return out;
        return Buffer(r);
    }

private:
    NodePtr in_;
    QRectF extent_;
    WarpRoi roi_;
    int reach_;
    RegionFn fn_;
    Out out_;
};

}  // namespace

const QImage* pictureOf(const NodePtr& n) {
    const auto* source = dynamic_cast<const SourceNode*>(n.get());
    return source ? &source->image() : nullptr;
}

NodePtr makeSourceNode(const QImage& image) {
    if (image.isNull()) return nullptr;
    return std::make_shared<SourceNode>(image);
}
NodePtr makeConstantNode(const float rgba[4]) { return std::make_shared<ConstantNode>(rgba); }
NodePtr makeCropNode(const NodePtr& in, const QRectF& rect) { return in ? std::make_shared<CropNode>(in, rect) : nullptr; }
NodePtr makeTransformNode(const NodePtr& in, const QTransform& t) {
    if (!in) return nullptr;
    if (t.isIdentity()) return in;
    if (!t.isInvertible()) return nullptr;
    return std::make_shared<TransformNode>(in, t);
}
NodePtr makeClampNode(const NodePtr& in) { return in ? std::make_shared<ClampNode>(in) : nullptr; }
NodePtr makeColorNode(const NodePtr& in, ColorStage stage) { return addStage(in, Stage{std::move(stage), {}}); }
NodePtr makePositionedColorNode(const NodePtr& in, PositionedColorStage stage) { return addStage(in, Stage{{}, std::move(stage)}); }
NodePtr makeCombineNode(const NodePtr& a, const NodePtr& b, const QRectF& extent, CombineRow fn) {
    return std::make_shared<CombineNode>(a, b, extent, std::move(fn));
}
NodePtr makeWarpNode(const NodePtr& in, const QRectF& extent, WarpMap map, WarpRoi roi, int reach) {
    return in ? std::make_shared<WarpNode>(in, extent, std::move(map), std::move(roi), reach) : nullptr;
}
NodePtr makeRegionNode(const NodePtr& in, const QRectF& extent, WarpRoi roi, int reach, RegionFn fn, bool writesAll) {
    return in ? std::make_shared<RegionNode>(in, extent, std::move(roi), reach, std::move(fn),
                                             writesAll ? RegionNode::kUninitializedOut : RegionNode::kZeroOut)
              : nullptr;
}
NodePtr makeRegionNodeMakingOutput(const NodePtr& in, const QRectF& extent, WarpRoi roi, int reach, RegionFn fn) {
    return in ? std::make_shared<RegionNode>(in, extent, std::move(roi), reach, std::move(fn), RegionNode::kNoOut) : nullptr;
}

}  // namespace platform::ci
