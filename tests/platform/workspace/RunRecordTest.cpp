// What a run that did not end left, cleared at the next start by what its record names:
// its temporary files, Trash entries whose file never reached the Trash, and second names
// in the Trash of originals that were never replaced. Complete entries, the user's files,
// other programs' entries, and everything of runs still going (in this process, in another,
// in another PID namespace) are left alone; a Trash entry another run took over since is
// not the dead run's any more.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QThread>
#include <QUrl>
#include <atomic>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/foundation/NativeNames.h"
#include "platform/foundation/TemporaryFiles.h"
#include "platform/workspace/RunRecord.h"
#include "platform/workspace/Trash.h"
#include "tests/support/Sanitizers.h"
#include "tests/support/TestSupport.h"

namespace {

using platform::RunRecord;
using platform::TrashEntryInProgress;
namespace trash = platform::trash;

// What the child process of these tests is to do, and where (see RunRecordChild).
const char kChildMode[] = "BRISKO_RUN_RECORD_CHILD";
const char kChildData[] = "BRISKO_RUN_RECORD_DATA";    // its data home: the Trash and the records
const char kChildPhoto[] = "BRISKO_RUN_RECORD_PHOTO";  // the photo it puts in the Trash
const char kChildPid[] = "BRISKO_RUN_RECORD_LAST_PID";  // the id before the one it is to run as

// A home whose Trash and data folder are the test's own.
struct RecordHome {
    QTemporaryDir dataHome;
    QByteArray previous = qgetenv("XDG_DATA_HOME");
    RecordHome() { qputenv("XDG_DATA_HOME", dataHome.path().toUtf8()); }
    ~RecordHome() {
        if (previous.isEmpty()) qunsetenv("XDG_DATA_HOME");
        else qputenv("XDG_DATA_HOME", previous);
    }
    QString trash(const QString& name) const { return dataHome.filePath("Trash/" + name); }
    QString records() const { return dataHome.filePath("runs"); }
    // Every file in the Trash has its information file, and holds what `original` held.
    void expectRestorable(const QString& original, const QByteArray& bytes) const {
        const QStringList files = QDir(trash("files")).entryList(QDir::Files);
        ASSERT_EQ(files.size(), 1) << files.join(' ').toStdString();
        EXPECT_EQ(testsupport::readFile(trash("files/" + files.first())), bytes);
        const QByteArray info = testsupport::readFile(trash("info/" + files.first() + ".trashinfo"));
        EXPECT_TRUE(info.contains("\nPath=" + QUrl::toPercentEncoding(original, "/") + "\n")) << info.toStdString();
        EXPECT_TRUE(info.contains("\nDeletionDate=")) << info.toStdString();
        EXPECT_EQ(QDir(trash("info")).entryList(QDir::Files | QDir::Hidden),
                  QStringList{files.first() + ".trashinfo"});
    }
};

// The id of a process that has ended.
pid_t goneProcess() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

ino_t inodeOf(const QString& path) {
    struct stat st {};
    return ::lstat(platform::encodePath(path).constData(), &st) == 0 ? st.st_ino : 0;
}

QStringList filesIn(const QString& folder) { return QDir(folder).entryList(QDir::Files | QDir::Hidden); }

// A temporary file in `folder` marked as `mark`'s.
QString temporaryOf(const QString& folder, const QByteArray& mark, const QByteArray& bytes = "half") {
    QTemporaryFile file(platform::temporaryFileTemplate(folder, mark));
    file.setAutoRemove(false);
    if (!file.open()) return {};
    file.write(bytes);
    return file.fileName();
}

// Stands between the Trash and a run's record, to act at the moments a process could be
// killed or another could step in.
struct Watching : platform::TrashEntryWatcher {
    RunRecord& record;
    std::function<void()> begins, named;
    explicit Watching(RunRecord& r) : record(r) {}
    QByteArray temporaryMark() const override { return record.temporaryMark(); }
    void temporariesIn(const QString& folder) override { record.temporariesIn(folder); }
    bool temporariesEnded(const QByteArray& mark) override { return record.temporariesEnded(mark); }
    void trashEntryBegins(const TrashEntryInProgress& entry) override {
        if (begins) begins();
        record.trashEntryBegins(entry);
    }
    void trashEntryNamed(const TrashEntryInProgress&) override {
        if (named) std::exchange(named, nullptr)();
    }
    void trashEntryEnds(const QString& infoPath) override { record.trashEntryEnds(infoPath); }
    bool takeOverFromEnded(const QString& infoPath,
                           const std::function<bool(const TrashEntryInProgress&)>& takeOver) override {
        return record.takeOverFromEnded(infoPath, takeOver);
    }
};

// What the child of these tests is to do: `mode` on `photo`, with the Trash and records of
// `data`; for as long as it lives.
struct ChildTask {
    ChildTask(const QString& mode, const QString& data, const QString& photo) {
        qputenv(kChildMode, mode.toUtf8());
        qputenv(kChildData, data.toUtf8());
        qputenv(kChildPhoto, QFile::encodeName(photo));
    }
    ~ChildTask() {
        for (const char* name : {kChildMode, kChildData, kChildPhoto}) qunsetenv(name);
    }
};

// The test program again, as the child of these tests (run by `before` when given); its
// exit status, -1 when it was killed.
int runChild(QByteArray* said, const QStringList& before = {}) {
    const QStringList command = before + QStringList{QCoreApplication::applicationFilePath(),
                                                     QStringLiteral("--gtest_filter=RunRecordChild.*")};
    return testsupport::runTool(command.first(), command.mid(1), said);
}

}  // namespace

