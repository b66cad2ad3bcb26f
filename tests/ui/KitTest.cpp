#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>

#include "tests/support/TestSupport.h"
#include "ui/AttachedWindow.h"
#include "ui/BarProgressIndicator.h"
#include "ui/LabeledToggleButton.h"
#include "ui/OnlyIntegerValueFormatter.h"
#include "ui/SmallViews.h"

TEST(IntegerFormatters, AcceptAndRefuseEdits) {
    struct Case { QString text; bool plain; bool withZero; };
    const std::vector<Case> cases = {
        {"", true, true},
        {"-", false, false},
        {"+", false, false},
        {"0", false, true},
        {"00", false, true},
        {"7", true, true},
        {"-12", true, true},
        {"+12", true, true},
        {"2147483647", true, true},
        {"2147483648", false, true},      // past the maximum value
        {"99999999999999999999999", false, true},  // past any integer
        {"12a", false, false},
        {"1.5", false, false},
        {" 5", false, false},
        {"5 ", false, false},
        {"١٢", false, false},  // digits of another script are not ours to parse
    };
    OnlyIntegerValueFormatter plain;
    OnlyIntegerValueFormatterWithZero withZero;
    for (const Case& c : cases) {
        EXPECT_EQ(plain.isPartialStringValid(c.text), c.plain) << c.text.toStdString();
        EXPECT_EQ(withZero.isPartialStringValid(c.text), c.withZero) << c.text.toStdString();
    }
    // Limits: one digit too many and one past the value are refused.
    plain.setMaximumLength(4);
    plain.setMaximumValue(5000);
    withZero.setMaximumLength(4);
    for (auto [text, p, z] : std::vector<std::tuple<QString, bool, bool>>{
             {"5000", true, true}, {"5001", false, true}, {"12345", false, false}, {"-999", true, true},
             {"-1000", false, false}, {"0000", false, true}}) {
        EXPECT_EQ(plain.isPartialStringValid(text), p) << text.toStdString();
        EXPECT_EQ(withZero.isPartialStringValid(text), z) << text.toStdString();
    }
    // In a line edit a refused keystroke leaves the text as it was.
    QLineEdit edit;
    edit.setValidator(&plain);
    edit.setText(QStringLiteral("500"));
    edit.setCursorPosition(3);
    edit.insert(QStringLiteral("1"));
    EXPECT_EQ(edit.text(), QStringLiteral("500"));
    edit.insert(QStringLiteral("0"));
    EXPECT_EQ(edit.text(), QStringLiteral("5000"));
}

namespace {
AttachedWindowStyle defaultStyle() { return {}; }
}  // namespace

