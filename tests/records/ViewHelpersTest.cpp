#include <gtest/gtest.h>

#include "records/ViewHelpers.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

TEST(ViewHelpers, DisablingReachesNestedControlsAndEnablingBringsThemBack) {
    QWidget root;
    auto* group = new QWidget(&root);
    auto* check = new QCheckBox(group);
    auto* field = new QLineEdit(group);
    auto* button = new QPushButton(&root);

    ViewHelpers::disableSubViewsForView(&root);
    EXPECT_TRUE(root.isEnabled());  // the view itself stays as it was
    EXPECT_FALSE(group->isEnabled());
    EXPECT_FALSE(check->isEnabled());
    EXPECT_FALSE(field->isEnabled());
    EXPECT_FALSE(button->isEnabled());
    EXPECT_EQ(field->palette().color(QPalette::Disabled, QPalette::Text), ViewHelpers::disabledTextColor());

    ViewHelpers::enableSubViewsForView(&root);
    EXPECT_TRUE(check->isEnabled());
    EXPECT_TRUE(field->isEnabled());
    EXPECT_EQ(field->palette().color(QPalette::Active, QPalette::Text), QColor(Qt::white));
    ViewHelpers::disableSubViewsForView(nullptr);  // nothing to walk
}

TEST(ViewHelpers, WindowIsCentredOverItsParent) {
    QWidget parent, window;
    parent.setGeometry(100, 200, 800, 600);
    window.resize(200, 100);
    ViewHelpers::setWindow(&window, &parent);
    EXPECT_EQ(window.pos(), QPoint(100 + (800 - 200) / 2, 200 + (600 - 100) / 2));
    EXPECT_EQ(window.size(), QSize(200, 100));
    EXPECT_TRUE(window.isVisible());
}
