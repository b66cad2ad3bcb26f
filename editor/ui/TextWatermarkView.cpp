#include "editor/ui/TextWatermarkView.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>

#include "editor/OverlayPanels.h"
#include "platform/foundation/Log.h"
#include "platform/graphics/YUp.h"
#include "ui/KeyboardHelpers.h"

namespace {
const QColor kBoxBorder = QColor::fromRgbF(0.10196, 0.72549, 0.6, 1.0);

// The field's look: no background of its own, the text in the step's colour. A style sheet
// decides the text colour over the palette, so the colour is set here.
QString fieldStyle(const QColor& colour) {
    return QStringLiteral("background: transparent; color: %1;").arg(colour.name(QColor::HexArgb));
}

Qt::Alignment qtAlignment(int alignment) {
    switch (alignment) {
    case 1: return Qt::AlignRight;
    case 2: return Qt::AlignHCenter;
    default: return Qt::AlignLeft;
    }
}
}  // namespace

TextWatermarkView::TextWatermarkView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("textWatermarkView"));
    setAttribute(Qt::WA_TranslucentBackground);
    font_.setPixelSize(30);
    field_ = new QPlainTextEdit(this);
    field_->setObjectName(QStringLiteral("textField"));
    field_->setFrameShape(QFrame::NoFrame);
    field_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    field_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    field_->setPlaceholderText(OverlayPanels::placeholderText());
    field_->setStyleSheet(fieldStyle(color_));
    field_->installEventFilter(this);
    keyboard::showFocusRing(field_);  // the field has no frame of its own: it stands on the photo
    field_->hide();
    connect(field_, &QPlainTextEdit::textChanged, this, [this] {
        if (field_->isVisible()) {
            shownText_ = field_->toPlainText();
            sizeTextContainerFieldToFit();
        }
    });
    disableTextEvents();
}

QPointF TextWatermarkView::toYUp(const QPointF& p) const { return platform::fromQtPoint(p, height()); }

QRectF TextWatermarkView::boxRectInWidget() const {
    return platform::toQtRect(geometry_.rotatedFrame(), height());
}

QRectF TextWatermarkView::crossRectInWidget() const {
    const QRectF box = boxRectInWidget();
    return QRectF(box.right() - 18, box.top() + 2, 16, 16);
}

void TextWatermarkView::resizeEvent(QResizeEvent*) { geometry_.setViewSize(size()); }

bool TextWatermarkView::isEditing() const { return field_->isVisible() && !field_->isReadOnly(); }

void TextWatermarkView::enableTextEvents() {
    if (!isSetTextFieldEditable) {
        disableTextEvents();
        return;
    }
    field_->setReadOnly(false);
    field_->setPlainText(shownText_);
    placeField();
    field_->show();
    field_->setFocus();
    field_->selectAll();
    update();
}

void TextWatermarkView::disableTextEvents() {
    field_->setReadOnly(true);
    field_->hide();
    update();
}

void TextWatermarkView::setTextContent(const QString& text) {
    shownText_ = text;
    if (field_->toPlainText() != text) field_->setPlainText(text);
    update();
}

QString TextWatermarkView::textContent() const { return shownText_; }

void TextWatermarkView::setTextFont(const QFont& font) {
    font_ = font;
    field_->setFont(font);
    update();
}

void TextWatermarkView::setTextColor(const QColor& color) {
    color_ = color;
    QPalette pal = field_->palette();
    pal.setColor(QPalette::Text, color);
    field_->setPalette(pal);
    field_->setStyleSheet(fieldStyle(color_));
    update();
}

void TextWatermarkView::setAlignment(int alignment) {
    alignment_ = alignment;
    resetTextField();
    sizeTextContainerFieldToFit();
}

void TextWatermarkView::resetTextField() {
    placeField();
    if (field_->toPlainText() != shownText_) field_->setPlainText(shownText_);
    field_->setFont(font_);
    QTextOption option = field_->document()->defaultTextOption();
    option.setAlignment(qtAlignment(alignment_));
    field_->document()->setDefaultTextOption(option);
    QPalette pal = field_->palette();
    pal.setColor(QPalette::Text, color_);
    field_->setPalette(pal);
    field_->setPlaceholderText(OverlayPanels::placeholderText());
    field_->setFrameShape(QFrame::NoFrame);
    field_->setStyleSheet(fieldStyle(color_));
}

QPointF TextWatermarkView::centerOfView(const QWidget* view) {
    if (!view) return {};
    const QRectF f = view->geometry();
    return {f.x() + f.width() / 2, f.y() + f.height() / 2};
}

void TextWatermarkView::updateCenterValues() { centerOfTextContainer = geometry_.center(); }

void TextWatermarkView::btnCloseOnTextContainerTapped() {
    if (delegate_) delegate_->btnCrossClickedOnTextWatermarkView();
}

void TextWatermarkView::btnRotateOnTextContainerTapped() {}

void TextWatermarkView::setLeftTextAlignment() { setAlignment(0); }
void TextWatermarkView::setCenterTextAlignment() { setAlignment(2); }
void TextWatermarkView::setRightTextAlignment() { setAlignment(1); }

void TextWatermarkView::setHorizontalFlipWithFlag(bool on) {
    geometry_.setHorizontalFlip(on);
    placeField();
    update();
}

void TextWatermarkView::setVerticalFlipWithFlag(bool on) {
    geometry_.setVerticalFlip(on);
    placeField();
    update();
}

