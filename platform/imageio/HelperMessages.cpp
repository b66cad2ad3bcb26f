// The messages between the program and its decoder helpers, and the memfd beside them.
#include "platform/imageio/HelperMessages.h"

#include <QtEndian>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::codec {
namespace {

// The first word of each message names it and the version of these messages: a helper
// of another build refuses the request rather than misread it.
constexpr uint32_t kRequestMagic = 0x32515242;   // "BRQ2"
constexpr uint32_t kAnswerMagic = 0x32525242;    // "BRR2"

class Writer {
public:
    void u8(uint8_t v) { bytes_.append(char(v)); }
    void u32(uint32_t v) {
        char b[4];
        qToLittleEndian(v, b);
        bytes_.append(b, 4);
    }
    void i32(int32_t v) { u32(uint32_t(v)); }
    void u64(uint64_t v) {
        char b[8];
        qToLittleEndian(v, b);
        bytes_.append(b, 8);
    }
    void i64(int64_t v) { u64(uint64_t(v)); }
    void text(const QString& s) {
        const QByteArray utf8 = s.left(kHelperTextLimit).toUtf8();
        u32(uint32_t(utf8.size()));
        bytes_.append(utf8);
    }
    void block(const HelperBlock& b) {
        u64(b.offset);
        u64(b.length);
    }
    QByteArray take() { return std::move(bytes_); }

private:
    QByteArray bytes_;
};

// Reads fields in order; any field past the end, or a value out of its range, spoils the
// whole message.
class MessageReader {
public:
    MessageReader(const char* data, size_t size) : p_(reinterpret_cast<const uint8_t*>(data)), left_(size) {}
    bool ok() const { return ok_; }
    bool atEnd() const { return ok_ && left_ == 0; }
    uint8_t u8() { return take(1) ? p_[-1] : 0; }
    bool flag() {
        const uint8_t v = u8();
        if (v > 1) ok_ = false;
        return v == 1;
    }
    uint32_t u32() { return take(4) ? qFromLittleEndian<uint32_t>(p_ - 4) : 0; }
    int32_t i32() { return int32_t(u32()); }
    uint64_t u64() { return take(8) ? qFromLittleEndian<uint64_t>(p_ - 8) : 0; }
    int64_t i64() { return int64_t(u64()); }
    int32_t ranged(int32_t low, int32_t high) {
        const int32_t v = i32();
        if (v < low || v > high) ok_ = false;
        return v;
    }
    QString text() {
        const uint32_t n = u32();
        // A limit in characters; UTF-8 takes up to four bytes each.
        if (!ok_ || n > uint32_t(kHelperTextLimit) * 4 || !take(n)) {
            ok_ = false;
            return QString();
        }
        return QString::fromUtf8(reinterpret_cast<const char*>(p_ - n), qsizetype(n));
    }
    HelperBlock block() {
        HelperBlock b;
        b.offset = u64();
        b.length = u64();
        return b;
    }

private:
    bool take(size_t n) {
        if (!ok_ || n > left_) {
            ok_ = false;
            return false;
        }
        p_ += n;
        left_ -= n;
        return true;
    }
    const uint8_t* p_;
    size_t left_;
    bool ok_ = true;
};

constexpr int32_t kLastFailure = int32_t(DecodeFailure::OutOfMemory);
constexpr int32_t kLastFormat = int32_t(ImageFormat::DIB);
constexpr int32_t kLastColourModel = int32_t(ColourModel::Lab);

}  // namespace

QByteArray encodeRequest(const HelperRequest& r) {
    Writer w;
    w.u32(kRequestMagic);
    w.u8(uint8_t(r.codec));
    w.u8(uint8_t(r.operation));
    w.i32(r.options.minLongSide);
    w.i64(r.options.pixelBudget);
    w.u8(r.options.reducedForOutput ? 1 : 0);
    w.i32(r.options.decoderThreads);
    w.i64(r.size);
    w.text(r.name);
    return w.take();
}

