#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/foundation/NativeNames.h"
#include "platform/workspace/RunRecord.h"
#include "platform/workspace/Trash.h"
#include "tests/support/ScratchVolume.h"
#include "tests/support/Sanitizers.h"
#include "tests/support/TestSupport.h"

namespace {

using platform::FileIdentity;
namespace trash = platform::trash;

// The home Trash in a folder of the test's own.
struct HomeTrash {
    QTemporaryDir dataHome;
    QByteArray previous = qgetenv("XDG_DATA_HOME");
    HomeTrash() { qputenv("XDG_DATA_HOME", dataHome.path().toUtf8()); }
    ~HomeTrash() {
        if (previous.isEmpty()) qunsetenv("XDG_DATA_HOME");
        else qputenv("XDG_DATA_HOME", previous);
    }
    QString folder() const { return dataHome.filePath("Trash"); }
};

QString uid() { return QString::number(::getuid()); }

// A file's bytes, found by the bytes of its name.
QByteArray readNative(const QString& path) {
    QByteArray bytes;
    if (FILE* f = std::fopen(platform::encodePath(path).constData(), "rb")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.append(buffer, qsizetype(n));
        std::fclose(f);
    }
    return bytes;
}

// The information file's lines by key.
QMap<QString, QByteArray> infoOf(const QString& path) {
    QMap<QString, QByteArray> keys;
    const QList<QByteArray> lines = readNative(path).split('\n');
    if (lines.isEmpty() || lines.first() != "[Trash Info]") return keys;
    for (const QByteArray& line : lines) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0) keys.insert(QString::fromLatin1(line.left(eq)), line.mid(eq + 1));
    }
    return keys;
}

// What the file manager would put back: the recorded path, made absolute for a volume's Trash.
QByteArray restorePathOf(const platform::TrashEntry& entry, const QString& top = QString()) {
    const QByteArray recorded = QByteArray::fromPercentEncoding(infoOf(entry.infoPath).value("Path"));
    return top.isEmpty() ? recorded : platform::encodePath(top) + '/' + recorded;
}

// The process id of a process that has ended.
pid_t endedProcess() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

