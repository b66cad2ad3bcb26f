#include "editor/EffectTables.h"

#include "editor/EffectNameSets.h"
#include "engine/FilterCustomization.h"
#include "records/AppliedFilter.h"

bool CategoryRows::isHeader(int row) const {
    if (row < 0 || row >= count()) return false;
    return row == 0 || row == F || row == F + R || row == F + R + B;
}

CategoryRows::Group CategoryRows::groupOf(int row) const {
    if (row < 0 || row >= count()) return Group::None;
    if (row < F) return Group::Favourite;
    if (row < F + R) return Group::Rename;
    if (row < F + R + B) return Group::Basic;
    return Group::Fx;
}

int CategoryRows::indexInGroup(int row) const {
    switch (groupOf(row)) {
    case Group::Favourite: return row;
    case Group::Rename: return row - F;
    case Group::Basic: return row - F - R;
    case Group::Fx: return row - F - R - B;
    case Group::None: break;
    }
    return -1;
}

QString CategoryRows::headerTitle(int row) const {
    if (!isHeader(row)) return {};
    if (row == 0 && F > 0) return QStringLiteral("FAVORITES");
    if (row == F) return QStringLiteral("CONVERT FORMAT/RENAME");
    if (row == F + R) return QStringLiteral("BASIC");
    return QStringLiteral("FX");
}

int CategoryRows::heightOfRow(int row, int selectedCategoryIndex) const {
    return isHeader(row) || row == selectedCategoryIndex ? 48 : 40;
}

namespace EffectTables {

QString menuIconName(const QString& shownName) { return QStringLiteral("menu_%1.png").arg(shownName); }

int stepRowHeight(bool listForm) { return listForm ? 40 : 138; }

MoveButtons moveButtonsForRow(int row, int count) {
    MoveButtons b;
    b.upEnabled = count > 1 && row > 0;
    b.downEnabled = count > 1 && row < count - 1;
    b.upImage = b.upEnabled ? QStringLiteral("up.png") : QStringLiteral("up_inactive.png");
    b.downImage = b.downEnabled ? QStringLiteral("down.png") : QStringLiteral("down_inactive.png");
    return b;
}

QString applyButtonImage(bool isApplied) {
    return isApplied ? QStringLiteral("checked_sq_icon.png") : QStringLiteral("unchecked_icon.png");
}

float filterCellHeightForCategory(const QString& categoryName) {
    return categoryName == QLatin1String("Add Frames") ? 200.0f : 100.0f;
}

QString favouriteStepName(const AppliedFilter& step) {
    if (isStickerSet(step.filterName)) return QStringLiteral("Add Sticker");
    if (step.filterName == QLatin1String("Add Custom Image")) return QStringLiteral("Add Image");
    return FilterCustomization::sharedInstance().getCustomDisplayNameForFilter(step.filterDisplayName);
}

QString favouritePanelTitle(int stepCount) { return QStringLiteral("Favorite Steps(%1)").arg(stepCount); }

const QStringList& frameEffects() { return effectsets::pictureFrames(); }
const QStringList& textureEffects() { return effectsets::textures(); }
const QStringList& stickerSets() { return effectsets::stickerSets(); }

bool isFrameEffect(const QString& filterName) { return frameEffects().contains(filterName); }
bool isTextureEffect(const QString& filterName) { return textureEffects().contains(filterName); }
bool isStickerSet(const QString& filterName) { return stickerSets().contains(filterName); }

}  // namespace EffectTables
