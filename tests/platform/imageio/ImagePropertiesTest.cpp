#include "platform/imageio/ImageProperties.h"

#include "tests/support/TestSupport.h"

#include <QColorSpace>
#include <QDir>
#include <QtConcurrent>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <openjpeg.h>
#include <tiffio.h>

#include <atomic>
#include <cstring>
#include <numeric>

using platform::readImageProperties;
using platform::writeImageProperties;

namespace {

QVariantMap group(const QVariantMap& props, const char* name) { return props.value(QLatin1String(name)).toMap(); }

QString saveQt(const QTemporaryDir& dir, const QString& name, const QImage& img, const char* format) {
    const QString path = dir.filePath(name);
    EXPECT_TRUE(img.save(path, format)) << name.toStdString();
    return path;
}

// Qt here has no TIFF plug-in, so the fixtures are written with libtiff directly.
QString saveTiff(const QTemporaryDir& dir, const QString& name, int w, int h, bool bigEndian = false) {
    const QString path = dir.filePath(name);
    TIFF* t = TIFFOpen(QFile::encodeName(path).constData(), bigEndian ? "wb" : "wl");
    EXPECT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, h);
    std::vector<uint8_t> row(size_t(w) * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) row[size_t(x) * 3] = uint8_t(x), row[size_t(x) * 3 + 1] = uint8_t(y);
        TIFFWriteScanline(t, row.data(), uint32_t(y), 0);
    }
    TIFFClose(t);
    return path;
}

// Qt reads GIF but can't write it: a hand-made file with a w x h screen and one pixel.
QString saveGif(const QTemporaryDir& dir, const QString& name, int w, int h) {
    QByteArray b("GIF89a");
    b += char(w & 0xff), b += char(w >> 8), b += char(h & 0xff), b += char(h >> 8);
    b += QByteArray("\x80\x00\x00\x00\x00\x00\xff\xff\xff", 9);
    b += QByteArray("\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00\x3b", 16);
    return testsupport::writeFile(dir.filePath(name), b);
}

QString saveJp2(const QTemporaryDir& dir, const QString& name, int w, int h) {
    const QString path = dir.filePath(name);
    opj_image_cmptparm_t cp[3];
    std::memset(cp, 0, sizeof cp);
    for (auto& c : cp) c.dx = c.dy = 1, c.w = OPJ_UINT32(w), c.h = OPJ_UINT32(h), c.prec = 8, c.sgnd = 0;
    opj_image_t* img = opj_image_create(3, cp, OPJ_CLRSPC_SRGB);
    img->x0 = img->y0 = 0;
    img->x1 = OPJ_UINT32(w);
    img->y1 = OPJ_UINT32(h);
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < w * h; ++i) img->comps[c].data[i] = (i * (c + 1)) & 0xff;
    opj_cparameters_t params;
    opj_set_default_encoder_parameters(&params);
    params.tcp_numlayers = 1;
    params.tcp_rates[0] = 0;
    params.cp_disto_alloc = 1;
    opj_codec_t* codec = opj_create_compress(OPJ_CODEC_JP2);
    opj_setup_encoder(codec, &params, img);
    opj_stream_t* s = opj_stream_create_default_file_stream(QFile::encodeName(path).constData(), OPJ_FALSE);
    const bool ok = opj_start_compress(codec, img, s) && opj_encode(codec, s) && opj_end_compress(codec, s);
    opj_stream_destroy(s);
    opj_destroy_codec(codec);
    opj_image_destroy(img);
    EXPECT_TRUE(ok);
    return path;
}

