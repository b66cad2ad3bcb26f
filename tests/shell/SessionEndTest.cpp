// The session ending under a run: the application, started in a process of its own with a
// batch of real photos on its output screen, is sent SIGTERM (as at logout) or SIGINT
// (Ctrl+C) while it writes; it stops the run as Stop and Yes would, leaves no temporary
// file, gives every photo a true status in the log it writes, and exits. Killed outright
// instead (SIGKILL), it leaves its temporary files and its record, and the next start of
// the program clears them.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QPushButton>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <csignal>
#include <cstdio>
#include <thread>

#include "batch/BatchRunner.h"
#include "batch/RenamePreviewRecomputer.h"
#include "batch/ui/ConvertFormatOrRenameView.h"
#include "batch/ui/SetupVC.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/imageio/ImageIO.h"
#include "platform/workspace/RunRecord.h"
#include "records/AppDelegate.h"
#include "records/AppliedFilter.h"
#include "records/OutputOptionSettings.h"
#include "records/PhotoFile.h"
#include "shell/AppLaunch.h"
#include "shell/MainWindowController.h"
#include "shell/TerminationRequests.h"
#include "tests/batch/BatchFixtures.h"
#include "tests/support/PackagedPictures.h"
#include "tests/support/Sanitizers.h"
#include "tests/support/TestSupport.h"

namespace {

const char kChildFolder[] = "BRISKO_SESSION_END_CHILD";   // the child's folder: its home and the photos
const char kChildMode[] = "BRISKO_SESSION_END_MODE";      // "run" or "start"
const char kChildPause[] = "BRISKO_SESSION_END_PAUSE_MS";  // how long each photo waits once encoded
constexpr int kPhotos = 8;

// What the child tells the test, one line each: "<what> <path>".
void tell(const char* what, const QString& path) {
    std::printf("%s %s\n", what, QFile::encodeName(path).constData());
    std::fflush(stdout);
}

// The child's side: the application as it starts, its output screen with the batch, the run
// started and left to go on until the session ends.
void runTheApplication(const QString& folder) {
    TerminationRequests::install();
    platform::UserDefaults::standardUserDefaults().setObject(true, QString::fromLatin1(platform::DefaultsKey::TipsIsDisable));
    MainWindowController* window = AppLaunch::applicationDidFinishLaunching();
    ASSERT_NE(window, nullptr);
    AppDelegate& app = AppDelegate::shared();
    for (int i = 0; i < kPhotos; ++i)
        app.arraySelectedImagesToProcess << PhotoFile::initWithFileUrl(folder + QStringLiteral("/src/photo%1.jpg").arg(i), false);
    auto sepia = std::make_shared<AppliedFilter>();
    sepia->filterName = "CISepiaTone";
    sepia->filterDisplayName = "Sepia";
    app.arrayAppliedFilters = {sepia};
    window->showScreen(MainWindowController::ScreenSetup);
    SetupVC* setup = window->setupVC();
    ASSERT_TRUE(batchtest::waitUntil([&] { return !setup->vwConvertFormatOrRename->recomputer()->isPending(); }));
    // Each photo waits a moment once its file is encoded, so the signal comes while files are
    // being written.
    const int pause = qEnvironmentVariableIntValue(kChildPause);
    setup->runner()->setWriterSetUp([pause](ResultWriter& writer) {
        writer.afterEncoding = [pause](const QString& temporaryPath, const QString&) {
            tell("encoded", temporaryPath);
            std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        };
    });
    // No file manager is opened on the outputs when the run ends.
    app.selectedOuputSettingObj->openOutputFolderAfterProcessing = false;
    tell("records", platform::RunRecord::recordsFolder());
    tell("output", app.selectedOuputSettingObj->outputFolderPath);
    auto* start = setup->findChild<QPushButton*>("btnStartProcess");
    ASSERT_NE(start, nullptr);
    start->click();
    ASSERT_NE(setup->startQuestion(), nullptr);
    setup->startQuestion()->button(QMessageBox::Yes)->click();
    // Until the window closes and the application quits.
    QCoreApplication::exec();
}

// A run of the application in a child process, with its own home.
struct Child {
    QTemporaryDir folder;
    QProcess process;
    QString records, output;
    QStringList encoded;
    QString home() const { return folder.filePath("home"); }

    Child(const char* mode, int pauseMs) {
        QDir().mkpath(folder.filePath("src"));
        for (int i = 0; i < kPhotos; ++i) {
            const char* photo = i % 2 ? "nature/GreenMeadow.jpg" : "nature/Garden.jpg";
            QFile::copy(testsupport::packagedPicture(testsupport::kDesktopPhotos + photo),
                        folder.filePath(QStringLiteral("src/photo%1.jpg").arg(i)));
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(kChildFolder, folder.path());
        env.insert(kChildMode, mode);
        env.insert(kChildPause, QString::number(pauseMs));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(env);
        process.setStandardErrorFile(folder.filePath("stderr.log"));
        process.start(QCoreApplication::applicationFilePath(),
                      {QStringLiteral("--gtest_filter=SessionEndChild.*")});
    }
    // Reads the child's lines until one says `what`; false when it ended or took too long.
    bool waitFor(const char* what) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 60000 * testsupport::slowdown()) {
            while (process.canReadLine()) {
                const QByteArray line = process.readLine().trimmed();
                const QString path = QFile::decodeName(line.mid(line.indexOf(' ') + 1));
                if (line.startsWith("records ")) records = path;
                if (line.startsWith("output ")) output = path;
                if (line.startsWith("encoded ")) encoded << path;
                if (line.startsWith(QByteArray(what) + ' ')) return true;
            }
            if (process.state() == QProcess::NotRunning) return false;
            process.waitForReadyRead(100);
        }
        return false;
    }
    void send(int signal) const { ::kill(pid_t(process.processId()), signal); }
    bool ended() { return process.waitForFinished(60000 * testsupport::slowdown()); }
    QString why() const { return QString::fromLocal8Bit(testsupport::readFile(folder.filePath("stderr.log")).right(3000)); }
};

