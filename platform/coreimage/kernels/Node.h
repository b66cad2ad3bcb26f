#pragma once
// The evaluation layer under CIImage. An image is a graph of nodes; each node knows its
// extent (y-up, possibly infinite) and renders any pixel rectangle of the y-up plane into
// a float buffer of premultiplied RGBA, pulling from its inputs only the region it needs.
// Nothing is computed before a context renders a rectangle, and every intermediate buffer
// is released as soon as the next node has consumed it.
//
// Pixel (x, y) covers [x, x+1] x [y, y+1]; samples are taken at its centre (x+0.5, y+0.5).
// Buffers hold rows bottom-up: row 0 is the rectangle's lowest row.
#include <QRectF>
#include <algorithm>
#include <QTransform>
#include <functional>
#include <memory>
#include <vector>

namespace platform::ci {

// Half the side of the rectangle that stands for "infinite" extents. Large enough that
// no photo reaches it, small enough that integer pixel arithmetic never overflows.
constexpr double kInfiniteHalf = 1.0e9;
QRectF infiniteRect();
bool isInfinite(const QRectF& r);

struct PixelRect {
    int x = 0, y = 0, w = 0, h = 0;
    bool empty() const { return w <= 0 || h <= 0; }
    long long area() const { return empty() ? 0 : (long long)w * h; }
    int right() const { return x + w; }   // exclusive
    int top() const { return y + h; }     // exclusive
    PixelRect intersected(const PixelRect& o) const;
    PixelRect united(const PixelRect& o) const;
    PixelRect adjusted(int dx0, int dy0, int dx1, int dy1) const { return {x + dx0, y + dy0, w - dx0 + dx1, h - dy0 + dy1}; }
    PixelRect grown(int m) const { return adjusted(-m, -m, m, m); }
    bool operator==(const PixelRect& o) const { return x == o.x && y == o.y && w == o.w && h == o.h; }
    QRectF toRectF() const { return QRectF(x, y, w, h); }
    // The smallest pixel rectangle covering r (partly covered pixels included).
    static PixelRect covering(const QRectF& r);
};

// Allocates without zeroing, for buffers that are written in full at once.
template <class T>
struct UninitializedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitializedAllocator<U>;
    };
    UninitializedAllocator() = default;
    template <class U>
    UninitializedAllocator(const UninitializedAllocator<U>&) {}
    template <class U>
    void construct(U* p) { ::new (static_cast<void*>(p)) U; }
    template <class U, class... A>
    void construct(U* p, A&&... a) { ::new (static_cast<void*>(p)) U(std::forward<A>(a)...); }
};

// Premultiplied RGBA floats of one pixel rectangle, zero (transparent) when made, or
// left unwritten with kUninitialized by code that writes every pixel itself.
struct Buffer {
    PixelRect rect;
    std::vector<float, UninitializedAllocator<float>> data;

    enum Init { kZero, kUninitialized };
    Buffer() = default;
    explicit Buffer(const PixelRect& r, Init init = kZero);
    ~Buffer();
    Buffer(Buffer&& o) noexcept : rect(o.rect), data(std::move(o.data)) { o.rect = {}; }
    Buffer& operator=(Buffer&& o) noexcept;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    bool empty() const { return rect.empty(); }
    // Row at absolute y (y-up), starting at column rect.x.
    float* row(int y) { return data.data() + size_t(y - rect.y) * size_t(rect.w) * 4; }
    const float* row(int y) const { return data.data() + size_t(y - rect.y) * size_t(rect.w) * 4; }
    float* at(int x, int y) { return row(y) + size_t(x - rect.x) * 4; }
    const float* at(int x, int y) const { return row(y) + size_t(x - rect.x) * 4; }
    // Bilinear sample at (sx, sy) in plane coordinates; outside the buffer is transparent.
    void sample(double sx, double sy, float out[4]) const {
        const double fx = sx - 0.5 - rect.x, fy = sy - 0.5 - rect.y;
        if (fx >= 0 && fy >= 0 && fx < rect.w - 1 && fy < rect.h - 1) {
            const int ix = int(fx), iy = int(fy);
            const float tx = float(fx - ix), ty = float(fy - iy);
            const float* p0 = data.data() + (size_t(iy) * size_t(rect.w) + size_t(ix)) * 4;
            const float* p1 = p0 + size_t(rect.w) * 4;
            for (int c = 0; c < 4; ++c) {
                const float lo = p0[c] + tx * (p0[4 + c] - p0[c]);
                const float hi = p1[c] + tx * (p1[4 + c] - p1[c]);
                out[c] = lo + ty * (hi - lo);
            }
            return;
        }
        sampleAtEdge(sx, sy, out);
    }
    // The same for points whose taps may fall outside the buffer.
    void sampleAtEdge(double sx, double sy, float out[4]) const;
    // Copies the overlapping part of src into this buffer.
    void paste(const Buffer& src);
};

class Node;
using NodePtr = std::shared_ptr<const Node>;

