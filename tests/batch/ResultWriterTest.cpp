#include <gtest/gtest.h>

#include <QColor>
#include <QColorSpace>
#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <chrono>
#include <functional>
#include <thread>
#include <unistd.h>

#include "batch/ResultWriter.h"
#include "batch/RunMessages.h"
#include "platform/foundation/FileAttributes.h"
#include "platform/foundation/FileSync.h"
#include "platform/imageio/ImageProperties.h"
#include "platform/pdf/PdfDocument.h"
#include "tests/batch/BatchFixtures.h"
#include "tests/support/ScratchVolume.h"

namespace {

using batchtest::outputSettings;
using batchtest::renameSettings;
using SaveType = platform::ImageType;

struct Fixture {
    QTemporaryDir dir;
    QString source;
    std::shared_ptr<PhotoFile> photo;
    QString out;
    Fixture() {
        source = batchtest::writePhoto(dir.filePath("src/photo.jpg"), 160, 120);
        photo = batchtest::photoAt(source);
        out = dir.filePath("out");
    }
    QStringList outputFolderEntries() const {
        return QDir(out).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }
};

ResultWriterSettings settingsWith(std::shared_ptr<BatchRenameSetting> rename,
                                  std::shared_ptr<OutputOptionSettings> output) {
    ResultWriterSettings s;
    s.renameSetting = rename;
    s.outputSetting = output;
    s.metaDataSetting = std::make_shared<MetaDataObject>();
    s.metaDataSettingOnlyUpdatedFields = std::make_shared<MetaDataObject>();
    return s;
}

platform::ImageFormat formatOf(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return platform::ImageFormat::Unknown;
    const QByteArray head = f.read(64);
    return platform::sniffImageFormat(head.constData(), size_t(head.size()));
}

TEST(ResultWriter, WritesEveryTypeByItsSaveTypeAndPdfByExtension) {
    struct Case {
        int outputFormat;
        const char* ext;
        platform::ImageType saveType;
        platform::ImageFormat expected;
        bool compression;
    } cases[] = {
        {1, "tif", SaveType::TIFF, platform::ImageFormat::TIFF, false},
        {2, "bmp", SaveType::BMP, platform::ImageFormat::BMP, false},
        {3, "gif", SaveType::GIF, platform::ImageFormat::GIF, false},
        {4, "jpg", SaveType::JPEG, platform::ImageFormat::JPEG, false},
        {5, "jpeg", SaveType::JPEG, platform::ImageFormat::JPEG, false},
        {6, "png", SaveType::PNG, platform::ImageFormat::PNG, false},
        {7, "jp2", SaveType::JPEG2000, platform::ImageFormat::JP2, false},
        {6, "png", SaveType::PNG, platform::ImageFormat::PNG, true},
        // The optimiser only makes PNG: a TIFF with compression on is still TIFF data.
        {1, "tif", SaveType::TIFF, platform::ImageFormat::TIFF, true},
    };
    Fixture f;
    const QImage image = testsupport::gradientImage(90, 70);
    int n = 0;
    for (const Case& c : cases) {
        auto rename = renameSettings(c.outputFormat);
        rename->isSetCompression = c.compression;
        ResultWriter writer(settingsWith(rename, outputSettings(f.out)));
        const QString dest = f.out + QString("/r%1.").arg(n++) + c.ext;
        const auto r = writer.saveImgInDirectoryFilteredImg(image, dest, c.saveType, f.photo);
        EXPECT_EQ(r.processStatus, PhotoFile::Processed) << dest.toStdString();
        EXPECT_EQ(r.processInfoMessage, runmessages::Processed);
        EXPECT_EQ(formatOf(dest), c.expected) << dest.toStdString();
        EXPECT_EQ(platform::readImage(dest).size(), image.size()) << dest.toStdString();
    }
    // PDF: the extension decides, whatever the save type.
    auto rename = renameSettings(8);
    ResultWriter pdfWriter(settingsWith(rename, outputSettings(f.out, false, true)));
    const QString pdf = f.out + "/doc.pdf";
    EXPECT_EQ(pdfWriter.saveImgInDirectoryFilteredImg(image, pdf, SaveType::PNG, f.photo).processStatus, PhotoFile::Processed);
    EXPECT_EQ(platform::pdfPageCount(pdf), 1);
    // Over an existing document with overwriting on: one page more.
    EXPECT_EQ(pdfWriter.saveImgInDirectoryFilteredImg(image, pdf, SaveType::PNG, f.photo).processStatus, PhotoFile::Processed);
    EXPECT_EQ(platform::pdfPageCount(pdf), 2);
    // No temporary files are left beside the outputs.
    for (const QString& name : f.outputFolderEntries()) EXPECT_FALSE(name.startsWith('.')) << name.toStdString();
}

// The two ways of writing can be used on their own: each leaves a file that reads back and
// goes into place, whatever route chose it, and leaves nothing when it has nothing to write.
TEST(ResultWriter, ImageFileAndPdfPageAreWrittenByTheirOwnOperations) {
    Fixture f;
    ResultWriter writer(settingsWith(renameSettings(6), outputSettings(f.out, false, true)));
    const QImage image = testsupport::gradientImage(48, 36);

    ResultWriter::Prepared png =
        writer.saveImageUsingDefaultMethodInDirectoryFilteredImg(image.copy(), f.out + "/direct.png", SaveType::PNG, f.photo);
    ASSERT_TRUE(png.ready());
    EXPECT_EQ(writer.placePrepared(png, f.out + "/direct.png", f.photo).processStatus, PhotoFile::Processed);
    EXPECT_EQ(formatOf(f.out + "/direct.png"), platform::ImageFormat::PNG);

    for (int pages = 1; pages <= 2; ++pages) {
        ResultWriter::Prepared page = writer.saveImageUsingImageMagick(image.copy(), f.out + "/pages.pdf", f.photo);
        ASSERT_TRUE(page.ready());
        EXPECT_EQ(writer.placePrepared(page, f.out + "/pages.pdf", f.photo).processStatus, PhotoFile::Processed);
        EXPECT_EQ(platform::pdfPageCount(f.out + "/pages.pdf"), pages);
    }

    ResultWriter::Prepared none = writer.saveImageUsingDefaultMethodInDirectoryFilteredImg(image.copy(), "", SaveType::PNG, f.photo);
    EXPECT_FALSE(none.ready());
    EXPECT_EQ(none.result.processStatus, PhotoFile::Failed);
    EXPECT_EQ(f.outputFolderEntries(), (QStringList{"direct.png", "pages.pdf"}));
}

// A wide-gamut photo keeps its colour profile in every output format that holds one,
// even when the picture handed to the writer was drawn anew by an effect.
TEST(ResultWriter, OutputsKeepTheSourceColourProfile) {
    Fixture f;
    QImage source = platform::readImage(f.source);
    source.setColorSpace(QColorSpace(QColorSpace::DisplayP3));
    ASSERT_TRUE(platform::writeImageFile(f.source, source, platform::ImageType::JPEG, 0.9));
    const QImage drawn = testsupport::gradientImage(90, 70);
    ASSERT_FALSE(drawn.colorSpace().isValid());
    struct Case {
        int outputFormat;
        const char* ext;
        platform::ImageType saveType;
        bool compression;
    } cases[] = {{4, "jpg", SaveType::JPEG, false}, {6, "png", SaveType::PNG, false}, {6, "png", SaveType::PNG, true},
                 {1, "tif", SaveType::TIFF, false}, {7, "jp2", SaveType::JPEG2000, false}};
    int n = 0;
    for (const Case& c : cases) {
        auto rename = renameSettings(c.outputFormat);
        rename->isSetCompression = c.compression;
        ResultWriter writer(settingsWith(rename, outputSettings(f.out)));
        const QString dest = f.out + QString("/c%1.").arg(n++) + c.ext;
        ASSERT_EQ(writer.saveImgInDirectoryFilteredImg(drawn, dest, c.saveType, f.photo).processStatus,
                  PhotoFile::Processed);
        EXPECT_EQ(platform::readImage(dest).colorSpace(), QColorSpace(QColorSpace::DisplayP3)) << dest.toStdString();
    }
}

TEST(ResultWriter, DatesComeFromTheSourceOrTheMetadataRecord) {
    Fixture f;
    const QDateTime old(QDate(2015, 5, 6), QTime(7, 8, 9));
    ASSERT_TRUE(platform::setModificationDate(f.source, old));

    auto output = outputSettings(f.out);
    output->setOutputDateTimeAsOriginal = true;
    ResultWriter keep(settingsWith(renameSettings(4), output));
    ASSERT_EQ(keep.saveImgInDirectoryFilteredImg(testsupport::gradientImage(50, 40), f.out + "/a.jpg", SaveType::JPEG, f.photo)
                  .processStatus,
              PhotoFile::Processed);
    EXPECT_EQ(platform::fileAttributes(f.out + "/a.jpg").modificationDate.toSecsSinceEpoch(), old.toSecsSinceEpoch());

    auto settings = settingsWith(renameSettings(4), outputSettings(f.out));
    auto record = std::make_shared<MetaDataObject>();
    record->Date_Modify = "2021:06:05 15:30:00";
    settings.metaDataSetting = record;
    ResultWriter fromRecord(settings);
    ASSERT_EQ(fromRecord.saveImgInDirectoryFilteredImg(testsupport::gradientImage(50, 40), f.out + "/b.jpg", SaveType::JPEG, f.photo)
                  .processStatus,
              PhotoFile::Processed);
    const QDateTime written = platform::fileAttributes(f.out + "/b.jpg").modificationDate.toLocalTime();
    EXPECT_EQ(written.date(), QDate(2021, 6, 5));
    EXPECT_EQ(written.time().hour(), 15);
}

TEST(ResultWriter, UprightOutputOfARotatedSourceSaysOrientationOne) {
    Fixture f;
    const QString rotated = batchtest::writePhoto(f.dir.filePath("src/turned.jpg"), 120, 80,
                                                  platform::ImageType::JPEG, 6);
    auto photo = batchtest::photoAt(rotated);
    ResultWriter writer(settingsWith(renameSettings(4), outputSettings(f.out)));
    const QImage upright = testsupport::gradientImage(80, 120);
    ASSERT_EQ(writer.saveImgInDirectoryFilteredImg(upright, f.out + "/t.jpg", SaveType::JPEG, photo).processStatus,
              PhotoFile::Processed);
    const QVariantMap props = platform::readImageProperties(f.out + "/t.jpg");
    EXPECT_EQ(props.value("Orientation").toInt(), 1);
    EXPECT_EQ(props.value("{TIFF}").toMap().value("Orientation", 1).toInt(), 1);
    EXPECT_EQ(platform::readImage(f.out + "/t.jpg").size(), upright.size());
}

TEST(ResultWriter, TurnedOutputsAreStoredForTheirTag) {
    struct Case {
        const char* label;
        bool autoCorrect;
        const char* recordOrientation;
        int expectedTag;
    } cases[] = {{"correction off keeps the source's tag", false, "", 6},
                 {"the record's orientation", true, "8", 8}};
    for (const Case& c : cases) {
        Fixture f;
        const QString rotated = batchtest::writePhoto(f.dir.filePath("src/turned.jpg"), 120, 80,
                                                      platform::ImageType::JPEG, 6);
        auto settings = settingsWith(renameSettings(4), outputSettings(f.out));
        settings.autoCorrectOrientation = c.autoCorrect;
        auto record = std::make_shared<MetaDataObject>();
        record->CamSetting_Orientation = c.recordOrientation;
        settings.metaDataSetting = record;
        ResultWriter writer(settings);
        const QImage upright = testsupport::quadrantImage(80, 120);
        const QString out = f.out + "/t.jpg";
        const auto r = writer.saveImgInDirectoryFilteredImg(upright, out, SaveType::JPEG, batchtest::photoAt(rotated));
        ASSERT_EQ(r.processStatus, PhotoFile::Processed) << c.label << ": " << r.processInfoMessage.toStdString();
        EXPECT_EQ(platform::readImageProperties(out).value("Orientation").toInt(), c.expectedTag) << c.label;
        // A viewer honouring the tag shows the picture upright again.
        const QImage shown = platform::orientImage(platform::readImage(out), c.expectedTag);
        ASSERT_EQ(shown.size(), upright.size()) << c.label;
        EXPECT_GT(QColor(shown.pixel(5, 5)).red(), 200) << c.label;     // top-left quadrant red
        EXPECT_GT(QColor(shown.pixel(75, 115)).blue(), 200) << c.label;  // bottom-right white
    }
}

TEST(ResultWriter, MoveModeTrashesOnlyAfterACompleteOutput) {
    batchtest::TrashInTemp trash;
    const QImage image = testsupport::gradientImage(60, 40);

    {  // Normal move: output in place, source in the Trash.
        Fixture f;
        ResultWriter writer(settingsWith(renameSettings(6), outputSettings(f.out, true)));
        const auto r = writer.saveImgInDirectoryFilteredImg(image, f.out + "/m.png", SaveType::PNG, f.photo);
        EXPECT_EQ(r.processStatus, PhotoFile::Processed);
        EXPECT_TRUE(QFileInfo::exists(f.out + "/m.png"));
        EXPECT_FALSE(QFileInfo::exists(f.source));
        EXPECT_TRUE(QFileInfo::exists(trash.filesFolder() + "/photo.jpg"));
    }
    // The file changes under the writer after it read back: nothing placed, source kept, no
    // temporary left; cut short, or as long as it was with other bytes at its start.
    const std::pair<const char*, std::function<void(const QString&)>> changes[] = {
        {"cut short", [](const QString& temp) { QFile(temp).resize(QFileInfo(temp).size() / 3); }},
        {"its header", [](const QString& temp) {
             QByteArray bytes = testsupport::readFile(temp);
             bytes[1] = char(~bytes[1]);
             testsupport::writeFile(temp, bytes);
         }},
        {"its picture data", [](const QString& temp) {
             QByteArray bytes = testsupport::readFile(temp);
             bytes[bytes.size() - 10] = char(~bytes[bytes.size() - 10]);
             testsupport::writeFile(temp, bytes);
         }},
    };
    for (const auto& [how, change] : changes) {
        SCOPED_TRACE(how);
        Fixture f;
        ResultWriter writer(settingsWith(renameSettings(4), outputSettings(f.out, true)));
        writer.beforePlacing = [&change](const QString& temp, const QString&) { change(temp); };
        const auto r = writer.saveImgInDirectoryFilteredImg(image, f.out + "/m.jpg", SaveType::JPEG, f.photo);
        EXPECT_EQ(r.processStatus, PhotoFile::Failed);
        EXPECT_EQ(r.processInfoMessage, runmessages::WriteFailed);
        EXPECT_FALSE(QFileInfo::exists(f.out + "/m.jpg"));
        EXPECT_TRUE(QFileInfo::exists(f.source));
        EXPECT_TRUE(f.outputFolderEntries().isEmpty()) << f.outputFolderEntries().join(",").toStdString();
    }
    {  // The Trash's information folder cannot be written: reported at once, the source is
       // neither deleted nor moved anywhere else, the output stays.
        Fixture f;
        QDir().mkpath(trash.filesFolder());
        QDir().mkpath(trash.infoFolder());
        const int trashedBefore = int(QDir(trash.filesFolder()).entryList(QDir::Files).size());
        testsupport::ReadOnlyFolder readOnly(trash.infoFolder());
        if (!readOnly.ok()) GTEST_SKIP() << readOnly.why().toStdString();
        ResultWriter writer(settingsWith(renameSettings(4), outputSettings(f.out, true)));
        const auto r = writer.saveImgInDirectoryFilteredImg(image, f.out + "/m.jpg", SaveType::JPEG, f.photo);
        EXPECT_EQ(r.processStatus, PhotoFile::Failed);
        EXPECT_TRUE(r.processInfoMessage.startsWith(runmessages::TrashFailed)) << r.processInfoMessage.toStdString();
        EXPECT_TRUE(r.processInfoMessage.contains("information file")) << r.processInfoMessage.toStdString();
        EXPECT_TRUE(QFileInfo::exists(f.source));
        EXPECT_TRUE(QFileInfo::exists(f.out + "/m.jpg"));
        EXPECT_EQ(QDir(trash.filesFolder()).entryList(QDir::Files).size(), trashedBefore);
    }
    {  // The output and its folder reach the disk before the source goes; a failed flush keeps it.
        Fixture f;
        QStringList order;
        ResultWriter writer(settingsWith(renameSettings(4), outputSettings(f.out, true)));
        writer.syncToDisk = [&](const QString& p) {
            order << "sync " + QFileInfo(p).fileName();
            return platform::syncFileAndFolder(p);
        };
        writer.moveToTrash = [&](const QString& p, const std::optional<platform::FileIdentity>& expected) {
            order << "trash " + QFileInfo(p).fileName();
            return platform::trash::moveToTrash(p, expected);
        };
        EXPECT_EQ(writer.saveImgInDirectoryFilteredImg(image, f.out + "/s.jpg", SaveType::JPEG, f.photo).processStatus,
                  PhotoFile::Processed);
        EXPECT_EQ(order, (QStringList{"sync s.jpg", "trash photo.jpg"}));
        order.clear();
        batchtest::writePhoto(f.source, 160, 120);
        writer.syncToDisk = [](const QString&) { return false; };
        const auto r = writer.saveImgInDirectoryFilteredImg(image, f.out + "/t.jpg", SaveType::JPEG, f.photo);
        EXPECT_EQ(r.processStatus, PhotoFile::Failed);
        EXPECT_EQ(r.processInfoMessage, runmessages::TrashFailed);
        EXPECT_TRUE(order.isEmpty());
        EXPECT_TRUE(QFileInfo::exists(f.source));
        EXPECT_FALSE(platform::syncFileAndFolder(f.out + "/missing.jpg"));
    }
}

TEST(ResultWriter, AnOutputThatReplacesItsOwnSourceSendsTheOriginalToTheTrashFirst) {
    batchtest::TrashInTemp trash;
    const QImage image = testsupport::gradientImage(60, 40);
    for (const bool move : {false, true}) {
        SCOPED_TRACE(move ? "move" : "copy");
        Fixture f;
        const QByteArray original = testsupport::readFile(f.source);
        ResultWriter writer(settingsWith(renameSettings(0), outputSettings(f.out, move, true)));
        const auto r = writer.saveImgInDirectoryFilteredImg(image, f.source, SaveType::JPEG, f.photo);
        EXPECT_EQ(r.processStatus, PhotoFile::Processed) << r.processInfoMessage.toStdString();
        EXPECT_EQ(platform::readImage(f.source).size(), image.size());
        const QStringList trashed = QDir(trash.filesFolder()).entryList(QDir::Files);
        ASSERT_EQ(trashed.size(), 1);
        EXPECT_EQ(testsupport::readFile(trash.filesFolder() + "/" + trashed.first()), original);
        const QByteArray info = testsupport::readFile(trash.infoFolder() + "/" + trashed.first() + ".trashinfo");
        EXPECT_TRUE(info.contains("Path=" + QUrl::toPercentEncoding(f.source, "/"))) << info.toStdString();
        QDir(trash.filesFolder()).removeRecursively();
        QDir(trash.infoFolder()).removeRecursively();
    }
    {  // The Trash cannot take the original: it is not replaced, and nothing is left behind.
        Fixture f;
        const QByteArray original = testsupport::readFile(f.source);
        QDir().mkpath(trash.filesFolder());
        QDir().mkpath(trash.infoFolder());
        testsupport::ReadOnlyFolder readOnly(trash.filesFolder());
        if (!readOnly.ok()) GTEST_SKIP() << readOnly.why().toStdString();
        ResultWriter writer(settingsWith(renameSettings(0), outputSettings(f.out, false, true)));
        const auto r = writer.saveImgInDirectoryFilteredImg(image, f.source, SaveType::JPEG, f.photo);
        EXPECT_EQ(r.processStatus, PhotoFile::Failed);
        EXPECT_TRUE(r.processInfoMessage.startsWith(runmessages::OriginalNotTrashed)) << r.processInfoMessage.toStdString();
        EXPECT_EQ(testsupport::readFile(f.source), original);
        EXPECT_EQ(QDir(QFileInfo(f.source).path()).entryList(QDir::Files | QDir::Hidden), QStringList{"photo.jpg"});
        EXPECT_TRUE(QDir(trash.infoFolder()).isEmpty());
    }
}

TEST(ResultWriter, WithOverwriteOnAFileAtTheDestinationGoesToTheTrashFirst) {
    batchtest::TrashInTemp trash;
    const QImage image = testsupport::gradientImage(60, 40);
    const QByteArray kept = "the user's own file, kept under this name";
    struct Case {
        const char* name;
        bool move, restoreRun, trashReadOnly;
    };
    for (const Case c : {Case{"copy", false, false, false}, Case{"move", true, false, false},
                         Case{"restore run", false, true, false}, Case{"Trash refuses it", false, false, true}}) {
        SCOPED_TRACE(c.name);
        Fixture f;
        const QString dest = f.out + "/taken.jpg";
        testsupport::writeFile(dest, kept);
        QDir().mkpath(trash.filesFolder());
        QDir().mkpath(trash.infoFolder());
        std::optional<testsupport::ReadOnlyFolder> readOnly;
        if (c.trashReadOnly) {
            readOnly.emplace(trash.filesFolder());
            if (!readOnly->ok()) GTEST_SKIP() << readOnly->why().toStdString();
        }
        ResultWriterSettings settings = settingsWith(renameSettings(4), outputSettings(f.out, c.move, true));
        settings.isProcessForRestoreExif = c.restoreRun;
        ResultWriter writer(settings);
        const auto r = writer.saveImgInDirectoryFilteredImg(image, dest, SaveType::JPEG, f.photo);
        const QStringList trashed = QDir(trash.filesFolder()).entryList(QDir::Files);
        if (c.trashReadOnly) {
            // Not replaced, and nothing left behind.
            EXPECT_EQ(r.processStatus, PhotoFile::Failed);
            EXPECT_TRUE(r.processInfoMessage.startsWith(runmessages::ExistingNotTrashed)) << r.processInfoMessage.toStdString();
            EXPECT_EQ(testsupport::readFile(dest), kept);
            EXPECT_EQ(f.outputFolderEntries(), QStringList{"taken.jpg"});
            EXPECT_TRUE(QDir(trash.infoFolder()).isEmpty());
            continue;
        }
        EXPECT_EQ(r.processStatus, PhotoFile::Processed) << r.processInfoMessage.toStdString();
        EXPECT_EQ(platform::readImage(dest).size(), image.size());
        EXPECT_EQ(f.outputFolderEntries(), QStringList{"taken.jpg"});
        // A restore run too: the file is none that an earlier run placed.
        QStringList expected;
        if (c.move) expected << "photo.jpg";
        expected << "taken.jpg";
        EXPECT_EQ(trashed, expected);
        EXPECT_EQ(testsupport::readFile(trash.filesFolder() + "/taken.jpg"), kept);
        const QByteArray info = testsupport::readFile(trash.infoFolder() + "/taken.jpg.trashinfo");
        EXPECT_TRUE(info.contains("Path=" + QUrl::toPercentEncoding(dest, "/"))) << info.toStdString();
        EXPECT_EQ(QFileInfo::exists(f.source), !c.move);
        readOnly.reset();
        QDir(trash.filesFolder()).removeRecursively();
        QDir(trash.infoFolder()).removeRecursively();
    }
}

// A restore run replaces in place only the very file an earlier run of the batch placed;
// whatever else is at a destination is the user's: through the Trash with overwriting on,
// kept with it off.
TEST(ResultWriter, ARestoreRunReplacesInPlaceOnlyTheFileAnEarlierRunPlaced) {
    batchtest::TrashInTemp trash;
    const QImage image = testsupport::gradientImage(60, 40);
    const QByteArray users = "the user's own file";
    enum class There { EarlierOutput, EarlierOutputEdited, UsersFileWhereNothingWasWritten, UsersFileSwappedIn };
    struct Case {
        const char* name;
        There there;
        bool overwrite;
    };
    for (const Case c : {Case{"the earlier output", There::EarlierOutput, true},
                         Case{"the earlier output, overwriting off", There::EarlierOutput, false},
                         Case{"the earlier output, edited since", There::EarlierOutputEdited, true},
                         Case{"the earlier output, edited since, overwriting off", There::EarlierOutputEdited, false},
                         Case{"a file where the run wrote nothing", There::UsersFileWhereNothingWasWritten, true},
                         Case{"a file where the run wrote nothing, overwriting off",
                              There::UsersFileWhereNothingWasWritten, false},
                         Case{"a file swapped in as the output is placed", There::UsersFileSwappedIn, true},
                         Case{"a file swapped in as the output is placed, overwriting off", There::UsersFileSwappedIn,
                              false}}) {
        SCOPED_TRACE(c.name);
        Fixture f;
        const QString dest = f.out + "/photo.jpg";
        const auto placed = std::make_shared<PlacedOutputs>();
        ResultWriterSettings first = settingsWith(renameSettings(4), outputSettings(f.out, false, c.overwrite));
        first.placedOutputs = placed;
        if (c.there == There::UsersFileWhereNothingWasWritten) {
            testsupport::writeFile(dest, users);
        } else {
            ResultWriter earlier(first);
            ASSERT_EQ(earlier.saveImgInDirectoryFilteredImg(image, dest, SaveType::JPEG, f.photo).processStatus,
                      PhotoFile::Processed);
            if (c.there == There::EarlierOutputEdited) testsupport::writeFile(dest, users);
        }

        ResultWriterSettings settings = first;
        settings.isProcessForRestoreExif = true;
        ResultWriter restore(settings);
        if (c.there == There::UsersFileSwappedIn) {
            restore.beforePlacing = [&](const QString&, const QString&) {
                QFile::remove(dest);
                testsupport::writeFile(dest, users);
            };
        }
        const auto r = restore.saveImgInDirectoryFilteredImg(image, dest, SaveType::JPEG, f.photo);
        const QStringList trashed = QDir(trash.filesFolder()).entryList(QDir::Files);
        EXPECT_EQ(f.outputFolderEntries(), QStringList{"photo.jpg"});
        if (c.there == There::EarlierOutput) {
            EXPECT_EQ(r.processStatus, PhotoFile::Processed) << r.processInfoMessage.toStdString();
            EXPECT_EQ(trashed, QStringList());
            EXPECT_EQ(platform::readImage(dest).size(), image.size());
        } else if (c.overwrite) {
            EXPECT_EQ(r.processStatus, PhotoFile::Processed) << r.processInfoMessage.toStdString();
            EXPECT_EQ(platform::readImage(dest).size(), image.size());
            EXPECT_EQ(trashed, QStringList{"photo.jpg"});
            EXPECT_EQ(testsupport::readFile(trash.filesFolder() + "/photo.jpg"), users);
            const QByteArray info = testsupport::readFile(trash.infoFolder() + "/photo.jpg.trashinfo");
            EXPECT_TRUE(info.contains("Path=" + QUrl::toPercentEncoding(dest, "/"))) << info.toStdString();
        } else {
            EXPECT_EQ(r.processStatus, PhotoFile::Skipped);
            EXPECT_EQ(r.processInfoMessage, runmessages::AlreadyExists);
            EXPECT_EQ(testsupport::readFile(dest), users);
            EXPECT_EQ(trashed, QStringList());
        }
        QDir(trash.filesFolder()).removeRecursively();
        QDir(trash.infoFolder()).removeRecursively();
    }
}

TEST(ResultWriter, AFileThatAppearsWhileWritingIsKeptWithOverwriteOff) {
    Fixture f;
    const QString dest = f.out + "/late.jpg";
    ResultWriter writer(settingsWith(renameSettings(4), outputSettings(f.out, true, false)));
    writer.beforePlacing = [&](const QString&, const QString&) { testsupport::writeFile(dest, "someone else's file"); };
    const auto r = writer.saveImgInDirectoryFilteredImg(testsupport::gradientImage(40, 30), dest, SaveType::JPEG, f.photo);
    EXPECT_EQ(r.processStatus, PhotoFile::Skipped);
    EXPECT_EQ(r.processInfoMessage, runmessages::AlreadyExists);
    QFile kept(dest);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("someone else's file"));
    EXPECT_TRUE(QFileInfo::exists(f.source));  // move mode, but nothing was written
    EXPECT_EQ(f.outputFolderEntries(), QStringList{"late.jpg"});
}

