#include <gtest/gtest.h>

#include <QSet>
#include <limits>

#include "records/MetaDataObject.h"
#include "records/OutputProperties.h"
#include "tests/support/TestSupport.h"

namespace {

const QStringList kGroups{"{Exif}", "{ExifAux}", "{GPS}", "{IPTC}", "{TIFF}"};

// A photo's own properties with something in every group.
QVariantMap photoProperties() {
    return {{"PixelWidth", 40},
            {"PixelHeight", 30},
            {"Orientation", 1},
            {"{TIFF}", QVariantMap{{"Make", "OldMake"}, {"Orientation", 1}, {"XResolution", 72.0}}},
            {"{Exif}", QVariantMap{{"Flash", 16}, {"UserComment", "old comment"}, {"FNumber", 5.6},
                                   {"CameraOwnerName", "Owner"}, {"BodySerialNumber", "S1"}}},
            {"{ExifAux}", QVariantMap{{"OwnerName", "Owner"}, {"SerialNumber", "S1"}, {"LensModel", "L"}}},
            {"{GPS}", QVariantMap{{"Latitude", 10.5}, {"LatitudeRef", "N"}, {"DateStamp", "2020:01:02"},
                                  {"ImgDirection", 90.0}}},
            {"{IPTC}", QVariantMap{{"Headline", "old headline"}, {"Keywords", QVariantList{"k"}}}}};
}

QVariantMap groupOf(const QVariantMap& d, const char* g) { return d.value(QLatin1String(g)).toMap(); }

// Builds with `record` also acting as the application's current record.
QVariantMap build(const MetaDataObject& record, const QVariantMap& props, const MetaDataObject& updated = {}) {
    return MetaDataObject::metadataDictFromObject(record, props, record, updated);
}

}  // namespace

TEST(OutputProperties, EmptyRecordKeepsThePhotosPropertiesAndAddsEveryGroup) {
    const MetaDataObject r;
    const QVariantMap none = build(r, {});
    EXPECT_EQ(QSet<QString>(none.keyBegin(), none.keyEnd()), QSet<QString>(kGroups.begin(), kGroups.end()));
    for (const QString& g : kGroups) EXPECT_TRUE(none[g].toMap().isEmpty());

    const QVariantMap p = photoProperties();
    EXPECT_EQ(build(r, p), p);
    MetaDataObject seven;
    seven.editingOption = 7;  // any option but 1 and 2 applies
    seven.Artist = "A";
    MetaDataObject zero = seven;
    zero.editingOption = 0;
    EXPECT_EQ(build(seven, p), build(zero, p));
}

