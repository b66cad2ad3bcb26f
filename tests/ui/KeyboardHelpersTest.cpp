// The kit's keyboard helpers on plain widgets: the ring of a control whose look shows
// nothing of the keyboard, where the keyboard goes when its controls go, and which control
// of an area comes first.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include "tests/support/FocusRings.h"
#include "ui/KeyboardHelpers.h"
#include "ui/LabeledToggleButton.h"

namespace {

// A window for the test's controls, shown and active once they are made.
struct KeyboardWindow {
    QWidget window;
    KeyboardWindow() { window.resize(400, 300); }
    void open() {
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
};

}  // namespace

TEST(KeyboardHelpers, ARingShowsTheKeyboardOnControlsThatDoNotAndOnlyOneIsMade) {
    KeyboardWindow k;
    auto* picture = new PointButton(&k.window);  // a picture with a title label inside
    picture->setGeometry(10, 10, 135, 42);
    auto* slider = new QSlider(Qt::Horizontal, &k.window);
    slider->setGeometry(10, 80, 200, 22);
    auto* spare = new QPushButton(QStringLiteral("Elsewhere"), &k.window);
    spare->setGeometry(10, 200, 100, 28);
    k.open();
    for (QWidget* control : {static_cast<QWidget*>(picture), static_cast<QWidget*>(slider)}) {
        SCOPED_TRACE(control->metaObject()->className());
        keyboard::showFocusRing(control);
        keyboard::showFocusRing(control);
        EXPECT_EQ(control->findChildren<QWidget*>(QStringLiteral("focusRing")).size(), 1);
        EXPECT_EQ(testsupport::focusIndicationProblem(control), QString());
        // Clicks reach the control through its ring.
        EXPECT_TRUE(control->findChild<QWidget*>(QStringLiteral("focusRing"))->testAttribute(
            Qt::WA_TransparentForMouseEvents));
    }
    spare->setFocus();
    testsupport::settleFocus();
    EXPECT_FALSE(slider->findChild<QWidget*>(QStringLiteral("focusRing"))->isVisible());
}

TEST(KeyboardHelpers, TheKeyboardFollowsTheWorkWhenItsControlsGo) {
    KeyboardWindow k;
    auto* panel = new QWidget(&k.window);
    panel->setGeometry(0, 0, 400, 150);
    auto* field = new QLineEdit(panel);
    field->setGeometry(10, 10, 100, 24);
    auto* list = new QLineEdit(&k.window);
    list->setGeometry(10, 200, 100, 24);
    auto* outside = new QPushButton(QStringLiteral("Outside"), &k.window);
    outside->setGeometry(200, 200, 100, 28);
    k.open();

    struct Case {
        const char* name;
        QWidget* keyboardAt;  // where the keyboard is before the change
        bool hidePanel;       // what the change does
        QWidget* next;        // what `next` answers
        QWidget* expected;    // where the keyboard is after it
    };
    const Case cases[] = {
        {"the panel goes with the keyboard in it", field, true, list, list},
        {"the keyboard was elsewhere", outside, true, list, outside},
        {"the control keeps the keyboard", field, false, list, field},
        {"nothing to take it", field, true, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        panel->show();
        c.keyboardAt->setFocus();
        testsupport::settleFocus();
        ASSERT_TRUE(c.keyboardAt->hasFocus());
        keyboard::keepKeyboardNear(panel, [&] { panel->setVisible(!c.hidePanel); }, [&] { return c.next; });
        if (c.expected) EXPECT_TRUE(c.expected->hasFocus());
        else EXPECT_FALSE(field->hasFocus());
    }
}

TEST(KeyboardHelpers, TheFirstControlOfAnAreaInReadingOrder) {
    KeyboardWindow k;
    auto* area = new QWidget(&k.window);
    area->setGeometry(0, 0, 400, 300);
    auto* reset = new QPushButton(QStringLiteral("Reset"), area);
    reset->setGeometry(300, 5, 80, 24);
    auto* label = new QLabel(QStringLiteral("Radius"), area);  // takes no keyboard
    label->setGeometry(10, 10, 80, 20);
    auto* hidden = new QLineEdit(area);
    hidden->setGeometry(10, 20, 80, 20);
    hidden->hide();
    auto* disabled = new QLineEdit(area);
    disabled->setGeometry(10, 25, 80, 20);
    disabled->setEnabled(false);
    auto* right = new QLineEdit(area);
    right->setGeometry(200, 40, 80, 20);
    auto* left = new QCheckBox(QStringLiteral("Keep"), area);
    left->setGeometry(10, 40, 80, 20);
    auto* below = new QSlider(Qt::Horizontal, area);
    below->setGeometry(10, 80, 200, 20);
    k.open();

    EXPECT_EQ(keyboard::firstControlIn(area), reset);
    EXPECT_EQ(keyboard::firstControlIn(area, {reset}), left) << "top to bottom, then left to right";
    EXPECT_EQ(keyboard::firstControlIn(area, {reset, left}), right);
    EXPECT_EQ(keyboard::firstControlIn(area, {reset, left, right}), below);
    EXPECT_EQ(keyboard::firstControlIn(area, {area}), nullptr);
}
