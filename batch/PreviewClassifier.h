#pragma once
// Sorts planned outputs into the error buckets (blank name, invalid name, duplicate
// name, replaces a photo of the batch, source not found) and the warning bucket
// (already exists). One rule set serves the preview and the start of a run; each record
// lands in at most one bucket, the first rule that holds deciding.
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

struct OutputPhotoPath;

// What a row of the preview shows for a record; the later of several marks wins.
enum class PreviewMark { Ready, BlankName, InvalidName, DuplicateName, ReplacesSource, SourceMissing, SourceUnreadable, AlreadyExists };

struct PreviewClassification {
    // Planned paths, except arrayFileNotFound which holds source paths.
    QStringList arrayEmptyNames, arrayInvalidFileName, arrayDuplicateNames, arrayReplacesSource, arrayFileNotFound,
        arrayFileAlreadyExists;
    // Source paths of photos whose file is there but could not be read.
    QStringList arrayUnreadable;
    QList<std::shared_ptr<OutputPhotoPath>> arrayAllErrors, arrayAllWarnings;
    // Planned paths of ready outputs that take the place of their own source (its folder,
    // overwriting on): the run sends each original to the Trash before its new file takes
    // its name. Neither an error nor a warning; the screens say it in words
    // (PreviewClassifier::replacesOwnSourceNote, startgate::replacesOriginalsNote).
    QStringList arrayReplacesOwnSource;
    bool replacesOwnSource(const OutputPhotoPath& record) const;

    int errorCount() const;
    int warningCount() const;
    // Every classified record: errors and warnings.
    int classifiedCount() const { return errorCount() + warningCount(); }

    // The mark of a record, found by its paths in the buckets (so every record of a
    // shared planned path carries the duplicate mark).
    PreviewMark markFor(const OutputPhotoPath& record) const;

private:
    friend class PreviewClassifier;
    void index();
    QSet<QString> empty_, invalid_, duplicate_, replaces_, notFound_, unreadable_, exists_, replacesOwn_;
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
        // Sources known to be unreadable (a full read of them failed).
        QSet<QString> unreadableSources;
    };

    static PreviewClassification calculateErrorFiles(const QList<std::shared_ptr<OutputPhotoPath>>& planned,
                                                     const Options& options);

    // Row texts and images of the marks.
    static QString toolTipFor(PreviewMark mark);
    // What a ready row whose output replaces its own source adds to its tool tip.
    static QString replacesOwnSourceNote();
    static QString imageNameFor(PreviewMark mark);
};
