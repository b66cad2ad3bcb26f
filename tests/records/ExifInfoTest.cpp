#include "records/ExifInfo.h"

#include "platform/imageio/ImageProperties.h"
#include "records/CommonFunc.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QVariantMap photoDict() {
    return {
        {"PixelWidth", 4000},
        {"PixelHeight", 3000},
        {"Orientation", 6},
        {"DPIWidth", 72.0},
        {"DPIHeight", 300.0},
        {"ColorModel", "RGB"},
        {"ProfileName", "sRGB IEC61966-2.1"},
        {"{TIFF}", QVariantMap{{"Make", "Brisko"}, {"Model", "TC-1"}, {"Orientation", 6}, {"Software", "Ed 2"}}},
        {"{Exif}", QVariantMap{{"DateTimeOriginal", "2021:05:30 08:09:10"},
                               {"FocalLength", 4.2},
                               {"ExposureBiasValue", -0.7},
                               {"ISOSpeedRatings", QVariantList{100, 200}},
                               {"Flash", 16},
                               {"MeteringMode", 255},
                               {"Rating", 4},
                               {"UserComment", "dawn"}}},
        {"{GPS}", QVariantMap{{"Latitude", 33.8688}, {"LatitudeRef", "S"}, {"Longitude", 151.2093},
                              {"LongitudeRef", "E"}, {"Altitude", 58.5}}},
        {"{IPTC}", QVariantMap{{"Keywords", QVariantList{"beach", "sunrise"}}}},
        {"{ExifAux}", QVariantMap{{"LensModel", "Zoom 24-70"}}},
    };
}

TEST(ExifInfoTest, FillsEveryFieldFromTheDictionary) {
    const auto info = ExifInfo::initWithDict(photoDict());
    EXPECT_EQ(info->imageSize, "4000 x 3000");
    EXPECT_EQ(info->imageSizeToDisplay, "3000 x 4000");  // turned by a quarter
    EXPECT_EQ(info->pixelWidth, 4000);
    EXPECT_EQ(info->pixelHeight, 3000);
    EXPECT_EQ(info->imageDPI, "72.0 x 300.0");
    EXPECT_EQ(info->orientation, 6);
    EXPECT_EQ(info->colorModel, "RGB");
    EXPECT_EQ(info->profileName, "sRGB IEC61966-2.1");
    EXPECT_EQ(info->cameraMaker, "Brisko");
    EXPECT_EQ(info->editingSoftware, "Ed 2");
    EXPECT_EQ(info->folcalLength, "4.2 mm");
    EXPECT_EQ(info->exposureBias, "-0.70 EV");
    EXPECT_EQ(info->isoSpeedRating, "100,200");
    EXPECT_EQ(info->flashFired, 1);  // flash off but compulsory still counts
    EXPECT_EQ(info->meteringMode.toInt(), 255);
    EXPECT_EQ(info->rating.toInt(), 4);
    EXPECT_EQ(info->userComment, "dawn");
    EXPECT_EQ(info->captureDate, QDateTime(QDate(2021, 5, 30), QTime(8, 9, 10)));
    EXPECT_DOUBLE_EQ(info->gpsLatitude, 33.8688);
    EXPECT_EQ(info->gpsLatitudeRef, "S");
    EXPECT_DOUBLE_EQ(info->gpsAltitude, 58.5);
    EXPECT_EQ(info->keywords, "beach,sunrise");
    EXPECT_EQ(info->cameraLensModel, "Zoom 24-70");
    EXPECT_TRUE(info->fileName.isEmpty());
}

