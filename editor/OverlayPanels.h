#pragma once
// The overlay effects' panel rules without a widget: which pictures a frame, texture or
// sticker set lists, the starting values of image and text overlays, the text box's width
// and font size, the alignment buttons, and what the text box shows for a parameter list.
#include <QColor>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QVariantList>

namespace OverlayPanels {

// The pictures of a frame or texture effect, by display name, in listed order; empty for a
// name without pictures.
QStringList frameImages(const QString& displayName);
QStringList textureImages(const QString& displayName);
// "<set>1.png" to "<set><count>.png"; empty for a name that is no sticker set.
QStringList stickerImages(const QString& setName);

// New image overlays (logo, custom picture, stickers): the default square, no turn, fully
// opaque, no flips. The picture comes when the user picks one.
QVariantList newImageOverlayParameters(const QRectF& defaultRect);

// Width of a new text box: 300 points, or the container's width less 60 when that is
// narrower than 300.
double textBoxWidth(double containerWidth);
// The text size an edited step shows: its stored fraction times the preview's height, to
// the nearest half point.
double editedFontSize(double storedFraction, double previewHeight);
// New text overlays ("Add Text", "Add Watermark", "Add Date") in container points.
QVariantList newTextParameters(const QString& filterName, double containerWidth);

// The alignment buttons' images for alignment 0 (left), 2 (centre), 1 (right); empty for
// any other value.
QStringList alignmentButtonImages(int alignment);

// What the text box shows for a parameter list, read as the output reads it. A date
// stamp always shows the date the output will carry, whatever text the list holds.
struct TextFieldState {
    QColor color;  // with the list's alpha
    QString text;
    QString fontName;  // empty or "System Default" for the system font
    int fontSize = 30;
    int alignment = 0;
};
TextFieldState textFieldState(const QString& filterName, const QVariantList& parameters, const QString& photoPath);

// The placeholder a text box shows while it has no text.
QString placeholderText();

// The font size kept when typing in the size field ends: the typed whole number, at
// least 8 (an empty or unreadable field gives 8).
int committedFontSize(const QString& typed);

}  // namespace OverlayPanels
