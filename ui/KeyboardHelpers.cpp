#include "ui/KeyboardHelpers.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QToolButton>

namespace {

class ReturnPressesButtons : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) || key->isAutoRepeat() ||
            (key->modifiers() & ~Qt::KeypadModifier))
            return false;
        // Buttons only: a check box or a radio button keeps Return for its dialog's default.
        QAbstractButton* button = qobject_cast<QPushButton*>(watched);
        if (!button) button = qobject_cast<QToolButton*>(watched);
        if (!button || !button->hasFocus() || !button->isEnabled() || !button->isVisible()) return false;
        button->click();
        return true;
    }
};

class ReturnChooses : public QObject {
public:
    ReturnChooses(QAbstractItemView* list, std::function<void(const QModelIndex&)> choose)
        : QObject(list), list_(list), choose_(std::move(choose)) {
        list->installEventFilter(this);
        connect(list, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) { choose_(index); });
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key != Qt::Key_Return && key != Qt::Key_Enter) || !list_->currentIndex().isValid()) return false;
        choose_(list_->currentIndex());
        return true;
    }

private:
    QAbstractItemView* list_;
    std::function<void(const QModelIndex&)> choose_;
};

class OptionListKeys : public QObject {
public:
    OptionListKeys(QAbstractItemView* list, QWidget* opener, int currentRow)
        : QObject(list), list_(list), opener_(opener), currentRow_(currentRow) {
        list->setFocusPolicy(Qt::StrongFocus);
        list->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
        case QEvent::Show: {
            const QModelIndex current = list_->model()->index(std::max(0, currentRow_), 0);
            list_->setCurrentIndex(current);
            list_->scrollTo(current);
            list_->setFocus(Qt::PopupFocusReason);
            break;
        }
        case QEvent::Hide: giveBack(); break;
        case QEvent::KeyPress: {
            // The list holds the keyboard until it closes: Tab does not walk out of it.
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Tab || key == Qt::Key_Backtab) return true;
            break;
        }
        default: break;
        }
        return false;
    }

private:
    void giveBack() {
        QWidget* focus = QApplication::focusWidget();
        const bool inList = !focus || (list_ && (focus == list_.data() || list_->isAncestorOf(focus)));
        if (inList && opener_ && opener_->isVisible()) opener_->setFocus(Qt::PopupFocusReason);
    }

    QPointer<QAbstractItemView> list_;
    QPointer<QWidget> opener_;
    int currentRow_;
};

}  // namespace

namespace keyboard {

void pressButtonsWithReturn() {
    const QString name = QStringLiteral("returnPressesButtons");
    if (!qApp || qApp->findChild<ReturnPressesButtons*>(name, Qt::FindDirectChildrenOnly)) return;
    auto* filter = new ReturnPressesButtons(qApp);
    filter->setObjectName(name);
    qApp->installEventFilter(filter);
}

void chooseByClickOrReturn(QAbstractItemView* list, std::function<void(const QModelIndex&)> choose) {
    if (list) new ReturnChooses(list, std::move(choose));
}

void driveOptionList(QAbstractItemView* list, QWidget* opener, int currentRow, std::function<void(int)> choose) {
    if (!list) return;
    new OptionListKeys(list, opener, currentRow);
    chooseByClickOrReturn(list, [choose = std::move(choose)](const QModelIndex& index) { choose(index.row()); });
}

}  // namespace keyboard
