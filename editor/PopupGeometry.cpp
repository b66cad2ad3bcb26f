#include "editor/PopupGeometry.h"

#include "engine/Utils.h"
#include "records/CommonFunc.h"

QStringList PopupGeometry::cropRatioNames() {
    return {"FreeForm",    "Original Ratio", "Square 1X1",     "Photo 4X6",     "Photo 5X7",
            "Photo 8X10",  "Photo 11X14",    "Photo 16X9",     "Facebook Cover", "Twitter Cover",
            "Youtube Channel Cover", "Pinterest Pin"};
}

QStringList PopupGeometry::fixedList(int type) {
    switch (type) {
    case DateOption: return CommonFunc::dateStampOptions();
    case DateFormat: return Utils::dateFormatNames();
    case TimeFormat: return Utils::timeFormatNames();
    case CropRatio: return cropRatioNames();
    default: return {};
    }
}

QSizeF PopupGeometry::popupSize(int type, int entries, bool osx16) {
    double w = 200;
    if (type == TimeFormat) w = osx16 ? 100 : 80;
    else if (type == ResizeUnit) w = osx16 ? 150 : 120;
    double h = entries < 5 ? entries * 36 + 30 : 210;
    if (osx16 && (type == TimeFormat || type == ResizeUnit)) h += 5;
    return QSizeF(w, h);
}

QPointF PopupGeometry::attachPoint(int type, const QRectF& label) {
    (void)type;  // every list hangs from the middle of its label
    return QPointF(label.x() + label.width() / 2, label.y() + label.height());
}
