#include "platform/coreimage/CIImage.h"

#include "platform/coreimage/kernels/Node.h"

using namespace platform::ci;

CIImage CIImage::imageWithCGImage(const QImage& image) { return CIImage(makeSourceNode(image)); }

CIImage CIImage::imageWithColor(const QColor& color) {
    if (!color.isValid()) return {};
    const float a = float(color.alphaF());
    const float c[4] = {float(color.redF()) * a, float(color.greenF()) * a, float(color.blueF()) * a, a};
    return CIImage(makeConstantNode(c));
}

QRectF CIImage::extent() const { return node_ ? node_->extent() : QRectF(); }
bool CIImage::isInfinite() const { return node_ && platform::ci::isInfinite(node_->extent()); }
QRectF CIImage::infiniteRect() { return platform::ci::infiniteRect(); }

CIImage CIImage::imageByCroppingToRect(const QRectF& rect) const { return CIImage(makeCropNode(node_, rect)); }
CIImage CIImage::imageByApplyingTransform(const QTransform& t) const { return CIImage(makeTransformNode(node_, t)); }
CIImage CIImage::imageByClampingToExtent() const { return CIImage(makeClampNode(node_)); }
CIImage CIImage::imageByMakingOpaque() const {
    return CIImage(makeColorNode(node_, [](float* rgba, int n) {
        for (int i = 0; i < n; ++i) rgba[4 * i + 3] = 1.0f;
    }));
}
