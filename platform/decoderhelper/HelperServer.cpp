// The decoder helper's side: one request at a time from the program that started it,
// each under an address-space limit sized from the request's budget, until the program
// goes away or no work has come for a while. Once started, a helper is confined (see
// platform/decoderhelper/HelperSandbox.h): it reads the descriptors it is handed and
// opens nothing, so whatever it would otherwise open on first use is made ready first.
#include "platform/imageio/HelperMessages.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/UsableCpus.h"
#include "platform/foundation/ProgramThreads.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <new>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define BRISKO_HELPER_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define BRISKO_HELPER_SANITIZED 1
#endif
#endif
#ifdef BRISKO_HELPER_SANITIZED
#include <sanitizer/common_interface_defs.h>
#endif

namespace platform::codec {

const HelperCodecEntry* helperCodecEntry(HelperCodec codec) {
    static const HelperCodecEntry raw{rawFactsHere, rawDecodeHere};
    switch (codec) {
    case HelperCodec::Raw: return &raw;
    }
    return nullptr;
}

namespace {

constexpr int kChannel = kHelperChannelFd;
// A helper with no work for this long ends; the program starts another when it needs one.
constexpr int kIdleMilliseconds = 30'000;
// After this long without work, memory freed by the last requests goes back to the
// system; until then the next request reuses it rather than fault in fresh pages.
constexpr int kTrimMilliseconds = 1'000;
// Processor time a helper may use in all (the program's clock ends a request long before
// on its own; this holds when the program cannot). A helper past half of it retires
// after its request, so that the limit never ends a healthy one mid-request.
constexpr rlim_t kProcessorSeconds = 600;

constexpr bool kSanitized =
#ifdef BRISKO_HELPER_SANITIZED
    true;
#else
    false;
#endif

// Ends the helper as soon as the program that started it has gone, whatever it is doing:
// the program's process, not the thread that started the helper (which is what
// PR_SET_PDEATHSIG follows; helpers are shared by the program's threads).
void watchParent(pid_t parent) {
    const int pidfd = int(syscall(SYS_pidfd_open, parent, 0));
    if (getppid() != parent) _exit(0);
    try {
        startThread([pidfd, parent] {
            if (pidfd >= 0) {
                pollfd p{pidfd, POLLIN, 0};
                while (poll(&p, 1, -1) < 0 && errno == EINTR) {
                }
                _exit(0);
            }
            // Kernels before 5.3 (and valgrind) have no pidfd: a helper whose program has
            // gone is handed to another parent.
            while (getppid() == parent) std::this_thread::sleep_for(std::chrono::milliseconds(200));
            _exit(0);
        }).detach();
    } catch (...) {
        // No thread to watch with (memory or the system's threads ran short): a helper that
        // could outlive its program serves nothing; the program hears it end.
        _exit(1);
    }
}

// Test hooks, read only here: BRISKO_DECODER_TEST=pause=<ms> makes each request wait that
// long once it has come (so a test can kill the helper at a known moment), =spin makes it
// loop for ever (so a test can see the time limit end it); =create=<path>, =connect=<path
// of a Unix socket>, =exec=<path>, =fork, =kill=<process id> and =type make it try, as a
// helper taken over by a file would, to make a file, connect to a socket, run a shell that
// makes a file, start a process, kill another process, or type into the terminal its
// errors go to, each of which its filter answers by ending it.
void testHook(const QByteArray& hook) {
    if (hook.startsWith("pause=")) {
        std::this_thread::sleep_for(std::chrono::milliseconds(hook.mid(6).toInt()));
    } else if (hook == "spin") {
        volatile uint64_t n = 0;
        for (;;) n = n + 1;
    } else if (hook.startsWith("create=")) {
        const int fd = int(syscall(SYS_openat, AT_FDCWD, hook.mid(7).constData(), O_WRONLY | O_CREAT | O_EXCL, 0600));
        if (fd >= 0) ::close(fd);
    } else if (hook.startsWith("connect=")) {
        const int s = int(syscall(SYS_socket, AF_UNIX, SOCK_STREAM, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, hook.mid(8).constData(), sizeof address.sun_path - 1);
        syscall(SYS_connect, s, &address, sizeof address);
    } else if (hook.startsWith("exec=")) {
        const QByteArray command = "echo > '" + hook.mid(5) + "'";
        const char* args[] = {"/bin/sh", "-c", command.constData(), nullptr};
        const char* none[] = {nullptr};
        syscall(SYS_execve, "/bin/sh", args, none);
    } else if (hook == "fork") {
        const long child = syscall(SYS_fork);
        if (child == 0) _exit(0);
    } else if (hook.startsWith("kill=")) {
        syscall(SYS_kill, pid_t(hook.mid(5).toLongLong()), SIGKILL);
    } else if (hook == "type") {
        const char key = '\n';
        syscall(SYS_ioctl, 2, TIOCSTI, &key);
    }
}

// Makes ready what would otherwise be opened on first use once the helper is confined:
// the time zone the log's clock reads, Exiv2's XMP toolkit, the count of usable CPUs the
// JPEG decoder's workers are sized by, and under a sanitizer the symbolizer's reading of
// the program's own files (for a report's stack).
void prepareForConfinement() {
    (void)QDateTime::currentDateTime().toString(Qt::ISODate);
    prepareMetadataReading();
    (void)usableCpuCount();
#ifdef BRISKO_HELPER_SANITIZED
    char frame[256];
    __sanitizer_symbolize_pc(__builtin_return_address(0), "%p %F %L", frame, sizeof frame);
#endif
}

int64_t addressSpaceNow() {
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    return f.readAll().split(' ').value(0).toLongLong() * sysconf(_SC_PAGESIZE);
}

// What one request may take on top of what the helper held when it started (`base`): the
// file's mapping, the picture at its budget several times over (the library's sensor data
// and working image, the developed rows, the picture handed over) and room for the
// library's threads and the memory kept from earlier requests.
void limitAddressSpace(const HelperRequest& request, int64_t base) {
    // A sanitizer reserves terabytes of address space for its shadow memory.
    if (kSanitized) return;
    rlimit current{};
    if (getrlimit(RLIMIT_AS, &current) != 0) return;
    const int64_t budget = std::min<int64_t>(request.options.pixelBudget, int64_t(1) << 36);
    const int64_t want = base + request.size + budget * 24 + (int64_t(1) << 30);
    rlim_t soft = rlim_t(want);
    if (current.rlim_max != RLIM_INFINITY && soft > current.rlim_max) soft = current.rlim_max;
    const rlimit limit{soft, current.rlim_max};
    setrlimit(RLIMIT_AS, &limit);
}

void liftAddressSpaceLimit() {
    rlimit current{};
    if (kSanitized || getrlimit(RLIMIT_AS, &current) != 0) return;
    current.rlim_cur = current.rlim_max;
    setrlimit(RLIMIT_AS, &current);
}

// The processor-time limit on making out a file's layout (kHelperLayoutSeconds), from
// the start of a request's work until the decoder knows the layout or the work is done.
void limitLayoutTime(int seconds) {
    itimerval limit{};
    limit.it_value.tv_sec = seconds;
    setitimer(ITIMER_PROF, &limit, nullptr);
}

// The request's work, into the answer; the picture and the facts' blocks go beside it.
void work(const HelperRequest& request, Bytes in, HelperAnswer& answer, QImage& picture, ReadOnlyFacts& facts,
          HelperWorkspace& workspace) {
    const HelperCodecEntry* entry = helperCodecEntry(request.codec);
    switch (request.operation) {
    case HelperOperation::Facts:
    case HelperOperation::Properties:
        facts = entry->facts(in, request.operation == HelperOperation::Properties, request.name, workspace);
        answer.hasFacts = true;
        answer.header = facts.header;
        answer.depth = facts.depth;
        answer.hasAlpha = facts.hasAlpha.value_or(false);
        answer.metadataInBlocks = facts.metadataInBlocks;
        break;
    case HelperOperation::Decode: {
        DecodeResult why;
        picture = entry->decode(in, request.options, request.name, &why, workspace);
        if (!picture.isNull() && !isHelperPixelFormat(picture.format()))
            picture = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        answer.failure = picture.isNull() ? why.failure : DecodeFailure::None;
        answer.detail = picture.isNull() ? why.detail : QString();
        break;
    }
    }
}

struct Helper {
    int64_t addressSpace = 0;    // when it started
    uint8_t* exchange = nullptr;  // the program's exchange buffer, mapped
    HelperPictureSpace picture;   // its picture memory (HelperMessages.h)
    HelperWorkspace workspace;
    QByteArray hook;              // the test hook
};

// A picture of `width` x `height` over the start of the picture memory, with room after
// its rows for the blocks that go beside it.
QImage pictureInSpace(HelperPictureSpace& space, int width, int height, QImage::Format format) {
    if (!isHelperPixelFormat(format) || width <= 0 || height <= 0) return QImage();
    const int64_t row = helperBytesPerLine(width, format);
    uint8_t* start = space.reserve(size_t(row * height) + (size_t(1) << 20));
    return start ? QImage(start, width, height, qsizetype(row), format) : QImage();
}

// One request, answered; false when the channel is gone.
bool serve(Helper& helper, const HelperRequest& request, int fileFd) {
    testHook(helper.hook);
    HelperAnswer answer;
    QImage picture;
    ReadOnlyFacts facts;
    // The program still holds the last picture in the picture memory: it keeps that memory
    // (its mapping does), and this request gets another.
    if (request.pictureMemoryHeld) helper.picture.letGo();
    HelperPictureSpace& space = helper.picture;
    helper.workspace.sharedPicture = [&space](int width, int height, QImage::Format format) {
        return pictureInSpace(space, width, height, format);
    };
    {
        // The descriptor the program handed over, mapped here under this process's
        // bus-error guard (and closed with it).
        FileBytes file;
        const bool opened = file.open(fileFd);
        if (!opened && file.readFailed) {
            answer.failure = DecodeFailure::ReadError;  // the disk could not give its bytes
        } else if (!opened || int64_t(file.bytes.size) != request.size) {
            answer.changed = true;
        } else {
            limitAddressSpace(request, helper.addressSpace);
            limitLayoutTime(kHelperLayoutSeconds);
            try {
                work(request, file.bytes, answer, picture, facts, helper.workspace);
            } catch (const std::bad_alloc&) {
                log(u"%@: not enough memory to read the picture", request.name);
                picture = QImage();
                answer = HelperAnswer{};
                answer.failure = DecodeFailure::OverBudget;
            } catch (...) {
                log(u"%@: the picture could not be read", request.name);
                picture = QImage();
                answer = HelperAnswer{};
                answer.failure = DecodeFailure::Damaged;
            }
            limitLayoutTime(0);
            liftAddressSpaceLimit();
            if (file.readError()) {
                // A page the disk could not give faulted as a cut file's would; the file is whole.
                picture = QImage();
                answer = HelperAnswer{};
                answer.failure = DecodeFailure::ReadError;
            } else {
                answer.changed = file.cut();
            }
        }
    }
    helper.workspace.sharedPicture = nullptr;
    const bool handed = answer.changed || writeHelperPayload(picture, imageProfile(picture),
                                                             answer.hasFacts ? &facts : nullptr, answer,
                                                             helper.exchange, &space);
    picture = QImage();
    if (!handed) {
        log(u"%@: the decoded picture could not be handed over (%@)", request.name,
            QString::fromLocal8Bit(std::strerror(errno)));
        answer = HelperAnswer{};
        answer.failure = DecodeFailure::OverBudget;
    }
    if (answer.changed) {
        answer = HelperAnswer{};
        answer.changed = true;
    }
    const bool carried = answer.hasImage || answer.icc.length || answer.exif.length || answer.xmp.length ||
                         answer.iptc.length || answer.imageIcc.length;
    return sendHelperMessage(kChannel, encodeAnswer(answer), carried && !answer.inExchange ? space.fd() : -1);
}

bool tiredOut() {
    rusage used{};
    if (getrusage(RUSAGE_SELF, &used) != 0) return false;
    return rlim_t(used.ru_utime.tv_sec + used.ru_stime.tv_sec) > kProcessorSeconds / 2;
}

}  // namespace

void helperLayoutKnown() { limitLayoutTime(0); }

int serveHelperRequests(int argc, char** argv, bool (*confine)()) {
    if (argc != 3 || std::strcmp(argv[1], "--serve") != 0) {
        std::fprintf(stderr, "BriskoDecoder is started by Brisko Photos, not by hand\n");
        return 2;
    }
    Helper helper;
    helper.hook = qgetenv("BRISKO_DECODER_TEST");
    // The test hook's stand-in for a helper that cannot run (its libraries missing).
    if (helper.hook == "unstartable") return 127;
    // Nothing of the program's but the channel and the exchange buffer (and the standard
    // three).
    syscall(SYS_close_range, kHelperExchangeFd + 1, ~0U, 0);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGPROF, [](int) { _exit(kHelperLayoutTooLongExit); });
    watchParent(pid_t(std::atoll(argv[2])));
    const rlimit processor{kProcessorSeconds, kProcessorSeconds};
    setrlimit(RLIMIT_CPU, &processor);
    // A helper's working memory stays in its heap from request to request, LibRaw's buffers
    // of tens to hundreds of megabytes included: no block gets a mapping of its own (which
    // would go back to the system when freed) and the heap is not trimmed while work comes.
    // Faulting those pages in afresh cost a thumbnail more than making it, and a developed
    // photo a tenth of its time; after a second without work they go back (malloc_trim),
    // with the picture memory.
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, INT_MAX);
    void* exchange = mmap(nullptr, kHelperExchangeBytes, PROT_READ | PROT_WRITE, MAP_SHARED, kHelperExchangeFd, 0);
    if (exchange != MAP_FAILED) helper.exchange = static_cast<uint8_t*>(exchange);
    helper.addressSpace = addressSpaceNow();
    prepareForConfinement();
    if (!confine()) {
        log(u"the decoder helper could not be confined (%@); it ends", QString::fromLocal8Bit(std::strerror(errno)));
        return 2;
    }

    QByteArray buffer;
    bool trimmed = true;
    for (;;) {
        pollfd p{kChannel, POLLIN, 0};
        const int ready = poll(&p, 1, trimmed ? kIdleMilliseconds : kTrimMilliseconds);
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0 && !trimmed) {
            helper.picture.letGo();
            malloc_trim(0);
            trimmed = true;
            continue;
        }
        if (ready <= 0) return 0;  // nothing to do for a while: make room
        trimmed = false;
        int fileFd = -1;
        const HelperReceived got = receiveHelperMessage(kChannel, buffer, &fileFd, 0);
        if (got.size <= 0) return 0;  // the program closed the channel
        const std::optional<HelperRequest> request =
            got.garbled ? std::nullopt : decodeRequest(buffer.constData(), size_t(got.size));
        if (!request || fileFd < 0) {
            if (fileFd >= 0) ::close(fileFd);
            // Not a request of this build's: the program sees the channel close.
            log(u"the decoder helper received a request it cannot read; it ends");
            return 2;
        }
        if (!serve(helper, *request, fileFd) || tiredOut()) return 0;
    }
}

}  // namespace platform::codec