TEST(Trash, MovesIntoTheHomeTrashWithACompleteRestorableEntry) {
    BRISKO_STARTS_A_PROCESS();
    HomeTrash home;
    QTemporaryDir dir;
    const QString source = testsupport::writeFile(dir.filePath("photo one.jpg"), "first");
    // A draft of an entry that a killed run left: not an entry, and cleared away.
    const QString draft = home.folder() + "/info/.brisko-part-" + QString::number(endedProcess()) + "-AbCdEf";
    QDir().mkpath(home.folder() + "/info");
    ::chmod(QFile::encodeName(home.folder()).constData(), 0700);
    testsupport::writeFile(draft, "[Trash Info]\nPath=/half");
    const auto entry = trash::moveToTrash(source);
    EXPECT_FALSE(QFileInfo::exists(draft));
    EXPECT_EQ(QDir(home.folder() + "/info").entryList(QDir::Files | QDir::Hidden), QStringList{"photo one.jpg.trashinfo"});
    ASSERT_TRUE(entry.ok) << entry.error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(source));
    EXPECT_EQ(entry.trashedPath, home.folder() + "/files/photo one.jpg");
    EXPECT_EQ(testsupport::readFile(entry.trashedPath), "first");
    EXPECT_EQ(entry.infoPath, home.folder() + "/info/photo one.jpg.trashinfo");
    const auto info = infoOf(entry.infoPath);
    EXPECT_EQ(info.value("Path"), QUrl::toPercentEncoding(source, "/"));
    EXPECT_EQ(restorePathOf(entry), source.toUtf8());
    const QDateTime when = QDateTime::fromString(QString::fromLatin1(info.value("DeletionDate")), "yyyy-MM-dd'T'HH:mm:ss");
    ASSERT_TRUE(when.isValid()) << info.value("DeletionDate").toStdString();
    EXPECT_LE(std::abs(when.secsTo(QDateTime::currentDateTime())), 5);
    EXPECT_EQ(QFileInfo(home.folder()).permissions() & (QFile::ReadOther | QFile::ReadGroup), 0);

    // The same name again, and a name whose "info" entry a killed run left behind for
    // another file: numbered names, nothing overwritten.
    const QString again = testsupport::writeFile(dir.filePath("photo one.jpg"), "second");
    testsupport::writeFile(home.folder() + "/info/photo one.2.jpg.trashinfo", "[Trash Info]\nPath=/elsewhere.jpg\n");
    const auto second = trash::moveToTrash(again);
    ASSERT_TRUE(second.ok) << second.error.toStdString();
    EXPECT_EQ(second.trashedPath, home.folder() + "/files/photo one.3.jpg");
    EXPECT_EQ(testsupport::readFile(entry.trashedPath), "first");
    EXPECT_EQ(testsupport::readFile(second.trashedPath), "second");
    EXPECT_EQ(restorePathOf(second), again.toUtf8());

    // The entry of this very file that a killed run named before the move is taken over by
    // a later run; one left by a maker not known to have ended keeps its name.
    const QString third = testsupport::writeFile(dir.filePath("kept.jpg"), "third");
    testsupport::writeFile(home.folder() + "/info/kept.jpg.trashinfo",
                           "[Trash Info]\nPath=" + QUrl::toPercentEncoding(third, "/") + "\nDeletionDate=2020-01-01T00:00:00\n");
    const QString records = home.dataHome.filePath("runs");
    const auto later = platform::RunRecord::begin(records);
    ASSERT_NE(later, nullptr);
    const auto numbered = trash::moveToTrash(third, {}, later.get());
    ASSERT_TRUE(numbered.ok);
    EXPECT_EQ(numbered.trashedPath, home.folder() + "/files/kept.2.jpg");
    EXPECT_EQ(infoOf(home.folder() + "/info/kept.jpg.trashinfo").value("DeletionDate"), "2020-01-01T00:00:00");

    const QString fourth = testsupport::writeFile(dir.filePath("left.jpg"), "fourth");
    {
        auto killed = platform::RunRecord::begin(records);
        ASSERT_NE(killed, nullptr);
        const auto named = trash::moveToTrash(fourth, {}, killed.get());
        ASSERT_TRUE(named.ok);
        ASSERT_TRUE(QFile::rename(named.trashedPath, fourth));
        const auto info = infoOf(named.infoPath);
        struct stat st {};
        ASSERT_EQ(::lstat(QFile::encodeName(named.infoPath).constData(), &st), 0);
        killed->trashEntryBegins(
            {named.infoPath, named.trashedPath, fourth, info.value("Path"), false, st.st_ino, info.value("DeletionDate")});
    }
    const auto taken = trash::moveToTrash(fourth, {}, later.get());
    ASSERT_TRUE(taken.ok);
    EXPECT_EQ(taken.trashedPath, home.folder() + "/files/left.jpg");
    EXPECT_EQ(restorePathOf(taken), fourth.toUtf8());
    later->end();
}

