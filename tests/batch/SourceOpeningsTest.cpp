// How often a run opens and maps each photo's file: once, whoever reads it (its header for
// its cost, its properties, its thumbnail, its picture, the writer's look at its header).
// Each reader opening and mapping it anew cost more in the kernel than decoding a small
// photo did. Counted by a library preloaded into a child process of this program
// (tests/shims/FileOpens.c), started again for one test.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>

#include "tests/batch/BatchFixtures.h"
#include "tests/support/PackagedPictures.h"
#include "tests/support/PhotoSamples.h"

namespace sourceopenings {

// Set in the child: "<folder>;<cases, comma-separated>".
const char* const kChildRun = "BRISKO_TEST_SOURCE_OPENINGS_RUN";
const char* const kRecord = "BRISKO_FILE_OPENS_RECORD";

struct Case {
    const char* name;
    int format;          // the output format number: 4 jpg, 6 png, 1 tif
    bool shrunk;         // a lone "Resize" to 640 x 512
    bool rowByRow;       // made row by row
    bool move = false;   // the sources moved to the Trash
};
const Case kCases[] = {
    {"jpeg-shrunk", 4, true, false},
    {"jpeg-rows", 4, true, true},
    {"jpeg-to-png", 6, false, false},
    {"jpeg-moved", 4, false, false, true},
    {"png-to-jpeg", 4, false, false},
    {"png-rows", 4, false, true},
    {"tiff-to-png", 6, true, false},
    {"tiff-rows", 4, false, true},
    {"tiff16-to-tiff", 1, false, false},
};

const Case* caseNamed(const QString& name) {
    for (const Case& c : kCases)
        if (name == QLatin1String(c.name)) return &c;
    return nullptr;
}

// The child: runs the photos of each <folder>/<case>/src into <folder>/<case>/out as the case
// says, with thumbnails, and writes each photo's status to <folder>/<case>/statuses. The
// record of openings starts with the runs: the listing of the photos reads them before.
TEST(SourceOpeningsChild, Runs) {
    const QStringList args = QString::fromLocal8Bit(qgetenv(kChildRun)).split(u';');
    if (args.size() != 2) GTEST_SKIP() << "runs only as the child of the SourceOpenings tests";
    batchtest::TrashInTemp trash;
    struct Run {
        const Case* c;
        QString folder;
        QList<std::shared_ptr<PhotoFile>> photos;
        BatchRunInput in;
    };
    QList<Run> runs;
    for (const QString& name : args[1].split(u',')) {
        const Case* c = caseNamed(name);
        ASSERT_NE(c, nullptr) << name.toStdString();
        Run run{c, args[0] + "/" + name, {}, {}};
        run.photos = batchtest::photosIn(run.folder + "/src");
        QList<std::shared_ptr<AppliedFilter>> steps;
        if (c->shrunk) steps << batchtest::resizeStepTo(640, 512);
        run.in = batchtest::runInput(run.photos, batchtest::renameSettings(c->format),
                                     batchtest::outputSettings(run.folder + "/out", c->move), steps);
        runs << run;
    }
    QFile::remove(QString::fromLocal8Bit(qgetenv(kRecord)));
    for (const Run& r : runs) {
        batchtest::RunHarness run;
        run.runner.setThumbnailSize(QSize(160, 120));
        if (r.c->rowByRow) run.runner.setRowByRowFromPixels(1);
        ASSERT_TRUE(run.start(r.in)) << r.c->name;
        QFile report(r.folder + "/statuses");
        ASSERT_TRUE(report.open(QIODevice::WriteOnly));
        for (const auto& photo : r.photos)
            report.write(QByteArray::number(photo->processStatus) + '\t' +
                         QByteArray::number(run.runner.photosMadeRowByRow.load()) + '\n');
    }
}

TEST(SourceOpenings, EachPhotoFileIsOpenedAndMappedOnceByTheRun) {
    if (testsupport::builtWithThreadSanitizer()) GTEST_SKIP() << "a preloaded library is not seen by ThreadSanitizer";
    BRISKO_STARTS_A_PROCESS();
    QTemporaryDir dir;
    QStringList cases;
    for (const Case& c : kCases) {
        const QString src = dir.filePath(QString::fromLatin1(c.name) + "/src");
        ASSERT_TRUE(QDir().mkpath(src));
        for (const QString& photo : {QStringLiteral("Storm"), QStringLiteral("Dune"), QStringLiteral("GreenMeadow")}) {
            const QString real = testsupport::packagedPicture(testsupport::kDesktopPhotos + "nature/" + photo + ".jpg");
            const QString name = QString::fromLatin1(c.name);
            if (name.startsWith(u"jpeg")) {
                ASSERT_TRUE(QFile::copy(real, src + "/" + photo + ".jpg"));
            } else if (name.startsWith(u"png")) {
                ASSERT_TRUE(platform::writeImageFile(src + "/" + photo + ".png", platform::readImage(real),
                                                     platform::ImageType::PNG, 1.0));
            } else {
                const auto samples = name.startsWith(u"tiff16") ? testsupport::TiffSamples::Rgb16
                                                                 : testsupport::TiffSamples::Rgb8;
                if (testsupport::tiffcpFile(src + "/" + photo + ".tif", platform::readImage(real), samples,
                                            {QStringLiteral("-c"), QStringLiteral("lzw")})
                        .isEmpty())
                    GTEST_SKIP() << "libtiff-tools are not installed";
            }
        }
        cases << QString::fromLatin1(c.name);
    }

    const QString record = dir.filePath("openings");
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kChildRun), dir.path() + ";" + cases.join(u','));
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(BRISKO_FILE_OPENS_SHIM));
    env.insert(QStringLiteral("BRISKO_FILE_OPENS_PART"), QStringLiteral("/src/"));
    env.insert(QString::fromLatin1(kRecord), record);
    // The shim comes before the sanitizer's runtime in a sanitizer build: it only passes
    // calls on, so the order does not matter.
    env.insert(QStringLiteral("ASAN_OPTIONS"), env.value(QStringLiteral("ASAN_OPTIONS")) + ":verify_asan_link_order=0");
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=SourceOpeningsChild.*")});
    ASSERT_TRUE(child.waitForFinished(120000 * testsupport::slowdown()));
    const QByteArray said = child.readAll();
    ASSERT_EQ(child.exitCode(), 0) << said.right(3000).toStdString();

    // Each source's openings and mappings in the run, by the path they name.
    QMap<QString, int> opened, mapped;
    QFile lines(record);
    ASSERT_TRUE(lines.open(QIODevice::ReadOnly));
    for (const QByteArray& line : lines.readAll().split('\n')) {
        if (line.startsWith("open ")) ++opened[QString::fromLocal8Bit(line.mid(5))];
        if (line.startsWith("map ")) ++mapped[QString::fromLocal8Bit(line.mid(4))];
    }
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const QString folder = dir.filePath(QString::fromLatin1(c.name));
        QFile report(folder + "/statuses");
        ASSERT_TRUE(report.open(QIODevice::ReadOnly));
        const QList<QByteArray> statuses = report.readAll().trimmed().split('\n');
        ASSERT_EQ(statuses.size(), 3);
        for (const QByteArray& status : statuses) {
            EXPECT_EQ(status.split('\t').value(0).toInt(), PhotoFile::Processed);
            EXPECT_EQ(status.split('\t').value(1).toInt(), c.rowByRow ? 3 : 0);
        }
        const QStringList sources = QDir(folder + "/src").entryList(QDir::Files);
        EXPECT_EQ(sources.isEmpty(), c.move);
        for (const QString& name : QDir(folder + "/out").entryList(QDir::Files)) {
            // The source's path as the run opened it (in move mode it is gone from there now).
            const QString source = folder + "/src/" + QFileInfo(name).completeBaseName();
            int opens = 0, maps = 0;
            for (auto it = opened.begin(); it != opened.end(); ++it)
                if (it.key().startsWith(source + ".")) opens += it.value();
            for (auto it = mapped.begin(); it != mapped.end(); ++it)
                if (it.key().startsWith(source + ".")) maps += it.value();
            EXPECT_EQ(opens, 1) << name.toStdString();
            EXPECT_EQ(maps, 1) << name.toStdString();
        }
    }
}

}  // namespace sourceopenings