TEST(RunRecord, WhatARunThatDidNotEndLeftIsClearedByItsRecord) {
    BRISKO_STARTS_A_PROCESS();
    RecordHome home;
    QTemporaryDir dir;
    std::shared_ptr<RunRecord> record = RunRecord::begin(home.records());
    ASSERT_NE(record, nullptr);
    const QByteArray killed = record->temporaryMark();

    // The output folder: temporary files of the killed run, of a process of an earlier
    // version that is gone, of a run going on (this process), of a run nobody knows, and
    // the user's own photo.
    const QString out = dir.filePath("out");
    record->addOutputFolder(out);
    QDir().mkpath(out);
    const QString left = temporaryOf(out, killed);
    const QString olderLeft = testsupport::writeFile(out + "/.brisko-part-" + QString::number(goneProcess()) + "-AbCdEf", "half");
    const QString own = testsupport::writeFile(out + "/own.jpg", "the user's");

    // A source moved to the Trash completely: its entry stays.
    const auto moved = trash::moveToTrash(testsupport::writeFile(dir.filePath("moved.jpg"), "1"), {}, record.get());
    ASSERT_TRUE(moved.ok) << moved.error.toStdString();
    // One whose information file was written when the run was killed, before the file went:
    // the file is still in its place, the entry leads nowhere.
    const QString stayed = testsupport::writeFile(dir.filePath("stayed.jpg"), "2");
    const auto half = trash::moveToTrash(stayed, {}, record.get());
    ASSERT_TRUE(half.ok);
    ASSERT_TRUE(QFile::rename(half.trashedPath, stayed));
    const QList<QByteArray> info = QByteArray(testsupport::readFile(half.infoPath)).split('\n');
    record->trashEntryBegins(
        {half.infoPath, half.trashedPath, stayed, info.at(1).mid(5), false, inodeOf(half.infoPath), info.at(2).mid(13)});
    // An original linked into the Trash to be replaced, killed before its replacement came:
    // the Trash's second name goes, the original stays.
    const QString kept = testsupport::writeFile(dir.filePath("kept.jpg"), "3");
    const auto linked = trash::linkIntoTrash(kept, {}, record.get());
    ASSERT_TRUE(linked.ok && linked.linked);
    // One that was replaced before the kill: the original is in the Trash only, and stays.
    const QString replaced = testsupport::writeFile(dir.filePath("replaced.jpg"), "4");
    const auto swapped = trash::linkIntoTrash(replaced, {}, record.get());
    ASSERT_TRUE(swapped.ok);
    ASSERT_EQ(::rename(QFile::encodeName(testsupport::writeFile(dir.filePath("new.jpg"), "new")).constData(),
                       QFile::encodeName(replaced).constData()),
              0);
    // Another program's entry that leads nowhere is not this run's to clear.
    const QString others = testsupport::writeFile(home.trash("info/others.jpg.trashinfo"), "[Trash Info]\nPath=/x.jpg\n");

    // A run of this process is going on meanwhile: its record and files stay.
    const std::shared_ptr<RunRecord> running = RunRecord::begin(home.records());
    ASSERT_NE(running, nullptr);
    running->addOutputFolder(out);
    const QString going = temporaryOf(out, running->temporaryMark());
    const QString unknown = temporaryOf(out, "rUnKnOwN");
    const QStringList runningFiles = filesIn(home.records()).filter(QString::fromLatin1(running->temporaryMark()));

    // The kill: the record stays, its lock is let go.
    record.reset();
    // A later run into the folder already tells the killed run's files from the others.
    EXPECT_EQ(platform::removeStaleTemporaries(
                  out, [&](const QByteArray& mark) { return running->temporariesEnded(mark); }),
              2);
    EXPECT_FALSE(QFileInfo::exists(left));
    EXPECT_FALSE(QFileInfo::exists(olderLeft));
    EXPECT_TRUE(QFileInfo::exists(going));
    EXPECT_TRUE(QFileInfo::exists(unknown));
    const QString leftAgain = temporaryOf(out, killed);

    const RunRecord::Cleared cleared = RunRecord::clearAfterUnfinishedRuns(home.records());
    EXPECT_EQ(cleared.records, 1);
    EXPECT_EQ(cleared.temporaries, 1);
    EXPECT_EQ(cleared.trashEntries, 2);
    EXPECT_FALSE(QFileInfo::exists(leftAgain));
    EXPECT_TRUE(QFileInfo::exists(going));
    EXPECT_TRUE(QFileInfo::exists(unknown));
    EXPECT_EQ(testsupport::readFile(own), "the user's");
    EXPECT_EQ(testsupport::readFile(moved.trashedPath), "1");
    EXPECT_TRUE(QFileInfo::exists(moved.infoPath));
    EXPECT_FALSE(QFileInfo::exists(half.infoPath));
    EXPECT_EQ(testsupport::readFile(stayed), "2");
    EXPECT_FALSE(QFileInfo::exists(linked.trashedPath));
    EXPECT_FALSE(QFileInfo::exists(linked.infoPath));
    EXPECT_EQ(testsupport::readFile(kept), "3");
    EXPECT_EQ(testsupport::readFile(swapped.trashedPath), "4");
    EXPECT_TRUE(QFileInfo::exists(swapped.infoPath));
    EXPECT_NE(inodeOf(swapped.trashedPath), inodeOf(replaced));
    EXPECT_TRUE(QFileInfo::exists(others));
    EXPECT_EQ(filesIn(home.records()), runningFiles);

    // A run that ends takes its record with it.
    running->end();
    EXPECT_EQ(filesIn(home.records()), QStringList());
    EXPECT_EQ(RunRecord::clearAfterUnfinishedRuns(home.records()).records, 0);
}

