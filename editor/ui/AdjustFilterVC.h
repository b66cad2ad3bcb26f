#pragma once
// The effects screen (screen 1 of the main window).
#include <QWidget>

// Implemented by the main window: Next and Back of the effects screen.
class AdjustFilterDelegate {
public:
    virtual ~AdjustFilterDelegate() = default;
    virtual void btnNextFromAdjustFilterVCTapped() = 0;
    virtual void btnBackFromFromAdjustFilterVCTapped() = 0;
};

class QPushButton;

class AdjustFilterVC : public QWidget {
    Q_OBJECT
public:
    explicit AdjustFilterVC(QWidget* parent = nullptr);
    void setDelegate(AdjustFilterDelegate* delegate) { delegate_ = delegate; }
    AdjustFilterDelegate* delegate() const { return delegate_; }
    QPushButton* nextButton() const { return next_; }
    QPushButton* backButton() const { return back_; }

private:
    AdjustFilterDelegate* delegate_ = nullptr;
    QPushButton* next_ = nullptr;
    QPushButton* back_ = nullptr;
};
