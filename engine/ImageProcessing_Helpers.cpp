// The smaller image chores of ImageProcessing: colour casts, box averages, histograms,
// thumbnails at fixed sizes and a few conversions.
#include "engine/ImageProcessing.h"

#include "engine/Effects/CoreImageBridge.h"
#include "engine/Utils.h"
#include "platform/coreimage/CIImage.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/ImageProperties.h"
#include "records/CommonFunc.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int kThumbnailSide = 130;
constexpr int kPreviewSide = 300;
constexpr int kTinySide = 10;

// Straight ARGB pixels, so histograms and averages see the colours a viewer sees.
QImage straight(const QImage& image) { return image.convertToFormat(QImage::Format_ARGB32); }

QImage redrawn(const QImage& image, QSize size, Qt::TransformationMode mode) {
    if (image.isNull() || size.width() <= 0 || size.height() <= 0) return QImage();
    if (image.size() == size) return image;
    return image.scaled(size, Qt::IgnoreAspectRatio, mode);
}

// One pass of a running box sum along rows (horizontal) or columns, edges repeated.
void boxPass(const QImage& in, QImage& out, int radius, bool horizontal) {
    const int w = in.width(), h = in.height();
    const int lines = horizontal ? h : w, length = horizontal ? w : h;
    const int box = 2 * radius + 1;
    auto px = [&](const QImage& img, int line, int i) -> const uchar* {
        i = std::clamp(i, 0, length - 1);
        return horizontal ? img.constScanLine(line) + size_t(i) * 4 : img.constScanLine(i) + size_t(line) * 4;
    };
    for (int line = 0; line < lines; ++line) {
        int sum[4] = {0, 0, 0, 0};
        for (int i = -radius; i <= radius; ++i)
            for (int c = 0; c < 4; ++c) sum[c] += px(in, line, i)[c];
        for (int i = 0; i < length; ++i) {
            uchar* d = horizontal ? out.scanLine(line) + size_t(i) * 4 : out.scanLine(i) + size_t(line) * 4;
            for (int c = 0; c < 4; ++c) d[c] = uchar((sum[c] + box / 2) / box);
            const uchar* add = px(in, line, i + radius + 1);
            const uchar* drop = px(in, line, i - radius);
            for (int c = 0; c < 4; ++c) sum[c] += add[c] - drop[c];
        }
    }
}

// The average over a box of side 2 * radius + 1 around each pixel (premultiplied, so
// transparent pixels lend no colour).
QImage boxAverage(const QImage& image, int radius) {
    QImage src = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (src.isNull() || radius <= 0) return src;
    QImage mid(src.size(), src.format()), out(src.size(), src.format());
    if (mid.isNull() || out.isNull()) {
        platform::log(u"No pixelbuffer");
        return QImage();
    }
    boxPass(src, mid, radius, true);
    boxPass(mid, out, radius, false);
    return out;
}

QImage thumbnailAt(const QString& path, int maxSide, QSize size) {
    const QImage thumb = platform::makeThumbnail(path, maxSide, maxSide);
    if (thumb.isNull() || !size.isValid() || size.isEmpty()) return thumb;
    return redrawn(thumb, size, Qt::SmoothTransformation);
}

}  // namespace

QImage ImageProcessing::getRGBColoredImage(const QImage& image, QSize size, const QColor& color) {
    if (image.isNull()) return QImage();
    const CIImage out = effects::runFilter(QStringLiteral("CIWhitePointAdjust"), Utils::getCIImageFromNSImage(image),
                                           {{QStringLiteral("inputColor"), color}});
    const QImage drawn = imageWithCIImage(out);
    return redrawn(drawn, size.isValid() && !size.isEmpty() ? size : drawn.size(), Qt::SmoothTransformation);
}

QImage ImageProcessing::resizedImage1(const QImage& image, QSizeF size, int interpolationQuality) {
    const QSize whole(int(std::floor(size.width())), int(std::floor(size.height())));
    return redrawn(image, whole, interpolationQuality == 1 ? Qt::FastTransformation : Qt::SmoothTransformation);
}

