#pragma once
// Aspect-fit arithmetic as the engine does it everywhere: the scale factor is a single-precision
// quotient and products are rounded to single precision, so sizes agree to the last bit between
// the editor, the effects and the batch run. A zero or negative source gives an empty size
// instead of an infinite one.
#include <QSizeF>

namespace effects {

inline QSizeF fitToWidth(QSizeF s, double width) {
    if (s.width() <= 0 || s.height() <= 0) return QSizeF(0, 0);
    const float f = float(width) / float(s.width());
    return QSizeF(double(float(s.width()) * f), double(f * float(s.height())));
}

inline QSizeF fitToHeight(QSizeF s, double height) {
    if (s.width() <= 0 || s.height() <= 0) return QSizeF(0, 0);
    const float f = float(height) / float(s.height());
    return QSizeF(double(f * float(s.width())), double(float(s.height()) * f));
}

// The largest size of the source's aspect ratio inside the box.
inline QSizeF fitInside(QSizeF s, QSizeF box) {
    if (s.width() <= 0 || s.height() <= 0 || box.width() <= 0 || box.height() <= 0) return QSizeF(0, 0);
    const float f = s.width() > s.height() ? float(box.width()) / float(s.width())
                                           : float(box.height()) / float(s.height());
    QSizeF r(double(float(s.width()) * f), double(float(s.height()) * f));
    if (r.width() > box.width()) r = fitToWidth(r, box.width());
    if (r.height() > box.height()) r = fitToHeight(r, box.height());
    return r;
}

}  // namespace effects
