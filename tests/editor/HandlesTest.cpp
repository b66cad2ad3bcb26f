// Point and corner handles: the drag rules on their own, and the widgets that report them.
#include <gtest/gtest.h>

#include <QWidget>
#include <random>

#include "editor/HandleDrag.h"
#include "editor/ui/PointHandles.h"
#include "engine/FilterCustomization.h"
#include "records/AppDelegate.h"

namespace {

const QRectF kBox(0, 0, 580, 440);

// Drags corner `index` of the rectangle through the pointer positions; returns the rectangle.
QRectF dragCorner(QRectF rect, int index, std::optional<double> m, const std::vector<QPointF>& pointers) {
    Corners c = cornersOfRect(rect);
    CornerDrag drag(index, 50, m);
    drag.press(c[size_t(index)]);
    for (QPointF p : pointers) {
        const CornerDragStep step = drag.drag(p, c, kBox);
        if (step.moved) c = moveCorner(c, index, step.newCentre);
    }
    return rectFromCorners(c);
}

}  // namespace

TEST(CornerDrag, EdgeCasesOfTheRules) {
    const QRectF rect(100, 100, 300, 200);  // corners: 0 (100,100) 1 (400,100) 2 (100,300) 3 (400,300)
    // Free form follows the pointer; nothing is left over.
    CornerDrag free(3, 50, std::nullopt);
    free.press({400, 300});
    const CornerDragStep step = free.drag({420, 330}, cornersOfRect(rect), kBox);
    EXPECT_TRUE(step.moved);
    EXPECT_EQ(step.newCentre, QPointF(420, 330));
    EXPECT_EQ(step.translation, QPointF(0, 0));
    // The lower-left corner dragged right past the lower-right one stops a handle width short.
    EXPECT_EQ(dragCorner(rect, 0, std::nullopt, {{500, 100}}), QRectF(350, 100, 50, 200));
    // Square: the lower-right corner moved 20 right goes 20 down, whatever the pointer's height.
    CornerDrag square(1, 50, 1.0);
    square.press({400, 100});
    const CornerDragStep sq = square.drag({420, 180}, cornersOfRect(rect), kBox);
    EXPECT_EQ(sq.newCentre, QPointF(420, 80));
    // A pointer asking to leave the container moves the corner only to the edge.
    EXPECT_EQ(dragCorner(rect, 3, std::nullopt, {{700, 300}}).right(), 400) << "outside: the corner stays";
}

TEST(CornerDrag, EveryCropRatioKeepsItsShape) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> where(-100, 700);
    for (int orientation = 0; orientation < 2; ++orientation) {
        for (int ratio = 1; ratio < 12; ++ratio) {
            SCOPED_TRACE(QString("ratio %1 orientation %2").arg(ratio).arg(orientation).toStdString());
            const double m = FilterCustomization::heightMultiplierFor(ratio, orientation, kBox.size());
            QRectF rect = FilterCustomization::extendRectFor(ratio, orientation, kBox.size(), ratio, orientation);
            ASSERT_NEAR(rect.height() / rect.width(), m, 1e-3) << "the starting rectangle has the ratio";
            const double start = rect.height() / rect.width();
            for (int round = 0; round < 40; ++round) {
                std::vector<QPointF> pointers;
                for (int k = 0; k < 5; ++k) pointers.push_back({where(random), where(random)});
                rect = dragCorner(rect, round % 4, m, pointers);
                ASSERT_NEAR(rect.height() / rect.width(), start, 1e-6);
                ASSERT_GE(rect.width(), 50 - 1e-9);
                ASSERT_TRUE(kBox.adjusted(-1e-9, -1e-9, 1e-9, 1e-9).contains(rect));
            }
        }
    }
}

TEST(CropFields, TypedValuesKeepTheRatioAndTheContainer) {
    const QRectF r(100, 100, 200, 100);
    EXPECT_EQ(cropRectFromField(r, 2, 300, 0.5, {580, 440}), QRectF(100, 100, 300, 150));
    EXPECT_EQ(cropRectFromField(r, 3, 200, 0.5, {580, 440}), QRectF(100, 100, 400, 200));
    EXPECT_EQ(cropRectFromField(r, 2, 300, std::nullopt, {580, 440}), QRectF(100, 100, 300, 100));
    EXPECT_EQ(cropRectFromField(r, 0, 500, std::nullopt, {580, 440}), QRectF(380, 100, 200, 100)) << "held inside";
    EXPECT_EQ(cropRectFromField(r, 2, 0, std::nullopt, {580, 440}).width(), 1);
}

TEST(PointHandles, ReportTheNewCentreToTheirOwnButtonOnly) {
    QWidget container;
    container.resize(580, 440);
    PointHandleButton a, b;
    a.setPointContainerView(&container);
    b.setPointContainerView(&container);
    a.setPointCenter({100, 100});
    b.setPointCenter({300, 300});
    a.setState(1);
    b.setState(1);
    std::vector<QPointF> gotA, gotB;
    a.setThePointChangedBlock([&](QPointF p, const QString& key) {
        gotA.push_back(p);
        EXPECT_EQ(key, "inputCenter");
    });
    b.setThePointChangedBlock([&](QPointF p, const QString&) { gotB.push_back(p); });
    a.setPointKey("inputCenter");
    QVariantMap posted;
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        kNotificationPointViewMoved, [&](const platform::Notification& n) { posted = n.userInfo; });

    a.handle()->pressAt({100, 100});
    a.handle()->dragTo({105, 97});
    EXPECT_EQ(posted.value("xTransLation").toString(), "5.000000");
    EXPECT_EQ(posted.value("yTransLation").toString(), "-3.000000");
    a.handle()->dragTo({700, 97});  // outside the container: ignored
    a.handle()->releaseAt();
    platform::NotificationCenter::defaultCenter().removeObserver(token);

    ASSERT_EQ(gotA.size(), 1u);
    EXPECT_EQ(gotA[0], QPointF(105, 97)) << "the new centre, not the old one";
    EXPECT_TRUE(gotB.empty()) << "another button's handle moved";
    EXPECT_EQ(a.handle()->center(), QPointF(105, 97));
    EXPECT_EQ(b.handle()->center(), QPointF(300, 300));
}

TEST(RectButton, CornersFollowAndTheCropKeepsItsRatio) {
    AppDelegate& app = AppDelegate::shared();
    app.resetToLaunchValues();
    app.currentFilterName = "CICrop";
    app.selectedCropRatio = 2;  // square
    QWidget container;
    container.resize(580, 440);
    RectButton button;
    button.setIsForCustomFilter(true);
    button.setPointContainerView(&container);
    button.setTheExtentRect(QRectF(120, 50, 340, 340));
    button.setTheKey("inputRectangle");
    button.setState(1);
    QRectF reported;
    button.setTheRectChangedBlock([&](const QRectF& r, const QString& key) {
        reported = r;
        EXPECT_EQ(key, "inputRectangle");
    });
    PointView* upperRight = button.corner(3);
    EXPECT_EQ(upperRight->center(), QPointF(460, 390));
    upperRight->pressAt({460, 390});
    upperRight->dragTo({400, 420});
    upperRight->releaseAt();
    EXPECT_EQ(reported, QRectF(120, 50, 280, 280));
    EXPECT_EQ(button.theExtentRect(), reported);
    EXPECT_EQ(button.corner(1)->center(), QPointF(400, 50)) << "the corner below follows";
    EXPECT_EQ(button.shadeView()->shownRect(), reported);
    EXPECT_TRUE(button.shadeView()->shadesOutside());
    app.resetToLaunchValues();
}
