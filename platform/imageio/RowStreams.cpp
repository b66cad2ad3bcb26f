// The band sinks. Each one's thread waits for whole bands of the finished rows and encodes
// the bands as the whole-picture writer does (several at once on the shared workers when
// the rows came in faster than one thread keeps up with). The JPEG sink keeps the bands'
// bytes and finish() joins them as jpegEncode joins its own; the PNG sink writes each band
// as soon as the bands before it are out. Either way the file is the same.
#include "platform/imageio/RowStreams.h"
#include "platform/imageio/CodecInternal.h"
#include "platform/coreimage/Parallel.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/ProgramThreads.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace platform {

RowSource::~RowSource() = default;

bool RowSource::reduceTo(const DecodeOptions& options) { return options.minLongSide <= 0; }

namespace {

// A file of a kind without a reader of rows: its header, and the file let go at once.
class HeaderOnly : public RowSource {
public:
    HeaderOnly(const ImageHeader& header, RowsRefused refused) {
        header_ = header;
        refused_ = refused;
    }
    int width() const override { return header_.width; }
    int height() const override { return header_.height; }
    bool readRows(uchar*, qsizetype, int) override { return false; }
    int rowsRead() const override { return 0; }
    bool cut() const override { return false; }
};

}  // namespace

std::unique_ptr<RowSource> openRowSource(const QString& path, const DecodeOptions& options) {
    std::unique_ptr<codec::FileBytes> file = codec::openFileBytes(path, options);
    if (!file) return std::make_unique<HeaderOnly>(ImageHeader{}, RowsRefused::Unreadable);
    const codec::Bytes in = file->bytes;
    DecodeOptions reading = options;
    reading.whileOpen = nullptr;  // called once, just now
    switch (sniffImageFormat(reinterpret_cast<const char*>(in.data), in.size)) {
    case ImageFormat::JPEG: return std::make_unique<JpegRowSource>(std::move(file), path, reading);
    case ImageFormat::PNG: return std::make_unique<PngRowSource>(std::move(file), path, reading);
    case ImageFormat::TIFF: return codec::tiffRowSource(std::move(file), path, reading);
    default: break;
    }
    const ImageHeader header = codec::imageFacts(in).header;
    const bool cut = file->cut();
    return std::make_unique<HeaderOnly>(cut ? ImageHeader{} : header,
                                        header.valid() && !cut ? RowsRefused::NoReader : RowsRefused::Unreadable);
}

namespace {

// Finished rows handed from the caller to a sink's thread, which works through whole
// bands of them and says how far it got.
class Handoff {
public:
    explicit Handoff(int height) : height_(height) {}
    ~Handoff() { stopAndJoin(); }

