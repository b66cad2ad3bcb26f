// The add-photos screen's plain logic without the screen: the tip chain (which tip a
// timer's request shows, what a close asks for next, what is stored), the list's clicks
// and the alert sheet's questions.
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "import/AddPhotosAlerts.h"
#include "import/AddPhotosTips.h"
#include "import/ListSelection.h"

namespace {

struct Step {
    char what;  // 's' chain started, 'r' request(tag), 'c' close(tag = disable checked)
    int tag;
    int expect;  // the tip shown, or the tip asked for next; -1 for nothing
};

int run(AddPhotosTips& tips, const Step& step) {
    switch (step.what) {
    case 's': tips.chainStarted(); return -1;
    case 'r': {
        const auto tip = tips.request(step.tag);
        return tip ? tip->tag : -1;
    }
    default: return tips.closed(step.tag != 0).value_or(-1);
    }
}

}  // namespace

TEST(AddPhotosTips, ChainOrderWaitingAndSwitchingOff) {
    const struct {
        const char* name;
        std::vector<Step> steps;
        bool done, disabled;
    } cases[] = {
        {"whole chain", {{'s', 0, -1}, {'r', 0, 0}, {'c', 0, 1}, {'r', 1, 1}, {'c', 0, -1}, {'r', 2, 2}, {'c', 0, -1}}, true, false},
        {"an add before the first tip", {{'s', 0, -1}, {'r', 2, -1}, {'r', 0, 0}, {'c', 0, 1}, {'r', 1, 1}, {'c', 0, 2}, {'r', 2, 2}},
         false, false},
        {"switched off at the first tip", {{'s', 0, -1}, {'r', 0, 0}, {'c', 1, -1}, {'r', 1, -1}, {'r', 2, -1}}, false, true},
        {"tip 2 alone outside the first launch", {{'r', 2, 2}, {'c', 0, -1}}, true, false},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        platform::UserDefaults defaults(dir.filePath("d.plist"));
        AddPhotosTips tips(defaults);
        for (size_t i = 0; i < c.steps.size(); ++i) EXPECT_EQ(run(tips, c.steps[i]), c.steps[i].expect) << c.name << " step " << i;
        EXPECT_EQ(defaults.containsKey("tips_addPhotosView"), c.done) << c.name;
        EXPECT_EQ(defaults.containsKey("tips_isDisable"), c.disabled) << c.name;
    }
}

TEST(AddPhotosTips, AShownChainOrSwitchedOffTipsShowNothingAndLetTip2Go) {
    QTemporaryDir dir;
    platform::UserDefaults defaults(dir.filePath("d.plist"));
    defaults.setObject(QStringLiteral("1"), QStringLiteral("tips_addPhotosView"));
    AddPhotosTips tips(defaults);
    tips.chainStarted();
    EXPECT_FALSE(tips.request(0));
    defaults.removeObjectForKey(QStringLiteral("tips_addPhotosView"));
    // Tip 0's turn is over: tip 2 no longer waits for it.
    ASSERT_TRUE(tips.request(2));
    EXPECT_EQ(tips.currentTips(), 2);
}


TEST(ListSelection, ClicksAsTheDesktopsListsTakeThem) {
    using listselection::Click;
    const struct {
        QList<int> checked;
        int row;
        bool checkColumn;
        Qt::KeyboardModifiers modifiers;
        int anchor;
        QList<int> expected;
    } cases[] = {
        {{1, 3}, 2, false, Qt::NoModifier, 1, {2}},
        {{1, 3}, 3, false, Qt::ControlModifier, 1, {1}},
        {{1, 3}, 0, true, Qt::NoModifier, 1, {0, 1, 3}},
        {{3}, 5, false, Qt::ShiftModifier, 3, {3, 4, 5}},
        {{4}, 1, false, Qt::ShiftModifier, 4, {1, 2, 3, 4}},
        {{}, 2, false, Qt::ShiftModifier, -1, {2}},
    };
    for (const auto& c : cases) {
        const Click kind = listselection::clickKind(c.checkColumn, c.modifiers);
        EXPECT_EQ(listselection::afterClick(c.checked, c.row, kind, c.anchor), c.expected) << c.row;
    }
    EXPECT_EQ(listselection::allRows(3), (QList<int>{0, 1, 2}));
}

TEST(AddPhotosAlerts, EachSheetsButtonsReturnAndEscape) {
    using namespace addphotosalerts;
    const struct {
        Sheet sheet;
        const char* title;
        const char* buttons;  // r(emove) n(o) y(es) o(k)
        Button preferred;
        int escape;  // the button Escape stands for, -1 none
    } cases[] = {
        {removeSelected(0), "NO PHOTO TO DELETE", "o", Button::Ok, int(Button::Ok)},
        {removeSelected(1), "REMOVE SELECTED PHOTO", "ny", Button::Yes, int(Button::No)},
        {removeSelected(3), "REMOVE SELECTED PHOTOS", "ny", Button::Yes, int(Button::No)},
        {removeAll(1), "REMOVE  PHOTO", "ny", Button::Yes, int(Button::No)},
        {removeAll(2), "REMOVE ALL PHOTOS", "ny", Button::Yes, int(Button::No)},
        {notAvailable(false), "PHOTO NOT AVAILABLE", "rn", Button::Remove, int(Button::No)},
        {lastSession(), "LOAD LAST SESSION", "ny", Button::Yes, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        EXPECT_EQ(c.sheet.title, c.title);
        QString shown;
        if (c.sheet.remove) shown += 'r';
        if (c.sheet.no) shown += 'n';
        if (c.sheet.yes) shown += 'y';
        if (c.sheet.ok) shown += 'o';
        EXPECT_EQ(shown, c.buttons);
        EXPECT_EQ(c.sheet.preferred, c.preferred);
        Button escape;
        EXPECT_EQ(escapeAnswers(c.sheet.kind, &escape) ? int(escape) : -1, c.escape);
    }
    EXPECT_EQ(lastSession().noText, "Start New") << "Escape never forgets the session";
    EXPECT_TRUE(notAvailable(true).message.contains("cannot be read"));
    EXPECT_EQ(allDeleted(1).title, "PHOTO DELETED");
    EXPECT_EQ(allDeleted(2).message, "Photos no longer exists in the Source folder!");
}
