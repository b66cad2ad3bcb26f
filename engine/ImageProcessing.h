#pragma once
// Basic image chores shared by the engine and the screens: the upright loader at a
// requested size, redrawing at a size, mirror flips, a grey copy, and the orientation
// routines that turn an upright picture back into the layout an EXIF tag describes.
// Every operation returns a new image and leaves its input unchanged.
#include "platform/imageio/ImageIO.h"

#include <QImage>
#include <QSizeF>
#include <QString>
#include <QVariantMap>
#include <QColor>
#include <QRectF>
#include <QSize>
#include <array>
#include <cstdint>
#include <optional>

#include "platform/imageio/ImageIO.h"

class CIImage;

class ImageProcessing {
public:
    ImageProcessing() = delete;

    // The image-properties dictionary of the file's first image; empty when unreadable.
    static QVariantMap exifForFile(const QString& path);

    // While one lives, exifForFile of its path on its thread answers with the properties it
    // was given instead of reading the file again: one photo's loading, steps and writing
    // ask for them several times, and each reading opens and parses the file. Given the
    // file's opening as well, headerOfFile reads that instead of opening the file again.
    class KnownProperties {
    public:
        KnownProperties(QString path, QVariantMap properties,
                        std::shared_ptr<const platform::OpenedFile> opened = nullptr);
        ~KnownProperties();
        KnownProperties(const KnownProperties&) = delete;
        KnownProperties& operator=(const KnownProperties&) = delete;

    private:
        friend class ImageProcessing;
        QString path_;
        QVariantMap properties_;
        std::shared_ptr<const platform::OpenedFile> opened_;
        const KnownProperties* outer_;
    };

    // The header of the file's first image (platform::readImageHeader), from the opening a
    // KnownProperties of its path on this thread holds when there is one.
    static platform::ImageHeader headerOfFile(const QString& path);

    // The photo upright. A photo whose orientation tag is not 1 comes back at the
    // aspect-fit size for minWidth (decoded at reduced size where possible); one with
    // orientation 1 comes back at its full pixel size. Null when unreadable.
    static QImage getImageFromFile(const QString& path, float minWidth, float minHeight,
                                   const platform::DecodeOptions& reading = {});

    // The whole image stretched to width x height; null for a size not above 0.
    static QImage resizeImage(const QImage& image, int width, int height);
    // A square thumbnail of the file, size x size.
    static QImage resizeImage(const QString& path, int size);

    static QImage flipImageVertically(const QImage& image);
    static QImage flipImageHorizontally(const QImage& image);

    // An 8-bit grey copy (Format_Grayscale8), transparent parts over black.
    static QImage convertOriginalImageToBWImage(const QImage& image);

    // ---- smaller chores (ImageProcessing_Helpers.cpp) ----
    // The picture with its white point moved to color, at size.
    static QImage getRGBColoredImage(const QImage& image, QSize size, const QColor& color);
    // Redrawn at size (whole pixels) with the interpolation quality given in the
    // platform's numbering (0 default, 1 none, 2 low, 3 high).
    static QImage resizedImage1(const QImage& image, QSizeF size, int interpolationQuality);
    // Scaled to size after a box average that covers each output pixel's share of the
    // source, so a reduction shows no stair steps.
    static QImage resizeImage(const QImage& image, QSize size);
    // Redrawn at size, then each pixel the average of the boxSize x boxSize box around it
    // (an even size counts as the next odd one; edges repeat outward).
    static QImage blurImage(const QImage& image, QSize size, int boxSize);

    // Counts of each value 0..255 per channel, in the order alpha, red, green, blue,
    // over the picture's unpremultiplied pixels.
    using Histograms = std::array<std::array<uint64_t, 256>, 4>;
    static bool computeHistogramForImage(const QImage& image, Histograms& histograms);
    // Logs "Printing Histogram", then "Component-<n>" and each count per channel.
    static void printHistograms(const Histograms& histograms);
    // Whether the two pictures have the same histograms.
    static bool compareHistogramsForImage(const QImage& image, const QImage& other);
    // Spreads each colour channel's values over the whole range by their histogram
    // (alpha is kept) and writes the result as PNG at path; whether it was written.
    static bool equalizeAndSaveImage(const QImage& image, const QString& path);

