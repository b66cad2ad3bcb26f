// The helpers of CommonFunc that look at files, pictures and the running system.
#include "records/CommonFunc.h"

#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "platform/imageio/ImageIO.h"
#include "records/PhotoFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTransform>

namespace {
constexpr int kConnectTries = 3;
}

// ---- the network ----

bool CommonFunc::isInternetConnected() {
    return isInternetConnected([] { return reachability::currentState(); });
}

bool CommonFunc::isInternetConnected(const std::function<reachability::State()>& probe) {
    for (int attempt = 1; attempt <= kConnectTries; ++attempt) {
        if (probe && probe() == reachability::State::Online) {
            platform::log(u"Submitting Feedback: Connected to Internet!");
            return true;
        }
        platform::log(u"Submitting Feedback: Attempting to connect with internet: Retry(%d)", attempt);
    }
    return false;
}

// ---- running programs ----

QStringList CommonFunc::runningApplicationNames() {
    QStringList names;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& pid : pids) {
        bool number = false;
        pid.toLongLong(&number);
        if (!number) continue;
        const QString base = QStringLiteral("/proc/") + pid;
        const QString exe = QFileInfo(base + QStringLiteral("/exe")).symLinkTarget();
        if (!exe.isEmpty()) names << platform::lastPathComponent(exe);
        QFile comm(base + QStringLiteral("/comm"));
        if (comm.open(QIODevice::ReadOnly)) names << QString::fromUtf8(comm.readAll()).trimmed();
    }
    names.removeAll(QString());
    names.removeDuplicates();
    return names;
}

bool CommonFunc::checkAppOpen(const QString& identifier) {
    if (identifier.isEmpty()) return false;
    const QString wanted = identifier.toUpper();
    const QStringList names = runningApplicationNames();
    for (const QString& name : names)
        if (name.toUpper() == wanted) return true;
    return false;
}

// ---- thumbnails and pictures ----

QString CommonFunc::thumbnailCacheFolder() {
    return platform::stringByAppendingPathComponent(
        QStandardPaths::writableLocation(QStandardPaths::CacheLocation), QStringLiteral("Thumbnails"));
}

QString CommonFunc::getThumbFilePath(const QString& name) {
    // A name is a file name inside the cache folder, never a way out of it.
    const QString leaf = platform::lastPathComponent(name);
    if (leaf.isEmpty() || leaf == QLatin1String("/") || leaf == QLatin1String(".") || leaf == QLatin1String(".."))
        return QString();
    return platform::stringByAppendingPathComponent(thumbnailCacheFolder(), leaf);
}

QImage CommonFunc::getImageForFilePath(const QString& path) {
    if (path.isEmpty()) return QImage();
    const QImage stored = platform::readImage(path);
    if (stored.isNull()) return stored;
    return platform::orientImage(stored, platform::readImageHeader(path).orientation);
}

QImage CommonFunc::bwRotateImage90DegreesClockwise(bool clockwise, const QImage& image) {
    if (image.isNull()) return image;
    return image.transformed(QTransform().rotate(clockwise ? 90 : -90));
}

// ---- camera raw files ----

const QSet<QString>& CommonFunc::rawImageExtensions() {
    static const QSet<QString> set = {
        QStringLiteral("3fr"), QStringLiteral("ari"), QStringLiteral("arw"), QStringLiteral("bay"),
        QStringLiteral("cr2"), QStringLiteral("cr3"), QStringLiteral("crw"), QStringLiteral("dcr"),
        QStringLiteral("dng"), QStringLiteral("erf"), QStringLiteral("fff"), QStringLiteral("iiq"),
        QStringLiteral("k25"), QStringLiteral("kdc"), QStringLiteral("mef"), QStringLiteral("mos"),
        QStringLiteral("mrw"), QStringLiteral("nef"), QStringLiteral("nrw"), QStringLiteral("orf"),
        QStringLiteral("pef"), QStringLiteral("ptx"), QStringLiteral("raf"), QStringLiteral("raw"),
        QStringLiteral("rw2"), QStringLiteral("rwl"), QStringLiteral("sr2"), QStringLiteral("srf"),
        QStringLiteral("srw"), QStringLiteral("x3f"),
    };
    return set;
}

std::function<bool(const PhotoFile&)> CommonFunc::predicateForRawImage(const QSet<QString>& extensions) {
    return [extensions](const PhotoFile& photo) {
        const QString ext = photo.fileExtension.isEmpty() ? platform::pathExtension(photo.filePath) : photo.fileExtension;
        return !ext.isEmpty() && extensions.contains(ext.toLower());
    };
}

bool CommonFunc::isImageRaw(const QString& path) {
    const QString ext = platform::pathExtension(path).toLower();
    return !ext.isEmpty() && rawImageExtensions().contains(ext);
}
