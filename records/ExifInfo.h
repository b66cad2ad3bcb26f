#pragma once
// The read-only camera and image facts of one photo, as the information pop-ups, the
// image loaders, the date filter and the rename builder read them. Filled once from the
// photo's image-properties dictionary and never changed afterwards, so a filled record
// may be read from any thread.
#include <QDateTime>
#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <cstdint>
#include <memory>

struct ExifInfo {
    QString fileName;    // never filled here
    QString fileType;    // never filled here
    QString fileLabel;   // never filled here
    QString folderName;  // never filled here
    QVariant rating;     // "{Exif}" "Rating", as found
    QString keywords;    // "{IPTC}" "Keywords" joined by ","
    QString imageSize;   // "<PixelWidth> x <PixelHeight>" as the values print
    QString imageDPI;    // "%.1f x %.1f"
    std::int32_t orientation = 0;  // "{TIFF}" "Orientation"; 0 when the photo has none
    QString editingSoftware;
    QString exposure;  // never filled here
    QString folcalLength;    // "4.2 mm"
    QString exposureBias;    // "-0.70 EV"
    QString isoSpeedRating;  // "100,200"
    QVariant exposureMode;
    QVariant exposureProgram;
    QVariant meteringMode;
    QVariant lightSource;
    QVariant sensingMethod;
    QVariant sceneCaptureType;
    QString cameraMaker;
    QString cameraModel;
    QString cameraLensModel;
    QString cameraFirmware;  // never filled here
    QString colorModel;      // "Gray" marks a grey-scale photo
    QVariant colorSpace;
    QString profileName;
    QDateTime fileCreated;   // never filled here
    QDateTime fileModified;  // never filled here
    QDateTime captureDate;   // "{Exif}" "DateTimeOriginal" in the EXIF form, else invalid
    std::uint64_t fileSize = 0;  // never filled here
    QVariant digitalZoomRatio;
    std::int8_t flashFired = 0;  // any non-zero flash code
    double gpsAltitude = 0;
    double gpsLatitude = 0;
    double gpsLongitude = 0;
    std::int32_t pixelWidth = 0;
    std::int32_t pixelHeight = 0;
    double dpiWidth = 0;
    double dpiHeight = 0;
    QString gpsLatitudeRef;
    QString gpsLongitudeRef;
    float imgWidth = 0;   // never filled here
    float imgHeight = 0;  // never filled here
    QString imageSizeToDisplay;  // as shown: height first for orientations 5 to 8
    QString userComment;

    // A record of the file's properties; a file that can't be read gives a record with
    // nothing filled, never a missing one.
    static std::shared_ptr<ExifInfo> initWithFile(const QString& path);
    static std::shared_ptr<ExifInfo> initWithDict(const QVariantMap& dict);

    // Fills the record from an image-properties dictionary; an empty one changes nothing.
    void resetAllWithDict(const QVariantMap& dict);
    // Puts the filled fields back to their "nothing read" values.
    void commmonInit();
};
