#pragma once
// Stateless helpers that turn values into the texts the user sees: the string table,
// byte sizes, dates and date stamps, durations, e-mail check, JSON text and file digests.
// The engine object forwards its text helpers (unitStringFromBytes and the date family)
// here, so both spellings give the same text.
//
// Safe from any thread once the string table is loaded (at launch, on the main thread).
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>
#include <QImage>
#include <QSet>
#include <atomic>
#include <functional>

#include "records/Reachability.h"

struct PhotoFile;

class CommonFunc {
public:
    // ---- string table ----
    // The text of key with the placeholder tokens turned into "%d" (an integer goes
    // there) and "%@" (a text goes there); "(null)" for a key the table lacks.
    static QString getLocalizedStringForKey(const QString& key);
    // The text of key with its placeholders filled in order from args (see
    // fillPlaceholders).
    static QString getLocalizedStringForKey(const QString& key, const QVariantList& args);
    // Loads the table from the resources when the application's table is still empty.
    static void loadLanguageDict();
    // Replaces "%@" and "%d" in order with the given values; "%%" gives "%". Nothing
    // else of the text is read as a format, so a stray "%s" or "%n" in a table text
    // stays as it is, and placeholders without a value are left untouched.
    static QString fillPlaceholders(const QString& text, const QVariantList& args);

    // ---- sizes ----
    // "0 bytes", "993 bytes", "0.97 KB", "1.23 MB": steps of 1000, cut to two decimals.
    // Sizes beyond the last unit stay in TB. flags is unused.
    static QString unitStringFromBytes(double bytes, int flags = 0);
    // The same text for a number value (read as a double).
    static QString getSizeInUnits(const QVariant& bytes);

    // ---- fixed date forms (local time zone) ----
    static QDateTime getDateFromString(const QString& exifDate);      // "yyyy:MM:dd HH:mm:ss"
    static QString getDateTimeStringFromDate(const QDateTime& date);  // "MMM dd, yyyy hh:mm:ss a"
    static QString getStringFromDate(const QDateTime& date);          // "MMM dd, yyyy"
    static QDateTime getDateFromString1(const QString& text);         // "MM/dd/yyyy hh:mm:ss"
    // Free patterns.
    static QDateTime getDateFromString(const QString& text, const QString& format);
    static QString getDateStringFromDate(const QDateTime& date, const QString& format);

    // ---- date stamps ----
    // The option names of the date stamp, by index.
    static QStringList dateStampOptions();
    // The date stamp for a photo: option 0 "Original Date & Time", 1 "Original Date",
    // 2 "Current Date & Time", 3 "Current Date" (any other name counts as 0). The
    // original date is the file's creation date; the current one is now. Upper-case "D"
    // and "Y" of the date pattern are read as day and year. timeFormat "AM/PM" gives
    // "hh:mm a", any other "HH:mm".
    static QString getDateTimeStringForImageUrl(const QString& path, const QString& dateOption,
                                                const QString& dateFormat,
                                                const QString& timeFormat);
    // "20240305T0907" (local time).
    static QString getDateInFormatNEW(const QDateTime& date);
    // Whole seconds from start to end, truncated toward zero.
    static qint64 getDurationBetweenDate(const QDateTime& start, const QDateTime& end);

    // ---- checks and texts ----
    static bool validateEmail(const QString& text);
    // {"key":value,...} in key order: numbers bare, everything else quoted, no escaping.
    static QString getJSONFromDict(const QVariantMap& dict);
    // Lower-case hexadecimal MD5 of a file; empty when it cannot be read or when
    // abortFlag (checked between chunks) is set.
    static QString getFileMD5(const QString& path);
    static QString getFileMD5UsingStreamWithAbortFlag(const QString& path,
                                                      const std::atomic<bool>* abortFlag);
    // The digest itself: the file read in chunks of chunkSize bytes, stopping when
    // abortFlag is set. hex is empty when the file cannot be read or the work stopped.
    struct MD5Result {
        QString hex;
        bool aborted = false;
    };
    static constexpr qint64 kMD5ChunkSize = 4096;
    static MD5Result FileMD5HashCreateWithPath(const QString& path, qint64 chunkSize,
                                               const std::atomic<bool>* abortFlag);

    // ---- files, pictures and the system (CommonFuncFiles.cpp) ----
    // Whether the system says it is online, asked up to three times; each failed try logs
    // a retry line. Reads the state the system keeps (Qt's network information); it opens
    // no connection. The second form asks probe instead (tests, other backends).
    static bool isInternetConnected();
    static bool isInternetConnected(const std::function<reachability::State()>& probe);
    // Whether a running program's name is the given identifier, compared in upper case.
    static bool checkAppOpen(const QString& identifier);
    // The names of the running programs (each process's executable and command name).
    static QStringList runningApplicationNames();
    // The folder where thumbnails are cached, and name's place in it. Only the last
    // component of name counts, so no name reaches outside the folder ("" for a name
    // with nothing left, "." or "..").
    static QString thumbnailCacheFolder();
    static QString getThumbFilePath(const QString& name);
    // The picture of a file, upright; null when unreadable.
    static QImage getImageForFilePath(const QString& path);
    // The picture turned by a quarter: clockwise when asked, else counter-clockwise.
    static QImage bwRotateImage90DegreesClockwise(bool clockwise, const QImage& image);
    // Lower-case extensions of camera raw files.
    static const QSet<QString>& rawImageExtensions();
    // A test that selects the photos whose extension (any case) is in the given set.
    static std::function<bool(const PhotoFile&)> predicateForRawImage(const QSet<QString>& extensions =
                                                                           rawImageExtensions());
    // Whether the file's extension names a camera raw format.
    static bool isImageRaw(const QString& path);

    // ---- photo information (ExifValueNames.cpp, ExifInfoLibrary.cpp) ----
    // Names of EXIF codes, the value read as an integer; an absent value or an unknown
    // code gives "---".
    static QString getMeteringModeType(const QVariant& value);
    static QString getExposureProgramType(const QVariant& value);
    static QString getExposureModeType(const QVariant& value);
    static QString getScenceCaptureType(const QVariant& value);
    static QString getLightSourceType(const QVariant& value);
    static QString getColorSensingType(const QVariant& value);
    // "6 (Rotate 90 CW)"; "---" outside 1 to 8.
    static QString getOrientationType(int orientation);
    // The database file inside a photo library package, chosen by which file exists
    // (names matched without regard to case, as the libraries' own file system does).
    static QString getDataBasePathForPhotosLib(const QString& libraryPath);
    // The path of root/relative as it exists on disk, each component matched exactly
    // first and then ignoring case; empty when there is no such file or folder.
    static QString existingPathIgnoringCase(const QString& root, const QString& relative);
    static QString getPhotoLibraryVersion(const QString& libraryPath);
    static QString getPhotoLibraryMajorVersion(const QString& version);
    static QString photoLibrary_MastersOrOriginal(const QString& libraryPath);
    static bool isiPhotoLibrary9AndAbove(const QString& libraryPath);
    static bool isPkgPhotoLib(const QString& libraryPath);
    static bool isPhotosLib(const QString& libraryPath);
};
