// The photo-library readers against packages built here: both library kinds, every query
// form, un-checkpointed -wal pages, names spelt in another case, damaged databases.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "import/DBOperations.h"
#include "import/DataFiller.h"
#include "tests/import/LibraryFixtures.h"

using namespace libfixtures;

namespace {

// Points the temporary folder at one of the test's own while it lives, so what a read
// leaves behind is seen without other tests' copies running beside it.
class PrivateTemp {
public:
    PrivateTemp() : previous_(qgetenv("TMPDIR")) { qputenv("TMPDIR", dir_.path().toUtf8()); }
    ~PrivateTemp() {
        if (previous_.isEmpty()) qunsetenv("TMPDIR");
        else qputenv("TMPDIR", previous_);
    }
    QStringList leftOver() const { return QDir(dir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden); }

private:
    QTemporaryDir dir_;
    QByteArray previous_;
};

struct OlderLibrary {
    QTemporaryDir dir;
    QString package;
    explicit OlderLibrary(const QString& archivePath = QString(), bool withArchivePath = true,
                          const QString& dbRelative = QStringLiteral("Database/apdb/Library.apdb"),
                          const QString& xmlName = QStringLiteral("AlbumData.xml"),
                          const QString& mastersName = QStringLiteral("Masters")) {
        package = dir.filePath(QStringLiteral("My Library.photolibrary"));
        writeOlderDatabase(package + "/" + dbRelative);
        writeAlbumData(package + "/" + xmlName, archivePath.isEmpty() ? package : archivePath, withArchivePath);
        QDir().mkpath(package + "/" + mastersName);
    }
};

}  // namespace

TEST(OlderLibraryReader, KeepsShownVersionsInOrderAndTakesXmlImagePaths) {
    OlderLibrary lib;
    const QStringList paths = DataFiller::imagePathsInLibrary(lib.package);
    // v1 takes its edited image from the property list, v2 and v3 their masters' paths
    // (v3's entry has a thumbnail only); the other versions are left out.
    EXPECT_EQ(paths, (QStringList{lib.package + "/Masters/2020/a-edited.jpg", lib.package + "/Masters/2020/b.jpg",
                                  lib.package + "/Masters/2020/c.jpg"}));
}

TEST(OlderLibraryReader, FolderNamesAndCounters) {
    OlderLibrary lib;
    DataFiller filler;
    filler.fetchImagesFromLib(lib.package);
    EXPECT_EQ(filler.lastScannedPhotosCount, 3);
    EXPECT_EQ(filler.dictFolderInfo.value("f1").EventName, "Holiday");
    EXPECT_EQ(filler.dictFolderInfo.value("f2").EventName, "untitled event");
    EXPECT_EQ(filler.dictFolderInfo.value("f3").EventName, "Untitled Event");
    EXPECT_EQ(filler.dictFolderInfo.value("f1").VersionCount, 1);
    EXPECT_EQ(filler.dictMasterInfo.value("m1").MasterCount, 1);
    EXPECT_FALSE(filler.dictMasterInfo.contains("m4"));  // in the trash
    EXPECT_FALSE(filler.dictMasterInfo.contains("m5"));  // would lie outside the package
}

TEST(OlderLibraryReader, MovedLibraryAndMissingArchivePath) {
    // Written on another machine at another place: paths follow the package.
    OlderLibrary moved(QStringLiteral("/Volumes/Old Disk/Pictures/Lib.photolibrary"));
    EXPECT_EQ(DataFiller::imagePathsInLibrary(moved.package).value(0), moved.package + "/Masters/2020/a-edited.jpg");

    // Same place spelt in another case: no rewrite needed, paths as they stand.
    OlderLibrary cased;
    writeAlbumData(cased.package + "/AlbumData.xml", cased.package.toUpper());
    EXPECT_EQ(DataFiller::imagePathsInLibrary(cased.package).value(0),
              cased.package.toUpper() + "/Masters/2020/a-edited.jpg");

    // No "Archive Path": logged, the read goes on with the paths unchanged (and no alert
    // can block the background queue, which this test would hang on).
    OlderLibrary noArchive(QStringLiteral("/elsewhere/Lib.photolibrary"), false);
    const QStringList paths = DataFiller::imagePathsInLibrary(noArchive.package);
    ASSERT_EQ(paths.size(), 3);
    EXPECT_EQ(paths.at(0), "/elsewhere/Lib.photolibrary/Masters/2020/a-edited.jpg");
    EXPECT_EQ(paths.at(1), noArchive.package + "/Masters/2020/b.jpg");
}

