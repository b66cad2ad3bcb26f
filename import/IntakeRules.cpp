#include "import/IntakeRules.h"

#include "platform/foundation/FileAttributes.h"

#include "platform/foundation/Format.h"
#include "platform/foundation/NativeNames.h"
#include "platform/foundation/Paths.h"
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/VectorHeaders.h"
#include "records/CommonFunc.h"
#include "records/PhotoFile.h"

#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QMutexLocker>
#include <QSet>

namespace intake {

const QStringList& fixedExtensions() {
    static const QStringList list{"eps", "jpc", "p7", "pc", "pgm", "pnm", "ppm", "ptif", "ui", "pct",
                                  "EPS", "JPC", "P7", "PC", "PGM", "PNM", "PPM", "PTIF", "UI", "PCT"};
    return list;
}

const QStringList& imageFileExtensions() {
    static const QStringList list = [] {
        QStringList l{"jpg", "jpeg", "jpe", "jfif", "png", "gif", "bmp", "dib", "tif", "tiff",
                      "ptif", "jp2", "j2k", "jpf", "jpx", "jpc", "heic", "heif", "hif", "avif", "webp", "ico",
                      "icns", "tga", "psd", "eps", "pct", "pict", "pbm", "pgm", "ppm", "pnm",
                      "xbm", "xpm", "svg", "dng", "cr2", "nef", "arw", "orf", "raf", "rw2"};
        // Every camera's raw files, in a fixed order.
        QStringList raw = CommonFunc::rawImageExtensions().values();
        raw.sort();
        for (const QString& ext : raw)
            if (!l.contains(ext)) l.append(ext);
        return l;
    }();
    return list;
}

TypeOracle mimeDatabaseOracle() {
    struct Cache {
        QMutex mutex;
        QHash<QString, bool> answers;
    };
    auto cache = std::make_shared<Cache>();
    return [cache](const QString& extension) {
        if (extension.isEmpty()) return false;
        {
            QMutexLocker lock(&cache->mutex);
            const auto it = cache->answers.constFind(extension);
            if (it != cache->answers.constEnd()) return *it;
        }
        const QMimeType type =
            QMimeDatabase().mimeTypeForFile(QStringLiteral("x.") + extension, QMimeDatabase::MatchExtension);
        // The MIME database names some cameras' raw files (Samsung's, Hasselblad's, ...) not
        // at all; every camera raw file is an image.
        bool image = type.name().startsWith(u"image/") || CommonFunc::rawImageExtensions().contains(extension.toLower());
        for (const QString& parent : type.allAncestors()) image = image || parent.startsWith(u"image/");
        QMutexLocker lock(&cache->mutex);
        cache->answers.insert(extension, image);
        return image;
    };
}

bool AcceptedTypes::isAcceptedExtension(const QString& extension) const {
    if (fixedExtensions().contains(extension)) return true;  // exact case
    return oracle_ && oracle_(extension);
}

bool AcceptedTypes::isAcceptedPath(const QString& path) const {
    return isAcceptedExtension(platform::pathExtension(path));
}

bool matchesFileType(const QString& path, const QString& fileType) {
    return fileType == kAllFileTypes || path.endsWith(fileType);
}

QString undrawableKind(const QString& path) {
    QFile file;
    if (!platform::openFile(file, path)) return {};
    const QByteArray head = file.read(1024);
    const QString suffix = platform::pathExtension(path).toLower();
    if (head.startsWith("%!PS") || head.startsWith(QByteArray("\xC5\xD0\xD3\xC6", 4))) return QStringLiteral("EPS");
    if ((suffix == u"pict" || suffix == u"pct") && platform::pictPictureSize(path)) return QStringLiteral("PICT");
    if (head.contains("<svg") || (suffix == u"svgz" && head.startsWith("\x1F\x8B"))) return QStringLiteral("SVG");
    return {};
}

namespace {

// A refused file's line in the "cannot be added" alert: its name and why.
QString refusedFileLine(const QString& fileName, const QString& why) { return platform::format(u"%@ (%@)", fileName, why); }

// "This photo cannot be read: <the reader's words>. It will not be processed."
const QString kUnreadableBecause = QStringLiteral("This photo cannot be read: %@. It will not be processed.");

}  // namespace

QString undrawableFileLine(const QString& fileName, const QString& kind) {
    const QString why = kind == u"EPS"    ? QStringLiteral("EPS pictures cannot be read: they need a PostScript interpreter")
                        : kind == u"PICT" ? QStringLiteral("PICT pictures cannot be read: they need a QuickDraw interpreter")
                                          : kind + QStringLiteral(" drawings cannot be read");
    return refusedFileLine(fileName, why);
}

QString unreadableFileLine(const QString& path, const QString& fileName) {
    platform::DecodeResult why;
    if (platform::readImageHeader(path, &why).valid() || why.detail.isEmpty()) return fileName;
    return refusedFileLine(fileName, why.detail);
}

namespace {

// Folder kinds the file managers show as one item; their insides are not photos of the user's.
const QSet<QString>& packageExtensions() {
    static const QSet<QString> set{"photoslibrary", "migratedphotolibrary", "photolibrary", "aplibrary",
                                   "app",           "bundle",               "framework",    "plugin",
                                   "kext",          "pkg",                  "mpkg",         "rtfd",
                                   "xcodeproj",     "xcworkspace",          "key",          "pages",
                                   "numbers",       "lrdata",               "lrlibrary",    "imovielibrary",
                                   "fcpbundle",     "theater",              "musiclibrary", "tvlibrary"};
    return set;
}

}  // namespace

bool isPackage(const QString& path) {
    const QString ext = platform::pathExtension(path).toLower();
    return !ext.isEmpty() && packageExtensions().contains(ext) && platform::isDirectory(path);
}

PackageKind packageKind(const QString& path) {
    if (!isPackage(path)) return PackageKind::NotPackage;
    const QString ext = platform::pathExtension(platform::lastPathComponent(path)).toLower();
    if (ext == u"migratedphotolibrary" || ext == u"photoslibrary") return PackageKind::PhotosLibrary;
    return PackageKind::OlderLibrary;
}

IntakeAlert limitExceededAlert(int limit) {
    return {QStringLiteral("Photos Limit Exceeded").toUpper(),
            platform::format(u"Photo limit exceeded! A Batch of %d photos can be processed at a time.", limit)};
}

IntakeAlert photosExistAlert(int alreadyExistsCount) {
    const bool plural = alreadyExistsCount >= 2;
    return {platform::format(u"Photo%@ Exists", plural ? "s" : "").toUpper(),
            platform::format(u"Photo%@ already exist%@ in batch!", plural ? "s" : "", plural ? "" : "s")};
}

IntakeAlert noPhotosToAddAlert() {
    return {QStringLiteral("No Photos to Add").toUpper(), QStringLiteral("There are no new photos to add")};
}

IntakeAlert addFailedAlert(bool memoryShortage) {
    return {QStringLiteral("Photos Not Added").toUpper(),
            memoryShortage ? QStringLiteral("There was not enough memory to add every photo. The photos added so far "
                                            "stay in the batch.")
                           : QStringLiteral("Not every photo could be added. The photos added so far stay in the "
                                            "batch.")};
}

IntakeAlert damagedFilesAlert(int damagedCount, const QStringList& refusedNames, int alreadyInBatch) {
    // Files refused only for being in the batch already are not called damaged.
    if (refusedNames.isEmpty() && alreadyInBatch > 0 && damagedCount <= alreadyInBatch)
        return photosExistAlert(alreadyInBatch);
    const int count = refusedNames.isEmpty() ? damagedCount : int(refusedNames.size());
    const bool plural = count >= 2;
    QString message = platform::format(u"%@ cannot be added. %@ either damaged or not supported by application.",
                                       plural ? "Some files" : "File", plural ? "They are" : "It is");
    if (!refusedNames.isEmpty()) {
        message += u'\n';
        for (const QString& name : refusedNames.mid(0, kRefusedNamesShown)) message += QStringLiteral("\n") + name;
        if (refusedNames.size() > kRefusedNamesShown)
            message += platform::format(u"\nand %d more", int(refusedNames.size()) - kRefusedNamesShown);
    }
    if (alreadyInBatch > 0)
        message += platform::format(u"\n\n%d photo%@ already in the batch.", alreadyInBatch, alreadyInBatch >= 2 ? "s were" : " was");
    return {platform::format(u"File%@ cannot be added", plural ? "s" : "").toUpper(), message};
}

QString unavailablePhotoText(const QString& path) {
    if (!platform::fileExists(path)) return QStringLiteral("This photo is no longer in its folder. It will not be processed.");
    platform::DecodeResult why;
    const platform::ImageHeader header = platform::readImageHeader(path, &why);
    // Its header reads, but the picture is past what the decoders take: nothing is wrong with the file.
    if (platform::exceedsPixelBudget(header))
        return QStringLiteral("This photo is larger than Brisko Photos will open. It will not be processed.");
    // Nor when its reader could not be started or was stopped: the reader says so.
    if (!header.valid() && !why.detail.isEmpty()) return platform::format(kUnreadableBecause, why.detail);
    return QStringLiteral("This photo cannot be read: its file is damaged or in a format Brisko Photos cannot open. "
                          "It will not be processed.");
}

QString IntakeProgress::iconName() const { return platform::format(u"fill_%d", icon); }

IntakeProgress progressFor(long added, long total, const QString& folderPath) {
    IntakeProgress p;
    p.percent = total > 0 ? int(added * 100 / total) : 0;
    const int stepped = p.percent - p.percent % 5;
    p.icon = stepped;
    p.label = platform::format(u"%d %%", stepped);
    QString shown = folderPath;
    for (const char* marker : {".photolibrary", ".photoslibrary"}) {
        const int at = int(shown.indexOf(QLatin1String(marker)));
        if (at >= 0) shown = shown.left(at);
    }
    p.pathText = platform::format(u"Photo path: : %@", shown);
    if (added == total) {
        p.finished = true;
        p.icon = 105;
        p.text = platform::format(u"%ld photo%@ added", added, added >= 2 ? "s" : "");
    } else {
        p.text = platform::format(u"%ld of %lu photo%@ added", added, (unsigned long)total, total >= 2 ? "s" : "");
    }
    return p;
}

BatchFooter footerFor(const QList<std::shared_ptr<PhotoFile>>& batch) {
    BatchFooter footer;
    if (batch.isEmpty()) return footer;
    double bytes = 0;
    for (const auto& photo : batch) bytes += photo->fileSizeInBytes;
    const QString count = platform::format(u"%lu", (unsigned long)batch.size());
    const QString size = platform::format(u"%@ approx.", CommonFunc::unitStringFromBytes(bytes, 0));
    const QString head = QStringLiteral("Batch Count: ");
    const QString middle = QStringLiteral("  |  Batch Size: ");
    footer.text = head + count + middle + size + QStringLiteral("  ");
    footer.figures.append({int(head.size()), int(count.size())});
    footer.figures.append({int(head.size() + count.size() + middle.size()), int(size.size())});
    return footer;
}

QString footerHtml(const BatchFooter& footer) {
    QString html;
    int at = 0;
    for (const auto& figure : footer.figures) {
        html += footer.text.mid(at, figure.start - at).toHtmlEscaped();
        html += QStringLiteral("<span style='color:#ffffff;font-weight:bold'>") +
                footer.text.mid(figure.start, figure.length).toHtmlEscaped() + QStringLiteral("</span>");
        at = figure.start + figure.length;
    }
    html += footer.text.mid(at).toHtmlEscaped();
    return QStringLiteral("<div align='right' style='color:#b8b8b8; white-space:pre'>%1</div>").arg(html);
}

QString dateFilterError(const QDateTime& from, const QDateTime& to) {
    const QString a = CommonFunc::getDateInFormatNEW(from);
    const QString b = CommonFunc::getDateInFormatNEW(to);
    if (a == b || !(to > from)) return QStringLiteral("* From Date cannot be greater than or equal to To Date.");
    return {};
}

}  // namespace intake