// A dictionary as the metadata builder hands it over, with every value kind present.
QVariantMap cameraProps() {
    QVariantMap tiff{{"Make", "Brisko Test Cam"}, {"Model", "TC-1"}, {"Software", "Brisko"},
                     {"DateTime", "2021:06:01 10:11:12"}, {"Artist", "Ann Example"}};
    QVariantMap exif{{"DateTimeOriginal", "2021:05:30 08:09:10"},
                     {"ExposureTime", 0.004},
                     {"FNumber", 2.8},
                     {"ISOSpeedRatings", QVariantList{100, 200}},
                     {"Flash", 16},
                     {"FocalLength", 4.2},
                     {"ExposureBiasValue", -0.7},
                     {"ShutterSpeedValue", 7.965784},
                     {"MeteringMode", 5},
                     {"ComponentsConfiguration", QVariantList{1, 2, 3, 0}},
                     {"UserComment", "Taken at dawn"},
                     {"LensModel", "Zoom 24-70"}};
    QVariantMap aux{{"LensModel", "Zoom 24-70"}};
    QVariantMap gps{{"Latitude", -33.8688}, {"Longitude", 151.2093}, {"Altitude", 58.5}};
    QVariantMap iptc{{"Keywords", QVariantList{"beach", "sunrise"}},
                     {"City", "Sydney"},
                     {"Byline", QVariantList{"Ann Example"}},
                     {"Caption/Abstract", "Café at dawn"}};
    return {{"{TIFF}", tiff}, {"{Exif}", exif}, {"{ExifAux}", aux}, {"{GPS}", gps}, {"{IPTC}", iptc}};
}

void expectCameraFacts(const QVariantMap& p, const std::string& what) {
    SCOPED_TRACE(what);
    const QVariantMap tiff = group(p, "{TIFF}"), exif = group(p, "{Exif}"), gps = group(p, "{GPS}"),
                      iptc = group(p, "{IPTC}"), aux = group(p, "{ExifAux}");
    EXPECT_EQ(tiff.value("Make").toString(), "Brisko Test Cam");
    EXPECT_EQ(tiff.value("Make").typeId(), QMetaType::QString);
    EXPECT_EQ(exif.value("DateTimeOriginal").toString(), "2021:05:30 08:09:10");
    EXPECT_EQ(exif.value("FNumber").typeId(), QMetaType::Double);
    EXPECT_DOUBLE_EQ(exif.value("FNumber").toDouble(), 2.8);
    EXPECT_DOUBLE_EQ(exif.value("ExposureTime").toDouble(), 0.004);
    EXPECT_NEAR(exif.value("ExposureBiasValue").toDouble(), -0.7, 1e-9);
    EXPECT_NEAR(exif.value("ShutterSpeedValue").toDouble(), 7.965784, 1e-6);
    EXPECT_EQ(exif.value("ISOSpeedRatings").toList(), (QVariantList{100, 200}));
    EXPECT_EQ(exif.value("Flash").typeId(), QMetaType::Int);
    EXPECT_EQ(exif.value("Flash").toInt(), 16);
    EXPECT_EQ(exif.value("MeteringMode").toInt(), 5);
    EXPECT_EQ(exif.value("ComponentsConfiguration").toList(), (QVariantList{1, 2, 3, 0}));
    EXPECT_EQ(exif.value("UserComment").toString(), "Taken at dawn");
    EXPECT_EQ(exif.value("LensModel").toString(), "Zoom 24-70");
    EXPECT_EQ(aux.value("LensModel").toString(), "Zoom 24-70");
    EXPECT_NEAR(gps.value("Latitude").toDouble(), 33.8688, 1e-6);
    EXPECT_EQ(gps.value("LatitudeRef").toString(), "S");
    EXPECT_NEAR(gps.value("Longitude").toDouble(), 151.2093, 1e-6);
    EXPECT_EQ(gps.value("LongitudeRef").toString(), "E");
    EXPECT_DOUBLE_EQ(gps.value("Altitude").toDouble(), 58.5);
    EXPECT_EQ(gps.value("Latitude").typeId(), QMetaType::Double);
    EXPECT_EQ(iptc.value("Keywords").toList(), (QVariantList{"beach", "sunrise"}));
    EXPECT_EQ(iptc.value("Byline").toList(), (QVariantList{"Ann Example"}));
    EXPECT_EQ(iptc.value("City").toString(), "Sydney");
    EXPECT_EQ(iptc.value("Caption/Abstract").toString(), QString::fromUtf8("Café at dawn"));
}

