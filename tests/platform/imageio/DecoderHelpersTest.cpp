// The helper processes camera raw files are read in: a helper that dies or loops fails
// the photo in hand only, the next photo gets a fresh helper, a helper holds nothing of
// the program's but its channel and the file it reads, and it goes when the program
// goes. What a helper answers is untrusted: the messages and the memfd beside them are
// refused unless every size fits.
#include "platform/imageio/DecoderHelpers.h"
#include "platform/imageio/HelperMessages.h"
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/ImageProperties.h"
#include "tests/support/BoundedRun.h"
#include "tests/support/DecoderHelperHooks.h"
#include "tests/support/PhotoSamples.h"
#include "tests/support/Sanitizers.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using platform::DecodeFailure;
using testsupport::HelperHook;
using testsupport::workingHelper;

namespace {

QStringList openFilesOf(qint64 pid) {
    QStringList targets;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString& fd : fds.entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System))
        targets << QFile::symLinkTarget(fds.filePath(fd));
    return targets;
}

bool processGone(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return true;
    const QByteArray fields = stat.readAll();
    return fields.mid(fields.lastIndexOf(')') + 2, 1) == "Z";  // ended, not yet collected
}

struct RawPhotos {
    QTemporaryDir dir;
    QString first, second;
    RawPhotos() {
        const QByteArray dng = testsupport::makeDng(testsupport::patchScene(128, 64));
        first = testsupport::writeFile(dir.filePath(QStringLiteral("first.dng")), dng);
        second = testsupport::writeFile(dir.filePath(QStringLiteral("second.dng")), dng);
    }
};

const QString kNotStartedWords = QStringLiteral("the program's reader for this kind of photo could not be started");
const QString kStoppedWords = QStringLiteral(
    "the program's reader for this kind of photo was stopped from outside (by another program, or as the system ran "
    "short of memory)");

void expectDamaged(const platform::DecodeResult& r) {
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.failure, DecodeFailure::Damaged);
    EXPECT_EQ(r.detail, QStringLiteral("the camera raw file is damaged"));
}

void expectReads(const QString& path) {
    const platform::DecodeResult r = platform::decodeImage(path);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.image.size(), QSize(128, 64));
    EXPECT_LE(testsupport::worstPatchError(r.image), 6);
}

}  // namespace

// Killed while it reads (as the kernel kills a process that runs out of memory): that
// file could not be read, which is said as what it is rather than as damage, and the next
// file is read by a fresh helper.
TEST(DecoderHelpers, AHelperKilledMidDecodeFailsThatFileOnly) {
    BRISKO_STARTS_A_PROCESS();
    RawPhotos photos;
    // A file of the program's own, open without close-on-exec as libraries leave some.
    const int inherited = ::open(QFile::encodeName(photos.second).constData(), O_RDONLY);
    ASSERT_GE(inherited, 0);
    HelperHook hook("pause=20000");
    platform::DecodeResult killed;
    std::thread reader([&] { killed = platform::decodeImage(photos.first); });
    const qint64 helper = workingHelper();
    ASSERT_GT(helper, 0);
    // Once it has the file, it holds the standard streams, its channel, its exchange
    // buffer, its picture memory, its watch on the program and that file, and none of the
    // program's other files.
    QStringList open;
    for (int i = 0; i < 2000 && !open.contains(QFileInfo(photos.first).canonicalFilePath()); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        open = openFilesOf(helper);
    }
    ::close(inherited);
    EXPECT_TRUE(open.contains(QFileInfo(photos.first).canonicalFilePath())) << open.join(' ').toStdString();
    EXPECT_FALSE(open.contains(QFileInfo(photos.second).canonicalFilePath())) << open.join(' ').toStdString();
    EXPECT_LE(open.size(), 8) << open.join(' ').toStdString();
    ::kill(pid_t(helper), SIGKILL);
    reader.join();
    EXPECT_EQ(killed.failure, DecodeFailure::OutOfMemory);
    EXPECT_EQ(killed.detail, kStoppedWords);
    hook.undo();
    expectReads(photos.second);
    expectReads(photos.first);
}

