#pragma once
// Colour fixtures shared by the reading, writing, PDF and batch tests: real ICC profiles
// from Debian packages (scripts/deps.sh installs them) and colour conversions worked out
// from the standards' own numbers, independent of the program's conversions.
#include <QByteArray>
#include <QImage>
#include <QString>

namespace testsupport {

inline const QString kAdobeRgbProfile = QStringLiteral("/usr/share/color/icc/colord/AdobeRGB1998.icc");  // colord-data
inline const QString kGrayLstarProfile = QStringLiteral("/usr/share/color/icc/Gray-CIE_L.icc");  // icc-profiles-free
inline const QString kGrayLinearProfile = QStringLiteral("/usr/share/color/icc/Gray.icc");        // icc-profiles-free
inline const QString kLabAbstractProfile = QStringLiteral("/usr/share/color/icc/CineLogCurve.icc");
inline const QString kSGrayProfile = QStringLiteral("/usr/share/color/icc/ghostscript/sgray.icc");  // libgs-common
inline const QString kPressCmykProfile = QStringLiteral("/usr/share/color/icc/ghostscript/default_cmyk.icc");
inline const QString kPsCmykProfile = QStringLiteral("/usr/share/color/icc/ghostscript/ps_cmyk.icc");

// A profile's bytes; a test failure when the package is missing.
QByteArray debianProfile(const QString& path);

// The widespread 3,144-byte "sRGB IEC61966-2.1" profile that cameras and editors have
// embedded for decades, taken from a picture qt6-base-dev ships with it.
QByteArray widespreadSrgbProfile();

// The profile in a PNG's iCCP chunk, read with zlib alone; empty when there is none.
QByteArray pngChunkProfile(const QByteArray& png);

// A linear-light value (0..1) encoded with sRGB's curve, 0..255.
double srgbEncode(double linear);

// An Adobe RGB (1998) colour in sRGB, from the two standards' primaries and curves.
QRgb adobeRgbInSrgb(QRgb colour);

// How libjpegFile stores a picture.
enum class JpegColours { RGB, Gray, CMYK };

// A JPEG made with libjpeg at quality 100 without chroma subsampling, carrying `icc` (any
// bytes at all) as its profile. Gray stores the red channel. CMYK stores a Format_ARGB32
// picture's red, green, blue and alpha as the inks C, M, Y and K (0 none, 255 full),
// inverted as Adobe's CMYK JPEGs have them.
QByteArray libjpegFile(const QImage& picture, const QByteArray& icc, JpegColours colours);

// The largest difference of the three colour channels.
int colourDistance(QRgb a, QRgb b);

}  // namespace testsupport
