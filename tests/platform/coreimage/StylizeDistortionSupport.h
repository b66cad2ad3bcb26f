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

// One number input's attributes: type, default, slider range and minimum (NaN: none).
struct NumberAttr {
    const char* filter;
    const char* key;
    const char* type;
    double def, sliderMin, sliderMax, minimum;
};

inline void expectNumberAttr(const NumberAttr& n) {
    SCOPED_TRACE(std::string(n.filter) + " " + n.key);
    CIFilterPtr f = CIFilter::filterWithName(QString::fromLatin1(n.filter));
    ASSERT_TRUE(f);
    const QVariantMap k = f->attributes().value(QString::fromLatin1(n.key)).toMap();
    EXPECT_EQ(k.value(kCIAttributeType).toString(), QString::fromLatin1(n.type));
    EXPECT_DOUBLE_EQ(k.value(kCIAttributeDefault).toDouble(), n.def);
    EXPECT_DOUBLE_EQ(k.value(kCIAttributeSliderMin).toDouble(), n.sliderMin);
    EXPECT_DOUBLE_EQ(k.value(kCIAttributeSliderMax).toDouble(), n.sliderMax);
    EXPECT_EQ(k.contains(kCIAttributeMin), !std::isnan(n.minimum));
    if (!std::isnan(n.minimum)) {
        EXPECT_DOUBLE_EQ(k.value(kCIAttributeMin).toDouble(), n.minimum);
    }
}

// Input keys in order and the family's category.
inline void expectKeys(const char* filter, const QStringList& keys, const char* category) {
    CIFilterPtr f = CIFilter::filterWithName(QString::fromLatin1(filter));
    ASSERT_TRUE(f) << filter;
    EXPECT_EQ(f->inputKeys(), keys) << filter;
    EXPECT_TRUE(f->attributes().value(kCIAttributeFilterCategories).toStringList().contains(QString::fromLatin1(category))) << filter;
}

// Values no slider gives (a stored list can carry anything) still make a picture.
inline void expectOddValuesHarmless(const char* filter) {
    SCOPED_TRACE(filter);
    const QImage in = gradientImageForTest(40, 30);
    for (const double v : {std::nan(""), std::numeric_limits<double>::infinity(), -1e300, 1e300}) {
        CIFilterPtr f = filterOn(QString::fromLatin1(filter), in);
        for (const QString& key : f->inputKeys()) {
            if (key == QLatin1String("inputImage")) continue;
            CIFilterPtr g = filterOn(QString::fromLatin1(filter), in);
            g->setValue(key == QLatin1String("inputCenter") ? QVariant::fromValue(platform::Vec(v, -v)) : QVariant(v), key);
            EXPECT_EQ(render(g->outputImage(), QRectF(0, 0, 40, 30)).size(), QSize(40, 30)) << key.toStdString() << " " << v;
        }
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
