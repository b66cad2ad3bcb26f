#pragma once
// The progress bar of the run screen and of the add-photos progress sheet. A rising
// value slides to its place; a falling one, or any value while indeterminate, jumps.
#include <QColor>
#include <QWidget>

class QVariantAnimation;

class BarProgressIndicator : public QWidget {
    Q_OBJECT
public:
    explicit BarProgressIndicator(QWidget* parent = nullptr);

    void setDoubleValue(double value);
    double doubleValue() const { return value_; }
    // What the bar shows this instant (trails `doubleValue` while sliding).
    double displayedValue() const { return shown_; }
    void setMinValue(double v) { min_ = v; update(); }
    void setMaxValue(double v) { max_ = v; update(); }
    void setIndeterminate(bool on);
    bool isIndeterminate() const { return indeterminate_; }
    void setBarColor(const QColor& c) { bar_ = c; update(); }
    QSize sizeHint() const override { return QSize(200, 8); }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    double min_ = 0, max_ = 100, value_ = 0, shown_ = 0;
    bool indeterminate_ = false;
    QColor bar_ = QColor(27, 172, 143);
    QVariantAnimation* anim_ = nullptr;
};
