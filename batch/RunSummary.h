#pragma once
// The reporting side of a run: the two status bars while it lasts, the figures of the
// summary and the summary log written once per run into "<Documents>/Brisko Photos".
// Plain functions of the run's photos, counters and clock, so tests fix every input.
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

struct PhotoFile;
struct OutputOptionSettings;

namespace runsummary {

// A bar's text and the value texts in it that are drawn white (the rest is grey).
struct BarText {
    QString text;
    QStringList values;
};

// "Batch Count: 5  |  Batch Size: 1.2 MB approx.  |  ..."; the percentage is rounded down
// and 0 for an empty batch.
BarText batchInfo(qint64 photoCount, const QString& batchSizeText, qint64 steps, qint64 processed, qint64 skipped,
                  qint64 totalProgressed);
// "Process Started at: ...  |  Error(s) reported: n  |  Time elapsed: ... approx."
BarText processInfo(const QString& startText, qint64 errors, const QString& elapsedText);
// Rich text of a bar: grey labels, white values, right-aligned.
QString barHtml(const BarText& bar);

// "<size> approx." of the photos' summed sizes.
QString batchSizeText(const QList<std::shared_ptr<PhotoFile>>& photos);
// Whole seconds from start to now as " 1 minute 5 seconds"; " 0 seconds" under one second.
QString elapsedText(const QDateTime& start, const QDateTime& now);
// "source photo's folder" with outputs beside their sources, else the destination folder.
QString outputDirectoryText(const OutputOptionSettings* output);
inline const QString kSourceFolderText = QStringLiteral("source photo's folder");

// The photos of a run sorted by status, in batch order.
struct Sorted {
    QList<std::shared_ptr<PhotoFile>> processed, notProcessed, error, skipped;
    // Status 0, 2 or 3 (not processed, error, skipped), in batch order: what "process
    // skipped" hands on, shown whenever it is not empty.
    QList<std::shared_ptr<PhotoFile>> toReprocess;
};
Sorted sortByStatus(const QList<std::shared_ptr<PhotoFile>>& photos);

// What a processed photo's status says beside "processed" (only the first of its pages was
// written, say); empty for a photo processed plainly, and for one that did not come out,
// whose status is its reason.
QString processedNote(const PhotoFile& photo);
// How many photos came out with a note.
qint64 processedWithNotes(const QList<std::shared_ptr<PhotoFile>>& photos);

// Everything the log and the summary read about one run.
struct RunFacts {
    QList<std::shared_ptr<PhotoFile>> photos;
    QDateTime started;
    QString startTimeStr;  // processStartTimeStr
    bool finished = true;
    qint64 appliedSteps = 0;
    std::shared_ptr<const OutputOptionSettings> output;
};

// Date texts of the log: locale and time zone fixed by tests; by default the
// application's locale-free formatting in the local zone.
struct DateStyle {
    QString locale = QStringLiteral("en_US_POSIX");
    QString timeZone;  // empty: local
};

// The log's file name for a run started then: "BriskoPhotos_LogSummary_MMddyyyy hhmms a.log".
// The calendar year is used (the week-based one reads as the next year in late December).
QString logFileName(const QDateTime& started, const DateStyle& style = {});
// The whole log text.
QString logText(const RunFacts& run, const Sorted& sorted, const QString& elapsed, const DateStyle& style = {});

// Where the logs go: "<documents>/Brisko Photos".
QString logFolder(const QString& documentsFolder);

struct WriteResult {
    bool folderCreated = false;  // false: no log was written
    bool written = false;
    QString path;  // set once the folder exists
    Sorted sorted;  // always
};
// Sorts the photos, makes the folder, picks a name no earlier log holds (a second run in
// the same second gets " (2)", " (3)" … before ".log") and writes the text atomically.
WriteResult createAndWriteSummaryFile(const RunFacts& run, const QString& documentsFolder, const QDateTime& now,
                                      const DateStyle& style = {});

// What the summary view shows, from the counters the log set (or the runner kept).
struct Figures {
    QString batchCount, batchSize, batchSteps, processed, notProcessed, skipped, errors, elapsed;
    // Of the photos processed, those whose status carries a note; shown only when there are any.
    QString processedWithNotes;
    bool showProcessedWithNotes = false;
    QString outputDirectory;  // source-folder text or the folder path
    bool outputIsLink = false;  // the folder path is shown as a link to open it
    bool showProcessSkipped = false;
    bool showRestoreExif = false;
    bool showAddToFavourites = false;
};
struct Counters {
    qint64 processed = 0, notProcessed = 0, skipped = 0, errors = 0;
};
Figures figures(const RunFacts& run, const Counters& counters, const QString& elapsed, bool metadataChanged);

// Whether the destination folder is opened when the run ends: only when asked for and the
// outputs went to that folder (beside their sources there is no one folder to open).
bool shouldOpenOutputFolder(const OutputOptionSettings* output);

}  // namespace runsummary