QStringList temporariesIn(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral(".brisko-part-*")}, QDir::Files | QDir::Hidden | QDir::System);
}

QStringList filesIn(const QString& folder) { return QDir(folder).entryList(QDir::Files | QDir::Hidden); }

// The photos of the log's list that follows `heading`, by their source paths.
QStringList listedUnder(const QString& log, const QString& heading, const QString& row) {
    QStringList paths;
    const qsizetype from = log.indexOf(heading);
    if (from < 0) return paths;
    const qsizetype to = log.indexOf(QStringLiteral("\nPhotos "), from + heading.size());
    for (const QString& line : log.mid(from, to < 0 ? -1 : to - from).split(u'\n')) {
        const QStringList cells = line.split(u'\t');
        if (cells.size() == 3 && cells.at(1) == row) paths << cells.at(2);
    }
    return paths;
}

}  // namespace

// The child's part of the tests below; it does nothing unless a test started it.
TEST(SessionEndChild, TheApplicationAsTheTestAsks) {
    const QString folder = qEnvironmentVariable(kChildFolder);
    if (folder.isEmpty()) GTEST_SKIP() << "runs in the child process of the SessionEnd tests";
    qputenv("HOME", (folder + "/home").toUtf8());
    if (qEnvironmentVariable(kChildMode) == "start") {
        // The program started again: its start-up clears after the run that did not end.
        LaunchOptions options;
        options.openMainWindow = false;
        AppLaunch::applicationDidFinishLaunching(options);
        QThreadPool::globalInstance()->waitForDone();
        return;
    }
    runTheApplication(folder);
}

TEST(SessionEnd, ASignalledRunStopsCleanlyWritesItsSummaryAndTheApplicationExits) {
    BRISKO_STARTS_A_PROCESS();
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal == SIGTERM ? "SIGTERM" : "SIGINT");
        Child child("run", 400);
        ASSERT_TRUE(child.waitFor("encoded")) << child.why().toStdString();
        child.send(signal);
        ASSERT_TRUE(child.ended()) << child.why().toStdString();
        EXPECT_EQ(child.process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(child.process.exitCode(), 0) << child.why().toStdString();

        // Nothing half-written anywhere: not the file being encoded when the signal came.
        EXPECT_EQ(temporariesIn(child.output), QStringList());
        for (const QString& temporary : child.encoded) EXPECT_FALSE(QFileInfo::exists(temporary));
        // The run's summary log, with every photo where it belongs.
        const QStringList logs = filesIn(child.home() + "/Documents/Brisko Photos");
        ASSERT_EQ(logs.size(), 1) << child.why().toStdString();
        const QString log = QString::fromUtf8(testsupport::readFile(child.home() + "/Documents/Brisko Photos/" + logs[0]));
        EXPECT_TRUE(log.contains("Status: Process interrupted by user\n")) << log.toStdString();
        const QStringList processed = listedUnder(log, "\nPhotos Processed : ", "Processed");
        const QStringList notProcessed = listedUnder(log, "\nPhotos not Processed : ", "Not Processed");
        EXPECT_EQ(processed.size() + notProcessed.size(), kPhotos) << log.toStdString();
        EXPECT_FALSE(notProcessed.isEmpty()) << "stopped part-way";
        for (int i = 0; i < kPhotos; ++i) {
            const QString source = child.folder.filePath(QStringLiteral("src/photo%1.jpg").arg(i));
            const QString written = child.output + QStringLiteral("/photo%1.jpg").arg(i);
            SCOPED_TRACE(written.toStdString());
            if (processed.contains(source)) {
                EXPECT_FALSE(platform::decodeImage(written).image.isNull()) << "said processed: its output is whole";
            } else {
                EXPECT_TRUE(notProcessed.contains(source));
                EXPECT_FALSE(QFileInfo::exists(written)) << "said not processed: no output";
            }
        }
        // The run ended: no record of it is left to clear.
        EXPECT_EQ(filesIn(child.records), QStringList());
    }
}

TEST(SessionEnd, WhatAKilledRunLeftIsClearedAtTheNextStart) {
    BRISKO_STARTS_A_PROCESS();
    Child killed("run", 60000);
    ASSERT_TRUE(killed.waitFor("encoded")) << killed.why().toStdString();
    killed.send(SIGKILL);
    ASSERT_TRUE(killed.ended());
    EXPECT_EQ(killed.process.exitStatus(), QProcess::CrashExit);
    ASSERT_FALSE(temporariesIn(killed.output).isEmpty()) << "the kill left files half-written";
    ASSERT_EQ(filesIn(killed.records).filter(QStringLiteral(".record")).size(), 1) << "and the run's record";
    testsupport::writeFile(killed.output + "/own.jpg", "a file of the user's");

    // The next start, in the same home.
    QProcess again;
    QProcessEnvironment env = killed.process.processEnvironment();
    env.insert(kChildMode, "start");
    again.setProcessEnvironment(env);
    again.setStandardErrorFile(killed.folder.filePath("again.log"));
    again.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=SessionEndChild.*")});
    ASSERT_TRUE(again.waitForFinished(60000 * testsupport::slowdown()));
    EXPECT_EQ(again.exitCode(), 0);
    EXPECT_EQ(temporariesIn(killed.output), QStringList());
    EXPECT_TRUE(QFileInfo::exists(killed.output + "/own.jpg"));
    EXPECT_EQ(filesIn(killed.records), QStringList());
}
