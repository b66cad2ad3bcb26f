// The pictures drawn at build time: every name the program looks up exists, at a usable
// size, and drawing them again gives the same bytes.
#include "platform/foundation/Resources.h"
#include "tests/support/Sanitizers.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QSize sizeOf(const QString& name) {
    const QString path = platform::resourcePath(name);
    return path.isEmpty() ? QSize() : QImageReader(path).size();
}

struct Family {
    const char* prefix;
    int count;
    const char* suffix;
};

TEST(GeneratedPictures, EveryNamedPictureExists) {
    ASSERT_FALSE(platform::resourceDirectory().isEmpty());
    const Family textures[] = {{"Lights", 11, ".jpg"}, {"Paint", 3, ".jpg"},  {"Fabric", 2, ".jpg"},
                               {"Grunge", 5, ".jpg"},  {"Paper", 9, ".jpg"},  {"Art", 12, ".jpg"},
                               {"Bricks", 3, ".jpg"},  {"Color", 16, ".jpg"}, {"Vintage", 5, ".jpg"}};
    int textureCount = 0;
    for (const Family& f : textures)
        for (int i = 1; i <= f.count; ++i, ++textureCount) {
            const QSize s = sizeOf(QStringLiteral("%1%2%3").arg(f.prefix).arg(i).arg(f.suffix));
            EXPECT_TRUE(s.width() >= 256 && s.width() <= 1024 && s.height() >= 256 && s.height() <= 1024)
                << f.prefix << i;
        }
    EXPECT_EQ(textureCount, 66);

    const Family frames[] = {{"BrushStroke", 6, ""},    {"ClassicFrame", 9, ""}, {"FancyFrame", 4, ""},
                             {"FilmStripFrame", 4, ""}, {"GrungeFrame", 3, ""},  {"RoyalFrame", 5, ""},
                             {"VintageFrame", 6, ""}};
    for (const Family& f : frames)
        for (int i = 1; i <= f.count; ++i) {
            const QString design = QStringLiteral("%1%2").arg(f.prefix).arg(i);
            EXPECT_TRUE(sizeOf(design + ".png").isValid()) << qPrintable(design);
            for (int p = 1; p <= 8; ++p) {
                const QSize s = sizeOf(QStringLiteral("%1_%2.png").arg(design).arg(p));
                EXPECT_TRUE(s.isValid() && s.width() == s.height()) << qPrintable(design) << "_" << p;
            }
        }

    const Family stickers[] = {{"Birthday", 8, ".png"}, {"Chat Bubbles", 11, ".png"}, {"Design Elements", 11, ".png"},
                               {"Emoticons", 15, ".png"}, {"Food", 17, ".png"},       {"Love", 10, ".png"},
                               {"Music", 11, ".png"},     {"Zodiac", 24, ".png"}};
    for (const Family& f : stickers)
        for (int i = 1; i <= f.count; ++i)
            EXPECT_TRUE(sizeOf(QStringLiteral("%1%2.png").arg(f.prefix).arg(i)).isValid()) << f.prefix << i;

    for (const char* name : {"Mask image.png", "Sample image #2.png", "place_holder.png", "birds_all_applied.png",
                             "birds_Edges.png", "birds_Circle_Space.png", "birds_ZoomBlur.png", "Add Frame.png",
                             "Lights Effect.png", "Classic Frame.png", "Zodiac.png", "Batch Conversion.png", "menu_Favorites.png",
                             "menu_Distortion Effects.png", "menu_Black & White.png",
                             "FilterImages.plist"})
        EXPECT_FALSE(platform::resourcePath(QString::fromUtf8(name)).isEmpty()) << name;
}

TEST(GeneratedPictures, StickersAreTransparentAroundTheirDrawing) {
    QImage img(platform::resourcePath("Emoticons1.png"));
    ASSERT_FALSE(img.isNull());
    EXPECT_EQ(qAlpha(img.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(img.pixel(img.width() / 2, img.height() / 2)), 255);
}

// Largest colour step between two columns (the last of a and the first of b), over the
// outer half of the band.
int columnStep(const QImage& a, int ca, const QImage& b, int cb) {
    int worst = 0;
    for (int i = 0; i < a.height() / 2; ++i) {
        const QRgb p = a.pixel(ca, i), q = b.pixel(cb, i);
        worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                          std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
    }
    return worst;
}

// A seam is invisible when the step across it is no larger than the steps between
// neighbouring columns inside the pieces themselves.
void expectSeamless(const QImage& a, const QImage& b, const std::string& what) {
    int inside = 0;
    for (int c = 0; c + 1 < b.width(); ++c) inside = std::max(inside, columnStep(b, c, b, c + 1));
    EXPECT_LE(columnStep(a, a.width() - 1, b, 0), inside + 8) << what;
}

TEST(GeneratedPictures, FrameEdgesTileIntoTheirCorners) {
    const std::pair<const char*, int> sets[] = {{"BrushStroke", 6},    {"ClassicFrame", 9}, {"FancyFrame", 4},
                                                {"FilmStripFrame", 4}, {"GrungeFrame", 3},  {"RoyalFrame", 5},
                                                {"VintageFrame", 6}};
    for (const auto& [prefix, count] : sets)
        for (int d = 1; d <= count; ++d) {
            auto piece = [&](int n) {
                return QImage(platform::resourcePath(QStringLiteral("%1%2_%3.png").arg(prefix).arg(d).arg(n)))
                    .convertToFormat(QImage::Format_ARGB32_Premultiplied);
            };
            const QImage topLeft = piece(1), top = piece(2), left = piece(4);
            ASSERT_FALSE(topLeft.isNull()) << prefix << d;
            // The top edge continues the corner to its right, the left edge continues it below,
            // and an edge continues itself when tiled.
            const std::string name = std::string(prefix) + std::to_string(d);
            const QTransform transpose(0, 1, 1, 0, 0, 0);
            expectSeamless(topLeft, top, name + " corner to top edge");
            expectSeamless(top, top, name + " top edge to itself");
            expectSeamless(topLeft.transformed(transpose), left.transformed(transpose), name + " corner to left edge");
        }
}

TEST(GeneratedPictures, RegenerateByteIdentically) {
    BRISKO_STARTS_A_PROCESS();
    const QString generator = platform::resourceDirectory() + "/generator/brisko_resource_generator";
    if (!QFile::exists(generator)) GTEST_SKIP() << "generator not built beside the resources";
    for (const char* prefix : {"ClassicFrame4", "Paper2", "Zodiac1", "Mask image"}) {
        QTemporaryDir out;
        QProcess run;
        run.start(generator, {out.path(), "--only", prefix});
        ASSERT_TRUE(run.waitForFinished(60000));
        ASSERT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
        const QStringList files = QDir(out.path()).entryList(QDir::Files);
        EXPECT_FALSE(files.isEmpty()) << prefix;
        for (const QString& f : files) {
            QFile a(out.filePath(f)), b(platform::resourcePath(f));
            ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly)) << qPrintable(f);
            EXPECT_TRUE(a.readAll() == b.readAll()) << qPrintable(f) << " differs from the build's copy";
        }
    }
}

}  // namespace
