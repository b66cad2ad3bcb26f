#include "batch/ui/OriginalsNotes.h"

#include "batch/PreviewClassifier.h"
#include "batch/RunStartGate.h"
#include "records/OutputOptionSettings.h"
#include "records/OutputPhotoPath.h"
#include "records/PhotoFile.h"

namespace originalsnotes {

bool isMoveMode(const OutputOptionSettings* output) {
    return output && output->moveAndRenameToDestinationFolder.value_or(false);
}

QStringList beforeRun(const OutputOptionSettings* output, const PreviewClassification& classification) {
    QStringList notes;
    if (isMoveMode(output)) notes << kMoveMode;
    for (const QString& note :
         {startgate::replacesOriginalsNote(classification), startgate::replacesExistingNote(classification)}) {
        if (!note.isEmpty()) notes << note;
    }
    return notes;
}

QStringList aboveNames(const OutputOptionSettings* output, const PreviewClassification& classification,
                       const QString& planFailure) {
    if (!planFailure.isEmpty()) return {planFailure};
    return beforeRun(output, classification);
}

QString startQuestion(const QString& question, const QStringList& notes) {
    if (notes.isEmpty()) return question;
    const qsizetype lastLine = question.lastIndexOf(u'\n');
    const QString block = notes.join(u'\n');
    if (lastLine < 0) return question + QStringLiteral("\n\n") + block;
    return question.left(lastLine) + QStringLiteral("\n\n") + block + QStringLiteral("\n") + question.mid(lastLine + 1);
}

namespace {

QString originalsAfterRun(const OutputOptionSettings* output, qint64 processed, qint64 replaced) {
    // A move run sends every processed photo's original away, those replaced beside their
    // sources included: one sentence says it.
    if (isMoveMode(output)) {
        if (processed <= 0) return {};
        if (processed == 1) return QStringLiteral("The original of the processed photo was moved to the Trash.");
        return QStringLiteral("The originals of the %1 processed photos were moved to the Trash.").arg(processed);
    }
    if (replaced <= 0) return {};
    if (replaced == 1)
        return QStringLiteral("1 photo replaced its original in the source folder; the original was moved to the Trash.");
    return QStringLiteral("%1 photos replaced their originals in the source folders; the originals were moved to the "
                          "Trash.")
        .arg(replaced);
}

}  // namespace

QString afterRun(const OutputOptionSettings* output, qint64 processed, Replaced replaced) {
    QStringList sentences;
    const QString originals = originalsAfterRun(output, processed, replaced.originals);
    if (!originals.isEmpty()) sentences << originals;
    if (replaced.existing == 1)
        sentences << QStringLiteral("1 existing file was replaced; the old file was moved to the Trash.");
    else if (replaced.existing > 1)
        sentences << QStringLiteral("%1 existing files were replaced; the old files were moved to the Trash.")
                         .arg(replaced.existing);
    return sentences.join(u'\n');
}

Replaced replacedFiles(const QList<std::shared_ptr<PhotoFile>>& photos,
                       const QList<std::shared_ptr<OutputPhotoPath>>& planned,
                       const PreviewClassification& classification) {
    Replaced replaced;
    for (qsizetype i = 0; i < photos.size() && i < planned.size(); ++i) {
        if (!photos[i] || !planned[i] || photos[i]->processStatus != PhotoFile::Processed) continue;
        if (classification.replacesOwnSource(*planned[i])) ++replaced.originals;
        if (classification.markFor(*planned[i]) == PreviewMark::ReplacesExisting) ++replaced.existing;
    }
    return replaced;
}

}  // namespace originalsnotes
