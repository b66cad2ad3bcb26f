#pragma once
// The add-photos screen driven through its widgets offscreen, with the queues, the
// thumbnail workers, the timers and the file manager standing in.
#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QFileDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "engine/Utils.h"
#include "import/ui/AddPhotosVC.h"
#include "import/ui/GridCell.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "records/AppDelegate.h"
#include "records/CommonFunc.h"
#include "records/PhotoFile.h"
#include "tests/import/IntakeFixtures.h"
#include "tests/support/TestSupport.h"

namespace addphotostest {

using intakefixtures::ManualExecutor;

struct FakeWorkers : ThumbnailWorkers {
    std::vector<Job> jobs;
    void run(Job job) override { jobs.push_back(std::move(job)); }
    void runAll() {
        auto now = std::move(jobs);
        jobs.clear();
        for (auto& job : now)
            if (auto step = job()) step();
    }
};

struct FakeTimers : ScreenTimers {
    std::map<QString, std::function<void()>> pending;
    void schedule(const QString& key, int, std::function<void()> work) override { pending[key] = std::move(work); }
    void cancel(const QString& key) override { pending.erase(key); }
    bool has(const QString& key) const { return pending.count(key) > 0; }
    void fire(const QString& key) {
        auto it = pending.find(key);
        ASSERT_NE(it, pending.end()) << key.toStdString();
        auto work = std::move(it->second);
        pending.erase(it);
        work();
    }
};

struct FakeFileManager : FileManagerService {
    QStringList calls;
    bool answers = true;  // something takes the requests
    bool revealFile(const QString& p) override { calls << "reveal " + p; return answers; }
    bool showFileInfo(const QString& p) override { calls << "info " + p; return answers; }
    bool openFile(const QString& p) override { calls << "open " + p; return answers; }
};

class AddPhotosScreenTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    ManualExecutor executor;
    FakeWorkers grid, list;
    FakeTimers timers;
    FakeFileManager files;
    platform::NotificationCenter center;
    std::unique_ptr<platform::UserDefaults> defaults;
    QStringList thumbnailsMade;
    QSet<QString> unreadableFiles;  // thumbnails of these cannot be made
    bool realThumbnails = false;     // made by the program's own reader instead
    platform::DecodeOptions reading;  // how that reader reads the pictures
    QWidget host;
    AddPhotosVC* screen = nullptr;

    void SetUp() override {
        AppDelegate::shared().resetToLaunchValues();
        CommonFunc::loadLanguageDict();
        defaults = std::make_unique<platform::UserDefaults>(dir.filePath("defaults.plist"));
        host.resize(1200, 800);
        screen = makeScreen();
        host.show();
        QApplication::processEvents();
    }
    void TearDown() override {
        delete screen;
        testsupport::removeTree(dir.path());
        AppDelegate::shared().resetToLaunchValues();
    }
    AddPhotosVC* makeScreen() {
        AddPhotosServices s;
        s.executor = &executor;
        s.gridWorkers = &grid;
        s.listWorkers = &list;
        s.timers = &timers;
        s.fileManager = &files;
        s.defaults = defaults.get();
        s.center = &center;
        s.makeThumbnail = [this](const QString& path, QSize size) {
            thumbnailsMade << path;
            if (realThumbnails) return Utils::sharedUtils().getThumbnailImageAtFilePath(path, QSizeF(size), reading);
            if (unreadableFiles.contains(path)) return QImage();
            QImage image(size, QImage::Format_RGB32);
            image.fill(QColor(int(qHash(path) % 200), 90, 140));
            return image;
        };
        auto* vc = new AddPhotosVC(&host, s);
        vc->setGeometry(host.rect());
        vc->show();
        return vc;
    }
    QString path(const QString& relative) const { return dir.filePath(relative); }
    QStringList photos(const QString& folder, int count) {
        QStringList made;
        for (int i = 0; i < count; ++i) made << intakefixtures::photo(path(QStringLiteral("%1/p%2.jpg").arg(folder).arg(i, 3, 10, QChar('0'))));
        return made;
    }
    void add(const QStringList& paths) {
        screen->intake().isAddFromSubFolderSelected = true;
        screen->intake().addPhotosFromPaths(paths);
        executor.runAll();
        QApplication::processEvents();
    }
    // The open panel answered where it shows `folder`, with nothing picked; false when no
    // panel is open.
    bool acceptOpenPanelIn(const QString& folder) {
        auto* panel = screen->findChild<QFileDialog*>("openPanel");
        if (!panel) return false;
        panel->setDirectory(folder);
        static_cast<QDialog*>(panel)->accept();
        executor.runAll();
        QApplication::processEvents();
        return true;
    }
    QStringList batchPaths() const {
        QStringList out;
        for (const auto& p : AppDelegate::shared().arraySelectedImagesToProcess) out << p->filePath;
        return out;
    }
    // The visible (not yet deleted) button of that name anywhere in the window.
    QPushButton* button(const QString& name) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (auto* b : host.findChildren<QPushButton*>(name))
            if (b->isVisible()) return b;
        return nullptr;
    }
    // The first appearance's last-session sheet answered Load, and the add it starts run.
    void loadLastSession() {
        screen->viewWillAppear();
        timers.fire("lastSession");
        QTest::mouseClick(button("btnYesOnAlert"), Qt::LeftButton);
        executor.runAll();
        QApplication::processEvents();
    }
    GridCell* tile(int index) {
        return qobject_cast<GridCell*>(screen->collectionView()->cellForItemAtIndexPath({0, index}));
    }
};

}  // namespace addphotostest
