#pragma once
// Helpers shared by the stylize and distortion filter tests.
#include "CoreImageTestUtil.h"

#include "platform/coreimage/Parallel.h"

#include <gtest/gtest.h>
#include <optional>
#include <set>

namespace citest {

inline QVariant vec(double x, double y) { return QVariant::fromValue(platform::Vec(x, y)); }

inline CIImage apply(const QString& name, const QImage& in, const QVariantMap& values) {
    CIFilterPtr f = filterOn(name, in);
    if (!f) return {};
    for (auto it = values.begin(); it != values.end(); ++it) f->setValue(it.value(), it.key());
    return f->outputImage();
}
inline CIImage apply(const char* name, const QImage& in, const QVariantMap& values = {}) {
    return apply(QString::fromLatin1(name), in, values);
}

// The rectangle r of img, rendered in four separate pieces of odd sizes: a kernel that
// reads too little of its input, or whose result depends on the piece it is asked for,
// shows here. Also rendered on one thread and on five.
inline void expectPiecesMatchWhole(const CIImage& img, const QRectF& r) {
    platform::setThreadCount(1);
    const QImage whole = render(img, r);
    platform::setThreadCount(5);
    const QImage many = render(img, r);
    platform::setThreadCount(0);
    EXPECT_EQ(maxChannelDiff(whole, many), 0) << "one thread vs five";
    const int w = int(r.width()), h = int(r.height());
    const int cx = w / 3 + 1, cy = h / 2 - 3;
    const QRect pieces[] = {QRect(0, 0, cx, cy), QRect(cx, 0, w - cx, cy), QRect(0, cy, cx, h - cy), QRect(cx, cy, w - cx, h - cy)};
    for (const QRect& p : pieces) {
        // Pieces in y-up plane coordinates; compare with the same pixels of the whole.
        const QImage part = render(img, QRectF(r.x() + p.x(), r.y() + p.y(), p.width(), p.height()));
        const QImage same = whole.copy(p.x(), h - p.y() - p.height(), p.width(), p.height());
        EXPECT_EQ(maxChannelDiff(part, same), 0) << "piece " << p.x() << "," << p.y() << " " << p.width() << "x" << p.height();
    }
}

struct NumberAttr {
    const char* key;
    const char* type;
    double def, sliderMin, sliderMax;
    std::optional<double> minimum;
};

// The filter's input keys in order, its categories and the attributes of its numbers.
inline void expectAttributes(const char* name, const QStringList& keys, const char* category, const QList<NumberAttr>& numbers) {
    SCOPED_TRACE(name);
    CIFilterPtr f = CIFilter::filterWithName(QString::fromLatin1(name));
    ASSERT_TRUE(f);
    EXPECT_EQ(f->inputKeys(), keys);
    const QVariantMap a = f->attributes();
    const QStringList cats = a.value(kCIAttributeFilterCategories).toStringList();
    for (const char* c : {category, kCICategoryVideo, kCICategoryStillImage, kCICategoryBuiltIn})
        EXPECT_TRUE(cats.contains(QString::fromLatin1(c))) << c;
    EXPECT_EQ(a.value(kCIAttributeFilterName).toString(), QString::fromLatin1(name));
    for (const NumberAttr& n : numbers) {
        SCOPED_TRACE(n.key);
        const QVariantMap k = a.value(QString::fromLatin1(n.key)).toMap();
        EXPECT_EQ(k.value(kCIAttributeClass).toString(), QStringLiteral("NSNumber"));
        EXPECT_EQ(k.value(kCIAttributeType).toString(), QString::fromLatin1(n.type));
        EXPECT_DOUBLE_EQ(k.value(kCIAttributeDefault).toDouble(), n.def);
        EXPECT_DOUBLE_EQ(k.value(kCIAttributeSliderMin).toDouble(), n.sliderMin);
        EXPECT_DOUBLE_EQ(k.value(kCIAttributeSliderMax).toDouble(), n.sliderMax);
        if (n.minimum) EXPECT_DOUBLE_EQ(k.value(kCIAttributeMin).toDouble(), *n.minimum);
        else EXPECT_FALSE(k.contains(kCIAttributeMin));
    }
    if (keys.contains(QStringLiteral("inputCenter"))) {
        const QVariantMap c = a.value(QStringLiteral("inputCenter")).toMap();
        EXPECT_EQ(c.value(kCIAttributeClass).toString(), QStringLiteral("CIVector"));
        EXPECT_EQ(c.value(kCIAttributeType).toString(), QString::fromLatin1(kCIAttributeTypePosition));
        const platform::Vec d = c.value(kCIAttributeDefault).value<platform::Vec>();
        EXPECT_EQ(d.X(), 150);
        EXPECT_EQ(d.Y(), 150);
    }
}

inline int countOf(const QImage& img, const QColor& c) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) n += QColor::fromRgba(img.pixel(x, y)) == c;
    return n;
}

inline int distinctColours(const QImage& img) {
    std::set<QRgb> s;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) s.insert(img.pixel(x, y));
    return int(s.size());
}

}  // namespace citest
