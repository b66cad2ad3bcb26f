#pragma once
// The option pop-ups of the effects screen: which list each one shows, its size, where it
// attaches, and whether a chosen row is usable.
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QStringList>

class PopupGeometry {
public:
    enum Type { Font = 0, DateOption = 1, DateFormat = 2, TimeFormat = 3, ResizeUnit = 4, CropRatio = 5 };

    // The fixed lists (the font and unit lists are built by their panels).
    static QStringList cropRatioNames();
    static QStringList fixedList(int type);

    // Width and height of the list view for a list of n entries.
    static QSizeF popupSize(int type, int entries, bool isOSX16AndAbove);
    // The point the pop-up hangs from (below it, arrow up): the bottom centre of the option's
    // label, given in the window's coordinates (y down).
    static QPointF attachPoint(int type, const QRectF& labelInWindow);
    // A row of the list that can be chosen: -1 and rows past the end cannot.
    static bool isUsableRow(int row, int entries) { return row >= 0 && row < entries; }
    // A stored crop-ratio index outside the table reads as 0 (free form).
    static int cropRatioIndex(int stored) { return stored >= 0 && stored < 12 ? stored : 0; }
};
