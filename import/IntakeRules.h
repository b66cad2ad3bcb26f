#pragma once
// The fixed rules of adding photos: which files are photos, the batch limit, and every
// text the add shows (alerts, progress, footer, date-filter check). Plain functions, safe
// from any thread.
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

struct PhotoFile;

namespace intake {

// New photos one add may bring in; also the number the limit alert names.
inline constexpr int kBatchLimit = 1000000;

// "ALL": every accepted type; anything else is a suffix a path must end with.
inline const QString kAllFileTypes = QStringLiteral("ALL");

// The extensions taken as photos even where the type database knows no image type for
// them; compared exactly (lower or upper case, not mixed).
const QStringList& fixedExtensions();

// Extensions a folder listing without sub-folders keeps (compared ignoring case); the
// type check of each file comes after.
const QStringList& imageFileExtensions();

// Whether the type the system derives from a file's extension is an image type. Given
// the extension without its dot ("" for none).
using TypeOracle = std::function<bool(const QString& extension)>;
// The shared MIME database's answer (image/* or a descendant of one), cached per
// extension; safe from any thread.
TypeOracle mimeDatabaseOracle();

class AcceptedTypes {
public:
    explicit AcceptedTypes(TypeOracle oracle = mimeDatabaseOracle()) : oracle_(std::move(oracle)) {}
    bool isAcceptedPath(const QString& path) const;
    bool isAcceptedExtension(const QString& extension) const;

private:
    TypeOracle oracle_;
};

// Whether a path passes the file-type choice ("ALL", or ends with the suffix).
bool matchesFileType(const QString& path, const QString& fileType);

// The kind of picture a file is that the add takes by its name but this program cannot
// draw, told by the file's own header: "EPS" (it needs a PostScript interpreter), "PICT"
// (QuickDraw) or "SVG"; empty for any other file. Such a file is refused when it is added,
// with its kind named, rather than failing the run.
QString undrawableKind(const QString& path);
// How the "cannot be added" alert names such a file.
QString undrawableFileLine(const QString& fileName, const QString& kind);
// How the alert names a file whose header did not read: with the reader's words when that
// was not the file's doing (its reader could not be started, or was stopped from outside),
// by its name alone otherwise. Reads the header again to learn which.
QString unreadableFileLine(const QString& path, const QString& fileName);

// What a folder is to the intake: a plain folder, a package it does not look into, and
// for packages which library kind they would be read as.
enum class PackageKind { NotPackage, OlderLibrary = 2, PhotosLibrary = 3 };
bool isPackage(const QString& path);  // a folder whose extension names a package kind
PackageKind packageKind(const QString& path);

// ---- texts ----
struct IntakeAlert {
    QString title;  // already in upper case
    QString message;
    bool operator==(const IntakeAlert&) const = default;
};
IntakeAlert limitExceededAlert(int limit = kBatchLimit);
IntakeAlert photosExistAlert(int alreadyExistsCount);
IntakeAlert noPhotosToAddAlert();
// An add that could not go on (memory ran short, or it failed otherwise).
IntakeAlert addFailedAlert(bool memoryShortage);
// Files that could not be added: how many, and the names of those refused as damaged or
// of a kind not taken (the first kRefusedNamesShown of them), and how many were already in
// the batch.
inline constexpr int kRefusedNamesShown = 8;
IntakeAlert damagedFilesAlert(int damagedCount, const QStringList& refusedNames = {}, int alreadyInBatch = 0);
// What a photo of the batch showing the not-available picture tells the user: its file is
// gone, it declares more pixels than the program opens, or it is there and cannot be read.
QString unavailablePhotoText(const QString& path);

// One step of the progress display.
struct IntakeProgress {
    int percent = 0;       // both progress bars
    int icon = 1;          // "fill_%d": a multiple of 5, 105 at the end, 1 before the first step
    QString label;         // "%d %%" with the percent rounded down to a multiple of 5
    QString text;          // "3 of 10 photos added" / "10 photos added"
    QString pathText;      // "Photo path: : <folder>"
    bool finished = false; // every counted photo is in
    QString iconName() const;  // "fill_%d"
};
IntakeProgress progressFor(long added, long total, const QString& folderPath);

// The footer under the batch: its text and where its two figures stand in it (drawn
// white over the grey text); empty for an empty batch.
struct BatchFooter {
    QString text;
    struct Range {
        int start = 0;
        int length = 0;
    };
    QList<Range> figures;
};
BatchFooter footerFor(const QList<std::shared_ptr<PhotoFile>>& batch);
// The footer as the screen shows it: rich text in grey (184 of 255) with the figures in
// white, right-aligned, its blanks kept.
QString footerHtml(const BatchFooter& footer);

// The date filter's check: the message to show, or "" when the two dates will do.
QString dateFilterError(const QDateTime& from, const QDateTime& to);

}  // namespace intake