TEST(OlderLibraryReader, FixedNamesInAnotherCase) {
    OlderLibrary lib(QString(), true, QStringLiteral("database/APDB/library.APDB"), QStringLiteral("albumdata.XML"),
                     QStringLiteral("masters"));
    const QStringList paths = DataFiller::imagePathsInLibrary(lib.package);
    ASSERT_EQ(paths.size(), 3);
    EXPECT_EQ(paths.at(1), lib.package + "/masters/2020/b.jpg");

    // "Originals" in place of "Masters", in any case.
    OlderLibrary originals;
    QDir(originals.package + "/Masters").removeRecursively();
    QDir().mkpath(originals.package + "/ORIGINALS");
    EXPECT_EQ(DataFiller::imagePathsInLibrary(originals.package).value(1), originals.package + "/ORIGINALS/2020/b.jpg");
}

TEST(OlderLibraryReader, NoLibraryOrNoDatabaseGivesNothing) {
    QTemporaryDir dir;
    const QString plain = dir.filePath("Plain.photolibrary");
    QDir().mkpath(plain);
    DataFiller filler;
    EXPECT_FALSE(filler.checkValidLibAndUpdateIfAperture(plain));
    EXPECT_TRUE(DataFiller::imagePathsInLibrary(plain).isEmpty());

    // The property list without its database: nothing, and no empty database left behind.
    writeAlbumData(plain + "/ApertureData.xml", plain);
    EXPECT_TRUE(filler.checkValidLibAndUpdateIfAperture(plain));
    EXPECT_TRUE(DataFiller::imagePathsInLibrary(plain).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(plain + "/Database"));
}

TEST(OlderLibraryReader, TableNamesNeverBecomeSql) {
    OlderLibrary lib;
    const QString db = lib.package + "/Database/apdb/Library.apdb";
    const QByteArray before = testsupport::readFile(db);
    EXPECT_TRUE(DBOperations::getAllVersionPhotos(db, "RKVersion; DROP TABLE RKMaster").isEmpty());
    QHash<QString, FolderInfo> folders;
    DBOperations::getAllFolders(db, "RKFolder WHERE 0; DELETE FROM RKFolder", folders);
    EXPECT_TRUE(folders.isEmpty());
    EXPECT_EQ(testsupport::readFile(db), before);
    // The fixed tables still read, whatever the case of their names.
    EXPECT_EQ(DBOperations::getAllVersionPhotos(db, "rkversion").size(), 6);
}

TEST(OlderLibraryReader, DamagedDatabaseGivesNothingAndStaysUnchanged) {
    OlderLibrary lib;
    const QString db = lib.package + "/Database/apdb/Library.apdb";
    QByteArray bytes = testsupport::readFile(db);
    bytes.replace(0, 16, QByteArray(16, 'z'));  // no longer an SQLite header
    testsupport::writeFile(db, bytes);
    EXPECT_TRUE(DataFiller::imagePathsInLibrary(lib.package).isEmpty());
    EXPECT_EQ(testsupport::readFile(db), bytes);
}

class PhotosLibraryForms : public ::testing::TestWithParam<PhotosForm> {};

TEST_P(PhotosLibraryForms, ReadsShownPhotosInRowOrderFromAPrivateCopy) {
    QTemporaryDir dir;
    const QString package = dir.filePath("Photos Library.photoslibrary");
    const QString db = writePhotosLibrary(package, GetParam(), 3);
    const QByteArray before = testsupport::readFile(db);
    const PrivateTemp temp;

    const auto records = DBOperations::getPhotoslibraryPath(package);
    ASSERT_TRUE(records.has_value());
    ASSERT_EQ(records->size(), 3);  // the trashed photo is left out
    for (int n = 1; n <= 3; ++n) {
        const PhotosLibraryRecord& r = records->at(n - 1);
        EXPECT_EQ(r.imagePath, photosRowFile(GetParam(), package, n));
        EXPECT_EQ(r.fileSize, 1000 + n);
        EXPECT_EQ(r.originalFileName, QStringLiteral("Original %1.jpg").arg(n));
        EXPECT_EQ(r.description, QStringLiteral("title %1").arg(n));
        EXPECT_FALSE(r.uuidRKVersion.isEmpty());
    }
    EXPECT_EQ(testsupport::readFile(db), before);
    EXPECT_TRUE(temp.leftOver().isEmpty());  // the copy went with the read
}

