#include "bench/fuzz/FuzzTargets.h"

#include "engine/PngOptimiser.h"
#include "import/DBOperations.h"
#include "import/DataFiller.h"
#include "platform/foundation/KeyedArchive.h"
#include "platform/foundation/Plist.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/ImageProperties.h"
#include "platform/imageio/VectorHeaders.h"
#include "records/FavouriteBatch.h"
#include "records/ProjectSession.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <sqlite3.h>
#include <unistd.h>

namespace fuzz {
namespace {

// A new folder of the process's own; it lives as long as the process (fuzzers and replay
// children never return from their loops cleanly). Its name carries the process id: the
// replay's children are forked from one parent and draw the same random names, so after
// a few hundred children every name tried is taken. A folder that cannot be made stops
// the process: its empty path would name the working directory, whose files a target
// clears.
QTemporaryDir* processFolder() {
    auto* dir = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/brisko-fuzz-%1-XXXXXX").arg(qint64(getpid())));
    if (!dir->isValid()) __builtin_trap();
    return dir;
}

// A file of the process's own folder for the files the targets write.
QString scratchPath(const char* name) {
    static QTemporaryDir* dir = processFolder();
    return dir->filePath(QString::fromLatin1(name));
}

void writeFile(const QString& path, const char* data, qint64 size) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(data, size);
}

QString writeInput(const uint8_t* data, size_t size) {
    const QString path = scratchPath("input");
    writeFile(path, reinterpret_cast<const char*>(data), qint64(size));
    return path;
}

}  // namespace

// Every decoder behind readImageFromData, chosen by the data's own leading bytes, with a
// small pixel budget so the fuzzer explores parsing rather than allocation.
int decoders(const uint8_t* data, size_t size) {
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    platform::DecodeOptions options;
    options.pixelBudget = 4 * 1024 * 1024;
    // The first byte picks a reduced decode now and then, which takes other code paths.
    if (size > 0 && (data[size - 1] & 1)) options.minLongSide = 64;
    // Targa and DIB have no signature: they are told by a name as well.
    for (const char* name : {"fuzz", "fuzz.tga", "fuzz.dib"}) {
        const QImage image = platform::readImageFromData(bytes, options, QLatin1String(name));
        if (!image.isNull() && (image.width() <= 0 || image.height() <= 0)) __builtin_trap();
        platform::readImageHeaderFromData(bytes, QLatin1String(name));
        if (platform::sniffImageFormat(bytes.constData(), size_t(bytes.size())) != platform::ImageFormat::Unknown) break;
    }
    return 0;
}

// The thumbnail path from a file: header reading, reduced decoding and orientation.
int thumbnail(const uint8_t* data, size_t size) {
    const QString file = writeInput(data, size);
    const platform::ImageHeader header = platform::readImageHeader(file);
    // Thumbnails of headers that declare more than a few megapixels are left to the
    // decoder fuzzer, which runs with a small budget.
    if (header.valid() && int64_t(header.width) * header.height <= 4 * 1024 * 1024) {
        const QImage t = platform::makeThumbnail(file, 48, 48);
        if (!t.isNull() && (t.width() > 48 || t.height() > 48)) __builtin_trap();
    }
    return 0;
}

// The HEIF, AVIF, WebP and camera raw readers: the last byte picks a full decode, a
// thumbnail (the embedded thumbnail or preview) or a reduced decode for output (half-size
// raw development); a file whose header reads is also read for its properties (EXIF and
// XMP blocks through Exiv2).
int readOnlyFormats(const uint8_t* data, size_t size) {
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    platform::DecodeOptions options;
    options.pixelBudget = 4 * 1024 * 1024;
    const int mode = size > 0 ? data[size - 1] % 3 : 0;
    if (mode > 0) options.minLongSide = 64;
    options.reducedForOutput = mode == 2;
    const QImage image = platform::readImageFromData(bytes, options, QStringLiteral("fuzz"));
    if (!image.isNull() && (image.width() <= 0 || image.height() <= 0)) __builtin_trap();
    const platform::ImageHeader header = platform::readImageHeaderFromData(bytes);
    if (header.valid() && int64_t(header.width) * header.height <= 4 * 1024 * 1024) {
        const QString file = writeInput(data, size);
        const QVariantMap props = platform::readImageProperties(file);
        // Both read the same header: they may not disagree about the picture's size.
        if (props.value(QLatin1String(platform::kPropsPixelWidth)).toInt() != header.width) __builtin_trap();
    }
    return 0;
}

