// The messages between the program and its decoder helpers, and the memfd beside them.
#include "platform/imageio/HelperMessages.h"

#include <QtEndian>
#include <algorithm>
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
constexpr uint32_t kRequestMagic = 0x33515242;   // "BRQ3"
constexpr uint32_t kAnswerMagic = 0x33525242;    // "BRR3"

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
    w.u8(r.pictureMemoryHeld ? 1 : 0);
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
    r.pictureMemoryHeld = in.flag();
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

uint8_t* HelperPictureSpace::reserve(size_t bytes) {
    if (bytes <= mapped_) return map_;
    if (fd_ < 0) {
        fd_ = memfd_create("brisko-picture", MFD_CLOEXEC | MFD_ALLOW_SEALING);
        // Never shorter than it is: the program's mapping of it never finds its end moved.
        if (fd_ >= 0 && fcntl(fd_, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_SEAL) != 0) letGo();
        if (fd_ < 0) return nullptr;
    }
    // Grown a megabyte at a time past what is asked: a photo a little larger than the last
    // moves nothing.
    const size_t size = (bytes + (size_t(1) << 20) - 1) & ~((size_t(1) << 20) - 1);
    if (ftruncate(fd_, off_t(size)) != 0) return nullptr;
    void* map = map_ ? mremap(map_, mapped_, size, MREMAP_MAYMOVE)
                     : mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (map == MAP_FAILED) return nullptr;
    map_ = static_cast<uint8_t*>(map);
    mapped_ = size;
    return map_;
}

void HelperPictureSpace::letGo() {
    if (map_) munmap(map_, mapped_);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    map_ = nullptr;
    mapped_ = 0;
}

bool writeHelperPayload(const QImage& image, const QByteArray& imageIcc, const ReadOnlyFacts* facts,
                        HelperAnswer& answer, uint8_t* exchange, HelperPictureSpace* space) {
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
    if (end == 0) return true;
    // A picture developed into the picture memory is there already, in rows of this width.
    const bool inPlace = space && space->start() && !image.isNull() && image.constBits() == space->start() &&
                         image.bytesPerLine() == answer.bytesPerLine;
    answer.inExchange = !inPlace && exchange && end <= kHelperExchangeBytes;
    uint8_t* base = answer.inExchange ? exchange : space ? space->reserve(size_t(end)) : nullptr;
    if (!base) return false;
    const auto copy = [&](const HelperBlock& b, const QByteArray& bytes) {
        if (b.length) std::memcpy(base + b.offset, bytes.constData(), size_t(b.length));
    };
    if (answer.hasImage) {
        // (A picture in place is not looked at again: the memory may have moved.)
        if (!inPlace) {
            const size_t row = size_t(answer.bytesPerLine);
            for (int y = 0; y < image.height(); ++y) std::memcpy(base + row * size_t(y), image.constScanLine(y), row);
        }
        copy(answer.imageIcc, imageIcc);
    }
    if (facts) {
        copy(answer.icc, facts->header.iccProfile);
        copy(answer.exif, facts->exif);
        copy(answer.xmp, facts->xmp);
        copy(answer.iptc, facts->iptc);
    }
    return true;
}

namespace {

// A picture's hold on the picture memory it lies in, mapped: let go with the picture.
struct PictureMapping {
    void* at = nullptr;
    size_t size = 0;
    std::shared_ptr<std::atomic<bool>> held;
};

void unmapPicture(void* info) {
    auto* m = static_cast<PictureMapping*>(info);
    munmap(m->at, m->size);
    if (m->held) m->held->store(false, std::memory_order_release);
    delete m;
}

}  // namespace

bool readHelperPayload(int fd, const uint8_t* exchange, const HelperAnswer& answer, int64_t pixelBudget,
                       HelperPayload& out, QString* problem, const std::shared_ptr<std::atomic<bool>>& held) {
    const auto refuse = [&](const char* why) {
        *problem = QString::fromLatin1(why);
        return false;
    };
    const HelperBlock* blocks[] = {&answer.icc, &answer.exif, &answer.xmp, &answer.iptc, &answer.imageIcc};
    bool anyBlock = answer.hasImage;
    for (const HelperBlock* b : blocks) anyBlock = anyBlock || b->length > 0;
    if (!anyBlock) return true;
    uint64_t size = 0;
    if (answer.inExchange) {
        if (!exchange) return refuse("the answer is in an exchange buffer this helper does not have");
        size = kHelperExchangeBytes;
    } else {
        if (fd < 0) return refuse("no picture memory came with an answer that has a picture or blocks");
        struct stat st{};
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0)
            return refuse("the picture memory cannot be used");
        // Sealed against shrinking, it keeps every page the program maps.
        const int seals = fcntl(fd, F_GET_SEALS);
        if (seals < 0 || !(seals & F_SEAL_SHRINK)) return refuse("the picture memory is not sealed");
        size = uint64_t(st.st_size);
    }
    const auto fits = [&](const HelperBlock& b, uint64_t limit) {
        return b.length <= limit && b.offset <= size && b.length <= size - b.offset;
    };
    // Metadata blocks are small; a profile or an EXIF block past this is no real one.
    constexpr uint64_t kBlockLimit = 64ull << 20;
    uint64_t end = 0;
    for (const HelperBlock* b : blocks) {
        if (!fits(*b, kBlockLimit)) return refuse("a block lies outside the buffer");
        end = std::max(end, b->offset + b->length);
    }
    if (answer.hasImage) {
        if (int64_t(answer.width) * answer.height > pixelBudget) return refuse("the picture is larger than the budget");
        if (answer.bytesPerLine != helperBytesPerLine(answer.width, answer.format) || answer.pixels.offset != 0 ||
            answer.pixels.length != uint64_t(answer.bytesPerLine) * uint64_t(answer.height) ||
            !fits(answer.pixels, size))
            return refuse("the picture's rows do not fit the buffer");
        end = std::max(end, answer.pixels.length);
    }
    void* map = nullptr;
    size_t mapped = 0;
    if (!answer.inExchange) {
        // As far as the answer reaches (the memory may be larger, kept from a larger photo),
        // shared: the helper wrote the picture there and writes there no more while the
        // program holds it. Its pages are all there: taken in one go, not fault by fault.
        const size_t page = size_t(sysconf(_SC_PAGESIZE));
        mapped = (size_t(end) + page - 1) / page * page;
        map = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd, 0);
        if (map == MAP_FAILED) return refuse("the picture memory could not be mapped");
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
        munmap(map, mapped);
        return true;
    }
    // The picture keeps the mapping, and the helper's memory with it, until it goes.
    if (held) held->store(true, std::memory_order_relaxed);
    auto* mapping = new PictureMapping{map, mapped, held};
    out.image = QImage(static_cast<uchar*>(map), answer.width, answer.height, qsizetype(answer.bytesPerLine),
                       answer.format, unmapPicture, mapping);
    if (out.image.isNull()) {
        unmapPicture(mapping);
        return refuse("the picture could not be made");
    }
    return true;
}

}  // namespace platform::codec
