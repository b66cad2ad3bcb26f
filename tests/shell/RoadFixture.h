#pragma once
// The real main window as a test walks it: user defaults in a folder of the test (the
// first-use tips seen), nothing opened on the desktop, questions answered with their first
// button.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <memory>

#include "platform/foundation/UserDefaults.h"
#include "platform/workspace/Workspace.h"
#include "records/AppDelegate.h"
#include "shell/MainWindowController.h"

namespace {

// Nothing leaves the test: no file browser, no web page; files and folders count as opened.
struct QuietWorkspace : platform::Workspace {
    QStringList asked;
    bool openURL(const QUrl& url) override { asked << url.toString(); return false; }
    bool openFile(const QString& path) override { asked << path; return true; }
    bool selectFile(const QString& path) override { asked << path; return true; }
    bool showInfo(const QString& path) override { asked << path; return true; }
};

struct Road {
    QTemporaryDir dir;
    QString previousDefaults;
    std::unique_ptr<MainWindowController> window;
    QuietWorkspace workspace;

    Road() {
        previousDefaults = platform::UserDefaults::standardUserDefaults().filePath();
        platform::UserDefaults::standardUserDefaults().setFilePath(dir.filePath("defaults.plist"));
        // A user who has seen the first-use tips.
        platform::UserDefaults::standardUserDefaults().setObject(true, QString::fromLatin1(platform::DefaultsKey::TipsIsDisable));
        AppDelegate::shared().resetToLaunchValues();
        open();
    }
    // A fresh window, as at the program's start; its questions are answered with the
    // first button ("Save" when closing).
    void open() {
        window = std::make_unique<MainWindowController>();
        window->setAsker([this](const MainWindowController::Question& q, MainWindowController::Answer answer) {
            asked << q.title;
            answer(0);
        });
        window->setOnClosed([this] { ++closed; });
        window->resize(1300, 820);
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    QStringList asked;
    int closed = 0;
    ~Road() {
        window.reset();
        QThreadPool::globalInstance()->waitForDone();
        AppDelegate::shared().resetToLaunchValues();
        platform::UserDefaults::standardUserDefaults().setFilePath(previousDefaults);
    }
    QString path(const QString& relative) const { return dir.filePath(relative); }
};

}  // namespace