TEST(OutputProperties, ApexConversions) {
    struct Case { const char* text; const char* aperture; const char* shutter; };
    // "" means the key is left out.
    const Case cases[] = {
        {"2.8", "2.970854", nullptr}, {"4", "4.000000", nullptr},     {"0", "", ""},
        {"-2", "", nullptr},          {"abc", "", "abc"},             {"1/250", nullptr, "7.965784"},
        {"1/60", nullptr, "5.906890"}, {"0.5", "-2.000000", "1.000000"}, {"30", nullptr, "-4.906890"},
        {"1/", nullptr, ""},          {"1/250a", nullptr, "1/250a"},  {"1/99999999999", nullptr, "31.000000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        if (c.aperture) {
            EXPECT_EQ(outputprops::apertureApexText(c.text), QString::fromLatin1(c.aperture));
        }
        if (c.shutter) {
            EXPECT_EQ(outputprops::shutterApexText(c.text), QString::fromLatin1(c.shutter));
        }
    }

    // Written as numbers; the record keeps its own texts for the next photo.
    MetaDataObject r;
    r.CamSetting_Aperture = "2.8";
    r.CamSetting_ShutterSpeed = "1/250";
    for (int photo = 0; photo < 2; ++photo) {
        const QVariantMap exif = groupOf(build(r, {}), "{Exif}");
        EXPECT_DOUBLE_EQ(exif["ApertureValue"].toDouble(), 2.970854);
        EXPECT_DOUBLE_EQ(exif["ShutterSpeedValue"].toDouble(), 7.965784);
    }
    EXPECT_EQ(r.CamSetting_Aperture, "2.8");

    // Texts with no finite value leave their keys out rather than writing inf or nan.
    MetaDataObject bad;
    bad.CamSetting_Aperture = "0";
    bad.CamSetting_ShutterSpeed = "1/";
    bad.CamSetting_FNumber = "1e999";
    bad.DimResolution_XResolution = "1e300";  // beyond single precision
    bad.CamSetting_ISO = "99999999999";
    bad.CamSetting_Flash = "-99999999999";
    const QVariantMap d = build(bad, photoProperties());
    const QVariantMap exif = groupOf(d, "{Exif}");
    EXPECT_FALSE(exif.contains("ApertureValue"));
    EXPECT_FALSE(exif.contains("ShutterSpeedValue"));
    EXPECT_DOUBLE_EQ(exif["FNumber"].toDouble(), 5.6);  // the photo's own value stays
    EXPECT_DOUBLE_EQ(groupOf(d, "{TIFF}")["XResolution"].toDouble(), 72.0);
    EXPECT_EQ(exif["ISOSpeedRatings"].toList(), QVariantList{std::numeric_limits<int>::max()});
    EXPECT_EQ(exif["Flash"].toInt(), std::numeric_limits<int>::min());
}

TEST(OutputProperties, BackFromApexValues) {
    struct Case { const char* aperture; const char* apertureText; const char* shutter; const char* shutterText; };
    const Case cases[] = {{"2.970854", "2.80", "7.965784", "1/250"},
                          {"0", "0", "-1", "2.00"},
                          {"-3", "-3", "0", "1"},
                          {"x", "x", "x", "x"},
                          {"1e30", "1e30", "1e30", "1/2147483647"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.aperture);
        EXPECT_EQ(outputprops::apertureFromApex(c.aperture), QString::fromLatin1(c.apertureText));
        EXPECT_EQ(outputprops::shutterFromApex(c.shutter), QString::fromLatin1(c.shutterText));
    }
}

TEST(OutputProperties, WrittenKinds) {
    MetaDataObject r;
    r.Artist = "Ann";
    r.CamSetting_ISO = "200";
    r.CamSetting_FocalLength = "4.2mm";
    r.CamSetting_FocalLengthIn35mmFormat = "28";
    r.DimResolution_XResolution = "300.5";
    r.GPS_DateStamp = "2021:05:06";
    r.IPTC_ByLine = "Me";
    r.AdvCamSetting_WhiteBalance = "Leave Blank";  // an ordinary text here: written as 0
    const QVariantMap d = build(r, photoProperties());
    EXPECT_EQ(groupOf(d, "{TIFF}")["Artist"], QVariant("Ann"));
    EXPECT_EQ(groupOf(d, "{TIFF}")["Make"], QVariant("OldMake"));  // untouched key stays
    EXPECT_EQ(groupOf(d, "{Exif}")["ISOSpeedRatings"], QVariant(QVariantList{200}));
    EXPECT_EQ(groupOf(d, "{Exif}")["FocalLength"], QVariant(4.2));
    EXPECT_EQ(groupOf(d, "{Exif}")["FocalLenIn35mmFilm"], QVariant(28));
    EXPECT_EQ(groupOf(d, "{Exif}")["WhiteBalance"], QVariant(0));
    EXPECT_EQ(groupOf(d, "{TIFF}")["XResolution"].toDouble(), 300.5);
    EXPECT_EQ(groupOf(d, "{GPS}")["DateStamp"], QVariant(QVariantList{"2021:05:06"}));
    EXPECT_EQ(groupOf(d, "{IPTC}")["Byline"], QVariant(QVariantList{"Me"}));

    struct ListCase { const char* components; QVariantList expected; };
    for (const ListCase& c : {ListCase{"1,2,3,0", {1, 2, 3, 0}}, ListCase{"1, 2, 3", {1}},
                              ListCase{"7", {}}, ListCase{"6", {6}}}) {
        MetaDataObject m;
        m.AdvCamSetting_ComponentsConfiguration = c.components;
        EXPECT_EQ(groupOf(build(m, {}), "{Exif}")["ComponentsConfiguration"].toList(), c.expected) << c.components;
    }
    struct KeywordCase { const char* text; QVariantList expected; };
    for (const KeywordCase& c : {KeywordCase{"sea,sky", {"sea", "sky"}}, KeywordCase{"sea, sky", {"sea", " sky"}},
                                 KeywordCase{"sea sky", {"sea sky"}}}) {
        MetaDataObject m;
        m.IPTC_Keywords = c.text;
        EXPECT_EQ(groupOf(build(m, {}), "{IPTC}")["Keywords"].toList(), c.expected) << c.text;
    }
}

