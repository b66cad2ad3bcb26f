#pragma once
// A horizontal slider over a real range: Qt's slider counts whole steps, so the range is
// cut into a fixed number of steps and values are mapped onto it.
#include <QSlider>

class ValueSlider : public QSlider {
    Q_OBJECT
public:
    explicit ValueSlider(QWidget* parent = nullptr);
    void setRange(double minimum, double maximum);
    double minimumValue() const { return min_; }
    double maximumValue() const { return max_; }
    // Held to the range; a non-finite value leaves the slider where it is.
    void setDoubleValue(double value);
    double doubleValue() const { return value_; }

signals:
    // A move by the user (not by setDoubleValue).
    void doubleValueMoved(double value);

private:
    static constexpr int kSteps = 10000;
    double min_ = 0, max_ = 1, value_ = 0;
    bool setting_ = false;
};