TEST(AttachedWindowPlacement, EverySideNearTheEdges) {
    const QRectF bounds(0, 0, 800, 600);
    const QSizeF view(200, 100);
    const AttachedWindowStyle style = defaultStyle();
    // The frame is the view plus margin and border on every side plus the arrow.
    const double pad = 2 * (style.viewMargin + style.borderWidth);
    struct Case { QPointF point; int side; int edge; };
    const std::vector<Case> cases = {
        {{400, 300}, 0, 0}, {{400, 300}, 1, 1}, {{400, 300}, 2, 2}, {{400, 300}, 3, 3},
        {{400, 300}, 4, 0}, {{400, 300}, 5, 0}, {{400, 300}, 6, 2}, {{400, 300}, 7, 2},
        {{400, 300}, 8, 3}, {{400, 300}, 9, 3}, {{400, 300}, 10, 1}, {{400, 300}, 11, 1},
        // Near the edges the window slides along its arrow edge and stays inside.
        {{790, 300}, 1, 1}, {{5, 300}, 3, 3}, {{400, 590}, 0, 0}, {{400, 8}, 2, 2},
        // 12 picks a side with room: below near the top, above near the bottom, ...
        // ... and beside the point when it is too near a side edge for the arrow.
        {{400, 20}, 12, 1}, {{400, 590}, 12, 3}, {{60, 300}, 12, 1}, {{10, 300}, 12, 2}, {{790, 300}, 12, 0},
    };
    for (const Case& c : cases) {
        const AttachedPlacement p = placeAttachedWindow(view, c.point, bounds, c.side, 5, style);
        SCOPED_TRACE(testing::Message() << "side " << c.side << " at " << c.point.x() << "," << c.point.y());
        EXPECT_EQ(p.edge, c.edge);
        const bool vertical = p.edge == 0 || p.edge == 2;
        EXPECT_DOUBLE_EQ(p.frame.width(), view.width() + pad + (vertical ? style.arrowHeight : 0));
        EXPECT_DOUBLE_EQ(p.frame.height(), view.height() + pad + (vertical ? 0 : style.arrowHeight));
        // The arrow points at the point, `distance` away from it.
        const QPointF tip = p.frame.topLeft() + p.arrowTip;
        const QPointF away = c.point - tip;
        if (vertical) {
            EXPECT_NEAR(std::abs(away.x()), 5, 1e-9);
            EXPECT_NEAR(away.y(), 0, 1e-9);
        } else {
            EXPECT_NEAR(std::abs(away.y()), 5, 1e-9);
            EXPECT_NEAR(away.x(), 0, 1e-9);
        }
        // Which side of the point the window is on.
        switch (p.edge) {
        case 0: EXPECT_LE(p.frame.right(), c.point.x()); break;
        case 1: EXPECT_GE(p.frame.top(), c.point.y()); break;
        case 2: EXPECT_GE(p.frame.left(), c.point.x()); break;
        case 3: EXPECT_LE(p.frame.bottom(), c.point.y()); break;
        }
        // Along the arrow edge the window stays inside the main window, but for the
        // rounded corner beside an arrow that points very near the edge.
        const double slack = style.cornerRadius + style.borderWidth + style.arrowBaseWidth / 2;
        if (vertical) {
            EXPECT_GE(p.frame.top(), -slack);
            EXPECT_LE(p.frame.bottom(), 600 + slack);
        } else {
            EXPECT_GE(p.frame.left(), -slack);
            EXPECT_LE(p.frame.right(), 800 + slack);
        }
        if (c.side == 12) {
            EXPECT_TRUE(bounds.contains(p.frame));
        }
    }
    // The shifted sides put the window on the named end of the point.
    EXPECT_LT(placeAttachedWindow(view, {400, 300}, bounds, 4, 5, style).frame.center().y(), 300);
    EXPECT_GT(placeAttachedWindow(view, {400, 300}, bounds, 5, 5, style).frame.center().y(), 300);
    EXPECT_LT(placeAttachedWindow(view, {400, 300}, bounds, 8, 5, style).frame.center().x(), 400);
    EXPECT_GT(placeAttachedWindow(view, {400, 300}, bounds, 9, 5, style).frame.center().x(), 400);
}

TEST(AttachedWindowPlacement, CornerRadiusStaysWithinTheFrame) {
    AttachedWindowStyle style;
    style.cornerRadius = 500;
    const AttachedPlacement p = placeAttachedWindow(QSizeF(40, 30), {400, 300}, QRectF(0, 0, 800, 600), 1, 5, style);
    // Body 48 x 38; the 20-point arrow base needs the rest of the 48-point edge.
    EXPECT_LE(p.cornerRadius, (48 - 20) / 2.0);
    EXPECT_GE(p.cornerRadius, 0);
    style.hasArrow = false;
    const AttachedPlacement q = placeAttachedWindow(QSizeF(40, 30), {400, 300}, QRectF(0, 0, 800, 600), 1, 5, style);
    EXPECT_DOUBLE_EQ(q.cornerRadius, 38 / 2.0);
}

