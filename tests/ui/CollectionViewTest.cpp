#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QScrollBar>
#include <QToolButton>
#include <QWheelEvent>

#include "platform/foundation/NotificationCenter.h"
#include "tests/support/TestSupport.h"
#include "ui/CollectionView.h"

namespace {

// A screen-like data source: one section of `count` items, each cell named after its item.
struct Source : CollectionViewDataSource, CollectionViewDelegate, CollectionViewGridLayoutDelegate {
    int count = 0;
    QSizeF itemSize{100, 100};
    std::set<int> keepSelected;  // items the delegate refuses to deselect
    std::vector<IndexPath> clicked, rightClicked, infoTapped;
    std::vector<QPoint> infoPoints;
    int numberOfItemsInSection(CollectionView*, int) override { return count; }
    CollectionViewCell* cellForItemAtIndexPath(CollectionView* v, const IndexPath& p) override {
        CollectionViewCell* c = v->dequeueReusableCellWithIdentifier(QStringLiteral("CELL"), p.item);
        c->setNameValue(QString::number(p.item));
        return c;
    }
    std::optional<bool> shouldDeselectItemAtIndexPath(CollectionView*, const IndexPath& p) override {
        return keepSelected.count(p.item) == 0;
    }
    void didSelectItemAtIndexPath(CollectionView*, const IndexPath& p) override { clicked.push_back(p); }
    void didRightClickItemAtIndexPath(CollectionView*, const IndexPath& p, QMouseEvent*) override {
        rightClicked.push_back(p);
    }
    void btnInfoTappedAtLocationInCollectionView(const QPoint& at, const IndexPath& p) override {
        infoPoints.push_back(at);
        infoTapped.push_back(p);
    }
    std::optional<QSizeF> sizeForItemInCollectionView(CollectionView*) override { return itemSize; }
};

struct Grid {
    Source source;
    CollectionView view;
    explicit Grid(int count, QSize viewport = QSize(380, 300), double spacing = 10) {
        source.count = count;
        auto* layout = new CollectionViewGridLayout;
        layout->setDelegate(&source);
        layout->setVerticalSpacing(spacing);
        view.setCollectionViewLayout(layout);
        view.registerClass<CollectionViewCell>(QStringLiteral("CELL"));
        view.setDataSource(&source);
        view.setDelegate(&source);
        view.resize(viewport);
        view.show();
        view.reloadData();
    }
    std::vector<int> selectedItems() const {
        std::vector<int> out;
        for (const IndexPath& p : view.indexPathsForSelectedItems()) out.push_back(p.item);
        return out;
    }
};

IndexPath at(int item) { return IndexPath::indexPathForItem(item, 0); }

}  // namespace

TEST(CollectionViewSelection, TypesCombineAsTheUserExpects) {
    struct Step { int item; int type; std::vector<int> expected; };
    struct Case { const char* name; std::vector<Step> steps; std::set<int> keep; };
    const std::vector<Case> cases = {
        {"single replaces", {{3, 0, {3}}, {5, 0, {5}}}, {}},
        {"extending runs from the first selected", {{2, 0, {2}}, {6, 1, {2, 3, 4, 5, 6}}}, {}},
        {"extending backwards", {{6, 0, {6}}, {3, 1, {3, 4, 5, 6}}}, {}},
        {"extending keeps earlier picks", {{1, 0, {1}}, {8, 2, {1, 8}}, {4, 1, {1, 2, 3, 4, 8}}}, {}},
        {"extending from nothing", {{4, 1, {4}}}, {}},
        {"multiple toggles", {{1, 2, {1}}, {4, 2, {1, 4}}, {1, 2, {4}}}, {}},
        {"delegate may hold an item", {{1, 0, {1}}, {5, 0, {1, 5}}, {1, 2, {1, 5}}}, {1}},
        {"items past the end do nothing", {{2, 0, {2}}, {40, 0, {2}}, {-1, 0, {2}}}, {}},
    };
    for (const Case& c : cases) {
        Grid g(20);
        g.source.keepSelected = c.keep;
        for (const Step& s : c.steps) {
            g.view.selectItemAtIndexPath(s.item < 0 ? IndexPath{} : at(s.item), CollectionView::ScrollNone, false, s.type);
            EXPECT_EQ(g.selectedItems(), s.expected) << c.name << " after item " << s.item;
        }
        // Visible cells show the same selection as the view reports.
        for (CollectionViewCell* cell : g.view.visibleCells())
            EXPECT_EQ(cell->isSelected(), std::count(c.steps.back().expected.begin(), c.steps.back().expected.end(),
                                                     cell->indexPath().item) == 1)
                << c.name;
        g.view.deselectAllItems();
        EXPECT_TRUE(g.view.indexPathsForSelectedItems().empty());
    }
}