// A start may meet the record of an earlier version of the program, which names its
// process: cleared once that process is gone, kept while it runs.
TEST(RunRecord, RecordsOfAnEarlierVersionAreClearedOnceTheirProcessIsGone) {
    BRISKO_STARTS_A_PROCESS();
    RecordHome home;
    QTemporaryDir dir;
    const QString photo = testsupport::writeFile(dir.filePath("p.jpg"), "original");
    const auto half = trash::moveToTrash(photo, {});
    ASSERT_TRUE(half.ok);
    ASSERT_TRUE(QFile::rename(half.trashedPath, photo));
    const QByteArray recorded = QByteArray(testsupport::readFile(half.infoPath)).split('\n').at(1).mid(5);
    const QString out = dir.filePath("out");
    const pid_t gone = goneProcess();
    const QString left = testsupport::writeFile(out + "/.brisko-part-" + QString::number(gone) + "-AbCdEf", "half");
    const auto word = [](const QString& path) { return QFile::encodeName(path).toPercentEncoding("/"); };
    const QByteArray trashLine =
        "trash 0 " + word(half.infoPath) + ' ' + word(half.trashedPath) + ' ' + word(photo) + ' ' + recorded + '\n';
    QFile stat("/proc/self/stat");
    ASSERT_TRUE(stat.open(QIODevice::ReadOnly));
    const QByteArray self = stat.readAll();
    const QByteArray started = self.mid(self.lastIndexOf(')') + 2).split(' ').at(19);
    const QString ofGone = testsupport::writeFile(
        home.records() + QString("/run-%1-aBcDeF.record").arg(gone),
        "brisko run record 1\nprocess " + QByteArray::number(gone) + " 12345\nfolder " + word(out) + '\n' + trashLine);
    const QString ofThis = testsupport::writeFile(
        home.records() + QString("/run-%1-gHiJkL.record").arg(::getpid()),
        "brisko run record 1\nprocess " + QByteArray::number(::getpid()) + ' ' + started + '\n');

    const RunRecord::Cleared cleared = RunRecord::clearAfterUnfinishedRuns(home.records());
    EXPECT_EQ(cleared.records, 1);
    EXPECT_EQ(cleared.temporaries, 1);
    EXPECT_EQ(cleared.trashEntries, 1);
    EXPECT_FALSE(QFileInfo::exists(left));
    EXPECT_FALSE(QFileInfo::exists(half.infoPath));
    EXPECT_EQ(testsupport::readFile(photo), "original");
    EXPECT_FALSE(QFileInfo::exists(ofGone));
    EXPECT_TRUE(QFileInfo::exists(ofThis));
}

