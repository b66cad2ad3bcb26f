// The program's side of the decoder helpers: finding the helper program, the pool of
// helpers kept for reuse, and one request's round trip under its time limit.
#include "platform/imageio/DecoderHelpers.h"
#include "platform/imageio/HelperMessages.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/UsableCpus.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace codec {
namespace {

constexpr int kFactsMilliseconds = 20'000;
constexpr int kDecodeMilliseconds = 120'000;

const QString kNotStarted = QStringLiteral("the program's reader for this kind of photo could not be started");
// A helper ended by SIGKILL that the program did not send: another program, or the kernel
// short of memory, ended it. Nothing is known of the file.
const QString kStoppedFromOutside = QStringLiteral(
    "the program's reader for this kind of photo was stopped from outside (by another program, or as the "
    "system ran short of memory)");

struct Helper {
    pid_t pid = -1;
    int socket = -1;
    const uint8_t* exchange = nullptr;  // its exchange buffer, mapped read-only
    bool fresh = true;                  // started for this request
    bool working = false;               // has a request
    // Set while the program holds a picture in the helper's picture memory.
    std::shared_ptr<std::atomic<bool>> pictureHeld = std::make_shared<std::atomic<bool>>(false);
};

void closeSocket(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

void unmapExchange(Helper& h) {
    if (h.exchange) munmap(const_cast<uint8_t*>(h.exchange), kHelperExchangeBytes);
    h.exchange = nullptr;
}

// Kills a helper and collects it; its status, for the log.
int endHelper(Helper& h) {
    closeSocket(h.socket);
    unmapExchange(h);
    int status = 0;
    if (h.pid > 0) {
        ::kill(h.pid, SIGKILL);
        while (waitpid(h.pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    h.pid = -1;
    return status;
}

QString describeEnd(int status) {
    if (WIFSIGNALED(status)) return QStringLiteral("signal %1").arg(WTERMSIG(status));
    if (WIFEXITED(status)) return QStringLiteral("exit status %1").arg(WEXITSTATUS(status));
    return QStringLiteral("status %1").arg(status);
}

// A descriptor at `lowest` or above, the one given closed: the helper's descriptors are
// placed with dup2, which must neither land on a source still to be placed nor copy a
// descriptor onto itself (that would leave it close-on-exec).
int above(int fd, int lowest) {
    if (fd < 0 || fd >= lowest) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, lowest);
    ::close(fd);
    return moved;
}

// The exchange buffer for a new helper: a memfd sealed at its size, so that the helper
// can neither shrink it under the program's mapping nor grow it.
int makeExchange() {
    const int fd = memfd_create("brisko-exchange", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) return -1;
    if (ftruncate(fd, off_t(kHelperExchangeBytes)) != 0 ||
        fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizedHelpers = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitizedHelpers = true;
#else
constexpr bool kSanitizedHelpers = false;
#endif
#else
constexpr bool kSanitizedHelpers = false;
#endif

// A helper's environment: nothing of the program's (its paths, its session's addresses,
// anything a taken-over helper could use), but the helpers' test hook and, in a sanitizer
// build, the checkers' options.
QByteArrayList helperEnvironment() {
    QByteArrayList kept;
    QList<const char*> names{"BRISKO_DECODER_TEST"};
    if (kSanitizedHelpers) names << "ASAN_OPTIONS" << "UBSAN_OPTIONS" << "LSAN_OPTIONS" << "TSAN_OPTIONS";
    for (const char* name : names)
        if (qEnvironmentVariableIsSet(name)) kept << QByteArray(name) + '=' + qgetenv(name);
    return kept;
}

Helper startHelper() {
    const QString path = decoderHelperPath();
    if (path.isEmpty()) {
        log(u"the decoder helper program (BriskoDecoder) is missing");
        return {};
    }
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
        log(u"could not make a channel for a decoder helper (%@)", QString::fromLocal8Bit(std::strerror(errno)));
        return {};
    }
    Helper h;
    h.socket = ends[0];
    const int theirs = above(ends[1], kHelperExchangeFd + 1);
    const int exchange = above(makeExchange(), kHelperExchangeFd + 1);
    if (exchange >= 0) {
        void* map = mmap(nullptr, kHelperExchangeBytes, PROT_READ, MAP_SHARED, exchange, 0);
        if (map != MAP_FAILED) h.exchange = static_cast<const uint8_t*>(map);
    }
    const auto giveUp = [&](const QString& why) {
        log(u"could not start the decoder helper %@ (%@)", path, why);
        if (theirs >= 0) ::close(theirs);
        if (exchange >= 0) ::close(exchange);
        closeSocket(h.socket);
        unmapExchange(h);
        return Helper{};
    };
    if (theirs < 0 || !h.exchange) return giveUp(QString::fromLocal8Bit(std::strerror(errno)));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, theirs, kHelperChannelFd);
    posix_spawn_file_actions_adddup2(&actions, exchange, kHelperExchangeFd);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // The signals that end a session reach the helper with the program; it ignores them
    // (it ends when the program does), and holds them off until it has said so.
    sigset_t ending, all;
    sigemptyset(&ending);
    sigaddset(&ending, SIGINT);
    sigaddset(&ending, SIGTERM);
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    posix_spawnattr_setsigmask(&attributes, &ending);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const QByteArray program = QFile::encodeName(path);
    const QByteArray parent = QByteArray::number(qint64(getpid()));
    char* argv[] = {const_cast<char*>(program.constData()), const_cast<char*>("--serve"),
                    const_cast<char*>(parent.constData()), nullptr};
    const QByteArrayList environment = helperEnvironment();
    std::vector<char*> envp;
    for (const QByteArray& entry : environment) envp.push_back(const_cast<char*>(entry.constData()));
    envp.push_back(nullptr);
    const int error = posix_spawn(&h.pid, program.constData(), &actions, &attributes, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) return giveUp(QString::fromLocal8Bit(std::strerror(error)));
    ::close(theirs);
    ::close(exchange);
    return h;
}

// The helpers of this process. One per process, made on first use and never destroyed
// (a helper may still be working when static objects go away); a forked child starts
// with a pool of its own, since the helpers it inherited are its parent's.
class HelperPool {
public:
    static HelperPool& shared() {
        static const bool registered = [] {
            pthread_atfork(beforeFork, afterForkInParent, afterForkInChild);
            return true;
        }();
        (void)registered;
        HelperPool* pool = current_.load(std::memory_order_acquire);
        if (!pool) {
            HelperPool* made = new HelperPool;
            if (current_.compare_exchange_strong(pool, made, std::memory_order_acq_rel)) pool = made;
            else delete made;
        }
        return *pool;
    }

    // A helper for one request: a waiting one, else a new one while fewer than the limit
    // live; otherwise the first to come back. pid -1 when none could be started.
    Helper take() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            // Helpers that ended while they waited (after their idle time, or killed from
            // outside) are collected here, all of them, so that none is left a zombie for
            // longer than until the next request.
            std::vector<Helper> ended;
            const auto gone = std::partition(idle_.begin(), idle_.end(), stillWaiting);
            ended.assign(gone, idle_.end());
            idle_.erase(gone, idle_.end());
            alive_ -= int(ended.size());
            if (!ended.empty()) {
                changed_.notify_all();
                lock.unlock();
                for (Helper& h : ended) endHelper(h);
                lock.lock();
                continue;
            }
            if (!idle_.empty()) {
                // The last to come back whose picture memory holds no picture of the
                // program's, where there is one: that memory is written again, not another
                // made.
                const auto free = std::find_if(idle_.rbegin(), idle_.rend(), [](const Helper& kept) {
                    return !kept.pictureHeld->load(std::memory_order_relaxed);
                });
                const auto at = free == idle_.rend() ? idle_.end() - 1 : std::prev(free.base());
                Helper h = *at;
                idle_.erase(at);
                h.fresh = false;
                busy_.push_back(h);
                return h;
            }
            if (alive_ < limit_) {
                ++alive_;
                lock.unlock();
                Helper h = startHelper();
                lock.lock();
                if (h.pid < 0) {
                    --alive_;
                    changed_.notify_one();
                } else {
                    busy_.push_back(h);
                }
                return h;
            }
            changed_.wait(lock);
        }
    }

    void giveBack(const Helper& h) {
        std::lock_guard<std::mutex> lock(mutex_);
        forget(h.pid);
        idle_.push_back(h);
        idle_.back().working = false;
        changed_.notify_one();
    }

    // Kills the helper; its status, for the log.
    int discard(Helper& h) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            forget(h.pid);
            --alive_;
            changed_.notify_one();
        }
        return endHelper(h);
    }

