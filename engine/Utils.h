#pragma once
// The engine object: one per process (sharedUtils). Its operations are spread over several
// source files by family; each family keeps its declarations in its own section below.
#include <QFont>
#include <QColor>
#include <QDateTime>
#include <QImage>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>
#include <QList>
#include <memory>
#include <mutex>
#include <optional>
#include "engine/ResourcePictures.h"
#include "platform/coreimage/CIFilter.h"
#include "platform/imageio/ImageIO.h"

class QAbstractButton;
class QWidget;

class CIImage;
class CIFilter;
class PictureRows;
struct PhotoFile;
namespace platform { struct Vec; }

class Utils {
public:
    static Utils& sharedUtils();

    // ---- Image loading, scaling, orientation, thumbnails and output writing ----
    // Sizes are pixels, rectangles y-up. Loaders return a null image for unreadable files.
    QImage getImageWithFixedOrientionFromUrl(const QString& path);
    // The same, saying why there is no picture when there is none, from the one decode.
    platform::DecodeResult loadImageWithFixedOrientionFromUrl(const QString& path,
                                                              const platform::DecodeOptions& options = {});
    // The same at a reduced size for a photo that is only to be shrunk to `target`: decoded
    // at a power-of-two reduction that keeps its detail for that size (see
    // imageloading::reducedDecode); null when none fits (or not a JPEG or camera raw file).
    // Of `reading`, the decoder threads, whileOpen and the opened file apply.
    QImage getImageWithFixedOrientionFromUrl(const QString& path, QSize target,
                                             const platform::DecodeOptions& reading = {});
    // The size a "Resize" step with these parameters gives an image of imageSize; empty
    // when the step asks for no usable size.
    static QSizeF resizeStepTarget(const QVariantList& parameters, QSizeF imageSize);
    // A "Resize" step's key: true fits every photo into the stored width and height keeping
    // its own shape; absent or false stretches each photo to that size.
    static constexpr const char* kMaintainAspectRatioKey = "maintainAspectRatio";
    QSizeF getImageOriginalSizeAtFilePathUrl(const QString& path);
    QVariantMap getImageeExifDict(const QString& path);
    QImage convertGraycolorModelToRgb(const QImage& image);
    // `reading` is how the picture is read (its whileOpen lets a test change the file under
    // the reader); the file's facts are read as usual.
    QImage getThumbnailImageAtFilePath(const QString& path, QSizeF size, const platform::DecodeOptions& reading = {});
    QImage getImageFromPath(const QString& path, QSizeF size, const platform::DecodeOptions& reading = {});
    QImage getAspectFillImageFormImage(const QImage& image, QSizeF size, int cropMode);
    QImage getImageThumbnailFromFilePath(const QString& path, float minWidth, float minHeight);
    QImage scaleImage(const QImage& image, QSizeF newSize);
    QImage cropImage(const QImage& image, const QRectF& cropRect);
    QSizeF aspectFitSizeWithMaxSize(QSizeF size, double scaledWidth);
    QSizeF aspectFitSizeWithMaxHeight(QSizeF size, double scaledHeight);
    QSizeF getAspectFitModeSizeWithsize(QSizeF size, QSizeF toSize);
    QImage imageFromCGImageRef(const QImage& image);
    QImage getCgiImageRef(const QImage& image);
    static CIImage getCIImageFromNSImage(const QImage& image);
    QImage getDrawedImage(const CIImage& image, QSizeF size, QPointF atPoint, const QRectF& fromRect);
    QImage getDrawedImage(const CIImage& image, QSizeF size, const QRectF& inRect, const QRectF& fromRect);
    QImage getTransparentImageFromImage(const QImage& image, float factor);
    void clearAllInPutParametersFromcurrentFilter(const std::shared_ptr<CIFilter>& filter);
    QRectF cgRectWithCiVector(const platform::Vec& vector);
    QPointF cgPointWithCiVector(const platform::Vec& vector);
    platform::Vec ciVectorWithCGRect(const QRectF& rect);
    static int totalBatchStepsApplied();
    QString timeFormattedString(qint64 seconds);
    QImage fixOrientation(const QImage& image, const QString& imageURL, QSizeF size);
    // Writes one output file of the save type with its properties; true only when the
    // destination now holds the new image.
    // `target` PrivateFile: filePath is an empty private temporary file the caller made and
    // places itself, written as it is (see platform::FileTarget). `check` says how the
    // written file is checked and receives the outcome (see platform::WriteCheck).
    bool saveImageInSelectedFormat(platform::ImageType saveType, const QString& filePath,
                                   const QImage& filteredImage, const QImage& imageRef, const QVariantMap& exifDict,
                                   float qualityFactor, int imageOrientation, const std::shared_ptr<PhotoFile>& photoFile,
                                   platform::FileTarget target = platform::FileTarget::ReplaceAtomically,
                                   platform::WriteCheck* check = nullptr);
    bool writeCGImage(const QImage& image, const QString& url, const QString& type, const QVariantMap& options,
                      platform::FileTarget target = platform::FileTarget::ReplaceAtomically,
                      platform::WriteCheck* check = nullptr);
    QImage imgfrmCG(const QImage& image);
    QVariantMap& setImageExifInfo(QVariantMap& dict, const QVariantMap& exifDict);

