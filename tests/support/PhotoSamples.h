#pragma once
// Phone, web and camera raw photos made at test time with the libraries that write them
// in the world: HEIF and AVIF by libheif (x265, aom), WebP by libwebp, and DNG by libtiff
// from a sensor pattern computed here. EXIF blocks are made with Exiv2.
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <utility>
#include <vector>

namespace testsupport {

// A TIFF-structured EXIF block (no "Exif\0\0" in front) holding the given tags, keyed by
// their Exiv2 names ("Exif.Image.Make", "Exif.Photo.DateTimeOriginal", ...). Whole
// numbers go in as the tag's own type; texts as texts.
QByteArray exifBlock(const QVariantMap& tags);

struct HeifSample {
    bool av1 = false;     // AVIF (aom) instead of HEIC (x265)
    int bits = 8;         // 8, 10 or 12 (AVIF: 8 or 12)
    int orientation = 1;  // the container's transformation, numbered as EXIF orientations
    int quality = 92;
    QByteArray exif;      // EXIF block for an Exif item
    QByteArray xmp;       // XMP packet for a mime item
    QByteArray icc;       // an ICC profile ('prof'), or
    int nclxPrimaries = 0;  // colour code points ('nclx') with these primaries and the sRGB curve
    QImage thumbnail;     // a thumbnail item showing this picture at half its size
    // The encoder's own settings by libheif's names ("chroma", "x265:slices").
    std::vector<std::pair<const char*, const char*>> settings;
};
// The picture is given in the stored layout; straight alpha is kept when it has alpha.
QByteArray makeHeif(const QImage& picture, const HeifSample& sample = {});

struct WebpSample {
    bool lossless = false;
    int quality = 92;
    QByteArray exif;
    QByteArray icc;
    QByteArray xmp;
};
QByteArray makeWebp(const QImage& picture, const WebpSample& sample = {});
// Frames of one size shown 100 ms each.
QByteArray makeAnimatedWebp(const QList<QImage>& frames);

struct DngSample {
    int orientation = 1;
    // How strongly each colour filter responds to white light; the file records the
    // neutral it saw (as shot), so a faithful development gives the scene's colours back.
    double gains[3] = {1.0, 1.0, 1.0};
    int blackLevel = 256;
    int whiteLevel = 4095;
    // An embedded preview in the stored layout: uncompressed RGB, or a baseline JPEG.
    QImage preview;
    bool jpegPreview = false;
    // A second, smaller picture in uncompressed RGB (in a sub-IFD after the sensor's), as
    // many cameras keep besides their full-size preview.
    QImage smallPicture;
    QString make = QStringLiteral("Acme");
    QString model = QStringLiteral("Sensor One");
    QString dateTimeOriginal;  // "yyyy:MM:dd HH:mm:ss", written into the EXIF directory
    // Added as a cataloguer adds them: IPTC keywords and city, and the lens in XMP.
    QStringList keywords;
    QString city;
    QString lens;
};
// A camera's DNG a cataloguer has tagged: Acme "Sensor Three", taken 2021:06:01 10:20:30,
// keywords "elephants" and "savanna", city "Nairobi", lens "Acme 50mm f/1.8".
DngSample taggedDngSample();
// A DNG whose sensor (an RGGB filter array behind linear sRGB primaries) saw `scene`, an
// sRGB picture in the stored layout with even sides.
QByteArray makeDng(const QImage& scene, const DngSample& sample = {});

// A scene of eight large flat patches of known sRGB colours (one of them white, enough
// that a development's automatic brightening leaves it white); patchColour(i) is the
// colour of patch i,
// and patchCentre(i, size) its centre in a picture of that size (stored layout).
QImage patchScene(int width, int height);
int patchCount();
QColor patchColour(int index);
QPoint patchCentre(int index, QSize size);
// The largest channel difference between a pixel and the colour it should show, and the
// worst of it over the patch centres of a picture of the patch scene (stored layout).
int colourError(QRgb pixel, const QColor& expected);
int worstPatchError(const QImage& picture);

// For a file its decoder turns upright (HEIF, camera raw): expects the header and the
// properties to give the upright size and no turn left to apply, and returns the
// decoded picture (null when it is not of that size).
QImage readUprightChecked(const QString& path, QSize upright);

// An XMP packet whose one property is the camera's firmware (aux:Firmware).
QByteArray xmpWithFirmware(const QString& firmware);

// A grey picture's one-channel files as other programs write them, without a profile:
// 8-bit BlackIsZero TIFF with LZW (libtiff), and a lossless JP2 of one component
// (OpenJPEG). The picture is Format_Grayscale8.
QByteArray makeGreyTiff(const QImage& grey);
QByteArray makeGreyJp2(const QImage& grey);
// How many channels a JPEG, PNG, TIFF or JP2 file stores, as its own library reads its
// header (libjpeg's components, the PNG colour type's samples, libtiff's SamplesPerPixel,
// OpenJPEG's components); 0 when it cannot tell.
int storedChannels(const QString& path);

// TIFFs of a picture as libtiff's own tools write them: the picture (a real photo) written
// plainly through libtiff in the given samples (strips of 8 rows, no compression), copied by
// `tiffcp` with the given arguments (compression and predictor, strips or tiles, planes) and
// given an orientation by `tiffset` when it is not 1. 16-bit samples carry the photo's
// levels times 257 with the low bits varied, so that a reader's rounding to 8 bits shows;
// the alpha of RGBA (unassociated, as most writers store it) falls to 0 across the left
// quarter. Empty when the tools are not installed (libtiff-tools); a test that makes one
// starts processes (BRISKO_STARTS_A_PROCESS).
enum class TiffSamples { Rgb8, Rgb16, Grey8, Rgba8, Cmyk8 };
QString tiffcpFile(const QString& path, const QImage& picture, TiffSamples samples, const QStringList& tiffcpArguments,
                   int orientation = 1);

// One real photo of each kind a sync client may rewrite under a reader, each with data
// well past its first pages: a JPEG and a PNG of a busy 640 x 480 picture, a HEIC made by
// libheif's encoder and a DNG.
struct PhotoOfAKind {
    QString fileName;  // "photo.jpg", "photo.png", "photo.heic", "photo.dng"
    QByteArray bytes;
};
QList<PhotoOfAKind> photosOfEachKind();

// Cuts the file to its first page, as a program rewriting it in place does first; false
// when it was no longer than that already.
bool cutToFirstPage(const QString& path);

}  // namespace testsupport