// A file read in one opening, as a writer checks what it wrote, gives the header and the
// properties that reading each on its own gives.
void expectOneOpeningAgrees(const QString& path) {
    SCOPED_TRACE(path.toStdString());
    QVariantMap together;
    const platform::ImageHeader header = platform::readImageHeaderAndProperties(path, &together);
    const platform::ImageHeader alone = platform::readImageHeader(path);
    ASSERT_TRUE(header.valid());
    EXPECT_EQ(header.format, alone.format);
    EXPECT_EQ(QSize(header.width, header.height), QSize(alone.width, alone.height));
    EXPECT_EQ(header.iccProfile, alone.iccProfile);
    EXPECT_EQ(together, readImageProperties(path));
    EXPECT_TRUE(platform::readImageHeaderAndProperties(path, nullptr).valid());
}

class ImagePropertiesTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
};

TEST_F(ImagePropertiesTest, MetadataRoundTripsThroughEveryWritableFormat) {
    const QImage img = testsupport::gradientImage(64, 48);
    const QStringList files{saveQt(dir, "a.jpg", img, "JPG"), saveQt(dir, "a.png", img, "PNG"),
                            saveTiff(dir, "a.tif", 64, 48), saveTiff(dir, "m.tif", 64, 48, true),
                            saveJp2(dir, "a.jp2", 64, 48)};
    for (const QString& path : files) {
        ASSERT_TRUE(writeImageProperties(path, cameraProps())) << path.toStdString();
        const QVariantMap p = readImageProperties(path);
        EXPECT_EQ(p.value("PixelWidth").toInt(), 64) << path.toStdString();
        EXPECT_EQ(p.value("PixelHeight").toInt(), 48) << path.toStdString();
        expectCameraFacts(p, path.toStdString());
        expectOneOpeningAgrees(path);
        // The pixels are still there after the metadata went in.
        if (!path.endsWith(".tif") && !path.endsWith(".jp2")) {
            EXPECT_EQ(QImage(path).size(), QSize(64, 48)) << path.toStdString();
        }
    }
    // A link to a photo stays a link.
    const QString link = dir.filePath("link.jpg");
    ASSERT_TRUE(QFile::link(files.first(), link));
    ASSERT_TRUE(writeImageProperties(link, {{"{TIFF}", QVariantMap{{"Make", "Linked"}}}}));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(group(readImageProperties(files.first()), "{TIFF}").value("Make").toString(), "Linked");
    QFile::remove(link);

    // Written through temporary copies that are all gone again.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), files.size());
}

TEST_F(ImagePropertiesTest, MetadataPutIntoBytesInMemoryIsWhatWritingTheFileGives) {
    // A picture still in memory gets its metadata before it is written, instead of
    // through a second file: the bytes must be those of the file written on disk.
    const QImage img = testsupport::gradientImage(64, 48);
    const QStringList holders{saveQt(dir, "a.jpg", img, "JPG"), saveTiff(dir, "a.tif", 64, 48),
                              saveTiff(dir, "m.tif", 64, 48, true), saveJp2(dir, "a.jp2", 64, 48)};
    const QStringList keepers{saveGif(dir, "n.gif", 8, 8), saveQt(dir, "n.bmp", img, "BMP")};
    for (const QString& path : holders + keepers) {
        SCOPED_TRACE(path.toStdString());
        const QByteArray original = testsupport::readFile(path);
        const QByteArray inMemory = platform::withImageProperties(original, cameraProps(), path);
        ASSERT_TRUE(writeImageProperties(path, cameraProps()));
        EXPECT_EQ(inMemory, testsupport::readFile(path));
        if (holders.contains(path)) { EXPECT_NE(inMemory, original); }
    }
    // What is no picture of those kinds gets nothing rather than bytes without metadata.
    EXPECT_TRUE(platform::withImageProperties("not a picture", cameraProps(), "x").isEmpty());
    EXPECT_TRUE(platform::withImageProperties(testsupport::readFile(saveQt(dir, "a.png", img, "PNG")), cameraProps(),
                                              "a.png")
                    .isEmpty());
}

