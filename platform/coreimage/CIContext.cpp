// Pixel loops are written to vectorise; -O2 leaves many of them scalar, so this file is
// compiled at -O3 (platform/CMakeLists.txt).
#include "platform/coreimage/CIContext.h"

#include "platform/coreimage/Parallel.h"
#include "platform/coreimage/PixelPack.h"
#include "platform/coreimage/kernels/Node.h"
#include "platform/foundation/Log.h"
#include "platform/graphics/YUp.h"

#include <QColorSpace>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <functional>
#include <vector>

using namespace platform::ci;

namespace {

// Largest picture a render may make (4 bytes a pixel): 400 megapixels.
constexpr long long kMaxRenderPixels = 400LL * 1000 * 1000;
// A strip holds about this many pixels (16 bytes each per live buffer): small enough
// that the allocator recycles strip buffers instead of mapping fresh pages each time.
constexpr long long kStripPixels = 1LL * 1024 * 1024;
// Bytes of float pixels a strip may read (its rows and the reach above and below), unless
// the reach alone needs more.
constexpr long long kStripWindowBytes = 64LL * 1024 * 1024;


// One row of premultiplied floats laid over ARGB32 premultiplied pixels (source over),
// with the clamping of packRow.
void compositeRow(const float* s, quint32* d, int n) {
    using V4f = float __attribute__((vector_size(16)));
    using V4i = int __attribute__((vector_size(16)));
    const V4f zero = {0, 0, 0, 0};
    const V4f k255 = {255.0f, 255.0f, 255.0f, 255.0f};
    for (int i = 0; i < n; ++i, s += 4) {
        V4f v;
        std::memcpy(&v, s, sizeof v);
        const float a = v[3] >= 0.0f ? std::min(v[3], 1.0f) : 0.0f;  // NaN reads as 0
        if (a <= 0.0f) continue;
        const V4f lim = {a, a, a, a};
        v = v >= zero ? v : zero;
        v = v > lim ? lim : v;
        const quint32 p = d[i];
        const V4i di = {int((p >> 16) & 0xff), int((p >> 8) & 0xff), int(p & 0xff), int(p >> 24)};
        const V4f dst = __builtin_convertvector(di, V4f) / k255;
        V4f o = v + dst * (1.0f - a);
        const float oa = o[3];
        const V4f olim = {oa, oa, oa, oa};
        o = o < zero ? zero : o;
        o = o > olim ? olim : o;
        const V4i q = __builtin_convertvector(o * 255.0f + 0.5f, V4i);
        d[i] = (quint32(q[3]) << 24) | (quint32(q[0]) << 16) | (quint32(q[1]) << 8) | quint32(q[2]);
    }
}

// Renders the pixel rectangle r of node strip by strip, bottom strip first (or the top
// strip first when topDown); calls before(firstRowFromBottom, rows) ahead of each strip
// and write(buffer, firstRowFromBottom) once it is made. Either returns false to end the
// render early, and renderStrips then returns false. maxRows, when given, caps the strip.
using BeforeStrip = std::function<bool(int firstRow, int rows)>;
template <class Write>
bool renderStrips(const NodePtr& node, const PixelRect& r, Write write, bool topDown = false,
                  const BeforeStrip& before = {}, long long maxRows = 0) {
    const RenderScope scope;
    const long long reach = reachOf(node);
    const long long w = std::max(1, r.w);
    // Strips of eight times the reach keep the rows read twice (the reach above and below
    // each strip) to a fifth of the work. For a long reach over a wide picture that makes
    // the strip's float buffers hundreds of megabytes, so past a budget the strip shrinks,
    // down to the reach itself: more rows read twice, a fraction of the memory.
    long long rows = std::max<long long>({16, kStripPixels / w, 8 * reach});
    if ((rows + 2 * reach) * w * 16 > kStripWindowBytes)
        rows = std::max<long long>({16, kStripPixels / w, reach, kStripWindowBytes / (w * 16) - 2 * reach});
    if (maxRows > 0) rows = std::min<long long>(rows, maxRows);
    const int stripRows = int(std::min<long long>(rows, r.h));
    for (int done = 0; done < r.h; done += stripRows) {
        const int h = std::min(stripRows, r.h - done);
        const int s = topDown ? r.h - done - h : done;
        if (before && !before(s, h)) return false;
        const Buffer b = node->render({r.x, r.y + s, r.w, h});
        if (!write(b, s)) return false;
    }
    return true;
}

// A photo that comes and goes row by row holds only the strip being made and the rows
// within reach of it, in 8 bits, beside the strip's floats (16 bytes a pixel): smaller
// strips keep both small, at the cost of reading the rows within reach again for every
// strip. Strips of 5/8 of the usual pixels, fewer rows still past a reach of 128 rows
// (5120 wide: 128 rows; with a reach of 300 rows, 54), yet never so few that a strip
// reads more than about twelve times its own rows; and when the reach spans most of the
// picture, which is then held whole anyway, strips of the usual pixel count.
long long streamedStripRows(int width, int height, int rowReach) {
    const long long usual = std::max<long long>(16, kStripPixels / std::max(1, width));
    long long rows = usual * 5 / 8;
    if (rowReach > 128) rows = rows * 128 / rowReach;
    const long long read = std::min<long long>(height, 2LL * rowReach);  // rows read beyond a strip's own
    rows = std::max({32LL, rows, read / 11});
    return 4LL * rowReach >= height ? usual : std::min(rows, usual);
}

}  // namespace

