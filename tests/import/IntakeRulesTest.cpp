// Which files count as photos, and the texts an add shows.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

#include "import/FolderListing.h"
#include "import/IntakeRules.h"
#include "platform/foundation/NativeNames.h"
#include "records/PhotoFile.h"
#include "tests/support/TestSupport.h"

using namespace intake;

TEST(AcceptedTypes, FixedListIsExactCaseTheOracleDecidesTheRest) {
    // The oracle knows jpg, png and eps as images, nothing else.
    const AcceptedTypes types([](const QString& ext) {
        return QStringList{"jpg", "JPG", "png", "eps", "Eps"}.contains(ext);
    });
    const struct {
        const char* path;
        bool accepted;
    } cases[] = {
        {"/p/a.jpg", true},  {"/p/a.JPG", true},  {"/p/a.png", true},   {"/p/a.EPS", true},  // fixed list
        {"/p/a.ePs", false},                                                                  // mixed: oracle only
        {"/p/a.Eps", true},  {"/p/a.ptif", true}, {"/p/a.PTIF", true},  {"/p/a.Ptif", false},
        {"/p/a.ui", true},   {"/p/a.txt", false}, {"/p/noext", false},  {"/p/a.mov", false},
    };
    for (const auto& c : cases) EXPECT_EQ(types.isAcceptedPath(c.path), c.accepted) << c.path;
    EXPECT_TRUE(matchesFileType("/p/a.JPG", "ALL"));
    EXPECT_TRUE(matchesFileType("/p/a.JPG", ".JPG"));
    EXPECT_FALSE(matchesFileType("/p/a.png", ".JPG"));
}

TEST(AcceptedTypes, MimeDatabaseKnowsCommonPhotoTypes) {
    const TypeOracle oracle = mimeDatabaseOracle();
    for (const char* ext : {"jpg", "JPEG", "png", "tiff", "gif", "bmp"}) EXPECT_TRUE(oracle(ext)) << ext;
    for (const char* ext : {"txt", "mp4", "pdf", ""}) EXPECT_FALSE(oracle(ext)) << ext;
}

// Phones', the web's and every camera's raw files are photos, whatever the MIME database
// knows of them, and a folder listing keeps them.
TEST(AcceptedTypes, PhoneWebAndEveryCamerasRawFilesArePhotos) {
    const AcceptedTypes types(mimeDatabaseOracle());
    for (const char* ext : {"heic", "HEIC", "heif", "hif", "avif", "webp", "cr2", "CR3", "crw", "nef", "nrw", "arw",
                            "srf", "sr2", "orf", "raf", "rw2", "rwl", "dng", "DNG", "pef", "srw", "3fr", "iiq", "mos",
                            "mrw", "kdc", "dcr", "erf", "mef", "x3f"}) {
        EXPECT_TRUE(types.isAcceptedExtension(ext)) << ext;
        EXPECT_TRUE(imageFileExtensions().contains(ext, Qt::CaseInsensitive)) << ext;
    }
}

TEST(IntakeTexts, Alerts) {
    EXPECT_EQ(photosExistAlert(1), (IntakeAlert{"PHOTO EXISTS", "Photo already exists in batch!"}));
    EXPECT_EQ(photosExistAlert(2), (IntakeAlert{"PHOTOS EXISTS", "Photos already exist in batch!"}));
    EXPECT_EQ(damagedFilesAlert(1),
              (IntakeAlert{"FILE CANNOT BE ADDED", "File cannot be added. It is either damaged or not supported by application."}));
    EXPECT_EQ(damagedFilesAlert(3), (IntakeAlert{"FILES CANNOT BE ADDED",
                                                 "Some files cannot be added. They are either damaged or not supported by application."}));
    // The refused files are named, the first eight of them.
    QStringList names;
    for (int i = 1; i <= 10; ++i) names << QStringLiteral("f%1.jpg").arg(i);
    const QString listed = damagedFilesAlert(10, names).message;
    EXPECT_TRUE(listed.contains("\nf8.jpg\nand 2 more")) << listed.toStdString();
    EXPECT_FALSE(listed.contains("f9.jpg"));
    // Files refused only for being present already are not called damaged.
    EXPECT_EQ(damagedFilesAlert(2, {}, 2), photosExistAlert(2));
    EXPECT_EQ(limitExceededAlert(), (IntakeAlert{"PHOTOS LIMIT EXCEEDED",
                                                 "Photo limit exceeded! A Batch of 1000000 photos can be processed at a time."}));
    EXPECT_EQ(noPhotosToAddAlert(), (IntakeAlert{"NO PHOTOS TO ADD", "There are no new photos to add"}));
}

