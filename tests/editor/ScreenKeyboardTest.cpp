// The effects screen and the keyboard: a field that has the keyboard when the screen goes,
// Escape in the step editor, Tab through the screen, and what the parameter column shows
// once an effect has become a step.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTableView>
#include <functional>

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

TEST(EffectsScreenKeyboard, EscapeLeavesTheStepEditorAfterAnyPopUpOverIt) {
    Screen s({QSize(800, 600)});
    AppDelegate& app = AppDelegate::shared();
    // A new effect: Escape from its value field drops it, as Cancel does.
    s.click(s.screen->tblFilterCategories(), s.basicRow("Black & White"));
    focusField(s.vc->valueField(0));
    QTest::keyClick(s.vc->valueField(0), Qt::Key_Escape);
    Screen::settle();
    EXPECT_TRUE(s.vc->state().currentFilterName.isEmpty());
    EXPECT_FALSE(s.vc->vwAddEffect()->isVisible());
    EXPECT_TRUE(app.arrayAppliedFilters.isEmpty());

    // A step opened for editing: Escape from the step list leaves it as it was stored.
    s.click(s.screen->tblFilterCategories(), s.basicRow("Black & White"));
    s.commit();
    ASSERT_EQ(app.arrayAppliedFilters.size(), 1);
    const auto stored = app.arrayAppliedFilters[0];
    const QVariantList storedValues = stored->filterParameters;
    s.stepButton(0, StepDelegate::Edit);
    ASSERT_TRUE(s.vc->state().isFor_FILTER_EDIT_MODE);
    s.vc->handleSlider(0, 0.8);
    focusField(s.screen->tblAppliedFilters());
    QTest::keyClick(s.screen->tblAppliedFilters(), Qt::Key_Escape);
    Screen::settle();
    EXPECT_FALSE(s.vc->state().isFor_FILTER_EDIT_MODE);
    ASSERT_EQ(app.arrayAppliedFilters.size(), 1);
    EXPECT_EQ(app.arrayAppliedFilters[0], stored);
    EXPECT_EQ(app.arrayAppliedFilters[0]->filterParameters, storedValues);

    // An option list open over the crop panel closes first; the next Escape leaves the crop.
    s.click(s.screen->tblFilterCategories(), s.basicRow("CICrop"));
    s.vc->selectCropRatioTapped();
    ASSERT_TRUE(s.vc->attachedPopUpWindow() && s.vc->attachedPopUpWindow()->isVisible());
    QWidget* field = s.vc->cropField(0);
    focusField(field);
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_TRUE(!s.vc->attachedPopUpWindow() || !s.vc->attachedPopUpWindow()->isVisible());
    EXPECT_EQ(s.vc->state().currentFilterName, "CICrop");
    QTest::keyClick(field, Qt::Key_Escape);
    Screen::settle();
    EXPECT_TRUE(s.vc->state().currentFilterName.isEmpty());
}

TEST(EffectsScreenKeyboard, TabMovesOnFromEveryListOfTheScreen) {
    Screen s({QSize(800, 600)});
    for (const char* effect : {"Black & White", "RGB Adjust"}) {  // the step list shows once it has steps
        s.click(s.screen->tblFilterCategories(), s.basicRow(effect));
        s.commit();
    }
    const std::pair<const char*, QAbstractItemView*> lists[] = {
        {"categories", s.screen->tblFilterCategories()},
        {"steps", s.screen->tblAppliedFilters()},
        {"photo facts", s.screen->tvMetaData()},
    };
    for (const auto& [name, list] : lists) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(list->isVisible());
        ASSERT_GT(list->model()->rowCount(), 1);
        focusField(list);
        ASSERT_TRUE(list->hasFocus());
        QTest::keyClick(list, Qt::Key_Tab);
        EXPECT_FALSE(list->hasFocus());
    }
}

TEST(EffectsScreenKeyboard, AfterAddEffectTheRightColumnShowsNothingLeftOver) {
    Screen s({QSize(800, 600)});
    auto resetLine = [&] {
        for (QLabel* l : s.vc->parametersColumn()->findChildren<QLabel*>())
            if (l->text() == "Reset the effect's values") return l;
        return static_cast<QLabel*>(nullptr);
    };
    ASSERT_NE(resetLine(), nullptr);
    s.click(s.screen->tblFilterCategories(), s.basicRow("Black & White"));
    EXPECT_TRUE(s.vc->btnreset()->isVisible());
    EXPECT_TRUE(resetLine()->isVisible());
    // Added as a step: the panel is empty again, with no line left on its own.
    s.commit();
    EXPECT_FALSE(s.vc->btnreset()->isVisible());
    EXPECT_FALSE(resetLine()->isVisible());
    // An effect with nothing to reset shows neither.
    s.vc->selectEffectByName("CIColorInvert");
    EXPECT_FALSE(s.vc->btnreset()->isVisible());
    EXPECT_FALSE(resetLine()->isVisible());

    // A basic effect chosen after a category's list: its step is added, and the list of that
    // earlier category does not come back in its place.
    QWidget* effectList = s.screen->tblFilters()->parentWidget();
    s.click(s.screen->tblFilterCategories(), s.basicRow("Add Image"));
    ASSERT_TRUE(effectList->isVisible());
    s.click(s.screen->tblFilterCategories(), s.basicRow("Black & White"));
    EXPECT_FALSE(effectList->isVisible());
    s.commit();
    EXPECT_FALSE(effectList->isVisible());
    EXPECT_EQ(AppDelegate::shared().arrayAppliedFilters.last()->parentfilterCategory, nullptr);
}