    void working(pid_t pid) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (Helper& b : busy_)
            if (b.pid == pid) b.working = true;
    }

    QList<qint64> workingPids() {
        std::lock_guard<std::mutex> lock(mutex_);
        QList<qint64> pids;
        for (const Helper& h : busy_)
            if (h.working) pids << qint64(h.pid);
        return pids;
    }

    void endIdle() {
        std::vector<Helper> ending;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ending.swap(idle_);
            alive_ -= int(ending.size());
            changed_.notify_all();
        }
        for (Helper& h : ending) endHelper(h);
    }

    std::atomic<int> timeLimit{0};

private:
    HelperPool() : limit_(std::max(1, usableCpuCount())) {}

    // Whether a helper kept for reuse is still there: one that ended has closed its end.
    static bool stillWaiting(const Helper& h) {
        pollfd p{h.socket, POLLIN, 0};
        return poll(&p, 1, 0) == 0;
    }

    void forget(pid_t pid) {
        busy_.erase(std::remove_if(busy_.begin(), busy_.end(), [&](const Helper& b) { return b.pid == pid; }),
                    busy_.end());
    }

    static void beforeFork() { shared().mutex_.lock(); }
    static void afterForkInParent() { current_.load()->mutex_.unlock(); }
    static void afterForkInChild() {
        // The helpers are the parent's: the child lets its copies of their channels go and
        // leaves the pool, whose lock and waiters belonged to the parent's threads, behind.
        HelperPool* old = current_.load();
        for (Helper& h : old->idle_) closeSocket(h.socket);
        for (Helper& h : old->busy_) closeSocket(h.socket);
        current_.store(nullptr);
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Helper> idle_;
    std::vector<Helper> busy_;
    int alive_ = 0;
    const int limit_;
    static inline std::atomic<HelperPool*> current_{nullptr};
};

