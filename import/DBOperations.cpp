#include "import/DBOperations.h"

#include "import/SqliteReader.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NativeNames.h"
#include "platform/foundation/Paths.h"
#include "records/CommonFunc.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>

using intake::SqliteReader;
using intake::SqliteStatement;

namespace {

// The table readers of the older library know their tables by name; the SQL texts are
// fixed, so a table name only chooses among them and never enters a query.
const char* versionsQuery(const QString& table) {
    if (table.compare(u"RKVersion", Qt::CaseInsensitive) == 0)
        return "SELECT modelId, uuid, masterUuid, projectUuid, name FROM RKVersion "
               "WHERE isInTrash = 0 AND showInLibrary = 1 AND versionNumber <> 0;";
    return nullptr;
}

const char* mastersQuery(const QString& table) {
    if (table.compare(u"RKMaster", Qt::CaseInsensitive) == 0)
        return "SELECT uuid, imagePath FROM RKMaster WHERE isInTrash = 0;";
    return nullptr;
}

const char* foldersQuery(const QString& table) {
    if (table.compare(u"RKFolder", Qt::CaseInsensitive) == 0) return "SELECT uuid, name FROM RKFolder;";
    return nullptr;
}

// Opens a database file that must already exist (SQLite would otherwise make an empty
// temporary one for an empty name).
bool openable(const QString& dbPath) { return !dbPath.isEmpty() && QFileInfo(dbPath).isFile(); }

SqliteStatement prepared(SqliteReader& db, const char* sql, const QString& table) {
    if (!sql) {
        platform::log(u"no query for table %@", table);
        return {};
    }
    return db.prepare(sql);
}

// The three kinds of Photos database, told apart by the tables they hold.
enum class PhotosSchema { None, Assets, GenericAssets, Versions };

PhotosSchema probeSchema(const SqliteReader& db) {
    if (db.hasTable(QStringLiteral("ZASSET"))) return PhotosSchema::Assets;
    if (db.hasTable(QStringLiteral("ZGENERICASSET"))) return PhotosSchema::GenericAssets;
    if (db.hasTable(QStringLiteral("RKVersion")) && db.hasTable(QStringLiteral("RKMaster"))) return PhotosSchema::Versions;
    return PhotosSchema::None;
}

// Columns of every form: model id, uuid, folder under the originals (may be empty), file
// name or relative path, size, original file name, version uuid, description.
const char* const kAssetsQuery =
    "SELECT a.Z_PK, a.ZUUID, a.ZDIRECTORY, a.ZFILENAME, attr.ZORIGINALFILESIZE, attr.ZORIGINALFILENAME, "
    "a.ZUUID, attr.ZTITLE FROM ZASSET a LEFT JOIN ZADDITIONALASSETATTRIBUTES attr ON attr.ZASSET = a.Z_PK "
    "WHERE a.ZTRASHEDSTATE = 0 AND a.ZHIDDEN = 0 ORDER BY a.Z_PK;";
const char* const kGenericAssetsQuery =
    "SELECT a.Z_PK, a.ZUUID, a.ZDIRECTORY, a.ZFILENAME, attr.ZORIGINALFILESIZE, attr.ZORIGINALFILENAME, "
    "a.ZUUID, attr.ZTITLE FROM ZGENERICASSET a LEFT JOIN ZADDITIONALASSETATTRIBUTES attr ON attr.ZASSET = a.Z_PK "
    "WHERE a.ZTRASHEDSTATE = 0 AND a.ZHIDDEN = 0 ORDER BY a.Z_PK;";
const char* const kVersionsQuery =
    "SELECT v.modelId, m.uuid, '', m.imagePath, m.fileSize, m.originalFileName, v.uuid, v.name "
    "FROM RKVersion v JOIN RKMaster m ON m.uuid = v.masterUuid "
    "WHERE v.isInTrash = 0 AND v.showInLibrary = 1 AND m.isInTrash = 0 ORDER BY v.modelId;";

// The fixed folder of the library's files, spelt as it is on disk.
QString fixedFolder(const QString& packagePath, const QString& name) {
    const QString found = CommonFunc::existingPathIgnoringCase(packagePath, name);
    return found.isEmpty() ? platform::stringByAppendingPathComponent(packagePath, name) : found;
}

// root/relative for a relative path read from a library, or "" when the path would
// leave root (absolute, or climbing with "..").
QString joinInside(const QString& root, const QString& relative) {
    if (relative.isEmpty() || relative.startsWith(QLatin1Char('/'))) return {};
    const QStringList parts = relative.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.contains(QStringLiteral(".."))) return {};
    return platform::stringByAppendingPathComponent(root, parts.join(QLatin1Char('/')));
}

// The library's database as it is, into our own copy. Opened as a regular file only: a
// pipe in its place would hold the add for ever.
bool copyFile(const QString& from, const QString& to) {
    QFile::remove(to);
    QFile source;
    if (!platform::openFile(source, from)) return false;
    QSaveFile copy(to);
    if (!copy.open(QIODevice::WriteOnly)) return false;
    char buffer[1 << 16];
    for (qint64 n; (n = source.read(buffer, sizeof buffer)) != 0;) {
        if (n < 0 || copy.write(buffer, n) != n) return false;
    }
    return copy.commit();
}

}  // namespace