// A copy of the program in a sandbox of its own PID namespace, sharing the home, is in the
// middle of replacing a photo (the original linked into the Trash, the new file waiting
// beside it) when the program starts here. Its process id means nothing here; its record's
// lock says it goes on, so nothing of its run is touched, and once it has placed its file
// the original is in the Trash, restorable.
TEST(RunRecord, AStartLeavesAloneARunInAnotherPidNamespace) {
    RecordHome home;
    QTemporaryDir dir;
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("unshare"));
    if (tool.isEmpty()) GTEST_SKIP() << "no unshare tool to start a process in a PID namespace of its own";
    const QStringList sandbox{tool,     QStringLiteral("--user"),  QStringLiteral("--map-root-user"),
                              QStringLiteral("--pid"), QStringLiteral("--fork"),
                              QStringLiteral("--mount"), QStringLiteral("--mount-proc")};
    QByteArray said;
    if (testsupport::runTool(sandbox.first(), sandbox.mid(1) + QStringList{QStringLiteral("/bin/true")}, &said) != 0)
        GTEST_SKIP() << "this machine does not let a process have a PID namespace of its own: " << said.toStdString();
    // The copy runs under an id no process has here, so that nothing here can stand for it.
    QFile maxFile("/proc/sys/kernel/pid_max");
    ASSERT_TRUE(maxFile.open(QIODevice::ReadOnly));
    int id = maxFile.readAll().trimmed().toInt() - 2;
    while (id > 300 && QFileInfo::exists(QString("/proc/%1").arg(id))) --id;
    qputenv(kChildPid, QByteArray::number(id - 1));

    const QString photo = testsupport::writeFile(dir.filePath("photo.jpg"), "original");
    const QString out = dir.filePath("out");
    QDir().mkpath(out);
    const QString ready = dir.filePath("ready"), go = dir.filePath("go");
    std::atomic<int> status{-2};
    const ChildTask task("namespace", home.dataHome.path(), photo);
    const QStringList inSandbox =
        sandbox + QStringList{"/bin/sh", "-c",
                              "echo \"$" + QString(kChildPid) +
                                  "\" > /proc/sys/kernel/ns_last_pid 2>/dev/null; \"$@\"; exit $?",
                              "sh"};
    std::thread copy([&] { status = runChild(&said, inSandbox); });
    // However the test ends, the copy is let go on and waited for.
    const auto letGo = [&] {
        if (!copy.joinable()) return;
        testsupport::writeFile(go, "");
        copy.join();
        qunsetenv(kChildPid);
    };
    const auto atEnd = qScopeGuard(letGo);
    QElapsedTimer timer;
    timer.start();
    while (!QFileInfo::exists(ready) && status == -2 && timer.elapsed() < 60000 * testsupport::slowdown())
        QThread::msleep(5);
    const bool started = QFileInfo::exists(ready);
    const QString temporary = QString::fromUtf8(testsupport::readFile(ready));

    // The start here, and a later run into the same folder.
    const RunRecord::Cleared cleared = RunRecord::clearAfterUnfinishedRuns(home.records());
    const std::shared_ptr<RunRecord> later = RunRecord::begin(home.records());
    ASSERT_NE(later, nullptr);
    platform::removeStaleTemporaries(out, [&](const QByteArray& mark) { return later->temporariesEnded(mark); });
    const bool temporaryKept = QFileInfo::exists(temporary);
    letGo();
    later->end();
    ASSERT_TRUE(started) << said.toStdString();
    EXPECT_EQ(cleared.records, 0);
    EXPECT_EQ(cleared.trashEntries, 0);
    EXPECT_TRUE(temporaryKept);
    EXPECT_EQ(status, 0) << said.toStdString();
    EXPECT_EQ(testsupport::readFile(photo), "new");
    home.expectRestorable(photo, "original");
    EXPECT_EQ(filesIn(home.records()), QStringList());
}