QImage ImageProcessing::resizeImage(const QImage& image, QSize size) {
    if (image.isNull() || size.width() <= 0 || size.height() <= 0) return QImage();
    // Each output pixel stands for this many source pixels a side; average them first.
    const int share = std::max(image.width() / size.width(), image.height() / size.height());
    const QImage averaged = share > 1 ? boxAverage(image, share / 2) : image;
    return redrawn(averaged, size, Qt::SmoothTransformation);
}

QImage ImageProcessing::blurImage(const QImage& image, QSize size, int boxSize) {
    const QImage sized = redrawn(image, size, Qt::SmoothTransformation);
    if (sized.isNull()) return sized;
    if (boxSize <= 1) return sized;
    // A box larger than the picture averages it all; no need to count further.
    const int radius = std::min(boxSize / 2, std::max(sized.width(), sized.height()));
    return boxAverage(sized, radius);
}

bool ImageProcessing::computeHistogramForImage(const QImage& image, Histograms& histograms) {
    for (auto& h : histograms) h.fill(0);
    const QImage px = straight(image);
    if (px.isNull()) return false;
    for (int y = 0; y < px.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(px.constScanLine(y));
        for (int x = 0; x < px.width(); ++x) {
            ++histograms[0][size_t(qAlpha(line[x]))];
            ++histograms[1][size_t(qRed(line[x]))];
            ++histograms[2][size_t(qGreen(line[x]))];
            ++histograms[3][size_t(qBlue(line[x]))];
        }
    }
    return true;
}

void ImageProcessing::printHistograms(const Histograms& histograms) {
    platform::log(u"Printing Histogram");
    for (size_t c = 0; c < histograms.size(); ++c) {
        platform::log(u"Component-%d", int(c));
        for (uint64_t count : histograms[c]) platform::log(u"%lu", qulonglong(count));
    }
}

bool ImageProcessing::compareHistogramsForImage(const QImage& image, const QImage& other) {
    Histograms a{}, b{};
    const bool ok = computeHistogramForImage(image, a) && computeHistogramForImage(other, b);
    platform::log(u"both calculations done");
    return ok && a == b;
}

bool ImageProcessing::equalizeAndSaveImage(const QImage& image, const QString& path) {
    Histograms h{};
    if (!computeHistogramForImage(image, h)) return false;
    QImage px = straight(image);
    const uint64_t total = uint64_t(px.width()) * uint64_t(px.height());
    // Per colour channel: each value goes to its place in the cumulative count.
    std::array<std::array<uchar, 256>, 4> map{};
    for (size_t c = 1; c < 4; ++c) {
        uint64_t first = 0, run = 0;
        for (uint64_t n : h[c])
            if (n) {
                first = n;
                break;
            }
        for (size_t v = 0; v < 256; ++v) {
            run += h[c][v];
            const double spread = total > first ? double(run - first) / double(total - first) : double(v) / 255.0;
            map[c][v] = uchar(std::lround(std::clamp(spread, 0.0, 1.0) * 255.0));
        }
    }
    for (int y = 0; y < px.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(px.scanLine(y));
        for (int x = 0; x < px.width(); ++x)
            line[x] = qRgba(map[1][size_t(qRed(line[x]))], map[2][size_t(qGreen(line[x]))],
                            map[3][size_t(qBlue(line[x]))], qAlpha(line[x]));
    }
    return saveImage(px, path);
}

