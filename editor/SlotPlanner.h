#pragma once
// Turns an effect into the generic controls of the parameter column: which input keys get a
// slider, a colour well or a point button, with which range, starting value and label, and
// what the working list holds before the user touches anything. Widget-free: the screen
// binds the plan to its six slider rows, two colour wells and four point buttons.
#include <QColor>
#include <QList>
#include <QPair>
#include <QPointF>
#include <QSizeF>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include "platform/coreimage/CIFilter.h"

struct SliderPlan {
    QString key;
    double minimum = 0, maximum = 1, value = 0;
    QString label;
};

struct ColourWellPlan {
    QString key;
    QColor colour;
    QString label;  // "Border Color :"
};

struct PointPlan {
    QString key;
    QPointF point;  // y-up, container points
    QString label;  // the attribute's display name ("Center"), never the raw key
};

struct PanelPlan {
    QString title;  // shown above the controls
    QList<SliderPlan> sliders;
    QList<ColourWellPlan> wells;
    QList<PointPlan> points;
    // Starting values of the working list, in the order they are written.
    QList<QPair<QString, QVariant>> writes;
    bool hasTime = false;  // the filter takes "inputTime" (animation controls)
    bool usesSecondImage = false;
    bool valid = false;    // false: no such Core Image filter
};

// What the planner needs of the effect being opened.
struct PlanInput {
    QString effectName;
    QSizeF previewSize;          // the preview photo (container points)
    bool editing = false;        // an applied step is reopened
    QVariantList savedStep;      // that step's stored, size-relative list
};

class SlotPlanner {
public:
    static constexpr int kSliderSlots = 6;
    static constexpr int kColourWellSlots = 2;
    static constexpr int kPointSlots = 4;

    // The Core Image filter behind an effect name ("Brightness" and "Contrast" use
    // "CIColorControls").
    static QString coreImageFilterName(const QString& effectName);
    // The controls of a Core Image effect, keys in the filter's own order.
    static PanelPlan planCoreImage(const PlanInput& input);

    // One slider of any effect: own effects pass their starting value, Core Image effects the
    // filter's attributes for the key (empty for own effects). Ranges and defaults then pass
    // through the catalogue's overrides; editing takes the saved value in preview units.
    static SliderPlan sliderFor(const PlanInput& input, const QString& key, double valueGiven,
                                const QVariantMap& attribute);
    // The label of a slider for a key ("inputEV" -> "Exposure").
    static QString sliderLabel(const QString& key);
    // The label of a colour well ("borderColor" -> "Border Color :").
    static QString colourWellLabel(const QString& key);
};
