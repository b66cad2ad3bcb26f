#pragma once
// A recipe for an image: a graph of filter nodes with an extent in the program's y-up
// plane. Nothing is computed until a CIContext renders a rectangle of it. Copies share
// the graph; every operation returns a new image and leaves its receiver unchanged.
#include <QColor>
#include <QImage>
#include <QMetaType>
#include <QRectF>
#include <QTransform>
#include <QVariantMap>
#include <memory>

namespace platform::ci {
class Node;
}
class CIFilter;

class CIImage {
public:
    CIImage() = default;
    explicit CIImage(std::shared_ptr<const platform::ci::Node> node) : node_(std::move(node)) {}

    // The picture with extent (0, 0, width, height); null image -> null CIImage.
    static CIImage imageWithCGImage(const QImage& image);
    // One colour everywhere (infinite extent).
    static CIImage imageWithColor(const QColor& color);
    static CIImage emptyImage() { return CIImage(); }

    bool isNull() const { return !node_; }
    // Y-up extent; empty for a null image, isInfinite() for generators and clamps.
    QRectF extent() const;
    bool isInfinite() const;
    static QRectF infiniteRect();

    CIImage imageByCroppingToRect(const QRectF& rect) const;
    // A y-up affine transform of the plane (a scale maps the extent's origin too).
    CIImage imageByApplyingTransform(const QTransform& transform) const;
    // The edge pixels repeated outward without end.
    CIImage imageByClampingToExtent() const;
    // Every pixel's own colour, unpremultiplied, made fully opaque (a fully transparent
    // pixel becomes opaque black). Where a blur of an opaque picture mixed in the
    // transparent outside, this gives the weighted mean of the picture's pixels alone.
    CIImage imageByMakingOpaque() const;

    // Automatic corrections proposed for this picture, in the order to apply them. Options:
    // kCIImageAutoAdjustEnhance / kCIImageAutoAdjustRedEye (booleans, both on by default).
    QList<std::shared_ptr<CIFilter>> autoAdjustmentFiltersWithOptions(const QVariantMap& options = {}) const;

    const std::shared_ptr<const platform::ci::Node>& node() const { return node_; }
    bool operator==(const CIImage& o) const { return node_ == o.node_; }

private:
    std::shared_ptr<const platform::ci::Node> node_;
};

// Option keys of autoAdjustmentFiltersWithOptions.
inline constexpr const char* kCIImageAutoAdjustEnhance = "CIImageAutoAdjustEnhance";
inline constexpr const char* kCIImageAutoAdjustRedEye = "CIImageAutoAdjustRedEye";

Q_DECLARE_METATYPE(CIImage)
