// Runs on a disk that fails without saying so: a stand-in for a failing card or network
// share (tests/shims/FailingDisk.c) preloaded into a child process of this program, started
// again for one test. An output the disk garbled is never placed and its original never
// goes to the Trash, whatever the format and however the file was made; a source the disk
// cannot give is said to be unreadable from the disk.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>

#include "batch/RunMessages.h"
#include "tests/batch/BatchFixtures.h"
#include "tests/support/PackagedPictures.h"
#include "tests/support/PhotoSamples.h"

namespace failingdisk {

// Set in the child: "<folder>;<cases, comma-separated>".
const char* const kChildRun = "BRISKO_TEST_FAILING_DISK_RUN";

struct Output {
    const char* name;
    int format;  // the output format number: 1 tif, 2 bmp, 3 gif, 4 jpg, 6 png, 7 jp2, 8 pdf
    const char* extension;
    bool rowByRow = false;
    bool compression = false;  // through the PNG optimiser
    bool fullSize = false;     // the photo at its own size, not shrunk
};
const Output kOutputs[] = {
    {"jpg", 4, "jpg"},
    {"jpg-rows", 4, "jpg", true},
    // 8 MP: written in bands with restart markers, at which a decoder picks up again after
    // a block of zeros, so that decoding the file cannot tell (5 % of its pixels wrong).
    {"jpg-large", 4, "jpg", false, false, true},
    {"png", 6, "png"},
    {"png-rows", 6, "png", true},
    {"png-optimised", 6, "png", false, true},
    {"tif", 1, "tif"},
    {"bmp", 2, "bmp"},
    {"gif", 3, "gif"},
    {"jp2", 7, "jp2"},
    {"pdf", 8, "pdf"},
};

const Output* outputNamed(const QString& name) {
    for (const Output& o : kOutputs)
        if (name == QLatin1String(o.name)) return &o;
    return nullptr;
}

// The child: runs the photos of each <folder>/<case>/src, shrunk to 640 x 512 unless the
// case is a full-size one, into <folder>/<case>/out, in move mode, and writes each photo's status, message and whether it was made row by row to
// <folder>/<case>/statuses. A case named "read" runs to PNG in copy mode.
TEST(FailingDiskChild, Runs) {
    const QStringList args = QString::fromLocal8Bit(qgetenv(kChildRun)).split(u';');
    if (args.size() != 2) GTEST_SKIP() << "runs only as the child of the FailingDisk tests";
    batchtest::TrashInTemp trash;
    for (const QString& name : args[1].split(u',')) {
        const QString folder = args[0] + "/" + name;
        const Output* output = outputNamed(name.section(u'/', -1));
        const QList<std::shared_ptr<PhotoFile>> photos = batchtest::photosIn(folder + "/src");
        auto rename = batchtest::renameSettings(output ? output->format : 6);
        rename->isSetCompression = output && output->compression;
        // Shrunk (a lone shrinking "Resize" is made row by row too), but for a full-size case.
        QList<std::shared_ptr<AppliedFilter>> steps;
        if (output && !output->fullSize) steps << batchtest::resizeStepTo(640, 512);
        const BatchRunInput in =
            batchtest::runInput(photos, rename, batchtest::outputSettings(folder + "/out", output != nullptr), steps);
        batchtest::RunHarness run;
        if (output && output->rowByRow) run.runner.setRowByRowFromPixels(1);
        ASSERT_TRUE(run.start(in)) << name.toStdString();
        QFile report(folder + "/statuses");
        ASSERT_TRUE(report.open(QIODevice::WriteOnly));
        for (const auto& photo : photos)
            report.write(QByteArray::number(photo->processStatus) + '\t' + photo->processInfoMessage.toUtf8() + '\t' +
                         QByteArray::number(run.runner.photosMadeRowByRow.load()) + '\n');
    }
}

struct Status {
    int status = -1;
    QString message;
    int madeRowByRow = 0;
};

// Runs the child on `cases` under the failing disk `disk` says (the shim's settings); the
// statuses of each case's photos, in name order.
QMap<QString, QList<Status>> runOnFailingDisk(const QString& folder, const QStringList& cases,
                                              const QMap<QString, QString>& disk) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kChildRun), folder + ";" + cases.join(u','));
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(BRISKO_FAILING_DISK_SHIM));
    // The shim comes before the sanitizer's runtime in a sanitizer build: it only passes
    // calls on, so the order does not matter.
    env.insert(QStringLiteral("ASAN_OPTIONS"), env.value(QStringLiteral("ASAN_OPTIONS")) + ":verify_asan_link_order=0");
    for (auto it = disk.begin(); it != disk.end(); ++it) env.insert(it.key(), it.value());
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=FailingDiskChild.*")});
    QMap<QString, QList<Status>> statuses;
    if (!child.waitForFinished(120000 * testsupport::slowdown())) {
        ADD_FAILURE() << "the child did not finish";
        return statuses;
    }
    const QByteArray said = child.readAll();
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << said.right(3000).toStdString();
    EXPECT_EQ(child.exitCode(), 0) << said.right(3000).toStdString();
    for (const QString& name : cases) {
        QFile report(folder + "/" + name + "/statuses");
        if (!report.open(QIODevice::ReadOnly)) continue;
        for (const QByteArray& line : report.readAll().trimmed().split('\n')) {
            const QList<QByteArray> f = line.split('\t');
            if (f.size() == 3) statuses[name] << Status{f[0].toInt(), QString::fromUtf8(f[1]), f[2].toInt()};
        }
    }
    return statuses;
}

