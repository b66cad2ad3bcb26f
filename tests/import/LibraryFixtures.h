#pragma once
// Photo-library packages made by the tests: SQLite databases written through the C API
// and album property lists through the property-list module.
#include <QDir>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "platform/foundation/Plist.h"
#include "tests/support/TestSupport.h"

namespace libfixtures {

// Runs SQL on a database file (created when missing); fails the test on an error.
inline void exec(const QString& dbPath, const QString& sql) {
    QDir().mkpath(QFileInfo(dbPath).absolutePath());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(dbPath.toUtf8().constData(), &db), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &error);
    const QString message = error ? QString::fromUtf8(error) : QString();
    sqlite3_free(error);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << message.toStdString();
}

// A tiny stand-in for a photo file at path (contents do not matter to the readers).
inline QString touch(const QString& path) { return testsupport::writeFile(path, "x"); }

// The database of an older library: three versions of three masters in two folders,
// plus rows each reader must leave out.
inline void writeOlderDatabase(const QString& dbPath) {
    exec(dbPath, QStringLiteral(
        "CREATE TABLE RKVersion (modelId INTEGER, uuid TEXT, masterUuid TEXT, projectUuid TEXT, name TEXT,"
        " isInTrash INTEGER, showInLibrary INTEGER, versionNumber INTEGER);"
        "CREATE TABLE RKMaster (uuid TEXT, imagePath TEXT, isInTrash INTEGER);"
        "CREATE TABLE RKFolder (uuid TEXT, name TEXT);"
        "INSERT INTO RKFolder VALUES ('f1', 'Holiday'), ('f2', ''), ('f3', NULL);"
        "INSERT INTO RKMaster VALUES ('m1', '2020/a.jpg', 0), ('m2', '2020/b.jpg', 0), ('m3', '2020/c.jpg', 0),"
        " ('m4', '2020/trashed.jpg', 1), ('m5', '../../outside.jpg', 0);"
        "INSERT INTO RKVersion VALUES"
        " (1, 'v1', 'm1', 'f1', 'a', 0, 1, 1),"   // kept, has an XML entry
        " (2, 'v2', 'm2', 'f2', 'b', 0, 1, 1),"   // kept, no XML entry: the master's path
        " (3, 'v3', 'm3', 'f3', 'c', 0, 1, 1),"   // kept
        " (4, 'v4', 'm4', 'f1', 'd', 0, 1, 1),"   // its master is in the trash
        " (5, 'v5', 'm1', 'nofolder', 'e', 0, 1, 1),"  // no folder row
        " (6, 'v6', 'm1', 'f1', 'f', 1, 1, 1),"   // in the trash
        " (7, 'v7', 'm1', 'f1', 'g', 0, 1, 0),"   // the original itself
        " (8, 'v8', 'm5', 'f1', 'h', 0, 1, 1),"   // its master climbs out of the package
        " (9, '', 'm1', 'f1', 'i', 0, 1, 1);"));  // no uuid
}

// An album property list for that database; archivePath absent when empty.
inline void writeAlbumData(const QString& xmlPath, const QString& archivePath, bool withArchivePath = true) {
    QVariantMap masterList{
        {QStringLiteral("1"), QVariantMap{{QStringLiteral("ImagePath"), archivePath + "/Masters/2020/a-edited.jpg"},
                                          {QStringLiteral("ThumbPath"), archivePath + "/Thumbs/a.jpg"}}},
        {QStringLiteral("3"), QVariantMap{{QStringLiteral("ThumbPath"), archivePath + "/Thumbs/c.jpg"}}}};
    QVariantMap root{{QStringLiteral("Master Image List"), masterList}};
    if (withArchivePath) root.insert(QStringLiteral("Archive Path"), archivePath);
    ASSERT_TRUE(platform::writePlistFile(xmlPath, root));
}

// Photos-library tables in one of the three schema forms.
enum class PhotosForm { Assets, GenericAssets, Versions };

inline QString photosSchema(PhotosForm form) {
    if (form == PhotosForm::Versions)
        return QStringLiteral(
            "CREATE TABLE RKVersion (modelId INTEGER, uuid TEXT, masterUuid TEXT, name TEXT, isInTrash INTEGER,"
            " showInLibrary INTEGER);"
            "CREATE TABLE RKMaster (uuid TEXT, imagePath TEXT, fileSize INTEGER, originalFileName TEXT,"
            " isInTrash INTEGER);");
    const QString table = form == PhotosForm::Assets ? QStringLiteral("ZASSET") : QStringLiteral("ZGENERICASSET");
    return QStringLiteral(
               "CREATE TABLE %1 (Z_PK INTEGER PRIMARY KEY, ZUUID TEXT, ZDIRECTORY TEXT, ZFILENAME TEXT,"
               " ZTRASHEDSTATE INTEGER, ZHIDDEN INTEGER);"
               "CREATE TABLE ZADDITIONALASSETATTRIBUTES (Z_PK INTEGER PRIMARY KEY, ZASSET INTEGER,"
               " ZORIGINALFILESIZE INTEGER, ZORIGINALFILENAME TEXT, ZTITLE TEXT);")
        .arg(table);
}

// Row n of a Photos library (n from 1): a shown photo "IMG_n.JPG" in folder "n".
inline QString photosRow(PhotosForm form, int n, bool trashed = false) {
    if (form == PhotosForm::Versions)
        return QStringLiteral(
                   "INSERT INTO RKMaster VALUES ('m%1', '2021/IMG_%1.JPG', %2, 'Original %1.jpg', %3);"
                   "INSERT INTO RKVersion VALUES (%1, 'v%1', 'm%1', 'title %1', %3, 1);")
            .arg(n)
            .arg(1000 + n)
            .arg(trashed ? 1 : 0);
    const QString table = form == PhotosForm::Assets ? QStringLiteral("ZASSET") : QStringLiteral("ZGENERICASSET");
    return QStringLiteral(
               "INSERT INTO %1 VALUES (%2, 'u%2', '%2', 'IMG_%2.JPG', %4, 0);"
               "INSERT INTO ZADDITIONALASSETATTRIBUTES VALUES (%2, %2, %3, 'Original %2.jpg', 'title %2');")
        .arg(table)
        .arg(n)
        .arg(1000 + n)
        .arg(trashed ? 1 : 0);
}

// Where the photo of row n lies inside the package, spelt as the reader builds it.
inline QString photosRowFile(PhotosForm form, const QString& package, int n) {
    if (form == PhotosForm::Versions) return package + QStringLiteral("/Masters/2021/IMG_%1.JPG").arg(n);
    return package + QStringLiteral("/originals/%1/IMG_%1.JPG").arg(n);
}

// A Photos library with `count` shown photos and one trashed one; returns the database.
inline QString writePhotosLibrary(const QString& package, PhotosForm form, int count) {
    const QString db = form == PhotosForm::Versions ? package + "/database/Library.apdb"
                                                     : package + "/database/Photos.sqlite";
    QString sql = photosSchema(form);
    for (int n = 1; n <= count; ++n) sql += photosRow(form, n);
    sql += photosRow(form, count + 1, true);
    exec(db, sql);
    return db;
}

}  // namespace libfixtures
