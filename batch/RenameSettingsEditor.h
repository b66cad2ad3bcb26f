#pragma once
// What the rename and conversion controls do to the shared rename settings, with no
// widget: the field limits, the rule switches, the pop-up choices and their lists, and
// the texts the controls show for a settings object. A rule dictionary is never changed
// in place: each edit stores a changed copy.
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <optional>

struct BatchRenameSetting;

enum class RenameField {
    ReplaceFileName,
    CustomDateTimeStamp,
    Prefix,
    Suffix,
    InsertString,
    AtPositionString,
    AtPositionAddDigit,
    StartIndexAddDigit,
    IncrementAddDigit,
    FirstnRemove,
    LaststnRemove,
    FromIndexRemove,
    ToIndexRemove,
    CharsRemove,
    WordsRemove,
};
inline constexpr int kRenameFieldCount = 15;

enum class RenameRule {
    ReplaceFileName,
    DateTimeStamp,
    AppendFolderName,
    AddString,
    AddDigit,
    Remove,
    ChangeCaseFileName,
    CaseFileExtension,
};
inline constexpr int kRenameRuleCount = 8;

// Lists of the option pop-up, by type.
enum PopupType {
    PopupOutputFormat = 0,
    PopupDateStampAs = 1,
    PopupDateStampType = 2,
    PopupDateStampFormat = 3,
    PopupFolderNameAs = 4,
    PopupDigitAs = 5,
    PopupCaseMode = 6,
};

// Which panel the output format shows.
enum class FormatPanel { None, Quality, Compression };

namespace renameedit {

// Characters an integer field holds at most.
inline constexpr int kIntegerFieldLength = 4;

// Integer fields carry no length limit of their own (0).
int limitOf(RenameField field);
bool isIntegerField(RenameField field);

// A text edit of a field. Nothing is stored unless the renaming mode is 1 (nullopt);
// otherwise the cleaned text (cut to the limit, "/" dropped where the field drops it) is
// stored and returned for the field to show.
std::optional<QString> controlTextDidChange(BatchRenameSetting& s, RenameField field, const QString& text);
// The leading integer of a text (an optional sign and digits); 0 when there is none.
int leadingInteger(const QString& text);

void setRuleState(BatchRenameSetting& s, RenameRule rule, bool on);
bool ruleState(const BatchRenameSetting& s, RenameRule rule);

// The list of a pop-up type (formats for type 0); empty for an unknown type.
QStringList popupList(int type, const QStringList& fileFormats);
// Stores a pop-up choice (type 0: the output format).
void choosePopupRow(BatchRenameSetting& s, int type, int row);
// The row of the stored choice in its list (type 0: the output format), -1 for none.
int popupChoiceRow(const BatchRenameSetting& s, int type);
// The entry shown for the stored choice; empty when it lies outside the list.
QString popupChoiceText(const BatchRenameSetting& s, int type, const QStringList& fileFormats);
// Size of the rename pop-up panel for a list (types 1 to 6).
QSize popupSize(int type, int entries);
// Height of the output-format list.
int formatListHeight(int entries);

// What the controls show of a settings object.
QString fieldText(const BatchRenameSetting& s, RenameField field);

FormatPanel formatPanelFor(int outputFormat);
// "%d" of the quality times 100 (truncated), and of the compression level.
QString qualityText(double quality);
QString compressionText(double compression);

}  // namespace renameedit