    void start(std::function<void()> run) {
        thread_ = startThread([this, run = std::move(run)] {
            try {
                run();
            } catch (...) {
                // Out of this thread an exception (a memory shortage, mostly) would end the
                // program: finish() hands it to the caller, and nothing more is read.
                {
                    const std::lock_guard<std::mutex> lock(m_);
                    failure_ = std::current_exception();
                }
                publish(height_);
            }
            ended_ = true;
            rowsEncoded_.notify_all();
        });
    }
    void handIn(const uchar* base, qsizetype bytesPerLine, int rowsEnd) {
        {
            const std::lock_guard<std::mutex> lock(m_);
            base_ = base;
            bytesPerLine_ = bytesPerLine;
            rowsDone_ = std::max(rowsDone_, std::min(rowsEnd, height_));
        }
        handedIn_.notify_one();
    }
    // On the thread: waits until readyBands(rows handed in) passes `made`; false once stopped.
    bool waitForBands(int made, const std::function<int(int)>& readyBands, const uchar** base,
                      qsizetype* bytesPerLine, int* ready) {
        std::unique_lock<std::mutex> lock(m_);
        handedIn_.wait(lock, [&] { return stop_ || readyBands(rowsDone_) > made; });
        if (stop_) return false;
        *base = base_;
        *bytesPerLine = bytesPerLine_;
        *ready = readyBands(rowsDone_);
        return true;
    }
    void publish(int rows) {
        rowsEncoded_.store(rows, std::memory_order_release);
        rowsEncoded_.notify_all();
    }
    int rowsEncoded() const { return rowsEncoded_.load(std::memory_order_acquire); }
    // Waits until `rows` are encoded or the thread has ended (it publishes every row when it
    // gives up, and ended_ when it stops).
    void waitForEncoded(int rows) const {
        rows = std::min(rows, height_);
        if (!thread_.joinable()) return;  // never started, or already done with
        for (int seen = rowsEncoded(); seen < rows && !ended_.load(); seen = rowsEncoded()) rowsEncoded_.wait(seen);
    }
    // Waits for the thread; false (and the thread stopped) when rows are missing, which will
    // not come now. Rethrows what ended the thread, if anything did.
    bool finish() {
        bool complete;
        {
            const std::lock_guard<std::mutex> lock(m_);
            complete = rowsDone_ == height_;
            if (!complete) stop_ = true;
        }
        handedIn_.notify_one();
        if (thread_.joinable()) thread_.join();
        if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
        return complete;
    }
    void stopAndJoin() {
        {
            const std::lock_guard<std::mutex> lock(m_);
            stop_ = true;
        }
        handedIn_.notify_one();
        if (thread_.joinable()) thread_.join();
    }

private:
    const int height_;
    std::mutex m_;
    std::condition_variable handedIn_;
    const uchar* base_ = nullptr;  // guarded by m_
    qsizetype bytesPerLine_ = 0;   // guarded by m_
    int rowsDone_ = 0;             // guarded by m_
    bool stop_ = false;            // guarded by m_
    std::atomic<int> rowsEncoded_{0};
    std::atomic<bool> ended_{false};
    std::exception_ptr failure_;  // what ended the thread; guarded by m_ until it is joined
    std::thread thread_;
};

}  // namespace

struct JpegBandSink::State {
    State(int width, int height, const QByteArray& icc, double quality, bool gray, bool rgbBytes)
        : width(width), height(height), icc(icc), quality(codec::jpegQuality(quality)),
          bands(width, height,
                gray ? codec::JpegSamples::GrayWords : rgbBytes ? codec::JpegSamples::Rgb : codec::JpegSamples::Colour),
          pieces(size_t(bands.count())), handoff(height) {}

    void run();

    const int width, height;
    const QByteArray icc;
    const int quality;
    const codec::JpegBands bands;
    // Only the thread touches these until it has ended.
    std::vector<QByteArray> pieces;
    bool failed = false;
    int bandsMade = 0;
    Handoff handoff;  // last: its thread goes first
};

void JpegBandSink::State::run() {
    const auto readyBands = [&](int rows) { return bands.readyBands(rows); };
    while (bandsMade < bands.count()) {
        const uchar* rows;
        qsizetype stride;
        int ready;
        if (!handoff.waitForBands(bandsMade, readyBands, &rows, &stride, &ready)) return;
        const int first = bandsMade;
        platform::parallelFor(first, ready, [&](int from, int to) {
            for (int b = from; b < to; ++b) pieces[size_t(b)] = bands.encode(b, rows, stride, icc, quality);
        }, double(bands.rowsPerBand()) * width * 4);
        for (int b = first; b < ready; ++b) {
            if (pieces[size_t(b)].isEmpty()) {
                // Nothing more is read: the caller may let every row go.
                failed = true;
                handoff.publish(height);
                return;
            }
        }
        bandsMade = ready;
        handoff.publish(ready == bands.count() ? height : bands.firstRow(ready));
    }
}

JpegBandSink::JpegBandSink(int width, int height, const QByteArray& icc, double quality, bool gray, bool rgbBytes)
    : s_(std::make_unique<State>(width, height, icc, quality, gray, rgbBytes)) {
    if (width <= 0 || height <= 0) {
        s_->failed = true;
        return;
    }
    s_->handoff.start([state = s_.get()] { state->run(); });
}

JpegBandSink::~JpegBandSink() { s_->handoff.stopAndJoin(); }

void JpegBandSink::rowsDone(const uchar* base, qsizetype bytesPerLine, int rowsEnd) {
    s_->handoff.handIn(base, bytesPerLine, rowsEnd);
}

int JpegBandSink::rowsEncoded() const { return s_->handoff.rowsEncoded(); }

void JpegBandSink::waitForEncoded(int rows) const { s_->handoff.waitForEncoded(rows); }

