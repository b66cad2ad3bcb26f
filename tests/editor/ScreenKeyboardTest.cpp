// The effects screen and the keyboard: a field that has the keyboard when the screen goes,
// Escape in the step editor, Tab through the screen, and what the parameter column shows
// once an effect has become a step.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTableView>
#include <functional>
#include <string>

#include "editor/ui/EffectLists.h"
#include "engine/FiltersList.h"
#include "records/FavouriteBatch.h"
#include "records/FilterRecord.h"
#include "records/SavedState.h"
#include "tests/editor/EffectsScreenFixture.h"
#include "tests/support/FocusRings.h"
#include "ui/AttachedWindow.h"

namespace {

using fxtest::Screen;

// Gives the field the keyboard in an active window, as a user's click in it would.
void focusField(QWidget* field) {
    field->window()->activateWindow();
    QApplication::setActiveWindow(field->window());
    field->setFocus(Qt::MouseFocusReason);
    Screen::settle();
}

// A key pressed where the keyboard is.
void press(Qt::Key key) {
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    QTest::keyClick(QApplication::focusWidget(), key);
    Screen::settle();
}

// Whether the list's row is drawn as the one the keyboard is on: its picture with the list
// holding the keyboard differs clearly from its picture once the keyboard is elsewhere.
bool rowShowsKeyboard(QAbstractItemView* list, int row, QWidget* elsewhere) {
    const QModelIndex index = list->model()->index(row, 0);
    if (list->currentIndex() != index || !list->hasFocus()) return false;
    const QRect r = list->visualRect(index);
    const QImage held = list->viewport()->grab(r).toImage();
    elsewhere->setFocus(Qt::OtherFocusReason);
    Screen::settle();
    if (!elsewhere->hasFocus()) return false;
    const QImage left = list->viewport()->grab(r).toImage();
    list->setFocus(Qt::OtherFocusReason);
    Screen::settle();
    return testsupport::clearlyChangedPixels(held, left) >= r.width() + r.height();
}

// The arrows (Up or Down) until the list's current row is `row`.
void arrowTo(QAbstractItemView* list, int row) {
    for (int i = 0; i < 60 && list->currentIndex().row() != row; ++i)
        press(list->currentIndex().row() < row ? Qt::Key_Down : Qt::Key_Up);
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

// The arrows walk the category list and an effect list with their row drawn; a choice keeps
// the row the keyboard is on, and an effect chosen from its list hands the keyboard to the
// first of the effect's controls.
TEST(EffectsScreenKeyboard, TheArrowsShowTheirRowAndAChoiceLeavesTheKeyboardWhereTheWorkGoesOn) {
    Screen s({QSize(800, 600)});
    QListView* categories = s.screen->tblFilterCategories();
    focusField(categories);
    // The keyboard starts on the chosen row, and the arrows pass over the headers.
    EXPECT_EQ(categories->currentIndex().row(), s.screen->selectedCategoryIndex());
    const CategoryRows rows = s.screen->categoryModel()->rows();
    const int conversion = s.categoryRow(
        [&](int r) { return rows.groupOf(r) == CategoryRows::Group::Rename && !rows.isHeader(r); });
    ASSERT_TRUE(rows.isHeader(s.screen->selectedCategoryIndex() - 1));
    press(Qt::Key_Up);
    EXPECT_EQ(categories->currentIndex().row(), conversion);
    press(Qt::Key_Home);
    EXPECT_EQ(categories->currentIndex().row(), conversion);
    const int rotate = s.basicRow("Rotate");
    arrowTo(categories, rotate);
    ASSERT_EQ(categories->currentIndex().row(), rotate);
    EXPECT_TRUE(rowShowsKeyboard(categories, rotate, s.screen->tvMetaData()));
    press(Qt::Key_Return);
    EXPECT_EQ(s.vc->state().currentFilterName, "Rotate");
    EXPECT_TRUE(categories->hasFocus());
    EXPECT_EQ(categories->currentIndex().row(), rotate) << "the chosen row stays the keyboard's";
    press(Qt::Key_Up);
    EXPECT_EQ(categories->currentIndex().row(), rotate - 1);
    EXPECT_TRUE(rowShowsKeyboard(categories, rotate - 1, s.screen->tvMetaData()));
    press(Qt::Key_Down);
    press(Qt::Key_Down);
    EXPECT_EQ(categories->currentIndex().row(), rotate + 1);

    // Home, End and the page keys reach a row that can be chosen, past the headers: Home the
    // first choice, End the last, the page keys a row further on in their direction.
    const int last = rows.count() - 1;
    ASSERT_FALSE(rows.isHeader(last));
    struct Jump {
        Qt::Key key;
        int expected;  // -1: any choice beyond the row the key started from
    };
    const Jump jumps[] = {{Qt::Key_Home, conversion}, {Qt::Key_End, last}, {Qt::Key_PageUp, -1},
                          {Qt::Key_PageUp, -1},       {Qt::Key_Home, conversion}, {Qt::Key_PageDown, -1},
                          {Qt::Key_PageDown, -1}};
    for (const Jump& j : jumps) {
        const int from = categories->currentIndex().row();
        SCOPED_TRACE(QKeySequence(j.key).toString().toStdString() + " from row " + std::to_string(from));
        press(j.key);
        const int at = categories->currentIndex().row();
        EXPECT_FALSE(rows.isHeader(at)) << at;
        if (j.expected >= 0) {
            EXPECT_EQ(at, j.expected);
            if (j.key == Qt::Key_Home) {
                EXPECT_EQ(categories->indexAt(QPoint(1, 1)).row(), 0) << "the top header in sight";
            }
        } else if (j.key == Qt::Key_PageUp) {
            EXPECT_LT(at, from == conversion ? conversion + 1 : from);
        } else {
            EXPECT_GT(at, from == last ? last - 1 : from);
        }
    }

    const int blur = s.categoryRow([&](int r) {
        auto category = s.screen->categoryModel()->fxCategoryAt(r);
        return category && category->categoryName.contains("Blur");
    });
    arrowTo(categories, blur);
    press(Qt::Key_Return);
    QListView* effects = s.screen->tblFilters();
    ASSERT_TRUE(effects->isVisible());
    ASSERT_GE(effects->model()->rowCount(), 3);
    focusField(effects);
    arrowTo(effects, 2);
    EXPECT_EQ(effects->currentIndex().row(), 2);
    press(Qt::Key_Up);
    ASSERT_EQ(effects->currentIndex().row(), 1);
    EXPECT_TRUE(rowShowsKeyboard(effects, 1, s.screen->tvMetaData()));
    const QString chosen = s.screen->effectModel()->recordAt(1)->filterName;
    press(Qt::Key_Return);
    EXPECT_EQ(s.vc->state().currentFilterName, chosen);
    EXPECT_FALSE(effects->isVisible());
    EXPECT_EQ(QApplication::focusWidget(), s.vc->valueField(0)) << "the effect's first control";
}

// Add Effect, by the keyboard, closes the panel and leaves the keyboard on the steps' list,
// on the step just made; a favourite's Add Effects leaves it on the first of its steps.
TEST(EffectsScreenKeyboard, AddingStepsLeavesTheKeyboardOnTheStepsList) {
    Screen s({QSize(800, 600)});
    QListView* steps = s.screen->tblAppliedFilters();
    for (const char* effect : {"Black & White", "RGB Adjust"}) {
        SCOPED_TRACE(effect);
        s.click(s.screen->tblFilterCategories(), s.basicRow(effect));
        focusField(s.vc->btnApplyFilter());
        press(Qt::Key_Space);
        EXPECT_EQ(s.stepNames().last(), effect);
        EXPECT_EQ(QApplication::focusWidget(), steps);
        const int made = int(s.stepNames().size()) - 1;
        EXPECT_EQ(steps->currentIndex().row(), made);
        EXPECT_TRUE(rowShowsKeyboard(steps, made, s.screen->tvMetaData()));
    }

    auto favourite = std::make_shared<FavouriteBatch>();
    favourite->name = "Warm";
    favourite->filtersArray << AppliedFilter::initWithFilterName("CISepiaTone", "Sepia", {}, QImage(), nullptr);
    ASSERT_TRUE(Favorites::addFavBatch(favourite));
    s.screen->loadCategories();
    QListView* categories = s.screen->tblFilterCategories();
    focusField(categories);
    arrowTo(categories, 1);
    press(Qt::Key_Return);
    ASSERT_TRUE(s.screen->btnAddEffectsOnFav()->isVisible());
    focusField(s.screen->btnAddEffectsOnFav());
    press(Qt::Key_Space);
    EXPECT_EQ(s.stepNames(), QStringList({"Black & White", "RGB Adjust", "CISepiaTone"}));
    EXPECT_EQ(QApplication::focusWidget(), steps);
    EXPECT_EQ(steps->currentIndex().row(), 2);
}

// Every control Tab stops at shows that it has the keyboard, whatever effect is set up, and
// in the favourite's panel.
TEST(EffectsScreenKeyboard, EveryControlOfEveryEffectShowsTheKeyboard) {
    Screen s({QSize(800, 600)});
    s.click(s.screen->tblFilterCategories(), s.basicRow("Black & White"));
    s.commit();  // the steps' list shows
    QStringList missing;
    const auto check = [&](const QString& where) {
        for (const QString& problem : testsupport::controlsWithoutFocusRing(s.vc.get()))
            if (!missing.contains(problem)) missing << where + QStringLiteral(": ") + problem;
    };
    for (const auto& record : FiltersList::sharedFiltersList().allAvailableFilters) {
        if (!record || record->isCategory || record->filterName == "Batch Conversion" || record->filterName == "Basic")
            continue;
        s.vc->selectEffectByName(record->filterName, record->filterDisplayName);
        s.settle();
        check(record->filterName);
    }
    auto favourite = std::make_shared<FavouriteBatch>();
    favourite->name = "Grey";
    favourite->filtersArray << AppliedFilter::initWithFilterName("Black & White", "Black & White", {}, QImage(), nullptr);
    ASSERT_TRUE(Favorites::addFavBatch(favourite));
    s.screen->loadCategories();
    s.click(s.screen->tblFilterCategories(), 1);
    ASSERT_TRUE(s.screen->btnAddEffectsOnFav()->isVisible());
    check("favourite");
    EXPECT_EQ(missing, QStringList{});
}

// Home, End and the page keys of the screen's lists name a row by its place; when that row is
// no choice (a header), the keyboard goes on to the nearest choice: inwards from the end Home
// or End names, onwards in a page key's direction. Each key is pressed once with every row a
// choice, to learn the row it names, and once more with that row made a header.
TEST(EffectsScreenKeyboard, KeysThatNameARowByItsPlaceGoOnPastAHeader) {
    QWidget window;
    window.resize(220, 130);
    QListView* list = makeEffectList(&window, QStringLiteral("list"));
    list->setGeometry(0, 0, 220, 130);
    QStandardItemModel model;
    for (int i = 0; i < 30; ++i) {
        auto* item = new QStandardItem(QStringLiteral("row %1").arg(i));
        item->setSizeHint(QSize(200, 20));
        model.appendRow(item);
    }
    list->setModel(&model);
    focusField(list);
    ASSERT_TRUE(list->hasFocus());
    struct Case {
        Qt::Key key;
        int from;
        int onwards;  // where the nearest choice is looked for first
    };
    const Case cases[] = {{Qt::Key_Home, 12, 1}, {Qt::Key_End, 12, -1}, {Qt::Key_PageDown, 3, 1}, {Qt::Key_PageUp, 20, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(QKeySequence(c.key).toString().toStdString());
        for (int i = 0; i < model.rowCount(); ++i) model.item(i)->setEnabled(true);
        list->setCurrentIndex(model.index(c.from, 0));
        press(c.key);
        const int named = list->currentIndex().row();
        ASSERT_NE(named, c.from);
        model.item(named)->setEnabled(false);
        list->setCurrentIndex(model.index(c.from, 0));
        press(c.key);
        EXPECT_EQ(list->currentIndex().row(), named + c.onwards);
    }
}

// A tip's check box and button are Tab stops while it shows: they show the keyboard as the
// screen's own controls do, on a tip with Next and on the last one, with Got It.
TEST(EffectsScreenKeyboard, TheTipsControlsShowTheKeyboard) {
    Screen s({QSize(800, 600)});
    for (const int tag : {3, 6}) {
        SCOPED_TRACE(tag);
        s.screen->showTipsWithTag(tag);
        Screen::settle();
        AttachedWindow* tip = s.screen->tipsPopUpWindow();
        ASSERT_TRUE(tip && tip->isVisible());
        EXPECT_EQ(testsupport::controlsWithoutFocusRing(tip), QStringList{});
        s.screen->removeTipsPopupWindow();
    }
}
