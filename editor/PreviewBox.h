#pragma once
// The size of the effects screen's preview for the room its centre column has. The preview
// is 580 x 440 points; a larger window gives it more, keeping its shape, once the column is
// wider than that and taller than that with the photo strip below it at its full height;
// the strip never grows past that height (its tiles are as tall as it is).
#include <QSize>

namespace previewbox {

inline constexpr QSize kBase{580, 440};
// The photo strip's greatest height: tiles of about 250 points, two or more in a row.
inline constexpr int kStripHeight = 300;

// The preview's size for the centre column's room (width, and height above the footer).
QSize sizeFor(QSize centreRoom);

}  // namespace previewbox
