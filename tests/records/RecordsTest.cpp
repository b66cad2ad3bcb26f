#include <gtest/gtest.h>

#include "platform/foundation/Values.h"
#include "platform/imageio/ImageProperties.h"
#include "records/ExifInfo.h"
#include "records/AppDelegate.h"
#include "records/AppliedFilter.h"
#include "records/FilterCategoryInfo.h"
#include "records/ImageFileInfo.h"
#include "records/OutputPhotoPath.h"
#include "records/ParameterList.h"
#include "records/PhotoFile.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QtEndian>
#include <cstdio>
#include <functional>

#include "platform/foundation/FileAttributes.h"

namespace {

QString writeJpeg(const QString& path, int w, int h, int orientation) {
    EXPECT_TRUE(testsupport::quadrantImage(w, h).save(path, "JPEG"));
    if (orientation) {
        const QVariantMap props{{QString::fromLatin1(platform::kPropsOrientation), orientation}};
        EXPECT_TRUE(platform::writeImageProperties(path, props));
    }
    return path;
}

QByteArray pictBytes(int top, int left, int bottom, int right, bool fileHeader) {
    QByteArray b(fileHeader ? 512 : 0, '\0');
    auto put16 = [&](int v) {
        char two[2];
        qToBigEndian<qint16>(qint16(v), two);
        b.append(two, 2);
    };
    put16(0);  // picture size (unused)
    put16(top);
    put16(left);
    put16(bottom);
    put16(right);
    b.append("\x00\x11\x02\xff", 4);  // version 2
    b.append(QByteArray(32, '\0'));
    return b;
}

}  // namespace

TEST(PhotoFile, UprightSizeFollowsTheOrientationTag) {
    QTemporaryDir dir;
    const struct {
        int orientation;
        double width, height;
    } cases[] = {{0, 40, 30}, {1, 40, 30}, {3, 40, 30}, {5, 30, 40}, {6, 30, 40}, {8, 30, 40}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.orientation);
        const QString path = writeJpeg(dir.filePath(QStringLiteral("o%1.jpg").arg(c.orientation)), 40, 30,
                                       c.orientation);
        const auto p = PhotoFile::initWithFileUrl(path, u"Shown.jpg"_qs, false);
        EXPECT_EQ(p->width, c.width);
        EXPECT_EQ(p->height, c.height);
        EXPECT_EQ(p->exifDict.value(u"PixelWidth"_qs).toInt(), 40);
    }
}

TEST(PhotoFile, NamesSizesAndDatesOfTheFile) {
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath(u"Holiday"_qs));
    const QString path = writeJpeg(dir.filePath(u"Holiday/IMG_1.JPG"_qs), 40, 30, 0);
    const auto p = PhotoFile::initWithFileUrl(path, u"Beach"_qs, true);
    EXPECT_EQ(p->filePath, path);
    EXPECT_EQ(p->fileURL, p->filePath);
    EXPECT_EQ(p->fileName, u"IMG_1.JPG"_qs);
    EXPECT_EQ(p->fileExtension, u"JPG"_qs);
    EXPECT_EQ(p->fileContainerFolderName, u"Holiday"_qs);
    EXPECT_EQ(p->originalFileName, u"Beach"_qs);
    EXPECT_TRUE(p->isIphotosNode);
    EXPECT_EQ(p->processStatus, PhotoFile::NotProcessed);
    EXPECT_EQ(p->fileSizeInBytes, double(QFileInfo(path).size()));
    EXPECT_FALSE(p->fileSizeAsString.isEmpty());
    EXPECT_TRUE(p->fileCreationDate.isValid());
    EXPECT_TRUE(p->fileModifiedDate.isValid());

    // A missing or unreadable file gives zero sizes, so the import screen rejects it.
    const auto gone = PhotoFile::initWithFileUrl(dir.filePath(u"gone.jpg"_qs), false);
    EXPECT_EQ(gone->width, 0);
    EXPECT_EQ(gone->height, 0);
    EXPECT_EQ(gone->fileSizeInBytes, 0);
    EXPECT_FALSE(gone->fileCreationDate.isValid());
    const QString junk = testsupport::writeFile(dir.filePath(u"junk.jpg"_qs), "not a picture");
    EXPECT_EQ(PhotoFile::initWithFileUrl(junk, false)->width, 0);
}