QString copyInto(const QString& folder, const QString& source, const QString& name = QString()) {
    QDir().mkpath(folder);
    const QString copy = folder + "/" + (name.isEmpty() ? QFileInfo(source).fileName() : name);
    EXPECT_TRUE(QFile::copy(source, copy)) << source.toStdString();
    return copy;
}

TEST(FailingDisk, AGarbledOutputIsNeverPlacedAndItsOriginalStaysInEveryFormatAndEitherWay) {
    BRISKO_STARTS_A_PROCESS();
    // Real photos, each output written once on a healthy disk and once on a card that drops
    // a block of every file written to it while saying the whole file was written: 2 KiB at
    // 16 KiB into the shrunk photos' files, 512 bytes at 950,000 into the full-size one's.
    QTemporaryDir dir;
    QStringList cases;
    for (const Output& o : kOutputs) {
        const QString photo = testsupport::packagedPicture(
            testsupport::kDesktopPhotos + (o.fullSize ? "abstract/Elephants_3840x2160.jpg" : "nature/GreenMeadow.jpg"));
        for (const char* disk : {"healthy", "failing-card"}) {
            const QString name = QString::fromLatin1(disk) + "/" + o.name;
            copyInto(dir.filePath(name + "/src"), photo);
            cases << name;
        }
    }
    const auto statuses = runOnFailingDisk(
        dir.path(), cases, {{"BRISKO_FAILING_DISK_ZERO", "failing-card/jpg-large/:950000:512;failing-card/:16384:2048"}});
    for (const Output& o : kOutputs) {
        SCOPED_TRACE(o.name);
        const QString healthy = dir.filePath(QStringLiteral("healthy/") + o.name);
        const QString failing = dir.filePath(QStringLiteral("failing-card/") + o.name);
        const QString source = o.fullSize ? QStringLiteral("Elephants_3840x2160") : QStringLiteral("GreenMeadow");
        const QString outputName = source + "." + o.extension;
        // The same photo, on a disk that keeps what it is given: written, and its original moved.
        const auto written = statuses.value(QStringLiteral("healthy/") + o.name);
        ASSERT_EQ(written.size(), 1);
        EXPECT_EQ(written[0].status, PhotoFile::Processed) << written[0].message.toStdString();
        EXPECT_EQ(written[0].madeRowByRow, o.rowByRow ? 1 : 0);
        EXPECT_TRUE(QFileInfo::exists(healthy + "/out/" + outputName));
        EXPECT_FALSE(QFileInfo::exists(healthy + "/src/" + source + ".jpg"));
        // On the failing card it reads back with other bytes than were written: not placed,
        // nothing left of it, and the original where it was.
        const auto garbled = statuses.value(QStringLiteral("failing-card/") + o.name);
        ASSERT_EQ(garbled.size(), 1);
        EXPECT_EQ(garbled[0].status, PhotoFile::Failed);
        EXPECT_EQ(garbled[0].message, runmessages::OutputDiffers);
        EXPECT_TRUE(QFileInfo::exists(failing + "/src/" + source + ".jpg"));
        EXPECT_EQ(QDir(failing + "/out").entryList(QDir::Files | QDir::Hidden), QStringList());
    }
}

TEST(FailingDisk, ASourceTheDiskCannotGiveIsSaidToBeUnreadableFromTheDisk) {
    BRISKO_STARTS_A_PROCESS();
    QTemporaryDir dir;
    // A JPEG read through a mapping whose pages the disk cannot give (each read of one faults,
    // as an I/O error does), and a camera raw file on a file system without mappings whose
    // reads fail.
    copyInto(dir.filePath("read/src"), testsupport::packagedPicture(testsupport::kDesktopPhotos + "nature/Storm.jpg"),
             "mapped-bad.jpg");
    testsupport::DngSample dng;
    const QString raw = dir.filePath("read/src/unmapped-bad.dng");
    QFile rawFile(raw);
    ASSERT_TRUE(rawFile.open(QIODevice::WriteOnly));
    rawFile.write(testsupport::makeDng(testsupport::gradientImage(600, 400), dng));
    rawFile.close();
    const auto statuses = runOnFailingDisk(dir.path(), {"read"},
                                           {{"BRISKO_FAILING_DISK_EIO", "mapped-bad"},
                                            {"BRISKO_FAILING_DISK_EIO_UNMAPPED", "unmapped-bad"}});
    const auto read = statuses.value("read");
    ASSERT_EQ(read.size(), 2);
    for (const Status& s : read) {
        EXPECT_EQ(s.status, PhotoFile::Failed);
        EXPECT_EQ(s.message, runmessages::DiskReadFailed);
    }
    EXPECT_TRUE(QFileInfo::exists(raw));
}

}  // namespace failingdisk
