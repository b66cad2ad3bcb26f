#include "tests/support/ImageFixtures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>
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

double psnr(const QImage& a, const QImage& b) {
    const QImage x = a.convertToFormat(QImage::Format_RGB32), y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int j = 0; j < x.height(); ++j)
        for (int i = 0; i < x.width(); ++i) {
            const QRgb p = x.pixel(i, j), q = y.pixel(i, j);
            for (int d : {qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q)}) sum += double(d) * d;
        }
    const double mse = sum / (3.0 * x.width() * x.height());
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
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

QImage softPhoto(int width, int height) {
    QImage img(width, height, QImage::Format_ARGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, width, height);
    sky.setColorAt(0, QColor(30, 80, 160));
    sky.setColorAt(1, QColor(240, 200, 120));
    p.fillRect(img.rect(), sky);
    for (int i = 0; i < 6; ++i) {
        const QPointF c(width * (0.15 + 0.14 * i), height * (0.3 + 0.08 * (i % 3)));
        QRadialGradient g(c, width * 0.12);
        g.setColorAt(0, QColor::fromHsv(i * 60, 200, 250));
        g.setColorAt(1, QColor::fromHsv(i * 60, 200, 250, 0));
        p.setBrush(g);
        p.setPen(Qt::NoPen);
        p.drawEllipse(c, width * 0.12, width * 0.12);
    }
    p.setBrush(QColor(20, 20, 20));
    p.drawRect(QRectF(width * 0.1, height * 0.7, width * 0.8, height * 0.08));
    return img;
}

}  // namespace testsupport