QImage CIContext::createCGImage(const CIImage& image, const QRectF& fromRect) const {
    if (image.isNull() || !std::isfinite(fromRect.width()) || !std::isfinite(fromRect.height()) || !std::isfinite(fromRect.x()) ||
        !std::isfinite(fromRect.y()) || fromRect.isEmpty())
        return {};
    if (fromRect.width() * fromRect.height() > double(kMaxRenderPixels)) {
        platform::log(u"render of %@ x %@ pixels refused: too large", fromRect.width(), fromRect.height());
        return {};
    }
    const int W = int(std::lround(fromRect.width())), H = int(std::lround(fromRect.height()));
    if (W <= 0 || H <= 0) return {};
    if ((long long)W * H > kMaxRenderPixels) {
        platform::log(u"render of %@ x %@ pixels refused: too large", W, H);
        return {};
    }
    NodePtr node = image.node();
    PixelRect r{0, 0, W, H};
    const bool integral = fromRect.x() == std::round(fromRect.x()) && fromRect.y() == std::round(fromRect.y()) &&
                          fromRect.width() == W && fromRect.height() == H;
    if (integral) {
        r.x = int(fromRect.x());
        r.y = int(fromRect.y());
    } else {
        const QTransform t = QTransform::fromTranslate(-fromRect.x(), -fromRect.y()) *
                             QTransform::fromScale(W / fromRect.width(), H / fromRect.height());
        node = makeTransformNode(node, t);
        if (!node) return {};
    }
    QImage out(W, H, QImage::Format_ARGB32_Premultiplied);
    if (out.isNull()) {
        platform::log(u"render of %@ x %@ pixels failed: out of memory", W, H);
        return {};
    }
    uchar* const base = out.bits();
    const qsizetype bpl = out.bytesPerLine();
    renderStrips(node, r, [&](const Buffer& b, int firstRow) {
        platform::parallelFor(0, b.rect.h, [&](int y0, int y1) {
            for (int j = y0; j < y1; ++j) {
                auto* d = reinterpret_cast<quint32*>(base + bpl * platform::toQtRow(firstRow + j, H));
                platform::pixelpack::packRow(b.row(b.rect.y + j), d, W);
            }
        }, W);
        return true;
    });
    return out;
}

