// The engine object's text, date, view and session helpers: one rule each, kept in
// CommonFunc, ViewHelpers and SavedState, so the engine's spelling and the records' give
// the same result.
#include "engine/Utils.h"

#include "records/AppDelegate.h"
#include "records/CommonFunc.h"
#include "records/SavedState.h"
#include "records/ViewHelpers.h"

QString Utils::unitStringFromBytes(double bytes, int flags) const { return CommonFunc::unitStringFromBytes(bytes, flags); }

QString Utils::getDateTimeStringForImageUrl(const QString& path, const QString& dateOption, const QString& dateFormat,
                                            const QString& timeFormat) const {
    return CommonFunc::getDateTimeStringForImageUrl(path, dateOption, dateFormat, timeFormat);
}

QString Utils::getDateInFormatNEW(const QDateTime& date) { return CommonFunc::getDateInFormatNEW(date); }

qint64 Utils::getDurationBetweenDate(const QDateTime& start, const QDateTime& end) {
    return CommonFunc::getDurationBetweenDate(start, end);
}

bool Utils::validateEmail(const QString& text) { return CommonFunc::validateEmail(text); }

QString Utils::getJSONFromDict(const QVariantMap& dict) { return CommonFunc::getJSONFromDict(dict); }

QDateTime Utils::getDateFromString(const QString& text, const QString& format) {
    return CommonFunc::getDateFromString(text, format);
}

QString Utils::getDateStringFromDate(const QDateTime& date, const QString& format) {
    return CommonFunc::getDateStringFromDate(date, format);
}

void Utils::disableSubViewsForView(QWidget* view) { ViewHelpers::disableSubViewsForView(view); }

void Utils::enableSubViewsForView(QWidget* view) { ViewHelpers::enableSubViewsForView(view); }

void Utils::setButtonTitleFor(QAbstractButton* button, const QString& title, const QColor& color) {
    ViewHelpers::setButtonTitleFor(button, title, color);
}

void Utils::setWindow(QWidget* window, QWidget* parent) { ViewHelpers::setWindow(window, parent); }

bool Utils::saveProjectSessionToDefault() { return SavedState::saveProjectSessionToDefault(AppDelegate::shared()); }

void Utils::saveBookmarkPathsFromTableView() { SavedState::saveBookmarkPathsFromTableView(AppDelegate::shared()); }