std::optional<HelperRequest> decodeRequest(const char* data, size_t size) {
    MessageReader in(data, size);
    if (in.u32() != kRequestMagic) return std::nullopt;
    HelperRequest r;
    const uint8_t codec = in.u8();
    const uint8_t operation = in.u8();
    if (codec < 1 || codec > uint8_t(kLastHelperCodec) || operation < 1 || operation > 3) return std::nullopt;
    r.codec = HelperCodec(codec);
    r.operation = HelperOperation(operation);
    r.options.minLongSide = in.ranged(0, kMaxImageSide);
    r.options.pixelBudget = in.i64();
    r.options.reducedForOutput = in.flag();
    r.options.decoderThreads = in.ranged(-1, 1024);
    r.size = in.i64();
    r.name = in.text();
    if (!in.atEnd() || r.options.pixelBudget <= 0 || r.size <= 0) return std::nullopt;
    return r;
}

QByteArray encodeAnswer(const HelperAnswer& a) {
    Writer w;
    w.u32(kAnswerMagic);
    w.u8(a.changed ? 1 : 0);
    w.i32(int32_t(a.failure));
    w.text(a.detail);
    w.u8(a.hasFacts ? 1 : 0);
    if (a.hasFacts) {
        w.i32(int32_t(a.header.format));
        w.i32(a.header.width);
        w.i32(a.header.height);
        w.i32(a.header.orientation);
        w.i32(int32_t(a.header.colourModel));
        w.i32(a.depth);
        w.u8(a.hasAlpha ? 1 : 0);
        w.u8(a.metadataInBlocks ? 1 : 0);
        w.block(a.icc);
        w.block(a.exif);
        w.block(a.xmp);
        w.block(a.iptc);
    }
    w.u8(a.inExchange ? 1 : 0);
    w.u8(a.hasImage ? 1 : 0);
    if (a.hasImage) {
        w.i32(a.width);
        w.i32(a.height);
        w.i32(int32_t(a.format));
        w.i64(a.bytesPerLine);
        w.block(a.pixels);
        w.block(a.imageIcc);
    }
    return w.take();
}

std::optional<HelperAnswer> decodeAnswer(const char* data, size_t size) {
    MessageReader in(data, size);
    if (in.u32() != kAnswerMagic) return std::nullopt;
    HelperAnswer a;
    a.changed = in.flag();
    a.failure = DecodeFailure(in.ranged(0, kLastFailure));
    a.detail = in.text();
    a.hasFacts = in.flag();
    if (a.hasFacts) {
        a.header.format = ImageFormat(in.ranged(0, kLastFormat));
        a.header.width = in.ranged(0, INT32_MAX);  // any size: the reader's caller judges it
        a.header.height = in.ranged(0, INT32_MAX);
        a.header.orientation = in.ranged(1, 8);
        a.header.colourModel = ColourModel(in.ranged(0, kLastColourModel));
        a.depth = in.ranged(0, 64);
        a.hasAlpha = in.flag();
        a.metadataInBlocks = in.flag();
        a.icc = in.block();
        a.exif = in.block();
        a.xmp = in.block();
        a.iptc = in.block();
    }
    a.inExchange = in.flag();
    a.hasImage = in.flag();
    if (a.hasImage) {
        a.width = in.ranged(1, kMaxImageSide);
        a.height = in.ranged(1, kMaxImageSide);
        a.format = QImage::Format(in.ranged(0, QImage::NImageFormats - 1));
        a.bytesPerLine = in.i64();
        a.pixels = in.block();
        a.imageIcc = in.block();
        if (in.ok() && !isHelperPixelFormat(a.format)) return std::nullopt;
    }
    if (!in.atEnd()) return std::nullopt;
    return a;
}