TEST(OutputProperties, LeaveBlankRemovesTheKey) {
    MetaDataObject r;
    r.CamSetting_Flash = "Leave Blank";
    r.GPS_LattitudeRef = "Leave Blank";
    r.CamSetting_Orientation = "Leave Blank";
    const QVariantMap d = build(r, photoProperties());
    EXPECT_FALSE(groupOf(d, "{Exif}").contains("Flash"));
    EXPECT_FALSE(groupOf(d, "{GPS}").contains("LatitudeRef"));
    EXPECT_FALSE(groupOf(d, "{TIFF}").contains("Orientation"));
    // The writer prefers the top-level orientation, so it goes too.
    EXPECT_FALSE(d.contains("Orientation"));
}

TEST(OutputProperties, OrientationSetInTheRecordReachesTheTopLevel) {
    MetaDataObject r;
    r.CamSetting_Orientation = "6";
    const QVariantMap d = build(r, photoProperties());
    EXPECT_EQ(groupOf(d, "{TIFF}")["Orientation"], QVariant(6));
    EXPECT_EQ(d["Orientation"], QVariant(6));
    // Untouched, a top-level orientation without a TIFF one stays as the photo had it.
    QVariantMap png{{"Orientation", 3}};
    EXPECT_EQ(build(MetaDataObject(), png)["Orientation"], QVariant(3));
}

TEST(OutputProperties, GpsInAllFourHemispheres) {
    struct Case { const char* lat; const char* lon; const char* alt; double absLat; const char* latRef;
                  double absLon; const char* lonRef; int altRef; };
    // An east longitude with a blanked reference has none; a west one keeps its "W".
    const Case cases[] = {{"48.85", "2.35", "35", 48.85, "N", 2.35, "", 0},
                          {"-33.86", "151.2", "-12.5", 33.86, "S", 151.2, "", 1},
                          {"40.7", "-74.0", "10", 40.7, "N", 74.0, "W", 0},
                          {"-22.9", "-43.2", "-1", 22.9, "S", 43.2, "W", 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lat);
        MetaDataObject r;
        r.GPS_Lattitude = c.lat;
        r.GPS_Longitude = c.lon;
        r.GPS_Altitude = c.alt;
        r.GPS_LattitudeRef = "N";  // a sign in the value wins over a contradicting letter
        r.GPS_LongitudeRef = "Leave Blank";  // and over a blank
        r.GPS_AltitudeRef = "0";
        const QVariantMap gps = groupOf(build(r, {}), "{GPS}");
        EXPECT_DOUBLE_EQ(gps["Latitude"].toDouble(), c.absLat);
        EXPECT_EQ(gps["LatitudeRef"].toString(), QString::fromLatin1(c.latRef));
        EXPECT_DOUBLE_EQ(gps["Longitude"].toDouble(), c.absLon);
        EXPECT_EQ(gps["LongitudeRef"].toString(), QString::fromLatin1(c.lonRef));
        EXPECT_GE(gps["Altitude"].toDouble(), 0.0);
        EXPECT_EQ(gps["AltitudeRef"].toInt(), c.altRef);
    }
}

