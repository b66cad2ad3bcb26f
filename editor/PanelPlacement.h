#pragma once
// Where the parts of the parameter column go. Heights are y-up from the column's bottom
// edge; the screen converts them to Qt through the one y-up helper.
#include <QRectF>

struct PanelPlacement {
    static constexpr double kRowHeight = 50;       // one slider row
    static constexpr double kWellHeight = 65;      // one colour well
    static constexpr double kGenericHeight = 300;  // six slider rows
    static constexpr double kApplyHeight = 52;

    double columnHeight = 560;

    // The generic control area sits below the title.
    double genericY() const { return columnHeight - kGenericHeight - 60; }
    // Slider row i inside the generic area (row 0 on top).
    double sliderRowY(int i) const { return kGenericHeight - (i + 1) * kRowHeight; }
    // The colour wells and the point buttons below the sliders in use.
    double colourWellAreaY(int sliders) const { return genericY() - 140 + (6 - sliders) * kRowHeight; }
    double rectButtonAreaY(int sliders, int wells) const {
        return colourWellAreaY(sliders) + kRowHeight - kWellHeight * wells;
    }
    // The apply area below the generated controls: k is 110 for Core Image effects, border
    // and text, 80 for RGB adjust and black and white. More than six controls push it lower.
    double applyAreaY(int controls, double k) const { return int((6 - controls) * kRowHeight) + genericY() - k; }
    // An own panel at the top of the column, and the apply area below it.
    double topPanelY(double panelHeight) const { return columnHeight - panelHeight - 50; }
    static double applyBelowPanel(double panelY, double extra) { return panelY - kApplyHeight - extra; }
};
