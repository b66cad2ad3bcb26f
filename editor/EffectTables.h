#pragma once
// What the effects screen's tables show, worked out without a widget: the category table's
// four groups with their header rows, the row heights, the texts of the rows, the move
// buttons of the batch steps and the names of a favourite's steps.
#include <QString>
#include <QStringList>

struct AppliedFilter;

// The category table: favourites (F rows, header included, or none), the rename group
// (R rows), the basic effects (B) and the FX categories (X), each group led by its header.
struct CategoryRows {
    enum class Group { Favourite, Rename, Basic, Fx, None };

    int F = 0, R = 0, B = 0, X = 0;

    int count() const { return F + R + B + X; }
    // Rows 0, F, F + R and F + R + B; without favourites rows 0 and F are the same row.
    bool isHeader(int row) const;
    Group groupOf(int row) const;
    // Index into the group's own list (the header is index 0).
    int indexInGroup(int row) const;
    // "FAVORITES", "CONVERT FORMAT/RENAME", "BASIC" or "FX"; empty for other rows.
    QString headerTitle(int row) const;
    // 48 for headers and for the chosen row, 40 for the others.
    int heightOfRow(int row, int selectedCategoryIndex) const;
    // The last row of the rename group and the first effect after the basic header.
    int batchConversionRow() const { return F + R - 1; }
    int firstBasicRow() const { return F + R + 1; }
};

namespace EffectTables {

// Icon of a category row: "menu_<name>.png".
QString menuIconName(const QString& shownName);

// Batch-steps rows: 40 points in list form, 138 in thumbnail form.
int stepRowHeight(bool listForm);

// The move buttons of step `row` of `count` steps.
struct MoveButtons {
    bool upEnabled = false, downEnabled = false;
    QString upImage, downImage;
};
MoveButtons moveButtonsForRow(int row, int count);
QString applyButtonImage(bool isApplied);

// The effect table's rows: 200 points for the frames category, 100 for any other.
float filterCellHeightForCategory(const QString& categoryName);

// A favourite's step as its details row names it: sticker sets as "Add Sticker", the
// custom picture as "Add Image", everything else by its short label.
QString favouriteStepName(const AppliedFilter& step);
// "Favorite Steps(<count>)".
QString favouritePanelTitle(int stepCount);

// Frames and textures: the effect sets whose pictures the frame/texture table lists.
bool isFrameEffect(const QString& filterName);
bool isTextureEffect(const QString& filterName);
bool isStickerSet(const QString& filterName);
const QStringList& frameEffects();
const QStringList& textureEffects();
const QStringList& stickerSets();

}  // namespace EffectTables
