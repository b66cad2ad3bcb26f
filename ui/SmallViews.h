#pragma once
// Small views and buttons the screens are built from.
#include <QColor>
#include <QPushButton>
#include <QScrollArea>
#include <QTableView>
#include <QWidget>

class QMouseEvent;
class QWheelEvent;
class MouseDownView;

// What a MouseDownView reports; a delegate overrides only the calls it answers.
class MouseDownViewDelegate {
public:
    virtual ~MouseDownViewDelegate() = default;
    virtual void mouseDown(QMouseEvent*, MouseDownView*) {}
    virtual void mouseDoubbleClicked(QMouseEvent*, MouseDownView*) {}
    virtual void mouseDragged(QMouseEvent*, MouseDownView*) {}
    virtual void mouseUp(QMouseEvent*, MouseDownView*) {}
    virtual void mouseExited(QEvent*, MouseDownView*) {}
    virtual void scrollWheel(QWheelEvent*, MouseDownView*) {}
    virtual void rightMouseDown(QMouseEvent*) {}
};

// Passes its mouse events to a delegate it does not own.
class MouseDownView : public QWidget {
    Q_OBJECT
public:
    explicit MouseDownView(QWidget* parent = nullptr) : QWidget(parent) {}
    void setDelegate(MouseDownViewDelegate* d) { delegate_ = d; }
    MouseDownViewDelegate* delegate() const { return delegate_; }

protected:
    void mousePressEvent(QMouseEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void leaveEvent(QEvent*) override;
    void wheelEvent(QWheelEvent*) override;

private:
    MouseDownViewDelegate* delegate_ = nullptr;
};

class ButtonTableCellViewDelegate {
public:
    virtual ~ButtonTableCellViewDelegate() = default;
    virtual void btnInfoTappedAtLocationInTableView(const QPoint& location, int row) {}
};

// A table cell holding one button; the button reports its row and where it sits.
class ButtonTableCellView : public QWidget {
    Q_OBJECT
public:
    explicit ButtonTableCellView(QWidget* parent = nullptr);
    QPushButton* cellButton() const { return button_; }
    void setDelegate(ButtonTableCellViewDelegate* d) { delegate_ = d; }
    // The row of the table this cell sits in, -1 outside a table.
    int row() const;
    void buttonTapped();

private:
    QPushButton* button_;
    ButtonTableCellViewDelegate* delegate_ = nullptr;
};

// A scroll area whose wheel scrolling can be switched off.
class DisableScrollView : public QScrollArea {
    Q_OBJECT
public:
    // It is no stop of its own for Tab: the keyboard goes to the controls it holds, and
    // the area scrolls to show the one that has it.
    explicit DisableScrollView(QWidget* parent = nullptr) : QScrollArea(parent) { setFocusPolicy(Qt::NoFocus); }
    void setScrollingEnabled(bool on) { enabled_ = on; }
    bool scrollingEnabled() const { return enabled_; }

protected:
    void wheelEvent(QWheelEvent*) override;

private:
    bool enabled_ = true;
};

// An underlined, link-styled title, cut short at the tail when it does not fit; with the
// keyboard on it, a ring in the title's colour around it.
class LinkButton : public QPushButton {
    Q_OBJECT
public:
    explicit LinkButton(QWidget* parent = nullptr);
    void setTitle(const QString& text, float fontSize, bool bold, const QColor& color = QColor());
    void setTitleColor(const QColor& color);
    QString title() const { return title_; }
    QColor titleColor() const { return color_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QString title_;
    QColor color_ = QColor(0, 0, 255);
};

// The small round "i" beside an option that opens its explanation: accent-coloured, and
// filled with the keyboard on it.
QPushButton* makeInfoButton(const QString& name, QWidget* parent);

// A plain button that shows the pointing hand while the mouse is over it.
class HandCusorButton : public QPushButton {
    Q_OBJECT
public:
    explicit HandCusorButton(QWidget* parent = nullptr) : QPushButton(parent) { setCursor(Qt::PointingHandCursor); }
};

// A table that draws its own selection: a flat band in the accent colour.
class HighLightedTableView : public QTableView {
    Q_OBJECT
public:
    explicit HighLightedTableView(QWidget* parent = nullptr);
    void setHighlightColor(const QColor& c);
};

// A read-only table of titles and values (a photo's facts): no headers, grid or selection,
// the titles in a first column of `titleWidth`. Nothing in it can be chosen or edited, so
// Tab moves on to the next control rather than from cell to cell.
class InfoTableView : public QTableView {
    Q_OBJECT
public:
    explicit InfoTableView(QWidget* parent = nullptr, int titleWidth = 100, int rowHeight = 30);
};
