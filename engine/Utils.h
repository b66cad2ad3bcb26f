#pragma once
// The engine object: one per process (sharedUtils). Its operations are spread over several
// source files by family; each family keeps its declarations in its own section below.
#include <QImage>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>
#include <memory>
#include <QColor>
#include <QRectF>
#include <QSizeF>

class Utils {
public:
    static Utils& sharedUtils();

    // ---- Image loading, scaling, orientation, thumbnails and output writing ----

    // ---- Core Image set-up, the dispatcher and the program's own effects ----
    // Applies one effect step (a Core Image filter name or one of the program's own effect
    // names) with its size-relative parameter list to an image; a null image when the effect
    // yields nothing. The thumbnail flag makes the small framed previews of the editor's lists.
    // Every call works on a filter of its own, so calls from several threads do not meet.
    QImage applyFilterWithImage(const QImage& image, const QString& imageURL, const QString& filterName,
                                const QVariantList& parameters, bool IS_FOR_FILTER_THUMBNAILS_IMAGES);
    // The editor's preview of a "Resize" step: the preview as the step would change it.
    QImage resizeAndCropImageForPreview(const QImage& preview, const QString& filterName,
                                        const QVariantList& parameters, float scaleFactor);
    // A rectangle of rect's size centred in inRect.
    static QRectF centerRect(const QRectF& rect, const QRectF& inRect);
    void removeTempFilterImageFiles();

    // The program's own whole-image effects; each returns a new image (or its input where it
    // has nothing to do) and leaves the input unchanged.
    QImage rotateImagedByDegrees(double degrees, const QImage& image);
    QImage flipImage(const QImage& image, const QVariantList& filterParameters);
    QImage addBorderToImage(const QImage& image, const QColor& color, float borderWidth, float cornerRadius);
    QImage applyBlackAndWhiteImage(const QImage& image, const QVariantList& filterParameters);
    QImage blackAndWhiteImageFromImage(const QImage& image, float intensity);
    QImage applyRGBFilterOnImage(const QImage& image, const QString& imageURL, const QString& filterName,
                                 const QVariantList& filterParameters);
    QImage imageTintedWithColor(const QColor& color, const QImage& inputmage);
    QImage applySkecthEffect(const QImage& image, const QVariantList& filterParameters);
    QImage customEnhanceImage(const QImage& image, const QString& imageURL, const QString& filterName,
                              const QVariantList& filterParameters);
    // Corrections chosen by the automatic analysis of the picture; the result keeps the
    // image's size.
    static QImage autoEnhance(const QImage& image);
    static QImage redEyeCorrection(const QImage& image);

    // ---- Text, date and image overlays, frames, textures ----

private:
    Utils() = default;
    Utils(const Utils&) = delete;
    Utils& operator=(const Utils&) = delete;
};
