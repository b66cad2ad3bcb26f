// The metadata of a camera raw file is read where its pixels are, in the decoder helper,
// and comes to the program as blocks (EXIF, IPTC, XMP) that the program reads: the
// program never hands a raw file to Exiv2, whose readers of raw containers are parsers
// of the file as much as LibRaw is. Caught here by standing in for Exiv2's image
// factory, which every reading of a whole file in the program goes through.
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/ImageProperties.h"
#include "tests/support/BoundedRun.h"
#include "tests/support/PhotoSamples.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <mutex>

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

namespace {

// What the test's stand-in saw of every file the program asked Exiv2 to open.
struct ExivOpenings {
    std::mutex lock;
    QList<QByteArray> opened;  // the bytes handed over, or the file a path named
};

ExivOpenings& exivOpenings() {
    static ExivOpenings seen;
    return seen;
}

void noteOpening(const QByteArray& bytes) {
    const std::lock_guard<std::mutex> hold(exivOpenings().lock);
    exivOpenings().opened << bytes;
}

template <class F>
F realFactory(const char* symbol) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, symbol));
}

}  // namespace

// The program's calls into Exiv2's image factory land here (a definition in the program
// wins over the library's), are noted, and go on to the library's own.
namespace Exiv2 {

Image::AutoPtr ImageFactory::open(const byte* data, long size) {
    noteOpening(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    using Open = Image::AutoPtr (*)(const byte*, long);
    static const Open real = realFactory<Open>("_ZN5Exiv212ImageFactory4openEPKhl");
    return real(data, size);
}

Image::AutoPtr ImageFactory::open(const std::string& path, bool useCurl) {
    QFile file(QString::fromStdString(path));
    noteOpening(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    using Open = Image::AutoPtr (*)(const std::string&, bool);
    static const Open real =
        realFactory<Open>("_ZN5Exiv212ImageFactory4openERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEEb");
    return real(path, useCurl);
}

}  // namespace Exiv2

namespace {

// A DNG as the tests' maker writes it, with IPTC keywords and city and an XMP lens.
QString dngWithIptcAndXmp(const QString& path) {
    return testsupport::writeFile(path, testsupport::makeDng(testsupport::patchScene(64, 32), testsupport::taggedDngSample()));
}

QVariant groupValue(const QVariantMap& props, const char* group, const char* key) {
    return props.value(QLatin1String(group)).toMap().value(QLatin1String(key));
}

}  // namespace

TEST(RawMetadata, IsReadInTheHelperAndNeverByTheProgramsExiv2) {
    BRISKO_STARTS_A_PROCESS();
    QTemporaryDir dir;
    const QString tagged = dngWithIptcAndXmp(dir.filePath(QStringLiteral("tagged.dng")));
    const QString kodak = testsupport::sourcePath(
        QStringLiteral("bench/fuzz/corpus/read_only_formats/raw_kdc_thumb_overflow.kdc"));  // from a real Kodak file
    const QString dated = testsupport::sourcePath(QStringLiteral("bench/fuzz/corpus/read_only_formats/turned_with_date.dng"));
    for (const QString& path : {tagged, kodak, dated}) {
        SCOPED_TRACE(path.toStdString());
        {
            const std::lock_guard<std::mutex> hold(exivOpenings().lock);
            exivOpenings().opened.clear();
        }
        const QVariantMap props = platform::readImageProperties(path);
        EXPECT_GT(props.value(platform::kPropsPixelWidth).toInt(), 0);
        QVariantMap withHeader;
        EXPECT_GT(platform::readImageHeaderAndProperties(path, &withHeader).width, 0);
        EXPECT_EQ(withHeader, props);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const std::lock_guard<std::mutex> hold(exivOpenings().lock);
        for (const QByteArray& opened : exivOpenings().opened) EXPECT_NE(opened, bytes) << "the program's Exiv2 read the raw file";
    }
    const QVariantMap props = platform::readImageProperties(tagged);
    EXPECT_EQ(groupValue(props, platform::kPropsTIFF, "Make").toString(), QStringLiteral("Acme"));
    EXPECT_EQ(groupValue(props, platform::kPropsTIFF, "Model").toString(), QStringLiteral("Sensor Three"));
    EXPECT_EQ(groupValue(props, platform::kPropsExif, "DateTimeOriginal").toString(), QStringLiteral("2021:06:01 10:20:30"));
    EXPECT_EQ(groupValue(props, platform::kPropsIPTC, "City").toString(), QStringLiteral("Nairobi"));
    EXPECT_EQ(groupValue(props, platform::kPropsIPTC, "Keywords").toList(), (QVariantList{QStringLiteral("elephants"), QStringLiteral("savanna")}));
    EXPECT_EQ(groupValue(props, platform::kPropsExif, "Lens").toString(), QStringLiteral("Acme 50mm f/1.8"));
    EXPECT_EQ(groupValue(platform::readImageProperties(dated), platform::kPropsExif, "DateTimeOriginal").toString(),
              QStringLiteral("2018:12:31 23:00:01"));
}

// The stand-in itself: a JPEG's properties are read by the program's Exiv2, and it sees them.
TEST(RawMetadata, TheStandInSeesWhatTheProgramsExiv2Opens) {
    QTemporaryDir dir;
    QImage picture(16, 16, QImage::Format_RGB32);
    picture.fill(Qt::red);
    const QString jpeg = dir.filePath(QStringLiteral("photo.jpg"));
    ASSERT_TRUE(platform::writeImageFile(jpeg, picture, platform::ImageType::JPEG, 0.9));
    QFile file(jpeg);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    {
        const std::lock_guard<std::mutex> hold(exivOpenings().lock);
        exivOpenings().opened.clear();
    }
    EXPECT_FALSE(platform::readImageProperties(jpeg).isEmpty());
    const std::lock_guard<std::mutex> hold(exivOpenings().lock);
    EXPECT_TRUE(exivOpenings().opened.contains(bytes));
}