// The optimiser's files lie beside the output, named as its temporary file is, so that the
// next start clears what a killed run left of them; none goes to the system's temporary
// folder, which nothing clears.
TEST(ResultWriter, TheOptimisersFilesLieBesideTheOutputWhereAKilledRunsAreCleared) {
    Fixture f;
    auto rename = renameSettings(6);
    rename->isSetCompression = true;
    ResultWriter writer(settingsWith(rename, outputSettings(f.out)));
    QStringList made;
    writer.beforeOptimising = [&](const QString& png, const QString& optimised) { made << png << optimised; };
    const auto r = writer.saveImgInDirectoryFilteredImg(testsupport::gradientImage(300, 200), f.out + "/c.png", SaveType::PNG,
                                                        f.photo);
    EXPECT_EQ(r.processStatus, PhotoFile::Processed) << r.processInfoMessage.toStdString();
    ASSERT_EQ(made.size(), 2);
    for (const QString& path : made) {
        EXPECT_EQ(QFileInfo(path).absolutePath(), QFileInfo(f.out).absoluteFilePath()) << path.toStdString();
        EXPECT_TRUE(QFileInfo(path).fileName().startsWith(QStringLiteral(".brisko-part-%1-").arg(::getpid()))) << path.toStdString();
    }
    EXPECT_EQ(f.outputFolderEntries(), QStringList{"c.png"});
}

