#include "editor/ResizeArithmetic.h"

#include "engine/Utils.h"

#include <cmath>

namespace {
// Whole numbers toward zero, with non-finite values and overflow read as 0.
int towardZero(double v) {
    if (!std::isfinite(v) || std::fabs(v) > 2.0e9) return 0;
    return int(v);
}
}  // namespace

bool ResizeArithmetic::usable(QSizeF photo) {
    return std::isfinite(photo.width()) && std::isfinite(photo.height()) && photo.width() >= 1 && photo.height() >= 1;
}

ResizeOutcome ResizeArithmetic::setup(QSizeF photo, int currentUnit, bool editing, bool savedPercentBased,
                                      int savedPercentW, int savedPercentH, int savedWidth, int savedHeight) {
    ResizeOutcome o;
    o.changed = true;
    const double W = photo.width(), H = photo.height();
    const bool ok = usable(photo);
    if (!editing) {
        if (currentUnit == 1) {
            o.unit = 1;
            o.width = o.height = 100;
            o.writes = {{"percentWidth", 100}, {"percentHeight", 100}, {"resizedWidth", double(W)},
                        {"resizedHeight", double(H)}, {"isPercentBaseResize", true}};
        } else {
            o.unit = 0;
            o.width = towardZero(W);
            o.height = towardZero(H);
            o.writes = {{"percentWidth", 100}, {"percentHeight", 100}, {"resizedWidth", o.width},
                        {"resizedHeight", o.height}, {"isPercentBaseResize", false}};
        }
        return o;
    }
    if (savedPercentBased) {
        o.unit = 1;
        o.width = savedPercentW;
        o.height = savedPercentH;
        o.writes = {{"percentWidth", savedPercentW}, {"percentHeight", savedPercentH},
                    {"resizedWidth", towardZero(W * savedPercentW / 100.0)}, {"resizedHeight", towardZero(H * savedPercentH / 100.0)},
                    {"isPercentBaseResize", true}};
    } else {
        o.unit = 0;
        o.width = savedWidth;
        o.height = savedHeight;
        // A photo whose size cannot be read keeps the percentages at 100.
        const int pw = ok ? towardZero(savedWidth * 100.0 / W) : 100;
        const int ph = ok ? towardZero(savedHeight * 100.0 / H) : 100;
        o.writes = {{"percentWidth", pw}, {"percentHeight", ph}, {"resizedWidth", savedWidth},
                    {"resizedHeight", savedHeight}, {"isPercentBaseResize", false}};
    }
    return o;
}

ResizeOutcome ResizeArithmetic::switchUnit(QSizeF photo, int currentUnit, int newUnit, int W, int H) {
    ResizeOutcome o;
    o.width = W;
    o.height = H;
    o.unit = currentUnit;
    if (newUnit == currentUnit || (newUnit != 0 && newUnit != 1)) return o;
    // Without a pixel size there is nothing to convert by.
    if (!usable(photo)) return o;
    const double w0 = photo.width(), h0 = photo.height();
    o.changed = true;
    if (currentUnit == 1) {
        const int newW = towardZero(w0 * W / 100.0), newH = towardZero(h0 * H / 100.0);
        o.unit = 0;
        o.width = newW;
        o.height = newH;
        o.writes = {{"percentWidth", W}, {"percentHeight", H}, {"resizedWidth", newW}, {"resizedHeight", newH},
                    {"isPercentBaseResize", false}};
    } else {
        const int pW = towardZero((W * 100.0) / w0), pH = towardZero((H * 100.0) / h0);
        o.unit = 1;
        o.width = pW;
        o.height = pH;
        o.writes = {{"percentWidth", pW}, {"percentHeight", pH}, {"resizedWidth", W}, {"resizedHeight", H},
                    {"isPercentBaseResize", true}};
    }
    return o;
}

ResizeOutcome ResizeArithmetic::fieldChanged(QSizeF photo, int unit, bool keepAspect, bool widthChanged, int fieldW,
                                             int fieldH, int previousOther) {
    ResizeOutcome o;
    o.changed = true;
    o.unit = unit;
    int w = fieldW, h = fieldH;
    const bool ok = usable(photo);
    const double W = photo.width(), H = photo.height();
    const bool percent = unit == 1;
    if (!keepAspect) {
        if (ok && percent) {
            if (widthChanged && W * w / 100.0 > kMaxPixels) w = w / 10;
            if (!widthChanged && H * h / 100.0 > kMaxPixels) h = h / 10;
        }
    } else if (ok && widthChanged) {
        const QSizeF fit = Utils::sharedUtils().aspectFitSizeWithMaxSize(photo, double(w));
        const double fittedH = fit.height();
        h = fittedH > 0 ? (percent ? w : towardZero(fittedH)) : 1;
        const QSizeF result = percent ? Utils::sharedUtils().aspectFitSizeWithMaxSize(photo, W * w / 100.0)
                                      : QSizeF(w, fittedH);
        if (result.width() > kMaxPixels || result.height() > kMaxPixels) {
            w = w / 10;
            h = previousOther;
        }
    } else if (ok) {
        const QSizeF fit = Utils::sharedUtils().aspectFitSizeWithMaxHeight(photo, double(h));
        const double fittedW = fit.width();
        w = fittedW > 0 ? (percent ? h : towardZero(fittedW)) : 1;
        const double hp = h * H / 100.0;
        const QSizeF result = percent ? QSizeF(W * hp / H, hp) : QSizeF(fittedW, h);
        if (result.width() > kMaxPixels || result.height() > kMaxPixels) {
            h = h / 10;
            w = previousOther;
        }
    }
    if (w < 1) w = 1;
    else if (h < 1) h = 1;
    o.width = w;
    o.height = h;
    if (percent) o.writes = {{"percentWidth", float(w)}, {"percentHeight", float(h)}};
    return o;
}

ResizeOutcome ResizeArithmetic::aspectBoxOn(QSizeF photo, int unit, int fieldW, int fieldH) {
    ResizeOutcome o;
    o.changed = true;
    o.unit = unit;
    o.height = fieldH;
    if (unit == 1) {
        o.width = fieldH;
    } else {
        const double w = usable(photo) ? photo.width() * fieldH / photo.height() : 0;
        o.width = w > 0 ? towardZero(w) : 1;
    }
    (void)fieldW;
    return o;
}
