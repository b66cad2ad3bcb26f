#pragma once
// Toggle buttons that show one picture when on and another when off, with a small
// title label; the effects screen's point and corner buttons build on them.
#include <QPixmap>
#include <QPushButton>
#include <QString>

class QLabel;

// A push button that keeps an on/off state.
class ToggleButton : public QPushButton {
    Q_OBJECT
public:
    explicit ToggleButton(QWidget* parent = nullptr);
    // 0 off, anything else on.
    virtual void setState(int state);
    int state() const { return isChecked() ? 1 : 0; }

protected:
    // A click leaves the state alone: the owner's click handler sets the new state, so the
    // button and what it controls (a handle, a rectangle) always change together.
    void nextCheckState() override {}
};

class LabeledToggleButton : public ToggleButton {
    Q_OBJECT
public:
    explicit LabeledToggleButton(QWidget* parent = nullptr);

    // Adds the title label (size 10, blue, not editable or selectable). Subclasses call
    // it first from their own set-up; running it twice changes nothing.
    virtual void doInitSetup();
    void setButtonTitle(const QString& title);
    QString buttonTitle() const;
    void setSelectedImageName(const QString& name);
    void setNotSelectedImageName(const QString& name);
    QString selectedImageName() const { return onName_; }
    QString notSelectedImageName() const { return offName_; }
    void setState(int state) override;
    // The picture for the present state (null when its file is missing).
    QPixmap currentImage() const { return isChecked() ? onImage_ : offImage_; }
    QLabel* titleLabel() const { return label_; }

    // A picture of the application's resources by name, with or without ".png".
    static QPixmap resourceImage(const QString& name);

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    QLabel* label_ = nullptr;
    QString onName_, offName_;
    QPixmap onImage_, offImage_;
};

// The crop-corner toggle of the effects screen; the handles themselves belong to the editor.
class FourCornersButton : public LabeledToggleButton {
    Q_OBJECT
public:
    explicit FourCornersButton(QWidget* parent = nullptr);
    void doInitSetup() override;
};

// The point toggle of the effects screen; the handle itself belongs to the editor.
class PointButton : public LabeledToggleButton {
    Q_OBJECT
public:
    explicit PointButton(QWidget* parent = nullptr);
    void doInitSetup() override;
};
