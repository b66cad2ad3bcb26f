// Statuses that say what happened to a photo: a source cut short while it was read, a
// damaged camera raw file or bitmap, a source moved away before it could go to the Trash, and an
// output folder removed while the output was being placed.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "batch/BatchRunner.h"
#include "batch/RunMessages.h"
#include "platform/foundation/Format.h"
#include "platform/imageio/ImageIO.h"
#include "records/OutputPhotoPath.h"
#include "tests/batch/BatchFixtures.h"
#include "tests/support/BoundedRun.h"
#include "tests/support/DecoderHelperHooks.h"
#include "tests/support/ImageFixtures.h"
#include "tests/support/PackagedPictures.h"
#include "tests/support/PhotoSamples.h"
#include "tests/support/TestSupport.h"

#include <optional>
#include <unistd.h>

using batchtest::Batch;
using batchtest::RunHarness;

namespace {

// Files left in a folder, hidden temporary ones included.
QStringList leftIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

}  // namespace

// A sync client rewrites the second photo while the run reads it: that photo fails with
// its reason, the run goes on with the others, and nothing of it is left behind.
TEST(RunStatus, ASourceCutShortWhileReadFailsThatPhotoOnly) {
    Batch b(3, 1200, 900);
    const QString cut = b.photos[1]->filePath;
    ASSERT_GT(QFileInfo(cut).size(), 3 * 4096);
    const BatchRunInput in = b.input();
    RunHarness run;
    run.runner.setSourceReadHook([cut](const QString& path) {
        if (QFileInfo(path).canonicalFilePath() == QFileInfo(cut).canonicalFilePath()) {
            ASSERT_EQ(::truncate(QFile::encodeName(path).constData(), 4096), 0);
        }
    });
    ASSERT_TRUE(run.start(in));
    EXPECT_TRUE(run.recorder.finished);
    EXPECT_EQ(b.photos[0]->processStatus, PhotoFile::Processed);
    EXPECT_EQ(b.photos[2]->processStatus, PhotoFile::Processed);
    EXPECT_EQ(b.photos[1]->processStatus, PhotoFile::Failed);
    EXPECT_EQ(b.photos[1]->processInfoMessage, runmessages::SourceChangedWhileRead);
    EXPECT_FALSE(QFileInfo::exists(in.snapshot.destinationPaths[1]->filePath));
    EXPECT_EQ(leftIn(b.dir.filePath("out")).size(), 2);
}

// A photo whose file was replaced by a named pipe after it was added: the run neither
// waits on the pipe (for its thumbnail, its properties or its picture) nor reads it, the
// photo fails as no photo file, and the others are written.
TEST(RunStatus, ASourceReplacedByANamedPipeIsNoPhotoFileAndHoldsUpNothing) {
    Batch b(3, 1200, 900);
    const QString replaced = b.photos[1]->filePath;
    ASSERT_TRUE(QFile::remove(replaced));
    const testsupport::NamedPipe pipe(replaced);
    ASSERT_TRUE(pipe.made());
    RunHarness run;
    run.runner.setThumbnailSize(QSize(120, 90));
    ASSERT_TRUE(run.start(b.input()));
    EXPECT_TRUE(run.recorder.finished);
    EXPECT_EQ(b.photos[0]->processStatus, PhotoFile::Processed);
    EXPECT_EQ(b.photos[2]->processStatus, PhotoFile::Processed);
    EXPECT_EQ(b.photos[1]->processStatus, PhotoFile::Failed);
    EXPECT_EQ(b.photos[1]->processInfoMessage, runmessages::NotAPhotoFile);
    EXPECT_EQ(leftIn(b.dir.filePath("out")).size(), 2);
    EXPECT_FALSE(pipe.released()) << "a reader waited on the pipe";
}

// The same for a large PNG or JPEG made row by row: its decoder finds the file shorter than
// it was, and the photo fails with that reason rather than as a damaged file or, from the
// zeros read in place of the cut bytes, as a picture.
TEST(RunStatus, APhotoCutShortWhileMadeRowByRowFailsWithThatReason) {
    for (const QString& source : {QStringLiteral("desktop/Ubuntu-Mate-Cold-no-logo.png"), QStringLiteral("nature/RainDrops.jpg")}) {
        Batch b(0);
        const QByteArray bytes = testsupport::readFile(testsupport::packagedPicture(testsupport::kDesktopPhotos + source));
        const QString cut = b.dir.filePath("src/cut." + QFileInfo(source).suffix());
        b.photos << batchtest::photoAt(testsupport::writeFile(cut, bytes));
        for (const int format : {4, 6}) {  // JPEG, PNG
            SCOPED_TRACE((source + QStringLiteral(" as format %1").arg(format)).toStdString());
            ASSERT_EQ(testsupport::writeFile(cut, bytes), cut);
            b.photos[0]->processStatus = PhotoFile::NotProcessed;
            b.rename = batchtest::renameSettings(format);
            const BatchRunInput in = b.input();
            RunHarness run;
            run.runner.setRowByRowFromPixels(1'000'000);
            run.runner.setSourceReadHook([](const QString& path) {
                ASSERT_EQ(::truncate(QFile::encodeName(path).constData(), 4096), 0);
            });
            ASSERT_TRUE(run.start(in));
            EXPECT_EQ(b.photos[0]->processStatus, PhotoFile::Failed);
            EXPECT_EQ(b.photos[0]->processInfoMessage, runmessages::SourceChangedWhileRead);
            EXPECT_FALSE(QFileInfo::exists(in.snapshot.destinationPaths[0]->filePath));
            EXPECT_TRUE(leftIn(b.dir.filePath("out")).isEmpty());
        }
    }
}

