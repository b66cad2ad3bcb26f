#include "import/DataFiller.h"

#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/Plist.h"
#include "records/CommonFunc.h"

#include <QFileInfo>

namespace {

QString existingFile(const QString& root, const QString& relative) {
    const QString p = CommonFunc::existingPathIgnoringCase(root, relative);
    return !p.isEmpty() && QFileInfo(p).isFile() ? p : QString();
}

QString existingFolder(const QString& root, const QString& relative) {
    const QString p = CommonFunc::existingPathIgnoringCase(root, relative);
    return !p.isEmpty() && QFileInfo(p).isDir() ? p : QString();
}

// A path of the property list, written where the library used to lie, moved to where it
// lies now.
QString rewritten(const QString& path, const QString& archivePath, const QString& root) {
    if (archivePath.isEmpty() || !path.startsWith(archivePath)) return path;
    return root + path.mid(archivePath.size());
}

}  // namespace

bool DataFiller::checkValidLibAndUpdateIfAperture(const QString& packagePath) {
    for (const char* name : {"AlbumData.xml", "ApertureData.xml"}) {
        const QString found = existingFile(packagePath, QString::fromLatin1(name));
        if (!found.isEmpty()) {
            xmlFile = found;
            return true;
        }
    }
    return false;
}

void DataFiller::checkIfLibrary9X(const QString& packagePath) {
    const QString found = existingFile(packagePath, QStringLiteral("Database/apdb/Library.apdb"));
    if (found.isEmpty()) return;
    platform::log(u"is9X");
    dbPath = found;
}

void DataFiller::fetchImagesFromLib(const QString& packagePath) {
    arrImagePaths.clear();
    lastScannedPhotosCount = 0;
    if (!checkValidLibAndUpdateIfAperture(packagePath)) return;
    checkIfLibrary9X(packagePath);
    iPhotoLibraryChanged = false;
    platform::log(u"Into Fill Duplicates");
    platform::log(u"%@", dbPath);

    // The package folder: the database lies three levels down in it.
    const QString root = dbPath.isEmpty() ? packagePath
                                          : platform::stringByDeletingLastPathComponent(
                                                platform::stringByDeletingLastPathComponent(
                                                    platform::stringByDeletingLastPathComponent(dbPath)));
    QString masters = existingFolder(root, QStringLiteral("Masters"));
    if (masters.isEmpty()) {
        masters = existingFolder(root, QStringLiteral("Originals"));
        if (masters.isEmpty()) masters = platform::stringByAppendingPathComponent(root, QStringLiteral("Originals"));
        platform::log(u"Masters NOT present. New: %@", masters);
    }

    const QList<QVariantMap> versions = DBOperations::getAllVersionPhotos(dbPath, QStringLiteral("RKVersion"));
    DBOperations::getAllMasterPhotos(dbPath, masters, QStringLiteral("RKMaster"), dictMasterInfo);
    DBOperations::getAllFolders(dbPath, QStringLiteral("RKFolder"), dictFolderInfo);

    const QVariantMap xml = platform::readPlistFile(xmlFile).toMap();
    makeMastersListFor(versions, xml, root);

    platform::log(u"Total Photos in iPhoto %d", lastScannedPhotosCount);
    platform::log(u"Original count=%d", int(arrOriginalPaths.size()));
    platform::log(u"Thumbnail count%d", int(arrThumbnailPaths.size()));
    platform::log(u"Image count%d", int(arrImagePaths.size()));
    arrThumbnailPaths.clear();
    arrOriginalPaths.clear();
}

void DataFiller::makeMastersListFor(const QList<QVariantMap>& versions, const QVariantMap& xmlDict,
                                    const QString& root) {
    const QVariantMap masterList = xmlDict.value(QStringLiteral("Master Image List")).toMap();
    QString archive = xmlDict.value(QStringLiteral("Archive Path")).toString();
    if (!xmlDict.contains(QStringLiteral("Archive Path"))) {
        // This runs on a background queue: no alert can be shown from here, and the
        // paths of the property list are used as they stand.
        platform::log(u"Archive is nil");
    } else if (archive.compare(root, Qt::CaseInsensitive) == 0) {
        archive.clear();
    }
    const QString key = isApertureLibrary ? QStringLiteral("uuid") : QStringLiteral("modelId");

    int kept = 0;
    for (const QVariantMap& version : versions) {
        const QString masterUuid = version.value(QStringLiteral("masterUuid")).toString();
        if (masterUuid.isEmpty()) continue;
        auto master = dictMasterInfo.find(masterUuid);
        if (master == dictMasterInfo.end()) continue;
        auto folder = dictFolderInfo.find(version.value(QStringLiteral("projectUuid")).toString());
        if (folder == dictFolderInfo.end()) continue;
        ++kept;
        arrOriginalPaths.append(master->OriginalPath);
        master->MasterCount += 1;
        folder->VersionCount += 1;

        QString imagePath = master->OriginalPath;
        QString thumbPath = master->OriginalPath;
        const QVariantMap entry = masterList.value(version.value(key).toString()).toMap();
        if (!entry.isEmpty()) {
            const QString image = entry.value(QStringLiteral("ImagePath")).toString();
            const QString thumb = entry.value(QStringLiteral("ThumbPath")).toString();
            if (!image.isEmpty()) imagePath = rewritten(image, archive, root);
            if (!thumb.isEmpty()) thumbPath = rewritten(thumb, archive, root);
        }
        arrImagePaths.append(imagePath);
        arrThumbnailPaths.append(thumbPath);
    }
    lastScannedPhotosCount = kept;
}

QStringList DataFiller::imagePathsInLibrary(const QString& packagePath) {
    DataFiller filler;
    filler.setLibPath(packagePath);
    filler.fetchImagesFromLib(packagePath);
    return filler.arrImagePaths;
}
