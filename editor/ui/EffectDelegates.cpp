#include "editor/ui/EffectDelegates.h"

#include <QAbstractItemView>
#include <QHash>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

#include "editor/ui/EffectTableModels.h"
#include "engine/Utils_OverlaysSupport.h"

namespace {

const QColor kHeaderGrey(172, 170, 170);
const QColor kMarker(26, 185, 153);
const QColor kRowBackground(40, 40, 44);
const QColor kSelectedBackground(55, 58, 64);
const QColor kKeyboardRow(225, 225, 225);

bool releasedInside(QEvent* event, const QRect& rect) {
    if (event->type() != QEvent::MouseButtonRelease) return false;
    auto* me = static_cast<QMouseEvent*>(event);
    return me->button() == Qt::LeftButton && rect.contains(me->position().toPoint());
}

bool pressedInside(QEvent* event, const QRect& rect) {
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonDblClick) return false;
    return rect.contains(static_cast<QMouseEvent*>(event)->position().toPoint());
}

void drawGlyphButton(QPainter* p, const QRect& r, const QString& glyph, bool enabled, bool on = false) {
    p->save();
    p->setRenderHint(QPainter::Antialiasing);
    p->setPen(enabled ? QColor(200, 200, 200) : QColor(90, 90, 90));
    p->setBrush(on ? kMarker : Qt::NoBrush);
    p->drawRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    QFont f = p->font();
    f.setPixelSize(r.height() - 6);
    p->setFont(f);
    p->drawText(r, Qt::AlignCenter, glyph);
    p->restore();
}

// The row the arrows have reached, framed while its list has the keyboard: the lists draw
// no selection of their own, so without it the arrows would move nothing a user can see.
void drawKeyboardRow(QPainter* p, const QStyleOptionViewItem& option, const QRect& row) {
    if (!(option.state & QStyle::State_HasFocus)) return;
    p->save();
    p->setPen(QPen(kKeyboardRow, 2));
    p->setBrush(Qt::NoBrush);
    p->drawRect(QRectF(row).adjusted(1, 1, -1, -1));
    p->restore();
}

void drawPicture(QPainter* p, const QRect& box, const QImage& image) {
    if (image.isNull()) {
        p->fillRect(box, QColor(70, 70, 74));
        return;
    }
    const QSize s = image.size().scaled(box.size(), Qt::KeepAspectRatio);
    const QRect target(box.x() + (box.width() - s.width()) / 2, box.y() + (box.height() - s.height()) / 2, s.width(),
                       s.height());
    p->drawImage(target, image);
}

}  // namespace

QImage editorResourceImage(const QString& name) {
    static QHash<QString, QImage> cache;
    if (name.isEmpty()) return {};
    auto it = cache.constFind(name);
    if (it != cache.constEnd()) return *it;
    const QImage image = overlays::resourceImage(name);
    cache.insert(name, image);
    return image;
}

// ---- categories ----

QRect CategoryDelegate::deleteButtonRect(const QRect& row) {
    return QRect(row.right() - 26, row.center().y() - 9, 18, 18);
}

QSize CategoryDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const {
    return index.data(Qt::SizeHintRole).toSize();
}

void CategoryDelegate::paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    p->save();
    const QRect r = option.rect;
    const bool header = index.data(EffectRoles::IsHeader).toBool();
    const bool selected = index.data(EffectRoles::IsSelected).toBool();
    QFont f = option.font;
    f.setPixelSize(13);
    if (header) {
        p->fillRect(r, QColor(30, 30, 33));
        if (index.row() != 0) p->fillRect(QRect(r.left(), r.top(), r.width(), 1), QColor(60, 60, 64));
        p->setPen(kHeaderGrey);
        p->setFont(f);
        p->drawText(r.adjusted(12, 0, -8, 0), Qt::AlignVCenter | Qt::AlignLeft, index.data().toString());
    } else {
        p->fillRect(r, selected ? kSelectedBackground : kRowBackground);
        if (selected) p->fillRect(QRect(r.left(), r.top(), 4, r.height()), kMarker);
        const QImage icon = editorResourceImage(index.data(EffectRoles::IconName).toString());
        int textLeft = 16;
        if (!icon.isNull()) {
            drawPicture(p, QRect(r.left() + 12, r.center().y() - 11, 22, 22), icon);
            textLeft = 42;
        }
        f.setBold(selected);
        p->setFont(f);
        p->setPen(Qt::white);
        p->drawText(r.adjusted(textLeft, 0, -32, 0), Qt::AlignVCenter | Qt::AlignLeft, index.data().toString());
        auto* m = qobject_cast<const CategoryTableModel*>(index.model());
        if (selected && m && m->favouriteAt(index.row())) drawGlyphButton(p, deleteButtonRect(r), "×", true);
    }
    drawKeyboardRow(p, option, r);
    p->restore();
}

