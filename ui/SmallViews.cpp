#include "ui/SmallViews.h"

#include <QAbstractItemView>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

void MouseDownView::mousePressEvent(QMouseEvent* e) {
    if (!delegate_) return QWidget::mousePressEvent(e);
    if (e->button() == Qt::RightButton) delegate_->rightMouseDown(e);
    else delegate_->mouseDown(e, this);
}
void MouseDownView::mouseDoubleClickEvent(QMouseEvent* e) {
    if (!delegate_) return QWidget::mouseDoubleClickEvent(e);
    if (e->button() == Qt::RightButton) delegate_->rightMouseDown(e);
    else delegate_->mouseDoubbleClicked(e, this);
}
void MouseDownView::mouseMoveEvent(QMouseEvent* e) {
    if (delegate_ && e->buttons() != Qt::NoButton) delegate_->mouseDragged(e, this);
}
void MouseDownView::mouseReleaseEvent(QMouseEvent* e) {
    if (delegate_) delegate_->mouseUp(e, this);
}
void MouseDownView::leaveEvent(QEvent* e) {
    if (delegate_) delegate_->mouseExited(e, this);
}
void MouseDownView::wheelEvent(QWheelEvent* e) {
    if (delegate_) delegate_->scrollWheel(e, this);
    else QWidget::wheelEvent(e);
}

ButtonTableCellView::ButtonTableCellView(QWidget* parent) : QWidget(parent), button_(new QPushButton(this)) {
    auto* l = new QHBoxLayout(this);
    l->setContentsMargins(0, 0, 0, 0);
    l->addWidget(button_);
    button_->setFlat(true);
    connect(button_, &QPushButton::clicked, this, [this] { buttonTapped(); });
}

namespace {
QAbstractItemView* enclosingTable(const QWidget* w) {
    for (QWidget* p = w->parentWidget(); p; p = p->parentWidget())
        if (auto* v = qobject_cast<QAbstractItemView*>(p)) return v;
    return nullptr;
}
}  // namespace

int ButtonTableCellView::row() const {
    QAbstractItemView* table = enclosingTable(this);
    if (!table) return -1;
    const QPoint at = mapTo(table->viewport(), rect().center());
    return table->indexAt(at).row();
}

void ButtonTableCellView::buttonTapped() {
    QAbstractItemView* table = enclosingTable(this);
    if (!table || !delegate_) return;
    QWidget* target = table;
    for (int i = 0; i < 2 && target->parentWidget(); ++i) target = target->parentWidget();
    delegate_->btnInfoTappedAtLocationInTableView(button_->mapTo(target, QPoint(0, 0)), row());
}

void DisableScrollView::wheelEvent(QWheelEvent* e) {
    if (enabled_) QScrollArea::wheelEvent(e);
    else e->ignore();
}

LinkButton::LinkButton(QWidget* parent) : QPushButton(parent) {
    setFlat(true);
    setCursor(Qt::PointingHandCursor);
}

void LinkButton::setTitle(const QString& text, float fontSize, bool bold, const QColor& color) {
    title_ = text;
    QFont f = font();
    if (fontSize > 0) f.setPointSizeF(fontSize);
    f.setBold(bold);
    f.setUnderline(true);
    setFont(f);
    color_ = color.isValid() ? color : QColor(0, 0, 255);
    setToolTip(text);
    updateGeometry();
    update();
}

void LinkButton::setTitleColor(const QColor& color) {
    color_ = color.isValid() ? color : QColor(0, 0, 255);
    update();
}

QSize LinkButton::sizeHint() const {
    const QFontMetrics fm(font());
    return QSize(fm.horizontalAdvance(title_) + 12, fm.height() + 8);
}

void LinkButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setFont(font());
    p.setPen(color_);
    const QFontMetrics fm(font());
    const QRect text = rect().adjusted(4, 0, -4, 0);
    p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, fm.elidedText(title_, Qt::ElideRight, text.width()));
    if (hasFocus()) {
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(color_, 2));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 4, 4);
    }
}

QPushButton* makeInfoButton(const QString& name, QWidget* parent) {
    auto* button = new QPushButton(QStringLiteral("i"), parent);
    button->setObjectName(name);
    button->setFixedSize(18, 18);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QStringLiteral("QPushButton { color:#1ab999; background:transparent; border:1px solid #1ab999;"
                                         " border-radius:9px; font-weight:bold; font-size:11px; padding:0; }"
                                         "QPushButton:focus { color:#262626; background:#1ab999; border:2px solid white; }"));
    return button;
}

HighLightedTableView::HighLightedTableView(QWidget* parent) : QTableView(parent) {
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setShowGrid(false);
    setHighlightColor(QColor(27, 172, 143));
}

void HighLightedTableView::setHighlightColor(const QColor& c) {
    QPalette p = palette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::Highlight, c);
        p.setColor(group, QPalette::HighlightedText, Qt::white);
    }
    setPalette(p);
}

InfoTableView::InfoTableView(QWidget* parent, int titleWidth, int rowHeight) : QTableView(parent) {
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false);
    setShowGrid(false);
    horizontalHeader()->hide();
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(rowHeight);
    horizontalHeader()->setStretchLastSection(true);
    horizontalHeader()->setDefaultSectionSize(titleWidth);
}