// Why a raw file gives no header or picture is said as what it is: no helper could be
// started, a helper was killed from outside, or the file itself (here a real crafted file
// on which the library aborts) ended its helper. Only the last is damage.
TEST(DecoderHelpers, AReaderThatCouldNotStartOrWasStoppedIsNotCalledDamage) {
    BRISKO_STARTS_A_PROCESS();
    RawPhotos photos;
    const QString aborting = testsupport::writeFile(
        photos.dir.filePath(QStringLiteral("model.3fr")),
        testsupport::sourceBytes(QStringLiteral("bench/fuzz/corpus/read_only_formats/raw_libraw_model_abort.3fr")));
    const struct {
        const char* what;
        const char* hook;
        bool killed;
        QString path;
        DecodeFailure failure;
        QString words;
        DecodeFailure headerFailure;
    } cases[] = {
        {"no helper could be started", "unstartable", false, photos.first, DecodeFailure::Unsupported,
         kNotStartedWords, DecodeFailure::Unsupported},
        {"killed from outside", "pause=20000", true, photos.first, DecodeFailure::OutOfMemory, kStoppedWords,
         DecodeFailure::OutOfMemory},
        {"ended by the file", "", false, aborting, DecodeFailure::Damaged,
         QStringLiteral("the camera raw file is damaged"), DecodeFailure::None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HelperHook hook(c.hook);
        std::optional<testsupport::HelperKiller> killer;
        if (c.killed) killer.emplace();
        const platform::DecodeResult decoded = platform::decodeImage(c.path);
        EXPECT_FALSE(decoded.ok());
        EXPECT_EQ(decoded.failure, c.failure);
        EXPECT_EQ(decoded.detail, c.words);
        platform::DecodeResult why;
        EXPECT_FALSE(platform::readImageHeader(c.path, &why).valid());
        EXPECT_EQ(why.failure, c.headerFailure);
        EXPECT_EQ(why.detail, c.headerFailure == DecodeFailure::None ? QString() : c.words);
        if (c.killed) {
            EXPECT_GE(killer->killed(), 2);
        }
    }
    expectReads(photos.second);
}

// A helper taken over by a file can do nothing the user's files, processes or the network
// would feel: asked to make a file, connect to a socket, run a program, start a process,
// kill another or type into its terminal, it is ended by its filter before the call is
// made, and that photo fails with a status.
TEST(DecoderHelpers, AHelperTakenOverIsEndedBeforeItOpensConnectsOrRuns) {
    BRISKO_STARTS_A_PROCESS();
    RawPhotos photos;
    const QString made = photos.dir.filePath(QStringLiteral("made-by-the-helper"));
    const QString ran = photos.dir.filePath(QStringLiteral("made-by-a-shell"));
    // A socket the test listens on: a helper that reached it would be waiting to be accepted.
    const QString socketPath = photos.dir.filePath(QStringLiteral("listening"));
    const int listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, QFile::encodeName(socketPath).constData(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listening, 4), 0);
    // Another process of the user's.
    pid_t victim = -1;
    char sleeper[] = "sleep", longEnough[] = "60";
    char* sleepArgs[] = {sleeper, longEnough, nullptr};
    ASSERT_EQ(posix_spawnp(&victim, "sleep", nullptr, nullptr, sleepArgs, environ), 0);
    const struct {
        const char* what;
        QByteArray hook;
    } cases[] = {
        {"make a file", "create=" + QFile::encodeName(made)},
        {"connect to a socket", "connect=" + QFile::encodeName(socketPath)},
        {"run a shell", "exec=" + QFile::encodeName(ran)},
        {"start a process", "fork"},
        {"kill another process", "kill=" + QByteArray::number(qint64(victim))},
        {"type into its terminal", "type"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HelperHook hook(c.hook.constData());
        expectDamaged(platform::decodeImage(photos.first));
        EXPECT_FALSE(QFileInfo::exists(made));
        EXPECT_FALSE(QFileInfo::exists(ran));
        const int accepted = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
        EXPECT_LT(accepted, 0) << "a helper connected";
        if (accepted >= 0) ::close(accepted);
        EXPECT_EQ(::waitpid(victim, nullptr, WNOHANG), 0) << "another process was killed";
    }
    ::close(listening);
    ::kill(victim, SIGKILL);
    ::waitpid(victim, nullptr, 0);
    expectReads(photos.second);
}

// An 80-byte CR3 grown by fuzzing sends LibRaw's CR3 parser round for minutes: a helper
// gives up on a file whose layout it cannot make out within seconds, asked for the picture
// as for the header, and the photo fails as damaged; the next photo reads.
TEST(DecoderHelpers, AFileWhoseLayoutTakesTooLongFailsInSeconds) {
    BRISKO_STARTS_A_PROCESS();
    const QString loop = testsupport::sourcePath(QStringLiteral("tests/platform/imageio/data/raw_cr3_parser_loop.cr3"));
    QElapsedTimer clock;
    clock.start();
    expectDamaged(platform::decodeImage(loop));
    EXPECT_LT(clock.restart(), 15'000);  // the time limit for a picture: 120 s
    EXPECT_FALSE(platform::readImageHeader(loop).valid());
    EXPECT_LT(clock.elapsed(), 15'000);  // for a header: 20 s
    RawPhotos photos;
    expectReads(photos.first);
}

// LibRaw is in the helpers' memory and not in the program's: having developed a raw
// file, made its thumbnail and read its properties, the program holds no raw reader.
TEST(DecoderHelpers, OnlyTheHelperHoldsTheRawReader) {
    BRISKO_STARTS_A_PROCESS();
    RawPhotos photos;
    expectReads(photos.first);
    EXPECT_FALSE(platform::makeThumbnail(photos.first, 32, 32).isNull());
    EXPECT_FALSE(platform::readImageProperties(photos.first).isEmpty());
    const auto mapsOf = [](const QString& process) {
        QFile maps(QStringLiteral("/proc/%1/maps").arg(process));
        return maps.open(QIODevice::ReadOnly) ? maps.readAll() : QByteArray();
    };
    const QByteArray own = mapsOf(QStringLiteral("self"));
    ASSERT_FALSE(own.isEmpty());
    EXPECT_FALSE(own.contains("libraw")) << "LibRaw is mapped in the program";

    // Once a helper holds the file it has read the request, and so is past its start-up.
    HelperHook hook("pause=20000");
    std::thread reader([&] { platform::decodeImage(photos.first); });
    const qint64 helper = workingHelper();
    for (int i = 0; helper > 0 && i < 2000 && !openFilesOf(helper).contains(QFileInfo(photos.first).canonicalFilePath()); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const QByteArray helpers = helper > 0 ? mapsOf(QString::number(helper)) : QByteArray();
    if (helper > 0) ::kill(pid_t(helper), SIGKILL);
    reader.join();
    EXPECT_TRUE(helpers.contains("libraw")) << "the check does not see LibRaw where it is";
}

// A helper starts with nothing of the program's environment (but the test hook), can gain
// no privileges, runs under its filter, and is the first process the kernel ends when
// memory runs short.
TEST(DecoderHelpers, AHelperHasNothingOfTheProgramsAndIsFirstToGo) {
    BRISKO_STARTS_A_PROCESS();
    RawPhotos photos;
    qputenv("BRISKO_TEST_PROGRAMS_OWN", "a value of the program's");
    HelperHook hook("pause=20000");
    std::thread reader([&] { platform::decodeImage(photos.first); });
    const qint64 helper = workingHelper();
    qunsetenv("BRISKO_TEST_PROGRAMS_OWN");
    ASSERT_GT(helper, 0);
    // Once it holds the file it has read the request, and so is past its start-up.
    for (int i = 0; i < 2000 && !openFilesOf(helper).contains(QFileInfo(photos.first).canonicalFilePath()); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto procFile = [&](const char* name) {
        QFile f(QStringLiteral("/proc/%1/%2").arg(helper).arg(QLatin1String(name)));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArrayList environment = procFile("environ").split('\0');
    EXPECT_TRUE(environment.contains("BRISKO_DECODER_TEST=pause=20000"));
    for (const QByteArray& entry : environment)
        EXPECT_TRUE(entry.isEmpty() || entry.startsWith("BRISKO_DECODER_TEST=") || entry.contains("SAN_OPTIONS="))
            << entry.toStdString();
    EXPECT_EQ(procFile("oom_score_adj").trimmed(), "1000");
    const QByteArray status = procFile("status");
    EXPECT_TRUE(status.contains("NoNewPrivs:\t1")) << status.toStdString();
    EXPECT_TRUE(status.contains("Seccomp:\t2")) << status.toStdString();
    ::kill(pid_t(helper), SIGKILL);
    reader.join();
}

// A helper keeps its working memory from photo to photo: a second photo as large as the
// first is developed and handed over in the memory the first left behind (LibRaw's
// buffers, the picture memory), with a fraction of the page faults a fresh start takes. A
// picture the program still holds is never written over: the next photo goes into a
// memory of its own.
TEST(DecoderHelpers, AHelperKeepsItsWorkingMemoryButNeverWritesOverAPictureStillHeld) {
    BRISKO_STARTS_A_PROCESS();
    QTemporaryDir dir;
    // Photos of 17 megapixels developed at half size, as a run that makes them smaller does:
    // LibRaw's buffers of 35 MB each, a picture larger than the exchange buffer.
    const QString first = testsupport::writeFile(dir.filePath(QStringLiteral("first.dng")),
                                                 testsupport::makeDng(testsupport::patchScene(4800, 3600)));
    const QString second = testsupport::writeFile(
        dir.filePath(QStringLiteral("second.dng")),
        testsupport::makeDng(testsupport::patchScene(4800, 3600).mirrored(true, true)));
    platform::DecodeOptions halfSize;
    halfSize.minLongSide = 2400;
    halfSize.reducedForOutput = true;
    HelperHook hook("pause=200");
    qint64 helper = -1;
    platform::DecodeResult firstRead;
    std::thread reader([&] { firstRead = platform::decodeImage(first, halfSize); });
    helper = workingHelper();
    reader.join();
    ASSERT_GT(helper, 0);
    ASSERT_TRUE(firstRead.ok());
    ASSERT_GT(firstRead.image.sizeInBytes(), qsizetype(8) << 20);
    const QImage firstCopy = firstRead.image.copy();
    const auto helperFaults = [&] {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(helper));
        if (!stat.open(QIODevice::ReadOnly)) return -1LL;
        const QByteArray fields = stat.readAll();
        return fields.mid(fields.lastIndexOf(')') + 2).split(' ').value(7).toLongLong();
    };

    // Held: the next photo goes elsewhere, and the held picture stays as it was.
    const platform::DecodeResult secondRead = platform::decodeImage(second, halfSize);
    ASSERT_TRUE(secondRead.ok());
    EXPECT_EQ(firstRead.image, firstCopy) << "the held picture was written over";
    EXPECT_NE(secondRead.image, firstCopy);

    // Let go: the next photo of that size takes the memory the last one left.
    firstRead = platform::DecodeResult();
    const QImage secondCopy = secondRead.image.copy();
    {
        // LibRaw's buffers and a free picture memory at this photo's size, once.
        const platform::DecodeResult warm = platform::decodeImage(second, halfSize);
        ASSERT_TRUE(warm.ok());
    }
    const long long before = helperFaults();
    const platform::DecodeResult again = platform::decodeImage(first, halfSize);
    const long long after = helperFaults();
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again.image, firstCopy);
    EXPECT_EQ(secondRead.image, secondCopy);
    ASSERT_GE(before, 0);
    ASSERT_GE(after, 0) << "another helper read the photo";
    // (A sanitizer's allocator keeps LibRaw's freed buffers aside and takes fresh pages.)
    if (!testsupport::builtWithSanitizer()) {
        EXPECT_LT(after - before, secondRead.image.sizeInBytes() / 4096 / 4);
    }
}

// Ctrl+C in a terminal reaches the helpers with the program (one process group), and the
// end of a session reaches every process: the program stops its run itself, and the photo
// a helper reads meanwhile is read, not failed by the signal.
TEST(DecoderHelpers, AHelperReadsOnThroughTheSignalsThatEndASession) {
    BRISKO_STARTS_A_PROCESS();
    RawPhotos photos;
    HelperHook hook("pause=300");
    platform::DecodeResult read;
    std::thread reader([&] { read = platform::decodeImage(photos.first); });
    const qint64 helper = workingHelper();
    ASSERT_GT(helper, 0);
    ::kill(pid_t(helper), SIGINT);
    ::kill(pid_t(helper), SIGTERM);
    reader.join();
    EXPECT_TRUE(read.ok());
    EXPECT_EQ(read.image.size(), QSize(128, 64));
}

// A helper that ends while it waits for work (after its idle time, or killed from
// outside) is collected by the next request, which is read by a fresh helper.
TEST(DecoderHelpers, AHelperThatEndedWhileItWaitedIsCollectedAndReplaced) {
    BRISKO_STARTS_A_PROCESS();
    RawPhotos photos;
    HelperHook hook("pause=100");
    platform::DecodeResult first;
    std::thread reader([&] { first = platform::decodeImage(photos.first); });
    const qint64 helper = workingHelper();
    reader.join();
    ASSERT_GT(helper, 0);
    ASSERT_TRUE(first.ok());
    ::kill(pid_t(helper), SIGKILL);
    for (int i = 0; i < 400 && !processGone(helper); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    expectReads(photos.second);
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/proc/%1").arg(helper))) << "left a zombie";
}

// A file that makes the library loop: the time limit ends the helper, that file could not
// be read, and the next one is read.
TEST(DecoderHelpers, AHelperThatLoopsIsEndedByTheTimeLimit) {
    BRISKO_STARTS_A_PROCESS();
    RawPhotos photos;
    HelperHook hook("spin");
    platform::setDecoderHelperTimeLimit(300);
    QElapsedTimer clock;
    clock.start();
    expectDamaged(platform::decodeImage(photos.first));
    EXPECT_GE(clock.elapsed(), 300);
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_TRUE(platform::busyDecoderHelpers().isEmpty());
    hook.undo();
    expectReads(photos.second);
}

// A helper goes when the process that started it goes, even in the middle of a request.
TEST(DecoderHelpers, AHelperEndsWithItsProgram) {
    BRISKO_STARTS_A_PROCESS();
    RawPhotos photos;
    HelperHook hook("pause=20000");
    QTemporaryDir dir;
    const QString note = dir.filePath(QStringLiteral("helper"));
    const auto run = testsupport::runBounded([&] {
        std::thread([&] { platform::decodeImage(photos.first); }).detach();
        const qint64 helper = workingHelper();
        testsupport::writeFile(note, QByteArray::number(helper));
        return helper > 0;  // and the process ends, its helper in the middle of a request
    });
    ASSERT_TRUE(run.ok(200)) << run.describe().toStdString();
    const qint64 helper = testsupport::readFile(note).toLongLong();
    ASSERT_GT(helper, 0);
    bool gone = false;
    for (int i = 0; i < 400 && !gone; ++i) {
        gone = processGone(helper);
        if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(gone);
}

namespace helpermessages {

using namespace platform::codec;

HelperAnswer pictureAnswer(int w, int h) {
    HelperAnswer a;
    a.hasImage = true;
    a.width = w;
    a.height = h;
    a.format = QImage::Format_ARGB32_Premultiplied;
    a.bytesPerLine = int64_t(w) * 4;
    a.pixels = {0, uint64_t(a.bytesPerLine) * uint64_t(h)};
    return a;
}

// A picture memory holding these bytes, as a helper makes one (sealed against shrinking)
// or not.
int memoryHolding(const QByteArray& bytes, bool sealed) {
    const int fd = memfd_create("test", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0 || ::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size()) return -1;
    if (sealed) fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK);
    return fd;
}

}  // namespace helpermessages

// Nothing but a whole, well-formed answer is read: every shorter piece of one is refused,
// and no change of a byte gives a field out of its range.
TEST(DecoderHelperMessages, AnAnswerIsReadOnlyWhole) {
    using namespace helpermessages;
    HelperAnswer a = pictureAnswer(64, 32);
    a.failure = DecodeFailure::Damaged;
    a.detail = QStringLiteral("the camera raw file is damaged");
    a.hasFacts = true;
    a.header.format = platform::ImageFormat::RAW;
    a.header.width = 64;
    a.header.height = 32;
    a.depth = 16;
    a.exif = {8192, 100};
    const QByteArray whole = encodeAnswer(a);
    const std::optional<HelperAnswer> back = decodeAnswer(whole.constData(), size_t(whole.size()));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->detail, a.detail);
    EXPECT_EQ(back->exif.offset, 8192u);
    for (qsizetype n = 0; n < whole.size(); ++n) EXPECT_FALSE(decodeAnswer(whole.constData(), size_t(n))) << n;
    const QByteArray longer = whole + '\0';
    EXPECT_FALSE(decodeAnswer(longer.constData(), size_t(longer.size())));
    for (qsizetype i = 0; i < whole.size(); ++i) {
        for (const char flip : {char(0x01), char(0x80), char(0xFF)}) {
            QByteArray changed = whole;
            changed[i] = char(changed[i] ^ flip);
            const std::optional<HelperAnswer> read = decodeAnswer(changed.constData(), size_t(changed.size()));
            if (!read) continue;
            EXPECT_LE(int(read->failure), int(DecodeFailure::ChangedWhileRead));
            EXPECT_TRUE(!read->hasImage || (read->width > 0 && read->height > 0 && isHelperPixelFormat(read->format)));
            EXPECT_TRUE(!read->hasFacts || (read->header.orientation >= 1 && read->header.orientation <= 8));
        }
    }
}

// Where a picture travels: the helper's exchange buffer (copied out), or its picture
// memory, sealed against shrinking and large enough for every block it is said to hold;
// either way a picture within the budget, in rows of its width. A whole one gives the
// picture (from the picture memory without a copy, which the program holds until the
// picture goes), which the program may then change as any picture of its own.
TEST(DecoderHelperMessages, APictureIsTakenOnlyWhenItFitsWhereItTravels) {
    using namespace helpermessages;
    QImage picture(64, 32, QImage::Format_ARGB32_Premultiplied);
    picture.fill(qRgb(200, 30, 90));
    const QByteArray rows(reinterpret_cast<const char*>(picture.constBits()), qsizetype(picture.sizeInBytes()));
    QByteArray exchange(qsizetype(kHelperExchangeBytes), '\0');
    exchange.replace(0, rows.size(), rows);
    const auto inExchange = [](HelperAnswer a) {
        a.inExchange = true;
        return a;
    };
    HelperAnswer badRows = pictureAnswer(64, 32);
    badRows.bytesPerLine = 64 * 4 + 4;
    HelperAnswer blockOutside = pictureAnswer(64, 32);
    blockOutside.exif = {uint64_t(rows.size()) - 4, 8};
    HelperAnswer wrapping = pictureAnswer(64, 32);
    wrapping.icc = {~uint64_t(0) - 2, 8};
    HelperAnswer iptcOutside = pictureAnswer(64, 32);
    iptcOutside.iptc = {uint64_t(rows.size()), 1};
    HelperAnswer pastExchange = inExchange(pictureAnswer(64, 32));
    pastExchange.xmp = {kHelperExchangeBytes - 8, 16};
    const struct {
        const char* what;
        HelperAnswer answer;
        QByteArray memory;  // none: the answer says the exchange buffer
        bool sealed;
        int64_t budget;
        bool taken;
    } cases[] = {
        {"in the picture memory", pictureAnswer(64, 32), rows, true, 64 * 32, true},
        {"in a larger picture memory", pictureAnswer(64, 32), rows + rows, true, 64 * 32, true},
        {"in the exchange buffer", inExchange(pictureAnswer(64, 32)), {}, true, 64 * 32, true},
        {"a memory not sealed (it could shrink under the mapping)", pictureAnswer(64, 32), rows, false, 64 * 32, false},
        {"rows past the memory's end", pictureAnswer(64, 32), rows.left(rows.size() - 1), true, 64 * 32, false},
        {"over the budget", pictureAnswer(64, 32), rows, true, 64 * 32 - 1, false},
        {"over the budget, exchanged", inExchange(pictureAnswer(64, 32)), {}, true, 64 * 32 - 1, false},
        {"rows of another width", badRows, rows + rows, true, 64 * 32, false},
        {"a block past the memory's end", blockOutside, rows, true, 64 * 32, false},
        {"a block wrapping around", wrapping, rows, true, 64 * 32, false},
        {"IPTC past the memory's end", iptcOutside, rows, true, 64 * 32, false},
        {"a block past the exchange buffer's end", pastExchange, {}, true, 64 * 32, false},
        {"rows past the exchange buffer's end", inExchange(pictureAnswer(2048, 1025)), {}, true, 1 << 22, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const int memory = c.answer.inExchange ? -1 : memoryHolding(c.memory, c.sealed);
        ASSERT_TRUE(c.answer.inExchange || memory >= 0);
        const auto held = std::make_shared<std::atomic<bool>>(false);
        HelperPayload payload;
        QString problem;
        EXPECT_EQ(readHelperPayload(memory, reinterpret_cast<const uint8_t*>(exchange.constData()), c.answer, c.budget,
                                    payload, &problem, held),
                  c.taken)
            << problem.toStdString();
        if (memory >= 0) ::close(memory);
        if (!c.taken) continue;
        ASSERT_EQ(payload.image.size(), picture.size());
        EXPECT_EQ(payload.image.pixel(10, 10), picture.pixel(10, 10));
        payload.image.setPixel(10, 10, qRgb(1, 2, 3));
        EXPECT_EQ(payload.image.pixel(10, 10), qRgb(1, 2, 3));
        EXPECT_EQ(held->load(), memory >= 0);
        payload.image = QImage();
        EXPECT_FALSE(held->load());
    }
    HelperPayload none;
    QString problem;
    EXPECT_FALSE(readHelperPayload(-1, nullptr, pictureAnswer(64, 32), 64 * 32, none, &problem));
    EXPECT_FALSE(readHelperPayload(-1, nullptr, inExchange(pictureAnswer(64, 32)), 64 * 32, none, &problem));
}