// The PNG optimiser over arbitrary input files: it must fail cleanly, never write an
// output larger than its input, and never leave its work file behind. Run it with
// -close_fd_mask=1 to silence the optimiser's report on standard output.
int pngOptimiser(const uint8_t* data, size_t size) {
    static QTemporaryDir* dir = processFolder();
    const QString in = dir->filePath(QStringLiteral("in.png"));
    const QString out = dir->filePath(QStringLiteral("out.png"));
    QFile::remove(out);
    writeFile(in, reinterpret_cast<const char*>(data), qint64(size));
    const int memLevel = size > 0 ? 1 + data[0] % 9 : 8;
    const int rc = processPNG(QFile::encodeName(in).constData(), QFile::encodeName(out).constData(), 97, memLevel);
    if (rc == 0 && QFileInfo(out).size() > qint64(size)) __builtin_trap();
    if (rc != 0 && QFile::exists(out)) __builtin_trap();
    if (QDir(dir->path()).entryList(QDir::Files).size() > 2) __builtin_trap();
    return 0;
}

// The image-properties reader over arbitrary files; what it reads is written into a
// fresh file of the same kind and read again.
int imageProperties(const uint8_t* data, size_t size) {
    static const QByteArray fresh[] = {
        platform::encodeImage(QImage(4, 3, QImage::Format_RGB32), platform::ImageType::JPEG, 0.5),
        platform::encodeImage(QImage(4, 3, QImage::Format_RGB32), platform::ImageType::PNG, 1),
        platform::encodeImage(QImage(4, 3, QImage::Format_RGB32), platform::ImageType::TIFF, 1),
        platform::encodeImage(QImage(4, 3, QImage::Format_RGB32), platform::ImageType::JPEG2000, 0.5),
    };
    const QVariantMap props = platform::readImageProperties(writeInput(data, size));
    if (props.isEmpty()) return 0;
    const QByteArray& target = fresh[(size > 0 ? data[0] : 0) % 4];
    const QString out = scratchPath("properties-out");
    writeFile(out, target.constData(), target.size());
    if (platform::writeImageProperties(out, props)) {
        if (platform::readImageProperties(out).isEmpty()) __builtin_trap();
    }
    return 0;
}

// The EPS bounding-box and PICT frame readers over arbitrary files.
int vectorHeaders(const uint8_t* data, size_t size) {
    const QString file = writeInput(data, size);
    for (const auto& s : {platform::epsPictureSize(file), platform::pictPictureSize(file)}) {
        if (s && (!std::isfinite(s->width()) || !std::isfinite(s->height()) || s->width() <= 0 || s->height() <= 0))
            __builtin_trap();
    }
    return 0;
}

// Property lists, XML and binary, through the reader and both writers. Whatever reads
// must be written again in each format, and a value read back from our own output must
// write the same bytes once more: the writers reach a fixed point.
namespace {

void roundTrip(const QVariant& value, platform::PlistFormat format) {
    const QByteArray first = platform::plistToData(value, format);
    // XML cannot carry every string (an embedded NUL); binary carries all.
    if (first.isEmpty()) {
        if (format == platform::PlistFormat::Binary) __builtin_trap();
        return;
    }
    const QVariant back = platform::plistFromData(first);
    if (!back.isValid()) __builtin_trap();
    if (platform::plistToData(back, format) != first) __builtin_trap();
}

}  // namespace

int plist(const uint8_t* data, size_t size) {
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const QVariant value = platform::plistFromData(bytes);
    if (!value.isValid()) return 0;
    roundTrip(value, platform::PlistFormat::Binary);
    roundTrip(value, platform::PlistFormat::XML);
    return 0;
}

// Keyed archives as the program stores them in its defaults: a saved session and a list
// of favourite batches, plus a plain value archive. Decoding must fail cleanly; what
// decodes must archive again and decode once more.
int keyedArchive(const uint8_t* data, size_t size) {
    using platform::KeyedDecoder;
    using platform::KeyedEncoder;
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    if (auto session = KeyedDecoder::unarchiveObjectWithData<::ProjectSession>(bytes)) {
        const QByteArray again = KeyedEncoder::archivedDataWithRootObject(*session);
        if (again.isEmpty() || !KeyedDecoder::unarchiveObjectWithData<::ProjectSession>(again)) __builtin_trap();
    }
    if (auto list = KeyedDecoder::unarchiveArrayWithData<FavouriteBatch>(bytes)) {
        const QByteArray again = KeyedEncoder::archivedDataWithRootArray(*list);
        if (again.isEmpty() || !KeyedDecoder::unarchiveArrayWithData<FavouriteBatch>(again)) __builtin_trap();
    }
    KeyedDecoder::unarchiveValueWithData(bytes);
    return 0;
}

