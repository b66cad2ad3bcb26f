#include <gtest/gtest.h>

#include <QTimeZone>

#include "batch/OutputPlanner.h"
#include "batch/RenameScheme.h"
#include "records/AppDelegate.h"
#include "records/OutputPhotoPath.h"
#include "tests/batch/BatchFixtures.h"
#include "tests/support/PhotoSamples.h"

namespace {

std::shared_ptr<PhotoFile> photo(const QString& path, bool library = false) {
    auto p = std::make_shared<PhotoFile>();
    p->filePath = p->fileURL = path;
    p->fileName = path.section('/', -1);
    p->fileExtension = p->fileName.contains('.') ? p->fileName.section('.', -1) : QString();
    p->isIphotosNode = library;
    p->fileCreationDate = QDateTime(QDate(2023, 3, 4), QTime(14, 5, 9));
    p->fileModifiedDate = QDateTime(QDate(2022, 7, 8), QTime(9, 1, 2));
    return p;
}

QVariantMap on(QVariantMap rule) {
    rule.insert("State", true);
    return rule;
}

struct NameCase {
    const char* label;
    const char* file;
    int outputFormat;
    std::function<void(BatchRenameSetting&)> rules;  // null: renaming off
    int index;
    const char* expected;
};

// Names the case in test listings instead of a byte dump.
void PrintTo(const NameCase& c, std::ostream* os) { *os << c.label; }

class RenameNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(RenameNames, BuildsTheNewName) {
    const NameCase& c = GetParam();
    auto settings = batchtest::renameSettings(c.outputFormat);
    if (c.rules) {
        settings->flagRenamingMode = 1;
        c.rules(*settings);
    }
    RenameScheme scheme(settings, batchtest::outputSettings("/out"), AppDelegate::defaultFileFormats());
    scheme.setCaptureDateReader([](const QString&) { return QDateTime(); });
    scheme.setCurrentDate(QDateTime(QDate(2024, 12, 31), QTime(23, 59, 58)));
    EXPECT_EQ(scheme.getUpdatedRenameStringForPhotoFile(*photo(QString("/in/f/") + c.file), c.index),
              QString(c.expected))
        << c.label;
}

const auto noRule = [](BatchRenameSetting&) {};

INSTANTIATE_TEST_SUITE_P(
    Scheme, RenameNames,
    ::testing::Values(
        NameCase{"off keeps name and case", "IMG_1.JPG", 0, nullptr, 0, "IMG_1.JPG"},
        NameCase{"off tiff becomes tif", "a.TIFF", 0, nullptr, 0, "a.tif"},
        NameCase{"off heic becomes png", "a.heic", 0, nullptr, 0, "a.png"},
        NameCase{"off format jpg", "a.png", 4, nullptr, 0, "a.jpg"},
        NameCase{"off format pdf", "a.png", 8, nullptr, 0, "a.pdf"},
        NameCase{"on no rule upper-cases extension", "IMG_1.jpg", 0, noRule, 0, "IMG_1.JPG"},
        NameCase{"lower-case extension rule", "IMG_1.JPG", 0,
                 [](BatchRenameSetting& s) { s.dictUseLowerCaseForFileExtension = on({}); }, 0, "IMG_1.jpg"},
        NameCase{"empty replacement", "IMG_1.jpg", 0,
                 [](BatchRenameSetting& s) { s.dictReplaceFileName = on({{"New Name", ""}}); }, 0, ".JPG"},
        NameCase{"stamp from creation date, 12-hour clock", "a.jpg", 0,
                 [](BatchRenameSetting& s) { s.dictDateTimeStamp = on({{"As", 1}, {"Type", 0}, {"Format", 1}}); }, 0,
                 "a04032023 02:05.JPG"},
        NameCase{"stamp calendar year on 31 December", "a.jpg", 0,
                 [](BatchRenameSetting& s) { s.dictDateTimeStamp = on({{"As", 0}, {"Type", 2}, {"Format", 3}}); }, 0,
                 "31-12-2024a.JPG"},
        NameCase{"stamp seconds without leading zero", "a.jpg", 0,
                 [](BatchRenameSetting& s) { s.dictDateTimeStamp = on({{"As", 1}, {"Type", 1}, {"Format", 8}}); }, 0,
                 "a07-08-2022 09:01:2.JPG"},
        NameCase{"prefix suffix and insert past the end", "name.jpg", 0,
                 [](BatchRenameSetting& s) {
                     s.dictAddString = on({{"Prefix", "p-"}, {"Suffix", "-s"}, {"Insert", "!"}, {"At Position", 99}});
                 },
                 0, "p-name-s!.JPG"},
        NameCase{"digits third photo", "a.jpg", 0,
                 [](BatchRenameSetting& s) {
                     s.dictAddDigit = on({{"As", 1}, {"Starting Index", 1}, {"Increment", 2}});
                 },
                 2, "a5.JPG"},
        NameCase{"digits inserted", "abc.jpg", 0,
                 [](BatchRenameSetting& s) {
                     s.dictAddDigit = on({{"As", 2}, {"At Position", 1}, {"Starting Index", -4}});
                 },
                 0, "a-4bc.JPG"},
        NameCase{"remove range", "abcdefg.jpg", 0,
                 [](BatchRenameSetting& s) { s.dictRemove = on({{"From", 2}, {"To", 5}}); }, 0, "abfg.JPG"},
        NameCase{"remove reversed range removes nothing", "abcdefg.jpg", 0,
                 [](BatchRenameSetting& s) { s.dictRemove = on({{"From", 5}, {"To", 2}}); }, 0, "abcdefg.JPG"},
        NameCase{"remove first and last beyond length", "abcdefg.jpg", 0,
                 [](BatchRenameSetting& s) { s.dictRemove = on({{"First n", 2}, {"Last n", 99}}); }, 0, ".JPG"},
        NameCase{"remove chars and words", "a copy of the cape copy.jpg", 0,
                 [](BatchRenameSetting& s) { s.dictRemove = on({{"Chars", "ae"}, {"Words", "copy"}}); }, 0,
                 "  of th cp .JPG"},
        NameCase{"title case", "hELLO wORLD\tagain.jpg", 0,
                 [](BatchRenameSetting& s) { s.dictChangeCaseFileName = on({{"Case Mode", 2}}); }, 0,
                 "Hello World\tAgain.JPG"},
        NameCase{"rules in their fixed order", "shot.jpg", 4,
                 [](BatchRenameSetting& s) {
                     s.dictReplaceFileName = on({{"New Name", "trip"}});
                     s.dictAddString = on({{"Prefix", "x"}});
                     s.dictAddDigit = on({{"As", 1}, {"Starting Index", 10}, {"Increment", 1}});
                     s.dictChangeCaseFileName = on({{"Case Mode", 0}});
                     s.dictUseLowerCaseForFileExtension = on({});
                 },
                 1, "XTRIP11.jpg"}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return "case" + std::to_string(info.index); });

// The one conversion from the stored output format numbers to the writer's save types: a
// format number of the list and the photo's own extension under "Keep original format".
TEST(RenameScheme, SaveTypeFollowsTheOutputFormatOrTheOriginalExtension) {
    using platform::ImageType;
    const QStringList formats = AppDelegate::defaultFileFormats();
    struct Case {
        const char* file;
        int format;
        const char* ext;
        ImageType saveType;
    } cases[] = {
        {"a.png", outputformat::Tif, "tif", ImageType::TIFF},   {"a.png", outputformat::Bmp, "bmp", ImageType::BMP},
        {"a.png", outputformat::Gif, "gif", ImageType::GIF},    {"a.png", outputformat::Jpg, "jpg", ImageType::JPEG},
        {"a.png", outputformat::Jpeg, "jpeg", ImageType::JPEG}, {"a.jpg", outputformat::Png, "png", ImageType::PNG},
        {"a.png", outputformat::Jp2, "jp2", ImageType::JPEG2000},
        // PDF pages go their own way by the extension; the save type is not used for them.
        {"a.jpg", outputformat::Pdf, "pdf", ImageType::PNG},
        {"a.TIFF", outputformat::KeepOriginal, "tif", ImageType::TIFF},
        {"a.JPG", outputformat::KeepOriginal, "jpg", ImageType::JPEG},
        {"a.jpeg", outputformat::KeepOriginal, "jpeg", ImageType::JPEG},
        {"a.JP2", outputformat::KeepOriginal, "jp2", ImageType::JPEG2000},
        {"a.gif", outputformat::KeepOriginal, "gif", ImageType::GIF},
        // Formats read but never written are written as PNG.
        {"a.heic", outputformat::KeepOriginal, "heic", ImageType::PNG},
        {"a.NEF", outputformat::KeepOriginal, "nef", ImageType::PNG},
        // A number outside the list (a settings file from elsewhere) writes PNG too.
        {"a.jpg", 9, "", ImageType::PNG},
        {"a.jpg", -1, "", ImageType::PNG},
    };
    for (const Case& c : cases) {
        const auto choice = RenameScheme::saveChoice(*photo(QString("/in/") + c.file), c.format, formats);
        EXPECT_EQ(choice.extension, QString(c.ext)) << c.file << " " << c.format;
        EXPECT_EQ(choice.saveType, c.saveType) << c.file << " " << c.format;
    }
}

TEST(RenameScheme, OutputFoldersAndPlannedPathsKeepTheirCase) {
    auto output = batchtest::outputSettings("/Media/My Photos/Out");
    RenameScheme scheme(batchtest::renameSettings(0), output, AppDelegate::defaultFileFormats());
    scheme.setDesktopFolder("/home/u/Desktop");
    const QList<std::shared_ptr<PhotoFile>> batch{photo("/Src/Trip/IMG_1.JPG"), photo("/Lib/Masters/IMG_2.JPG", true),
                                                  photo("/Src/Trip/IMG_1.JPG")};
    auto planned = OutputPlanner::planOutputPaths(batch, scheme);
    ASSERT_EQ(planned.size(), 3);
    EXPECT_EQ(planned[0]->filePath, "/Media/My Photos/Out/IMG_1.jpg");
    EXPECT_EQ(planned[0]->oldFilePath, "/Src/Trip/IMG_1.JPG");
    EXPECT_EQ(planned[2]->occurenceCount, 2);

    output->useSourceFolder = true;
    planned = OutputPlanner::planOutputPaths(batch, scheme);
    EXPECT_EQ(planned[0]->filePath, "/Src/Trip/IMG_1.jpg");
    EXPECT_EQ(planned[1]->filePath, "/home/u/Desktop/iPhoto_BriskoPhotosOutput/IMG_2.jpg");
}

TEST(RenameScheme, PlansTheApplicationBatchWithItsOwnOrTheDefaultSettings) {
    AppDelegate& app = AppDelegate::shared();
    app.resetToLaunchValues();
    app.arraySelectedImagesToProcess = {photo("/in/a.TIFF")};
    // No settings yet: the resource defaults (names kept) and the default output folder.
    auto planned = OutputPlanner::planForAppDelegate();
    ASSERT_EQ(planned.size(), 1);
    EXPECT_EQ(planned[0]->filePath, OutputOptionSettings::defaultOutputFolderPath() + "/a.tif");

    auto own = batchtest::renameSettings(4);
    app.selectedRenameSettingObj = own;
    app.selectedOuputSettingObj = batchtest::outputSettings("/Out");
    EXPECT_EQ(OutputPlanner::renameSettingsInUse(), own);
    EXPECT_EQ(OutputPlanner::planForAppDelegate()[0]->filePath, "/Out/a.jpg");
    app.resetToLaunchValues();
}

TEST(RenameScheme, CaptureDateWinsOverCreationDate) {
    auto settings = batchtest::renameSettings(0);
    settings->flagRenamingMode = 1;
    settings->dictDateTimeStamp = on({{"As", 0}, {"Type", 0}, {"Format", 0}});
    RenameScheme scheme(settings, batchtest::outputSettings("/out"), AppDelegate::defaultFileFormats());
    scheme.setCaptureDateReader([](const QString&) { return QDateTime(QDate(2019, 1, 2), QTime(3, 4)); });
    EXPECT_EQ(scheme.getUpdatedRenameStringForPhotoFile(*photo("/in/a.jpg"), 0), "02012019a.JPG");
}

// The capture date of phone, web and camera raw photos names them as a JPEG's does, and
// with the original format kept they are named for the PNG they are written as.
TEST(RenameScheme, CaptureDatesOfPhoneWebAndRawPhotos) {
    QTemporaryDir dir;
    const QImage scene = testsupport::patchScene(64, 32);
    testsupport::HeifSample heif;
    heif.exif = testsupport::exifBlock({{QStringLiteral("Exif.Photo.DateTimeOriginal"), QStringLiteral("2021:07:04 10:20:30")}});
    testsupport::WebpSample webp;
    webp.exif = heif.exif;
    testsupport::DngSample dng;
    dng.dateTimeOriginal = QStringLiteral("2021:07:04 10:20:30");
    auto settings = batchtest::renameSettings(0);
    settings->flagRenamingMode = 1;
    settings->dictDateTimeStamp = on({{"As", 0}, {"Type", 0}, {"Format", 0}});
    RenameScheme scheme(settings, batchtest::outputSettings("/out"), AppDelegate::defaultFileFormats());
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"IMG_1.HEIC", testsupport::makeHeif(scene, heif)},
        {"web.webp", testsupport::makeWebp(scene, webp)},
        {"DSC_2.DNG", testsupport::makeDng(scene, dng)},
    };
    for (const auto& c : cases) {
        const QString path = testsupport::writeFile(dir.filePath(QLatin1String(c.name)), c.bytes);
        const QString base = QString::fromLatin1(c.name).section('.', 0, 0);
        EXPECT_EQ(scheme.getUpdatedRenameStringForPhotoFile(*photo(path), 0), "04072021" + base + ".PNG") << c.name;
    }
}

}  // namespace