    // ---- Core Image set-up, the dispatcher and the program's own effects ----
    // Applies one effect step (a Core Image filter name or one of the program's own effect
    // names) with its size-relative parameter list to an image; a null image when the effect
    // yields nothing. The thumbnail flag makes the small framed previews of the editor's lists.
    // Every call works on a filter of its own, so calls from several threads do not meet.
    QImage applyFilterWithImage(const QImage& image, const QString& imageURL, const QString& filterName,
                                const QVariantList& parameters, bool IS_FOR_FILTER_THUMBNAILS_IMAGES);
    // The same for a photo handed over: an effect that reads the photo only near each row it
    // makes (colour adjustments, blurs) is rendered into the photo's own storage, so the
    // photo and its result are never held at once. image is left null or as it was. A
    // photo still held elsewhere (see platform::holdsPixelsAlone) is never written.
    QImage applyFilterWithImage(QImage&& image, const QString& imageURL, const QString& filterName,
                                const QVariantList& parameters, bool IS_FOR_FILTER_THUMBNAILS_IMAGES);
    // The same for a photo whose rows come and go while it is rendered (decoded a few rows
    // at a time, encoded as its rows are finished), for the effects whose rowReach is not
    // the whole picture. A null picture when the effect could not be made that way: the
    // photo's rows are then undefined, and it is made again the usual way.
    QImage applyFilterToRows(QImage&& image, const QString& imageURL, const QString& filterName,
                             const QVariantList& parameters, PictureRows& rows);
    // How far from the row it makes an effect reads the photo. Effects of the first two kinds
    // are made top row first into the photo's own storage, reading nothing of the photo
    // before they render it; a "Resize" reads the rows its output rows are resampled from.
    enum class RowReach {
        SameRow,       // the pixel itself: colour changes (brightness, contrast, sepia)
        NearRows,      // rows within a reach the parameters set: blurs, sharpening, a resize
        WholePicture,  // anywhere: distortions, turns, crops, frames, text and overlays, and
                       // the automatic corrections, which look at the whole photo first
    };
    static RowReach rowReach(const QString& filterName);
    // One step drawn on the editor's preview of a photo photoScale times the preview's size,
    // as it lands on the photo: the text effects keep margins and a fit in whole points of
    // the picture they draw on, so their text is laid out at the photo's size and drawn
    // scaled down. Every other effect is drawn as applyFilterWithImage draws it.
    QImage applyFilterToPreview(const QImage& preview, const QString& imageURL, const QString& filterName,
                                const QVariantList& parameters, double photoScale);
    // The editor's preview of a "Resize" step: the preview as the step would change it.
    QImage resizeAndCropImageForPreview(const QImage& preview, const QString& filterName,
                                        const QVariantList& parameters, float scaleFactor);
    // A rectangle of rect's size centred in inRect.
    static QRectF centerRect(const QRectF& rect, const QRectF& inRect);
    void removeTempFilterImageFiles();

