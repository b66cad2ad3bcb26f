#include "batch/RenameSettingsEditor.h"

#include "batch/RenameScheme.h"
#include "records/AppDelegate.h"
#include "records/BatchRenameSetting.h"

#include <cmath>

namespace renameedit {

namespace {

struct FieldSpec {
    QVariantMap BatchRenameSetting::*dict;
    const char* key;
    int limit;  // 0: integer field
    bool dropsSlash;
};

const FieldSpec& specOf(RenameField field) {
    using S = BatchRenameSetting;
    using R = RenameScheme;
    static const FieldSpec specs[kRenameFieldCount] = {
        {&S::dictReplaceFileName, R::kNewName, 150, true},
        {&S::dictDateTimeStamp, R::kCustom, 20, true},
        {&S::dictAddString, R::kPrefix, 50, true},
        {&S::dictAddString, R::kSuffix, 50, true},
        {&S::dictAddString, R::kInsert, 50, true},
        {&S::dictAddString, R::kAtPosition, 0, false},
        {&S::dictAddDigit, R::kAtPosition, 0, false},
        {&S::dictAddDigit, R::kStartingIndex, 0, false},
        {&S::dictAddDigit, R::kIncrement, 0, false},
        {&S::dictRemove, R::kFirstN, 0, false},
        {&S::dictRemove, R::kLastN, 0, false},
        {&S::dictRemove, R::kFrom, 0, false},
        {&S::dictRemove, R::kTo, 0, false},
        {&S::dictRemove, R::kChars, 50, false},
        {&S::dictRemove, R::kWords, 50, false},
    };
    return specs[int(field)];
}

QVariantMap BatchRenameSetting::*ruleDict(RenameRule rule) {
    using S = BatchRenameSetting;
    static QVariantMap S::*const dicts[kRenameRuleCount] = {
        &S::dictReplaceFileName, &S::dictDateTimeStamp,      &S::dictAppendFolderName, &S::dictAddString,
        &S::dictAddDigit,        &S::dictRemove,             &S::dictChangeCaseFileName,
        &S::dictUseLowerCaseForFileExtension};
    return dicts[int(rule)];
}

// Stores one key in a copy of a rule dictionary and puts the copy back.
void storeCopy(BatchRenameSetting& s, QVariantMap BatchRenameSetting::*dict, const char* key, const QVariant& value) {
    QVariantMap copy = s.*dict;
    copy.insert(QString::fromLatin1(key), value);
    s.*dict = copy;
}

struct PopupTarget {
    QVariantMap BatchRenameSetting::*dict;
    const char* key;
};

std::optional<PopupTarget> popupTarget(int type) {
    using S = BatchRenameSetting;
    using R = RenameScheme;
    switch (type) {
    case PopupDateStampAs: return PopupTarget{&S::dictDateTimeStamp, R::kAs};
    case PopupDateStampType: return PopupTarget{&S::dictDateTimeStamp, R::kType};
    case PopupDateStampFormat: return PopupTarget{&S::dictDateTimeStamp, R::kFormat};
    case PopupFolderNameAs: return PopupTarget{&S::dictAppendFolderName, R::kAs};
    case PopupDigitAs: return PopupTarget{&S::dictAddDigit, R::kAs};
    case PopupCaseMode: return PopupTarget{&S::dictChangeCaseFileName, R::kCaseMode};
    default: return std::nullopt;
    }
}

}  // namespace

int limitOf(RenameField field) { return specOf(field).limit; }

bool isIntegerField(RenameField field) { return specOf(field).limit == 0; }

int leadingInteger(const QString& text) {
    qsizetype i = 0;
    const QString t = text.trimmed();
    if (i < t.size() && (t.at(i) == u'-' || t.at(i) == u'+')) ++i;
    const qsizetype digitsStart = i;
    while (i < t.size() && t.at(i).isDigit() && t.at(i).unicode() < 128) ++i;
    if (i == digitsStart) return 0;
    bool ok = false;
    const qlonglong value = t.left(i).toLongLong(&ok);
    if (!ok) return 0;
    return int(std::clamp<qlonglong>(value, INT_MIN, INT_MAX));
}

std::optional<QString> controlTextDidChange(BatchRenameSetting& s, RenameField field, const QString& text) {
    if (s.flagRenamingMode.value_or(0) != 1) return std::nullopt;
    const FieldSpec& spec = specOf(field);
    if (spec.limit == 0) {
        storeCopy(s, spec.dict, spec.key, leadingInteger(text));
        return text;
    }
    QString cleaned = text.size() > spec.limit ? text.left(spec.limit) : text;
    if (spec.dropsSlash) cleaned.remove(u'/');
    storeCopy(s, spec.dict, spec.key, cleaned);
    return cleaned;
}

void setRuleState(BatchRenameSetting& s, RenameRule rule, bool on) {
    storeCopy(s, ruleDict(rule), RenameScheme::kState, on);
}

bool ruleState(const BatchRenameSetting& s, RenameRule rule) {
    return (s.*ruleDict(rule)).value(QString::fromLatin1(RenameScheme::kState)).toBool();
}

QStringList popupList(int type, const QStringList& fileFormats) {
    switch (type) {
    case PopupOutputFormat: return fileFormats.isEmpty() ? AppDelegate::defaultFileFormats() : fileFormats;
    case PopupDateStampAs:
    case PopupFolderNameAs: return {QStringLiteral("Prefix"), QStringLiteral("Suffix")};
    case PopupDateStampType:
        return {QStringLiteral("Taken(Original)"), QStringLiteral("Modified"), QStringLiteral("Current"),
                QStringLiteral("Custom")};
    case PopupDateStampFormat:
        return {QStringLiteral("DMY"),
                QStringLiteral("DMY HM"),
                QStringLiteral("DMY HMS"),
                QStringLiteral("DD-MM-YYYY"),
                QStringLiteral("DD-MM-YYYY HH:MM"),
                QStringLiteral("DD-MM-YYYY HH:MM:SS"),
                QStringLiteral("MM-DD-YYYY"),
                QStringLiteral("MM-DD-YYYY HH:MM"),
                QStringLiteral("MM-DD-YYYY HH:MM:SS")};
    case PopupDigitAs: return {QStringLiteral("Prefix"), QStringLiteral("Suffix"), QStringLiteral("Insert")};
    case PopupCaseMode: return {QStringLiteral("Upper case"), QStringLiteral("Lower case"), QStringLiteral("Title case")};
    default: return {};
    }
}

void choosePopupRow(BatchRenameSetting& s, int type, int row) {
    if (type == PopupOutputFormat) {
        s.outputFormat = row;
        return;
    }
    if (const auto target = popupTarget(type)) storeCopy(s, target->dict, target->key, row);
}

int popupChoiceRow(const BatchRenameSetting& s, int type) {
    if (type == PopupOutputFormat) return BatchRenameSetting::outputFormatOf(&s);
    if (const auto target = popupTarget(type)) return (s.*(target->dict)).value(QString::fromLatin1(target->key)).toInt();
    return -1;
}

QString popupChoiceText(const BatchRenameSetting& s, int type, const QStringList& fileFormats) {
    const QStringList list = popupList(type, fileFormats);
    const int row = popupChoiceRow(s, type);
    return row >= 0 && row < list.size() ? list.at(row) : QString();
}

QSize popupSize(int type, int entries) {
    const bool dates = type == PopupDateStampFormat;
    const int width = dates ? 240 : 180;
    const int fewerThan = dates ? 12 : 5;
    const int height = entries < fewerThan ? entries * 36 + 15 : (dates ? 462 : 210);
    return {width, height};
}

int formatListHeight(int entries) { return entries * 36 + 30; }

QString fieldText(const BatchRenameSetting& s, RenameField field) {
    const FieldSpec& spec = specOf(field);
    const QVariant value = (s.*(spec.dict)).value(QString::fromLatin1(spec.key));
    if (spec.limit == 0) return QString::number(value.toInt());
    return value.toString();
}

FormatPanel formatPanelFor(int outputFormat) {
    if (outputFormat == outputformat::KeepOriginal) return FormatPanel::None;
    return outputformat::isLossy(outputFormat) ? FormatPanel::Quality : FormatPanel::Compression;
}

QString qualityText(double quality) { return QString::number(int(std::trunc(quality * 100.0 + 1e-9))); }

QString compressionText(double compression) { return QString::number(int(compression)); }

}  // namespace renameedit