TEST_F(ImagePropertiesTest, WritingAgainReplacesWhatWasThere) {
    const QString path = saveQt(dir, "b.jpg", testsupport::gradientImage(40, 30), "JPG");
    ASSERT_TRUE(writeImageProperties(path, cameraProps()));
    QVariantMap fewer = cameraProps();
    fewer.remove("{IPTC}");
    fewer.remove("{GPS}");
    ASSERT_TRUE(writeImageProperties(path, fewer));
    const QVariantMap p = readImageProperties(path);
    EXPECT_FALSE(p.contains("{IPTC}"));
    EXPECT_FALSE(p.contains("{GPS}"));
    EXPECT_EQ(group(p, "{TIFF}").value("Model").toString(), "TC-1");

    // Dimensions carried over from a larger source describe this file's pixels.
    ASSERT_TRUE(writeImageProperties(path, {{"{Exif}", QVariantMap{{"PixelXDimension", 4000}, {"PixelYDimension", 3000}}}}));
    EXPECT_EQ(group(readImageProperties(path), "{Exif}").value("PixelXDimension").toInt(), 40);
    EXPECT_EQ(group(readImageProperties(path), "{Exif}").value("PixelYDimension").toInt(), 30);

    ASSERT_TRUE(writeImageProperties(path, {}));
    const QVariantMap bare = readImageProperties(path);
    EXPECT_FALSE(bare.contains("{Exif}"));
    EXPECT_FALSE(bare.contains("{TIFF}"));
    EXPECT_EQ(bare.value("PixelWidth").toInt(), 40);
}

TEST_F(ImagePropertiesTest, AuxiliaryLensFactsStandApartFromExif) {
    const QString path = saveQt(dir, "aux.jpg", testsupport::gradientImage(16, 16), "JPG");
    // A camera file names its lens in EXIF only: the auxiliary group reports it too.
    ASSERT_TRUE(writeImageProperties(path, {{"{Exif}", QVariantMap{{"LensModel", "Prime 50"}, {"BodySerialNumber", "S1"}}}}));
    QVariantMap p = readImageProperties(path);
    EXPECT_EQ(group(p, "{ExifAux}").value("LensModel").toString(), "Prime 50");
    EXPECT_EQ(group(p, "{ExifAux}").value("SerialNumber").toString(), "S1");

    // Removing the EXIF keys while the auxiliary copy rides along must not bring them back.
    QVariantMap cleared = p;
    cleared.insert("{Exif}", QVariantMap{});
    ASSERT_TRUE(writeImageProperties(path, cleared));
    p = readImageProperties(path);
    EXPECT_FALSE(group(p, "{Exif}").contains("LensModel"));
    EXPECT_FALSE(group(p, "{Exif}").contains("BodySerialNumber"));
    EXPECT_EQ(group(p, "{ExifAux}").value("LensModel").toString(), "Prime 50");

    // Without either, both are gone.
    ASSERT_TRUE(writeImageProperties(path, {}));
    EXPECT_FALSE(readImageProperties(path).contains("{ExifAux}"));
}

TEST_F(ImagePropertiesTest, TiffKeepsItsPixelsWhenMetadataIsCleared) {
    const QString path = saveTiff(dir, "c.tif", 33, 21);
    ASSERT_TRUE(writeImageProperties(path, cameraProps()));
    ASSERT_TRUE(writeImageProperties(path, {}));
    const QVariantMap p = readImageProperties(path);
    EXPECT_EQ(p.value("PixelWidth").toInt(), 33);
    EXPECT_EQ(p.value("PixelHeight").toInt(), 21);
    EXPECT_FALSE(p.contains("{Exif}"));
    TIFF* t = TIFFOpen(QFile::encodeName(path).constData(), "r");
    ASSERT_NE(t, nullptr);
    std::vector<uint8_t> row(TIFFScanlineSize(t));
    EXPECT_EQ(TIFFReadScanline(t, row.data(), 20, 0), 1);
    EXPECT_EQ(row[3 * 5], 5);
    EXPECT_EQ(row[3 * 5 + 1], 20);
    TIFFClose(t);
}

