#pragma once
// The program's knowledge of effect parameters: one shared object (sharedInstance).
// Its operations are spread over source files by family, each with its own section.
#include <QImage>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QRectF>
#include <QSizeF>
#include <mutex>

struct AppliedFilter;

class FilterCustomization {
public:
    static FilterCustomization& sharedInstance();

    // ---- Size-relative storing, look-ups, slider ranges and defaults, crop ratios ----
    // Parameter lists store geometry as fractions of the image size so one list of steps fits
    // photos of every size. Sizes are in points; both dimensions must be above 0.
    QVariantList convertFilterParametrsInPerCent(const QString& filterName, QSizeF imageSize,
                                                 const QVariantList& filterparams);
    QVariantList convertBackFilterParametrsFromPerCent(const QString& filterName, QSizeF imageSize,
                                                       const QVariantList& filterparams);
    float getConvertedParamterFromPercentBase(float value, const QString& key, QSizeF imageSize,
                                              const QString& filterName);
    void updateFilterParametersWithKey(const QString& key, const QVariant& value);
    QVariant getSavedFloatValueForKey(const QString& key, const QVariantList& arrayOfParameters) const;
    QVariant getSavedStringValueForKey(const QString& key, const QVariantList& arrayOfParameters) const;
    QVariant getSavedRectOrPointValueForKey(const QString& key, const QVariantList& arrayOfParameters) const;
    double getMinValueForFilter(const QString& filterName, const QString& key, double minValue) const;
    double getMaxValueForFilter(const QString& filterName, const QString& key, double minValue) const;
    double getDefaultValueForFilter(const QString& filterName, const QString& key, double defaultValue) const;
    float getHeightMultiplierRatioForCropRatio(int cropRatio) const;
    QRectF getExtendRectForSelectedCropRatio(int cropRatio, int orientation) const;
    // The same two with the preview box and crop choice given, for callers without the app state.
    static float heightMultiplierFor(int cropRatio, int orientation, QSizeF box);
    static QRectF extendRectFor(int cropRatio, int orientation, QSizeF box, int selectedCropRatio,
                                int selectedOrientation);
    // The working copy of the last list given to a conversion.
    QVariantList workingParameters() const;

private:
    QVariantList convertList(const QString& filterName, QSizeF imageSize, const QVariantList& list,
                             bool toFractions);
    mutable std::mutex parametersMutex_;
    QVariantList arrFilterParametres;

public:

    // ---- Labels, step summaries, the default overlay square, texture pictures ----
    // Short labels of Core Image categories and filters; other names come back unchanged.
    QString getCustomDisplayNameForCategory(const QString& categoryDisplayName) const;
    QString getCustomDisplayNameForFilter(const QString& filterNameOrDisplayName) const;
    // One line describing a step's settings, values as stored; empty for effects without one.
    QString getSavedKeyValueForFavoriteFilter(const AppliedFilter& appliedFilter) const;
    // Where a new image overlay starts: a square centred in the preview box (y-up points).
    QRectF getDefaultRectForFilter(const QString& filterName) const;
    // The file name of a texture set's first picture; empty for names without pictures.
    static QString firstFrameForCategory(const QString& textureEffectName);

private:
    FilterCustomization() = default;
};
