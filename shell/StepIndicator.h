#pragma once
// The step indicator in the main window's header: six steps, from adding photos to the
// finished run; the steps before the current one are drawn as done.
#include <QStringList>
#include <QWidget>

class StepIndicator : public QWidget {
    Q_OBJECT
public:
    static constexpr int kStepCount = 6;
    explicit StepIndicator(QWidget* parent = nullptr);
    // Out-of-range steps are clamped to 0..5.
    void setStep(int step);
    int step() const { return step_; }
    static QStringList stepTitles();
    QSize sizeHint() const override { return QSize(640, 44); }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    int step_ = 0;
};
