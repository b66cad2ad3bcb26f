// The effects screen and the keyboard: a field that has the keyboard when the screen goes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>

#include "editor/ui/ValueSlider.h"
#include "tests/editor/EffectsScreenFixture.h"

namespace {

using fxtest::Screen;

// Gives the field the keyboard in an active window, as a user's click in it would.
void focusField(QWidget* field) {
    field->window()->activateWindow();
    QApplication::setActiveWindow(field->window());
    field->setFocus(Qt::MouseFocusReason);
    Screen::settle();
}

}  // namespace

TEST(EffectsScreenKeyboard, TheScreenGoesWhileAFieldHasTheKeyboardAndItsHandlerNeverRunsOnWhatIsLeft) {
    // Each field reports the end of its editing when the keyboard leaves it, and closing the
    // screen takes the keyboard from it. Run under the sanitizers, a handler that reached the
    // half-destroyed screen shows as a use after free.
    struct Case {
        const char* effect;
        std::function<QWidget*(Screen&)> field;
    };
    const Case cases[] = {
        {"Add Text", [](Screen& s) -> QWidget* { return s.screen->txtFontsize(); }},
        {"Black & White", [](Screen& s) -> QWidget* { return s.vc->valueField(0); }},
        {"Resize", [](Screen& s) -> QWidget* { return s.vc->txtWidth(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.effect);
        Screen s({QSize(800, 600)});
        s.click(s.screen->tblFilterCategories(), s.basicRow(c.effect));
        QWidget* field = c.field(s);
        ASSERT_TRUE(field && field->isVisible());
        focusField(field);
        ASSERT_TRUE(field->hasFocus());
        // A value typed and not yet committed, so its commit would write.
        auto* edit = qobject_cast<QLineEdit*>(field);
        edit->selectAll();
        fxtest::typeText(edit, "12");
        s.vc.reset();
        EXPECT_EQ(QApplication::focusWidget(), nullptr);
    }
}