TEST_F(ImagePropertiesTest, EveryOrientationIsReportedAtTopAndInTiffGroup) {
    const QString path = saveQt(dir, "o.jpg", testsupport::gradientImage(40, 30), "JPG");
    for (int o = 1; o <= 8; ++o) {
        ASSERT_TRUE(writeImageProperties(path, {{"Orientation", o}}));
        const QVariantMap p = readImageProperties(path);
        EXPECT_EQ(p.value("Orientation").toInt(), o);
        EXPECT_EQ(group(p, "{TIFF}").value("Orientation").toInt(), o);
        // Pixel sizes stay as stored; turning them is the photo record's business.
        EXPECT_EQ(p.value("PixelWidth").toInt(), 40);
    }
    // Codes outside the eight orientations are not written.
    for (const QVariant& bad : {QVariant(0), QVariant(9), QVariant("Normal")}) {
        ASSERT_TRUE(writeImageProperties(path, {{"{TIFF}", QVariantMap{{"Orientation", bad}, {"Make", "X"}}}}));
        const QVariantMap p = readImageProperties(path);
        EXPECT_FALSE(p.contains("Orientation"));
        EXPECT_FALSE(group(p, "{TIFF}").contains("Orientation"));
    }
    // The top-level value wins over a disagreeing group value.
    ASSERT_TRUE(writeImageProperties(path, {{"Orientation", 6}, {"{TIFF}", QVariantMap{{"Orientation", 3}}}}));
    EXPECT_EQ(readImageProperties(path).value("Orientation").toInt(), 6);
}

TEST_F(ImagePropertiesTest, PixelFactsOfEachFormat) {
    QImage gray(50, 20, QImage::Format_Grayscale8);
    gray.fill(128);
    QImage alpha(30, 40, QImage::Format_ARGB32);
    alpha.fill(Qt::transparent);
    QImage dpi = testsupport::gradientImage(16, 16).convertToFormat(QImage::Format_RGB32);
    dpi.setDotsPerMeterX(11811);  // 300 dpi
    dpi.setDotsPerMeterY(11811);
    struct Case {
        QString path;
        int w, h;
        QString model;
        QVariant hasAlpha;
        double dpi;
    };
    const Case cases[] = {
        {saveQt(dir, "g.png", gray, "PNG"), 50, 20, "Gray", false, 0},
        {saveQt(dir, "g.jpg", gray, "JPG"), 50, 20, "Gray", false, 0},
        {saveQt(dir, "a.png", alpha, "PNG"), 30, 40, "RGB", true, 0},
        {saveQt(dir, "d.png", dpi, "PNG"), 16, 16, "RGB", false, 300},
        {saveQt(dir, "d.jpg", dpi, "JPG"), 16, 16, "RGB", false, 300},
        {saveQt(dir, "b.bmp", alpha.convertToFormat(QImage::Format_RGB32), "BMP"), 30, 40, "RGB", {}, 0},
        {saveQt(dir, "d.bmp", dpi, "BMP"), 16, 16, "RGB", {}, 300},
        {saveGif(dir, "s.gif", 50, 20), 50, 20, "RGB", {}, 0},
        {saveTiff(dir, "t.tif", 7, 9), 7, 9, "RGB", false, 0},
        {saveTiff(dir, "m.tif", 300, 2, true), 300, 2, "RGB", false, 0},
        {saveJp2(dir, "j.jp2", 64, 32), 64, 32, "RGB", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        const QVariantMap p = readImageProperties(c.path);
        EXPECT_EQ(p.value("PixelWidth").toInt(), c.w);
        EXPECT_EQ(p.value("PixelHeight").toInt(), c.h);
        EXPECT_EQ(p.value("PixelWidth").typeId(), QMetaType::Int);
        EXPECT_EQ(p.value("ColorModel").toString(), c.model);
        EXPECT_EQ(p.value("Depth").toInt(), 8);
        if (c.hasAlpha.isValid()) {
            EXPECT_EQ(p.value("HasAlpha").toBool(), c.hasAlpha.toBool());
        }
        if (c.dpi > 0) {
            EXPECT_NEAR(p.value("DPIWidth").toDouble(), c.dpi, 0.01);
            EXPECT_NEAR(p.value("DPIHeight").toDouble(), c.dpi, 0.01);
        }
        EXPECT_FALSE(p.contains("{TIFF}"));  // nothing written yet
    }
}

TEST_F(ImagePropertiesTest, ProfileNameComesFromTheEmbeddedProfile) {
    QImage img = testsupport::gradientImage(16, 16).convertToFormat(QImage::Format_RGB32);
    img.setColorSpace(QColorSpace::DisplayP3);
    for (const char* fmt : {"PNG", "JPG"}) {
        const QString path = saveQt(dir, QStringLiteral("p.") + fmt, img, fmt);
        EXPECT_EQ(readImageProperties(path).value("ProfileName").toString(), "Display P3") << fmt;
        // Writing metadata keeps the profile.
        ASSERT_TRUE(writeImageProperties(path, cameraProps()));
        EXPECT_EQ(readImageProperties(path).value("ProfileName").toString(), "Display P3") << fmt;
        expectOneOpeningAgrees(path);
    }
}

TEST_F(ImagePropertiesTest, ParallelReadersAndWritersEachGetWholeResults) {
    // The import screen reads on several queues while a run writes outputs.
    QStringList paths;
    for (int i = 0; i < 8; ++i) paths.append(saveQt(dir, QStringLiteral("par%1.jpg").arg(i), testsupport::gradientImage(20, 10), "JPG"));
    QList<int> jobs(160);
    std::iota(jobs.begin(), jobs.end(), 0);
    std::atomic<int> bad{0};
    QtConcurrent::blockingMap(jobs, [&](int& i) {
        const QString& path = paths[i % paths.size()];
        if (i % 3 == 0) {
            if (!writeImageProperties(path, cameraProps())) ++bad;
        } else {
            const QVariantMap p = readImageProperties(path);
            if (p.value("PixelWidth").toInt() != 20) ++bad;
            if (p.contains("{TIFF}") && group(p, "{TIFF}").value("Make").toString() != "Brisko Test Cam") ++bad;
        }
    });
    EXPECT_EQ(bad.load(), 0);
}

TEST_F(ImagePropertiesTest, ResolutionWrittenAtTopLevelWinsOverTheHeader) {
    QImage img = testsupport::gradientImage(16, 16);
    img.setDotsPerMeterX(3780);  // 96 dpi in the JFIF header
    img.setDotsPerMeterY(3780);
    for (const char* fmt : {"JPG", "PNG"}) {
        const QString path = saveQt(dir, QStringLiteral("r.") + fmt, img, fmt);
        ASSERT_TRUE(writeImageProperties(path, {{"DPIWidth", 300.0}, {"DPIHeight", 150.0}}));
        const QVariantMap p = readImageProperties(path);
        EXPECT_DOUBLE_EQ(p.value("DPIWidth").toDouble(), 300.0) << fmt;
        EXPECT_DOUBLE_EQ(p.value("DPIHeight").toDouble(), 150.0) << fmt;
        EXPECT_EQ(group(p, "{TIFF}").value("ResolutionUnit").toInt(), 2) << fmt;
    }
}

TEST_F(ImagePropertiesTest, GifAndBmpAcceptButKeepNothing) {
    const QImage img = testsupport::quadrantImage(8, 8);
    for (const QString& path : {saveGif(dir, "n.gif", 8, 8), saveQt(dir, "n.bmp", img, "BMP")}) {
        const std::string fmt = path.toStdString();
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray before = f.readAll();
        f.close();
        EXPECT_TRUE(writeImageProperties(path, cameraProps())) << fmt;
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), before) << fmt;
    }
}

