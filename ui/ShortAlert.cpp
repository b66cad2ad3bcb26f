#include "ui/ShortAlert.h"

#include <QFontMetrics>
#include <QLabel>
#include <algorithm>

int shortAlertTextWidth(const QFont& font, const QString& title, const QString& message) {
    const QFontMetrics metrics(font);
    int widest = metrics.horizontalAdvance(title);
    for (const QString& line : message.split(QLatin1Char('\n')))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    // A pixel of slack: a label given exactly its text's advance may still wrap the last word.
    return std::min(widest + 2, kShortAlertMaxTextWidth);
}

QMessageBox* makeShortAlert(QWidget* parent, const QString& objectName, QMessageBox::Icon icon, const QString& title,
                            const QString& message) {
    auto* box = new QMessageBox(icon, QString(), title, QMessageBox::NoButton, parent);
    box->setObjectName(objectName);
    // Names of files are shown as they are, never read as markup.
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(message);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    // The box sizes itself from its labels' widths when shown, and wraps the message at a
    // narrow default; a label that needs its text's width gets the box to that width.
    const int width = shortAlertTextWidth(box->font(), title, message);
    if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
        label->setTextFormat(Qt::PlainText);
        label->setMinimumWidth(width);
    }
    return box;
}