    // Gives a Core Image filter its image inputs and the inputs that depend on the image's
    // size; for effect thumbnails also a preset that shows a typical result.
    void doSetupForFilter(CIFilter& filter, const QString& filterName, const QString& filterDisplayName,
                          const QImage& imageToEdit, bool IS_FOR_FILTER_THUMBNAILS_IMAGES);
    void doSetupForFilterForThumbNailImages(CIFilter& filter, const QString& filterName,
                                            const QString& filterDisplayName, const QImage& imageToEdit);
    // Sets a filter's inputs from a stored, size-relative parameter list, scaled to the image.
    void adjustFilterPrametersWithName(CIFilter& filter, const QString& filterName, const QVariantList& parameters,
                                       const QImage& image);
    // The Core Image path of the dispatcher: a filter by name, set up, fed the scaled list and
    // rendered back; displayName is the effect name the user chose ("Brightness" for
    // "CIColorControls").
    // owned, when given, is image itself handed over: it may be rendered in place.
    // With rows, only the render into the handed-over photo is made (see applyFilterToRows).
    QImage applyCoreImageFilter(const QImage& image, const QString& filterName, const QString& displayName,
                                const QVariantList& parameters, bool thumbnail, QImage* owned = nullptr,
                                PictureRows* rows = nullptr);

    // The program's own whole-image effects; each returns a new image (or its input where it
    // has nothing to do) and leaves the input unchanged.
    // The picture is handed over, and let go once it has been turned.
    QImage rotateImagedByDegrees(double degrees, QImage&& image);
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
    // Geometry in y-up points of the photo (one point per pixel); parameter lists hold
    // size-relative rectangles (platform::Vec) as stored by the editor.
    // The text is laid out as on a photo layoutScale times the image's size.
    QImage addWaterMarkToImage(const QImage& image, const QString& imageURL, const QString& filterName,
                               const QVariantList& filterParameters, double layoutScale = 1.0);
    QImage addImageToBackgroundImage(const QImage& image, const QString& filterName,
                                     const QVariantList& filterParameters);
    // The picture of a boundSize box turned clockwise by angle degrees, on a canvas the size of
    // the turned box's bounds.
    QImage rotateImageWithangle(double angle, const QImage& image, const QSizeF& boundSize);
    // The turned box's bounds, centred on the unturned box (negative origin when it grew).
    QRectF getRotatedRectForImageByDegrees(double degrees, const QImage& image, const QSizeF& boundSize);
    // The names a date stamp's "dateFormat" and "timeFormat" take, in the order the editor
    // lists them; the first of each is the default.
    // The program's own effect sets, in the order the effects screen lists them.
    static const QStringList& pictureFrameNames();   // 7
    static const QStringList& textureEffectNames();  // 16
    static const QStringList& stickerSetNames();     // 8
    static QStringList dateFormatNames();
    static QStringList timeFormatNames();
    // The font's face at the size that fits the string into the area; always a finite,
    // positive size.
    QFont fontSizedForAreaSize(const QSizeF& areaSize, const QString& string, const QFont& font);
    float scaleToAspectFit(const QSizeF& contentSize, const QSizeF& areaSize, float padding);
    QImage addCustomFrameToImage(const QImage& image, const QString& imageURL, const QString& filterName,
                                 const QVariantList& filterParameters, bool isForThumbnail);
    QImage addTexturesToImage(const QImage& image, const QString& imageURL, const QString& filterName,
                              const QVariantList& filterParameters, bool isForThumbnail);
    // Frame pieces and textures decoded (and pieces scaled) once, for every application.
    ResourcePictures& resourcePictures() { return resourcePictures_; }

