#include "batch/ui/OriginalsNotes.h"

#include "batch/PreviewClassifier.h"
#include "batch/RunStartGate.h"
#include "records/OutputOptionSettings.h"

namespace originalsnotes {

bool isMoveMode(const OutputOptionSettings* output) {
    return output && output->moveAndRenameToDestinationFolder.value_or(false);
}

QStringList beforeRun(const OutputOptionSettings* output, const PreviewClassification& classification) {
    QStringList notes;
    if (isMoveMode(output)) notes << kMoveMode;
    const QString replaced = startgate::replacesOriginalsNote(classification);
    if (!replaced.isEmpty()) notes << replaced;
    return notes;
}

QString startQuestion(const QString& question, const QStringList& notes) {
    if (notes.isEmpty()) return question;
    const qsizetype lastLine = question.lastIndexOf(u'\n');
    const QString block = notes.join(u'\n');
    if (lastLine < 0) return question + QStringLiteral("\n\n") + block;
    return question.left(lastLine) + QStringLiteral("\n\n") + block + QStringLiteral("\n") + question.mid(lastLine + 1);
}

QString afterRun(const OutputOptionSettings* output, qint64 processed) {
    if (!isMoveMode(output)) return {};
    if (processed == 1) return QStringLiteral("The original of the processed photo was moved to the Trash.");
    return QStringLiteral("The originals of the %1 processed photos were moved to the Trash.").arg(processed);
}

}  // namespace originalsnotes
