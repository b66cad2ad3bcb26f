#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "platform/foundation/KeyedArchive.h"
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/ImageProperties.h"
#include "records/MetaDataObject.h"
#include "records/OutputProperties.h"
#include "tests/support/TestSupport.h"

using platform::KeyedDecoder;
using platform::KeyedEncoder;

namespace {

// Every text field holds its own name, so a field read from the wrong key shows.
MetaDataObject namedRecord() {
    MetaDataObject r;
    for (const auto& f : MetaDataObject::textFields()) r.*(f.member) = QString::fromLatin1(f.name);
    r.editingOption = 2;
    r.clearExif = true;
    r.clearGpsInfo = true;
    r.isReset = true;
    r.isLoadedFromLastSession = true;
    return r;
}

// The keys stored in the archive's root object.
QStringList rootKeys(const QByteArray& archive) { return testsupport::archivedRootObject(archive).keys(); }

}  // namespace

TEST(MetaDataObject, ArchiveKeepsEveryFieldUnderItsOwnName) {
    ASSERT_EQ(MetaDataObject::textFields().size(), 79u);
    const MetaDataObject r = namedRecord();
    const QByteArray data = KeyedEncoder::archivedDataWithRootObject(r);
    EXPECT_EQ(KeyedDecoder::rootClassNameOfArchive(data), QStringLiteral("MetaDataObject"));
    const QStringList keys = rootKeys(data);
    for (const char* k : {"GPS_Lattitude", "GPS_LattitudeRef", "AdvCamSetting_MateringMode", "XMP_PhotoshopDateCreated",
                          "editingOption", "clearExif", "clearIPTC", "clearComment", "clearGpsInfo"})
        EXPECT_TRUE(keys.contains(QString::fromLatin1(k))) << k;
    EXPECT_FALSE(keys.contains("isReset"));

    auto back = KeyedDecoder::unarchiveObjectWithData<MetaDataObject>(data);
    ASSERT_TRUE(back);
    for (const auto& f : MetaDataObject::textFields()) EXPECT_EQ((*back).*(f.member), QString::fromLatin1(f.name));
    EXPECT_EQ(back->editingOption, 2);
    EXPECT_TRUE(back->clearExif);
    EXPECT_FALSE(back->clearIPTC);
    EXPECT_FALSE(back->clearComment);
    EXPECT_TRUE(back->clearGpsInfo);
    EXPECT_FALSE(back->isReset);
    EXPECT_FALSE(back->isLoadedFromLastSession);

    // An absent text stays absent; an empty one stays empty.
    MetaDataObject gaps;
    gaps.Artist = QString();
    auto decoded = KeyedDecoder::unarchiveObjectWithData<MetaDataObject>(KeyedEncoder::archivedDataWithRootObject(gaps));
    EXPECT_TRUE(decoded->Artist.isNull());
    EXPECT_FALSE(decoded->Copyright.isNull());
    EXPECT_TRUE(decoded->Copyright.isEmpty());

    // The copy takes texts, option and clear flags but not the two marks.
    auto copy = MetaDataObject::initWithObject(r);
    EXPECT_EQ(copy->IPTC_Source, "IPTC_Source");
    EXPECT_TRUE(copy->clearGpsInfo);
    EXPECT_FALSE(copy->isReset);
}

TEST(MetaDataObject, ReverseReadingFromProperties) {
    MetaDataObject r;
    r.IPTC_Headline = "kept";
    r.XMP_Lens = "gone";
    r.resetAllWithDict({{"{Exif}", QVariantMap{{"ApertureValue", 2.970854},
                                               {"ShutterSpeedValue", 7.965784},
                                               {"ISOSpeedRatings", QVariantList{100, 200}},
                                               {"FNumber", 2.8},
                                               {"UserComment", "  padded \n"}}},
                        {"{GPS}", QVariantMap{{"DateStamp", " 2020:01:02 "}}}});
    EXPECT_EQ(r.CamSetting_Aperture, "2.80");
    EXPECT_EQ(r.CamSetting_ShutterSpeed, "1/250");
    EXPECT_EQ(r.CamSetting_ISO, "100,200");
    EXPECT_EQ(r.CamSetting_FNumber, "2.8");
    EXPECT_EQ(r.UserComment, "padded");
    EXPECT_EQ(r.CamSetting_Flash, "");         // group present, key missing
    EXPECT_EQ(r.GPS_DateStamp, " 2020:01:02 ");  // kept untrimmed
    EXPECT_EQ(r.IPTC_Headline, "kept");          // no IPTC group: IPTC fields stay
    EXPECT_EQ(r.XMP_Lens, "");

    r.resetAllWithDict({{"{IPTC}", QVariantMap{{"City", "Rome"}}},
                        {"{Exif}", QVariantMap{{"ShutterSpeedValue", -1}, {"ApertureValue", 0}}}});
    EXPECT_EQ(r.IPTC_Headline, "");
    EXPECT_EQ(r.IPTC_City, "Rome");
    EXPECT_EQ(r.CamSetting_ShutterSpeed, "2.00");
    r.resetAllWithDict({{"{Exif}", QVariantMap{{"ShutterSpeedValue", 0}}}});
    EXPECT_EQ(r.CamSetting_ShutterSpeed, "1");

    MetaDataObject untouched = namedRecord();
    untouched.resetAllWithDict({});
    EXPECT_EQ(untouched.Artist, "Artist");
}

