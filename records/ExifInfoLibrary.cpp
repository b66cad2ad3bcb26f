// Where a photo library package keeps its database, and what kind of library it is.
// The packages come from a file system that ignores case, so names inside them are
// matched without regard to case ("Database" and "database", "Photos.sqlite" and
// "photos.sqlite" are the same file there).
#include "platform/foundation/Paths.h"
#include "platform/foundation/Plist.h"
#include "records/CommonFunc.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString existingPath(const QString& root, const QString& relative) {
    return CommonFunc::existingPathIgnoringCase(root, relative);
}

bool fileExists(const QString& root, const QString& relative) {
    const QString p = existingPath(root, relative);
    return !p.isEmpty() && QFileInfo(p).isFile();
}

bool folderExists(const QString& root, const QString& relative) {
    const QString p = existingPath(root, relative);
    return !p.isEmpty() && QFileInfo(p).isDir();
}

const QString kAlbumData = QStringLiteral("AlbumData.xml");
const QString kMasters = QStringLiteral("masters");

}  // namespace

QString CommonFunc::existingPathIgnoringCase(const QString& root, const QString& relative) {
    QString current = root;
    const QStringList parts = relative.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        const QString exact = platform::stringByAppendingPathComponent(current, part);
        if (QFileInfo::exists(exact)) {
            current = exact;
            continue;
        }
        const QStringList entries =
            QDir(current).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        QString found;
        for (const QString& e : entries) {
            if (e.compare(part, Qt::CaseInsensitive) == 0) {
                found = e;
                break;
            }
        }
        if (found.isEmpty()) return {};
        current = platform::stringByAppendingPathComponent(current, found);
    }
    return current;
}

QString CommonFunc::getDataBasePathForPhotosLib(const QString& libraryPath) {
    const auto join = [&](const QString& relative) {
        return platform::stringByAppendingPathComponent(libraryPath, relative);
    };
    // The older library database first, in its two historical places.
    for (const QString& a : {QStringLiteral("database/apdb/Library.apdb"), QStringLiteral("database/Library.apdb")}) {
        if (fileExists(libraryPath, a)) return existingPath(libraryPath, a);
    }
    // Newer libraries keep one SQLite file; which library we have is told by the files
    // it holds, not by the version of the system that wrote it.
    const QString sqlite = QStringLiteral("database/photos.sqlite");
    if (fileExists(libraryPath, sqlite)) return existingPath(libraryPath, sqlite);
    for (const QString& b : {QStringLiteral("database/apdb/photos.db"), QStringLiteral("database/photos.db")}) {
        if (fileExists(libraryPath, b)) return existingPath(libraryPath, b);
    }
    return join(QStringLiteral("database/photos.db"));
}

QString CommonFunc::getPhotoLibraryVersion(const QString& libraryPath) {
    const QString album = existingPath(libraryPath, kAlbumData);
    if (album.isEmpty()) return {};
    const QVariantMap dict = platform::readPlistFile(album).toMap();
    const QString version = dict.value(QStringLiteral("Application Version")).toString();
    return version.isEmpty() ? QString() : getPhotoLibraryMajorVersion(version);
}

QString CommonFunc::getPhotoLibraryMajorVersion(const QString& version) {
    return version.section(QLatin1Char('.'), 0, 0);
}

QString CommonFunc::photoLibrary_MastersOrOriginal(const QString& libraryPath) {
    if (getPhotoLibraryVersion(libraryPath) == u"9" && folderExists(libraryPath, kMasters)) return kMasters;
    return QStringLiteral("originals");
}

bool CommonFunc::isiPhotoLibrary9AndAbove(const QString& libraryPath) {
    const QString major = getPhotoLibraryVersion(libraryPath);
    return !major.isEmpty() && major != u"8" && major != u"7";
}

bool CommonFunc::isPkgPhotoLib(const QString& libraryPath) {
    return fileExists(libraryPath, kAlbumData) && folderExists(libraryPath, kMasters);
}

bool CommonFunc::isPhotosLib(const QString& libraryPath) {
    if (fileExists(libraryPath, kAlbumData)) return fileExists(libraryPath, QStringLiteral("Database/apdb/Library.apdb"));
    return fileExists(libraryPath, QStringLiteral("database/Library.apdb"));
}