TEST(AttachedWindowBehaviour, OutsidePressClosesAndStillReachesItsTarget) {
    QWidget window;
    window.resize(600, 400);
    auto* button = new QPushButton(QStringLiteral("Target"), &window);
    button->setGeometry(450, 330, 100, 30);
    window.show();
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });

    auto* content = new QWidget;
    content->resize(120, 60);
    auto* inside = new QPushButton(content);
    inside->setGeometry(0, 0, 120, 60);
    AttachedWindow popup(content, QPoint(100, 100), button, 1, 5);
    EXPECT_EQ(popup.parentWidget(), &window);
    int closed = 0;
    QObject::connect(&popup, &AttachedWindow::closed, [&] { ++closed; });
    popup.show();
    ASSERT_TRUE(popup.isVisible());
    EXPECT_EQ(popup.backgroundColor(), QColor::fromRgbF(0.1f, 0.1f, 0.1f, 0.75f));

    auto click = [](QWidget* w) {
        const QPointF local(w->width() / 2.0, w->height() / 2.0);
        QMouseEvent press(QEvent::MouseButtonPress, local, w->mapToGlobal(local), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, local, w->mapToGlobal(local), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(w, &press);
        QApplication::sendEvent(w, &release);
    };
    // A press inside keeps it open.
    click(inside);
    EXPECT_TRUE(popup.isVisible());
    EXPECT_EQ(closed, 0);
    // A press outside closes it, and the button still gets its click.
    click(button);
    EXPECT_FALSE(popup.isVisible());
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(clicks, 1);
}

TEST(SmallComponents, ProgressToggleAndScrollSwitch) {
    BarProgressIndicator bar;
    bar.setDoubleValue(40);  // hidden: no animation, shown at once
    EXPECT_DOUBLE_EQ(bar.displayedValue(), 40);
    bar.show();
    bar.setDoubleValue(80);  // rising while shown: slides, the value is already the target
    EXPECT_DOUBLE_EQ(bar.doubleValue(), 80);
    bar.setDoubleValue(10);  // falling: at once
    EXPECT_DOUBLE_EQ(bar.displayedValue(), 10);
    bar.setDoubleValue(250);
    EXPECT_DOUBLE_EQ(bar.doubleValue(), 100);

    PointButton point;
    EXPECT_EQ(point.selectedImageName(), QStringLiteral("PointButton image active"));
    point.setButtonTitle(QStringLiteral("Center"));
    point.doInitSetup();  // running the set-up again keeps the one label
    EXPECT_EQ(point.findChildren<QLabel*>().size(), 1);
    EXPECT_EQ(point.buttonTitle(), QStringLiteral("Center"));
    point.setState(5);
    EXPECT_EQ(point.state(), 1);
    point.setState(0);
    EXPECT_EQ(point.state(), 0);

    DisableScrollView scroll;
    EXPECT_TRUE(scroll.scrollingEnabled());
}

namespace {
struct MouseLog : MouseDownViewDelegate {
    QStringList calls;
    void mouseDown(QMouseEvent*, MouseDownView*) override { calls << "down"; }
    void mouseDoubbleClicked(QMouseEvent*, MouseDownView*) override { calls << "double"; }
    void mouseDragged(QMouseEvent*, MouseDownView*) override { calls << "drag"; }
    void mouseUp(QMouseEvent*, MouseDownView*) override { calls << "up"; }
    void rightMouseDown(QMouseEvent*) override { calls << "right"; }
};
struct RowLog : ButtonTableCellViewDelegate {
    std::vector<std::pair<QPoint, int>> taps;
    void btnInfoTappedAtLocationInTableView(const QPoint& at, int row) override { taps.push_back({at, row}); }
};
}  // namespace