TEST(Trash, FailuresLeaveTheFileInPlaceSayWhyAndNeverHang) {
    struct Case {
        const char* what;
        // Spoils the Trash (or the file's folder) and says which folder it made read-only.
        std::function<QString(const QString& trash)> spoil;
    };
    const std::vector<Case> cases = {
        {"no Trash can be made", [](const QString& trash) {
             const QString parent = QFileInfo(trash).path();
             return parent;  // the data folder itself is read-only: no Trash folder
         }},
        {"the info folder cannot be written", [](const QString& trash) {
             QDir().mkpath(trash + "/files");
             QDir().mkpath(trash + "/info");
             return trash + "/info";
         }},
        {"the files folder cannot be written", [](const QString& trash) {
             QDir().mkpath(trash + "/files");
             QDir().mkpath(trash + "/info");
             return trash + "/files";
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HomeTrash home;
        QTemporaryDir dir, work;
        const QString source = testsupport::writeFile(dir.filePath("a.jpg"), "photo");
        const QString readOnly = c.spoil(home.folder());
        testsupport::ReadOnlyFolder guard(readOnly);
        if (!guard.ok()) GTEST_SKIP() << guard.why().toStdString();
        // An empty Trash path must never turn into the current folder.
        const QString before = QDir::currentPath();
        QDir::setCurrent(work.path());
        QElapsedTimer clock;
        clock.start();
        const auto entry = trash::moveToTrash(source);
        QDir::setCurrent(before);
        EXPECT_LT(clock.elapsed(), 2000);
        EXPECT_FALSE(entry.ok);
        EXPECT_FALSE(entry.error.isEmpty());
        EXPECT_EQ(testsupport::readFile(source), "photo");
        EXPECT_TRUE(QDir(work.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
        EXPECT_TRUE(QDir(home.folder() + "/info").entryList(QDir::Files | QDir::Hidden).isEmpty());
    }
}

TEST(Trash, FilesOnAnotherVolumeGoToThatVolumesTrash) {
    HomeTrash home;
    struct Case {
        const char* what;
        std::function<void(const QString& top)> prepare;
        QString trashOf(const QString& top) const { return top + (shared ? "/.Trash/" + uid() : "/.Trash-" + uid()); }
        bool shared;
    };
    const std::vector<Case> cases = {
        {"no shared Trash", [](const QString&) {}, false},
        {"a shared Trash with the sticky bit", [](const QString& top) {
             QDir().mkdir(top + "/.Trash");
             ::chmod(QFile::encodeName(top + "/.Trash").constData(), 01777);
         }, true},
        {"a shared Trash without the sticky bit", [](const QString& top) {
             QDir().mkdir(top + "/.Trash");
             ::chmod(QFile::encodeName(top + "/.Trash").constData(), 0777);
         }, false},
        {"a shared Trash that is a link", [](const QString& top) {
             QDir().mkdir(top + "/elsewhere");
             ::chmod(QFile::encodeName(top + "/elsewhere").constData(), 01777);
             QFile::link(top + "/elsewhere", top + "/.Trash");
         }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::ScratchVolume volume(4 << 20);
        if (!volume.ok()) GTEST_SKIP() << volume.why().toStdString();
        c.prepare(volume.path());
        const QString source = testsupport::writeFile(volume.filePath("pics/b.jpg"), "on the volume");
        const auto entry = trash::moveToTrash(source);
        ASSERT_TRUE(entry.ok) << entry.error.toStdString();
        EXPECT_EQ(entry.trashedPath, c.trashOf(volume.path()) + "/files/b.jpg");
        EXPECT_EQ(testsupport::readFile(entry.trashedPath), "on the volume");
        // Recorded relative to the volume's top.
        EXPECT_EQ(infoOf(entry.infoPath).value("Path"), "pics/b.jpg");
        EXPECT_EQ(restorePathOf(entry, volume.path()), source.toUtf8());
        EXPECT_FALSE(QFileInfo::exists(home.folder() + "/files/b.jpg"));
        EXPECT_TRUE(QDir(volume.path() + "/elsewhere").entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    }
}

TEST(Trash, AFileSwappedSinceItWasReadStaysWhereItIs) {
    HomeTrash home;
    QTemporaryDir dir;
    const QString source = testsupport::writeFile(dir.filePath("c.jpg"), "the photo that was read");
    const std::optional<FileIdentity> read = FileIdentity::of(source);
    ASSERT_TRUE(read);
    // Replaced under the same name: a new file, a longer one.
    QFile::remove(source);
    testsupport::writeFile(source, "a different photo, put there later");
    for (const bool link : {false, true}) {
        const auto entry = link ? trash::linkIntoTrash(source, read) : trash::moveToTrash(source, read);
        EXPECT_FALSE(entry.ok);
        EXPECT_FALSE(entry.error.isEmpty());
        EXPECT_EQ(testsupport::readFile(source), "a different photo, put there later");
        EXPECT_TRUE(QDir(home.folder() + "/files").entryList(QDir::Files).isEmpty());
        EXPECT_TRUE(QDir(home.folder() + "/info").entryList(QDir::Files).isEmpty());
    }
    // Unchanged, it goes.
    EXPECT_TRUE(trash::moveToTrash(source, FileIdentity::of(source)).ok);
}

TEST(Trash, LinkKeepsTheFileInPlaceUntilReplacedAndUndoTakesEitherBack) {
    HomeTrash home;
    QTemporaryDir dir;
    const QString source = testsupport::writeFile(dir.filePath("d.jpg"), "original");
    const auto linked = trash::linkIntoTrash(source, FileIdentity::of(source));
    ASSERT_TRUE(linked.ok) << linked.error.toStdString();
    EXPECT_TRUE(linked.linked);
    EXPECT_EQ(testsupport::readFile(source), "original");
    EXPECT_EQ(testsupport::readFile(linked.trashedPath), "original");
    ASSERT_TRUE(trash::undo(linked, source));
    EXPECT_FALSE(QFileInfo::exists(linked.trashedPath));
    EXPECT_FALSE(QFileInfo::exists(linked.infoPath));
    EXPECT_EQ(testsupport::readFile(source), "original");

    const auto moved = trash::moveToTrash(source);
    ASSERT_TRUE(moved.ok);
    ASSERT_TRUE(trash::undo(moved, source));
    EXPECT_EQ(testsupport::readFile(source), "original");
    EXPECT_FALSE(QFileInfo::exists(moved.infoPath));
}

TEST(Trash, LongAndNonUtf8NamesKeepTheirBytesAndFit) {
    HomeTrash home;
    QTemporaryDir dir;
    struct Case {
        QByteArray name;
        QByteArray expectedInTrash;
    };
    const QByteArray longStem(246, 'n');  // 250 bytes with ".jpg": its ".trashinfo" would not fit
    const QByteArray accents = QByteArray("\xc3\xa9").repeated(124);  // 248 bytes of two-byte letters
    const std::vector<Case> cases = {
        {longStem + ".jpg", longStem.left(241) + ".jpg"},
        {accents + ".jpg", accents.left(240) + ".jpg"},  // cut between letters, never inside one
        {QByteArray("IMG_\xe9\xff.jpg"), QByteArray("IMG_\xe9\xff.jpg")},
    };
    for (const Case& c : cases) {
        const QByteArray path = QFile::encodeName(dir.path()) + '/' + c.name;
        FILE* f = std::fopen(path.constData(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("bytes", f);
        std::fclose(f);
        const QString source = platform::decodePath(path);
        const auto entry = trash::moveToTrash(source);
        ASSERT_TRUE(entry.ok) << entry.error.toStdString();
        const QByteArray trashed = platform::encodePath(entry.trashedPath);
        EXPECT_EQ(trashed.mid(trashed.lastIndexOf('/') + 1), c.expectedInTrash);
        EXPECT_LE(platform::encodePath(QFileInfo(entry.infoPath).fileName()).size(), 255);
        EXPECT_EQ(QByteArray::fromPercentEncoding(infoOf(entry.infoPath).value("Path")), path);
        EXPECT_NE(::access(trashed.constData(), F_OK), -1);
        EXPECT_EQ(::access(path.constData(), F_OK), -1);
        // Qt cannot remove what it cannot name.
        ::unlink(trashed.constData());
        ::unlink(platform::encodePath(entry.infoPath).constData());
    }
}

}  // namespace
