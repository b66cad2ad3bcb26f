#pragma once
// Sorts planned outputs into the error buckets (blank name, invalid name, duplicate
// name, replaces a photo of the batch, source not found, photo too large, photo
// unreadable) and the warning buckets (already exists, so skipped; replaces an existing
// file, overwriting on). One rule set serves the preview and the start of a run; each
// record lands in at most one bucket, the first rule that holds deciding. Every record the
// run will fail is counted: all the photos that share a planned name fail, not only the
// later ones.
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

struct AppliedFilter;
struct OutputOptionSettings;
struct OutputPhotoPath;
struct PhotoFile;

// What a row of the preview shows for a record; the later of several marks wins.
enum class PreviewMark {
    Ready,
    BlankName,
    InvalidName,
    DuplicateName,
    ReplacesSource,
    SourceMissing,
    TooLarge,
    SourceUnreadable,
    AlreadyExists,
    ReplacesExisting
};

struct PreviewClassification {
    // Planned paths, except arrayFileNotFound which holds source paths. Every record of a
    // shared planned path is in arrayDuplicateNames.
    QStringList arrayEmptyNames, arrayInvalidFileName, arrayDuplicateNames, arrayReplacesSource, arrayFileNotFound,
        arrayFileAlreadyExists;
    // Source paths of photos whose file is there but could not be read, and of photos the
    // run will refuse as larger than the program opens.
    QStringList arrayUnreadable, arrayTooLarge;
    // Planned paths where a file exists that the output will replace (overwriting on); the
    // run sends each to the Trash before its new file takes the name. A warning, written.
    QStringList arrayReplacesExisting;
    QList<std::shared_ptr<OutputPhotoPath>> arrayAllErrors, arrayAllWarnings;
    // Planned paths of ready outputs that take the place of their own source (its folder,
    // overwriting on): the run sends each original to the Trash before its new file takes
    // its name. Neither an error nor a warning; the screens say it in words
    // (PreviewClassifier::replacesOwnSourceNote, startgate::replacesOriginalsNote).
    QStringList arrayReplacesOwnSource;
    bool replacesOwnSource(const OutputPhotoPath& record) const;

    int errorCount() const;
    int warningCount() const;
    // The records the run will not write: the errors, and the existing files it keeps.
    int notWrittenCount() const { return errorCount() + int(arrayFileAlreadyExists.size()); }

    // The mark of a record, found by its paths in the buckets.
    PreviewMark markFor(const OutputPhotoPath& record) const;
    // What is known to keep the record's photo from being opened (TooLarge,
    // SourceUnreadable), whatever bucket its name put it in; Ready when nothing is.
    PreviewMark photoMarkFor(const OutputPhotoPath& record) const;

private:
    friend class PreviewClassifier;
    void index();
    QSet<QString> empty_, invalid_, duplicate_, replaces_, notFound_, tooLarge_, unreadable_, exists_, replacesExisting_,
        replacesOwn_;
    // Photo facts by source path, also for records whose name put them in another bucket.
    QSet<QString> knownTooLarge_, knownUnreadable_;
};

class PreviewClassifier {
public:
    // Longest file name the file systems take, in bytes.
    static constexpr int kMaxFileNameBytes = 255;

    struct Options {
        bool overwrite = false;        // overwriting on: no already-exists warning
        bool useSourceFolder = false;  // an output may then replace its own source
        // Whether a file exists at a path; the file system by default.
        std::function<bool(const QString&)> fileExists;
        // Whether the source of record i exists, when the caller has asked already.
        std::function<bool(qsizetype i)> sourceExists;
        // Sources known to be unreadable (a full read of them failed), and sources the run
        // will refuse as too large.
        QSet<QString> unreadableSources, tooLargeSources;

        // The output choices, and what is known of each photo of `photos` under these
        // steps (main thread: the photos' records are read as they are now). A photo marked
        // unreadable whose file has changed since loses its mark here, so every count and
        // plan reads it as the run will: afresh.
        static Options of(const OutputOptionSettings* output, const QList<std::shared_ptr<PhotoFile>>& photos,
                          const QList<std::shared_ptr<AppliedFilter>>& steps);
        // The same for the application's batch and steps.
        static Options ofBatch(const OutputOptionSettings* output);
    };

    static PreviewClassification calculateErrorFiles(const QList<std::shared_ptr<OutputPhotoPath>>& planned,
                                                     const Options& options);

    // Row texts and images of the marks.
    static QString toolTipFor(PreviewMark mark);
    // What a ready row whose output replaces its own source adds to its tool tip.
    static QString replacesOwnSourceNote();
    // A row's tool tip below its path: the mark's text, and the photo's own trouble when
    // its name put it in another bucket.
    static QString toolTipFor(const PreviewClassification& c, const OutputPhotoPath& record);
    static QString imageNameFor(PreviewMark mark);
};
