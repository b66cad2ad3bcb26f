// The JPEG band sink. Its thread waits for whole bands of the finished rows, encodes each
// band as jpegEncode does (several at once on the shared workers when the rows came in
// faster than one thread keeps up with) and keeps the bands' bytes; finish() joins them
// as jpegEncode joins its own, so the file is the same.
#include "platform/imageio/RowStreams.h"
#include "platform/imageio/CodecInternal.h"
#include "platform/coreimage/Parallel.h"
#include "platform/foundation/Log.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

struct JpegBandSink::State {
    State(int width, int height, const QByteArray& icc, double quality)
        : width(width), height(height), icc(icc), quality(codec::jpegQuality(quality)),
          bands(width, height, false), pieces(size_t(bands.count())) {}

    void run();

    const int width, height;
    const QByteArray icc;
    const int quality;
    const codec::JpegBands bands;

    std::mutex m;
    std::condition_variable handedIn;
    const uchar* base = nullptr;  // guarded by m
    qsizetype bytesPerLine = 0;   // guarded by m
    int rowsDone = 0;             // guarded by m
    bool stop = false;            // guarded by m

    std::atomic<int> rowsEncoded{0};
    // Only the thread touches these until it has ended.
    std::vector<QByteArray> pieces;
    bool failed = false;
    int bandsMade = 0;
    std::thread thread;
};

void JpegBandSink::State::run() {
    while (bandsMade < bands.count()) {
        const uchar* rows;
        qsizetype stride;
        int ready;
        {
            std::unique_lock<std::mutex> lock(m);
            handedIn.wait(lock, [&] { return stop || bands.readyBands(rowsDone) > bandsMade; });
            if (stop) return;
            rows = base;
            stride = bytesPerLine;
            ready = bands.readyBands(rowsDone);
        }
        const int first = bandsMade;
        platform::parallelFor(first, ready, [&](int from, int to) {
            for (int b = from; b < to; ++b) pieces[size_t(b)] = bands.encode(b, rows, stride, icc, quality);
        }, double(bands.rowsPerBand()) * width * 4);
        for (int b = first; b < ready; ++b) {
            if (pieces[size_t(b)].isEmpty()) {
                // Nothing more is read: the caller may let every row go.
                failed = true;
                rowsEncoded.store(height, std::memory_order_release);
                return;
            }
        }
        bandsMade = ready;
        rowsEncoded.store(ready == bands.count() ? height : bands.firstRow(ready), std::memory_order_release);
    }
}

JpegBandSink::JpegBandSink(int width, int height, const QByteArray& icc, double quality)
    : s_(std::make_unique<State>(width, height, icc, quality)) {
    if (width <= 0 || height <= 0) {
        s_->failed = true;
        return;
    }
    s_->thread = std::thread([state = s_.get()] { state->run(); });
}

JpegBandSink::~JpegBandSink() {
    {
        std::lock_guard<std::mutex> lock(s_->m);
        s_->stop = true;
    }
    s_->handedIn.notify_one();
    if (s_->thread.joinable()) s_->thread.join();
}

void JpegBandSink::rowsDone(const uchar* base, qsizetype bytesPerLine, int rowsEnd) {
    {
        std::lock_guard<std::mutex> lock(s_->m);
        s_->base = base;
        s_->bytesPerLine = bytesPerLine;
        s_->rowsDone = std::max(s_->rowsDone, std::min(rowsEnd, s_->height));
    }
    s_->handedIn.notify_one();
}

int JpegBandSink::rowsEncoded() const { return s_->rowsEncoded.load(std::memory_order_acquire); }

QByteArray JpegBandSink::finish() {
    State& s = *s_;
    bool complete;
    {
        std::lock_guard<std::mutex> lock(s.m);
        complete = s.rowsDone == s.height;
        if (!complete) s.stop = true;  // the missing rows will not come
    }
    s.handedIn.notify_one();
    if (s.thread.joinable()) s.thread.join();
    if (!complete || s.failed || s.bandsMade != s.bands.count()) {
        if (!complete) log(u"a JPEG was finished before all its rows were handed in; nothing written");
        return QByteArray();
    }
    s.bandsMade = 0;  // the pieces are used up
    return s.bands.join(s.pieces);
}

}  // namespace platform
