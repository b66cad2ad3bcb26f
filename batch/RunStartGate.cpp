#include "batch/RunStartGate.h"

#include "batch/PreviewClassifier.h"
#include "batch/RenameScheme.h"
#include "platform/foundation/Format.h"
#include "records/BatchRenameSetting.h"
#include "records/CommonFunc.h"
#include "records/OutputOptionSettings.h"

#include <QFileInfo>

namespace startgate {

bool destinationAccepted(const QString& folderText, const OutputOptionSettings* output) {
    if (output && output->useSourceFolder.value_or(false)) return true;
    if (folderText.trimmed().isEmpty()) return false;
    return QFileInfo(folderText).isDir();
}

bool replacementNameMissing(const BatchRenameSetting* rename, const QString& newNameText) {
    if (!rename || rename->flagRenamingMode.value_or(0) == 0) return false;
    const bool replaceOn = rename->dictReplaceFileName.value(QString::fromLatin1(RenameScheme::kState)).toBool();
    return replaceOn && newNameText.isEmpty();
}

Decision decide(int plannedCount, int notWrittenCount, bool libraryPhotoToSourceFolder,
                const QString& libraryOutputFolder) {
    if (notWrittenCount >= plannedCount) return {Outcome::Refused, RefusedText};
    if (notWrittenCount == 0) return {Outcome::Ask, QuestionNoErrors};
    if (libraryPhotoToSourceFolder) return {Outcome::Ask, platform::format(QuestionLibrary, libraryOutputFolder)};
    return {Outcome::Ask, QuestionWithErrors};
}

QString replacesOriginalsNote(const PreviewClassification& c) {
    const int count = int(c.arrayReplacesOwnSource.size());
    if (count == 0) return {};
    return count == 1 ? ReplacesOriginalNote : platform::format(ReplacesOriginalsNote, count);
}

QString replacesExistingNote(const PreviewClassification& c) {
    const int count = int(c.arrayReplacesExisting.size());
    if (count == 0) return {};
    return count == 1 ? ReplacesExistingOneNote : platform::format(ReplacesExistingNote, count);
}

QStringList classificationLogLines(const PreviewClassification& c, const QStringList& plannedPathsOfMissingSources) {
    QStringList lines;
    const auto add = [&lines](const QStringList& paths, const char* pattern) {
        for (const QString& path : paths) lines << platform::format(QString::fromLatin1(pattern), path);
    };
    add(c.arrayEmptyNames, "empty file name == %@");
    add(c.arrayInvalidFileName, "invalid file name == %@");
    add(c.arrayDuplicateNames, "duplicate file name == %@");
    add(c.arrayReplacesSource, "file would replace a photo of the batch == %@");
    add(c.arrayFileAlreadyExists, "files already exists == %@");
    add(c.arrayReplacesExisting, "file replaced, the existing one to the Trash == %@");
    add(plannedPathsOfMissingSources, "files not found == %@");
    return lines;
}

QString startTimeText(const QDateTime& when) {
    // Calendar year: the week-based year shows the next year in the last days of December.
    return CommonFunc::getDateStringFromDate(when, QStringLiteral("MM-dd-yyyy") + u' ' + QStringLiteral("hh:mm:s a"));
}

}  // namespace startgate