bool sendHelperMessage(int socket, const QByteArray& message, int fd) {
    iovec part{const_cast<char*>(message.constData()), size_t(message.size())};
    msghdr m{};
    m.msg_iov = &part;
    m.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    if (fd >= 0) {
        m.msg_control = control;
        m.msg_controllen = sizeof(control);
        cmsghdr* c = CMSG_FIRSTHDR(&m);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &fd, sizeof(int));
    }
    ssize_t sent;
    do {
        sent = sendmsg(socket, &m, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent == message.size();
}

HelperReceived receiveHelperMessage(int socket, QByteArray& message, int* fd, int flags) {
    message.resize(qsizetype(kHelperMessageLimit));
    iovec part{message.data(), size_t(message.size())};
    msghdr m{};
    m.msg_iov = &part;
    m.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)] = {};
    m.msg_control = control;
    m.msg_controllen = sizeof(control);
    HelperReceived got;
    do {
        got.size = recvmsg(socket, &m, MSG_CMSG_CLOEXEC | flags);
    } while (got.size < 0 && errno == EINTR);
    if (got.size < 0) return got;
    for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
        const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int received;
            std::memcpy(&received, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
            if (fd && *fd < 0) *fd = received;
            else ::close(received);
        }
    }
    message.resize(qsizetype(got.size));
    got.garbled = (m.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0;
    return got;
}

bool isHelperPixelFormat(QImage::Format format) {
    return format == QImage::Format_ARGB32_Premultiplied || format == QImage::Format_ARGB32 ||
           format == QImage::Format_RGB32 || format == QImage::Format_Grayscale8;
}

int64_t helperBytesPerLine(int width, QImage::Format format) {
    const int64_t bytes = format == QImage::Format_Grayscale8 ? int64_t(width) : int64_t(width) * 4;
    return (bytes + 3) & ~int64_t(3);  // QImage's rows start on 32-bit boundaries
}

