// The transition animation export and the view snapshot.
#include "engine/Utils.h"

#include "engine/Effects/CoreImageBridge.h"
#include "platform/coreimage/CIImage.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "platform/imageio/ImageIO.h"
#include "records/AppDelegate.h"
#include "records/PhotoFile.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QStandardPaths>
#include <QWidget>

namespace {
constexpr int kFramesPerUnit = 60;
// GIF delays count hundredths of a second: 0.1 s a frame.
constexpr int kFrameDelayCentiseconds = 10;
constexpr int kLoopForever = 0;
}  // namespace

QImage Utils::imageOfView(QWidget* view) {
    if (!view || view->width() <= 0 || view->height() <= 0) return QImage();
    return view->grab(view->rect()).toImage();
}

QSizeF Utils::transitionExtent() const {
    std::lock_guard<std::mutex> lock(transitionMutex_);
    return sourceImageExtentForTransition;
}

void Utils::setTransitionExtent(const QSizeF& size) {
    std::lock_guard<std::mutex> lock(transitionMutex_);
    sourceImageExtentForTransition = size;
}

void Utils::startGeneratingAnitmatedGIF() {
    arrayOfAnimatedFramesForGif.clear();
    steps = kFramesPerUnit;
    stepDuration = 1.0 / kFramesPerUnit;
    timeValue = 0.0;
    totalDuration = 1.0;
    animate();
}

void Utils::animate() {
    start = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    if (currentFilter && currentFilter->inputKeys().contains(QString::fromLatin1(kCIInputTimeKey)))
        currentFilter->setValue(timeValue, QString::fromLatin1(kCIInputTimeKey));
    callToGetImageFrameForTransition();
    if (steps <= 0) {  // no step to take: what was captured is the animation
        exportGifFileOfAnimatedFrames();
        return;
    }
    timeValue += 1.0 / steps;
    if (timeValue < 1.0 + 1.0 / steps) next();
    else exportGifFileOfAnimatedFrames();
}

void Utils::next() { animate(); }

void Utils::callToGetImageFrameForTransition() {
    const CIImage out = currentFilter ? currentFilter->outputImage() : CIImage();
    const QSizeF S = transitionExtent();
    const QSizeF O = effects::extentSize(out);
    if (out.isNull() || S.width() < 1 || S.height() < 1 || O.isEmpty()) {
        platform::log(u"Transition frame skipped: the filter gave no picture");
        return;
    }
    QImage frame;
    if (O.width() < S.width() || O.height() < S.height()) {
        // A smaller output is stretched over the whole frame.
        frame = getDrawedImage(out, S, QRectF(QPointF(0, 0), S), out.extent());
    } else {
        CIImage cut = out;
        if (O.width() > S.width() || O.height() > S.height()) {
            cut = effects::runFilter(QStringLiteral("CICrop"), out,
                                     {{QStringLiteral("inputRectangle"),
                                       QVariant::fromValue(ciVectorWithCGRect(QRectF(QPointF(0, 0), S)))}});
        }
        // Every frame has the pictures' size, so the frames of one animation match.
        frame = getDrawedImage(cut, S, QRectF(QPointF(0, 0), S), QRectF(QPointF(0, 0), S));
    }
    if (!frame.isNull()) arrayOfAnimatedFramesForGif.append(frame);
}

QString Utils::gifExportPath(const QString& folder) {
    const auto& photo = AppDelegate::shared().selectedImageFile;
    const QString base = photo ? platform::stringByDeletingPathExtension(platform::lastPathComponent(photo->fileName))
                               : QString();
    if (base.isEmpty() || base == QLatin1String(".") || base == QLatin1String("..")) return QString();
    const QString dir = folder.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::DesktopLocation) : folder;
    if (dir.isEmpty()) return QString();
    QString path = platform::stringByAppendingPathComponent(dir, base + QStringLiteral(".gif"));
    // The Desktop may hold the user's own picture of that name, or the selected photo itself.
    for (int n = 2; QFileInfo::exists(path) && n < 100000; ++n)
        path = platform::stringByAppendingPathComponent(dir, base + QStringLiteral(" %1.gif").arg(n));
    return path;
}

void Utils::exportGifFileOfAnimatedFrames() {
    lastGifPath.clear();
    if (arrayOfAnimatedFramesForGif.isEmpty()) return;
    const QString path = gifExportPath(gifExportFolder);
    if (path.isEmpty()) {
        platform::log(u"Transition GIF not written: no photo is selected to name it");
        arrayOfAnimatedFramesForGif.clear();
        return;
    }
    QDir().mkpath(platform::stringByDeletingLastPathComponent(path));
    QList<QImage> frames;
    frames.reserve(arrayOfAnimatedFramesForGif.size());
    for (const QImage& frame : std::as_const(arrayOfAnimatedFramesForGif)) frames.append(getCgiImageRef(frame));
    const bool written = platform::writeAnimatedGif(path, frames, kFrameDelayCentiseconds, kLoopForever);
    arrayOfAnimatedFramesForGif.clear();
    if (!written) {
        platform::log(u"Transition GIF could not be written at %@", path);
        return;
    }
    platform::log(u"Your GIF File Saved At Path %@", path);
    lastGifPath = path;
    imgGIFforTransitionEffects = platform::readImage(path);
}
