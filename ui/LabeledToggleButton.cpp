#include "ui/LabeledToggleButton.h"

#include <QFile>
#include <QLabel>
#include <QPainter>

#include "platform/foundation/Resources.h"

ToggleButton::ToggleButton(QWidget* parent) : QPushButton(parent) {
    setCheckable(true);
    setFlat(true);
}

void ToggleButton::setState(int state) { setChecked(state != 0); }

LabeledToggleButton::LabeledToggleButton(QWidget* parent) : ToggleButton(parent) {
    LabeledToggleButton::doInitSetup();
    connect(this, &QAbstractButton::toggled, this, [this] { update(); });
}

void LabeledToggleButton::doInitSetup() {
    if (label_) return;
    label_ = new QLabel(this);
    QFont f = label_->font();
    f.setPointSizeF(10);
    label_->setFont(f);
    QPalette pal = label_->palette();
    pal.setColor(QPalette::WindowText, QColor(0, 0, 255));
    label_->setPalette(pal);
    label_->setTextInteractionFlags(Qt::NoTextInteraction);
    label_->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    label_->setAttribute(Qt::WA_TransparentForMouseEvents);
}

void LabeledToggleButton::setButtonTitle(const QString& title) { label_->setText(title); }
QString LabeledToggleButton::buttonTitle() const { return label_->text(); }

QPixmap LabeledToggleButton::resourceImage(const QString& name) {
    if (name.isEmpty()) return {};
    for (const QString& candidate : {name, name + QStringLiteral(".png")}) {
        const QString path = platform::resourcePath(candidate);
        if (!path.isEmpty() && QFile::exists(path)) return QPixmap(path);
    }
    return {};
}

void LabeledToggleButton::setSelectedImageName(const QString& name) {
    onName_ = name;
    onImage_ = resourceImage(name);
    update();
}

void LabeledToggleButton::setNotSelectedImageName(const QString& name) {
    offName_ = name;
    offImage_ = resourceImage(name);
    update();
}

void LabeledToggleButton::setState(int state) {
    ToggleButton::setState(state);
    update();
}

void LabeledToggleButton::resizeEvent(QResizeEvent*) { label_->setGeometry(rect()); }

void LabeledToggleButton::paintEvent(QPaintEvent* e) {
    const QPixmap img = currentImage();
    if (img.isNull()) {
        QPushButton::paintEvent(e);
        return;
    }
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    QSize s = img.size().scaled(size(), Qt::KeepAspectRatio);
    QRect target(QPoint(0, 0), s);
    target.moveCenter(rect().center());
    p.drawPixmap(target, img);
}

FourCornersButton::FourCornersButton(QWidget* parent) : LabeledToggleButton(parent) { FourCornersButton::doInitSetup(); }

void FourCornersButton::doInitSetup() {
    LabeledToggleButton::doInitSetup();
    setSelectedImageName(QStringLiteral("FourCornersButton image active"));
    setNotSelectedImageName(QStringLiteral("FourCornersButton image inactive"));
}

PointButton::PointButton(QWidget* parent) : LabeledToggleButton(parent) { PointButton::doInitSetup(); }

void PointButton::doInitSetup() {
    LabeledToggleButton::doInitSetup();
    setSelectedImageName(QStringLiteral("PointButton image active"));
    setNotSelectedImageName(QStringLiteral("PointButton image inactive"));
}
