#include "tests/support/ColourReferences.h"
#include "tests/support/TestSupport.h"

#include <QtEndian>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <vector>
#include <zlib.h>

namespace testsupport {

namespace {

// A picture from qt6-base-dev's documentation that carries the widespread profile.
const QString kPictureWithWidespreadSrgb = QStringLiteral("/usr/share/qt6/doc/global/template/images/horBar.png");

using Matrix = std::array<std::array<double, 3>, 3>;
Matrix multiply(const Matrix& a, const Matrix& b) {
    Matrix m{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) m[i][j] += a[i][k] * b[k][j];
    return m;
}
Matrix inverse(const Matrix& m) {
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    Matrix r;
    r[0][0] = (m[1][1] * m[2][2] - m[1][2] * m[2][1]) / det;
    r[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) / det;
    r[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) / det;
    r[1][0] = (m[1][2] * m[2][0] - m[1][0] * m[2][2]) / det;
    r[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) / det;
    r[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) / det;
    r[2][0] = (m[1][0] * m[2][1] - m[1][1] * m[2][0]) / det;
    r[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) / det;
    r[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) / det;
    return r;
}
// RGB to XYZ for primaries (x, y) and the D65 white.
Matrix rgbToXyz(double xr, double yr, double xg, double yg, double xb, double yb) {
    const double xw = 0.3127, yw = 0.3290;
    const Matrix p{{{xr / yr, xg / yg, xb / yb}, {1, 1, 1}, {(1 - xr - yr) / yr, (1 - xg - yg) / yg, (1 - xb - yb) / yb}}};
    const std::array<double, 3> white{xw / yw, 1.0, (1 - xw - yw) / yw};
    const Matrix pi = inverse(p);
    std::array<double, 3> s{};
    for (int i = 0; i < 3; ++i) s[size_t(i)] = pi[i][0] * white[0] + pi[i][1] * white[1] + pi[i][2] * white[2];
    Matrix m = p;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) m[i][j] *= s[size_t(j)];
    return m;
}

}  // namespace

QByteArray debianProfile(const QString& path) {
    const QByteArray bytes = readFile(path);
    EXPECT_FALSE(bytes.isEmpty()) << path.toStdString() << " is missing: run scripts/deps.sh";
    return bytes;
}

QByteArray pngChunkProfile(const QByteArray& png) {
    for (qsizetype at = 8; at + 12 <= png.size();) {
        const quint32 length = qFromBigEndian<quint32>(png.constData() + at);
        const QByteArray type = png.mid(at + 4, 4);
        if (type == "iCCP") {
            const QByteArray data = png.mid(at + 8, qsizetype(length));
            const QByteArray packed = data.mid(data.indexOf('\0') + 2);
            QByteArray out(1 << 20, '\0');
            uLongf size = uLongf(out.size());
            if (uncompress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(packed.constData()),
                           uLong(packed.size())) != Z_OK)
                return {};
            return out.left(qsizetype(size));
        }
        if (type == "IDAT") break;
        at += 12 + qsizetype(length);
    }
    return {};
}

QByteArray widespreadSrgbProfile() {
    const QByteArray icc = pngChunkProfile(readFile(kPictureWithWidespreadSrgb));
    EXPECT_EQ(icc.size(), 3144) << "qt6-base-dev's picture with the sRGB profile is missing";
    EXPECT_TRUE(icc.contains("sRGB IEC61966-2.1"));
    return icc;
}

double srgbEncode(double linear) {
    linear = std::clamp(linear, 0.0, 1.0);
    return 255.0 * (linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055);
}

// An Adobe RGB (1998) colour in sRGB, from the two standards' primaries and curves.
QRgb adobeRgbInSrgb(QRgb c) {
    const Matrix toSrgb = multiply(inverse(rgbToXyz(0.64, 0.33, 0.30, 0.60, 0.15, 0.06)),
                                   rgbToXyz(0.64, 0.33, 0.21, 0.71, 0.15, 0.06));
    const double lin[3] = {std::pow(qRed(c) / 255.0, 563.0 / 256.0), std::pow(qGreen(c) / 255.0, 563.0 / 256.0),
                           std::pow(qBlue(c) / 255.0, 563.0 / 256.0)};
    int out[3];
    for (int i = 0; i < 3; ++i)
        out[i] = int(std::lround(srgbEncode(toSrgb[i][0] * lin[0] + toSrgb[i][1] * lin[1] + toSrgb[i][2] * lin[2])));
    return qRgb(out[0], out[1], out[2]);
}

QByteArray libjpegFile(const QImage& picture, const QByteArray& icc, JpegColours colours) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = JDIMENSION(picture.width());
    c.image_height = JDIMENSION(picture.height());
    c.input_components = colours == JpegColours::Gray ? 1 : colours == JpegColours::CMYK ? 4 : 3;
    c.in_color_space = colours == JpegColours::Gray ? JCS_GRAYSCALE : colours == JpegColours::CMYK ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 100, TRUE);
    for (int i = 0; i < c.num_components; ++i) c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
    jpeg_start_compress(&c, TRUE);
    if (!icc.isEmpty()) jpeg_write_icc_profile(&c, reinterpret_cast<const JOCTET*>(icc.constData()), unsigned(icc.size()));
    const QImage argb = picture.convertToFormat(QImage::Format_ARGB32);
    std::vector<unsigned char> row(size_t(argb.width()) * size_t(c.input_components));
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) {
            const QRgb v = argb.pixel(x, y);
            unsigned char* p = row.data() + size_t(x) * size_t(c.input_components);
            if (colours == JpegColours::CMYK)
                p[0] = uchar(255 - qRed(v)), p[1] = uchar(255 - qGreen(v)), p[2] = uchar(255 - qBlue(v)), p[3] = uchar(255 - qAlpha(v));
            else if (colours == JpegColours::Gray)
                p[0] = uchar(qRed(v));
            else
                p[0] = uchar(qRed(v)), p[1] = uchar(qGreen(v)), p[2] = uchar(qBlue(v));
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    QByteArray out(reinterpret_cast<const char*>(buffer), qsizetype(size));
    std::free(buffer);
    return out;
}

int colourDistance(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

}  // namespace testsupport
