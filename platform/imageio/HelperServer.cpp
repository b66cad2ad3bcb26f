// The decoder helper's side: one request at a time from the program that started it,
// each under an address-space limit sized from the request's budget, until the program
// goes away or no work has come for a while.
#include "platform/imageio/HelperMessages.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/ProgramThreads.h"

#include <QByteArray>
#include <QFile>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <new>
#include <poll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define BRISKO_HELPER_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define BRISKO_HELPER_SANITIZED 1
#endif
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
// loop for ever (so a test can see the time limit end it).
void testHook() {
    static const QByteArray hook = qgetenv("BRISKO_DECODER_TEST");
    if (hook.startsWith("pause=")) {
        std::this_thread::sleep_for(std::chrono::milliseconds(hook.mid(6).toInt()));
    } else if (hook == "spin") {
        volatile uint64_t n = 0;
        for (;;) n = n + 1;
    }
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

// The request's work, into the answer; the picture and the facts' blocks go beside it.
void work(const HelperRequest& request, Bytes in, HelperAnswer& answer, QImage& picture, ReadOnlyFacts& facts) {
    const HelperCodecEntry* entry = helperCodecEntry(request.codec);
    switch (request.operation) {
    case HelperOperation::Facts:
        facts = entry->facts(in);
        answer.hasFacts = true;
        answer.header = facts.header;
        answer.depth = facts.depth;
        answer.hasAlpha = facts.hasAlpha.value_or(false);
        answer.metadataInBlocks = facts.metadataInBlocks;
        break;
    case HelperOperation::Decode: {
        DecodeResult why;
        picture = entry->decode(in, request.options, request.name, &why);
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
};

// One request, answered; false when the channel is gone.
bool serve(const Helper& helper, const HelperRequest& request, int fileFd) {
    testHook();
    HelperAnswer answer;
    QImage picture;
    ReadOnlyFacts facts;
    {
        // The program's own descriptor, opened again: the same file, mapped here under this
        // process's bus-error guard.
        FileBytes file;
        const bool opened = file.open(QStringLiteral("/proc/self/fd/%1").arg(fileFd));
        if (!opened && file.readFailed) {
            answer.failure = DecodeFailure::ReadError;  // the disk could not give its bytes
        } else if (!opened || int64_t(file.bytes.size) != request.size) {
            answer.changed = true;
        } else {
            limitAddressSpace(request, helper.addressSpace);
            try {
                work(request, file.bytes, answer, picture, facts);
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
    ::close(fileFd);
    bool failed = false;
    const int payload = answer.changed ? -1
                                       : writeHelperPayload(picture, imageProfile(picture),
                                                            answer.hasFacts ? &facts : nullptr, answer,
                                                            helper.exchange, &failed);
    picture = QImage();
    if (failed) {
        log(u"%@: the decoded picture could not be handed over (%@)", request.name,
            QString::fromLocal8Bit(std::strerror(errno)));
        answer = HelperAnswer{};
        answer.failure = DecodeFailure::OverBudget;
    }
    if (answer.changed) {
        answer = HelperAnswer{};
        answer.changed = true;
    }
    const bool sent = sendHelperMessage(kChannel, encodeAnswer(answer), payload);
    if (payload >= 0) ::close(payload);
    return sent;
}

bool tiredOut() {
    rusage used{};
    if (getrusage(RUSAGE_SELF, &used) != 0) return false;
    return rlim_t(used.ru_utime.tv_sec + used.ru_stime.tv_sec) > kProcessorSeconds / 2;
}

}  // namespace

int serveHelperRequests(int argc, char** argv) {
    if (argc != 3 || std::strcmp(argv[1], "--serve") != 0) {
        std::fprintf(stderr, "BriskoDecoder is started by Brisko Photos, not by hand\n");
        return 2;
    }
    // The test hook's stand-in for a helper that cannot run (its libraries missing).
    if (qgetenv("BRISKO_DECODER_TEST") == "unstartable") return 127;
    // Nothing of the program's but the channel and the exchange buffer (and the standard
    // three).
    syscall(SYS_close_range, kHelperExchangeFd + 1, ~0U, 0);
    std::signal(SIGPIPE, SIG_IGN);
    watchParent(pid_t(std::atoll(argv[2])));
    const rlimit processor{kProcessorSeconds, kProcessorSeconds};
    setrlimit(RLIMIT_CPU, &processor);
    // Pictures and buffers of a few megabytes stay in the heap between requests: faulting
    // their pages in afresh for each thumbnail took longer than making it.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    Helper helper;
    void* exchange = mmap(nullptr, kHelperExchangeBytes, PROT_READ | PROT_WRITE, MAP_SHARED, kHelperExchangeFd, 0);
    if (exchange != MAP_FAILED) helper.exchange = static_cast<uint8_t*>(exchange);
    helper.addressSpace = addressSpaceNow();

    QByteArray buffer;
    bool trimmed = true;
    for (;;) {
        pollfd p{kChannel, POLLIN, 0};
        const int ready = poll(&p, 1, trimmed ? kIdleMilliseconds : kTrimMilliseconds);
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0 && !trimmed) {
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
