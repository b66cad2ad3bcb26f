#pragma once
// Reader of an older-kind photo library package: one that holds "AlbumData.xml" (or
// "ApertureData.xml") beside the database "Database/apdb/Library.apdb" with the tables
// RKVersion, RKMaster and RKFolder. The result is one image path per shown version, in
// version order. Names inside the package are found ignoring case: libraries copied from
// another machine spell them differently. One object per read; background queues only.
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include "import/DBOperations.h"

class DataFiller {
public:
    QString libPath;
    QString dbPath;   // set only when the database exists
    QString xmlFile;  // set only when one of the property lists exists
    QStringList arrImagePaths;
    QHash<QString, MasterInfo> dictMasterInfo;
    QHash<QString, FolderInfo> dictFolderInfo;
    bool isApertureLibrary = false;  // keys the XML master list by "uuid" instead of "modelId"
    int lastScannedPhotosCount = 0;
    bool iPhotoLibraryChanged = false;

    void setLibPath(const QString& path) { libPath = path; }
    // True when the package holds "AlbumData.xml", else "ApertureData.xml"; sets xmlFile.
    bool checkValidLibAndUpdateIfAperture(const QString& packagePath);
    // Sets dbPath when the package holds "Database/apdb/Library.apdb".
    void checkIfLibrary9X(const QString& packagePath);
    // Fills arrImagePaths; leaves it empty for a package that is no library.
    void fetchImagesFromLib(const QString& packagePath);

    // One whole read on a plain path: the image paths of the library, or none.
    static QStringList imagePathsInLibrary(const QString& packagePath);

private:
    QStringList arrOriginalPaths;
    QStringList arrThumbnailPaths;
    void makeMastersListFor(const QList<QVariantMap>& versions, const QVariantMap& xmlDict, const QString& root);
};