TEST(IntakeTexts, ProgressAtAFewTotals) {
    const struct {
        long added, total;
        int percent, icon;
        const char *label, *text;
    } cases[] = {
        {1, 1, 100, 105, "100 %", "1 photo added"},
        {1, 3, 33, 30, "30 %", "1 of 3 photos added"},
        {2, 3, 66, 65, "65 %", "2 of 3 photos added"},
        {3, 3, 100, 105, "100 %", "3 photos added"},
        {7, 1000, 0, 0, "0 %", "7 of 1000 photos added"},
        {999999, 1000000, 99, 95, "95 %", "999999 of 1000000 photos added"},
    };
    for (const auto& c : cases) {
        const IntakeProgress p = progressFor(c.added, c.total, "/Users/me/Lib.photoslibrary/originals/1");
        EXPECT_EQ(p.percent, c.percent) << c.text;
        EXPECT_EQ(p.icon, c.icon) << c.text;
        EXPECT_EQ(p.label, c.label);
        EXPECT_EQ(p.text, c.text);
        EXPECT_EQ(p.finished, c.added == c.total);
        EXPECT_EQ(p.pathText, "Photo path: : /Users/me/Lib");
    }
    EXPECT_EQ(progressFor(1, 2, "/a/b").pathText, "Photo path: : /a/b");
}

TEST(IntakeTexts, FooterFiguresArePlacedByPosition) {
    EXPECT_TRUE(footerFor({}).text.isEmpty());
    QList<std::shared_ptr<PhotoFile>> batch;
    for (double size : {1000.0, 1000.0}) {  // the count "2" also begins the size text
        auto p = std::make_shared<PhotoFile>();
        p->fileSizeInBytes = size;
        batch.append(p);
    }
    const BatchFooter f = footerFor(batch);
    EXPECT_EQ(f.text, "Batch Count: 2  |  Batch Size: 2.00 KB approx.  ");
    ASSERT_EQ(f.figures.size(), 2);
    EXPECT_EQ(f.text.mid(f.figures[0].start, f.figures[0].length), "2");
    EXPECT_EQ(f.figures[0].start, 13);
    EXPECT_EQ(f.text.mid(f.figures[1].start, f.figures[1].length), "2.00 KB approx.");
}

TEST(IntakeTexts, DateFilterCheck) {
    const QString error = "* From Date cannot be greater than or equal to To Date.";
    const QDateTime ten(QDate(2024, 5, 1), QTime(10, 0));
    EXPECT_EQ(dateFilterError(ten, ten), error);
    EXPECT_EQ(dateFilterError(ten, ten.addSecs(30)), error);  // same minute
    EXPECT_EQ(dateFilterError(ten, ten.addSecs(-3600)), error);
    EXPECT_EQ(dateFilterError(ten, ten.addSecs(60)), "");
    EXPECT_EQ(dateFilterError(ten, ten.addDays(1)), "");
}

