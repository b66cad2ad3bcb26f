// Transitions: both ends are the pictures themselves, the middle is neither, and every
// one answers to the set-up's inputs.
#include "CoreImageTestUtil.h"

#include <gtest/gtest.h>

using namespace citest;

namespace {

const char* const kTransitions[] = {
    "CIAccordionFoldTransition", "CIBarsSwipeTransition", "CICopyMachineTransition", "CIDissolveTransition",
    "CIFlashTransition",         "CIModTransition",       "CIPageCurlWithShadowTransition", "CISwipeTransition",
};

CIFilterPtr transitionAt(const char* name, const QImage& from, const QImage& to, double t) {
    CIFilterPtr f = filterOn(QString::fromLatin1(name), from);
    if (!f) return f;
    f->setValue(QVariant::fromValue(CIImage::imageWithCGImage(to)), QStringLiteral("inputTargetImage"));
    if (f->inputKeys().contains(QStringLiteral("inputExtent")))
        f->setValue(QVariant::fromValue(platform::Vec(0, 0, from.width(), from.height())), QStringLiteral("inputExtent"));
    if (f->inputKeys().contains(QStringLiteral("inputCenter")))
        f->setValue(QVariant::fromValue(platform::Vec(from.width() / 2.0, from.height() / 2.0)), QStringLiteral("inputCenter"));
    f->setValue(t, QStringLiteral("inputTime"));
    return f;
}

// Share of pixels that are (nearly) those of the picture.
double shareLike(const QImage& out, const QImage& picture) {
    const QImage a = out.convertToFormat(QImage::Format_ARGB32), b = picture.convertToFormat(QImage::Format_ARGB32);
    long same = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            same += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q)) < 24;
        }
    return double(same) / (a.width() * a.height());
}

}  // namespace

TEST(Transition, EndsAreThePicturesAndTheMiddleIsNeither) {
    const QImage from = gradientImageForTest(80, 60);
    const QImage to = solid(80, 60, QColor(30, 160, 90));
    for (const char* name : kTransitions) {
        SCOPED_TRACE(name);
        for (double t : {-0.5, 0.0}) {
            const CIFilterPtr f = transitionAt(name, from, to, t);
            ASSERT_TRUE(f);
            EXPECT_EQ(f->outputImage().extent(), QRectF(0, 0, 80, 60));
            EXPECT_EQ(maxChannelDiff(render(f->outputImage()), from), 0);
        }
        for (double t : {1.0, 1.5}) EXPECT_EQ(maxChannelDiff(render(transitionAt(name, from, to, t)->outputImage()), to), 0);
        const QImage middle = render(transitionAt(name, from, to, 0.5)->outputImage());
        ASSERT_EQ(middle.size(), QSize(80, 60));
        EXPECT_LT(shareLike(middle, from), 0.97);
        EXPECT_LT(shareLike(middle, to), 0.97);
    }
}

TEST(Transition, TimeMovesTowardTheTarget) {
    const QImage from = solid(64, 48, QColor(250, 250, 250));
    const QImage to = solid(64, 48, QColor(10, 10, 120));
    // Wipes and fades show more of the target as time goes on.
    for (const char* name : {"CIBarsSwipeTransition", "CIDissolveTransition", "CIModTransition", "CISwipeTransition",
                             "CIAccordionFoldTransition", "CIPageCurlWithShadowTransition"}) {
        SCOPED_TRACE(name);
        double last = -1;
        for (double t : {0.2, 0.5, 0.8}) {
            const double share = shareLike(render(transitionAt(name, from, to, t)->outputImage()), to);
            EXPECT_GE(share, last - 1e-9) << "time " << t;
            last = share;
        }
    }
    // A half dissolve is the mean of the two pictures.
    const QColor half = pixelYUp(render(transitionAt("CIDissolveTransition", from, to, 0.5)->outputImage()), 10, 10);
    EXPECT_NEAR(half.red(), 130, 1);
    EXPECT_NEAR(half.blue(), 185, 1);
}

TEST(Transition, AttributesNameTheTimeAndBothPictures) {
    for (const char* name : kTransitions) {
        SCOPED_TRACE(name);
        const CIFilterPtr f = CIFilter::filterWithName(QString::fromLatin1(name));
        ASSERT_TRUE(f);
        const QVariantMap attrs = f->attributes();
        EXPECT_TRUE(attrs.value(kCIAttributeFilterCategories).toStringList().contains(kCICategoryTransition));
        const QVariantMap time = attrs.value(QStringLiteral("inputTime")).toMap();
        EXPECT_EQ(time.value(kCIAttributeDefault).toDouble(), 0.0);
        EXPECT_EQ(time.value(kCIAttributeMin).toDouble(), 0.0);
        EXPECT_EQ(time.value(kCIAttributeMax).toDouble(), 1.0);
        EXPECT_TRUE(attrs.contains(QStringLiteral("inputTargetImage")));
        // Without the target there is nothing to turn into.
        EXPECT_TRUE(filterOn(QString::fromLatin1(name), solid(8, 8, Qt::red))->outputImage().isNull());
    }
    // The inputs the thumbnail presets set are there to be set.
    const struct {
        const char* name;
        QStringList keys;
    } presets[] = {
        {"CIBarsSwipeTransition", {"inputAngle"}},
        {"CICopyMachineTransition", {"inputAngle", "inputOpacity", "inputExtent"}},
        {"CIFlashTransition", {"inputCenter", "inputExtent"}},
        {"CIModTransition", {"inputRadius", "inputCenter"}},
        {"CIPageCurlWithShadowTransition", {"inputAngle", "inputRadius", "inputExtent"}},
        {"CISwipeTransition", {"inputExtent", "inputWidth"}},
    };
    for (const auto& p : presets)
        for (const QString& key : p.keys) EXPECT_TRUE(CIFilter::filterWithName(QString::fromLatin1(p.name))->inputKeys().contains(key)) << p.name << " " << key.toStdString();
}

TEST(Transition, PiecesRenderedAloneMatchTheWhole) {
    // Each piece reads only the part of the first picture it needs; a piece must come out as
    // it does inside the whole picture.
    const QImage from = gradientImageForTest(90, 70);
    const QImage to = solid(90, 70, QColor(20, 40, 200));
    for (const char* name : kTransitions) {
        for (double t : {0.1, 0.35, 0.7, 0.9999}) {
            SCOPED_TRACE(std::string(name) + " at " + std::to_string(t));
            CIFilterPtr f = transitionAt(name, from, to, t);
            if (f->inputKeys().contains(QStringLiteral("inputRadius")) && QString::fromLatin1(name).contains(u"PageCurl"))
                f->setValue(20.0, QStringLiteral("inputRadius"));
            f->setValue(0.7, QStringLiteral("inputAngle"));
            const CIImage out = f->outputImage();
            const QImage whole = render(out, QRectF(0, 0, 90, 70));
            for (const QRectF piece : {QRectF(0, 0, 30, 20), QRectF(30, 20, 45, 30), QRectF(60, 50, 30, 20), QRectF(10, 40, 17, 9)}) {
                const QImage part = render(out, piece);
                const QImage same = whole.copy(int(piece.x()), 70 - int(piece.bottom()), int(piece.width()), int(piece.height()));
                EXPECT_EQ(maxChannelDiff(part, same), 0) << piece.x() << "," << piece.y();
            }
        }
    }
}