// Two runs on the same photo: run A is killed holding its Trash entry's name before the
// photo went in; run B, still going, takes that entry over and puts the photo in the
// Trash; a start then clears after A. What B made is not A's: the original stays in the
// Trash with its information file, linked (B then replaces it) or moved.
TEST(RunRecord, AnEntryTakenOverFromAKilledRunIsNotClearedWithIt) {
    for (const bool link : {true, false}) {
        SCOPED_TRACE(link ? "replaced in place" : "moved");
        RecordHome home;
        QTemporaryDir dir;
        const QString photo = testsupport::writeFile(dir.filePath("x.jpg"), "original");
        QByteArray said;
        {
            const ChildTask task(link ? "killed when named, linking" : "killed when named, moving",
                                 home.dataHome.path(), photo);
            ASSERT_EQ(runChild(&said), -1) << said.toStdString();
        }
        ASSERT_TRUE(QFileInfo::exists(home.trash("info/x.jpg.trashinfo")));
        ASSERT_FALSE(QFileInfo::exists(home.trash("files/x.jpg")));

        const std::shared_ptr<RunRecord> b = RunRecord::begin(home.records());
        ASSERT_NE(b, nullptr);
        Watching watching(*b);
        // A start while B's entry has its name and the photo is not in the Trash yet.
        RunRecord::Cleared meanwhile;
        if (!link) watching.named = [&] { meanwhile = RunRecord::clearAfterUnfinishedRuns(home.records()); };
        const auto entry = link ? trash::linkIntoTrash(photo, {}, &watching) : trash::moveToTrash(photo, {}, &watching);
        ASSERT_TRUE(entry.ok) << entry.error.toStdString();
        if (link) {
            // A start once the photo is linked, before B puts its new file in its place.
            meanwhile = RunRecord::clearAfterUnfinishedRuns(home.records());
            ASSERT_EQ(::rename(QFile::encodeName(testsupport::writeFile(dir.filePath("new.jpg"), "new")).constData(),
                               QFile::encodeName(photo).constData()),
                      0);
            b->trashEntryEnds(entry.infoPath);
            EXPECT_EQ(testsupport::readFile(photo), "new");
        } else {
            EXPECT_FALSE(QFileInfo::exists(photo));
        }
        b->end();
        EXPECT_EQ(meanwhile.records, 1);
        EXPECT_EQ(meanwhile.trashEntries, 0);
        home.expectRestorable(photo, "original");
        EXPECT_EQ(filesIn(home.records()), QStringList());
    }
}

