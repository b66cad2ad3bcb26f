#pragma once
// Entry checks for the integer text fields. Each edit of a field is checked as a whole:
// an edit is let through only when the whole resulting text passes, so a field never
// holds anything but an optional sign and digits.
#include <QValidator>
#include <climits>

// Positive or negative whole numbers up to a maximum value, never 0.
class OnlyIntegerValueFormatter : public QValidator {
    Q_OBJECT
public:
    explicit OnlyIntegerValueFormatter(QObject* parent = nullptr) : QValidator(parent) {}
    void setMaximumValue(int value) { maximumValue_ = value; }
    void setMaximumLength(int length) { maximumLength_ = length; }
    int maximumValue() const { return maximumValue_; }
    int maximumLength() const { return maximumLength_; }

    bool isPartialStringValid(const QString& text) const;
    State validate(QString& input, int& pos) const override;

private:
    int maximumValue_ = INT_MAX;
    int maximumLength_ = INT_MAX;
};

// Whole numbers of at most a number of characters, 0 included.
class OnlyIntegerValueFormatterWithZero : public QValidator {
    Q_OBJECT
public:
    explicit OnlyIntegerValueFormatterWithZero(QObject* parent = nullptr) : QValidator(parent) {}
    void setMaximumLength(int length) { maximumLength_ = length; }
    int maximumLength() const { return maximumLength_; }

    bool isPartialStringValid(const QString& text) const;
    State validate(QString& input, int& pos) const override;

private:
    int maximumLength_ = INT_MAX;
};
