#pragma once
// How the effects screen's table rows look, and the buttons drawn inside them. The buttons
// are parts of the row's picture; a click inside one is reported with the row.
#include <QStyledItemDelegate>

// Category rows: grey header titles, white names, the chosen row bold with its marker and,
// on a favourite, its delete button.
class CategoryDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    static QRect deleteButtonRect(const QRect& row);
    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;
    // The favourite's delete button: reported with its row.
    void btnDeleteOncelltapped(int row);
    static QString deleteButtonToolTip();
signals:
    void deleteClicked(int row);
};

// Effect rows: the effect's picture with its short name; the marked row without its
// background card.
class EffectDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// Batch-step rows in list or thumbnail form, with switch, edit, up, down and remove buttons.
class StepDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    enum Button { Apply, Edit, MoveUp, MoveDown, Remove, ButtonCount };
    using QStyledItemDelegate::QStyledItemDelegate;
    static QRect buttonRect(const QRect& row, Button button);
    static QString toolTipFor(Button button);
    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;
    // The row's buttons, each reported with its row.
    void btnApplyOncelltapped(int row);
    void btnRemoveOncelltapped(int row);
    void btnEditFilterOncelltapped(int row);
    void btnMoveUpOnCellTapped(int row);
    void btnMoveDownOnCellTapped(int row);
    void cellButtonTapped(int row, Button button);
signals:
    void buttonClicked(int row, int button);
};

// A favourite's steps: name, settings line and the switch.
class FavouriteDetailDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    static QRect applyButtonRect(const QRect& row);
    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
signals:
    void applyClicked(int row);
};

// Picture rows of the frame/texture table and tiles of the sticker grid.
class PictureDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // The row's own size, else a tile of the sticker grid.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// The picture of a resource by name, loaded once.
QImage editorResourceImage(const QString& name);
