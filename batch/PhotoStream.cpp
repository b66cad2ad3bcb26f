#include "batch/PhotoStream.h"

#include "engine/Utils.h"
#include "platform/coreimage/CIContext.h"
#include "platform/graphics/RowStorage.h"
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/RowStreams.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace PhotoStream {
namespace {

// Decodes the photo's rows on a thread of its own, a strip ahead of the render: the render
// of one strip and the decoding of the next go on at once.
class RowsAhead {
public:
    RowsAhead(platform::JpegRowSource& source, uchar* base, qsizetype bytesPerLine, int height)
        : source_(source), base_(base), bytesPerLine_(bytesPerLine), height_(height),
          thread_([this] { decode(); }) {}
    ~RowsAhead() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    // Waits until rows [0, end) are decoded, and lets the decoder go on as far beyond them
    // as the render went past the rows it asked for before; false when the photo cannot be
    // decoded that far.
    bool need(int end) {
        std::unique_lock<std::mutex> lock(mutex_);
        end = std::min(end, height_);
        target_ = std::min(height_, std::max(target_, end + std::max(0, end - lastNeed_)));
        lastNeed_ = std::max(lastNeed_, end);
        wake_.notify_all();
        ready_.wait(lock, [&] { return read_ >= end || failed_; });
        return read_ >= end;
    }

private:
    void decode() {
        // A few rows at a time, so the render may start on rows as soon as they are there.
        constexpr int kRows = 16;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return stop_ || read_ < target_; });
            if (stop_) return;
            const int upTo = std::min(target_, read_ + kRows);
            lock.unlock();
            const bool ok = source_.readRows(base_, bytesPerLine_, upTo);
            lock.lock();
            if (ok) read_ = upTo;
            else failed_ = true;
            ready_.notify_all();
            if (failed_) return;
        }
    }
    platform::JpegRowSource& source_;
    uchar* const base_;
    const qsizetype bytesPerLine_;
    const int height_;
    std::mutex mutex_;
    std::condition_variable wake_, ready_;
    int target_ = 0, read_ = 0, lastNeed_ = 0;
    bool stop_ = false, failed_ = false;
    std::thread thread_;  // last: started once everything it reads is there
};

// The photo's rows as the render asks for them and hands them on: decoded ahead, encoded
// once final, and given back once encoded.
template <class Sink>
class Rows : public PictureRows {
public:
    Rows(platform::JpegRowSource& source, Sink& sink, const QImage& picture)
        : sink_(sink), base_(picture.constBits()), bytesPerLine_(picture.bytesPerLine()), height_(picture.height()),
          // const_cast: the decoder writes the rows in the picture's own storage, never a copy.
          ahead_(source, const_cast<uchar*>(base_), bytesPerLine_, picture.height()) {}

    bool rowsNeeded(int end) override {
        giveBack();
        return ahead_.need(end);
    }
    bool rowsDone(int end) override {
        if (end < done_) return false;
        done_ = end;
        sink_.rowsDone(base_, bytesPerLine_, end);
        giveBack();
        return true;
    }
    int done() const { return done_; }

private:
    // Rows both final and encoded are read by nobody again.
    void giveBack() {
        const int upTo = std::min(done_, sink_.rowsEncoded());
        if (upTo > given_) {
            platform::giveBackRows(base_, bytesPerLine_, given_, upTo);
            given_ = upTo;
        }
    }
    Sink& sink_;
    const uchar* base_;  // the picture's storage, written in place by the decoder and the render
    qsizetype bytesPerLine_;
    int height_;
    int done_ = 0, given_ = 0;
    RowsAhead ahead_;
};

// Smaller photos gain nothing worth a second way through the run.
constexpr qint64 kStreamedPixels = 2'000'000;

// The source when the photo can go this way.
bool usable(const platform::JpegRowSource& source) {
    return source.isValid() && source.orientation() == 1 && qint64(source.width()) * source.height() >= kStreamedPixels;
}

// Renders the photo's rows into `sink`; true when every row went. However it went,
// `picture` holds the storage the sink may still be reading when this returns: the caller
// lets it go only once the sink is done.
template <class Sink>
bool makeRows(platform::JpegRowSource& source, QImage& picture, const QString& path, const AppliedFilter& step,
              Sink& sink) {
    const int height = picture.height();
    Rows<Sink> rows(source, sink, picture);
    // Made in the picture's storage: the result takes it over, or it stays with `picture`.
    QImage made = Utils::sharedUtils().applyFilterToRows(std::move(picture), path, step.filterName,
                                                         step.filterParameters, rows);
    if (made.isNull()) return false;
    picture = std::move(made);
    return rows.done() == height;
}

}  // namespace

std::shared_ptr<AppliedFilter> streamedStep(const QList<std::shared_ptr<AppliedFilter>>& steps) {
    std::shared_ptr<AppliedFilter> only;
    for (const auto& step : steps) {
        if (!step || !step->isApplied) continue;
        if (only) return nullptr;
        only = step;
    }
    return only && Utils::rowByRow(only->filterName) ? only : nullptr;
}

bool accepts(const QString& path) {
    const platform::JpegRowSource source(path);
    return usable(source);
}

Made make(const QString& path, const AppliedFilter& step, const ResultWriter::EncodedRoute& route,
          const platform::FileBytesSink& out) {
    platform::JpegRowSource source(path);
    if (!usable(source)) return Made::Declined;
    const int width = source.width(), height = source.height();
    // Declared before the sinks: its storage goes only after they have stopped reading it.
    QImage picture = platform::picturePagedByRows(width, height, QImage::Format_RGB32);
    if (picture.isNull()) return Made::Declined;
    // The pixels stay as stored: a profile that fits them goes with them, and one that
    // cannot (which a full read would apply to the pixels) sends the photo the usual way.
    const QByteArray icc = platform::decodedPixelProfile(platform::readImageHeader(path));
    if (!icc.isEmpty() && !platform::setImageProfile(picture, icc)) return Made::Declined;

    if (route.type == platform::ImageType::PNG) {
        bool written = true, whole;
        {
            platform::PngBandSink sink(width, height, route.icc, [&](const char* data, size_t size) {
                return written = written && out(data, size);
            });
            whole = makeRows(source, picture, path, step, sink) && sink.finish();
        }  // the sink's thread has ended: `written` is its last word
        return whole ? Made::Written : written ? Made::Declined : Made::Failed;
    }
    platform::JpegBandSink sink(width, height, route.icc, route.quality);
    if (!makeRows(source, picture, path, step, sink)) return Made::Declined;
    const QByteArray file = sink.finish();
    if (file.isEmpty()) return Made::Declined;
    return out(file.constData(), size_t(file.size())) ? Made::Written : Made::Failed;
}

}  // namespace PhotoStream