bool JpegBandSink::finished() {
    State& s = *s_;
    const bool complete = s.handoff.finish();
    if (!complete || s.failed || s.bandsMade != s.bands.count()) {
        if (!complete) log(u"a JPEG was finished before all its rows were handed in; nothing written");
        return false;
    }
    s.bandsMade = 0;  // the pieces are used up
    return true;
}

QByteArray JpegBandSink::finish() { return finished() ? s_->bands.join(s_->pieces) : QByteArray(); }

bool JpegBandSink::finish(const std::function<bool(const char*, size_t)>& out) {
    return finished() && s_->bands.send(s_->pieces, out);
}

// The PNG band sink: the same bands as pngWriteBands, each compressed once its rows and
// the row above it are final, and written in order by the band writer.
struct PngBandSink::State {
    State(int width, int height, const QByteArray& icc, std::function<bool(const char*, size_t)> out,
          PngBandSink::Rows rows)
        : width(width), height(height), transparent(rows == PngBandSink::Rows::Transparent), out(std::move(out)),
          writer(width, height, transparent ? 6 : rows == PngBandSink::Rows::Grey ? 0 : 2, icc, 0, this->out),
          handoff(height) {}

    void run();
    int readyBands(int rows) const { return rows >= height ? writer.bands() : rows / writer.rowsPerBand(); }

    const int width, height;
    const bool transparent;
    const codec::PngSink out;
    codec::PngBandWriter writer;
    // Only the thread touches these until it has ended.
    bool failed = false;
    int bandsMade = 0;
    Handoff handoff;  // last: its thread goes first
};

void PngBandSink::State::run() {
    if (!writer.writeHead()) {
        failed = true;
        handoff.publish(height);
        return;
    }
    const auto ready_ = [&](int rows) { return readyBands(rows); };
    while (bandsMade < writer.bands()) {
        const uchar* base;
        qsizetype stride;
        int ready;
        if (!handoff.waitForBands(bandsMade, ready_, &base, &stride, &ready)) return;
        // Read only: the rows past those handed in are still being written.
        const QImage rows(base, width, height, stride,
                          transparent ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
        const int first = bandsMade;
        platform::parallelFor(first, ready, [&](int from, int to) {
            for (int b = from; b < to; ++b) writer.writeBand(b, rows);
        }, double(writer.rowsPerBand()) * width * 4);
        if (writer.failed()) {
            failed = true;
            handoff.publish(height);  // nothing more is read
            return;
        }
        bandsMade = ready;
        // A band reads the row above it too.
        handoff.publish(ready == writer.bands() ? height : std::max(0, ready * writer.rowsPerBand() - 1));
    }
}

PngBandSink::PngBandSink(int width, int height, const QByteArray& icc, std::function<bool(const char*, size_t)> out,
                         Rows rows)
    : s_(std::make_unique<State>(width, height, icc, std::move(out), rows)) {
    if (width <= 0 || height <= 0) {
        s_->failed = true;
        return;
    }
    s_->handoff.start([state = s_.get()] { state->run(); });
}

PngBandSink::~PngBandSink() { s_->handoff.stopAndJoin(); }

void PngBandSink::rowsDone(const uchar* base, qsizetype bytesPerLine, int rowsEnd) {
    s_->handoff.handIn(base, bytesPerLine, rowsEnd);
}

int PngBandSink::rowsEncoded() const { return s_->handoff.rowsEncoded(); }

void PngBandSink::waitForEncoded(int rows) const { s_->handoff.waitForEncoded(rows); }

bool PngBandSink::finish() {
    State& s = *s_;
    const bool complete = s.handoff.finish();
    if (!complete) log(u"a PNG was finished before all its rows were handed in; it is incomplete");
    return complete && !s.failed && s.bandsMade == s.writer.bands() && s.writer.writeEnd();
}

void putRowsOnWhite(const QImage& picture, int y0, int y1) {
    // const_cast: the caller owns the rows and hands them over to be changed.
    auto* base = const_cast<uchar*>(picture.constBits());
    for (int y = std::max(0, y0); y < std::min(y1, picture.height()); ++y)
        codec::putOnWhite(reinterpret_cast<uint32_t*>(base + qsizetype(y) * picture.bytesPerLine()), picture.width());
}

}  // namespace platform
