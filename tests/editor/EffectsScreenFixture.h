#pragma once
// An effects screen over a batch of photos drawn by the test: background work and the
// screen's delays run when the test says, questions answered as the test says, the user
// defaults in a folder of the test.
#include <QCoreApplication>
#include <QDir>
#include <QKeyEvent>
#include <QListView>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtTest/QTest>
#include <array>
#include <memory>

#include "batch/BatchRunner.h"
#include "editor/OneShotScheduler.h"
#include "editor/PreviewRenderer.h"
#include "editor/ui/AdjustFilterVC.h"
#include "editor/ui/EffectDelegates.h"
#include "editor/ui/EffectTableModels.h"
#include "editor/ui/EffectsScreenController.h"
#include "platform/foundation/UserDefaults.h"
#include "records/AppDelegate.h"
#include "records/PhotoFile.h"
#include "tests/batch/BatchFixtures.h"
#include "tests/support/TestSupport.h"

namespace fxtest {

// Types the text as key presses on the widget.
inline void typeText(QWidget* w, const QString& text) {
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(w, &press);
        QCoreApplication::sendEvent(w, &release);
    }
}

// The batch run on one photo with these steps, written as PNG into the folder; the picture
// written, or a null one.
inline QImage runOnePhoto(const QString& photo, const QString& outFolder,
                          const QList<std::shared_ptr<AppliedFilter>>& steps) {
    BatchRunner runner;
    runner.startProcessingOfPhotos(batchtest::runInput({batchtest::photoAt(photo)}, batchtest::renameSettings(6),
                                                       batchtest::outputSettings(outFolder), steps));
    batchtest::waitUntil([&] { return runner.state() == BatchRunner::State::Finished; });
    const QStringList outputs = QDir(outFolder).entryList({"*.png"}, QDir::Files);
    return outputs.isEmpty() ? QImage() : QImage(QDir(outFolder).filePath(outputs.first()));
}

// Questions are answered as the test says; every one asked is kept.
struct AnsweringAlerts : EffectsAlertPresenter {
    bool answer = true;
    QList<QPair<QString, QString>> shown;
    void showAlert(int, const QString& title, const QString& message, bool,
                   std::function<void(bool, bool)> done) override {
        shown << qMakePair(title, message);
        if (done) done(answer, false);
    }
};

// An effects screen over a batch of photos drawn by the test, with background work run at
// once and the user defaults in a folder of the test.
struct Screen {
    QTemporaryDir dir;
    QStringList paths;
    std::unique_ptr<AdjustFilterVC> vc;
    EffectsScreenController* screen = nullptr;
    AnsweringAlerts alerts;
    QString previousDefaults;
    // The screen's delays, fired by the test.
    std::array<ManualOneShotScheduler*, EffectsScreenController::DelayCount> delays{};

    explicit Screen(QList<QSize> sizes = {QSize(1160, 880), QSize(900, 1200)}) {
        previousDefaults = platform::UserDefaults::standardUserDefaults().filePath();
        platform::UserDefaults::standardUserDefaults().setFilePath(dir.filePath("defaults.plist"));
        AppDelegate::shared().resetToLaunchValues();
        for (int i = 0; i < sizes.size(); ++i) {
            const QString path = dir.filePath(QString("photo%1.png").arg(i));
            testsupport::gradientImage(sizes[i].width(), sizes[i].height()).save(path);
            paths << path;
        }
        open();
    }
    ~Screen() {
        vc.reset();
        AppDelegate::shared().resetToLaunchValues();
        platform::UserDefaults::standardUserDefaults().setFilePath(previousDefaults);
    }

    // The program closed and started again on the same photos: the screen goes, the shared
    // state is a new start's and the defaults are what their file holds.
    void restart() {
        vc.reset();
        AppDelegate::shared().resetToLaunchValues();
        auto& defaults = platform::UserDefaults::standardUserDefaults();
        defaults.setFilePath(defaults.filePath());
        open();
    }

    // The batch of the photos and a screen over it, shown, with the first photo's preview.
    void open() {
        AppDelegate& app = AppDelegate::shared();
        for (const QString& path : paths) app.arraySelectedImagesToProcess << PhotoFile::initWithFileUrl(path, false);
        app.selectedImageIndex = 0;
        app.selectedImageFile = app.arraySelectedImagesToProcess.first();
        app.isSELECTED_IMAGE_CHANGED = true;
        vc = std::make_unique<AdjustFilterVC>();
        vc->previewRenderer().setExecutor(PreviewRenderer::inlineExecutor());
        vc->setScheduler(std::make_unique<ManualOneShotScheduler>());
        screen = vc->findChild<EffectsScreenController*>();
        screen->setAlertPresenter(&alerts);
        screen->setExecutor([](std::function<void()> job) { job(); });
        for (int d = 0; d < EffectsScreenController::DelayCount; ++d) {
            auto manual = std::make_unique<ManualOneShotScheduler>();
            delays[d] = manual.get();
            screen->setDelayScheduler(EffectsScreenController::Delay(d), std::move(manual));
        }
        vc->resize(1300, 760);
        vc->show();
        settle();
        // The load started while the screen was being made ran on the pool.
        screen->selectedPhotoChanged();
        settle();
    }

    static void settle() {
        QThreadPool::globalInstance()->waitForDone();
        for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    }

    void click(QListView* view, int row) {
        const QModelIndex index = view->model()->index(row, 0);
        view->scrollTo(index);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
        settle();
    }
    int categoryRow(const std::function<bool(int)>& match) {
        for (int r = 0; r < screen->categoryModel()->rowCount(); ++r)
            if (match(r)) return r;
        return -1;
    }
    int basicRow(const QString& name) {
        return categoryRow([&](int r) {
            auto rec = screen->categoryModel()->basicAt(r);
            return rec && rec->filterName == name && r > 0 && !screen->categoryModel()->rows().isHeader(r);
        });
    }
    void stepButton(int row, StepDelegate::Button button) {
        QListView* view = screen->tblAppliedFilters();
        const QRect rect = StepDelegate::buttonRect(view->visualRect(view->model()->index(row, 0)), button);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
        settle();
    }
    void commit() {
        QTest::mouseClick(vc->btnApplyFilter(), Qt::LeftButton);
        settle();
    }
    QStringList stepNames() const {
        QStringList names;
        for (const auto& s : AppDelegate::shared().arrayAppliedFilters) names << s->filterName;
        return names;
    }
};


}  // namespace fxtest
