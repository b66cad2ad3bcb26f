// The context menu's file-manager calls over a private session bus: a dbus-daemon of the
// test's own, a stand-in file manager on it that records the calls, and the fallback to
// opening the folder when no file manager answers.
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "import/ui/ScreenServices.h"
#include "platform/foundation/NativeNames.h"
#include "platform/workspace/Workspace.h"
#include "tests/support/Sanitizers.h"

namespace {

// Answers the two calls of org.freedesktop.FileManager1 that the screen makes.
class RecordingFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList calls;
public slots:
    void ShowItems(const QStringList& uris, const QString& startupId) { calls << "ShowItems " + uris.join(',') + " [" + startupId + "]"; }
    void ShowItemProperties(const QStringList& uris, const QString& startupId) {
        calls << "ShowItemProperties " + uris.join(',') + " [" + startupId + "]";
    }
    void ShowFolders(const QStringList& uris, const QString&) { calls << "ShowFolders " + uris.join(','); }
};

// The desktop's workspace, asking on the test's bus and recording what it would open.
class BusWorkspace : public platform::Workspace {
public:
    QDBusConnection bus{QStringLiteral("no bus")};
    QList<QUrl> opened;
    bool openURL(const QUrl& url) override {
        opened << url;
        return true;
    }
    bool openFile(const QString& path) override { return openURL(QUrl::fromLocalFile(path)); }

protected:
    QDBusConnection fileManagerBus() const override { return bus; }
};

class FileManagerDBusTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QProcess daemon;
    QString address;
    BusWorkspace workspace;

    void SetUp() override {
        BRISKO_STARTS_A_PROCESS();
        const QString program = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (program.isEmpty()) GTEST_SKIP() << "dbus-daemon is not installed";
        // A bus of our own: nothing can be activated on it, and nothing of the desktop's
        // session sees the calls.
        const QString config = dir.filePath("bus.conf");
        QFile f(config);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral(
                    "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                    " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                    "<busconfig><type>session</type><listen>unix:path=%1</listen><auth>EXTERNAL</auth>"
                    "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                    "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n")
                    .arg(dir.filePath("bus"))
                    .toUtf8());
        f.close();
        daemon.start(program, {"--config-file=" + config, "--nofork", "--print-address=1"});
        if (!daemon.waitForStarted(5000)) GTEST_SKIP() << "dbus-daemon did not start";
        ASSERT_TRUE(daemon.waitForReadyRead(5000));
        address = QString::fromUtf8(daemon.readLine()).trimmed();
        ASSERT_FALSE(address.isEmpty());
    }
    void TearDown() override {
        QDBusConnection::disconnectFromBus(QStringLiteral("screen"));
        QDBusConnection::disconnectFromBus(QStringLiteral("filemanager"));
        if (daemon.state() != QProcess::NotRunning) {
            daemon.terminate();
            if (!daemon.waitForFinished(3000)) daemon.kill();
        }
    }
    void connectScreen() {
        workspace.bus = QDBusConnection::connectToBus(address, QStringLiteral("screen"));
        EXPECT_TRUE(workspace.bus.isConnected());
    }
};

TEST_F(FileManagerDBusTest, RevealAndShowInfoReachTheFileManagerOnTheBus) {
    RecordingFileManager fake;
    QDBusConnection fm = QDBusConnection::connectToBus(address, QStringLiteral("filemanager"));
    ASSERT_TRUE(fm.isConnected());
    ASSERT_TRUE(fm.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &fake, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(fm.registerService(QStringLiteral("org.freedesktop.FileManager1")));

    connectScreen();
    DesktopFileManagerService files(workspace);
    const QString photo = dir.filePath("a photo #1.jpg");
    files.revealFile(photo);
    files.showFileInfo(photo);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.calls.size() == 2; }, 5000)) << fake.calls.join('\n').toStdString();
    const QString uri = QUrl::fromLocalFile(photo).toString();
    EXPECT_EQ(fake.calls, (QStringList{"ShowItems " + uri + " []", "ShowItemProperties " + uri + " []"}));
    EXPECT_TRUE(workspace.opened.isEmpty());  // the file manager answered: no fallback

    // Open goes to the default application, never to the file manager: the next call the
    // file manager sees (calls arrive in order) is the reveal made after it.
    files.openFile(photo);
    files.revealFile(photo);
    EXPECT_EQ(workspace.opened, (QList<QUrl>{QUrl::fromLocalFile(photo)}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.calls.size() >= 3; }, 5000));
    EXPECT_EQ(fake.calls.size(), 3);
    EXPECT_TRUE(fake.calls[2].startsWith("ShowItems "));

    // A name that is not UTF-8 reaches the file manager by its bytes.
    files.revealFile(platform::decodePath(QFile::encodeName(dir.path()) + "/IMG_\xe9.jpg"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.calls.size() >= 4; }, 5000));
    EXPECT_TRUE(fake.calls[3].endsWith("/IMG_%E9.jpg []")) << fake.calls[3].toStdString();
}

TEST_F(FileManagerDBusTest, WithNoFileManagerTheFolderIsOpened) {
    connectScreen();
    DesktopFileManagerService files(workspace);
    const QString photo = dir.filePath("sub/p.jpg");
    files.revealFile(photo);
    files.showFileInfo(photo);
    const QUrl folder = QUrl::fromLocalFile(dir.filePath("sub"));
    EXPECT_EQ(workspace.opened, (QList<QUrl>{folder, folder}));

    // No bus at all behaves the same.
    workspace.opened.clear();
    workspace.bus = QDBusConnection(QStringLiteral("no such connection"));
    files.revealFile(photo);
    EXPECT_EQ(workspace.opened, (QList<QUrl>{folder}));
}

}  // namespace

#include "FileManagerDBusTest.moc"