enum class Received { Message, Ended, TimedOut, Garbled };

// One message from the helper within `milliseconds`, with the descriptor it carries (the
// first; any others are closed).
Received receive(const Helper& h, int milliseconds, QByteArray& message, int* fd) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return Received::TimedOut;
        pollfd p{h.socket, POLLIN, 0};
        const int ready = poll(&p, 1, int(std::min<long long>(left, INT32_MAX)));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return Received::Ended;
        if (ready > 0) break;
    }
    const HelperReceived got = receiveHelperMessage(h.socket, message, fd, MSG_DONTWAIT);
    if (got.size <= 0) return Received::Ended;
    return got.garbled ? Received::Garbled : Received::Message;
}

struct Outcome {
    // Failed: the helper died on the file, stalled or answered nonsense; Stopped: it was
    // killed by someone else before it answered.
    enum Kind { Answered, NoHelper, Stopped, Failed } kind = Failed;
    HelperAnswer answer;
    HelperPayload payload;
};

// One request's round trip, the picture and blocks of its answer taken out before the
// helper goes back to the pool. A helper that ends, stalls or answers nonsense is killed,
// and the request has failed, with one exception: a helper kept from earlier requests
// that ends without an answer may have ended before it read this one (after its idle
// time), or from harm an earlier file did it, so the request goes to a fresh helper; a
// fresh helper's end is the file's doing, unless a SIGKILL ended it: the program sends
// that only after its own checks have failed, so one that came first was sent from
// outside (another program, the kernel out of memory).
Outcome ask(const HelperRequest& request, int fileFd, int64_t pixelBudget) {
    HelperPool& pool = HelperPool::shared();
    int limit = pool.timeLimit.load(std::memory_order_relaxed);
    if (limit <= 0) limit = request.operation == HelperOperation::Decode ? kDecodeMilliseconds : kFactsMilliseconds;
    Outcome outcome;
    for (;;) {
        Helper h = pool.take();
        if (h.pid < 0) {
            outcome.kind = Outcome::NoHelper;
            return outcome;
        }
        pool.working(h.pid);
        HelperRequest sent = request;
        sent.pictureMemoryHeld = h.pictureHeld->load(std::memory_order_acquire);
        // The helper lets that memory go and makes another, which gets a flag of its own
        // (the picture keeps the old one).
        if (sent.pictureMemoryHeld) h.pictureHeld = std::make_shared<std::atomic<bool>>(false);
        QByteArray reply;
        int payload = -1;
        const Received got = sendHelperMessage(h.socket, encodeRequest(sent), fileFd)
                                 ? receive(h, limit, reply, &payload)
                                 : Received::Ended;
        std::optional<HelperAnswer> answer;
        if (got == Received::Message) answer = decodeAnswer(reply.constData(), size_t(reply.size()));
        QString problem;
        if (answer && readHelperPayload(payload, h.exchange, *answer, pixelBudget, outcome.payload, &problem,
                                        h.pictureHeld)) {
            if (payload >= 0) ::close(payload);
            pool.giveBack(h);
            outcome.kind = Outcome::Answered;
            outcome.answer = std::move(*answer);
            return outcome;
        }
        if (payload >= 0) ::close(payload);
        const bool fresh = h.fresh;
        const int status = pool.discard(h);
        if (got == Received::Ended && WIFEXITED(status) && WEXITSTATUS(status) == kHelperLayoutTooLongExit) {
            // (It ends so only while it works on a request: this one.)
            log(u"%@: the decoder helper could not make out the file's layout in %@ s; it gave up", request.name,
                kHelperLayoutSeconds);
            outcome.kind = Outcome::Failed;
            return outcome;
        }
        if (got == Received::Ended && !fresh) continue;
        const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (got == Received::Ended && fresh && (code == 0 || code == 2 || code == 126 || code == 127)) {
            // It ended of its own accord before it read anything: it could not run (the
            // program's libraries missing, another build's helper refusing the request).
            log(u"%@: the decoder helper ended as it started (%@)", request.name, describeEnd(status));
            outcome.kind = Outcome::NoHelper;
            return outcome;
        }
        if (got == Received::Ended && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) {
            log(u"%@: the decoder helper was killed from outside while it read the file", request.name);
            outcome.kind = Outcome::Stopped;
            return outcome;
        }
        if (got == Received::TimedOut)
            log(u"%@: the decoder helper was still reading after %@ s; it was ended", request.name, limit / 1000.0);
        else if (got == Received::Ended)
            log(u"%@: the decoder helper ended while it read the file (%@)", request.name, describeEnd(status));
        else if (answer)
            log(u"%@: the decoder helper's answer was refused: %@", request.name, problem);
        else
            log(u"%@: the decoder helper answered with something that is no answer; it was ended", request.name);
        outcome.kind = Outcome::Failed;
        return outcome;
    }
}

