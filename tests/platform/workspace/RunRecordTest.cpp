// What a run that did not end left, cleared at the next start by what its record names:
// its temporary files, Trash entries whose file never reached the Trash, and second names
// in the Trash of originals that were never replaced. Complete entries, the user's files,
// other programs' entries and the records of runs still going are left alone.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/foundation/NativeNames.h"
#include "platform/workspace/RunRecord.h"
#include "platform/workspace/Trash.h"
#include "tests/support/Sanitizers.h"
#include "tests/support/TestSupport.h"

namespace {

using platform::RunRecord;
namespace trash = platform::trash;

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
};

// The id of a process that has ended: the run it stands for was killed.
pid_t killedRunProcess() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

ino_t inodeOf(const QString& path) {
    struct stat st {};
    return ::lstat(platform::encodePath(path).constData(), &st) == 0 ? st.st_ino : 0;
}

QStringList recordsIn(const QString& folder) { return QDir(folder).entryList(QDir::Files | QDir::Hidden); }

}  // namespace

TEST(RunRecord, WhatARunThatDidNotEndLeftIsClearedByItsRecord) {
    BRISKO_STARTS_A_PROCESS();
    RecordHome home;
    QTemporaryDir dir;
    const pid_t killed = killedRunProcess();
    const std::shared_ptr<RunRecord> record = RunRecord::begin(home.records(), killed);
    ASSERT_NE(record, nullptr);

    // The output folder: a temporary file of the killed run, one of a run going on (this
    // process), and the user's own photo.
    const QString out = dir.filePath("out");
    record->addOutputFolder(out);
    const QString left = testsupport::writeFile(out + "/.brisko-part-" + QString::number(killed) + "-AbCdEf", "half");
    const QString going = testsupport::writeFile(out + "/.brisko-part-" + QString::number(::getpid()) + "-GhIjKl", "x");
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
    const QByteArray recorded = QByteArray(testsupport::readFile(half.infoPath)).split('\n').at(1).mid(5);
    record->trashEntryBegins({half.infoPath, half.trashedPath, stayed, recorded, false});
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

    // A run of this process is going on meanwhile: its record stays.
    const std::shared_ptr<RunRecord> running = RunRecord::begin(home.records());
    ASSERT_NE(running, nullptr);
    running->addOutputFolder(out);
    ASSERT_EQ(recordsIn(home.records()).size(), 2);

    const RunRecord::Cleared cleared = RunRecord::clearAfterUnfinishedRuns(home.records());
    EXPECT_EQ(cleared.records, 1);
    EXPECT_EQ(cleared.temporaries, 1);
    EXPECT_EQ(cleared.trashEntries, 2);
    EXPECT_FALSE(QFileInfo::exists(left));
    EXPECT_TRUE(QFileInfo::exists(going));
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
    EXPECT_EQ(recordsIn(home.records()), QStringList{QFileInfo(running->path()).fileName()});

    // A run that ends takes its record with it.
    running->end();
    EXPECT_EQ(recordsIn(home.records()), QStringList());
    EXPECT_EQ(RunRecord::clearAfterUnfinishedRuns(home.records()).records, 0);
}