QList<QVariantMap> DBOperations::getAllVersionPhotos(const QString& dbPath, const QString& tableName) {
    QList<QVariantMap> versions;
    if (!openable(dbPath)) return versions;
    SqliteReader db(dbPath);
    SqliteStatement s = prepared(db, versionsQuery(tableName), tableName);
    while (s.step()) {
        const QString uuid = s.text(1), master = s.text(2), project = s.text(3);
        if (uuid.isEmpty() || master.isEmpty() || project.isEmpty()) {
            platform::log(u"Exception in getAllVersionPhotos: %@", QStringLiteral("a version without its uuids"));
            continue;
        }
        versions.append(QVariantMap{{QStringLiteral("modelId"), QString::number(s.int32(0))},
                                    {QStringLiteral("uuid"), uuid},
                                    {QStringLiteral("masterUuid"), master},
                                    {QStringLiteral("projectUuid"), project},
                                    {QStringLiteral("name"), s.text(4)}});
    }
    return versions;
}

void DBOperations::getAllMasterPhotos(const QString& dbPath, const QString& dbPrefix, const QString& tableName,
                                      QHash<QString, MasterInfo>& updateDict) {
    if (!openable(dbPath)) return;
    SqliteReader db(dbPath);
    SqliteStatement s = prepared(db, mastersQuery(tableName), tableName);
    while (s.step()) {
        const QString uuid = s.text(0);
        const QString path = joinInside(dbPrefix, s.text(1));
        if (uuid.isEmpty() || path.isEmpty()) {
            platform::log(u"Exception in getAllMasterPhotos: %@", QStringLiteral("a master without uuid or usable path"));
            continue;
        }
        updateDict.insert(uuid, MasterInfo{path, 0});
    }
}

void DBOperations::getAllFolders(const QString& dbPath, const QString& tableName,
                                 QHash<QString, FolderInfo>& updateDict) {
    if (!openable(dbPath)) return;
    SqliteReader db(dbPath);
    SqliteStatement s = prepared(db, foldersQuery(tableName), tableName);
    while (s.step()) {
        const QString uuid = s.text(0);
        if (uuid.isEmpty()) {
            platform::log(u"Exception in getAllFolders: %@", QStringLiteral("a folder without uuid"));
            continue;
        }
        QString name = s.text(1);
        if (s.isNull(1)) name = QStringLiteral("Untitled Event");
        else if (name.isEmpty()) name = QStringLiteral("untitled event");
        updateDict.insert(uuid, FolderInfo{name, 0});
    }
}

std::optional<QList<PhotosLibraryRecord>> DBOperations::getPhotoslibraryPath(const QString& packagePath) {
    return getImagesFromlibraryPath(packagePath);
}

std::optional<QList<PhotosLibraryRecord>> DBOperations::getImagesFromlibraryPath(const QString& packagePath) {
    const QString database = CommonFunc::getDataBasePathForPhotosLib(packagePath);
    QTemporaryDir folder(QDir::temp().filePath(QStringLiteral("brisko-library-XXXXXX")));
    if (!folder.isValid()) {
        platform::log(u"Error in copy Data Base %@", database);
        return std::nullopt;
    }
    const QString copy = folder.filePath(platform::lastPathComponent(database));
    if (!QFileInfo(database).isFile() || !copyFile(database, copy)) {
        platform::log(u"Error in copy Data Base %@", database);
        return std::nullopt;
    }
    // Pages not yet written back into the database live in its -wal file; the -shm file
    // indexes them. Without them the copy would miss the latest photos.
    for (const char* suffix : {"-wal", "-shm"}) {
        const QString companion = database + QLatin1String(suffix);
        if (QFileInfo(companion).isFile() && !copyFile(companion, copy + QLatin1String(suffix)))
            platform::log(u"Error in copy Data Base %@", companion);
    }
    return readPhotosDatabase(copy, packagePath);
    // The temporary folder and everything copied into it go with `folder`.
}

QList<PhotosLibraryRecord> DBOperations::readPhotosDatabase(const QString& databasePath, const QString& packagePath) {
    QList<PhotosLibraryRecord> records;
    if (!openable(databasePath)) return records;
    SqliteReader db(databasePath);
    if (!db.ok()) return records;
    const PhotosSchema schema = probeSchema(db);
    const char* sql = nullptr;
    QString root;
    switch (schema) {
    case PhotosSchema::Assets: sql = kAssetsQuery; root = fixedFolder(packagePath, QStringLiteral("originals")); break;
    case PhotosSchema::GenericAssets:
        sql = kGenericAssetsQuery;
        root = fixedFolder(packagePath, QStringLiteral("originals"));
        break;
    case PhotosSchema::Versions: sql = kVersionsQuery; root = fixedFolder(packagePath, QStringLiteral("Masters")); break;
    case PhotosSchema::None:
        platform::log(u"Exception in getImagesFromlibraryPath: %@", QStringLiteral("no photo table in ") + databasePath);
        return records;
    }
    SqliteStatement s = db.prepare(sql);
    while (s.step()) {
        const QString directory = s.text(2);
        const QString file = s.text(3);
        const QString relative = directory.isEmpty() ? file : directory + QLatin1Char('/') + file;
        const QString path = file.isEmpty() ? QString() : joinInside(root, relative);
        if (path.isEmpty()) {
            platform::log(u"Exception in getImagesFromlibraryPath: %@", QStringLiteral("a photo without a usable path"));
            continue;
        }
        PhotosLibraryRecord r;
        r.modelId = s.text(0);
        r.uuid = s.text(1);
        r.imagePath = path;
        r.fileSize = s.int64(4);
        r.originalFileName = s.text(5).isEmpty() ? platform::lastPathComponent(file) : s.text(5);
        r.uuidRKVersion = s.text(6);
        r.description = s.text(7);
        records.append(r);
    }
    return records;
}
