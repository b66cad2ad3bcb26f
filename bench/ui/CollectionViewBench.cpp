// How the collection view's cost grows with its item count: reloading, selecting the
// last item with scrolling, and scrolling from top to bottom a page at a time should
// cost the same for a hundred items and for a million, because only the visible items
// ever get cells.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QScrollBar>

#include "ui/CollectionView.h"

namespace {

struct Source : CollectionViewDataSource, CollectionViewGridLayoutDelegate {
    int count = 0;
    int numberOfItemsInSection(CollectionView*, int) override { return count; }
    CollectionViewCell* cellForItemAtIndexPath(CollectionView* v, const IndexPath& p) override {
        CollectionViewCell* c = v->dequeueReusableCellWithIdentifier(QStringLiteral("CELL"), p.item);
        c->setNameValue(QString::number(p.item));
        return c;
    }
    std::optional<QSizeF> sizeForItemInCollectionView(CollectionView*) override { return QSizeF(220, 300); }
};

struct Fixture {
    Source source;
    CollectionView view;
    explicit Fixture(int count) {
        source.count = count;
        auto* layout = new CollectionViewGridLayout;
        layout->setDelegate(&source);
        layout->setVerticalSpacing(10);
        view.setCollectionViewLayout(layout);
        view.registerClass<CollectionViewCell>(QStringLiteral("CELL"));
        view.setDataSource(&source);
        view.resize(1000, 700);
        view.show();
        view.reloadData();
    }
};

void BM_Reload(benchmark::State& state) {
    Fixture f(int(state.range(0)));
    for (auto _ : state) f.view.reloadData();
}

void BM_SelectLastWithScrolling(benchmark::State& state) {
    Fixture f(int(state.range(0)));
    const IndexPath last = IndexPath::indexPathForItem(int(state.range(0)) - 1, 0);
    const IndexPath first = IndexPath::indexPathForItem(0, 0);
    for (auto _ : state) {
        f.view.selectItemAtIndexPath(last, CollectionView::ScrollMiddle, false);
        f.view.selectItemAtIndexPath(first, CollectionView::ScrollTop, false);
    }
}

// From the top to the very end and back: every visible cell is replaced twice.
void BM_ScrollTopToBottom(benchmark::State& state) {
    Fixture f(int(state.range(0)));
    QScrollBar* bar = f.view.verticalScrollBar();
    for (auto _ : state) {
        bar->setValue(bar->maximum());
        bar->setValue(0);
    }
    state.counters["cells made"] = f.view.cellsCreated();
}

// Ten half-page steps down from the top and back up, as a wheel would scroll.
void BM_ScrollByHalfPages(benchmark::State& state) {
    Fixture f(int(state.range(0)));
    QScrollBar* bar = f.view.verticalScrollBar();
    const int step = f.view.viewport()->height() / 2;
    for (auto _ : state) {
        for (int i = 1; i <= 10; ++i) bar->setValue(i * step);
        for (int i = 9; i >= 0; --i) bar->setValue(i * step);
    }
    state.counters["cells made"] = f.view.cellsCreated();
}

}  // namespace

BENCHMARK(BM_Reload)->Arg(100)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SelectLastWithScrolling)->Arg(100)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScrollTopToBottom)->Arg(100)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScrollByHalfPages)->Arg(100)->Arg(1000000)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