TEST_F(ImagePropertiesTest, TextsGivenForNumbersAreReadLocaleFree) {
    testsupport::CommaLocale comma;
    const QString path = saveQt(dir, "l.jpg", testsupport::gradientImage(16, 16), "JPG");
    const QVariantMap props{{"{Exif}", QVariantMap{{"FNumber", "2.8"}, {"ExposureBiasValue", "-0.33 EV"},
                                                   {"ISOSpeedRatings", QVariantList{"400"}}, {"Flash", "Leave Blank"}}},
                            {"{GPS}", QVariantMap{{"Latitude", "51.5"}, {"Longitude", "-0.1276"}}},
                            {"DPIWidth", 72.5},
                            {"DPIHeight", 72.5}};
    ASSERT_TRUE(writeImageProperties(path, props));
    const QVariantMap p = readImageProperties(path);
    const QVariantMap exif = group(p, "{Exif}"), gps = group(p, "{GPS}");
    EXPECT_DOUBLE_EQ(exif.value("FNumber").toDouble(), 2.8);
    EXPECT_DOUBLE_EQ(exif.value("ExposureBiasValue").toDouble(), -0.33);
    EXPECT_EQ(exif.value("ISOSpeedRatings").toList(), (QVariantList{400}));
    EXPECT_FALSE(exif.contains("Flash"));  // no number in the text: nothing written
    EXPECT_DOUBLE_EQ(gps.value("Latitude").toDouble(), 51.5);
    EXPECT_EQ(gps.value("LatitudeRef").toString(), "N");
    EXPECT_NEAR(gps.value("Longitude").toDouble(), 0.1276, 1e-7);
    EXPECT_EQ(gps.value("LongitudeRef").toString(), "W");
    EXPECT_DOUBLE_EQ(p.value("DPIWidth").toDouble(), 72.5);
}

