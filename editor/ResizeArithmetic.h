#pragma once
// The arithmetic of the resize panel: its width and height fields in pixels or percent of
// the photo's pixel size, the unit switch, the aspect box and the 1 … 10000 pixel limits.
// No widget: the screen shows `fields` and stores `writes` in the working list.
#include <QList>
#include <QPair>
#include <QSizeF>
#include <QString>
#include <QVariant>

struct ResizeOutcome {
    int width = 0;   // the two fields
    int height = 0;
    int unit = 0;    // 0 pixels, 1 percent
    QList<QPair<QString, QVariant>> writes;  // working-list entries, in order
    bool changed = false;  // false: fields and list stay as they were
};

class ResizeArithmetic {
public:
    static constexpr int kMaxPixels = 10000;
    static QStringList unitNames() { return {QStringLiteral("In Pixels"), QStringLiteral("In Percents")}; }

    // A new resize panel (or a reopened step) for a photo of `photo` pixels.
    static ResizeOutcome setup(QSizeF photo, int currentUnit, bool editing, bool savedPercentBased, int savedPercentW,
                               int savedPercentH, int savedWidth, int savedHeight);
    // The unit chosen from the pop-up; the same unit changes nothing.
    static ResizeOutcome switchUnit(QSizeF photo, int currentUnit, int newUnit, int fieldW, int fieldH);
    // A keystroke in the width (widthChanged) or height field. previousOther is the other
    // field's value before the keystroke.
    static ResizeOutcome fieldChanged(QSizeF photo, int unit, bool keepAspect, bool widthChanged, int fieldW,
                                      int fieldH, int previousOther);
    // The aspect box switched on: the width follows the height.
    static ResizeOutcome aspectBoxOn(QSizeF photo, int unit, int fieldW, int fieldH);

private:
    static bool usable(QSizeF photo);
};