class Node {
public:
    virtual ~Node() = default;
    virtual QRectF extent() const = 0;
    // How far beyond a requested rectangle the whole graph reads through rendered buffers
    // (pixels); contexts size their render strips from it. A kernel that reads a picture's
    // rows directly, a few at a time, adds nothing for that read.
    virtual int reach() const { return 0; }
    // For a render of r that intersects the pictures' rows: how many rows above and below r
    // the graph reads its pictures, for graphs that read them only near the rows they make
    // (colour stages, crops, blurs of a picture, whole-pixel shifts); -1 when not known
    // (warps, scales, clamps, anything else). A render into the picture's own storage holds
    // back the rows it made until no later strip reads them.
    virtual int rowReach() const { return -1; }
    // Renders r; pixels outside the extent are transparent. Calls renderInside with r
    // clipped to the extent's pixels and pads the result back to r.
    Buffer render(const PixelRect& r) const;

protected:
    // Renders r, which lies within the extent's pixels.
    virtual Buffer renderInside(const PixelRect& r) const = 0;
};

// While a render is in progress, the storage of released big buffers is kept for the
// next buffer of the render (strips repeat the same sizes), which saves mapping and
// faulting in fresh pages for every strip. The kept storage is freed when the last
// render in progress ends.
class RenderScope {
public:
    RenderScope();
    ~RenderScope();
    RenderScope(const RenderScope&) = delete;
    RenderScope& operator=(const RenderScope&) = delete;
};

// Renders r of an input that may be absent (absent = transparent).
Buffer renderOf(const NodePtr& n, const PixelRect& r);
// r limited to the pixels of n's extent (plus one pixel for bilinear reads); beyond them
// an input is transparent, so kernels that treat missing pixels as zero need no more.
PixelRect clipToInput(const NodePtr& n, const PixelRect& r);
// reach() of an input that may be absent.
inline int reachOf(const NodePtr& n) { return n ? n->reach() : 0; }
// rowReach() of an input that may be absent (absent reads nothing).
inline int rowReachOf(const NodePtr& n) { return n ? n->rowReach() : 0; }
// The larger of two row reaches, -1 when either is not known.
inline int widerRowReach(int a, int b) { return a < 0 || b < 0 ? -1 : std::max(a, b); }

// ---- Building blocks for kernels ------------------------------------------------------

// A picture (converted once to premultiplied ARGB32 unless it is RGB32, which is read as it
// is), extent (0, 0, width, height).
NodePtr makeSourceNode(const class QImage& image);
// One colour everywhere (premultiplied from a straight-alpha QColor); infinite extent.
NodePtr makeConstantNode(const float rgbaPremultiplied[4]);
// The picture of a source node (RGB32, read as opaque, or ARGB32 premultiplied), or null
// for any other node. Kernels that can read the 8-bit rows themselves use it to take what
// they need a few rows at a time instead of rendering a float copy of a whole window.
const class QImage* pictureOf(const NodePtr& n);
// The input restricted to rect.
NodePtr makeCropNode(const NodePtr& in, const QRectF& rect);
// The input mapped by a y-up affine transform (bilinear sampling; integer shifts exact).
NodePtr makeTransformNode(const NodePtr& in, const QTransform& t);
// The input's edge pixels repeated outward forever (infinite extent).
NodePtr makeClampNode(const NodePtr& in);

// Per-pixel colour stage on straight (unpremultiplied) RGBA, n pixels in place. A colour
// node over a colour node fuses into one pass over the pixels.
using ColorStage = std::function<void(float* rgba, int n)>;
NodePtr makeColorNode(const NodePtr& in, ColorStage stage);
// Same, for stages that need the pixel's plane position (x of the first pixel, y).
using PositionedColorStage = std::function<void(float* rgba, int n, int x, int y)>;
NodePtr makePositionedColorNode(const NodePtr& in, PositionedColorStage stage);

// Per-pixel combination of two premultiplied inputs: fn(a, b, out, n), a = first input.
using CombineRow = std::function<void(const float* a, const float* b, float* out, int n)>;
NodePtr makeCombineNode(const NodePtr& a, const NodePtr& b, const QRectF& extent, CombineRow fn);

// Geometric warp: each output pixel centre (x, y) takes the input at map(x, y) (bilinear).
// roi(r) gives the input rectangle that the output rectangle r reads.
using WarpMap = std::function<void(double x, double y, double& sx, double& sy)>;
using WarpRoi = std::function<PixelRect(const PixelRect& r)>;
NodePtr makeWarpNode(const NodePtr& in, const QRectF& extent, WarpMap map, WarpRoi roi, int reach);

// Neighbourhood kernel: renders the input over roi(r) and lets fn fill the output (out
// comes allocated with rect r; fn may replace it by a buffer of the same rect, and may
// release `in` as soon as it is done with it).
using RegionFn = std::function<void(Buffer& in, Buffer& out)>;
// writesAll: fn writes every pixel of out, so out need not be cleared first.
NodePtr makeRegionNode(const NodePtr& in, const QRectF& extent, WarpRoi roi, int reach, RegionFn fn, bool writesAll = false);
// Same, for kernels that make their output themselves (in the input's storage, say): out
// comes with rect r but no storage, and fn must leave a buffer of rect r in it.
NodePtr makeRegionNodeMakingOutput(const NodePtr& in, const QRectF& extent, WarpRoi roi, int reach, RegionFn fn);

}  // namespace platform::ci