INSTANTIATE_TEST_SUITE_P(AllForms, PhotosLibraryForms,
                         ::testing::Values(PhotosForm::Assets, PhotosForm::GenericAssets, PhotosForm::Versions));

TEST(PhotosLibraryReader, SeesPagesStillInTheWriteAheadLog) {
    QTemporaryDir dir;
    const QString package = dir.filePath("Busy.photoslibrary");
    const QString db = writePhotosLibrary(package, PhotosForm::Assets, 1);

    // Another program holds the library open in WAL mode and has not checkpointed.
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open(db.toUtf8().constData(), &writer), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(writer, "PRAGMA journal_mode=WAL;", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_wal_autocheckpoint(writer, 0);
    // Rows 1 (shown) and 2 (trashed) are in the database itself.
    const QString more = photosRow(PhotosForm::Assets, 5) + photosRow(PhotosForm::Assets, 6);
    ASSERT_EQ(sqlite3_exec(writer, more.toUtf8().constData(), nullptr, nullptr, nullptr), SQLITE_OK);
    ASSERT_GT(QFileInfo(db + "-wal").size(), 0);
    const QByteArray mainBefore = testsupport::readFile(db);

    const auto records = DBOperations::getPhotoslibraryPath(package);
    ASSERT_TRUE(records.has_value());
    ASSERT_EQ(records->size(), 3);
    EXPECT_EQ(records->at(2).imagePath, photosRowFile(PhotosForm::Assets, package, 6));
    // The library's own files were not touched: no checkpoint into its database.
    EXPECT_EQ(testsupport::readFile(db), mainBefore);
    // The writer can still write: we took no lock on the library.
    EXPECT_EQ(sqlite3_exec(writer, photosRow(PhotosForm::Assets, 7).toUtf8().constData(), nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(writer);
}

TEST(PhotosLibraryReader, FixedNamesInAnotherCase) {
    QTemporaryDir dir;
    const QString package = dir.filePath("Cased.photoslibrary");
    QString sql = photosSchema(PhotosForm::Assets) + photosRow(PhotosForm::Assets, 1);
    exec(package + "/DATABASE/photos.SQLITE", sql);
    QDir().mkpath(package + "/Originals/1");
    const auto records = DBOperations::getPhotoslibraryPath(package);
    ASSERT_TRUE(records.has_value());
    ASSERT_EQ(records->size(), 1);
    EXPECT_EQ(records->at(0).imagePath, package + "/Originals/1/IMG_1.JPG");
}

TEST(PhotosLibraryReader, FailuresGiveNoRecords) {
    QTemporaryDir dir;
    // No database at all: the copy fails.
    const QString empty = dir.filePath("Empty.photoslibrary");
    QDir().mkpath(empty + "/database");
    EXPECT_FALSE(DBOperations::getPhotoslibraryPath(empty).has_value());

    // A damaged database, a database of unknown tables, rows that climb out.
    const QString damaged = dir.filePath("Damaged.photoslibrary");
    testsupport::writeFile(damaged + "/database/photos.sqlite", QByteArray(4096, '\x7f'));
    const auto none = DBOperations::getPhotoslibraryPath(damaged);
    ASSERT_TRUE(none.has_value());
    EXPECT_TRUE(none->isEmpty());

    const QString unknown = dir.filePath("Unknown.photoslibrary");
    exec(unknown + "/database/photos.sqlite", QStringLiteral("CREATE TABLE Other (x INTEGER);"));
    EXPECT_TRUE(DBOperations::getPhotoslibraryPath(unknown).value().isEmpty());

    const QString hostile = dir.filePath("Hostile.photoslibrary");
    exec(hostile + "/database/photos.sqlite",
         photosSchema(PhotosForm::Assets) +
             "INSERT INTO ZASSET VALUES (1, 'u1', '../..', 'passwd', 0, 0);"
             "INSERT INTO ZASSET VALUES (2, 'u2', '', '/etc/passwd', 0, 0);"
             "INSERT INTO ZASSET VALUES (3, 'u3', 'x', 'ok.jpg', 0, 0);");
    const auto safe = DBOperations::getPhotoslibraryPath(hostile);
    ASSERT_EQ(safe.value().size(), 1);
    EXPECT_EQ(safe->at(0).imagePath, hostile + "/originals/x/ok.jpg");
}
