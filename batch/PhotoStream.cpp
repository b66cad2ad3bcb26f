#include "batch/PhotoStream.h"

#include "engine/ImageProcessing.h"
#include "engine/Utils.h"
#include "platform/coreimage/CIContext.h"
#include "platform/coreimage/Resample.h"
#include "platform/graphics/RowStorage.h"
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/RowStreams.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace PhotoStream {
namespace {

const QString kResize = QStringLiteral("Resize");

// The rows of a photo from the decoder of its format: a JPEG's or a PNG's.
class Source {
public:
    Source(const QString& path, platform::ImageFormat format, const platform::DecodeOptions& options) {
        if (format == platform::ImageFormat::PNG) png_ = std::make_unique<platform::PngRowSource>(path, options);
        else jpeg_ = std::make_unique<platform::JpegRowSource>(path, options);
    }
    // The photo can go this way: read, and stored upright.
    bool usable() const {
        return png_ ? png_->isValid() && png_->orientation() == 1 : jpeg_->isValid() && jpeg_->orientation() == 1;
    }
    int width() const { return png_ ? png_->width() : jpeg_->width(); }
    int height() const { return png_ ? png_->height() : jpeg_->height(); }
    bool gray() const { return png_ ? png_->gray() : jpeg_->gray(); }
    // Its rows carry alpha, premultiplied.
    bool transparent() const { return png_ && png_->transparent(); }
    // The file was cut short under the reader.
    bool cut() const { return png_ ? png_->cut() : jpeg_->cut(); }
    bool readRows(uchar* base, qsizetype bytesPerLine, int rowsEnd) {
        return png_ ? png_->readRows(base, bytesPerLine, rowsEnd) : jpeg_->readRows(base, bytesPerLine, rowsEnd);
    }

private:
    std::unique_ptr<platform::JpegRowSource> jpeg_;
    std::unique_ptr<platform::PngRowSource> png_;
};

// Decodes the photo's rows on a thread of its own, a strip ahead of the render: the render
// of one strip and the decoding of the next go on at once.
class RowsAhead {
public:
    RowsAhead(Source& source, uchar* base, qsizetype bytesPerLine, int height)
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
    Source& source_;
    uchar* const base_;
    const qsizetype bytesPerLine_;
    const int height_;
    std::mutex mutex_;
    std::condition_variable wake_, ready_;
    int target_ = 0, read_ = 0, lastNeed_ = 0;
    bool stop_ = false, failed_ = false;
    std::thread thread_;  // last: started once everything it reads is there
};

// Final rows a render lets wait for the encoder before it waits in turn: several of the
// encoder's bands, so every core has some, yet a render faster than its encoder (a blur to
// PNG) does not hold the rest of the photo while the encoder catches up.
constexpr qsizetype kRenderWaitingBytes = qsizetype(16) << 20;

// The photo's rows as the render asks for them and hands them on: decoded ahead, encoded
// once final, and given back once encoded.
template <class Sink>
class Rows : public PictureRows {
public:
    Rows(Source& source, Sink& sink, const QImage& picture)
        : sink_(sink), base_(picture.constBits()), bytesPerLine_(picture.bytesPerLine()), height_(picture.height()),
          waiting_(std::max(1, int(kRenderWaitingBytes / std::max<qsizetype>(1, picture.bytesPerLine())))),
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
        if (end < height_) sink_.waitForEncoded(end - waiting_);
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
    int waiting_;
    int done_ = 0, given_ = 0;
    RowsAhead ahead_;
};

// Below these sizes a photo gains nothing worth a second way through the run. An effect's
// render runs alongside the decoder and the encoder here, where the usual way runs them one
// after the other. A conversion or a shrink costs the same processor time either way, and
// this way saves the decoded picture's memory (a 24 MP JPEG to JPEG: 144 -> 75-77 MiB, 100 MP:
// 461 -> 96-112 MiB); but a run of ordinary photos, several at once on every core, came out
// slower made this way (16 desktop photos of up to 18 MP to PNG: 8.7-10.2 s against 6.0-9.0 s,
// the same processor time), so it is kept for photos whose size makes the memory matter.
constexpr qint64 kEffectPixels = 2'000'000;
constexpr qint64 kPlainPixels = 20'000'000;

// Rows made but not yet encoded that a conversion or a shrink lets wait before it waits
// for the encoder in turn: room for many of the encoders' bands (a JPEG's of about a
// megapixel, a PNG's of a megabyte), so every core has some while the decoder goes on.
constexpr qsizetype kWaitingBytes = qsizetype(64) << 20;
// Source rows a shrink resamples at once (their output rows are shared among the cores).
constexpr qsizetype kShrinkStepBytes = qsizetype(16) << 20;

// How a photo is made this way: its format, the decode its rows come from and the size
// written.
struct Shape {
    platform::ImageFormat format;
    platform::DecodeOptions decode;
    QSize written;
};

std::optional<Shape> shapeOf(const QString& path, const Plan& plan) {
    const platform::ImageHeader header = platform::readImageHeader(path);
    const bool png = header.format == platform::ImageFormat::PNG;
    if ((header.format != platform::ImageFormat::JPEG && !png) || !header.valid() || header.orientation != 1)
        return std::nullopt;
    // Effects render into colour rows of a JPEG's kind; a PNG with one goes the usual way.
    // A grey photo converted or resampled stays grey and is written so; whether an effect
    // keeps it grey is known only once the whole picture is made.
    if ((png || header.gray()) && plan.effect) return std::nullopt;
    const qint64 pixels = qint64(header.width) * header.height;
    const qint64 plainPixels = plan.plainFromPixels > 0 ? plan.plainFromPixels : kPlainPixels;
    Shape shape;
    shape.format = header.format;
    shape.written = QSize(header.width, header.height);
    if (plan.effect) {
        if (pixels < kEffectPixels) return std::nullopt;
    } else if (pixels < plainPixels) {
        return std::nullopt;
    } else if (plan.resize) {
        // The size the usual way resizes from and to.
        const QSizeF source = Utils::sharedUtils().getImageOriginalSizeAtFilePathUrl(path);
        if (source != QSizeF(shape.written)) return std::nullopt;
        const QSizeF target = Utils::resizeStepTarget(plan.resize->filterParameters, source);
        if (target.isEmpty()) return std::nullopt;
        const QSize size(int(std::lround(target.width())), int(std::lround(target.height())));
        if (size.width() < 1 || size.height() < 1 || size.width() > header.width || size.height() > header.height ||
            size == shape.written)
            return std::nullopt;
        shape.written = size;
        if (shrinkOnLoadTarget({plan.resize}, source)) {
            // The reduced decode the usual way loads, when it reaches what it must.
            if (const auto reduced = imageloading::reducedDecode(header, 1, size)) {
                const platform::JpegRowSource rows(path, reduced->options);
                if (rows.width() >= reduced->atLeast.width() && rows.height() >= reduced->atLeast.height())
                    shape.decode = reduced->options;
            }
        }
    }
    return shape;
}

// Whether every pixel of the PNG at `path` is opaque, read a row at a time into one line
// (the stored alpha decides it, as it does for the whole picture); null when it cannot be
// read.
std::optional<bool> opaque(const QString& path) {
    platform::PngRowSource rows(path);
    if (!rows.isValid()) return std::nullopt;
    std::vector<QRgb> line(size_t(rows.width()));
    for (int y = 0; y < rows.height(); ++y) {
        // No stride: every row goes into the same line.
        if (!rows.readRows(reinterpret_cast<uchar*>(line.data()), 0, y + 1)) return std::nullopt;
        if (std::any_of(line.begin(), line.end(), [](QRgb p) { return qAlpha(p) != 255; })) return false;
    }
    return true;
}

// Rows [given, upTo) of a picture from picturePagedByRows go back once nobody reads them.
void giveBack(const QImage& picture, int& given, int upTo) {
    if (upTo <= given) return;
    platform::giveBackRows(picture.constBits(), picture.bytesPerLine(), given, upTo);
    given = upTo;
}

// Renders the photo's rows into `sink`; true when every row went. However it went,
// `picture` holds the storage the sink may still be reading when this returns: the caller
// lets it go only once the sink is done.
template <class Sink>
bool makeRows(Source& source, QImage& picture, const QString& path, const AppliedFilter& step,
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

// Hands finished rows of `picture` to a sink, and once they are encoded passes their
// pages on to the rows still to be made. Rows go in steps of a quarter of what may wait,
// so the encoder takes many of its bands at once (handed a band at a time, it would encode
// them one after another as they come); and whoever makes the rows, top row first, waits
// while more than that waits to be encoded. With `onWhite` the rows are put on white
// first, as the writer puts a picture with transparency for a file without alpha.
template <class Sink>
class Feed {
public:
    Feed(Sink& sink, const QImage& picture, bool onWhite)
        : sink_(sink), picture_(picture), pages_(picture), onWhite_(onWhite),
          waiting_(std::max(1, int(kWaitingBytes / picture.bytesPerLine()))), step_(std::max(1, waiting_ / 4)) {}
    int step() const { return step_; }
    // Rows [0, end) are final, and no row below them is written yet.
    void rowsMade(int end) {
        if (end < picture_.height() && end - handed_ < step_) return;
        if (onWhite_) platform::putRowsOnWhite(picture_, handed_, end);
        handed_ = end;
        sink_.rowsDone(picture_.constBits(), picture_.bytesPerLine(), end);
        sink_.waitForEncoded(end - waiting_);
        const int encoded = std::min(end, sink_.rowsEncoded());
        if (encoded > given_) pages_.reuse(given_, encoded, end, end + step_);
        given_ = std::max(given_, encoded);
    }

private:
    Sink& sink_;
    const QImage& picture_;
    platform::RowPages pages_;
    const bool onWhite_;
    const int waiting_, step_;
    int handed_ = 0, given_ = 0;
};

// The photo's rows handed to `sink` as they are decoded.
template <class Sink>
bool copyRows(Source& source, const QImage& picture, Sink& sink, bool onWhite) {
    Feed<Sink> feed(sink, picture, onWhite);
    // const_cast: the decoder writes the rows in the picture's own storage, never a copy.
    uchar* const base = const_cast<uchar*>(picture.constBits());
    for (int end = 0; end < picture.height();) {
        end = std::min(picture.height(), end + feed.step());
        if (!source.readRows(base, picture.bytesPerLine(), end)) return false;
        feed.rowsMade(end);
    }
    return true;
}

// The photo's rows resampled into `shrunk` a few at a time, each row of the source given
// back once no later output row reads it.
template <class Sink>
bool shrinkRows(Source& source, const QImage& picture, QImage& shrunk, Sink& sink, bool onWhite) {
    const int inHeight = picture.height(), height = shrunk.height();
    const platform::Resampler kernel(picture.width(), inHeight, shrunk.width(), height);
    RowsAhead ahead(source, const_cast<uchar*>(picture.constBits()), picture.bytesPerLine(), inHeight);
    Feed<Sink> feed(sink, shrunk, onWhite);
    const double sourceRowsEach = double(inHeight) / height;
    const int byBytes = int(double(kShrinkStepBytes) / (double(picture.bytesPerLine()) * sourceRowsEach));
    const int step = std::clamp(std::max(128, height / 8), 16, std::max(16, byBytes));
    int given = 0;
    for (int first = 0; first < height;) {
        const int end = std::min(height, first + step);
        if (!ahead.need(kernel.inputRows(first, end).second)) return false;
        platform::resampleRows(picture, shrunk, first, end);
        first = end;
        giveBack(picture, given, first < height ? kernel.inputRows(first, height).first : inHeight);
        feed.rowsMade(end);
    }
    return true;
}

}  // namespace

std::optional<QSizeF> shrinkOnLoadTarget(const QList<std::shared_ptr<AppliedFilter>>& steps, const QSizeF& source) {
    const AppliedFilter* resize = nullptr;
    for (const auto& step : steps) {
        if (!step || !step->isApplied) continue;
        if (step->filterName != kResize || resize) return std::nullopt;
        resize = step.get();
    }
    if (!resize || source.width() < 2 || source.height() < 2) return std::nullopt;
    const QSizeF target = Utils::resizeStepTarget(resize->filterParameters, source);
    if (target.isEmpty() || std::lround(target.width()) < 1 || std::lround(target.height()) < 1) return std::nullopt;
    if (std::lround(target.width()) * 2 > source.width() || std::lround(target.height()) * 2 > source.height())
        return std::nullopt;
    return target;
}

std::optional<Plan> plan(const QList<std::shared_ptr<AppliedFilter>>& steps) {
    std::shared_ptr<AppliedFilter> only;
    for (const auto& step : steps) {
        if (!step || !step->isApplied) continue;
        if (only) return std::nullopt;
        only = step;
    }
    if (!only) return Plan{};
    if (only->filterName == kResize) return Plan{nullptr, only};
    if (Utils::rowByRow(only->filterName)) return Plan{only, nullptr};
    return std::nullopt;
}

std::optional<QSize> writtenSize(const QString& path, const Plan& plan) {
    const std::optional<Shape> shape = shapeOf(path, plan);
    if (!shape) return std::nullopt;
    const Source source(path, shape->format, shape->decode);
    if (!source.usable()) return std::nullopt;
    return shape->written;
}

Made make(const QString& path, const Plan& plan, const ResultWriter::EncodedRoute& route,
          const platform::FileBytesSink& out) {
    const std::optional<Shape> shape = shapeOf(path, plan);
    if (!shape) return Made::Declined;
    platform::DecodeOptions reading = shape->decode;
    reading.whileOpen = plan.whileOpen;
    Source source(path, shape->format, reading);
    // A file cut short under the reader is not made the usual way either: the caller
    // finds it changed.
    const auto declined = [&] { return source.cut() ? Made::Failed : Made::Declined; };
    if (!source.usable()) return declined();
    // The pixels stay as stored: a profile that fits them goes with them, and one that
    // cannot (which a full read would apply to the pixels) sends the photo the usual way.
    const QByteArray icc = platform::decodedPixelProfile(platform::readImageHeader(path));
    // A grey PNG under a grey profile is written grey, from its whole picture.
    if (shape->format == platform::ImageFormat::PNG && source.gray() && !icc.isEmpty()) return Made::Declined;
    // Rows with transparency are put on white for a JPEG; a PNG keeps their alpha when
    // some pixel is not opaque, which only the whole picture tells of a resampled one.
    const bool transparent = source.transparent(), toPng = route.type == platform::ImageType::PNG;
    bool keepAlpha = false;
    if (transparent && toPng) {
        if (plan.resize) return Made::Declined;
        const std::optional<bool> allOpaque = opaque(path);
        if (!allOpaque) return Made::Declined;
        keepAlpha = !*allOpaque;
    }
    const bool onWhite = transparent && !toPng;
    const int width = source.width(), height = source.height();
    // The resampler reads the decoder's rows as the usual way hands it the decoded photo.
    const QImage::Format format =
        plan.resize || transparent ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    // Declared before the sinks: their storage goes only after they have stopped reading it.
    QImage picture = platform::picturePagedByRows(width, height, format);
    QImage shrunk;
    if (plan.resize) shrunk = platform::picturePagedByRows(shape->written.width(), shape->written.height(), format);
    if (picture.isNull() || (plan.resize && shrunk.isNull())) return Made::Declined;
    if (!icc.isEmpty() && !platform::setImageProfile(picture, icc)) return Made::Declined;

    const auto rowsInto = [&](auto& sink) {
        if (plan.effect) return makeRows(source, picture, path, *plan.effect, sink);
        if (plan.resize) return shrinkRows(source, picture, shrunk, sink, onWhite);
        return copyRows(source, picture, sink, onWhite);
    };
    const QSize size = shape->written;
    // The rows of a grey photo stay grey whether copied or resampled.
    const bool gray = route.gray && source.gray();
    if (toPng) {
        bool written = true, whole;
        {
            platform::PngBandSink sink(size.width(), size.height(), route.icc, [&](const char* data, size_t bytes) {
                return written = written && out(data, bytes);
            }, keepAlpha ? platform::PngBandSink::Rows::Transparent
                         : gray ? platform::PngBandSink::Rows::Grey : platform::PngBandSink::Rows::Colour);
            whole = rowsInto(sink) && sink.finish();
        }  // the sink's thread has ended: `written` is its last word
        return whole ? Made::Written : written ? declined() : Made::Failed;
    }
    platform::JpegBandSink sink(size.width(), size.height(), route.icc, route.quality, gray);
    if (!rowsInto(sink)) return declined();
    const QByteArray file = sink.finish();
    if (file.isEmpty()) return Made::Declined;
    return out(file.constData(), size_t(file.size())) ? Made::Written : Made::Failed;
}

}  // namespace PhotoStream
