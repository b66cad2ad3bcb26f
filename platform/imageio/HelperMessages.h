#pragma once
// The messages between the program and its decoder helpers (HelperProcess.h), and where
// pictures and metadata blocks travel beside an answer: the helper's exchange buffer
// when they fit it, else the helper's picture memory. Each message is one datagram of a
// SOCK_SEQPACKET socket; every field is read with its length checked, and a message that
// does not read whole is refused. Shared by both sides; not for use outside this folder.
//
// The exchange buffer is a memfd the program makes for each helper, sealed at its size,
// shared for the helper's life: a thumbnail's picture is written into pages that are
// already there, and copied out by the program before the helper takes another request.
// A large picture goes into the helper's picture memory: a memfd the helper keeps from
// request to request (sealed against shrinking, grown as a picture needs), so that its
// pages are faulted in once rather than for every photo. A raw picture is developed
// straight into it, and the program maps it with the answer and takes the picture there
// without a copy. While the program holds such a picture the memory is its: the next
// request says so, and the helper lets that memory go (the program's mapping keeps it)
// and makes another. A helper with no work for a while lets its picture memory go.
#include "platform/imageio/HelperProcess.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <sys/types.h>

namespace platform::codec {

// Facts: the header's; Properties: the header's with the metadata blocks (EXIF, IPTC,
// XMP) the helper finds in the file; Decode: the picture.
enum class HelperOperation : uint8_t { Facts = 1, Decode = 2, Properties = 3 };

// Messages are never larger than this; anything larger travels beside them.
inline constexpr size_t kHelperMessageLimit = 64 * 1024;
// The size of a helper's exchange buffer: a picture of two megapixels with its blocks.
inline constexpr size_t kHelperExchangeBytes = size_t(8) << 20;
// The helper's descriptors for its channel and its exchange buffer.
inline constexpr int kHelperChannelFd = 3;
inline constexpr int kHelperExchangeFd = 4;
// The longest text a message carries (a path for the log, a failure's words).
inline constexpr int kHelperTextLimit = 8 * 1024;

struct HelperRequest {
    HelperCodec codec = HelperCodec::Raw;
    HelperOperation operation = HelperOperation::Facts;
    DecodeOptions options;  // minLongSide, pixelBudget, reducedForOutput and decoderThreads travel
    int64_t size = 0;       // how many bytes of the file the parent saw
    QString name;           // for the helper's log lines
    // The program still holds a picture in the helper's picture memory: the helper may not
    // write there again.
    bool pictureMemoryHeld = false;
};

// A stretch of the exchange buffer or the memfd.
struct HelperBlock {
    uint64_t offset = 0;
    uint64_t length = 0;
};

struct HelperAnswer {
    // The file was cut short or had another size when the helper read it.
    bool changed = false;
    DecodeFailure failure = DecodeFailure::None;
    QString detail;

    bool hasFacts = false;
    ImageHeader header;  // its iccProfile travels in `icc`
    int depth = 0;
    bool hasAlpha = false;
    bool metadataInBlocks = false;
    HelperBlock icc, exif, xmp, iptc;

    // The picture and blocks are in the exchange buffer rather than the picture memory
    // (whose descriptor comes with the answer).
    bool inExchange = false;
    bool hasImage = false;
    int width = 0, height = 0;
    QImage::Format format = QImage::Format_Invalid;
    int64_t bytesPerLine = 0;
    HelperBlock pixels, imageIcc;
};

QByteArray encodeRequest(const HelperRequest& request);
std::optional<HelperRequest> decodeRequest(const char* data, size_t size);
QByteArray encodeAnswer(const HelperAnswer& answer);
std::optional<HelperAnswer> decodeAnswer(const char* data, size_t size);

// Sends one message on a SOCK_SEQPACKET socket, with a descriptor when fd >= 0.
bool sendHelperMessage(int socket, const QByteArray& message, int fd);
// Receives one message (at most kHelperMessageLimit bytes) and the first descriptor it
// carries (closing any others; `fd` may be null to close them all). -1 when the socket
// has nothing or failed, 0 when the other side has gone, else the message's size; a
// message cut short or with its descriptors cut short counts as garbled.
struct HelperReceived {
    ssize_t size = -1;
    bool garbled = false;
};
HelperReceived receiveHelperMessage(int socket, QByteArray& message, int* fd, int flags);

// The pixel formats a helper may hand over, and the bytes a row of each takes.
bool isHelperPixelFormat(QImage::Format format);
int64_t helperBytesPerLine(int width, QImage::Format format);

// The helper's side of its picture memory: a memfd it makes on first use, sealed against
// shrinking, mapped and grown as a picture needs.
class HelperPictureSpace {
public:
    HelperPictureSpace() = default;
    ~HelperPictureSpace() { letGo(); }
    HelperPictureSpace(const HelperPictureSpace&) = delete;
    HelperPictureSpace& operator=(const HelperPictureSpace&) = delete;
    // The memory's start, at least `bytes` long (its mapping may move); null when it
    // cannot be had.
    uint8_t* reserve(size_t bytes);
    const uint8_t* start() const { return map_; }
    int fd() const { return fd_; }
    // Unmaps and closes it (what the program maps of it stays); the next reserve makes
    // another.
    void letGo();

private:
    int fd_ = -1;
    uint8_t* map_ = nullptr;
    size_t mapped_ = 0;
};

// The helper's side: places the picture's rows (from offset 0) and the blocks in the
// exchange buffer (`exchange`, kHelperExchangeBytes long; null when there is none) when
// they fit it, otherwise in the picture memory (`space`; null when the helper may not use
// it), whose descriptor is then to go with the answer. A picture developed in the picture
// memory already stays where it is. False when they fit nowhere.
bool writeHelperPayload(const QImage& image, const QByteArray& imageIcc, const ReadOnlyFacts* facts,
                        HelperAnswer& answer, uint8_t* exchange, HelperPictureSpace* space);

// The program's side: the picture and the facts' blocks of an answer, from the exchange
// buffer (copied out) or the picture memory that came with it (`fd`), each checked against
// the buffer's size (and the memory's seal) and the budget; false when anything does not
// fit. A picture in the picture memory is taken where it lies, mapped shared, not copied;
// `held` is set while it lives (the program holds the helper's memory), cleared when it
// goes.
struct HelperPayload {
    QImage image;
    QByteArray icc, exif, xmp, iptc, imageIcc;
};
bool readHelperPayload(int fd, const uint8_t* exchange, const HelperAnswer& answer, int64_t pixelBudget,
                       HelperPayload& out, QString* problem,
                       const std::shared_ptr<std::atomic<bool>>& held = nullptr);

}  // namespace platform::codec