TEST(ResultWriter, StopDuringCompressionLeavesNoOutputAndKeepsTheSource) {
    batchtest::TrashInTemp trash;
    Fixture f;
    auto rename = renameSettings(6);
    rename->isSetCompression = true;
    ResultWriter writer(settingsWith(rename, outputSettings(f.out, true)));
    bool stopHandled = false;
    writer.stopProcessAfterCompletionCompression = [&] { stopHandled = true; };
    std::atomic<bool> asked{false};
    std::atomic<bool> finished{false};
    std::thread stopper([&] {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!asked && !finished && std::chrono::steady_clock::now() < giveUp) {
            if (writer.isCompressionInProgress()) asked = writer.requestStopWhileCompression();
            else std::this_thread::yield();
        }
    });
    const auto r = writer.saveImgInDirectoryFilteredImg(testsupport::gradientImage(1200, 900), f.out + "/c.png", SaveType::PNG,
                                                        f.photo);
    finished = true;
    stopper.join();
    ASSERT_TRUE(asked) << "the optimiser ended before the stop could be asked for";
    EXPECT_TRUE(r.abandoned);
    EXPECT_TRUE(stopHandled);
    EXPECT_FALSE(writer.isCompressionInProgress());
    EXPECT_FALSE(QFileInfo::exists(f.out + "/c.png"));
    EXPECT_TRUE(QFileInfo::exists(f.source));
    EXPECT_TRUE(f.outputFolderEntries().isEmpty());
}