TEST(PhotoFile, VectorFilesTakeTheirSizeFromTheirOwnHeaders) {
    QTemporaryDir dir;
    const QByteArray eps = "%!PS-Adobe-3.0 EPSF-3.0\n%%Creator: test\n%%BoundingBox: 10 20 210 120\n%%EndComments\n";
    const QByteArray epsAtEnd = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: (atend)\n" +
                                QByteArray(300 * 1024, ' ') + "\n%%Trailer\n%%BoundingBox: 0 0 64 48\n%%EOF\n";
    // The DOS form: a binary header giving where the PostScript section lies.
    QByteArray dos(30, '\0');
    dos[0] = char(0xC5), dos[1] = char(0xD0), dos[2] = char(0xD3), dos[3] = char(0xC6);
    qToLittleEndian<quint32>(30, dos.data() + 4);
    qToLittleEndian<quint32>(quint32(eps.size()), dos.data() + 8);
    dos += eps;
    const struct {
        const char* name;
        QByteArray bytes;
        double width, height;
    } cases[] = {
        {"dos.eps", dos, 200, 100},
        {"a.EPS", eps, 200, 100},
        {"b.eps", epsAtEnd, 64, 48},
        {"c.Eps", eps, 0, 0},  // the extension test is exact
        {"d.eps", "%!PS\n%%BoundingBox: 0 0 -5 10\n", 0, 0},
        {"e.pict", pictBytes(0, 0, 50, 80, true), 80, 50},
        {"f.PCT", pictBytes(10, 20, 110, 220, false), 200, 100},
        {"g.pct", pictBytes(0, 0, 0, 0, true), 0, 0},
        {"h.pict", QByteArray("short"), 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = testsupport::writeFile(dir.filePath(QString::fromUtf8(c.name)), c.bytes);
        const auto p = PhotoFile::initWithFileUrl(path, false);
        EXPECT_EQ(p->width, c.width);
        EXPECT_EQ(p->height, c.height);
    }
}

// A photo found unreadable stays so only while its file is the one that failed: a file
// mended in place, touched, or put in its place by another of the same size and time is
// read afresh, and so is one taken away (it is then counted as missing).
TEST(PhotoFile, AnUnreadableMarkHoldsOnlyForTheFileThatFailed) {
    QTemporaryDir dir;
    const QByteArray damaged("\xFF\xD8\xFF\xE0 not a photo", 16);
    const QDateTime failedAt = QDateTime::fromMSecsSinceEpoch(1700000000123);
    const struct {
        const char* name;
        std::function<void(const QString&)> change;
        bool holds;
    } cases[] = {
        {"left as it failed", [](const QString&) {}, true},
        {"mended in place", [](const QString& path) { writeJpeg(path, 40, 30, 0); }, false},
        {"touched", [&](const QString& path) { platform::setModificationDate(path, failedAt.addSecs(60)); }, false},
        {"replaced by a file of the same size and time",
         [&](const QString& path) {
             const QString other = testsupport::writeFile(path + u".new"_qs, QByteArray(damaged.size(), 'x'));
             platform::setModificationDate(other, failedAt);
             ASSERT_EQ(std::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()), 0);
         },
         false},
        {"taken away", [](const QString& path) { QFile::remove(path); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = testsupport::writeFile(dir.filePath(QString::fromUtf8(c.name) + u".jpg"_qs), damaged);
        ASSERT_TRUE(platform::setModificationDate(path, failedAt));
        PhotoFile photo;
        photo.filePath = path;
        photo.markUnreadable(platform::FileStamp::of(path));
        c.change(path);
        EXPECT_EQ(photo.unreadableAsItIs(), c.holds);
        EXPECT_EQ(photo.isUnreadable, c.holds);
        // A mark dropped is not made again by the file alone.
        EXPECT_EQ(photo.unreadableAsItIs(), c.holds);
    }
}

TEST(ImageFileInfo, FileFactsAndTypeText) {
    QTemporaryDir dir;
    const QString path = testsupport::writeFile(dir.filePath(u"pic.PnG"_qs), QByteArray(77, 'x'));
    const auto info = ImageFileInfo::initWithPathForFile(path);
    EXPECT_EQ(info->fileName, u"pic.PnG"_qs);
    EXPECT_EQ(info->fileSize, 77u);
    EXPECT_TRUE(info->modDate.isValid());
    EXPECT_TRUE(info->createDate.isValid());
    EXPECT_FALSE(info->isExifInfoUpdated);
    EXPECT_EQ(info->fileType, u"Portable Network Graphic"_qs);
    EXPECT_EQ(ImageFileInfo::fileTypeForName(u"a.jpeg"_qs), u"JPEG"_qs);
    EXPECT_EQ(ImageFileInfo::fileTypeForName(u"a.tiff"_qs), u"TIFF"_qs);
    EXPECT_EQ(ImageFileInfo::fileTypeForName(u"noext"_qs), u""_qs);

    // The photo information is read once, and again only when a reader asks for it.
    const QString jpeg = writeJpeg(dir.filePath(u"o.jpg"_qs), 40, 30, 6);
    const auto withExif = ImageFileInfo::initWithPathForFile(jpeg);
    EXPECT_EQ(withExif->exifInfo, nullptr);
    withExif->updateExifInfo();
    ASSERT_NE(withExif->exifInfo, nullptr);
    EXPECT_TRUE(withExif->isExifInfoUpdated);
    EXPECT_EQ(withExif->exifInfo->orientation, 6);
    const auto first = withExif->exifInfo;
    withExif->updateExifInfo();
    EXPECT_EQ(withExif->exifInfo, first);
    withExif->setIsExifInfoUpdated(false);
    withExif->updateExifInfo();
    EXPECT_NE(withExif->exifInfo, first);

    const auto gone = ImageFileInfo::initWithPathForFile(dir.filePath(u"gone"_qs));
    EXPECT_EQ(gone->fileSize, 0u);
    EXPECT_FALSE(gone->modDate.isValid());
    EXPECT_FALSE(gone->createDate.isValid());
}

TEST(OutputPhotoPath, PlannedPathAndCollisions) {
    QTemporaryDir dir;
    const QString planned = dir.filePath(u"Photo.JPG"_qs);
    testsupport::writeFile(planned, "x");
    const auto o = OutputPhotoPath::initWithFileUrl(planned, u"/src/a.jpg"_qs);
    EXPECT_EQ(o->filePath, dir.filePath(u"Photo.jpg"_qs));
    EXPECT_EQ(o->fileExtension, u"jpg"_qs);
    EXPECT_EQ(o->fileName, u"Photo.JPG"_qs);
    EXPECT_EQ(o->oldFilePath, u"/src/a.jpg"_qs);
    // The existence check is made on the path that is written (case-sensitive volume).
    EXPECT_FALSE(o->fileAlreadyExistAtPath);
    EXPECT_EQ(o->occurenceCount, 0);
    testsupport::writeFile(dir.filePath(u"Other.png"_qs), "x");
    const auto lower = OutputPhotoPath::initWithFileUrl(dir.filePath(u"Other.PNG"_qs), u""_qs);
    EXPECT_TRUE(lower->fileAlreadyExistAtPath);
    const auto bare = OutputPhotoPath::initWithFileUrl(u"/out/name"_qs, u""_qs);
    EXPECT_EQ(bare->filePath, u"/out/name."_qs);
    EXPECT_EQ(bare->fileExtension, u""_qs);

    QList<std::shared_ptr<OutputPhotoPath>> plan;
    for (const char* p : {"/o/a.JPG", "/o/b.jpg", "/o/a.jpg", "/o/A.jpg", "/o/a.Jpg"})
        plan.append(OutputPhotoPath::initWithFileUrl(QString::fromUtf8(p), u""_qs));
    OutputPhotoPath::countOccurrences(plan);
    const int expected[] = {0, 0, 2, 0, 3};
    for (int i = 0; i < plan.size(); ++i) EXPECT_EQ(plan[i]->occurenceCount, expected[i]) << i;
}

TEST(ParameterList, OneEntryPerKeyAndTheLastOneWins) {
    QVariantList list;
    ParameterList::setValueForKey(list, u"inputRadius"_qs, 0.1);
    ParameterList::setValueForKey(list, u"inputCenter"_qs, QVariant::fromValue(platform::Vec(0.5, 0.5)));
    ParameterList::setValueForKey(list, u"inputRadius"_qs, 0.2);
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[0].toMap().firstKey(), u"inputRadius"_qs);  // kept its first place
    EXPECT_DOUBLE_EQ(ParameterList::valueForKey(list, u"inputRadius"_qs).toDouble(), 0.2);

    // A list made elsewhere may repeat a key: readers take the last entry.
    list.append(QVariantMap{{u"inputRadius"_qs, 0.3}});
    EXPECT_DOUBLE_EQ(ParameterList::valueForKey(list, u"inputRadius"_qs).toDouble(), 0.3);
    EXPECT_FALSE(ParameterList::valueForKey(list, u"angle"_qs).isValid());
    EXPECT_FALSE(ParameterList::containsKey(list, u"angle"_qs));
}

TEST(AppliedFilter, StepKeepsItsOwnCopyOfTheParameters) {
    auto category = std::make_shared<FilterCategoryInfo>();
    category->categoryName = u"Basic"_qs;
    QVariantList params{QVariantMap{{u"angle"_qs, 90}}};
    const auto step = AppliedFilter::initWithFilterName(u"Rotate"_qs, u"Rotate 90"_qs, params, QImage(), category);
    params.append(QVariantMap{{u"flipVertically"_qs, true}});
    EXPECT_TRUE(step->isApplied);
    EXPECT_EQ(step->filterParameters.size(), 1);
    EXPECT_EQ(step->parentfilterCategory, category);
}

TEST(Catalogue, DescriptionsForTheLog) {
    auto a = std::make_shared<FilterRecord>();
    a->filterName = u"CIBloom"_qs;
    a->filterDisplayName = u"Bloom"_qs;
    auto b = std::make_shared<FilterRecord>(*a);
    b->filterIsDuplicate = true;
    EXPECT_EQ(a->description(), u"Filter CIBloom, display name \"Bloom\" \n"_qs);
    EXPECT_EQ(b->description(), u"Filter CIBloom, display name \"Bloom\"  (duplicate)\n"_qs);
    FilterCategoryInfo c;
    c.categoryName = u"Stylize"_qs;
    c.filterRecords = {a, b};
    c.filterRecordsWithNoDuplicates = {a};
    EXPECT_EQ(c.description(),
              u"Category Stylize contains 1 unique filters, 2 total\n\t\tFilter CIBloom, display name \"Bloom\" \n"_qs);
}

TEST(AppDelegate, RunSnapshotIsUnaffectedByLaterEditsAndResetRestoresLaunchValues) {
    AppDelegate& app = AppDelegate::shared();
    app.resetToLaunchValues();
    EXPECT_EQ(app.selectedImageIndex, -1);
    EXPECT_TRUE(app.isAUTO_CORRECT_ORIENTATION);
    EXPECT_EQ(app.ADJUST_FILTER_IMG_CONTAINER_SIZE, QSizeF(580, 440));
    ASSERT_EQ(app.arrFileFormatsSupported.size(), 9);
    EXPECT_EQ(app.arrFileFormatsSupported[7], u"jp2"_qs);

    app.arraySelectedImagesToProcess.append(std::make_shared<PhotoFile>());
    app.arrayAppliedFilters.append(std::make_shared<AppliedFilter>());
    app.isAUTO_CORRECT_ORIENTATION = false;
    const AppDelegate::RunSnapshot snap = app.takeRunSnapshot();
    app.arraySelectedImagesToProcess.clear();
    app.arrayAppliedFilters.append(std::make_shared<AppliedFilter>());
    EXPECT_EQ(snap.photos.size(), 1);
    EXPECT_EQ(snap.appliedFilters.size(), 1);
    EXPECT_FALSE(snap.autoCorrectOrientation);

    app.selectedImageIndex = 3;
    app.selectedCropRatio = 5;
    app.resetToLaunchValues();
    EXPECT_TRUE(app.arrayAppliedFilters.isEmpty());
    EXPECT_EQ(app.selectedImageIndex, -1);
    EXPECT_EQ(app.selectedCropRatio, 0);
    EXPECT_TRUE(app.isAUTO_CORRECT_ORIENTATION);
}

TEST(AppDelegate, ExactlyOneSystemVersionFlag) {
    AppDelegate& app = AppDelegate::shared();
    const struct {
        int major, minor;
        std::atomic<bool> AppDelegate::*flag;
    } cases[] = {
        {10, 7, &AppDelegate::isOSX_7_AndAbove},   {10, 8, &AppDelegate::isOSX_8_AndAbove},
        {10, 9, &AppDelegate::isOSX_9_AndAbove},   {10, 10, &AppDelegate::isOSX_10_AndAbove},
        {10, 14, &AppDelegate::isOSX_10_AndAbove}, {10, 15, &AppDelegate::isOSX_15_AndAbove},
        {10, 16, &AppDelegate::isOSX_16_AndAbove}, {11, 4, &AppDelegate::isOSX_16_AndAbove},
        {12, 0, &AppDelegate::isOSX_16_AndAbove},  {13, 1, &AppDelegate::isOSX_10_AndAbove},
        {6, 1, &AppDelegate::isOSX_10_AndAbove},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.major << "." << c.minor);
        EXPECT_EQ(app.setSystemVersionFlags(c.major, c.minor), QStringLiteral("%1.%2").arg(c.major).arg(c.minor));
        int set = 0;
        for (auto f : {&AppDelegate::isOSX_7_AndAbove, &AppDelegate::isOSX_8_AndAbove,
                       &AppDelegate::isOSX_9_AndAbove, &AppDelegate::isOSX_10_AndAbove,
                       &AppDelegate::isOSX_15_AndAbove, &AppDelegate::isOSX_16_AndAbove})
            set += (app.*f).load() ? 1 : 0;
        EXPECT_EQ(set, 1);
        EXPECT_TRUE((app.*(c.flag)).load());
    }
}
