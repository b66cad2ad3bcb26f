#pragma once
// The output-and-run screen (screen 2 of the main window).
#include <QList>
#include <QWidget>
#include <memory>

struct PhotoFile;

// Implemented by the main window: how the output-and-run screen moves the user on.
class SetupDelegate {
public:
    virtual ~SetupDelegate() = default;
    virtual void btnBackFromSetupVCTapped() = 0;
    virtual void btnStartNewBatchFromSetupVCTapped() = 0;
    // The skipped photos of a run become the batch.
    virtual void btnProcessSkippedFromSetupVCTapped(const QList<std::shared_ptr<PhotoFile>>& skipped) = 0;
};

class QPushButton;

class SetupVC : public QWidget {
    Q_OBJECT
public:
    explicit SetupVC(QWidget* parent = nullptr);
    void setDelegate(SetupDelegate* delegate) { delegate_ = delegate; }
    SetupDelegate* delegate() const { return delegate_; }
    QPushButton* backButton() const { return back_; }

private:
    SetupDelegate* delegate_ = nullptr;
    QPushButton* back_ = nullptr;
};