// An output given up (dropped, refused, or failing when placed) takes with it the folders
// the writer made for it, once they are empty; a folder the user had stays, empty or not.
TEST(ResultWriter, GivenUpOutputsLeaveNoFolderTheWriterMadeAndKeepTheUsersFolders) {
    const QImage image = testsupport::gradientImage(40, 30);
    enum class GivenUp { Dropped, FailsWhenPlaced };
    for (bool existedBefore : {false, true}) {
        for (GivenUp how : {GivenUp::Dropped, GivenUp::FailsWhenPlaced}) {
            SCOPED_TRACE(std::string(existedBefore ? "the user's folder, " : "a folder the writer made, ") +
                         (how == GivenUp::Dropped ? "dropped" : "fails when placed"));
            Fixture f;
            const QString folder = f.out + "/new/deeper";
            if (existedBefore) { ASSERT_TRUE(QDir().mkpath(folder)); }
            ResultWriter writer(settingsWith(renameSettings(6), outputSettings(f.out)));
            writer.beforePlacing = [](const QString& temp, const QString&) { QFile(temp).resize(10); };
            ResultWriter::Prepared prepared = writer.prepareImg(image.copy(), folder + "/x.png", SaveType::PNG, f.photo);
            ASSERT_TRUE(prepared.ready());
            if (how == GivenUp::Dropped) {
                prepared = ResultWriter::Prepared();
            } else {
                EXPECT_EQ(writer.placePrepared(prepared, folder + "/x.png", f.photo).processStatus, PhotoFile::Failed);
            }
            EXPECT_EQ(QFileInfo(folder).isDir(), existedBefore);
            EXPECT_EQ(QFileInfo(f.out).isDir(), existedBefore);  // made on the way too
            EXPECT_TRUE(QDir(f.dir.path()).exists());
            if (existedBefore) { EXPECT_TRUE(QDir(folder).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)); }
        }
    }

    // A file that fails while it is made says so, not that its folder was removed meanwhile:
    // the folder the writer made for it went with it, after the reason was asked.
    for (bool existedBefore : {false, true}) {
        SCOPED_TRACE(existedBefore ? "the user's folder" : "a folder the writer made");
        Fixture f;
        const QString folder = f.out + "/new";
        if (existedBefore) { ASSERT_TRUE(QDir().mkpath(folder)); }
        ResultWriter writer(settingsWith(renameSettings(4), outputSettings(f.out)));
        const ResultWriter::EncodedRoute route =
            writer.encodedRoute(SaveType::JPEG, folder + "/x.jpg", *f.photo, platform::readImageHeader(f.source));
        ResultWriter::Prepared prepared =
            writer.prepareEncoded(route, QSize(160, 120), folder + "/x.jpg", f.photo, std::nullopt,
                                  [](const platform::FileBytesSink& out) { return out("\xFF\xD8\xFF", 3) && false; });
        EXPECT_FALSE(prepared.ready());
        EXPECT_EQ(prepared.result.processStatus, PhotoFile::Failed);
        EXPECT_EQ(prepared.result.processInfoMessage, runmessages::WriteFailed);
        EXPECT_EQ(QFileInfo(folder).isDir(), existedBefore);
    }

    // Two outputs in one new folder: it stays while either is there or placed, and goes
    // with the last of them.
    Fixture f;
    ResultWriter writer(settingsWith(renameSettings(6), outputSettings(f.out)));
    ResultWriter::Prepared a = writer.prepareImg(image.copy(), f.out + "/a.png", SaveType::PNG, f.photo);
    ResultWriter::Prepared b = writer.prepareImg(image.copy(), f.out + "/b.png", SaveType::PNG, f.photo);
    a.discard();
    ASSERT_TRUE(QFileInfo(f.out).isDir());
    b.discard();
    EXPECT_FALSE(QFileInfo::exists(f.out));
    ResultWriter::Prepared c = writer.prepareImg(image.copy(), f.out + "/c.png", SaveType::PNG, f.photo);
    ResultWriter::Prepared d = writer.prepareImg(image.copy(), f.out + "/d.png", SaveType::PNG, f.photo);
    EXPECT_EQ(writer.placePrepared(c, f.out + "/c.png", f.photo).processStatus, PhotoFile::Processed);
    d.discard();
    EXPECT_EQ(f.outputFolderEntries(), QStringList{"c.png"});
}