TEST(CollectionViewSelection, ScrollPositionsPlaceTheItem) {
    // 3 columns of 100 whatever the scroll bar takes; rows every 110 points from y = 10.
    // Item 30 sits in row 10: top 1110, bottom 1210. Viewport 300 high.
    struct Case { int position; int startAt; int expected; };
    const std::vector<Case> cases = {
        {CollectionView::ScrollNone, 0, 0},
        {CollectionView::ScrollNearest, 0, 1210 - 300},
        {CollectionView::ScrollNearest, 2000, 1110},
        {CollectionView::ScrollNearest, 1000, 1000},  // already in view: stays
        {CollectionView::ScrollTop, 0, 1110},
        {CollectionView::ScrollMiddle, 0, 1160 - 150},
        {CollectionView::ScrollBottom, 0, 1210 - 300},
    };
    for (const Case& c : cases) {
        Grid g(300);
        g.view.scrollToPoint(QPoint(0, c.startAt));
        g.view.selectItemAtIndexPath(at(30), c.position, false);
        EXPECT_EQ(g.view.verticalScrollBar()->value(), c.expected) << "position " << c.position;
        if (c.position != CollectionView::ScrollNone) {
            EXPECT_NE(g.view.cellForItemAtIndexPath(at(30)), nullptr);
        }
    }
    // Near the end the view cannot scroll past its content.
    Grid g(300);
    g.view.selectItemAtIndexPath(at(299), CollectionView::ScrollTop, false);
    EXPECT_EQ(g.view.verticalScrollBar()->value(), g.view.verticalScrollBar()->maximum());
    EXPECT_NE(g.view.cellForItemAtIndexPath(at(299)), nullptr);
}

TEST(CollectionViewCells, VisibleItemsFollowScrollingAndReusedCellsAreNeverStale) {
    Grid g(1000);
    auto visible = g.view.indexPathsForVisibleItems();
    ASSERT_FALSE(visible.empty());
    EXPECT_EQ(visible.front(), at(0));
    // Rows 0..2 meet a 300-point viewport: 9 items.
    EXPECT_EQ(visible.size(), 9u);
    const int made = g.view.cellsCreated();

    for (int y : {55, 1000, 20000, 5000, 0, 36000}) {
        g.view.scrollToPoint(QPoint(0, y));
        const int top = g.view.verticalScrollBar()->value();
        visible = g.view.indexPathsForVisibleItems();
        ASSERT_FALSE(visible.empty());
        for (const IndexPath& p : visible) {
            const QRectF f = g.view.rectForItemAtIndexPath(p);
            EXPECT_TRUE(f.bottom() > top && f.top() < top + 300) << "item " << p.item << " at " << y;
            CollectionViewCell* cell = g.view.cellForItemAtIndexPath(p);
            ASSERT_NE(cell, nullptr);
            EXPECT_EQ(cell->cellIndex(), p.item);
            EXPECT_EQ(cell->nameValue(), QString::number(p.item));
            EXPECT_TRUE(cell->isVisible());
        }
        EXPECT_EQ(g.view.cellForItemAtIndexPath(at(y < 20000 ? 999 : 0)), nullptr);
    }
    // Scrolling reused cells instead of making new ones.
    EXPECT_LE(g.view.cellsCreated(), made + 6);

    // A reload after the data shrinks shows only the items that still exist.
    g.view.selectItemAtIndexPath(at(990), CollectionView::ScrollNone, false);
    g.source.count = 5;
    g.view.reloadData();
    EXPECT_TRUE(g.view.indexPathsForSelectedItems().empty());
    g.view.scrollToPoint(QPoint(0, 0));
    EXPECT_EQ(g.view.indexPathsForVisibleItems().size(), 5u);
}

TEST(CollectionViewCells, HorizontalStripShowsOneRow) {
    Source source;
    source.count = 50;
    CollectionView view;
    auto* layout = new CollectionViewHorizontalLayout;
    layout->setItemMargin(5);
    view.setCollectionViewLayout(layout);
    view.registerClass<CollectionViewCell>(QStringLiteral("CELL"));
    view.setDataSource(&source);
    view.resize(500, 110);
    view.show();
    view.reloadData();
    // Square items as high as the strip less its two margins, a margin apart.
    const double side = view.viewport()->height() - 10, pitch = side + 5;
    const int width = view.viewport()->width();
    int expected = 0;
    while (5 + expected * pitch < width) ++expected;
    std::vector<IndexPath> visible = view.indexPathsForVisibleItems();
    ASSERT_EQ(int(visible.size()), expected);
    for (const IndexPath& p : visible) {
        EXPECT_EQ(p.item, &p - &visible[0]);
        EXPECT_DOUBLE_EQ(view.rectForItemAtIndexPath(p).top(), 5);
        EXPECT_DOUBLE_EQ(view.rectForItemAtIndexPath(p).width(), side);
    }
    view.selectItemAtIndexPath(at(40), CollectionView::ScrollNearest, false);
    ASSERT_NE(view.cellForItemAtIndexPath(at(40)), nullptr);
    EXPECT_EQ(view.horizontalScrollBar()->value(), int(std::lround(41 * pitch - width)));  // right edge at the end
}