// Two runs going on at once move the same photo, the second while the first holds its
// entry's name: the photo goes to the Trash once, with its information file; the other
// run fails it.
TEST(RunRecord, TwoLiveRunsMovingOnePhotoLeaveOneRestorableEntry) {
    RecordHome home;
    QTemporaryDir dir;
    const QString photo = testsupport::writeFile(dir.filePath("x.jpg"), "original");
    const std::shared_ptr<RunRecord> a = RunRecord::begin(home.records());
    const std::shared_ptr<RunRecord> b = RunRecord::begin(home.records());
    ASSERT_TRUE(a && b);
    Watching first(*a);
    platform::TrashEntry second;
    first.named = [&] { second = trash::moveToTrash(photo, {}, b.get()); };
    const platform::TrashEntry entry = trash::moveToTrash(photo, {}, &first);
    EXPECT_NE(entry.ok, second.ok);
    EXPECT_FALSE(QFileInfo::exists(photo));
    home.expectRestorable(photo, "original");
    a->end();
    b->end();
}

// A run killed while its entry's information file was still a draft (before the entry was
// recorded) leaves the draft in the Trash's "info" folder: the next start removes it.
TEST(RunRecord, AKilledRunsDraftOfAnInformationFileIsClearedAtTheNextStart) {
    RecordHome home;
    QTemporaryDir dir;
    const QString photo = testsupport::writeFile(dir.filePath("x.jpg"), "original");
    QByteArray said;
    {
        const ChildTask task("killed with a draft", home.dataHome.path(), photo);
        ASSERT_EQ(runChild(&said), -1) << said.toStdString();
    }
    ASSERT_EQ(filesIn(home.trash("info")).filter("brisko-part").size(), 1) << filesIn(home.trash("info")).join(' ').toStdString();

    EXPECT_EQ(RunRecord::clearAfterUnfinishedRuns(home.records()).records, 1);
    EXPECT_EQ(filesIn(home.trash("info")), QStringList());
    EXPECT_EQ(filesIn(home.trash("files")), QStringList());
    EXPECT_EQ(testsupport::readFile(photo), "original");
    EXPECT_EQ(filesIn(home.records()), QStringList());
}

// The child's side of the tests above.
TEST(RunRecordChild, AsTheTestAsks) {
    const QString mode = qEnvironmentVariable(kChildMode);
    if (mode.isEmpty()) GTEST_SKIP() << "runs in the child process of the RunRecord tests";
    const QString data = qEnvironmentVariable(kChildData);
    qputenv("XDG_DATA_HOME", data.toUtf8());
    const QString records = data + "/runs";
    const QString photo = QFile::decodeName(qgetenv(kChildPhoto));
    const std::shared_ptr<RunRecord> record = RunRecord::begin(records);
    ASSERT_NE(record, nullptr);
    Watching watching(*record);
    const auto kill = [] { ::raise(SIGKILL); };

    if (mode == "namespace") {
        const QString folder = QFileInfo(photo).absolutePath();
        const QString out = folder + "/out";
        record->addOutputFolder(out);
        const QString temporary = temporaryOf(out, record->temporaryMark(), "new");
        ASSERT_FALSE(temporary.isEmpty());
        const auto entry = trash::linkIntoTrash(photo, {}, record.get());
        ASSERT_TRUE(entry.ok) << entry.error.toStdString();
        // Named once written: the test reads it as soon as it is there.
        ASSERT_TRUE(QFile::rename(testsupport::writeFile(folder + "/ready.part", temporary.toUtf8()), folder + "/ready"));
        QElapsedTimer timer;
        timer.start();
        while (!QFileInfo::exists(folder + "/go") && timer.elapsed() < 120000) QThread::msleep(5);
        ASSERT_TRUE(QFileInfo::exists(entry.trashedPath));
        ASSERT_EQ(::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(photo).constData()), 0)
            << "the new file was taken away";
        record->trashEntryEnds(entry.infoPath);
        record->end();
        return;
    }
    if (mode.startsWith("killed when named")) {
        watching.named = kill;
        if (mode.endsWith("linking")) trash::linkIntoTrash(photo, {}, &watching);
        else trash::moveToTrash(photo, {}, &watching);
    }
    if (mode == "killed with a draft") {
        watching.begins = kill;
        trash::moveToTrash(photo, {}, &watching);
    }
    FAIL() << "not killed";
}