// The walk stays inside the folder the user chose: links to folders are not followed
// (one pointing up to its parent, one to the root of the file system), a link to a photo
// is listed, and a named pipe is not.
TEST(FolderListing, WalkStaysInsideTheFolderAndSkipsHiddenItemsPackagesAndPipes) {
    QTemporaryDir dir;
    const QString root = dir.filePath("Photos");
    for (const char* f : {"b.jpg", "a.jpg", ".hidden.jpg", "notes.txt", "sub/c.jpg", "sub/.cache/d.jpg",
                          ".hiddenfolder/e.jpg", "Lib.photoslibrary/originals/f.jpg", "z/deeper/g.jpg"})
        testsupport::writeFile(root + "/" + f, "x");
    testsupport::writeFile(dir.filePath("beside.jpg"), "x");  // in the folder above
    ASSERT_EQ(QFile::link(root, root + "/sub/loop"), true);        // points back up
    ASSERT_EQ(QFile::link(root + "/z", root + "/sub/zlink"), true);  // a second way to z
    ASSERT_EQ(::symlink("..", QFile::encodeName(root + "/parent").constData()), 0);
    ASSERT_EQ(::symlink("/", QFile::encodeName(root + "/everything").constData()), 0);
    ASSERT_EQ(QFile::link(dir.filePath("beside.jpg"), root + "/linked.jpg"), true);
    const testsupport::NamedPipe pipe(root + "/pipe.jpg");
    ASSERT_TRUE(pipe.made());

    const QStringList walked = walkFolder(root);
    EXPECT_EQ(walked, (QStringList{root + "/a.jpg", root + "/b.jpg", root + "/linked.jpg", root + "/notes.txt",
                                   root + "/sub/c.jpg", root + "/z/deeper/g.jpg"}));
    EXPECT_EQ(listFolderImages(root), (QStringList{root + "/a.jpg", root + "/b.jpg", root + "/linked.jpg"}));
    // Chosen itself, a link to a folder is walked: it is where the user asked to look.
    EXPECT_EQ(walkFolder(root + "/sub/zlink"), QStringList{root + "/sub/zlink/deeper/g.jpg"});

    // Names that are not UTF-8, of files and of folders, are listed by their bytes.
    const QString odd = platform::decodePath(QFile::encodeName(root) + "/\xe9t\xe9/IMG_\xff.jpg");
    const QString top = platform::decodePath(QFile::encodeName(root) + "/c\xe9.JPG");
    testsupport::writeFile(odd, "x");
    testsupport::writeFile(top, "x");
    EXPECT_TRUE(walkFolder(root).contains(odd));
    EXPECT_EQ(listFolderImages(root), (QStringList{root + "/a.jpg", root + "/b.jpg", top, root + "/linked.jpg"}));
    testsupport::removeTree(dir.path());
}

TEST(FolderListing, UnreadableSubFolderIsSkippedAndTheRestWalked) {
    QTemporaryDir dir;
    const QString root = dir.filePath("Photos");
    testsupport::writeFile(root + "/a/1.jpg", "x");
    testsupport::writeFile(root + "/b/2.jpg", "x");
    testsupport::writeFile(root + "/b/deeper/4.jpg", "x");
    testsupport::writeFile(root + "/c/3.jpg", "x");
    const QStringList expected{root + "/a/1.jpg", root + "/c/3.jpg"};

    // The file system refuses "b" (as it does for a folder without read permission).
    const auto refuseB = [&](const QString& folder) -> std::optional<QList<platform::FolderEntry>> {
        if (folder == root + "/b") return std::nullopt;
        return readFolder(folder);
    };
    EXPECT_EQ(walkFolder(root, nullptr, refuseB), expected);

    // The same with real permissions, where they bind.
    if (geteuid() != 0) {
        QFile::setPermissions(root + "/b", QFileDevice::Permissions());
        const QStringList walked = walkFolder(root);
        QFile::setPermissions(root + "/b", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        EXPECT_EQ(walked, expected);
    }
}

// Pictures the add takes but the program cannot draw are told by their own headers,
// whatever their names: EPS (plain, and with the DOS binary header), SVG; a photo named
// like one of them is a photo.
TEST(UndrawablePictures, AreToldByTheirHeaders) {
    QTemporaryDir dir;
    const struct {
        const char* name;
        QByteArray bytes;
        const char* kind;
    } cases[] = {
        {"a.eps", "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 64 48\n", "EPS"},
        {"b.EPS", QByteArray("\xC5\xD0\xD3\xC6\x1E\0\0\0", 8) + QByteArray(40, '\0'), "EPS"},
        {"drawing.ps.txt", "%!PS-Adobe-3.0\n", "EPS"},
        {"c.svg", "<?xml version=\"1.0\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\"/>", "SVG"},
        {"photo.eps", QByteArray("\xFF\xD8\xFF\xE0", 4) + QByteArray(60, '\0'), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = testsupport::writeFile(dir.filePath(QLatin1String(c.name)), c.bytes);
        EXPECT_EQ(intake::undrawableKind(path), QLatin1String(c.kind));
    }
    EXPECT_EQ(intake::undrawableFileLine("a.eps", "EPS"), "a.eps (EPS pictures cannot be read: they need a PostScript interpreter)");
}
