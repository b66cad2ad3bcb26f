#pragma once
// Which parameter values are stored as fractions of the image size. The editor divides by the
// preview size when it stores a step and the engine multiplies by each photo's size when it
// applies one; both sides ask these helpers so a step looks the same on the preview and the photo.
#include <QString>
#include <QVariantList>

namespace effects {

// A single number that follows the image's width (radii, widths, pixellate cell sizes and
// the intensities that are really distances).
bool scalesWithWidth(const QString& filterName, const QString& key);

// Strengths on a fixed scale (noise level, fall-off, sharpness): the same on every photo.
bool isStrength(const QString& key);
// Lists stored before strengths were kept as they are held them divided by the preview's
// width, and the preview showed them multiplied by it again. A list that carries this key
// holds its strengths as they are.
inline constexpr const char* kPlainStrengthsKey = "plainStrengths";
// The width the preview had for those lists (its box is 580 points wide).
inline constexpr double kLegacyPreviewWidth = 580.0;
// The list with its strengths as they are: a list without the key has them multiplied back
// by the preview width, and gets the key. A list with the key, or without strengths, comes
// back as it is.
QVariantList withPlainStrengths(const QVariantList& list);
// Marks a list whose strengths are already as they are (a newly stored one).
QVariantList markPlainStrengths(const QVariantList& list);

// A point stored as (x / W, y / H).
inline bool isSizeRelativePoint(const QString& key) { return key == QLatin1String("inputCenter"); }

// A rectangle stored as (x / W, y / H, width / W, height / H).
bool isSizeRelativeRect(const QString& key);

// A font size stored as a fraction of the height.
inline bool scalesWithHeight(const QString& key) { return key == QLatin1String("fontSize"); }

}  // namespace effects
