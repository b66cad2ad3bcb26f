#include "import/FolderListing.h"

#include "import/IntakeRules.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"

#include <QSet>
#include <algorithm>
#include <sys/stat.h>

namespace intake {

namespace {

// The identity of a folder on disk, links followed; {0,0} when unreadable.
QPair<quint64, quint64> folderIdentity(const QString& path) {
    struct stat st {};
    if (::stat(platform::encodePath(path).constData(), &st) != 0) return {0, 0};
    return {quint64(st.st_dev), quint64(st.st_ino)};
}

bool isHidden(const QString& name) { return name.startsWith(u'.'); }

// Entries in name order, as a file manager lists them; hidden ones left out.
QList<platform::FolderEntry> visibleInNameOrder(QList<platform::FolderEntry> entries) {
    entries.removeIf([](const platform::FolderEntry& e) { return isHidden(e.name); });
    std::sort(entries.begin(), entries.end(),
              [](const platform::FolderEntry& a, const platform::FolderEntry& b) { return a.name < b.name; });
    return entries;
}

void walk(const QString& folder, QSet<QPair<quint64, quint64>>& seen, QStringList& out,
          const std::atomic<bool>* keepGoing, const FolderReader& reader) {
    if (keepGoing && !keepGoing->load()) return;
    const auto id = folderIdentity(folder);
    if (id == QPair<quint64, quint64>{0, 0} || seen.contains(id)) return;
    seen.insert(id);
    const std::optional<QList<platform::FolderEntry>> entries = reader(folder);
    if (!entries) {
        platform::log(u"[Error] %@ (%@)", QStringLiteral("folder cannot be read"), platform::displayPath(folder));
        return;
    }
    for (const platform::FolderEntry& e : visibleInNameOrder(*entries)) {
        const QString path = platform::stringByAppendingPathComponent(folder, e.name);
        if (e.isDirectory) {
            if (!e.isSymbolicLink && !isPackage(path)) walk(path, seen, out, keepGoing, reader);
        } else if (e.isRegularFile) {
            out.append(path);
        }
    }
}

}  // namespace

std::optional<QList<platform::FolderEntry>> readFolder(const QString& folder) {
    return platform::readFolderEntries(folder);
}

QStringList listFolderImages(const QString& folder) {
    QStringList out;
    const std::optional<QList<platform::FolderEntry>> entries = readFolder(folder);
    if (!entries) {
        platform::log(u"[Error] %@ (%@)", QStringLiteral("folder cannot be read"), platform::displayPath(folder));
        return out;
    }
    for (const platform::FolderEntry& e : visibleInNameOrder(*entries)) {
        if (e.isRegularFile && imageFileExtensions().contains(platform::pathExtension(e.name), Qt::CaseInsensitive))
            out.append(platform::stringByAppendingPathComponent(folder, e.name));
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