TEST(CollectionViewEvents, TheOrdinaryWheelScrollsAStripSideways) {
    Source source;
    source.count = 50;
    CollectionView view;
    view.setCollectionViewLayout(new CollectionViewHorizontalLayout);
    view.registerClass<CollectionViewCell>(QStringLiteral("CELL"));
    view.setDataSource(&source);
    view.resize(500, 110);
    view.show();
    view.reloadData();
    ASSERT_EQ(view.horizontalScrollBar()->value(), 0);
    // One notch of a mouse wheel turned towards the user, over the strip.
    const QPointF at(100, 50);
    QWheelEvent down(at, view.viewport()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                     Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(view.viewport(), &down);
    const int moved = view.horizontalScrollBar()->value();
    EXPECT_GT(moved, 0);
    QWheelEvent up(at, view.viewport()->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                   Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(view.viewport(), &up);
    EXPECT_LT(view.horizontalScrollBar()->value(), moved);
}

TEST(CollectionViewEvents, ClicksSelectAndReportBoundsChanges) {
    Grid g(100);
    int boundsChanges = 0, posted = 0;
    QObject::connect(g.view.contentView(), &ClipView::boundsDidChange, [&] { ++boundsChanges; });
    g.view.contentView()->setPostsBoundsChangedNotifications(true);
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        ClipView::kBoundsDidChangeNotification, [&](const platform::Notification&) { ++posted; },
        platform::DeliverOn::PostingThread, nullptr, g.view.contentView());
    g.view.scrollToPoint(QPoint(0, 220));
    platform::NotificationCenter::defaultCenter().removeObserver(token);
    EXPECT_GE(boundsChanges, 1);
    EXPECT_EQ(posted, boundsChanges);
    EXPECT_EQ(g.view.contentView()->bounds().top(), 220);

    // A click on the tile of item 6 (row 2 starts at y 230): selects it and tells the delegate.
    const QRectF f = g.view.rectForItemAtIndexPath(at(6));
    const QPointF inViewport = f.center() - QPointF(0, 220);
    QMouseEvent press(QEvent::MouseButtonPress, inViewport, g.view.viewport()->mapToGlobal(inViewport),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(g.view.viewport(), &press);
    ASSERT_EQ(g.source.clicked.size(), 1u);
    EXPECT_EQ(g.source.clicked[0], at(6));
    EXPECT_EQ(g.selectedItems(), std::vector<int>{6});

    // A right click reports its item and leaves the selection alone.
    QMouseEvent right(QEvent::MouseButtonPress, inViewport, g.view.viewport()->mapToGlobal(inViewport),
                      Qt::RightButton, Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(g.view.viewport(), &right);
    ASSERT_EQ(g.source.rightClicked.size(), 1u);
    EXPECT_EQ(g.source.rightClicked[0], at(6));
    EXPECT_EQ(g.selectedItems(), std::vector<int>{6});
}

TEST(CollectionViewEvents, InfoButtonReportsItsItemAndPlace) {
    // The point is given in the view two levels above the collection view.
    QWidget top;
    auto* middle = new QWidget(&top);
    middle->setGeometry(30, 40, 500, 400);
    Source source;
    source.count = 20;
    auto* view = new CollectionView(middle);
    view->setGeometry(10, 20, 380, 300);
    auto* layout = new CollectionViewGridLayout;
    layout->setDelegate(&source);
    view->setCollectionViewLayout(layout);
    view->registerClass<CollectionViewCell>(QStringLiteral("CELL"));
    view->setDataSource(&source);
    view->setDelegate(&source);
    top.resize(600, 500);
    top.show();
    view->reloadData();
    view->scrollToPoint(QPoint(0, 150));
    CollectionViewCell* cell = view->cellForItemAtIndexPath(at(4));
    ASSERT_NE(cell, nullptr);
    cell->infoButton()->click();
    ASSERT_EQ(source.infoTapped.size(), 1u);
    EXPECT_EQ(source.infoTapped[0], at(4));
    EXPECT_EQ(source.infoPoints[0], cell->infoButton()->mapTo(&top, QPoint(0, 0)));
}
