#include "batch/RunSummary.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>

#include "batch/RunMessages.h"
#include "engine/Utils.h"
#include "platform/foundation/Dates.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NativeNames.h"
#include "records/CommonFunc.h"
#include "records/OutputOptionSettings.h"
#include "records/PhotoFile.h"

namespace runsummary {

namespace {

const QString kSep = QStringLiteral("\n------------------------------------------------------------------------------\n");
const QString kBar = QStringLiteral("  |  ");

QString num(qint64 n) { return QString::number(n); }

}  // namespace

BarText batchInfo(qint64 photoCount, const QString& batchSizeText, qint64 steps, qint64 processed, qint64 skipped,
                  qint64 totalProgressed) {
    const qint64 percent = photoCount > 0 ? totalProgressed * 100 / photoCount : 0;
    BarText bar;
    bar.values = {num(photoCount), batchSizeText, num(steps), num(processed), num(skipped), num(percent) + QStringLiteral(" %")};
    bar.text = QStringLiteral("Batch Count: ") + bar.values[0] + kBar + QStringLiteral("Batch Size: ") + bar.values[1] + kBar +
               QStringLiteral("Batch Steps: ") + bar.values[2] + kBar + QStringLiteral("Photos Processed: ") + bar.values[3] + kBar +
               QStringLiteral("Photos Skipped: ") + bar.values[4] + kBar + QStringLiteral("Process Completed: ") + bar.values[5];
    return bar;
}

BarText processInfo(const QString& startText, qint64 errors, const QString& elapsedText) {
    BarText bar;
    bar.values = {startText, num(errors), elapsedText};
    bar.text = QStringLiteral("Process Started at: ") + startText + kBar + QStringLiteral("Error") +
               (errors > 1 ? QStringLiteral("s") : QString()) + QStringLiteral(" reported: ") + num(errors) + kBar +
               QStringLiteral("Time elapsed: ") + elapsedText + QStringLiteral(" approx.");
    return bar;
}

QString barHtml(const BarText& bar) {
    // Mark every occurrence of every value, longest first so a value inside another
    // (a count inside a size) is not split; then escape and colour.
    QList<std::pair<int, int>> spans;
    QStringList values = bar.values;
    std::sort(values.begin(), values.end(), [](const QString& a, const QString& b) { return a.size() > b.size(); });
    QVector<bool> white(bar.text.size(), false);
    for (const QString& value : values) {
        if (value.isEmpty()) continue;
        for (qsizetype at = bar.text.indexOf(value); at >= 0; at = bar.text.indexOf(value, at + value.size()))
            for (qsizetype i = at; i < at + value.size(); ++i) white[i] = true;
    }
    QString html = QStringLiteral("<div align=\"right\" style=\"color:rgb(184,184,184)\">");
    bool inWhite = false;
    for (qsizetype i = 0; i < bar.text.size(); ++i) {
        if (white[i] != inWhite) {
            html += white[i] ? QStringLiteral("<span style=\"color:#ffffff\">") : QStringLiteral("</span>");
            inWhite = white[i];
        }
        html += QString(bar.text[i]).toHtmlEscaped();
    }
    if (inWhite) html += QStringLiteral("</span>");
    return html + QStringLiteral("</div>");
}

QString batchSizeText(const QList<std::shared_ptr<PhotoFile>>& photos) {
    double bytes = 0;
    for (const auto& photo : photos)
        if (photo) bytes += photo->fileSizeInBytes;
    return CommonFunc::unitStringFromBytes(bytes, 0) + QStringLiteral(" approx.");
}

QString elapsedText(const QDateTime& start, const QDateTime& now) {
    const QString text = Utils::sharedUtils().timeFormattedString(CommonFunc::getDurationBetweenDate(start, now));
    // The formatter leaves less than a second blank, which would read "Time elapsed:  approx."
    // after a short run; it is shown as no whole second, in the formatter's own form.
    return text.isEmpty() ? QStringLiteral(" 0 seconds") : text;
}

QString outputDirectoryText(const OutputOptionSettings* output) {
    if (!output) return QString();
    return output->useSourceFolder.value_or(false) ? kSourceFolderText : platform::displayPath(output->outputFolderPath);
}

Sorted sortByStatus(const QList<std::shared_ptr<PhotoFile>>& photos) {
    Sorted sorted;
    for (const auto& photo : photos) {
        if (!photo) continue;
        switch (photo->processStatus) {
        case PhotoFile::Processed: sorted.processed << photo; break;
        case PhotoFile::NotProcessed: sorted.notProcessed << photo; break;
        case PhotoFile::Failed: sorted.error << photo; break;
        case PhotoFile::Skipped: sorted.skipped << photo; break;
        default: continue;
        }
        if (photo->processStatus != PhotoFile::Processed) sorted.toReprocess << photo;
    }
    return sorted;
}

QString processedNote(const PhotoFile& photo) {
    if (photo.processStatus != PhotoFile::Processed || photo.processInfoMessage == runmessages::Processed) return {};
    return photo.processInfoMessage;
}

qint64 processedWithNotes(const QList<std::shared_ptr<PhotoFile>>& photos) {
    return std::count_if(photos.begin(), photos.end(), [](const auto& p) { return p && !processedNote(*p).isEmpty(); });
}

QString logFileName(const QDateTime& started, const DateStyle& style) {
    return QStringLiteral("BriskoPhotos_LogSummary_") +
           platform::formatDate(started, QStringLiteral("MMddyyyy hhmms a"), style.locale, style.timeZone) + QStringLiteral(".log");
}

QString logText(const RunFacts& run, const Sorted& sorted, const QString& elapsed, const DateStyle& style) {
    QString text;
    text += QStringLiteral("BRISKO PHOTOS LOG SUMMARY ") +
            platform::formatDate(run.started, QStringLiteral("MM-dd-yyyy hh:mm:s a"), style.locale, style.timeZone) +
            u'\n';
    text += kSep;
    text += QStringLiteral("Process Started at: ") + run.startTimeStr + u'\n';
    text += QStringLiteral("Status: ") +
            (run.finished ? QStringLiteral("Completed") : QStringLiteral("Process interrupted by user")) + u'\n';
    text += QStringLiteral("Batch Count: ") + num(run.photos.size()) + u'\n';
    text += QStringLiteral("Batch Size: ") + batchSizeText(run.photos) + u'\n';
    text += QStringLiteral("Batch Steps: ") + num(run.appliedSteps) + u'\n';
    text += QStringLiteral("Time elapsed: ") + elapsed + u'\n';
    text += QStringLiteral("Errors: ") + num(sorted.error.size()) + u'\n';
    text += QStringLiteral("Output Directory: ") + outputDirectoryText(run.output.get());
    text += kSep;
    auto section = [&](const QString& heading, const QList<std::shared_ptr<PhotoFile>>& list, const auto& row) {
        text += heading + num(list.size()) + kSep;
        qint64 n = 0;
        for (const auto& photo : list)
            text += num(++n) + u'\t' + row(*photo) + u'\t' + platform::displayPath(photo->filePath) + u'\n';
    };
    section(QStringLiteral("\nPhotos Processed : "), sorted.processed, [](const PhotoFile& p) {
        const QString note = processedNote(p);
        return note.isEmpty() ? QStringLiteral("Processed") : QStringLiteral("Processed (") + note + u')';
    });
    section(QStringLiteral("\nPhotos not Processed : "), sorted.notProcessed,
            [](const PhotoFile&) { return QStringLiteral("Not Processed"); });
    section(QStringLiteral("\nPhotos Skipped (File already exists in destination folder) :"), sorted.skipped,
            [](const PhotoFile&) { return QStringLiteral("Skipped"); });
    section(QStringLiteral("\nPhotos Processed with Error :"), sorted.error,
            [](const PhotoFile& p) { return QStringLiteral("Error(") + p.processInfoMessage + u')'; });
    return text;
}

QString logFolder(const QString& documentsFolder) { return documentsFolder + QStringLiteral("/Brisko Photos"); }

WriteResult createAndWriteSummaryFile(const RunFacts& run, const QString& documentsFolder, const QDateTime& now,
                                      const DateStyle& style) {
    WriteResult result;
    // Sorted whether or not the log can be written: the photos to run again are this run's.
    result.sorted = sortByStatus(run.photos);
    const QString folder = logFolder(documentsFolder);
    if (!QDir().mkpath(folder)) {
        platform::log(u"Failed to create directory \"%@\". Error: %@", folder, QStringLiteral("cannot create folder"));
        return result;
    }
    result.folderCreated = true;
    // Every run keeps its own log: a second run in the same second gets a numbered name.
    const QString name = logFileName(run.started, style);
    const QString stem = name.chopped(4);
    QString path = folder + u'/' + name;
    for (int n = 2; QFileInfo::exists(path); ++n) path = folder + u'/' + stem + QStringLiteral(" (%1).log").arg(n);
    result.path = path;
    const QString text = logText(run, result.sorted, elapsedText(run.started, now), style);
    QSaveFile file(path);
    result.written = file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0 && file.commit();
    platform::log(result.written ? QStringLiteral("Log File Generated successfully") : QStringLiteral("Error While Generating Log File"));
    return result;
}

Figures figures(const RunFacts& run, const Counters& counters, const QString& elapsed, bool metadataChanged) {
    Figures f;
    f.batchCount = num(run.photos.size());
    f.batchSize = batchSizeText(run.photos);
    f.batchSteps = num(run.appliedSteps);
    f.processed = num(counters.processed);
    f.notProcessed = num(counters.notProcessed);
    f.skipped = num(counters.skipped);
    f.errors = num(counters.errors);
    f.elapsed = elapsed;
    const qint64 notes = processedWithNotes(run.photos);
    f.processedWithNotes = num(notes);
    f.showProcessedWithNotes = notes > 0;
    f.outputDirectory = outputDirectoryText(run.output.get());
    f.outputIsLink = run.output && !run.output->useSourceFolder.value_or(false);
    // Every photo that did not come out is offered again, errors included: a failure may
    // have passed (a full disk, a drive unplugged) and the photo can be run once more. The
    // button shows exactly when the list it hands on (Sorted::toReprocess) has photos.
    f.showProcessSkipped = !sortByStatus(run.photos).toReprocess.isEmpty();
    f.showRestoreExif = metadataChanged;
    f.showAddToFavourites = run.appliedSteps > 0;
    return f;
}

bool shouldOpenOutputFolder(const OutputOptionSettings* output) {
    return output && output->openOutputFolderAfterProcessing.value_or(false) && !output->useSourceFolder.value_or(false);
}

}  // namespace runsummary