bool CategoryDelegate::editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                                   const QModelIndex& index) {
    auto* m = qobject_cast<CategoryTableModel*>(model);
    const bool deletable = m && m->favouriteAt(index.row()) && index.data(EffectRoles::IsSelected).toBool();
    if (deletable && releasedInside(event, deleteButtonRect(option.rect))) {
        btnDeleteOncelltapped(index.row());
        return true;
    }
    if (deletable && pressedInside(event, deleteButtonRect(option.rect))) return true;
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}

// ---- effects ----

QSize EffectDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const {
    return index.data(Qt::SizeHintRole).toSize();
}

void EffectDelegate::paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    p->save();
    const QRect r = option.rect.adjusted(6, 4, -6, -4);
    const bool marked = index.data(EffectRoles::IsSelected).toBool();
    p->fillRect(r, marked ? kMarker.darker(160) : kRowBackground);
    const QImage picture = editorResourceImage(index.data(EffectRoles::IconName).toString());
    drawPicture(p, r.adjusted(6, 6, -6, -26), picture);
    p->setPen(Qt::white);
    QFont f = option.font;
    f.setPixelSize(12);
    p->setFont(f);
    p->drawText(QRect(r.left(), r.bottom() - 22, r.width(), 20), Qt::AlignCenter, index.data().toString());
    drawKeyboardRow(p, option, r);
    p->restore();
}

// ---- batch steps ----

QRect StepDelegate::buttonRect(const QRect& row, Button button) {
    // Right to left: remove, down, up, edit, switch.
    const int size = 20, gap = 4;
    const int index = ButtonCount - 1 - int(button);
    const int x = row.right() - 6 - size - index * (size + gap);
    const int y = row.top() + std::min(row.height(), 40) / 2 - size / 2;
    return QRect(x, y, size, size);
}

QString StepDelegate::toolTipFor(Button button) {
    switch (button) {
    case MoveUp: return QStringLiteral("Click here to move your batch step layers up");
    case MoveDown: return QStringLiteral("Click here to move your batch step layers down");
    case Remove: return QStringLiteral("Click to remove this batch step layer");
    case Edit: return QStringLiteral("Click to edit this batch step layer");
    case Apply: return QStringLiteral("Click here to enable/disable this batch step layer");
    default: return {};
    }
}

QSize StepDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const {
    return index.data(Qt::SizeHintRole).toSize();
}

void StepDelegate::paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    p->save();
    const QRect r = option.rect;
    const bool edited = index.data(EffectRoles::IsEdited).toBool();
    p->fillRect(r.adjusted(0, 1, 0, -1), edited ? kSelectedBackground : kRowBackground);
    if (edited) p->fillRect(QRect(r.left(), r.top(), 4, r.height()), kMarker);
    const bool thumbnailForm = r.height() > 60;
    const QImage picture = index.data(EffectRoles::Thumbnail).value<QImage>();
    QFont f = option.font;
    f.setPixelSize(12);
    p->setFont(f);
    const bool applied = index.data(EffectRoles::IsApplied).toBool();
    p->setPen(applied ? Qt::white : QColor(130, 129, 142));
    if (thumbnailForm) {
        drawPicture(p, QRect(r.left() + 10, r.top() + 42, r.width() - 20, r.height() - 48),
                    picture.isNull() ? editorResourceImage("place_holder.png") : picture);
        p->drawText(QRect(r.left() + 10, r.top(), buttonRect(r, Apply).left() - r.left() - 14, 40),
                    Qt::AlignVCenter | Qt::AlignLeft, index.data().toString());
    } else {
        drawPicture(p, QRect(r.left() + 8, r.top() + 6, 28, r.height() - 12),
                    picture.isNull() ? editorResourceImage("place_holder.png") : picture);
        p->drawText(QRect(r.left() + 42, r.top(), buttonRect(r, Apply).left() - r.left() - 46, r.height()),
                    Qt::AlignVCenter | Qt::AlignLeft, index.data().toString());
    }
    drawGlyphButton(p, buttonRect(r, Apply), applied ? "✓" : "", true, applied);
    drawGlyphButton(p, buttonRect(r, Edit), "✎", true);
    drawGlyphButton(p, buttonRect(r, MoveUp), "▲", index.data(EffectRoles::CanMoveUp).toBool());
    drawGlyphButton(p, buttonRect(r, MoveDown), "▼", index.data(EffectRoles::CanMoveDown).toBool());
    drawGlyphButton(p, buttonRect(r, Remove), "✕", true);
    drawKeyboardRow(p, option, r);
    p->restore();
}