int writeHelperPayload(const QImage& image, const QByteArray& imageIcc, const ReadOnlyFacts* facts,
                       HelperAnswer& answer, uint8_t* exchange, bool* failed) {
    *failed = false;
    uint64_t end = 0;
    const auto place = [&](uint64_t length) {
        const HelperBlock b{end, length};
        end = (end + length + 7) & ~uint64_t(7);
        return b;
    };
    if (!image.isNull()) {
        answer.hasImage = true;
        answer.width = image.width();
        answer.height = image.height();
        answer.format = image.format();
        answer.bytesPerLine = helperBytesPerLine(image.width(), image.format());
        answer.pixels = place(uint64_t(answer.bytesPerLine) * uint64_t(image.height()));
        answer.imageIcc = place(uint64_t(imageIcc.size()));
    }
    if (facts) {
        answer.icc = place(uint64_t(facts->header.iccProfile.size()));
        answer.exif = place(uint64_t(facts->exif.size()));
        answer.xmp = place(uint64_t(facts->xmp.size()));
        answer.iptc = place(uint64_t(facts->iptc.size()));
    }
    if (end == 0) return -1;
    answer.inExchange = exchange && end <= kHelperExchangeBytes;
    int fd = -1;
    uint8_t* base = exchange;
    if (!answer.inExchange) {
        fd = memfd_create("brisko-decoded", MFD_CLOEXEC | MFD_ALLOW_SEALING);
        void* map = MAP_FAILED;
        if (fd >= 0 && ftruncate(fd, off_t(end)) == 0)
            map = mmap(nullptr, size_t(end), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (map == MAP_FAILED) {
            if (fd >= 0) ::close(fd);
            *failed = true;
            return -1;
        }
        base = static_cast<uint8_t*>(map);
    }
    const auto copy = [&](const HelperBlock& b, const QByteArray& bytes) {
        if (b.length) std::memcpy(base + b.offset, bytes.constData(), size_t(b.length));
    };
    if (answer.hasImage) {
        const size_t row = size_t(answer.bytesPerLine);
        for (int y = 0; y < image.height(); ++y) std::memcpy(base + row * size_t(y), image.constScanLine(y), row);
        copy(answer.imageIcc, imageIcc);
    }
    if (facts) {
        copy(answer.icc, facts->header.iccProfile);
        copy(answer.exif, facts->exif);
        copy(answer.xmp, facts->xmp);
        copy(answer.iptc, facts->iptc);
    }
    if (answer.inExchange) return -1;
    munmap(base, size_t(end));
    // Sealed, the memfd can no longer shrink under the program's mapping (a bus error
    // there) nor change once the program has checked it.
    if (fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0) {
        ::close(fd);
        *failed = true;
        return -1;
    }
    return fd;
}

namespace {

struct Mapping {
    void* at = nullptr;
    size_t size = 0;
};

void unmapPayload(void* info) {
    auto* m = static_cast<Mapping*>(info);
    munmap(m->at, m->size);
    delete m;
}

}  // namespace

bool readHelperPayload(int fd, const uint8_t* exchange, const HelperAnswer& answer, int64_t pixelBudget,
                       HelperPayload& out, QString* problem) {
    const auto refuse = [&](const char* why) {
        *problem = QString::fromLatin1(why);
        return false;
    };
    const bool anyBlock = answer.hasImage || answer.icc.length || answer.exif.length || answer.xmp.length ||
                          answer.iptc.length || answer.imageIcc.length;
    if (!anyBlock) return true;
    uint64_t size = 0;
    if (answer.inExchange) {
        if (!exchange) return refuse("the answer is in an exchange buffer this helper does not have");
        size = kHelperExchangeBytes;
    } else {
        if (fd < 0) return refuse("no memfd came with an answer that has a picture or blocks");
        struct stat st{};
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) return refuse("the memfd cannot be used");
        const int seals = fcntl(fd, F_GET_SEALS);
        if (seals < 0 || (seals & (F_SEAL_SHRINK | F_SEAL_WRITE)) != (F_SEAL_SHRINK | F_SEAL_WRITE))
            return refuse("the memfd is not sealed");
        size = uint64_t(st.st_size);
    }
    const auto fits = [&](const HelperBlock& b, uint64_t limit) {
        return b.length <= limit && b.offset <= size && b.length <= size - b.offset;
    };
    // Metadata blocks are small; a profile or an EXIF block past this is no real one.
    constexpr uint64_t kBlockLimit = 64ull << 20;
    if (!fits(answer.icc, kBlockLimit) || !fits(answer.exif, kBlockLimit) || !fits(answer.xmp, kBlockLimit) ||
        !fits(answer.iptc, kBlockLimit) || !fits(answer.imageIcc, kBlockLimit))
        return refuse("a block lies outside the buffer");
    if (answer.hasImage) {
        if (int64_t(answer.width) * answer.height > pixelBudget) return refuse("the picture is larger than the budget");
        if (answer.bytesPerLine != helperBytesPerLine(answer.width, answer.format) || answer.pixels.offset != 0 ||
            answer.pixels.length != uint64_t(answer.bytesPerLine) * uint64_t(answer.height) ||
            !fits(answer.pixels, size))
            return refuse("the picture's rows do not fit the buffer");
    }
    void* map = nullptr;
    if (!answer.inExchange) {
        map = mmap(nullptr, size_t(size), PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0);
        if (map == MAP_FAILED) return refuse("the memfd could not be mapped");
    }
    const auto* base = answer.inExchange ? reinterpret_cast<const char*>(exchange) : static_cast<const char*>(map);
    const auto bytesOf = [&](const HelperBlock& b) {
        return QByteArray(base + b.offset, qsizetype(b.length));
    };
    out.icc = bytesOf(answer.icc);
    out.exif = bytesOf(answer.exif);
    out.xmp = bytesOf(answer.xmp);
    out.iptc = bytesOf(answer.iptc);
    out.imageIcc = bytesOf(answer.imageIcc);
    if (answer.inExchange) {
        if (!answer.hasImage) return true;
        out.image = allocateImage(answer.width, answer.height, answer.format, QStringLiteral("a decoded picture"));
        if (out.image.isNull()) return refuse("no memory for the picture");
        const size_t row = size_t(answer.bytesPerLine);
        for (int y = 0; y < answer.height; ++y)
            std::memcpy(out.image.scanLine(y), base + row * size_t(y), std::min<size_t>(row, size_t(out.image.bytesPerLine())));
        return true;
    }
    if (!answer.hasImage) {
        munmap(map, size_t(size));
        return true;
    }
    // The picture keeps the mapping; its pages are private copies once written to.
    auto* mapping = new Mapping{map, size_t(size)};
    out.image = QImage(static_cast<uchar*>(map), answer.width, answer.height, qsizetype(answer.bytesPerLine),
                       answer.format, unmapPayload, mapping);
    if (out.image.isNull()) {
        unmapPayload(mapping);
        return refuse("the picture could not be made");
    }
    return true;
}

}  // namespace platform::codec
