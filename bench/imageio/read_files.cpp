// Reads picture files the way the program does (header, properties, the whole picture,
// a thumbnail, the picture written as PNG and JPEG in memory) and prints a line per file
// with its size and a checksum of the decoded pixels and of the encoded files. Two runs
// over the same files print the same lines; under valgrind (bench/valgrind_files.sh) it
// shows reads of memory no decoder wrote. Not part of CI; see bench/README.md.
//
//   bench_read_files [--write <folder>] <file or folder>...
//
// --write saves each decoded picture as <folder>/<file name>.png (straight alpha, 8 bits),
// for comparing with another reader's (`compare -metric AE`).
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/ImageProperties.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>

namespace {

// FNV-1a: every byte goes into the printed number, so valgrind names any byte no one wrote.
struct Digest {
    uint64_t h = 0xcbf29ce484222325ull;
    void add(const char* p, qsizetype n) {
        for (qsizetype i = 0; i < n; ++i) h = (h ^ uint8_t(p[i])) * 0x100000001b3ull;
    }
    QByteArray text() const { return QByteArray::number(qulonglong(h), 16).rightJustified(16, '0'); }
};

QByteArray digest(const QByteArray& bytes) {
    Digest d;
    d.add(bytes.constData(), bytes.size());
    return d.text();
}

QByteArray pixelDigest(const QImage& image) {
    Digest d;
    const qsizetype rowBytes = qsizetype(image.width()) * image.depth() / 8;
    for (int y = 0; y < image.height(); ++y) d.add(reinterpret_cast<const char*>(image.constScanLine(y)), rowBytes);
    return d.text();
}

QByteArray fileDigest(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? digest(f.readAll()) : QByteArray("none");
}

void readOne(const QString& path, const QString& writeTo, const QTemporaryDir& scratch) {
    const platform::ImageHeader header = platform::readImageHeader(path);
    const QVariantMap properties = platform::readImageProperties(path);
    const platform::DecodeResult decoded = platform::decodeImage(path);
    const QImage thumbnail = platform::makeThumbnail(path, 256, 256);
    QByteArray line = QFile::encodeName(path) + ": ";
    if (!decoded.ok()) {
        line += "no picture (" + QByteArray::number(int(decoded.failure)) + ")";
    } else {
        const QImage& image = decoded.image;
        if (!writeTo.isEmpty())
            image.convertToFormat(QImage::Format_ARGB32).save(writeTo + u'/' + QFileInfo(path).fileName() + ".png", "PNG");
        line += QByteArray::number(image.width()) + "x" + QByteArray::number(image.height()) + " pixels " +
                pixelDigest(image) + " png " + digest(platform::encodeImage(image, platform::ImageType::PNG, 1.0)) +
                " jpeg " + digest(platform::encodeImage(image, platform::ImageType::JPEG, 0.8));
        // The writer's own way, with the file's properties (a grey photo is written grey).
        for (const auto& [type, suffix] : {std::pair{platform::ImageType::PNG, "png"}, {platform::ImageType::TIFF, "tif"}}) {
            const QString out = scratch.filePath(QStringLiteral("out.") + QLatin1String(suffix));
            const bool written = platform::writeImageFile(out, image, type, 0.8, properties);
            line += QByteArray(" file ") + suffix + " " + (written ? fileDigest(out) : QByteArray("not written"));
        }
    }
    line += " header " + QByteArray::number(header.width) + "x" + QByteArray::number(header.height) + " properties " +
            QByteArray::number(properties.size()) + " thumbnail " +
            (thumbnail.isNull() ? QByteArray("none") : pixelDigest(thumbnail));
    std::printf("%s\n", line.constData());
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList files;
    QStringList args = app.arguments().mid(1);
    QString writeTo;
    if (args.size() >= 2 && args.first() == "--write") {
        writeTo = args.at(1);
        args = args.mid(2);
    }
    for (const QString& arg : args) {
        if (QFileInfo(arg).isDir()) {
            QDirIterator it(arg, QDir::Files, QDirIterator::Subdirectories);
            QStringList found;
            while (it.hasNext()) found << it.next();
            found.sort();
            files << found;
        } else {
            files << arg;
        }
    }
    if (files.isEmpty()) {
        std::fprintf(stderr, "usage: bench_read_files <file or folder>...\n");
        return 2;
    }
    QTemporaryDir scratch;
    for (const QString& file : files) readOne(file, writeTo, scratch);
    return 0;
}
