#include "import/FolderListing.h"

#include "import/IntakeRules.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <sys/stat.h>

namespace intake {

namespace {

// The identity of a folder on disk, links followed; nullopt-like {0,0} when unreadable.
QPair<quint64, quint64> folderIdentity(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return {0, 0};
    return {quint64(st.st_dev), quint64(st.st_ino)};
}

void walk(const QString& folder, QSet<QPair<quint64, quint64>>& seen, QStringList& out,
          const std::atomic<bool>* keepGoing, const FolderReader& reader) {
    if (keepGoing && !keepGoing->load()) return;
    const auto id = folderIdentity(folder);
    if (id == QPair<quint64, quint64>{0, 0} || seen.contains(id)) return;
    seen.insert(id);
    const std::optional<QFileInfoList> entries = reader(folder);
    if (!entries) {
        platform::log(u"[Error] %@ (%@)", QStringLiteral("folder cannot be read"), folder);
        return;
    }
    for (const QFileInfo& e : *entries) {
        const QString path = platform::stringByAppendingPathComponent(folder, e.fileName());
        if (e.isDir()) {
            if (!isPackage(path)) walk(path, seen, out, keepGoing, reader);
        } else {
            out.append(path);
        }
    }
}

}  // namespace

std::optional<QFileInfoList> readFolder(const QString& folder) {
    const QDir dir(folder);
    if (!dir.isReadable()) return std::nullopt;
    return dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
}

QStringList listFolderImages(const QString& folder) {
    QStringList out;
    QDir dir(folder);
    if (!dir.isReadable()) {
        platform::log(u"[Error] %@ (%@)", QStringLiteral("folder cannot be read"), folder);
        return out;
    }
    const QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::System, QDir::Name);
    for (const QFileInfo& e : entries) {
        if (imageFileExtensions().contains(e.suffix(), Qt::CaseInsensitive))
            out.append(platform::format(u"%@/%@", folder, e.fileName()));
    }
    return out;
}

QStringList walkFolder(const QString& folder, const std::atomic<bool>* keepGoing, const FolderReader& reader) {
    QStringList out;
    QSet<QPair<quint64, quint64>> seen;
    walk(folder, seen, out, keepGoing, reader);
    return out;
}

}  // namespace intake
