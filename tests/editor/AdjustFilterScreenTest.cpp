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