TEST(SmallComponents, MouseViewsAndTableCellsReportToTheirDelegates) {
    MouseDownView view;
    view.resize(100, 100);
    MouseLog log;
    view.setDelegate(&log);
    const QPointF p(10, 10);
    auto send = [&](QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QMouseEvent e(type, p, view.mapToGlobal(p), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(&view, &e);
    };
    // A double click arrives as press, release, double-click, release.
    send(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton);
    send(QEvent::MouseButtonDblClick, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton);
    send(QEvent::MouseMove, Qt::NoButton, Qt::NoButton);  // hovering is no drag
    send(QEvent::MouseButtonPress, Qt::RightButton, Qt::RightButton);
    EXPECT_EQ(log.calls, (QStringList{"down", "drag", "up", "double", "up", "right"}));

    // The info cell of a table finds its own row.
    QWidget top;
    auto* holder = new QWidget(&top);
    holder->setGeometry(20, 30, 400, 300);
    QStandardItemModel model(5, 2);
    auto* table = new QTableView(holder);
    table->setGeometry(5, 5, 380, 280);
    table->setModel(&model);
    RowLog rows;
    std::vector<ButtonTableCellView*> cells;
    for (int r = 0; r < 5; ++r) {
        auto* cell = new ButtonTableCellView;
        cell->setDelegate(&rows);
        table->setIndexWidget(model.index(r, 1), cell);
        cells.push_back(cell);
    }
    top.resize(500, 400);
    top.show();
    QApplication::processEvents();
    cells[3]->cellButton()->click();
    ASSERT_EQ(rows.taps.size(), 1u);
    EXPECT_EQ(rows.taps[0].second, 3);
    EXPECT_EQ(rows.taps[0].first, cells[3]->cellButton()->mapTo(&top, QPoint(0, 0)));
}



#include "ui/ShortAlert.h"

TEST(ShortAlert, SaysItsTitleOnceAndIsAsWideAsItsText) {
    QWidget window;
    window.resize(900, 600);
    window.show();
    const QString longLine = QString("A message much longer than any line a person would read in one go, ").repeated(3);
    struct Case { const char* name; QString message; bool wraps; };
    const std::vector<Case> cases = {
        {"short", "No program was found to open \u201cBrisko Photos\u201d.\n/home/user/Pictures/Brisko Photos", false},
        {"long", longLine, true},
        {"markup is text", "<b>IMG_1.jpg</b> & <i>co</i>", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QMessageBox* box = makeShortAlert(&window, "alert", QMessageBox::NoIcon, "CANNOT OPEN", c.message);
        box->addButton(QMessageBox::Ok);
        box->open();
        QApplication::processEvents();
        EXPECT_TRUE(box->windowTitle().isEmpty()) << "the title is said in the box only";
        EXPECT_EQ(box->text(), "CANNOT OPEN");
        auto* label = box->findChild<QLabel*>("qt_msgbox_informativelabel");
        ASSERT_NE(label, nullptr);
        const QFontMetrics fm(label->font());
        int widest = 0;
        for (const QString& line : c.message.split('\n')) widest = std::max(widest, fm.horizontalAdvance(line));
        if (c.wraps) {
            EXPECT_LE(label->width(), kShortAlertMaxTextWidth + 40);
            EXPECT_GT(label->heightForWidth(label->width()), label->heightForWidth(100000));
        } else {
            EXPECT_GE(label->width(), widest);
            EXPECT_EQ(label->heightForWidth(label->width()), label->heightForWidth(100000)) << "no line is wrapped";
            EXPECT_EQ(label->text(), c.message);
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
        }
        box->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

#include "ui/WindowSizeHold.h"

TEST(WindowSizeHold, AHeldWindowKeepsItsSizeWithinTheScreenAndAMaximisedOneIsLeftAlone) {
    const QRect screen(0, 38, 1600, 962);  // 1600 x 1000 less a panel
    const QMargins frame(1, 24, 1, 1);
    struct Case {
        const char* what;
        QSize size;
        Qt::WindowStates state;
        std::optional<QSize> held;
    };
    const Case cases[] = {
        {"normal", QSize(1280, 800), Qt::WindowNoState, QSize(1280, 800)},
        {"maximised", QSize(1600, 937), Qt::WindowMaximized, std::nullopt},
        {"full screen", QSize(1600, 1000), Qt::WindowFullScreen, std::nullopt},
        {"taller than the screen", QSize(1400, 981), Qt::WindowNoState, QSize(1400, 937)},
        {"wider than the screen", QSize(1700, 800), Qt::WindowNoState, QSize(1598, 800)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WindowSizeHold::heldSize({c.size, frame, c.state, screen}), c.held) << c.what;
    }
    // With no screen known, the window keeps its size.
    EXPECT_EQ(WindowSizeHold::heldSize({QSize(900, 700), frame, Qt::WindowNoState, QRect()}), QSize(900, 700));

    // Holding fixes the size; releasing gives back the window's own limits, once.
    QWidget window;
    window.setMinimumSize(300, 200);
    window.resize(800, 600);
    WindowSizeHold hold;
    hold.hold(&window);
    hold.hold(&window);
    EXPECT_TRUE(hold.isHolding());
    EXPECT_EQ(window.maximumSize(), window.minimumSize());
    hold.release();
    EXPECT_FALSE(hold.isHolding());
    EXPECT_EQ(window.minimumSize(), QSize(300, 200));
    EXPECT_EQ(window.maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
}
