#pragma once
// PNG files of the kinds photos come in, made from a real photo by Qt's writer (libpng):
// grey, 16 bits a sample, a palette; and interlaced, which Qt does not write, laid out
// here pass by pass. The desktop photos packaged as PNG cover RGB, RGBA with transparency
// and grey with alpha as they are.
#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>
#include <QtEndian>
#include <zlib.h>

namespace testsupport {

enum class PngKind { Rgb, Grey, Deep, Palette, Interlaced };

// The opaque picture as an interlaced (Adam7) 8-bit RGB PNG, its rows unfiltered.
inline QByteArray interlacedPng(const QImage& photo) {
    const QImage picture = photo.convertToFormat(QImage::Format_RGB32);
    const int w = picture.width(), h = picture.height();
    const auto chunk = [](const char* type, const QByteArray& data) {
        QByteArray c(4, '\0');
        qToBigEndian<quint32>(quint32(data.size()), c.data());
        const QByteArray body = QByteArray(type, 4) + data;
        QByteArray crc(4, '\0');
        qToBigEndian<quint32>(quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()))),
                              crc.data());
        return c + body + crc;
    };
    QByteArray ihdr(13, '\0');
    qToBigEndian<quint32>(quint32(w), ihdr.data());
    qToBigEndian<quint32>(quint32(h), ihdr.data() + 4);
    ihdr[8] = 8;   // bits a sample
    ihdr[9] = 2;   // RGB
    ihdr[12] = 1;  // Adam7
    const int passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    QByteArray raw;
    for (const auto& p : passes) {
        if (p[0] >= w || p[1] >= h) continue;  // an empty pass has no rows at all
        for (int y = p[1]; y < h; y += p[3]) {
            raw.append('\0');
            const auto* line = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
            for (int x = p[0]; x < w; x += p[2])
                raw.append(char(qRed(line[x]))).append(char(qGreen(line[x]))).append(char(qBlue(line[x])));
        }
    }
    uLongf size = compressBound(uLong(raw.size()));
    QByteArray z(qsizetype(size), '\0');
    if (compress2(reinterpret_cast<Bytef*>(z.data()), &size, reinterpret_cast<const Bytef*>(raw.constData()),
                  uLong(raw.size()), 6) != Z_OK)
        return QByteArray();
    z.resize(qsizetype(size));
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) + chunk("IDAT", z) + chunk("IEND", QByteArray());
}

inline QByteArray pngOfKind(const QImage& photo, PngKind kind) {
    if (kind == PngKind::Interlaced) return interlacedPng(photo);
    QImage picture = photo.convertToFormat(QImage::Format_RGB32);
    switch (kind) {
    case PngKind::Rgb:
    case PngKind::Interlaced: break;
    case PngKind::Grey: picture = picture.convertToFormat(QImage::Format_Grayscale8); break;
    case PngKind::Deep: picture = picture.convertToFormat(QImage::Format_RGBX64); break;
    case PngKind::Palette: picture = picture.convertToFormat(QImage::Format_Indexed8); break;
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    return writer.write(picture) ? png : QByteArray();
}

}  // namespace testsupport