// A camera raw file of a kind this program reads, but damaged, is told damaged, from the
// decode that failed; a kind it lacks still says which.
TEST(RunStatus, RawFilesSayWhetherTheyAreDamagedOrOfAKindNotRead) {
    Batch b(0);
    // A real DNG whose sensor directory lost its width: still a DNG by its tags, but one
    // LibRaw cannot open.
    QByteArray dng = testsupport::makeDng(testsupport::patchScene(400, 300));
    ASSERT_TRUE(dng.startsWith("II*"));
    const auto u16 = [&](qsizetype at) { return int(uchar(dng[at])) | int(uchar(dng[at + 1])) << 8; };
    const qsizetype ifd = qsizetype(u16(4)) | qsizetype(u16(6)) << 16;
    bool widthLost = false;
    for (int e = 0; e < u16(ifd); ++e) {
        const qsizetype entry = ifd + 2 + 12 * e;
        if (u16(entry) == 256) {
            dng.replace(entry + 8, 4, QByteArray(4, '\0'));
            widthLost = true;
        }
    }
    ASSERT_TRUE(widthLost);
    b.photos << batchtest::photoAt(testsupport::writeFile(b.dir.filePath("src/damaged.dng"), dng));
    b.photos << batchtest::photoAt(
        testsupport::writeFile(b.dir.filePath("src/foveon.x3f"), QByteArray("FOVb\0\0\x02\0", 8) + QByteArray(4096, 'x')));
    const BatchRunInput in = b.input();
    RunHarness run;
    ASSERT_TRUE(run.start(in));
    EXPECT_EQ(b.photos[0]->processStatus, PhotoFile::Failed);
    EXPECT_TRUE(b.photos[0]->processInfoMessage.startsWith(runmessages::Unreadable));
    EXPECT_TRUE(b.photos[0]->processInfoMessage.contains(QStringLiteral("damaged")))
        << b.photos[0]->processInfoMessage.toStdString();
    EXPECT_FALSE(b.photos[0]->processInfoMessage.contains(QStringLiteral("not one this program can read")));
    EXPECT_TRUE(b.photos[1]->processInfoMessage.contains(QStringLiteral("Sigma X3F")))
        << b.photos[1]->processInfoMessage.toStdString();
}

// A photo of a kind this program reads but coded in a way its reader lacks says which
// coding; a damaged one says only that it could not be read, never that it is of a kind
// not read.
TEST(RunStatus, APhotoCodedInAWayItsReaderLacksSaysWhich) {
    Batch b(0);
    const auto sample = [](const char* name) {
        return testsupport::readFile(
            testsupport::sourcePath(QStringLiteral("tests/platform/imageio/data/") + QLatin1String(name)));
    };
    // ffmpeg's lossless JPEG; cjpeg's JPEG cut short.
    b.photos << batchtest::photoAt(testsupport::writeFile(b.dir.filePath("src/lossless.jpg"),
                                                          sample("jpeg_lossless_ffmpeg.jpg")));
    const QByteArray whole = sample("jpeg_cjpeg.jpg");
    b.photos << batchtest::photoAt(testsupport::writeFile(b.dir.filePath("src/cut.jpg"), whole.left(whole.size() / 2)));
    const BatchRunInput in = b.input();
    RunHarness run;
    ASSERT_TRUE(run.start(in));
    EXPECT_EQ(b.photos[0]->processStatus, PhotoFile::Failed);
    EXPECT_EQ(b.photos[0]->processInfoMessage,
              platform::format(runmessages::UnreadableBecause,
                               QStringLiteral("lossless and hierarchical JPEG photos cannot be read by this program")));
    EXPECT_EQ(b.photos[1]->processStatus, PhotoFile::Failed);
    EXPECT_EQ(b.photos[1]->processInfoMessage, runmessages::Unreadable);
}