TEST(MetaDataObject, MetadataDatesUseTheTwentyFourHourClock) {
    const QDateTime afternoon = MetaDataObject::dateFromMetadataText("2024:03:09 15:04:05");
    ASSERT_TRUE(afternoon.isValid());
    EXPECT_EQ(afternoon.time().hour(), 15);
    EXPECT_EQ(MetaDataObject::metadataTextFromDate(afternoon), "2024:03:09 15:04:05");
    EXPECT_FALSE(MetaDataObject::dateFromMetadataText("2024-03-09 15:04:05").isValid());
    EXPECT_FALSE(MetaDataObject::dateFromMetadataText("").isValid());
}

// Through real files: the builder's dictionary written by the image-properties writer
// and read back by its reader.
class MetaDataFiles : public ::testing::TestWithParam<const char*> {
protected:
    QString writePhoto(const QString& path) {
        const std::string kind = GetParam();
        const auto type = kind == "jpg" ? platform::ImageType::JPEG
                          : kind == "tif" ? platform::ImageType::TIFF
                                          : platform::ImageType::PNG;
        MetaDataObject seed;
        seed.Artist = "Original Artist";
        seed.Cam_Make = "OldMake";
        seed.Cam_OwnerName = "Owner";
        seed.UserComment = "old comment";
        seed.CamSetting_FNumber = "5.6";
        seed.GPS_Lattitude = "10.5";
        seed.GPS_LattitudeRef = "N";
        seed.IPTC_Headline = "old headline";
        const QVariantMap props = MetaDataObject::metadataDictFromObject(seed, {}, seed, MetaDataObject());
        EXPECT_TRUE(platform::writeImageFile(path, testsupport::quadrantImage(16, 12), type, 0.9, props));
        return path;
    }
    QVariantMap roundTrip(const MetaDataObject& record, const MetaDataObject& updated = MetaDataObject()) {
        const QString path = writePhoto(dir.filePath(QStringLiteral("photo.") + QString::fromLatin1(GetParam())));
        const QVariantMap own = platform::readImageProperties(path);
        EXPECT_FALSE(own.isEmpty());
        const QVariantMap out = MetaDataObject::metadataDictFromObject(record, own, record, updated);
        EXPECT_TRUE(platform::writeImageProperties(path, out));
        return platform::readImageProperties(path);
    }
    static QVariant at(const QVariantMap& d, const char* group, const char* key) {
        return d.value(QLatin1String(group)).toMap().value(QLatin1String(key));
    }
    QTemporaryDir dir;
};

TEST_P(MetaDataFiles, ApplyWritesTheRecord) {
    MetaDataObject r;
    r.Artist = "New Artist";
    r.CamSetting_Aperture = "2.8";
    r.CamSetting_ShutterSpeed = "1/250";
    r.CamSetting_ISO = "400";
    r.GPS_Lattitude = "-33.5";
    r.GPS_Longitude = "-70.25";
    r.IPTC_Keywords = "sea,sky";
    r.Date_Modify = "2024:03:09 15:04:05";
    r.CamSetting_Flash = "Leave Blank";
    const QVariantMap d = roundTrip(r);
    EXPECT_EQ(at(d, "{TIFF}", "Artist").toString(), "New Artist");
    EXPECT_EQ(at(d, "{TIFF}", "Make").toString(), "OldMake");
    EXPECT_NEAR(at(d, "{Exif}", "ApertureValue").toDouble(), 2.970854, 1e-4);
    EXPECT_NEAR(at(d, "{Exif}", "ShutterSpeedValue").toDouble(), 7.965784, 1e-4);
    EXPECT_EQ(at(d, "{Exif}", "ISOSpeedRatings").toList().value(0).toInt(), 400);
    EXPECT_NEAR(at(d, "{GPS}", "Latitude").toDouble(), 33.5, 1e-6);
    EXPECT_EQ(at(d, "{GPS}", "LatitudeRef").toString(), "S");
    EXPECT_NEAR(at(d, "{GPS}", "Longitude").toDouble(), 70.25, 1e-6);
    EXPECT_EQ(at(d, "{GPS}", "LongitudeRef").toString(), "W");
    EXPECT_EQ(at(d, "{IPTC}", "Keywords").toList(), QVariantList({"sea", "sky"}));
    EXPECT_EQ(at(d, "{TIFF}", "DateTime").toString(), "2024:03:09 15:04:05");
    EXPECT_FALSE(d.value("{Exif}").toMap().contains("Flash"));
}