bool CIContext::renderInPlace(const CIImage& image, QImage& picture, PictureRows* rows) const {
    if (image.isNull() || picture.isNull() || !picture.isDetached()) return false;
    if (picture.format() != QImage::Format_RGB32 && picture.format() != QImage::Format_ARGB32_Premultiplied) return false;
    const int W = picture.width(), H = picture.height();
    const NodePtr node = makeCropNode(image.node(), QRectF(0, 0, W, H));
    const int rowReach = rowReachOf(node);
    if (!node || rowReach < 0) return false;
    const PixelRect r{0, 0, W, H};
    if (!(PixelRect::covering(node->extent()).intersected(r) == r)) return false;

    // A strip reads the picture up to rowReach rows beyond its own, on either side. Strips
    // are made one after the other, so once a strip is made its rows more than rowReach
    // from the strips still to come go straight into the picture (no later strip reads
    // them), and the others wait, packed, until the strips being made have passed them by
    // that much. Packing over nothing gives what compositing over a transparent picture
    // gives, so the result is the drawn picture's to the byte. Rows are counted here in
    // Qt's order, top row first.
    uchar* const base = picture.bits();  // detached: no copy
    const qsizetype bpl = picture.bytesPerLine();
    auto rowOf = [&](int row) { return reinterpret_cast<quint32*>(base + bpl * row); };
    std::deque<std::pair<int, std::vector<quint32>>> waiting;
    const bool topDown = rows != nullptr;
    // The strip's rows in Qt's order are [top, top + rows).
    const auto topOf = [&](int firstRow, int count) { return platform::toQtRow(firstRow + count - 1, H); };
    const BeforeStrip before = [&](int firstRow, int count) {
        return rows->rowsNeeded(std::min(H, topOf(firstRow, count) + count + rowReach));
    };
    const bool rendered = renderStrips(node, r, [&](const Buffer& b, int firstRow) {
        const int top = topOf(firstRow, b.rect.h), end = top + b.rect.h;
        // Rows no later strip reads: those far enough from the side the strips come from.
        const auto free = [&](int row) { return topDown ? row < end - rowReach : row >= top + rowReach; };
        for (; !waiting.empty() && free(waiting.front().first); waiting.pop_front())
            std::memcpy(rowOf(waiting.front().first), waiting.front().second.data(), size_t(W) * sizeof(quint32));
        std::vector<quint32*> to(size_t(b.rect.h));
        for (int j = 0; j < b.rect.h; ++j) {
            // Waiting rows are queued farthest from the strips to come first.
            const int k = topDown ? b.rect.h - 1 - j : j;  // the buffer's rows go up from firstRow
            const int row = platform::toQtRow(firstRow + k, H);
            if (free(row)) {
                to[size_t(k)] = rowOf(row);
            } else {
                waiting.emplace_back(row, std::vector<quint32>(size_t(W)));
                to[size_t(k)] = waiting.back().second.data();
            }
        }
        platform::parallelFor(0, b.rect.h, [&](int y0, int y1) {
            for (int j = y0; j < y1; ++j) platform::pixelpack::packRow(b.row(b.rect.y + j), to[size_t(j)], W);
        }, W);
        return !rows || rows->rowsDone(std::max(0, end - rowReach));
    }, topDown, rows ? before : BeforeStrip(), rows ? streamedStripRows(W, H, rowReach) : 0);
    if (!rendered) return false;
    for (const auto& [row, pixels] : waiting) std::memcpy(rowOf(row), pixels.data(), size_t(W) * sizeof(quint32));
    if (rows && !rows->rowsDone(H)) return false;
    picture.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
    picture.setColorSpace(QColorSpace());
    return true;
}

void CIContext::drawImage(const CIImage& image, const QRectF& inRect, const QRectF& fromRect, QImage& target) const {
    auto finite = [](const QRectF& r) { return std::isfinite(r.x()) && std::isfinite(r.y()) && std::isfinite(r.width()) && std::isfinite(r.height()); };
    if (image.isNull() || target.isNull() || !finite(inRect) || !finite(fromRect) || inRect.isEmpty() || fromRect.isEmpty()) return;
    if (target.format() != QImage::Format_ARGB32_Premultiplied) target = target.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QTransform t = QTransform::fromTranslate(-fromRect.x(), -fromRect.y()) *
                         QTransform::fromScale(inRect.width() / fromRect.width(), inRect.height() / fromRect.height()) *
                         QTransform::fromTranslate(inRect.x(), inRect.y());
    const QRectF clip = inRect.intersected(QRectF(0, 0, target.width(), target.height()));
    NodePtr node = makeCropNode(makeCropNode(makeTransformNode(image.node(), t), fromRect.isValid() ? t.mapRect(fromRect) : inRect), clip);
    if (!node) return;
    const PixelRect r = PixelRect::covering(node->extent()).intersected({0, 0, target.width(), target.height()});
    if (r.empty()) return;
    const int H = target.height();
    // Detach once here: scanLine() on a shared picture would copy it from every band.
    uchar* const base = target.bits();
    const qsizetype bpl = target.bytesPerLine();
    renderStrips(node, r, [&](const Buffer& b, int firstRow) {
        platform::parallelFor(0, b.rect.h, [&](int y0, int y1) {
            for (int j = y0; j < y1; ++j) {
                auto* d = reinterpret_cast<quint32*>(base + bpl * platform::toQtRow(r.y + firstRow + j, H)) + r.x;
                compositeRow(b.row(b.rect.y + j), d, r.w);
            }
        }, r.w);
        return true;
    });
}