bool StepDelegate::editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                               const QModelIndex& index) {
    for (int b = 0; b < ButtonCount; ++b) {
        const QRect rect = buttonRect(option.rect, Button(b));
        if (b == MoveUp && !index.data(EffectRoles::CanMoveUp).toBool()) continue;
        if (b == MoveDown && !index.data(EffectRoles::CanMoveDown).toBool()) continue;
        if (releasedInside(event, rect)) {
            cellButtonTapped(index.row(), Button(b));
            return true;
        }
        // A press on a button neither selects the row nor starts a drag.
        if (pressedInside(event, rect)) return true;
    }
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}

bool StepDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                             const QModelIndex& index) {
    for (int b = 0; b < ButtonCount; ++b)
        if (buttonRect(option.rect, Button(b)).contains(event->pos())) {
            QToolTip::showText(event->globalPos(), toolTipFor(Button(b)), view);
            return true;
        }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}

// ---- favourite details ----

QRect FavouriteDetailDelegate::applyButtonRect(const QRect& row) {
    return QRect(row.right() - 28, row.center().y() - 10, 20, 20);
}

QSize FavouriteDetailDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const {
    return index.data(Qt::SizeHintRole).toSize();
}

void FavouriteDetailDelegate::paint(QPainter* p, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
    p->save();
    const QRect r = option.rect;
    p->fillRect(r.adjusted(0, 1, 0, -1), kRowBackground);
    QFont f = option.font;
    f.setPixelSize(12);
    p->setFont(f);
    p->setPen(Qt::white);
    p->drawText(QRect(r.left() + 10, r.top() + 4, r.width() - 50, 20), Qt::AlignLeft | Qt::AlignVCenter,
                QStringLiteral("%1. %2").arg(index.row() + 1).arg(index.data().toString()));
    f.setPixelSize(10);
    p->setFont(f);
    p->setPen(kHeaderGrey);
    p->drawText(QRect(r.left() + 10, r.top() + 24, r.width() - 50, 20), Qt::AlignLeft | Qt::AlignVCenter,
                index.data(EffectRoles::Detail).toString());
    const bool applied = index.data(EffectRoles::IsApplied).toBool();
    drawGlyphButton(p, applyButtonRect(r), applied ? "✓" : "", true, applied);
    drawKeyboardRow(p, option, r);
    p->restore();
}

bool FavouriteDetailDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                          const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (releasedInside(event, applyButtonRect(option.rect))) {
        emit applyClicked(index.row());
        return true;
    }
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}

// ---- pictures ----

QSize PictureDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const {
    const QSize own = index.data(Qt::SizeHintRole).toSize();
    return own.isValid() ? own : QSize(60, 60);
}

void PictureDelegate::paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    p->save();
    const QRect r = option.rect.adjusted(4, 4, -4, -4);
    const bool selected = option.state & QStyle::State_Selected;
    p->fillRect(r, kRowBackground);
    QImage picture = index.data(EffectRoles::Thumbnail).value<QImage>();
    if (picture.isNull()) picture = editorResourceImage(index.data(EffectRoles::IconName).toString());
    drawPicture(p, r.adjusted(4, 4, -4, -4), picture);
    if (selected) {
        p->setPen(QPen(kMarker, 3));
        p->drawRect(r.adjusted(1, 1, -2, -2));
    }
    drawKeyboardRow(p, option, option.rect);
    p->restore();
}