    // The file's picture redrawn at width x height, written as PNG next to the file as
    // "<name>_<width>x<height>.png"; the path written, empty on failure.
    static QString saveThumbnailForFile(const QString& path, int thumbnailWidth, int thumbnaiHeight);
    // Writes the picture as PNG; whether it was written.
    static bool saveImage(const QImage& image, const QString& path);
    // Thumbnails of the file, upright: no larger than the larger of width and height
    // (toWidth:toHeight:), respectively 130 (getThumbnailForFile), returned at width x
    // height.
    static QImage resizeImage(const QString& path, int toWidth, int toHeight);
    static QImage getThumbnailForFile(const QString& path, int width, int height);
    // A thumbnail of at most 300 pixels returned at minWidth (a photo wider than high) or
    // minHeight (any other), the other side in proportion.
    static QImage resizeImage(const QString& path, float minWidth, float minHeight);
    // The pixel size the file's properties give; 0 x 0 when unknown.
    static QSize sizeOfImageAtURL(const QString& path);
    // A thumbnail of at most 10 pixels.
    static QImage thumbnailImage(const QString& path);
    // "DateTimeOriginal" of the "{Exif}" group of an image-properties dictionary.
    static QVariant getCreationTimeForExif(const QVariantMap& properties);
    // A Core Image picture rendered: rect of it, or its whole extent.
    static QImage imageWithCIImage(const CIImage& image, const QRectF& fromRect);
    static QImage imageWithCIImage(const CIImage& image);
    // A picture of size filled with color.
    static QImage imageWithColor(const QColor& color, QSize size);
    // The picture turned by degrees (counter-clockwise, y-up) on a canvas its turned
    // bounds' size, then scaled back to its own width.
    static QImage rotateImagedByDegrees(double degrees, const QImage& image);
};

// The loaders' steps on a properties dictionary the caller has already read, so one
// load reads the file's metadata once.
namespace imageloading {
// The photo's pixel size as shown upright; 0 x 0 when nothing tells it.
QSizeF uprightSize(const QString& path, const QVariantMap& props);
// The orientation tag the photo is turned upright by, as its properties read it (the TIFF
// group's; 0 when it has none).
int storedOrientation(const QVariantMap& props);
// ImageProcessing::getImageFromFile with the file's properties given. A camera raw file
// asked for narrower than it is comes at the width asked for, from its embedded preview
// when that is large enough, so it shows as fast as a JPEG.
QImage loadUpright(const QString& path, const QVariantMap& props, float minWidth, float minHeight,
                   const platform::DecodeOptions& reading = {});
// The photo upright at its full size, or why it cannot be: one decode of the file.
platform::DecodeResult decodeUpright(const QString& path, const QVariantMap& props,
                                     const platform::DecodeOptions& options = {});
// How a photo with this header, shown in this orientation, is decoded reduced to be shrunk
// to `target` (upright): the decode options, and the upright size the result must reach.
// A JPEG's reduced decode keeps four times the target on each side: the decoder's scaling
// works within each 8 x 8 block alone, and the block edges that leaves (a pattern of four
// reduced pixels at half size) pass a 2:1 resample half filtered but not a 4:1 one, so the
// result is the full decode resampled to within about a rounding step (a detailed photo at
// an eighth: 55.9 dB against 43.0 from twice the target; see bench/README.md). A camera
// raw file's half-size development bins its sensor's 2 x 2 cells, a true average, and
// goes down to the target itself. Nothing for other files or when no reduction fits.
struct ReducedDecode {
    platform::DecodeOptions options;
    QSize atLeast;
};
std::optional<ReducedDecode> reducedDecode(const platform::ImageHeader& header, int orientation, QSize target);
// The photo decoded upright as reducedDecode says, for a shrink to `target`; null when
// it says nothing. Of `reading`, the decoder threads, whileOpen and the opened file apply.
QImage loadUprightReduced(const QString& path, const QVariantMap& props, QSize target,
                          const platform::DecodeOptions& reading = {});
}  // namespace imageloading

// The image turned by a whole number of degrees counter-clockwise (y-up) about its centre
// into the frame of its turned bounds, then mirrored left-right and/or top-bottom.
// Multiples of 90 degrees are exact pixel permutations.
QImage RotateImageWithFlip(const QImage& image, bool mirrorLeftRight, bool mirrorTopBottom, float angle);

// An upright picture turned into the stored layout of an EXIF orientation, so that a
// viewer honouring the tag shows it upright again. Values below 2 or above 8 give the
// image back unchanged.
QImage RotateWithEXIF(const QImage& image, int orientation);

// Fit and cover scaling with alignment. Interpolation follows the platform's numbering
// (3 high, the default; 1 none). Alignment: 0 centre, 1 top, 2 top-left, 3 top-right,
// 4 left, 5 bottom, 6 bottom-left, 7 bottom-right, 8 right; larger values bottom-left.
struct NiceScaling {
    NiceScaling() = delete;
    static QSizeF scaledSizeToFitSize(QSizeF size, QSizeF box);
    static QSizeF scaledSizeToCoverSize(QSizeF size, QSizeF box);
    // A box-sized image with the picture fitted and centred; with drawBox the fitted
    // rectangle is filled white under the picture and outlined in black over it.
    static QImage scaledImageToFitSize(const QImage& image, QSizeF box, int interpolation = 3, bool drawBox = false);
    // A box-sized image covered by the picture, placed by the alignment and clipped.
    static QImage scaledImageToCoverSize(const QImage& image, QSizeF box, int interpolation = 3, bool drawBox = false,
                                         int align = 0);
};
