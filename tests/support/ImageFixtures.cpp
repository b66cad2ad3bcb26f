#include "tests/support/ImageFixtures.h"

#include <algorithm>
#include <cstdlib>

namespace testsupport {

QImage premul(const QImage& image) { return image.convertToFormat(QImage::Format_ARGB32_Premultiplied); }

bool samePixels(const QImage& a, const QImage& b) { return a.size() == b.size() && premul(a) == premul(b); }

int maxDiff(const QImage& a0, const QImage& b0) {
    if (a0.size() != b0.size()) return -1;
    const QImage a = premul(a0), b = premul(b0);
    int worst = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* la = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* lb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            worst = std::max({worst, std::abs(qRed(la[x]) - qRed(lb[x])), std::abs(qGreen(la[x]) - qGreen(lb[x])),
                              std::abs(qBlue(la[x]) - qBlue(lb[x])), std::abs(qAlpha(la[x]) - qAlpha(lb[x]))});
        }
    }
    return worst;
}

double meanDiff(const QImage& a0, const QImage& b0) {
    const QImage a = premul(a0), b = premul(b0);
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * a.width() * a.height());
}

QImage uprightReference(const QImage& s, int o) {
    const int w = s.width(), h = s.height();
    const bool turned = o >= 5;
    QImage out(turned ? h : w, turned ? w : h, s.format());
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x) {
            int sx = x, sy = y;
            switch (o) {
            case 2: sx = w - 1 - x; break;
            case 3: sx = w - 1 - x; sy = h - 1 - y; break;
            case 4: sy = h - 1 - y; break;
            case 5: sx = y; sy = x; break;
            case 6: sx = y; sy = h - 1 - x; break;
            case 7: sx = w - 1 - y; sy = h - 1 - x; break;
            case 8: sx = w - 1 - y; sy = x; break;
            default: break;
            }
            out.setPixel(x, y, s.pixel(sx, sy));
        }
    return out;
}

}  // namespace testsupport
