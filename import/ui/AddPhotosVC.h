#pragma once
// The add-photos screen (screen 0 of the main window).
#include <QWidget>

// Implemented by the main window: how the add-photos screen moves the user on.
class AddPhotosDelegate {
public:
    virtual ~AddPhotosDelegate() = default;
    virtual void btnNextFromAddPhotosVcTapped() = 0;
    // The batch or the drop area's state changed.
    virtual void photosChangedNotification() = 0;
};

class QPushButton;

class AddPhotosVC : public QWidget {
    Q_OBJECT
public:
    explicit AddPhotosVC(QWidget* parent = nullptr);
    void setDelegate(AddPhotosDelegate* delegate) { delegate_ = delegate; }
    AddPhotosDelegate* delegate() const { return delegate_; }
    QPushButton* nextButton() const { return next_; }

private:
    AddPhotosDelegate* delegate_ = nullptr;
    QPushButton* next_ = nullptr;
};
