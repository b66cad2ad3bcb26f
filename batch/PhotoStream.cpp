#include "batch/PhotoStream.h"

#include "engine/ImageProcessing.h"
#include "engine/Utils.h"
#include "platform/coreimage/CIContext.h"
#include "platform/coreimage/Resample.h"
#include "platform/foundation/ProgramThreads.h"
#include "platform/foundation/UsableCpus.h"
#include "platform/graphics/RowStorage.h"
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/RowStreams.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace PhotoStream {
namespace {

const QString kResize = QStringLiteral("Resize");

// Decodes the photo's rows on a thread of its own, a strip ahead of the render: the render
// of one strip and the decoding of the next go on at once.
class RowsAhead {
public:
    RowsAhead(platform::RowSource& source, uchar* base, qsizetype bytesPerLine, int height)
        : source_(source), base_(base), bytesPerLine_(bytesPerLine), height_(height),
          thread_(platform::startThread([this] { decode(); })) {}
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
        // What ended the decoder's thread (a memory shortage) is the caller's to handle.
        if (failure_) std::rethrow_exception(failure_);
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
            bool ok = false;
            std::exception_ptr failure;
            try {
                ok = source_.readRows(base_, bytesPerLine_, upTo);
            } catch (...) {
                failure = std::current_exception();  // out of this thread it would end the program
            }
            lock.lock();
            if (ok) read_ = upTo;
            else failed_ = true;
            failure_ = failure;
            ready_.notify_all();
            if (failed_) return;
        }
    }
    platform::RowSource& source_;
    uchar* const base_;
    const qsizetype bytesPerLine_;
    const int height_;
    std::mutex mutex_;
    std::condition_variable wake_, ready_;
    int target_ = 0, read_ = 0, lastNeed_ = 0;
    bool stop_ = false, failed_ = false;
    std::exception_ptr failure_;
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
    Rows(platform::RowSource& source, Sink& sink, const QImage& picture)
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

// Rows made but not yet encoded that a conversion or a shrink lets wait before it waits
// for the encoder in turn: room for several of the encoders' bands (a JPEG's of about a
// megapixel, a PNG's of a megabyte) for each CPU the process may use, so every one has some
// while the decoder goes on, and no more: on two CPUs a 100 MP TIFF or JPEG to JPEG took as
// long with 16 MiB waiting as with 64 (0.93-1.24 s against 0.82-1.83 s on a loaded machine)
// and peaked 10-40 MiB lower.
qsizetype waitingBytes() {
    return std::clamp(qsizetype(platform::usableCpuCount()) * (qsizetype(8) << 20), qsizetype(16) << 20,
                      qsizetype(64) << 20);
}
// Source rows a shrink resamples at once (their output rows are shared among the cores).
constexpr qsizetype kShrinkStepBytes = qsizetype(16) << 20;

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
bool makeRows(platform::RowSource& source, QImage& picture, const AppliedFilter& step, Sink& sink) {
    const int height = picture.height();
    Rows<Sink> rows(source, sink, picture);
    // Made in the picture's storage: the result takes it over, or it stays with `picture`.
    QImage made = Utils::sharedUtils().applyFilterToRows(std::move(picture), QString(), step.filterName,
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
          waiting_(std::max(1, int(waitingBytes() / picture.bytesPerLine()))), step_(std::max(1, waiting_ / 4)) {}
    int step() const { return step_; }
    // Rows [0, end) are final, and no row below them is written yet.
    void rowsMade(int end) {
        if (end < picture_.height() && end - handed_ < step_) return;
        if (onWhite_) platform::putRowsOnWhite(picture_, handed_, end);
        handed_ = end;
        sink_.rowsDone(picture_.constBits(), picture_.bytesPerLine(), end);
        sink_.waitForEncoded(end - waiting_);
        const int encoded = std::min(end, sink_.rowsEncoded());
        // The pages go as far ahead as may wait for the encoder: a step ahead only, the
        // rest were given back and the kernel cleared new pages for them a few rows later
        // (a 100 MP TIFF to JPEG faulted in 66,000 pages, 29,500 so; its peak moved by a
        // few MiB).
        if (encoded > given_) pages_.reuse(given_, encoded, end, end + waiting_);
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
bool copyRows(platform::RowSource& source, const QImage& picture, Sink& sink, bool onWhite) {
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
bool shrinkRows(platform::RowSource& source, const QImage& picture, QImage& shrunk, Sink& sink, bool onWhite) {
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


Source Source::of(const platform::RowSource& source, QSizeF recordedSize, int recordedOrientation) {
    return Source{source.header(), source.refused(), source.transparent(), recordedSize, recordedOrientation};
}

// Below the limits' sizes a photo gains nothing worth a second way through the run. An
// effect's render runs alongside the decoder and the encoder here, where the usual way runs
// them one after the other. A conversion or a shrink costs the same processor time either
// way, and this way saves the decoded picture's memory (a 24 MP JPEG to JPEG: 144 -> 75-77
// MiB, 100 MP: 461 -> 96-112 MiB); but a run of ordinary photos, several at once on every
// core, came out slower made this way (16 desktop photos of up to 18 MP to PNG: 8.7-10.2 s
// against 6.0-9.0 s, the same processor time), so it is kept for photos whose size makes the
// memory matter. A conversion to JPEG pays from 10 MP: a 12 MP JPEG to JPEG peaked at 51-53
// MiB instead of 87-91 and took no longer, and a run of ten of them and two 18 MP photos took
// the same time on two cores and on eight, with a fifth to a third less memory and kernel time.
Decision decide(const Source& source, const QList<std::shared_ptr<AppliedFilter>>& steps,
                const ResultWriter::EncodedRoute& output, double backingScale, const Limits& limits) {
    using platform::RowsRefused;
    const auto declined = [](Decline why) { return Decision{why, {}}; };
    switch (source.refused) {
    case RowsRefused::None: break;
    case RowsRefused::Unreadable: return declined(Decline::Unreadable);
    case RowsRefused::NoReader: return declined(Decline::NoRowReader);
    case RowsRefused::Converted: return declined(Decline::ColoursConverted);
    case RowsRefused::Layout: return declined(Decline::TiffLayout);
    case RowsRefused::TooLarge: return declined(Decline::TooLarge);
    }
    const platform::ImageHeader& header = source.header;
    if (header.orientation != 1 || source.recordedOrientation > 1) return declined(Decline::StoredTurned);

    // The steps, each by its row reach; the most restrictive decides.
    Plan plan;
    const QSize stored(header.width, header.height);
    plan.written = stored;
    int applied = 0;
    for (const auto& step : steps) {
        if (!step || !step->isApplied) continue;
        if (Utils::rowReach(step->filterName) == Utils::RowReach::WholePicture) return declined(Decline::WholePicture);
        ++applied;
        (step->filterName == kResize ? plan.resize : plan.effect) = step;
    }
    if (applied > 1) return declined(Decline::SeveralSteps);
    const bool jpeg = header.format == platform::ImageFormat::JPEG;
    if (plan.effect && !jpeg) return declined(Decline::EffectOnNonJpeg);
    if (plan.effect && header.gray()) return declined(Decline::GreyWithEffect);
    if (plan.resize) {
        // The sizes the usual way resizes from and to.
        if (source.recordedSize != QSizeF(stored)) return declined(Decline::SizeUnknown);
        const QSizeF target = Utils::resizeStepTarget(plan.resize->filterParameters, source.recordedSize);
        const QSize size(int(std::lround(target.width())), int(std::lround(target.height())));
        if (target.isEmpty() || size.width() < 1 || size.height() < 1 || size.width() > stored.width() ||
            size.height() > stored.height() || size == stored)
            return declined(Decline::NoShrink);
        plan.written = size;
        if (jpeg && shrinkOnLoadTarget({plan.resize}, source.recordedSize)) {
            // The reduced decode the usual way loads, when it reaches what it must.
            if (const auto reduced = imageloading::reducedDecode(header, 1, size)) {
                plan.decode = reduced->options;
                plan.atLeast = reduced->atLeast;
            }
        }
    }
    const qint64 pixels = qint64(header.width) * header.height;
    const bool converted = !plan.effect && !plan.resize;
    const qint64 from = plan.effect                                                ? limits.effectFromPixels
                        : converted && output.type == platform::ImageType::JPEG ? limits.convertedToJpegFromPixels
                                                                                 : limits.plainFromPixels;
    if (pixels < from) return declined(Decline::Small);

    using Changed = ResultWriter::EncodedRoute::Changed;
    switch (output.changed) {
    case Changed::No: break;
    case Changed::Type: return declined(Decline::NotJpegOrPng);
    case Changed::Optimiser: return declined(Decline::Optimiser);
    case Changed::Turned: return declined(Decline::TurnedOnOutput);
    case Changed::Colours: return declined(Decline::ColoursOnOutput);
    }
    if (backingScale >= 2) return declined(Decline::BackingScale);
    const bool toPng = output.type == platform::ImageType::PNG;
    if (source.transparent && toPng && plan.resize) return declined(Decline::TransparentShrunkToPng);
    if (!jpeg && header.gray() && !platform::decodedPixelProfile(header).isEmpty())
        return declined(Decline::GreyUnderGreyProfile);
    plan.onWhite = source.transparent && !toPng;
    plan.opacityPass = source.transparent && toPng;
    plan.grey = output.gray && header.gray();
    return Decision{Decline::None, plan};
}

Made make(platform::RowSource& source, const Plan& plan, const ResultWriter::EncodedRoute& route,
          const platform::FileBytesSink& out) {
    // A file cut short under the reader is not made the usual way either: the caller
    // finds it changed.
    const auto declined = [&] { return source.cut() ? Made::Failed : Made::Declined; };
    if (!source.isValid()) return declined();
    // A shrink's reduced decode, when its rows reach what they must; the full one otherwise.
    if (!plan.atLeast.isEmpty() && source.reduceTo(plan.decode) &&
        (source.width() < plan.atLeast.width() || source.height() < plan.atLeast.height()))
        source.reduceTo({});
    // Rows with transparency keep their alpha in a PNG when some pixel is not opaque.
    bool keepAlpha = false;
    if (plan.opacityPass) {
        const std::optional<bool> allOpaque = source.opaque();
        if (!allOpaque) return declined();
        keepAlpha = !*allOpaque;
    }
    const bool transparent = source.transparent();
    const int width = source.width(), height = source.height();
    // A conversion to JPEG takes the rows as R, G, B bytes where the reader holds them so:
    // widened to words they cost a pass over every pixel and a third more memory on their
    // way to the encoder, which makes the same file of either.
    const bool rgbBytes = route.type == platform::ImageType::JPEG && !plan.effect && !plan.resize && !transparent &&
                          !plan.grey && source.rowsAsRgbBytes();
    // The resampler reads the decoder's rows as the usual way hands it the decoded photo.
    const QImage::Format format = rgbBytes                       ? QImage::Format_RGB888
                                  : plan.resize || transparent ? QImage::Format_ARGB32_Premultiplied
                                                               : QImage::Format_RGB32;
    // Declared before the sinks: their storage goes only after they have stopped reading it.
    QImage picture = platform::picturePagedByRows(width, height, format);
    QImage shrunk;
    if (plan.resize) shrunk = platform::picturePagedByRows(plan.written.width(), plan.written.height(), format);
    if (picture.isNull() || (plan.resize && shrunk.isNull())) return Made::Declined;
    // The pixels stay as stored, and their profile with them.
    const QByteArray icc = platform::decodedPixelProfile(source.header());
    if (!icc.isEmpty() && !platform::setImageProfile(picture, icc)) return Made::Declined;

    const auto rowsInto = [&](auto& sink) {
        if (plan.effect) return makeRows(source, picture, *plan.effect, sink);
        if (plan.resize) return shrinkRows(source, picture, shrunk, sink, plan.onWhite);
        return copyRows(source, picture, sink, plan.onWhite);
    };
    const QSize size = plan.written;
    if (route.type == platform::ImageType::PNG) {
        bool written = true, whole;
        {
            platform::PngBandSink sink(size.width(), size.height(), route.icc, [&](const char* data, size_t bytes) {
                return written = written && out(data, bytes);
            }, keepAlpha ? platform::PngBandSink::Rows::Transparent
                         : plan.grey ? platform::PngBandSink::Rows::Grey : platform::PngBandSink::Rows::Colour);
            whole = rowsInto(sink) && sink.finish();
        }  // the sink's thread has ended: `written` is its last word
        return whole ? Made::Written : written ? declined() : Made::Failed;
    }
    platform::JpegBandSink sink(size.width(), size.height(), route.icc, route.quality, plan.grey, rgbBytes);
    if (!rowsInto(sink)) return declined();
    // The encoded bands go to `out` one after another, never joined in memory.
    bool refused = false;
    const bool sent = sink.finish([&](const char* data, size_t bytes) { return out(data, bytes) || (refused = true, false); });
    return sent ? Made::Written : refused ? Made::Failed : Made::Declined;
}

}  // namespace PhotoStream