TEST_P(MetaDataFiles, KeepOnlyUpdatedDropsTheRest) {
    MetaDataObject r;
    r.editingOption = MetaDataObject::ApplyKeepOnlyUpdated;
    r.Artist = "New Artist";
    MetaDataObject updated;
    updated.Artist = "x";
    const QVariantMap d = roundTrip(r, updated);
    EXPECT_EQ(at(d, "{TIFF}", "Artist").toString(), "New Artist");
    EXPECT_FALSE(at(d, "{TIFF}", "Make").isValid());
    EXPECT_FALSE(at(d, "{IPTC}", "Headline").isValid());
    EXPECT_FALSE(at(d, "{GPS}", "Latitude").isValid());
}

TEST_P(MetaDataFiles, EachClearFlagClearsOnlyItsPart) {
    struct Case { const char* name; bool MetaDataObject::*flag; const char* group; const char* key; };
    for (const Case& c : {Case{"exif", &MetaDataObject::clearExif, "{TIFF}", "Make"},
                          Case{"iptc", &MetaDataObject::clearIPTC, "{IPTC}", "Headline"},
                          Case{"comment", &MetaDataObject::clearComment, "{Exif}", "UserComment"},
                          Case{"gps", &MetaDataObject::clearGpsInfo, "{GPS}", "Latitude"}}) {
        SCOPED_TRACE(c.name);
        MetaDataObject r;
        r.editingOption = MetaDataObject::Clear;
        r.*(c.flag) = true;
        const QVariantMap d = roundTrip(r);
        EXPECT_FALSE(at(d, c.group, c.key).isValid());
        // Everything else is still there.
        for (const Case& other : {Case{"", nullptr, "{TIFF}", "Make"}, Case{"", nullptr, "{IPTC}", "Headline"},
                                  Case{"", nullptr, "{Exif}", "UserComment"}, Case{"", nullptr, "{GPS}", "Latitude"}})
            if (QLatin1String(other.key) != QLatin1String(c.key)) {
                EXPECT_TRUE(at(d, other.group, other.key).isValid()) << other.key;
            }
        if (c.flag == &MetaDataObject::clearExif) {
            EXPECT_FALSE(at(d, "{Exif}", "CameraOwnerName").isValid());
            EXPECT_FALSE(at(d, "{ExifAux}", "OwnerName").isValid());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, MetaDataFiles, ::testing::Values("jpg", "tif", "png"));

// Every key the builder writes is one the writer stores and the reader gives back.
TEST_P(MetaDataFiles, EveryWrittenFieldComesBack) {
    MetaDataObject r;
    for (const auto& f : outputprops::fieldTable()) {
        using outputprops::Write;
        QString sample;
        switch (f.write) {
        case Write::None: continue;
        case Write::Text: sample = QStringLiteral("T%1").arg(QString::fromLatin1(f.name).size()); break;
        case Write::Integer: sample = "3"; break;
        case Write::Double: sample = "2.5"; break;
        case Write::Single: sample = "300"; break;
        case Write::IntegerList: sample = "400"; break;
        case Write::TextList: sample = "Me"; break;
        case Write::Components: sample = "1,2,3,0"; break;
        case Write::Keywords: sample = "a,b"; break;
        case Write::Aperture: sample = "2.8"; break;
        case Write::Shutter: sample = "1/250"; break;
        }
        r.*(f.member) = sample;
    }
    // Fields whose texts the file formats constrain.
    r.Date_Original = r.Date_Creation = r.Date_Modify = "2024:03:09 15:04:05";
    r.GPS_LattitudeRef = "N";
    r.GPS_LongitudeRef = "E";
    r.GPS_ImgDirectionRef = "T";
    r.GPS_DateStamp = "2021:05:06";
    r.AdvCamSetting_ColorSpace = "1";
    r.IPTC_CountryPrimaryLocationCode = "NOR";
    const QVariantMap d = roundTrip(r);
    for (const auto& f : outputprops::fieldTable()) {
        if (f.write == outputprops::Write::None) continue;
        EXPECT_TRUE(at(d, f.group, f.key).isValid()) << f.group << " " << f.key;
    }
    // And it reads back into the same texts.
    auto back = MetaDataObject::initWithDict(d);
    EXPECT_EQ(back->CamSetting_Aperture, "2.80");
    for (const char* name : {"Artist", "Cam_OwnerName", "CamSetting_ISO", "CamSetting_ShutterSpeed", "GPS_Lattitude", "IPTC_Keywords", "Date_Modify"}) {
        const auto* f = outputprops::fieldNamed(QString::fromLatin1(name));
        EXPECT_EQ((*back).*(f->member), r.*(f->member)) << name;
    }
}