void TextWatermarkView::placeField() {
    const QRectF inner = platform::toQtRect(TextBoxGeometry::insetByMargin(geometry_.containerFrame()), height());
    field_->setGeometry(inner.toRect().adjusted(int(TextBoxGeometry::textOffsetForAlignment(alignment_)), 0, 0, 0));
}

void TextWatermarkView::sizeTextContainerFieldToFit() {
    const QFontMetricsF metrics(font_);
    const QString measured = shownText_.isEmpty() ? OverlayPanels::placeholderText() : shownText_;
    const QRectF bounds = metrics.boundingRect(QRectF(0, 0, 100000, 100000), Qt::AlignLeft | Qt::AlignTop, measured);
    geometry_.fitToTextSize(bounds.size());
    placeField();
    update();
    callDelegateToUpdateValues();
    updateCenterValues();
}

void TextWatermarkView::callDelegateToUpdateValues() {
    // No gesture turns the box freely; its flips turn it by quarters, and the step keeps
    // that turn so the photo's text is turned as the preview's is.
    if (delegate_)
        delegate_->transformUpdatedOnTextWatermarkViewWithRotation(float(geometry_.rotationDegrees()),
                                                                   geometry_.updatedFrame(), geometry_.rotatedFrame());
}

void TextWatermarkView::adjustExtendRectToTextChange(const QString& photoPath, const QString& filterName,
                                                     const QVariantList& parameters) {
    const OverlayPanels::TextFieldState s = OverlayPanels::textFieldState(filterName, parameters, photoPath);
    QFont font;
    if (!s.fontName.isEmpty() && s.fontName != QLatin1String("System Default")) font.setFamily(s.fontName);
    font.setPixelSize(std::max(1, s.fontSize));
    font_ = font;
    field_->setFont(font);
    setTextColor(s.color);
    shownText_ = s.text;
    if (!isEditing()) field_->setPlainText(s.text);
    setAlignment(s.alignment);
}

QRectF TextWatermarkView::turnedInnerBox(QPainter& p) const {
    const QRectF frame = platform::toQtRect(geometry_.containerFrame(), height());
    // The box turns about its centre; on screen a turn of 270 stands it up.
    p.translate(frame.center());
    p.rotate(-geometry_.rotationDegrees());
    p.translate(-frame.center());
    return frame.adjusted(TextBoxGeometry::kMargin, TextBoxGeometry::kMargin, -TextBoxGeometry::kMargin,
                          -TextBoxGeometry::kMargin);
}

void TextWatermarkView::paintText(QPainter& p) const {
    if (isEditing()) return;  // the field shows the text while it is typed
    p.save();
    const QRectF inner = turnedInnerBox(p);
    p.setFont(font_);
    p.setPen(shownText_.isEmpty() ? QColor(200, 200, 200, 160) : color_);
    p.drawText(inner.adjusted(TextBoxGeometry::textOffsetForAlignment(alignment_), 0, 0, 0),
               int(qtAlignment(alignment_) | Qt::AlignTop),
               shownText_.isEmpty() ? OverlayPanels::placeholderText() : shownText_);
    p.restore();
}

void TextWatermarkView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.save();
    const QRectF inner = turnedInnerBox(p);
    p.setPen(QPen(kBoxBorder, 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawRect(inner);
    p.restore();
    paintText(p);
    const QRectF cross = crossRectInWidget();
    p.setPen(QPen(Qt::white, 1.5));
    p.setBrush(kBoxBorder);
    p.drawEllipse(cross);
    p.drawLine(cross.topLeft() + QPointF(4, 4), cross.bottomRight() - QPointF(4, 4));
    p.drawLine(cross.topRight() + QPointF(-4, 4), cross.bottomLeft() + QPointF(4, -4));
}

void TextWatermarkView::mousePressEvent(QMouseEvent* e) {
    const QPointF pos = e->position();
    if (crossRectInWidget().contains(pos)) {
        btnCloseOnTextContainerTapped();
        return;
    }
    const QRectF inner = platform::toQtRect(TextBoxGeometry::insetByMargin(geometry_.rotatedFrame()), height());
    if (inner.contains(pos)) {
        geometry_.beginMove(toYUp(pos));
    } else {
        geometry_.endMove();
        disableTextEvents();
        e->ignore();
    }
}

void TextWatermarkView::mouseDoubleClickEvent(QMouseEvent* e) {
    const QRectF inner = platform::toQtRect(TextBoxGeometry::insetByMargin(geometry_.rotatedFrame()), height());
    if (!inner.contains(e->position())) return;
    platform::log(u"Clicked %ld", qint64(2));
    geometry_.endMove();
    enableTextEvents();
}

void TextWatermarkView::mouseMoveEvent(QMouseEvent* e) {
    if (!geometry_.isMoving()) return;
    setCursor(Qt::OpenHandCursor);
    if (geometry_.dragTo(toYUp(e->position()))) {
        updateCenterValues();
        placeField();
        update();
    }
}

void TextWatermarkView::mouseReleaseEvent(QMouseEvent*) {
    if (!geometry_.isMoving()) return;
    geometry_.endMove();
    unsetCursor();
    callDelegateToUpdateValues();
}

bool TextWatermarkView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == field_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab) {
            field_->insertPlainText(QStringLiteral("\t"));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
