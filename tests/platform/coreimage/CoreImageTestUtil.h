#pragma once
// Helpers for the filter tests: pictures with known pixels and y-up pixel access.
#include "platform/coreimage/CIContext.h"
#include "platform/coreimage/CIFilter.h"
#include "platform/graphics/YUp.h"
#include "tests/support/TestSupport.h"

#include <QColor>
#include <QImage>
#include <QPainter>

namespace citest {

inline QImage solid(int w, int h, const QColor& c) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(c);
    return img;
}

// Pixel at (x, y) counted from the bottom-left corner.
inline QColor pixelYUp(const QImage& img, int x, int y) {
    return QColor::fromRgba(img.pixel(x, platform::toQtRow(y, img.height())));
}

inline QImage render(const CIImage& img, const QRectF& r) { return CIContext().createCGImage(img, r); }
inline QImage render(const CIImage& img) { return CIContext().createCGImage(img, img.extent()); }

// A filter with defaults set and its image input given.
inline CIFilterPtr filterOn(const QString& name, const QImage& input) {
    CIFilterPtr f = CIFilter::filterWithName(name);
    if (!f) return f;
    f->setDefaults();
    f->setValue(QVariant::fromValue(CIImage::imageWithCGImage(input)), QStringLiteral("inputImage"));
    return f;
}

// A picture with smooth and sharp detail, not symmetric in any direction.
inline QImage gradientImageForTest(int w = 97, int h = 71) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, qRgb((x * 255) / (w - 1), (y * 255) / (h - 1), ((x / 7 + y / 5) % 2) * 200 + 20));
    return img;
}

inline int maxChannelDiff(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return 1 << 20;
    int m = 0;
    const QImage x = a.convertToFormat(QImage::Format_ARGB32_Premultiplied), y = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int j = 0; j < x.height(); ++j) {
        const auto* p = reinterpret_cast<const quint32*>(x.constScanLine(j));
        const auto* q = reinterpret_cast<const quint32*>(y.constScanLine(j));
        for (int i = 0; i < x.width(); ++i)
            for (int s = 0; s < 32; s += 8) m = std::max(m, std::abs(int((p[i] >> s) & 0xff) - int((q[i] >> s) & 0xff)));
    }
    return m;
}

}  // namespace citest