QString ImageProcessing::saveThumbnailForFile(const QString& path, int thumbnailWidth, int thumbnaiHeight) {
    const QImage sized = resizeImage(CommonFunc::getImageForFilePath(path), thumbnailWidth, thumbnaiHeight);
    if (sized.isNull()) return QString();
    const QString name = QStringLiteral("%1_%2.png")
                             .arg(platform::lastPathComponent(platform::stringByDeletingPathExtension(path)),
                                  QStringLiteral("%1x%2").arg(thumbnailWidth).arg(thumbnaiHeight));
    const QString target =
        platform::stringByAppendingPathComponent(platform::stringByDeletingLastPathComponent(path), name);
    // The name promises PNG, so PNG it is.
    return saveImage(sized, target) ? target : QString();
}

bool ImageProcessing::saveImage(const QImage& image, const QString& path) {
    if (image.isNull() || path.isEmpty()) return false;
    return platform::writeImageFile(path, image, platform::ImageType::PNG, 1.0);
}

QImage ImageProcessing::resizeImage(const QString& path, int toWidth, int toHeight) {
    return thumbnailAt(path, std::max(toWidth, toHeight), QSize(toWidth, toHeight));
}

QImage ImageProcessing::getThumbnailForFile(const QString& path, int width, int height) {
    return thumbnailAt(path, kThumbnailSide, QSize(width, height));
}

QImage ImageProcessing::resizeImage(const QString& path, float minWidth, float minHeight) {
    const QSize original = sizeOfImageAtURL(path);
    const QImage thumb = thumbnailAt(path, kPreviewSide, QSize());
    if (thumb.isNull() || original.isEmpty() || !std::isfinite(minWidth) || !std::isfinite(minHeight)) return thumb;
    QSizeF target;
    if (original.width() > original.height())
        target = QSizeF(minWidth, double(minWidth) * original.height() / original.width());
    else
        target = QSizeF(double(minHeight) * original.width() / original.height(), minHeight);
    return redrawn(thumb, QSize(int(std::lround(target.width())), int(std::lround(target.height()))),
                   Qt::SmoothTransformation);
}

QSize ImageProcessing::sizeOfImageAtURL(const QString& path) {
    if (path.isEmpty()) return QSize(0, 0);
    const platform::ImageHeader header = platform::readImageHeader(path);
    return header.valid() ? QSize(header.width, header.height) : QSize(0, 0);
}

QImage ImageProcessing::thumbnailImage(const QString& path) { return thumbnailAt(path, kTinySide, QSize()); }

QVariant ImageProcessing::getCreationTimeForExif(const QVariantMap& properties) {
    return properties.value(QLatin1String(platform::kPropsExif)).toMap().value(QStringLiteral("DateTimeOriginal"));
}

QImage ImageProcessing::imageWithCIImage(const CIImage& image, const QRectF& fromRect) {
    if (image.isNull() || fromRect.isEmpty()) return QImage();
    return Utils::sharedUtils().getDrawedImage(image, fromRect.size(), QRectF(QPointF(0, 0), fromRect.size()), fromRect);
}

QImage ImageProcessing::imageWithCIImage(const CIImage& image) {
    const QRectF extent = image.extent();
    if (image.isNull() || extent.isEmpty() || !std::isfinite(extent.width()) || extent.width() > 1e6 ||
        extent.height() > 1e6)
        return QImage();
    return imageWithCIImage(image, extent);
}

QImage ImageProcessing::imageWithColor(const QColor& color, QSize size) {
    if (size.width() <= 0 || size.height() <= 0) return QImage();
    QImage out(size, QImage::Format_ARGB32_Premultiplied);
    if (out.isNull()) return out;
    out.fill(color);
    return out;
}

QImage ImageProcessing::rotateImagedByDegrees(double degrees, const QImage& image) {
    if (image.isNull() || !std::isfinite(degrees)) return image;
    const QImage turned = RotateImageWithFlip(image, false, false, float(degrees));
    if (turned.isNull()) return turned;
    const QSizeF fit = Utils::sharedUtils().aspectFitSizeWithMaxSize(QSizeF(turned.size()), image.width());
    return redrawn(turned, QSize(int(std::lround(fit.width())), int(std::lround(fit.height()))),
                   Qt::SmoothTransformation);
}
