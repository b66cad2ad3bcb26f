#pragma once
// The checks between the Start button of the rename-and-convert view and the start
// question: the destination folder, the replacement name, and what the classification
// of the planned outputs allows. Texts the user sees are written here once.
#include <QDateTime>
#include <QString>
#include <QStringList>

struct BatchRenameSetting;
struct OutputOptionSettings;
struct PreviewClassification;

namespace startgate {

inline const QString FolderNotFound = QStringLiteral("Destination folder not found");
inline const QString FolderNotFoundInfo = QStringLiteral("Please select other location to save processed images");
inline const QString BlankReplacementName = QStringLiteral(
    "Filename cannot be blank. Please enter the filename with which you wish to replace the original name.");
inline const QString RefusedTitle = QStringLiteral("ERROR/WARNING");
inline const QString RefusedText = QStringLiteral(
    "Batch Process cannot be initiated. Your batch includes errors/warnings that needs to be corrected. Please verify "
    "the filenames & output directory.");
inline const QString QuestionNoErrors = QStringLiteral(
    "Please make sure that the Output Options and New Filenames are as you intended.\n\nPlease note: If you choose to "
    "\"Keep Original format\", then RAW and other additional image formats will be saved as .png by default. \nClick "
    "YES to proceed and NO to cancel.");
inline const QString QuestionWithErrors = QStringLiteral(
    "Please make sure that the Output Options and New Filenames are as you intended. Files with Errors/Warnings will "
    "be skipped from the Batch process.\nClick YES to proceed and NO to cancel.");
// "%@" is the folder the photo-library photos go to.
inline const QString QuestionLibrary = QStringLiteral(
    "Please make sure that the Output Options and New File names are as you intended. Files with Errors/Warnings will "
    "be skipped from the Batch process. All photos from iPhoto library will be saved here: %@.\nClick YES to proceed "
    "and No to cancel.");

// Said in the start question when outputs replace their own sources: "%d" is how many.
inline const QString ReplacesOriginalsNote = QStringLiteral(
    "%d photos will replace their originals in the source folders; each original goes to the Trash first.");
inline const QString ReplacesOriginalNote = QStringLiteral(
    "1 photo will replace its original in the source folder; the original goes to the Trash first.");

// Said in the start question when outputs replace files already at their destinations
// (overwriting on): "%d" is how many.
inline const QString ReplacesExistingNote = QStringLiteral(
    "%d existing files will be replaced by new files of the same name; each goes to the Trash first.");
inline const QString ReplacesExistingOneNote =
    QStringLiteral("1 existing file will be replaced by a new file of the same name; it goes to the Trash first.");

enum class Outcome { FolderMissing, BlankName, Refused, Ask };

// The start question's sentence about originals replaced by their outputs; empty for none.
QString replacesOriginalsNote(const PreviewClassification& c);
// Its sentence about existing files the outputs replace; empty for none.
QString replacesExistingNote(const PreviewClassification& c);

// The destination check: the folder text must name an existing folder. Output beside
// the sources needs no destination folder; an empty text is never a folder (it would
// plan outputs at the file system's root).
bool destinationAccepted(const QString& folderText, const OutputOptionSettings* output);

// True when the replace rule is on in renaming mode with an empty replacement name.
bool replacementNameMissing(const BatchRenameSetting* rename, const QString& newNameText);

struct Decision {
    Outcome outcome = Outcome::Ask;
    QString text;  // the refusal or the start question
};
// What the classification allows: refusal when no planned output (or nothing) will be
// written, else the start question with its text.
Decision decide(int plannedCount, int notWrittenCount, bool libraryPhotoToSourceFolder,
                const QString& libraryOutputFolder);

// One log line per classified path, in bucket order.
QStringList classificationLogLines(const PreviewClassification& c, const QStringList& plannedPathsOfMissingSources);

// The run's start time as the summary shows it.
QString startTimeText(const QDateTime& when);

}  // namespace startgate