TEST(ResultWriter, PreparedOutputsGoUnlessPlacedAndArePlacedInAnyOrder) {
    Fixture f;
    ResultWriter writer(settingsWith(renameSettings(6), outputSettings(f.out)));
    const QImage image = testsupport::gradientImage(64, 48);
    {
        ResultWriter::Prepared dropped = writer.prepareImg(image.copy(), f.out + "/a.png", SaveType::PNG, f.photo);
        ASSERT_TRUE(dropped.ready());
        EXPECT_EQ(f.outputFolderEntries().size(), 1);
        ResultWriter::Prepared moved = std::move(dropped);
        EXPECT_FALSE(dropped.ready());
        ResultWriter::Prepared discarded = writer.prepareImg(image.copy(), f.out + "/b.png", SaveType::PNG, f.photo);
        discarded.discard();
        EXPECT_EQ(f.outputFolderEntries().size(), 1);
    }
    EXPECT_TRUE(f.outputFolderEntries().isEmpty()) << f.outputFolderEntries().join(",").toStdString();

    ResultWriter::Prepared first = writer.prepareImg(image.copy(), f.out + "/c.png", SaveType::PNG, f.photo);
    ResultWriter::Prepared second = writer.prepareImg(testsupport::gradientImage(32, 24), f.out + "/d.png", SaveType::PNG, f.photo);
    EXPECT_EQ(writer.placePrepared(second, f.out + "/d.png", f.photo).processStatus, PhotoFile::Processed);
    EXPECT_EQ(writer.placePrepared(first, f.out + "/c.png", f.photo).processStatus, PhotoFile::Processed);
    EXPECT_EQ(f.outputFolderEntries(), (QStringList{"c.png", "d.png"}));
    EXPECT_EQ(platform::readImage(f.out + "/d.png").size(), QSize(32, 24));
}

}  // namespace