// The user-defaults loader over an arbitrary settings file: it must load or set the file
// aside, answer every getter, and save what it holds.
int userDefaults(const uint8_t* data, size_t size) {
    static QTemporaryDir* dir = processFolder();
    const QString path = dir->filePath(QStringLiteral("BriskoPhotos.plist"));
    QDir folder(dir->path());
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden)) folder.remove(name);
    writeFile(path, reinterpret_cast<const char*>(data), qint64(size));
    platform::UserDefaults defaults(path);
    for (const QString& key : defaults.allKeys()) {
        defaults.objectForKey(key);
        defaults.stringForKey(key);
        defaults.dataForKey(key);
        defaults.arrayForKey(key);
        defaults.boolForKey(key);
        defaults.integerForKey(key);
    }
    defaults.resetIfFirstLaunch();
    defaults.setObject(QStringLiteral("fuzz"), QStringLiteral("fuzzKey"));
    if (!defaults.synchronize()) __builtin_trap();
    platform::UserDefaults again(path);
    if (again.stringForKey(QStringLiteral("fuzzKey")) != QStringLiteral("fuzz")) __builtin_trap();
    return 0;
}

// The photo-library databases over arbitrary files: an older library's three table
// readers and the Photos library reader, which picks its query by the tables it finds.
int libraryDatabase(const uint8_t* data, size_t size) {
    const QString path = scratchPath("Library.apdb");
    for (const char* side : {"-wal", "-shm", "-journal"}) QFile::remove(path + QLatin1String(side));
    writeFile(path, reinterpret_cast<const char*>(data), qint64(size));
    DBOperations::getAllVersionPhotos(path);
    QHash<QString, MasterInfo> masters;
    DBOperations::getAllMasterPhotos(path, scratchPath("Masters"), QStringLiteral("RKMaster"), masters);
    QHash<QString, FolderInfo> folders;
    DBOperations::getAllFolders(path, QStringLiteral("RKFolder"), folders);
    DBOperations::readPhotosDatabase(path, scratchPath("Library.photoslibrary"));
    return 0;
}

// An older library's album-data property list, in a package whose database holds two
// shown versions for the list to describe.
int albumData(const uint8_t* data, size_t size) {
    static const QString package = [] {
        const QString root = scratchPath("Library.photolibrary");
        QDir().mkpath(root + QStringLiteral("/Database/apdb"));
        sqlite3* db = nullptr;
        const QByteArray dbPath = QFile::encodeName(root + QStringLiteral("/Database/apdb/Library.apdb"));
        if (sqlite3_open(dbPath.constData(), &db) == SQLITE_OK)
            sqlite3_exec(db,
                         "CREATE TABLE RKVersion (modelId INTEGER, uuid TEXT, masterUuid TEXT, projectUuid TEXT,"
                         " name TEXT, isInTrash INTEGER, showInLibrary INTEGER, versionNumber INTEGER);"
                         "CREATE TABLE RKMaster (uuid TEXT, imagePath TEXT, isInTrash INTEGER);"
                         "CREATE TABLE RKFolder (uuid TEXT, name TEXT);"
                         "INSERT INTO RKFolder VALUES ('f1', 'Holiday');"
                         "INSERT INTO RKMaster VALUES ('m1', '2020/a.jpg', 0), ('m2', '2020/b.jpg', 0);"
                         "INSERT INTO RKVersion VALUES (1, 'v1', 'm1', 'f1', 'a', 0, 1, 1),"
                         " (2, 'v2', 'm2', 'f1', 'b', 0, 1, 1);",
                         nullptr, nullptr, nullptr);
        sqlite3_close(db);
        return root;
    }();
    writeFile(package + QStringLiteral("/AlbumData.xml"), reinterpret_cast<const char*>(data), qint64(size));
    for (const QString& p : DataFiller::imagePathsInLibrary(package))
        if (p.isEmpty()) __builtin_trap();
    return 0;
}

}  // namespace fuzz
