#pragma once
// The plain state of the effects screen: everything its operations share that is not a
// widget. The screen owns one; logic classes and tests read and write it directly.
#include <QPointF>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <array>

struct AdjustFilterState {
    // ---- the effect being set up ----
    QString currentFilterName;     // effect name of the selection
    QString currentFilterDisplayName;
    QString lastFilername;         // effect name of the last completed set-up
    bool isFor_FILTER_EDIT_MODE = false;      // an applied step is open for editing
    int selectedAppliedFilterIndex = -1;      // the step being edited
    QVariantList editedStepParameters;        // that step's stored (size-relative) list
    bool isUI_CHANGING_FOR_RESIZING = false;  // the rebuild comes from a window resize
    bool isWINDOW_RESIZED = false;
    bool isWINDOW_RESIZING = false;
    bool isFILTER_APPLIED = false;
    bool isCUSTOM_FILTER = false;
    bool isFAV_SELECTED = false;

    // ---- the screen's Next and Back ----
    // Set when the screen appears: Back waits 0.5 s, Next until the first tip's turn (1.0 s).
    bool shouldDisbaleNext = false;
    bool shouldDisbalePrev = false;

    // ---- generic control slots ----
    int sliderControlIndex = 0;
    int colorWellControlIndex = 0;
    int pointButtonIndex = 0;
    std::array<QString, 6> sliderKeys;
    std::array<QString, 2> colorWellKeys;
    std::array<QString, 4> pointButtonKeys;
    int TOTAL_SLIDER_USED = 0;
    int TOTAL_COLOR_WELL_USED = 0;
    int TOTAL_RECT_BUTTONS_USED = 0;

    // ---- own panels ----
    int seleted_DIMENTION_TYPE_RESIZE = 0;  // 0 pixels, 1 percent
    QStringList arrDimensionsForResize;
    int flagCurrentAttachPopupType = -1;    // the option list shown in the pop-up
    QStringList arrFontList;                // filled by the text panel

    // ---- preview ----
    QPointF pointCenterBeforeResize;        // y-up container point
    float currentZooomFactor = 1.0f;
    QSizeF sourceImageExtent;               // size of the preview photo
    QString previewPhotoPath;               // the photo the preview shows
};
