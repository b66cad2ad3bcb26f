#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QtTest/QTest>

#include "editor/ui/PointHandles.h"
#include "editor/ui/ValueSlider.h"
#include "records/AppliedFilter.h"
#include "tests/editor/EditorFixture.h"
#include "tests/support/ImageFixtures.h"
#include "platform/graphics/YUp.h"

using platform::NumberKind;
using platform::Vec;
using platform::numberKind;

TEST(AdjustFilterScreen, ShowsTheSelectedPhotoInTheContainer) {
    EditorScreen s(1160, 580);
    // Aspect fit into 580 x 440: 580 x 290, centred.
    EXPECT_EQ(s.vc->imageContainerView()->size(), QSize(580, 290));
    EXPECT_EQ(s.vc->imageContainerView()->pos(), QPoint(0, 75));
    EXPECT_EQ(s.vc->imageToEdit().size(), QSize(580, 290)) << "the preview works on a preview-sized copy";
    EXPECT_EQ(AppDelegate::shared().ADJUST_FILTER_IMG_CONTAINER_SIZE, QSizeF(580, 290));
    ASSERT_NE(s.vc->imgViewFiltered()->pixmap().isNull(), true);
}

TEST(AdjustFilterScreen, CoreImageEffectBuildsItsPanelAndRedraws) {
    EditorScreen s;
    const QImage before = s.vc->shownImage();
    s.vc->selectEffectByName("CIGaussianBlur", "Gaussian Blur");
    ASSERT_TRUE(s.vc->viewWithTag(100)->isVisibleTo(s.vc.get()));
    EXPECT_FALSE(s.vc->viewWithTag(101)->isVisibleTo(s.vc.get()));
    EXPECT_EQ(s.vc->slider(0)->maximumValue(), 16.0);
    EXPECT_EQ(s.vc->slider(0)->doubleValue(), 5.0);
    EXPECT_EQ(s.vc->valueField(0)->text(), "5.00");
    EXPECT_EQ(s.value("inputRadius").toDouble(), 5.0) << "the preview starts from the value the slider shows";
    EXPECT_NE(s.vc->shownImage(), before);
    EXPECT_FALSE(s.list().isChanged());
}

TEST(AdjustFilterScreen, DrawnScreenShowsThePhotoThePanelAndTheCropShade) {
    EditorScreen s;
    s.vc->show();
    s.vc->selectEffectByName("CITwirlDistortion");
    s.vc->handleSlider(0, 200);
    QImage shot = s.vc->grab().toImage();
    // BRISKO_SCREENSHOT=<folder> keeps the pictures for a look.
    const QString keep = qEnvironmentVariable("BRISKO_SCREENSHOT");
    if (!keep.isEmpty()) shot.save(keep + "/effects-twirl.png");
    const QPoint origin = s.vc->imageContainerView()->mapTo(s.vc.get(), QPoint(0, 0));
    const QImage preview = shot.copy(QRect(origin, s.vc->imageContainerView()->size()));
    EXPECT_EQ(testsupport::meanDiff(preview.convertToFormat(QImage::Format_ARGB32),
                                    s.vc->shownImage().convertToFormat(QImage::Format_ARGB32)) < 20,
              true)
        << "the container shows the rendered preview";
    EXPECT_TRUE(s.vc->pointButton(0)->handle()->isVisible()) << "the twirl's centre handle is over the photo";

    s.vc->selectEffectByName("CICrop");
    shot = s.vc->grab().toImage();
    if (!keep.isEmpty()) shot.save(keep + "/effects-crop.png");
    // Outside the crop rectangle the photo is shaded, inside it is not.
    const QRectF crop = platform::toQtRect(s.vc->theExtentButton()->theExtentRect(), 440);
    const QPoint inside = origin + crop.center().toPoint();
    const QPoint outside = origin + QPoint(10, 10);
    const QColor shadedOutside = shot.pixelColor(outside), plainInside = shot.pixelColor(inside);
    const QColor photoOutside = s.vc->imageToEdit().pixelColor(10, 10);
    const QColor photoInside = s.vc->imageToEdit().pixelColor(crop.center().toPoint());
    EXPECT_LT(shadedOutside.value(), photoOutside.value() * 0.7);
    EXPECT_NEAR(plainInside.value(), photoInside.value(), 12);
}