    // ---- Text, date and view helpers: the same texts and effects as CommonFunc and
    // ViewHelpers give (Utils_TextHelpers.cpp) ----
    QString unitStringFromBytes(double bytes, int flags = 0) const;
    QString getDateTimeStringForImageUrl(const QString& path, const QString& dateOption, const QString& dateFormat,
                                         const QString& timeFormat) const;
    static QString getDateInFormatNEW(const QDateTime& date);
    static qint64 getDurationBetweenDate(const QDateTime& start, const QDateTime& end);
    static bool validateEmail(const QString& text);
    static QString getJSONFromDict(const QVariantMap& dict);
    static QDateTime getDateFromString(const QString& text, const QString& format);
    static QString getDateStringFromDate(const QDateTime& date, const QString& format);
    void disableSubViewsForView(QWidget* view);
    void enableSubViewsForView(QWidget* view);
    void setButtonTitleFor(QAbstractButton* button, const QString& title, const QColor& color);
    static void setWindow(QWidget* window, QWidget* parent);

    // The session of the batch saved to the user defaults (the photos as bookmarks beside
    // it), and the bookmarks alone; the rules are SavedState's (Utils_TextHelpers.cpp).
    bool saveProjectSessionToDefault();
    void saveBookmarkPathsFromTableView();

    // An image of a widget's current drawing, the size of its bounds.
    QImage imageOfView(QWidget* view);
    // A window of the engine's was resized: nothing depends on its size.
    void windowDidResize() {}

    // ---- Transition animation export ----
    // Runs currentFilter (a transition whose starter gave it its two pictures) through
    // "inputTime" 0 to 1 in steps of 1/steps, keeps one frame per step at the size in
    // sourceImageExtentForTransition and writes them as an animated GIF that repeats for
    // ever, 0.1 s a frame, named after the selected photo in the Desktop folder; the
    // written file is then read back into imgGIFforTransitionEffects.
    void startGeneratingAnitmatedGIF();
    void animate();
    void next();
    void callToGetImageFrameForTransition();
    void exportGifFileOfAnimatedFrames();
    // The size of the input of the last Core Image effect applied.
    QSizeF transitionExtent() const;
    void setTransitionExtent(const QSizeF& size);
    // The path the export writes to: "<photo name less extension>.gif" in folder (the
    // Desktop folder when empty). An existing file is never replaced: a number is added
    // to the name instead. Empty without a selected photo.
    static QString gifExportPath(const QString& folder = QString());

    CIFilterPtr currentFilter;
    QList<QImage> arrayOfAnimatedFramesForGif;
    double start = 0;  // seconds since the epoch of the last step
    double timeValue = 0;
    double totalDuration = 0;
    int steps = 0;
    double stepDuration = 0;
    QSizeF sourceImageExtentForTransition;
    QImage imgGIFforTransitionEffects;
    // Where the export writes; empty for the Desktop folder.
    QString gifExportFolder;
    // The path of the last written GIF (empty when the last export wrote nothing).
    QString lastGifPath;

private:
    // A loaded photo whose properties call it grey, redrawn in colour; others as they are.
    QImage inColour(const QImage& image, const QVariantMap& props);
    // Both applyFilterWithImage; owned is image itself when it was handed over.
    QImage applyFilter(const QImage& image, QImage* owned, const QString& imageURL, const QString& filterName,
                       const QVariantList& parameters, bool thumbnail);

    // Guards sourceImageExtentForTransition, which effects on any thread update.
    mutable std::mutex transitionMutex_;
    // A few textures' worth (a texture is 1.5 MB decoded, a frame's pieces a few hundred KB).
    ResourcePictures resourcePictures_{24 * 1024 * 1024};

    Utils() = default;
    Utils(const Utils&) = delete;
    Utils& operator=(const Utils&) = delete;
};
