#include "records/Bookmark.h"

#include <QDir>
#include <QFileInfo>
#include <sys/stat.h>

#include "platform/foundation/Log.h"
#include "platform/foundation/NativeNames.h"
#include "platform/foundation/Plist.h"
#include "platform/foundation/Values.h"

namespace {

const QString kPath = QStringLiteral("BookmarkPath");
const QString kDevice = QStringLiteral("BookmarkDevice");
const QString kInode = QStringLiteral("BookmarkInode");
const QString kSize = QStringLiteral("BookmarkSize");
const QString kModified = QStringLiteral("BookmarkModificationTime");

bool identityOf(const QString& path, Bookmark& b) {
    struct stat st {};
    if (::stat(platform::encodePath(path).constData(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    b.device = quint64(st.st_dev);
    b.inode = quint64(st.st_ino);
    b.size = qint64(st.st_size);
    b.modificationTime = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    return true;
}

}  // namespace

QByteArray Bookmark::toData() const {
    const QVariantMap m{{kPath, path},
                        {kDevice, qlonglong(device)},
                        {kInode, qlonglong(inode)},
                        {kSize, size},
                        {kModified, modificationTime}};
    return platform::plistToData(m, platform::PlistFormat::Binary);
}

Bookmark Bookmark::fromData(const QByteArray& data, bool* ok) {
    Bookmark b;
    *ok = false;
    const QVariantMap m = platform::plistFromData(data).toMap();
    const QVariant p = m.value(kPath);
    if (p.typeId() != QMetaType::QString || !QDir::isAbsolutePath(p.toString())) return b;
    for (const QString& k : {kDevice, kInode, kSize, kModified})
        if (platform::numberKind(m.value(k)) != platform::NumberKind::Integer) return b;
    b.path = p.toString();
    b.device = quint64(m.value(kDevice).toLongLong());
    b.inode = quint64(m.value(kInode).toLongLong());
    b.size = m.value(kSize).toLongLong();
    b.modificationTime = m.value(kModified).toLongLong();
    *ok = true;
    return b;
}

QByteArray Bookmark::bookmarkDataForPath(const QString& path) {
    Bookmark b;
    b.path = QFileInfo(path).absoluteFilePath();
    if (path.isEmpty() || !identityOf(b.path, b)) {
        platform::log(u"bookmark: cannot make one for %@ (no such file)", path);
        return {};
    }
    return b.toData();
}

QString Bookmark::resolveBookmarkData(const QByteArray& data, bool* isStale) {
    if (isStale) *isStale = false;
    bool ok = false;
    const Bookmark saved = fromData(data, &ok);
    if (!ok) {
        platform::log(u"bookmark: damaged bookmark data");
        return {};
    }
    Bookmark now;
    if (!identityOf(saved.path, now)) return {};
    if (isStale)
        *isStale = now.device != saved.device || now.inode != saved.inode || now.size != saved.size ||
                   now.modificationTime != saved.modificationTime;
    return saved.path;
}
