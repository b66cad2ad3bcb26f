// brisko_thumbnail_renderer <resource folder>
// Second step of the picture generator: the effect pictures of the effect lists, rendered
// by the engine itself from the generated sample picture, so each shows what its effect
// really does. Runs after the generator (it reads the sample, textures, frame pieces and
// stickers from the folder) and replaces the generator's drawn stand-ins where the engine
// gives a picture.
#include "engine/FilterCustomization.h"
#include "engine/Utils.h"
#include "platform/foundation/Plist.h"
#include "platform/foundation/Resources.h"
#include "platform/foundation/Values.h"

#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QImageWriter>
#include <cstdio>

namespace {

QVariantMap entry(const QString& key, const QVariant& value) { return {{key, value}}; }

bool write(const QString& folder, const QString& name, const QImage& image) {
    const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".png");
    const QString temp = path + QStringLiteral(".part");
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    out.setDotsPerMeterX(2835);
    out.setDotsPerMeterY(2835);
    QImageWriter writer(temp, "png");
    if (!writer.write(out)) return false;
    QFile::remove(path);
    return QFile::rename(temp, path);
}

QImage load(const QString& folder, const QString& name) {
    QImageReader reader(folder + QLatin1Char('/') + name);
    return reader.read().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (app.arguments().size() < 2) {
        std::fprintf(stderr, "usage: %s <resource folder>\n", argv[0]);
        return 2;
    }
    const QString folder = app.arguments().at(1);
    platform::setResourceDirectory(folder);
    const QImage sample = load(folder, QStringLiteral("birds_all_applied.png"));
    if (sample.isNull()) {
        std::fprintf(stderr, "the sample picture is missing; run the generator first\n");
        return 1;
    }
    Utils& utils = Utils::sharedUtils();
    int made = 0, kept = 0;
    auto put = [&](const QString& name, const QImage& img) {
        if (!img.isNull() && write(folder, name, img)) ++made;
        else {
            ++kept;
            std::fprintf(stderr, "no engine picture for %s; the drawn one stays\n", qPrintable(name));
        }
    };
    auto viaDispatcher = [&](const QString& effect, const QVariantList& params) {
        return utils.applyFilterWithImage(sample, QString(), effect, params, true);
    };

    // Core Image effects of the catalogue, under the names the catalogue gives their pictures.
    const QVariantMap filterImages = platform::readPlistFile(folder + QStringLiteral("/FilterImages.plist")).toMap();
    for (auto it = filterImages.cbegin(); it != filterImages.cend(); ++it) put(it.value().toString(), viaDispatcher(it.key(), {}));
    put(QStringLiteral("birds_Edges"), viaDispatcher(QStringLiteral("CIEdges"), {}));
    put(QStringLiteral("birds_Circle_Space"), viaDispatcher(QStringLiteral("CICircleSplashDistortion"), {}));
    put(QStringLiteral("birds_ZoomBlur"), viaDispatcher(QStringLiteral("CIZoomBlur"), {}));

    // Basic effects.
    put(QStringLiteral("Sepia"), viaDispatcher(QStringLiteral("CISepiaTone"), {}));
    put(QStringLiteral("Vignette"), viaDispatcher(QStringLiteral("CIVignetteEffect"), {}));
    put(QStringLiteral("Black & White"), viaDispatcher(QStringLiteral("Black & White"), {entry("Intensity", 2.0)}));
    put(QStringLiteral("Rotate"), viaDispatcher(QStringLiteral("Rotate"), {entry("angle", 15.0), entry("flipHorizontally", false)}));
    put(QStringLiteral("Add Text"),
        utils.addWaterMarkToImage(sample, QString(), QStringLiteral("Add Text"),
                                  {entry("text", QStringLiteral("Text")), entry("fontSize", 0.3),
                                   entry("rotatedRect", QVariant::fromValue(platform::Vec(0.2, 0.3, 0.6, 0.4))),
                                   entry("textAlignment", 2)}));

    // Texture, frame and sticker sets, each with its first picture.
    for (const char* texture : {"Lights Effect", "Paint Effect", "Fabric Effect", "Grunge Effect", "Paper Effect",
                                "Art Effect", "Bricks Effect", "Color Effect", "Vintage Effect"}) {
        const QString name = QString::fromLatin1(texture);
        put(name, utils.addTexturesToImage(sample, QString(), name, {entry("effectIntensityValue", 0.7)}, true));
    }
    const std::pair<const char*, const char*> frames[] = {
        {"Classic Frame", "ClassicFrame1.png"},    {"Fancy Frame", "FancyFrame1.png"},
        {"Film Strip Frame", "FilmStripFrame1.png"}, {"Grunge Frame", "GrungeFrame1.png"},
        {"Royal Frame", "RoyalFrame1.png"},        {"Vintage Frame", "VintageFrame1.png"},
        {"Brush Strokes Frame", "BrushStroke1.png"}, {"Add Frame", "ClassicFrame2.png"},
    };
    for (const auto& [effect, design] : frames)
        put(QString::fromLatin1(effect),
            utils.addCustomFrameToImage(sample, QString(), QString::fromLatin1(effect),
                                        {entry("picture_frameName", QString::fromLatin1(design))}, true));
    for (const char* set : {"Birthday", "Chat Bubbles", "Design Elements", "Emoticons", "Food", "Love", "Music", "Zodiac"}) {
        const QString name = QString::fromLatin1(set);
        const QImage sticker = load(folder, name + QStringLiteral("1.png"));
        put(name, utils.addImageToBackgroundImage(
                      sample, name,
                      {entry("imageToAdd", sticker), entry("flipHorizontally", false),
                       entry("boundedRect", QVariant::fromValue(platform::Vec(0.3, 0.2, 0.45, 0.6)))}));
    }
    std::printf("rendered %d effect pictures through the engine (%d kept as drawn)\n", made, kept);
    return 0;
}
