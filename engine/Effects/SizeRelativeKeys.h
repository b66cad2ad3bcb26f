#pragma once
// Which parameter values are stored as fractions of the image size. The editor divides by the
// preview size when it stores a step and the engine multiplies by each photo's size when it
// applies one; both sides ask these helpers so a step looks the same on the preview and the photo.
#include <QString>

namespace effects {

// A single number that follows the image's width (radii, widths, noise levels, fall-offs,
// sharpness, pixellate cell sizes and the intensities that are really distances).
bool scalesWithWidth(const QString& filterName, const QString& key);

// A point stored as (x / W, y / H).
inline bool isSizeRelativePoint(const QString& key) { return key == QLatin1String("inputCenter"); }

// A rectangle stored as (x / W, y / H, width / W, height / H).
bool isSizeRelativeRect(const QString& key);

// A font size stored as a fraction of the height.
inline bool scalesWithHeight(const QString& key) { return key == QLatin1String("fontSize"); }

}  // namespace effects
