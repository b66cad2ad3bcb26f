#pragma once
// Readers of the photo-library databases. Every reader opens the database read-only, runs
// fixed queries and closes it again before returning; none of them touches the interface
// (they run on the intake's background queues), failures are logged and give empty results.
//
// Callable on a plain path from anywhere (tests, fuzz targets): no shared state.
#include <QHash>
#include <QList>
#include <QString>
#include <QVariantMap>
#include <cstdint>
#include <optional>

// One master (original) file of an older library, by master uuid.
struct MasterInfo {
    QString OriginalPath;
    int MasterCount = 0;
};

// One folder (event) of an older library, by folder uuid.
struct FolderInfo {
    QString EventName;
    int VersionCount = 0;
};

// One photo of a Photos library.
struct PhotosLibraryRecord {
    QString modelId;
    QString uuid;
    QString imagePath;  // full path of the photo file inside the package
    std::int64_t fileSize = 0;
    QString originalFileName;
    QString uuidRKVersion;
    QString description;
    bool operator==(const PhotosLibraryRecord&) const = default;
};

class DBOperations {
public:
    // Versions of an older library that are shown, not in the trash and not the
    // original itself: maps with "modelId" (decimal text), "uuid", "masterUuid",
    // "projectUuid" and "name"; rows without any of the three uuids are left out.
    static QList<QVariantMap> getAllVersionPhotos(const QString& dbPath,
                                                  const QString& tableName = QStringLiteral("RKVersion"));
    // Masters not in the trash: dict[uuid] = {dbPrefix/imagePath, 0}.
    static void getAllMasterPhotos(const QString& dbPath, const QString& dbPrefix, const QString& tableName,
                                   QHash<QString, MasterInfo>& updateDict);
    // Folders: dict[uuid] = {name, 0}; an empty name reads "untitled event", a missing
    // one "Untitled Event".
    static void getAllFolders(const QString& dbPath, const QString& tableName, QHash<QString, FolderInfo>& updateDict);

    // The photos of a Photos library package in row order, read from a private copy of
    // its database (with the -wal and -shm files beside it) in a temporary folder of our
    // own, so a library in use elsewhere is neither locked nor changed, and two reads
    // never share a copy. nullopt when the database cannot be copied.
    static std::optional<QList<PhotosLibraryRecord>> getPhotoslibraryPath(const QString& packagePath);
    static std::optional<QList<PhotosLibraryRecord>> getImagesFromlibraryPath(const QString& packagePath);

    // The rows of an already private database file (the copy made above); which query
    // runs is told by the tables the database holds. Empty when none fits.
    static QList<PhotosLibraryRecord> readPhotosDatabase(const QString& databasePath, const QString& packagePath);
};
