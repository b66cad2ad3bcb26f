#pragma once
// What the output screen says about the user's originals whenever a run will send some of
// them to the Trash: in move mode (each original once its new file is written and checked)
// and when outputs replace their own originals in the source folders. The same words stand
// above the planned names, in the start question and in the summary.
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

struct OutputOptionSettings;
struct OutputPhotoPath;
struct PhotoFile;
struct PreviewClassification;

namespace originalsnotes {

inline const QString kMoveMode = QStringLiteral(
    "Move mode: the original of each processed photo goes to the Trash once its new file is written and checked.");

bool isMoveMode(const OutputOptionSettings* output);

// The sentences before a run, one per case that applies; empty when the originals stay.
QStringList beforeRun(const OutputOptionSettings* output, const PreviewClassification& classification);

// What stands above the planned names on the output screen: why nothing is planned when
// the plan failed (`planFailure`), else the sentences before a run.
QStringList aboveNames(const OutputOptionSettings* output, const PreviewClassification& classification,
                       const QString& planFailure);

// The start question with those sentences set before its closing "Click YES ..." line.
QString startQuestion(const QString& question, const QStringList& notes);

// How many photos of a run came out replacing a file: their own originals beside the
// sources, and files already at their destinations (overwriting on).
struct Replaced {
    qint64 originals = 0;
    qint64 existing = 0;
};

// The summary's sentences after a run: in move mode with `processed` photos done, and when
// outputs took their own originals' places beside the sources; then when outputs replaced
// existing files. Empty when nothing went to the Trash.
QString afterRun(const OutputOptionSettings* output, qint64 processed, Replaced replaced);

// Photo i counts when it came out and its planned output (entry i of `planned`) was one
// that replaces a file.
Replaced replacedFiles(const QList<std::shared_ptr<PhotoFile>>& photos,
                       const QList<std::shared_ptr<OutputPhotoPath>>& planned,
                       const PreviewClassification& classification);

}  // namespace originalsnotes