TEST(OutputProperties, ClearFlagsRemoveTheirKeySets) {
    struct Case { const char* name; bool exif, iptc, comment, gps; };
    for (const Case& c : {Case{"gps", false, false, false, true}, Case{"exif", true, false, false, false},
                          Case{"iptc", false, true, false, false}, Case{"comment", false, false, true, false},
                          Case{"none", false, false, false, false}}) {
        SCOPED_TRACE(c.name);
        MetaDataObject r;
        r.editingOption = MetaDataObject::Clear;
        r.clearExif = c.exif;
        r.clearIPTC = c.iptc;
        r.clearComment = c.comment;
        r.clearGpsInfo = c.gps;
        r.Artist = "never written";
        const QVariantMap p = photoProperties();
        const QVariantMap d = build(r, p);
        EXPECT_FALSE(groupOf(d, "{TIFF}").contains("Artist"));
        EXPECT_EQ(groupOf(d, "{GPS}").isEmpty(), c.gps);  // all nine, DateStamp included
        EXPECT_EQ(groupOf(d, "{IPTC}").isEmpty(), c.iptc);
        EXPECT_EQ(groupOf(d, "{TIFF}").contains("Make"), !c.exif);
        EXPECT_EQ(groupOf(d, "{TIFF}").contains("XResolution"), true);
        EXPECT_EQ(groupOf(d, "{Exif}").contains("FNumber"), !c.exif);
        EXPECT_EQ(groupOf(d, "{Exif}").contains("UserComment"), !c.comment);
        // The auxiliary copies of owner and serial number would write them back.
        EXPECT_EQ(groupOf(d, "{ExifAux}").contains("OwnerName"), !c.exif);
        EXPECT_EQ(groupOf(d, "{ExifAux}").contains("LensModel"), !c.exif);
        if (!c.exif && !c.iptc && !c.comment && !c.gps) {
            EXPECT_EQ(d, p);
        }
    }
}

TEST(OutputProperties, KeepOnlyUpdatedFields) {
    MetaDataObject r;
    r.editingOption = MetaDataObject::ApplyKeepOnlyUpdated;
    r.Artist = "Ann";
    r.Copyright = "(c)";
    r.GPS_ImgDirection = "180";
    MetaDataObject updated;
    updated.Artist = "x";  // only the artist counts as updated
    const QVariantMap d = build(r, photoProperties(), updated);
    EXPECT_EQ(groupOf(d, "{TIFF}")["Artist"], QVariant("Ann"));
    EXPECT_FALSE(groupOf(d, "{TIFF}").contains("Copyright"));
    EXPECT_FALSE(groupOf(d, "{TIFF}").contains("Make"));
    EXPECT_FALSE(groupOf(d, "{Exif}").contains("Flash"));
    EXPECT_FALSE(groupOf(d, "{GPS}").contains("Latitude"));
    EXPECT_FALSE(groupOf(d, "{IPTC}").contains("Headline"));
    // Resolution, image direction and GPS date always stay.
    EXPECT_TRUE(groupOf(d, "{TIFF}").contains("XResolution"));
    EXPECT_EQ(groupOf(d, "{GPS}")["ImgDirection"].toDouble(), 180.0);
    EXPECT_TRUE(groupOf(d, "{GPS}").contains("DateStamp"));
}

TEST(OutputProperties, ReadsTheOptionFromTheCurrentRecord) {
    MetaDataObject record;
    record.Artist = "Ann";
    MetaDataObject current;
    current.editingOption = MetaDataObject::Clear;
    current.clearGpsInfo = true;
    const QVariantMap d = MetaDataObject::metadataDictFromObject(record, photoProperties(), current, MetaDataObject());
    EXPECT_FALSE(groupOf(d, "{TIFF}").contains("Artist"));
    EXPECT_TRUE(groupOf(d, "{GPS}").isEmpty());
}