TEST_F(ImagePropertiesTest, DamagedOrForeignFilesGiveNothing) {
    const QString jpg = saveQt(dir, "ok.jpg", testsupport::gradientImage(40, 30), "JPG");
    ASSERT_TRUE(writeImageProperties(jpg, cameraProps()));
    const QString png = saveQt(dir, "ok.png", testsupport::gradientImage(40, 30), "PNG");
    auto head = [](const QString& path, int n) {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return f.read(n);
    };
    QByteArray badCrc = head(png, 200);
    badCrc[20] = char(badCrc[20] ^ 0x40);  // inside IHDR: width changes, CRC no longer matches
    QByteArray tiffFar("II*\0\xff\xff\xff\x7f", 8);
    QByteArray bmpHuge("BM", 2);
    bmpHuge += QByteArray(12, '\0') + QByteArray("\xff\xff\xff\xff", 4) + QByteArray(40, '\xff');
    struct Case {
        const char* name;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"empty.jpg", {}},
        {"text.jpg", "This is not a picture at all, just words.\n"},
        {"short.jpg", head(jpg, 20)},
        {"short.png", head(png, 30)},
        {"crc.png", badCrc},
        {"magic.jpg", QByteArray("\xff\xd8\xff", 3) + QByteArray(500, '\x00')},
        {"far.tif", tiffFar},
        {"tiny.gif", "GIF89a"},
        {"huge.bmp", bmpHuge},
        {"sig.jp2", QByteArray("\0\0\0\x0CjP  \r\n\x87\n", 12)},
    };
    for (const Case& c : cases) {
        const QString path = testsupport::writeFile(dir.filePath(c.name), c.bytes);
        EXPECT_TRUE(readImageProperties(path).isEmpty()) << c.name;
        EXPECT_FALSE(writeImageProperties(path, cameraProps())) << c.name;
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), c.bytes) << c.name << ": a failed write must leave the file alone";
    }
    EXPECT_TRUE(readImageProperties(QString()).isEmpty());
    EXPECT_TRUE(readImageProperties(dir.filePath("missing.jpg")).isEmpty());
    EXPECT_FALSE(writeImageProperties(dir.filePath("missing.jpg"), cameraProps()));

    // A picture named as another kind is still read for what it is.
    const QString renamed = dir.filePath("really-a-png.jpg");
    ASSERT_TRUE(QFile::copy(png, renamed));
    EXPECT_EQ(readImageProperties(renamed).value("PixelWidth").toInt(), 40);
}

TEST_F(ImagePropertiesTest, EveryTruncationOfATaggedPhotoIsSurvived) {
    const QString jpg = saveQt(dir, "full.jpg", testsupport::gradientImage(24, 16), "JPG");
    ASSERT_TRUE(writeImageProperties(jpg, cameraProps()));
    QFile f(jpg);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray all = f.readAll();
    const QString cut = dir.filePath("cut.jpg");
    for (int n = 0; n < all.size(); n += 7) {
        testsupport::writeFile(cut, all.left(n));
        const QVariantMap p = readImageProperties(cut);  // must simply return
        if (!p.isEmpty()) {
            EXPECT_EQ(p.value("PixelWidth").toInt(), 24) << n;
        }
    }
    // Flipped bytes inside the metadata segment.
    for (int i = 20; i < std::min<int>(all.size(), 1200); i += 13) {
        QByteArray bad = all;
        bad[i] = char(bad[i] ^ 0xA5);
        testsupport::writeFile(cut, bad);
        readImageProperties(cut);
    }
}

}  // namespace
