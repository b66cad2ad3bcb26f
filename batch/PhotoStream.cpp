#include "batch/PhotoStream.h"

#include "engine/Utils.h"
#include "platform/coreimage/CIContext.h"
#include "platform/graphics/RowStorage.h"
#include "platform/imageio/ImageIO.h"
#include "platform/imageio/RowStreams.h"

#include <algorithm>

namespace PhotoStream {
namespace {

// Smaller photos gain nothing worth a second way through the run.
constexpr qint64 kStreamedPixels = 2'000'000;

// The photo's rows as the render asks for them and hands them on: decoded on demand,
// encoded once final, and given back once encoded.
class Rows : public PictureRows {
public:
    Rows(platform::JpegRowSource& source, platform::JpegBandSink& sink, const QImage& picture)
        : source_(source), sink_(sink), base_(picture.constBits()), bytesPerLine_(picture.bytesPerLine()),
          height_(picture.height()) {}

    bool rowsNeeded(int end) override {
        giveBack();
        // const_cast: the rows are written through the picture's own storage, never a copy.
        return source_.readRows(const_cast<uchar*>(base_), bytesPerLine_, std::min(end, height_));
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
    platform::JpegRowSource& source_;
    platform::JpegBandSink& sink_;
    const uchar* base_;  // the picture's storage, written in place by the decoder and the render
    qsizetype bytesPerLine_;
    int height_;
    int done_ = 0, given_ = 0;
};

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

std::optional<Made> make(const QString& path, const AppliedFilter& step, const ResultWriter::EncodedRoute& route) {
    platform::JpegRowSource source(path);
    if (!source.isValid() || source.orientation() != 1) return std::nullopt;
    const int width = source.width(), height = source.height();
    if (qint64(width) * height < kStreamedPixels) return std::nullopt;
    QImage picture = platform::picturePagedByRows(width, height, QImage::Format_RGB32);
    if (picture.isNull()) return std::nullopt;
    // The pixels stay as stored: a profile that fits them goes with them, and one that
    // cannot (which a full read would apply to the pixels) sends the photo the usual way.
    const QByteArray icc = platform::decodedPixelProfile(platform::readImageHeader(path));
    if (!icc.isEmpty() && !platform::setImageProfile(picture, icc)) return std::nullopt;

    platform::JpegBandSink sink(width, height, route.icc, route.quality);
    Rows rows(source, sink, picture);
    const QImage made = Utils::sharedUtils().applyFilterToRows(std::move(picture), path, step.filterName,
                                                               step.filterParameters, rows);
    if (made.isNull() || made.size() != QSize(width, height) || rows.done() != height) return std::nullopt;
    QByteArray file = sink.finish();
    if (file.isEmpty()) return std::nullopt;
    return Made{std::move(file), QSize(width, height)};
}

}  // namespace PhotoStream