TEST(ExifInfoTest, MissingPartsLeaveTheirFieldsEmpty) {
    struct Case {
        const char* name;
        QVariantMap dict;
        QString imageSize, shown;
        int orientation;
        bool hasDate;
    };
    const Case cases[] = {
        // A PNG has no TIFF group: orientation 0, not 1.
        {"png", {{"PixelWidth", 10}, {"PixelHeight", 20}}, "10 x 20", "10 x 20", 0, false},
        {"no sizes", {{"ColorModel", "Gray"}}, "(null) x (null)", "0 x 0", 0, false},
        {"top orientation only", {{"PixelWidth", 10}, {"PixelHeight", 20}, {"Orientation", 8}}, "10 x 20", "20 x 10",
         0, false},
        {"orientation 4 keeps sides", {{"PixelWidth", 10}, {"PixelHeight", 20}, {"Orientation", 4}}, "10 x 20",
         "10 x 20", 0, false},
        {"fractional sizes", {{"PixelWidth", 10.9}, {"PixelHeight", 20.2}}, "10.9 x 20.2", "10 x 20", 0, false},
        {"date with dashes", {{"{Exif}", QVariantMap{{"DateTimeOriginal", "2021-05-30 08:09:10"}}}}, "(null) x (null)",
         "0 x 0", 0, false},
        {"date as a number", {{"{Exif}", QVariantMap{{"DateTimeOriginal", 20210530}}}}, "(null) x (null)", "0 x 0", 0,
         false},
        {"exif date", {{"{Exif}", QVariantMap{{"DateTimeOriginal", "2021:05:30 08:09:10"}}}}, "(null) x (null)",
         "0 x 0", 0, true},
        {"tiff without orientation", {{"{TIFF}", QVariantMap{{"Make", "X"}}}}, "(null) x (null)", "0 x 0", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto info = ExifInfo::initWithDict(c.dict);
        EXPECT_EQ(info->imageSize, c.imageSize);
        EXPECT_EQ(info->imageSizeToDisplay, c.shown);
        EXPECT_EQ(info->orientation, c.orientation);
        EXPECT_EQ(info->captureDate.isValid(), c.hasDate);
        EXPECT_TRUE(info->imageDPI.isEmpty());
        EXPECT_EQ(info->flashFired, 0);
    }
    const auto nothing = ExifInfo::initWithDict({});
    EXPECT_TRUE(nothing->imageSize.isEmpty());
    EXPECT_TRUE(nothing->imageSizeToDisplay.isEmpty());
}

TEST(ExifInfoTest, ReadsAPhotoWrittenWithMetadata) {
    testsupport::CommaLocale comma;
    QTemporaryDir dir;
    const QString path = dir.filePath("photo.jpg");
    ASSERT_TRUE(testsupport::gradientImage(60, 40).save(path, "JPG"));
    QVariantMap props = photoDict();
    props.remove("PixelWidth");
    props.remove("PixelHeight");
    QVariantMap gps = props.value("{GPS}").toMap();
    gps.insert("Latitude", -33.8688);
    gps.remove("LatitudeRef");
    props.insert("{GPS}", gps);
    ASSERT_TRUE(platform::writeImageProperties(path, props));

    const auto info = ExifInfo::initWithFile(path);
    EXPECT_EQ(info->imageSize, "60 x 40");
    EXPECT_EQ(info->imageSizeToDisplay, "40 x 60");
    EXPECT_EQ(info->orientation, 6);
    EXPECT_EQ(info->imageDPI, "72.0 x 300.0");
    EXPECT_EQ(info->folcalLength, "4.2 mm");
    EXPECT_EQ(info->exposureBias, "-0.70 EV");
    EXPECT_EQ(info->isoSpeedRating, "100,200");
    EXPECT_EQ(info->captureDate, QDateTime(QDate(2021, 5, 30), QTime(8, 9, 10)));
    EXPECT_NEAR(info->gpsLatitude, 33.8688, 1e-6);
    EXPECT_EQ(info->gpsLatitudeRef, "S");
    EXPECT_EQ(info->keywords, "beach,sunrise");
    EXPECT_EQ(info->cameraLensModel, "Zoom 24-70");
    EXPECT_EQ(info->flashFired, 1);

    for (const QString& bad : {QString(), dir.filePath("missing.jpg"),
                               testsupport::writeFile(dir.filePath("notes.jpg"), "not a picture")}) {
        const auto none = ExifInfo::initWithFile(bad);
        ASSERT_NE(none, nullptr);
        EXPECT_EQ(none->pixelWidth, 0);
        EXPECT_TRUE(none->imageSize.isEmpty());
    }
}

TEST(ExifInfoTest, CodesGetTheirNames) {
    struct Case {
        QString (*name)(const QVariant&);
        QVariant value;
        const char* text;
    };
    const Case cases[] = {
        {CommonFunc::getMeteringModeType, 255, "other"},
        {CommonFunc::getMeteringModeType, 2, "CenterWeightedAverage"},
        {CommonFunc::getMeteringModeType, 7, "---"},
        {CommonFunc::getMeteringModeType, QVariant(), "---"},
        {CommonFunc::getLightSourceType, 16, "---"},
        {CommonFunc::getLightSourceType, 6, "---"},
        {CommonFunc::getLightSourceType, 12, "Daylight fluorescent (D 5700 - 7100K)"},
        {CommonFunc::getLightSourceType, 255, "Other light source"},
        {CommonFunc::getColorSensingType, 7, "Trilinear sensor"},
        {CommonFunc::getColorSensingType, 0, "---"},
        {CommonFunc::getExposureProgramType, 3, "Aperture priority"},
        {CommonFunc::getExposureProgramType, "2", "Program AE"},
        {CommonFunc::getExposureModeType, 2, "Auto bracket"},
        {CommonFunc::getExposureModeType, 1.0, "Manual exposure"},
        {CommonFunc::getScenceCaptureType, 3, "Night scene"},
        {CommonFunc::getScenceCaptureType, -1, "---"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.name(c.value), QString::fromUtf8(c.text)) << c.text;

    EXPECT_EQ(CommonFunc::getOrientationType(6), "6 (Rotate 90 CW)");
    EXPECT_EQ(CommonFunc::getOrientationType(5), "5 (Mirror horizontal and rotate 270 CW)");
    EXPECT_EQ(CommonFunc::getOrientationType(0), "---");
    EXPECT_EQ(CommonFunc::getOrientationType(9), "---");
}

TEST(ExifInfoTest, LibraryDatabaseIsFoundByWhatTheLibraryHolds) {
    struct Case {
        const char* name;
        QStringList files;
        const char* expected;
    };
    const Case cases[] = {
        {"older library", {"database/apdb/Library.apdb", "database/photos.db"}, "database/apdb/Library.apdb"},
        {"flat older library", {"database/Library.apdb"}, "database/Library.apdb"},
        {"photos.db only", {"database/photos.db"}, "database/photos.db"},
        {"apdb photos.db", {"database/apdb/photos.db", "database/photos.db"}, "database/apdb/photos.db"},
        {"newer library", {"database/Photos.sqlite", "database/photos.db"}, "database/Photos.sqlite"},
        {"capitalised folder", {"Database/apdb/Library.apdb"}, "Database/apdb/Library.apdb"},
        {"empty package", {}, "database/photos.db"},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        const QString lib = dir.filePath("My Pictures.photoslibrary");
        QDir().mkpath(lib);
        for (const QString& f : c.files) testsupport::writeFile(lib + "/" + f, "x");
        EXPECT_EQ(CommonFunc::getDataBasePathForPhotosLib(lib), lib + "/" + c.expected) << c.name;
    }
}

TEST(ExifInfoTest, LibraryKindProbes) {
    QTemporaryDir dir;
    const QString old = dir.filePath("Old.library");
    testsupport::writeFile(old + "/AlbumData.xml",
                           "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                           "<key>Application Version</key><string>9.6.1</string></dict></plist>\n");
    QDir().mkpath(old + "/Masters");
    EXPECT_EQ(CommonFunc::getPhotoLibraryVersion(old), "9");
    EXPECT_TRUE(CommonFunc::isiPhotoLibrary9AndAbove(old));
    EXPECT_TRUE(CommonFunc::isPkgPhotoLib(old));
    EXPECT_EQ(CommonFunc::photoLibrary_MastersOrOriginal(old), "masters");
    EXPECT_FALSE(CommonFunc::isPhotosLib(old));
    testsupport::writeFile(old + "/Database/apdb/Library.apdb", "x");
    EXPECT_TRUE(CommonFunc::isPhotosLib(old));

    const QString bare = dir.filePath("Bare.library");
    QDir().mkpath(bare);
    EXPECT_TRUE(CommonFunc::getPhotoLibraryVersion(bare).isEmpty());
    EXPECT_FALSE(CommonFunc::isiPhotoLibrary9AndAbove(bare));
    EXPECT_FALSE(CommonFunc::isPkgPhotoLib(bare));
    EXPECT_EQ(CommonFunc::getPhotoLibraryMajorVersion("8.1.2"), "8");
}

}  // namespace
