#include "ui/KeyboardHelpers.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <algorithm>

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

const QString kFocusRingName = QStringLiteral("focusRing");

// Drawn over the control, inside its edge, while the control has the keyboard; clicks go
// through to the control.
class FocusRing : public QWidget {
public:
    explicit FocusRing(QWidget* control) : QWidget(control), control_(control) {
        setObjectName(kFocusRingName);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        hide();
        control->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
        case QEvent::FocusIn:
            setGeometry(control_->rect());
            raise();  // over whatever the control holds
            show();
            break;
        case QEvent::FocusOut: hide(); break;
        case QEvent::Resize: setGeometry(control_->rect()); break;
        default: break;
        }
        return false;
    }
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(0x1a, 0xb9, 0x99), 2));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 3, 3);
    }

private:
    QWidget* control_;
};

bool inside(const QWidget* area, const QWidget* w) { return w && (w == area || area->isAncestorOf(w)); }

bool canTakeKeyboard(const QWidget* w) {
    return w && w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus) && !w->focusProxy();
}

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

void showFocusRing(QWidget* control) {
    if (control && !control->findChild<QWidget*>(kFocusRingName, Qt::FindDirectChildrenOnly)) new FocusRing(control);
}

void keepKeyboardNear(QWidget* area, const std::function<void()>& change, const std::function<QWidget*()>& next) {
    const bool wasInArea = area && inside(area, QApplication::focusWidget());
    change();
    if (!wasInArea) return;
    QWidget* now = QApplication::focusWidget();
    if (inside(area, now) && now->isVisible()) return;
    QWidget* target = next ? next() : nullptr;
    if (canTakeKeyboard(target)) target->setFocus(Qt::OtherFocusReason);
}

QWidget* firstControlIn(QWidget* area, const QList<QWidget*>& skipped) {
    if (!area) return nullptr;
    QWidget* first = nullptr;
    QPoint firstAt;
    for (QWidget* w : area->findChildren<QWidget*>()) {
        if (!canTakeKeyboard(w)) continue;
        if (std::any_of(skipped.begin(), skipped.end(), [w](const QWidget* s) { return s && inside(s, w); })) continue;
        const QPoint at = w->mapTo(area, QPoint(0, 0));
        if (!first || at.y() < firstAt.y() || (at.y() == firstAt.y() && at.x() < firstAt.x())) {
            first = w;
            firstAt = at;
        }
    }
    return first;
}

}  // namespace keyboard
