#include "ui/CollectionViewCell.h"

#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <algorithm>

#include "ui/CollectionView.h"

namespace {
constexpr int kLabelBlock = 54;  // room under the picture for the three text lines
constexpr int kInfoSize = 20;
}  // namespace

CollectionViewCell::CollectionViewCell(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    info_ = new QToolButton(this);
    info_->setText(QStringLiteral("i"));
    info_->setAutoRaise(true);
    info_->setCursor(Qt::PointingHandCursor);
    info_->setFixedSize(kInfoSize, kInfoSize);
    connect(info_, &QToolButton::clicked, this, [this] { infoTapped(); });
}

CollectionViewCell* CollectionViewCell::initWithFrame(const QRect& frame, QWidget* parent) {
    auto* c = new CollectionViewCell(parent);
    c->setGeometry(frame);
    return c;
}

// The raster engine hands a draw of many rows to its helper threads and waits for them;
// when the machine is busy that wait stalls the main thread far longer than the draw
// itself takes. Bands of fewer rows are drawn on the painting thread alone.
void drawInBands(QPainter& p, QPoint at, const QPixmap& pixmap) {
    constexpr int kBand = 64;
    const qreal ratio = pixmap.devicePixelRatio();
    const int rows = pixmap.height();
    for (int y = 0; y < rows; y += kBand) {
        const int h = std::min(kBand, rows - y);
        p.drawPixmap(QPointF(at) + QPointF(0, y / ratio), pixmap, QRectF(0, y, pixmap.width(), h));
    }
}

void fillInBands(QPainter& p, const QRect& rect, const QColor& color) {
    constexpr int kBand = 64;
    for (int y = rect.top(); y <= rect.bottom(); y += kBand)
        p.fillRect(QRect(rect.left(), y, rect.width(), std::min(kBand, rect.bottom() + 1 - y)), color);
}

void CollectionViewCell::setBackgroundImage(const QImage& image) {
    background_ = image;
    shownBackground_ = QPixmap();
    update();
}
void CollectionViewCell::setNameValue(const QString& name) {
    name_ = name;
    setToolTip(name);
    update();
}
void CollectionViewCell::setDimensionValue(const QString& text) { dimension_ = text; update(); }
void CollectionViewCell::setSizeValue(const QString& text) { size_ = text; update(); }
void CollectionViewCell::setCheckImage(const QImage& image) { check_ = image; update(); }
void CollectionViewCell::setBgselectedColor(const QColor& color) { selectedColor_ = color; update(); }
void CollectionViewCell::setIsForSmallThubnails(bool small) {
    small_ = small;
    info_->setVisible(!small);
    update();
}
void CollectionViewCell::setSelected(bool selected) {
    if (selected_ == selected) return;
    selected_ = selected;
    update();
}

void CollectionViewCell::resizeEvent(QResizeEvent*) { info_->move(width() - kInfoSize - 4, 4); }

void CollectionViewCell::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRect all = rect();
    const bool labels = !small_;
    QRect pictureBox = labels ? all.adjusted(6, 6, -6, -kLabelBlock) : all.adjusted(2, 2, -2, -2);
    if (selectedColor_.alpha() > 0) {
        fillInBands(p, all, selectedColor_);
        // The selection line along the bottom edge.
        p.fillRect(QRect(all.left(), all.bottom() - 2, all.width(), 3), selectedColor_.darker(130));
    }
    if (!background_.isNull() && pictureBox.isValid()) {
        QSize s = background_.size().scaled(pictureBox.size(), Qt::KeepAspectRatio);
        QRect target(QPoint(0, 0), s);
        target.moveCenter(pictureBox.center());
        // Scaled once per picture and size, not on every paint (scrolling repaints often).
        const qreal ratio = devicePixelRatioF();
        const QSize pixels = (QSizeF(s) * ratio).toSize();
        if (shownBackground_.isNull() || shownBackground_.size() != pixels) {
            shownBackground_ = QPixmap::fromImage(background_.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
            shownBackground_.setDevicePixelRatio(ratio);
        }
        drawInBands(p, target.topLeft(), shownBackground_);
    }
    if (labels) {
        p.setPen(palette().color(QPalette::WindowText));
        QFont f = font();
        f.setPointSizeF(std::max(7.0, f.pointSizeF() * 0.85));
        p.setFont(f);
        const QFontMetrics fm(f);
        int y = all.bottom() - kLabelBlock + 6;
        // Not clipped to the line box: at some sizes an underscore is placed just below the
        // font's descent and a clipped box would hide it, so "IMG_4101" read as "IMG 4101".
        // The gap between the lines leaves it room.
        for (const QString& line : {name_, dimension_, size_}) {
            p.drawText(QRect(6, y, all.width() - 12, fm.height()), Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextDontClip,
                       fm.elidedText(line, Qt::ElideMiddle, all.width() - 12));
            y += fm.height() + 2;
        }
    }
    if (!check_.isNull()) {
        const QSize cs = check_.size().scaled(QSize(22, 22), Qt::KeepAspectRatio);
        p.drawImage(QRect(QPoint(4, 4), cs), check_);
    }
}

void CollectionViewCell::mousePressEvent(QMouseEvent* e) { e->ignore(); }

CollectionView* CollectionViewCell::collectionView() const {
    for (QWidget* w = parentWidget(); w; w = w->parentWidget())
        if (auto* cv = qobject_cast<CollectionView*>(w)) return cv;
    return nullptr;
}

void CollectionViewCell::infoTapped() {
    CollectionView* cv = collectionView();
    if (!cv) return;
    // The pop-up is placed in the view two levels above the collection view.
    QWidget* target = cv;
    for (int i = 0; i < 2 && target->parentWidget(); ++i) target = target->parentWidget();
    const QPoint origin = info_->mapTo(target, QPoint(0, 0));
    cv->btnInfoTappedAtLocationInCollectionView(origin, indexPath_);
}