// A crafted camera raw file on which the raw library overflows a buffer while it
// identifies the camera, and the C library then ends the process it runs in: that photo
// could not be read, as a damaged file, and the run goes on to the raw file after it.
TEST(RunStatus, ARawFileThatAbortsItsReaderFailsThatPhotoOnly) {
    Batch b(0);
    b.photos << batchtest::photoAt(testsupport::writeFile(
        b.dir.filePath("src/crafted.3fr"),
        testsupport::sourceBytes(QStringLiteral("bench/fuzz/corpus/read_only_formats/raw_libraw_model_abort.3fr"))));
    b.photos << batchtest::photoAt(
        testsupport::writeFile(b.dir.filePath("src/photo.dng"), testsupport::makeDng(testsupport::patchScene(400, 300))));
    const BatchRunInput in = b.input();
    RunHarness run;
    ASSERT_TRUE(run.start(in));
    EXPECT_TRUE(run.recorder.finished);
    EXPECT_EQ(b.photos[0]->processStatus, PhotoFile::Failed);
    EXPECT_EQ(b.photos[0]->processInfoMessage,
              platform::format(runmessages::UnreadableBecause, QStringLiteral("the camera raw file is damaged")));
    EXPECT_EQ(b.photos[1]->processStatus, PhotoFile::Processed);
    EXPECT_EQ(leftIn(b.dir.filePath("out")), QStringList{QStringLiteral("photo.png")});
}

// A HEIC whose HEVC stream is damaged (grown by fuzzing from a conformance file) fails as
// damaged, and nothing is written for it.
TEST(RunStatus, AHeicWhoseStreamIsDamagedFailsAsDamaged) {
    Batch b(0);
    b.photos << batchtest::photoAt(testsupport::writeFile(
        b.dir.filePath("src/damaged.heic"),
        testsupport::sourceBytes(QStringLiteral("bench/fuzz/corpus/read_only_formats/heic_damaged_hevc.heic"))));
    const BatchRunInput in = b.input();
    RunHarness run;
    ASSERT_TRUE(run.start(in));
    EXPECT_EQ(b.photos[0]->processStatus, PhotoFile::Failed);
    EXPECT_EQ(b.photos[0]->processInfoMessage,
              platform::format(runmessages::UnreadableBecause, QStringLiteral("the picture in this HEIF file is damaged")));
    EXPECT_TRUE(leftIn(b.dir.filePath("out")).isEmpty());
}