namespace {

// A camera photo: capture date, camera and place.
QString writeCameraPhoto(const QString& path, int width, int height) {
    const QVariantMap props{
        {"{Exif}", QVariantMap{{"DateTimeOriginal", "2021:05:30 08:09:10"}}},
        {"{TIFF}", QVariantMap{{"Make", "Brisko Test"}, {"Model", "One"}}},
        {"{GPS}", QVariantMap{{"Latitude", 33.5}, {"LatitudeRef", "S"}, {"Longitude", 70.25}, {"LongitudeRef", "W"}}}};
    QDir().mkpath(QFileInfo(path).absolutePath());
    return platform::writeImageFile(path, testsupport::gradientImage(width, height), platform::ImageType::JPEG, 0.9, props)
               ? path
               : QString();
}

QString captureDateOf(const QString& path) {
    return platform::readImageProperties(path).value("{Exif}").toMap().value("DateTimeOriginal").toString();
}

}  // namespace

TEST(ResultWriter, OutputsKeepTheSourcesMetadataOrThePhotoFailsAndItsSourceStays) {
    batchtest::TrashInTemp trash;
    struct Case {
        int outputFormat;
        const char* ext;
        platform::ImageType saveType;
        bool compression;
        bool holdsMetadata;
    } cases[] = {
        {1, "tif", SaveType::TIFF, false, true},    {2, "bmp", SaveType::BMP, false, false},
        {3, "gif", SaveType::GIF, false, false},    {4, "jpg", SaveType::JPEG, false, true},
        {6, "png", SaveType::PNG, false, true},     {7, "jp2", SaveType::JPEG2000, false, true},
        {6, "png", SaveType::PNG, true, true},      {8, "pdf", SaveType::PNG, false, false},
    };
    QTemporaryDir dir;
    const QString source = writeCameraPhoto(dir.filePath("src/camera.jpg"), 120, 90);
    ASSERT_FALSE(source.isEmpty());
    const QImage image = platform::readImage(source);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ext + std::string(c.compression ? " compressed" : ""));
        auto rename = renameSettings(c.outputFormat);
        rename->isSetCompression = c.compression;
        ResultWriter writer(settingsWith(rename, outputSettings(dir.filePath("out"))));
        const QString dest = dir.filePath(QString("out/c%1.%2").arg(c.compression).arg(c.ext));
        const auto r = writer.saveImgInDirectoryFilteredImg(image, dest, c.saveType, batchtest::photoAt(source));
        EXPECT_EQ(r.processStatus, PhotoFile::Processed) << r.processInfoMessage.toStdString();
        if (c.holdsMetadata) { EXPECT_EQ(captureDateOf(dest), "2021:05:30 08:09:10"); }
    }

    // The disk fills while the file is written (the metadata goes in with the pixels, in one
    // stream): half of it fits. In move mode the source, the only copy with the metadata,
    // must stay.
    testsupport::ScratchVolume volume(8 << 20);
    if (!volume.ok()) GTEST_SKIP() << volume.why().toStdString();
    const QImage big = testsupport::gradientImage(1200, 900);
    const qint64 pixelBytes = platform::encodeImage(big, platform::ImageType::PNG, 1.0).size();
    const qint64 filler = volume.freeBytes() - pixelBytes / 2;
    ASSERT_GT(filler, 0);
    testsupport::writeFile(volume.filePath("filler"), QByteArray(filler, '\0'));
    const QString moved = writeCameraPhoto(dir.filePath("src/moved.jpg"), 40, 30);
    ResultWriter writer(settingsWith(renameSettings(6), outputSettings(volume.path(), true)));
    const auto r = writer.saveImgInDirectoryFilteredImg(big, volume.filePath("out.png"), SaveType::PNG, batchtest::photoAt(moved));
    EXPECT_EQ(r.processStatus, PhotoFile::Failed);
    // The writer itself reports the file unwritten, and says the disk is why; the check of
    // the metadata read back stays behind it for any writer that would not.
    EXPECT_EQ(r.processInfoMessage, runmessages::DiskFull);
    EXPECT_TRUE(QFileInfo::exists(moved));
    EXPECT_FALSE(QFileInfo::exists(volume.filePath("out.png")));
    EXPECT_EQ(QDir(volume.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"filler"});
}
