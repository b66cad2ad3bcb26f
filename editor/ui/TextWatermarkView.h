#pragma once
// The text box over the preview while a text, watermark or date step is set up: dragged
// to place the text, double-clicked to type (not for dates), closed with its cross, sized
// to its text and turned by the flips. It reports its geometry (image-container points,
// y up) to its delegate at the end of every change; the delegate writes the parameters.
#include <QColor>
#include <QFont>
#include <QVariantList>
#include <QWidget>

#include "editor/TextBoxGeometry.h"

class QPainter;
class QPlainTextEdit;

class TextWatermarkViewDelegate {
public:
    virtual ~TextWatermarkViewDelegate() = default;
    virtual void btnCrossClickedOnTextWatermarkView() = 0;
    virtual void transformUpdatedOnTextWatermarkViewWithRotation(float rotation, const QRectF& updatedFrame,
                                                                 const QRectF& rotatedFrame) = 0;
};

class TextWatermarkView : public QWidget {
    Q_OBJECT
public:
    explicit TextWatermarkView(QWidget* parent = nullptr);

    void setDelegate(TextWatermarkViewDelegate* delegate) { delegate_ = delegate; }
    TextBoxGeometry& geometryModel() { return geometry_; }
    const TextBoxGeometry& geometryModel() const { return geometry_; }

    bool isSetTextFieldEditable = true;
    // Opens the text for typing where allowed (all of it selected); otherwise only shows it.
    void enableTextEvents();
    void disableTextEvents();
    bool isEditing() const;
    QPlainTextEdit* textField() const { return field_; }

    // The field's content.
    void setTextContent(const QString& text);
    QString textContent() const;
    void setTextFont(const QFont& font);
    QFont textFont() const { return font_; }
    void setTextColor(const QColor& color);
    QColor textColor() const { return color_; }
    int textAlignment() const { return alignment_; }
    void setLeftTextAlignment();
    void setCenterTextAlignment();
    void setRightTextAlignment();
    void setHorizontalFlipWithFlag(bool on);
    void setVerticalFlipWithFlag(bool on);

    // Sizes the box to its text (the placeholder's size when empty) and reports.
    void sizeTextContainerFieldToFit();
    void callDelegateToUpdateValues();
    // The centre of the box's frame (y up), refreshed after every size or position change.
    QPointF centerOfTextContainer;
    void updateCenterValues();
    // Gives the field the box's frame, text, font, alignment, colour and placeholder again.
    void resetTextField();
    // The centre of a view's frame; (0, 0) for no view.
    static QPointF centerOfView(const QWidget* view);
    // The box's cross, and its turn button (which has no action).
    void btnCloseOnTextContainerTapped();
    void btnRotateOnTextContainerTapped();
    // Shows a parameter list as the output draws it (a date stamp shows its date).
    void adjustExtendRectToTextChange(const QString& photoPath, const QString& filterName,
                                      const QVariantList& parameters);

    // Draws the text as the preview shows it over the photo (not while it is typed), in the
    // widget's own coordinates, without the box's outline and cross.
    void paintText(QPainter& p) const;

    // The box in the widget's own (y-down) coordinates, and its cross button.
    QRectF boxRectInWidget() const;
    QRectF crossRectInWidget() const;

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setAlignment(int alignment);
    // Turns the painter with the box and gives the box's text area.
    QRectF turnedInnerBox(QPainter& p) const;
    void placeField();
    QPointF toYUp(const QPointF& p) const;

    TextWatermarkViewDelegate* delegate_ = nullptr;
    TextBoxGeometry geometry_;
    QPlainTextEdit* field_ = nullptr;
    QFont font_;
    QColor color_ = Qt::white;
    int alignment_ = 0;
    QString shownText_;  // what is drawn while not typing
};