// The file to hand over: the descriptor the bytes were mapped from, or a memfd holding
// bytes that are only in memory (then owned by the caller; -1 when it cannot be made).
int fileFor(Bytes in, int* owned) {
    *owned = -1;
    if (in.fd >= 0) return in.fd;
    const int fd = memfd_create("brisko-photo", MFD_CLOEXEC);
    if (fd < 0) return -1;
    size_t done = 0;
    while (done < in.size) {
        const ssize_t n = ::write(fd, in.data + done, in.size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::close(fd);
            return -1;
        }
        done += size_t(n);
    }
    *owned = fd;
    return fd;
}

// For the log lines of requests whose caller has only the bytes: the file's path, when
// they are a file's.
QString nameOf(Bytes in) {
    const QString path = in.fd >= 0 ? QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(in.fd)) : QString();
    return path.isEmpty() ? QStringLiteral("image data") : path;
}

Outcome run(HelperCodec codec, HelperOperation operation, Bytes in, const DecodeOptions& options,
            const QString& name) {
    Outcome outcome;
    int owned = -1;
    const int fd = in.size > 0 ? fileFor(in, &owned) : -1;
    if (fd < 0) {
        log(u"%@: the photo could not be handed to its reader (%@)", name, QString::fromLocal8Bit(std::strerror(errno)));
        return outcome;
    }
    HelperRequest request;
    request.codec = codec;
    request.operation = operation;
    request.options = options;
    request.size = int64_t(in.size);
    request.name = name;
    outcome = ask(request, fd, options.pixelBudget);
    if (owned >= 0) ::close(owned);
    return outcome;
}