// A camera raw file whose reader could not be started, or was killed from outside while it
// read, fails with that said rather than as a damaged file.
TEST(RunStatus, ARawFileWhoseReaderCouldNotReadItSaysWhy) {
    BRISKO_STARTS_A_PROCESS();
    const struct {
        const char* what;
        const char* hook;
        bool killed;
        QString words;
    } cases[] = {
        {"no reader could be started", "unstartable", false,
         QStringLiteral("the program's reader for this kind of photo could not be started")},
        {"its reader was killed", "pause=20000", true,
         QStringLiteral("the program's reader for this kind of photo was stopped from outside (by another program, or "
                        "as the system ran short of memory)")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Batch b(0);
        b.photos << batchtest::photoAt(testsupport::writeFile(b.dir.filePath("src/photo.dng"),
                                                              testsupport::makeDng(testsupport::patchScene(400, 300))));
        const BatchRunInput in = b.input();
        testsupport::HelperHook hook(c.hook);
        std::optional<testsupport::HelperKiller> killer;
        if (c.killed) killer.emplace();
        RunHarness run;
        ASSERT_TRUE(run.start(in));
        EXPECT_TRUE(run.recorder.finished);
        EXPECT_EQ(b.photos[0]->processStatus, PhotoFile::Failed);
        EXPECT_EQ(b.photos[0]->processInfoMessage, platform::format(runmessages::UnreadableBecause, c.words));
        EXPECT_TRUE(leftIn(b.dir.filePath("out")).isEmpty());
    }
}

// After the output is in place: a source another run moved away meanwhile is said to be
// gone, not to stay in place; an output folder removed under the run is said to be gone,
// not a full disk.
TEST(RunStatus, WhatHappenedAroundTheOutputIsSaid) {
    {
        Batch b(2);
        b.output->moveAndRenameToDestinationFolder = true;
        b.output->copyyToDestinationFolder = false;
        const BatchRunInput in = b.input();
        RunHarness run;
        const QString taken = b.photos[0]->filePath;
        run.runner.setWriterSetUp([taken](ResultWriter& writer) {
            writer.beforePlacing = [taken](const QString&, const QString&) {
                // The other run's move of the same photo.
                QFile::rename(taken, taken + QStringLiteral(".elsewhere"));
            };
        });
        ASSERT_TRUE(run.start(in));
        EXPECT_EQ(b.photos[0]->processInfoMessage, runmessages::SourceGoneBeforeTrash);
        EXPECT_TRUE(QFileInfo::exists(in.snapshot.destinationPaths[0]->filePath));
        EXPECT_TRUE(QFileInfo::exists(taken + QStringLiteral(".elsewhere")));
    }
    {
        Batch b(2);
        const BatchRunInput in = b.input();
        RunHarness run;
        const QString out = b.dir.filePath("out");
        run.runner.setWriterSetUp([out](ResultWriter& writer) {
            // Renamed away first, so the folder leaves its place at once even while the
            // other photo is still writing into it.
            writer.beforePlacing = [out](const QString&, const QString&) {
                const QString away = out + QStringLiteral(".removed");
                if (QDir().rename(out, away)) testsupport::removeTree(away);
            };
        });
        ASSERT_TRUE(run.start(in));
        for (int i = 0; i < 2; ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(b.photos[i]->processStatus, PhotoFile::Failed);
            EXPECT_EQ(b.photos[i]->processInfoMessage, runmessages::OutputFolderGone);
        }
    }
    {
        // Removed and made again (by the next photo of the run, say): this photo's file
        // went with the first folder all the same.
        Batch b(1);
        const BatchRunInput in = b.input();
        RunHarness run;
        const QString out = b.dir.filePath("out");
        run.runner.setWriterSetUp([out](ResultWriter& writer) {
            writer.beforePlacing = [out](const QString&, const QString&) {
                testsupport::removeTree(out);
                QDir().mkpath(out);
            };
        });
        ASSERT_TRUE(run.start(in));
        EXPECT_EQ(b.photos[0]->processStatus, PhotoFile::Failed);
        EXPECT_EQ(b.photos[0]->processInfoMessage, runmessages::OutputFolderGone);
    }
}

// Bitmaps and icons once written wrong and called processed: each is now written as its
// writer meant it or fails with what is wrong. A bitmap whose pixel offset points into its
// colour table (the BMP suite's 8-bit picture so changed), the BMP suite's bitmap whose
// run lengths run off the picture, image-rs' icon whose 24-bit picture has a mask, and
// ImageMagick's bitmap with an embedded profile (one that swaps red and green).
TEST(RunStatus, BitmapsAndIconsAreWrittenAsMeantOrFailSayingWhy) {
    Batch b(0);
    const auto data = [](const char* name) {
        return testsupport::sourcePath(QStringLiteral("tests/platform/imageio/data/") + QLatin1String(name));
    };
    const char* sources[] = {"bmp_offset_inside_palette.bmp", "bmp_rle_undefined_pixels.bmp", "ico_24bit_and_mask.ico",
                             "bmp_v5_swapped_profile_imagemagick.bmp"};
    for (const char* source : sources)
        b.photos << batchtest::photoAt(
            testsupport::writeFile(b.dir.filePath(QStringLiteral("src/") + QLatin1String(source)),
                                   testsupport::readFile(data(source))));
    const BatchRunInput in = b.input();
    RunHarness run;
    ASSERT_TRUE(run.start(in));
    EXPECT_TRUE(run.recorder.finished);
    const auto written = [&](int i) { return platform::readImage(in.snapshot.destinationPaths[i]->filePath); };
    const auto reference = [&](const char* name) {
        return QImage(data(name)).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    };

    EXPECT_EQ(b.photos[0]->processStatus, PhotoFile::Processed);
    EXPECT_GE(testsupport::psnr(written(0), reference("bmp_offset_inside_palette_ref.png")), 40.0);

    EXPECT_EQ(b.photos[1]->processStatus, PhotoFile::Failed);
    EXPECT_EQ(b.photos[1]->processInfoMessage,
              platform::format(runmessages::UnreadableBecause,
                               QStringLiteral("the bitmap is damaged: its run-length codes run off the picture")));
    EXPECT_FALSE(QFileInfo::exists(in.snapshot.destinationPaths[1]->filePath));

    EXPECT_EQ(b.photos[2]->processStatus, PhotoFile::Processed);
    EXPECT_GE(testsupport::psnr(written(2), reference("ico_24bit_and_mask_ref.png")), 40.0);

    EXPECT_EQ(b.photos[3]->processStatus, PhotoFile::Processed);
    const QByteArray bmp = testsupport::readFile(data("bmp_v5_swapped_profile_imagemagick.bmp"));
    const QByteArray profile = bmp.mid(14 + qFromLittleEndian<quint32>(bmp.constData() + 14 + 112),
                                       qFromLittleEndian<quint32>(bmp.constData() + 14 + 116));
    EXPECT_EQ(platform::readImageHeader(in.snapshot.destinationPaths[3]->filePath).iccProfile, profile);
}