// The failure of a request no helper answered, when it is not the file's doing: no
// helper could be started, or the one reading it was killed from outside.
bool notTheFile(const Outcome& o, DecodeFailure* failure, QString* detail) {
    if (o.kind == Outcome::NoHelper) {
        *failure = DecodeFailure::Unsupported;
        *detail = kNotStarted;
        return true;
    }
    if (o.kind == Outcome::Stopped) {
        *failure = DecodeFailure::OutOfMemory;
        *detail = kStoppedFromOutside;
        return true;
    }
    return false;
}

}  // namespace

ReadOnlyFacts helperFacts(HelperCodec codec, Bytes in, bool metadata) {
    const Outcome o =
        run(codec, metadata ? HelperOperation::Properties : HelperOperation::Facts, in, DecodeOptions{}, nameOf(in));
    ReadOnlyFacts facts;
    if (notTheFile(o, &facts.failure, &facts.detail)) return facts;
    if (o.kind != Outcome::Answered || o.answer.changed || !o.answer.hasFacts) return facts;
    facts.header = o.answer.header;
    facts.header.iccProfile = o.payload.icc;
    facts.depth = o.answer.depth;
    facts.hasAlpha = o.answer.hasAlpha;
    facts.metadataInBlocks = o.answer.metadataInBlocks;
    facts.exif = o.payload.exif;
    facts.xmp = o.payload.xmp;
    facts.iptc = o.payload.iptc;
    return facts;
}

DecodeResult helperDecode(HelperCodec codec, Bytes in, const DecodeOptions& options, const QString& name,
                          const QString& damaged) {
    Outcome o = run(codec, HelperOperation::Decode, in, options, name);
    DecodeResult result;
    if (notTheFile(o, &result.failure, &result.detail)) return result;
    if (o.kind != Outcome::Answered) {
        result.failure = DecodeFailure::Damaged;
        result.detail = damaged;
        return result;
    }
    if (o.answer.changed) {
        log(u"%@: the file was cut short while it was read", name);
        result.failure = DecodeFailure::ChangedWhileRead;
        return result;
    }
    if (!o.payload.image.isNull()) {
        result.image = std::move(o.payload.image);
        if (!o.payload.imageIcc.isEmpty()) setImageProfile(result.image, o.payload.imageIcc);
        return result;
    }
    result.failure = o.answer.failure;
    result.detail = o.answer.detail;
    return result;
}

}  // namespace codec

QString decoderHelperPath() {
    static const QString path = [] {
        const QString running = QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
        QStringList candidates;
        if (!running.isEmpty())
            candidates << running + QStringLiteral("/BriskoDecoder")
                       << running + QStringLiteral("/../libexec/BriskoPhotos/BriskoDecoder");
        candidates << QString::fromUtf8(BRISKO_DECODER_BUILD_PATH);
        for (const QString& c : candidates) {
            const QFileInfo info(c);
            if (info.isFile() && info.isExecutable()) return info.absoluteFilePath();
        }
        return QString();
    }();
    return path;
}

void setDecoderHelperTimeLimit(int milliseconds) {
    codec::HelperPool::shared().timeLimit.store(std::max(0, milliseconds), std::memory_order_relaxed);
}

QList<qint64> busyDecoderHelpers() { return codec::HelperPool::shared().workingPids(); }

void endIdleDecoderHelpers() { codec::HelperPool::shared().endIdle(); }

}  // namespace platform
