#include <gtest/gtest.h>

#include "bench/fuzz/FuzzTargets.h"
#include "tests/support/BoundedRun.h"

#include <QDir>
#include <QFileInfo>

// Every checked-in fuzz seed and kept reproducer goes through the parser it was found
// with, each in a child process under a memory budget, so a fault found once stays
// fixed on every build, the normal one and the sanitizer one alike.
namespace {

using Target = int (*)(const uint8_t*, size_t);

struct Corpus {
    const char* folder;  // under the source tree
    const char* name;
    Target target;
};

// The budget the fuzzers run with (-malloc_limit_mb=512).
constexpr long kBudgetMb = 512;

void replay(const Corpus& corpus) {
    SCOPED_TRACE(corpus.name);
    const QDir dir(testsupport::sourcePath(QString::fromLatin1(corpus.folder)));
    const QFileInfoList files = dir.entryInfoList(QDir::Files, QDir::Name);
    ASSERT_FALSE(files.isEmpty()) << corpus.folder;
    for (const QFileInfo& file : files) {
        QFile f(file.absoluteFilePath());
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        const auto run = testsupport::runBounded([&] {
            return corpus.target(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())) == 0;
        });
        EXPECT_TRUE(run.ok(kBudgetMb)) << corpus.folder << "/" << file.fileName().toStdString() << ": "
                                       << run.describe().toStdString();
    }
}

}  // namespace

TEST(FuzzReplay, SeedsAndReproducersStayWithinBudget) {
    BRISKO_STARTS_A_PROCESS();
    const Corpus corpora[] = {
        {"bench/fuzz/corpus/decoders", "decoders", fuzz::decoders},
        {"bench/fuzz/corpus/decoders", "thumbnail", fuzz::thumbnail},
        {"bench/fuzz/corpus/decoders", "image properties", fuzz::imageProperties},
        {"bench/fuzz/corpus/read_only_formats", "HEIF, WebP and camera raw", fuzz::readOnlyFormats},
        {"bench/fuzz/corpus/read_only_formats", "thumbnail", fuzz::thumbnail},
        {"bench/fuzz/corpus/read_only_formats", "image properties", fuzz::imageProperties},
        {"bench/fuzz/corpus/png_optimiser", "PNG optimiser", fuzz::pngOptimiser},
        {"bench/fuzz/corpus/image_properties", "image properties", fuzz::imageProperties},
        {"bench/fuzz/corpus/vector_headers", "EPS and PICT", fuzz::vectorHeaders},
        {"bench/fuzz/corpus/plist", "property lists", fuzz::plist},
        {"bench/fuzz/corpus/keyed_archive", "keyed archives", fuzz::keyedArchive},
        {"bench/fuzz/corpus/user_defaults", "user defaults", fuzz::userDefaults},
        {"bench/fuzz/corpus/library_database", "library databases", fuzz::libraryDatabase},
        {"bench/fuzz/corpus/album_data", "album data", fuzz::albumData},
        {"tests/platform/imageio/data", "decoders", fuzz::decoders},
        {"tests/platform/imageio/data", "thumbnail", fuzz::thumbnail},
        {"tests/platform/imageio/data", "image properties", fuzz::imageProperties},
        {"tests/platform/foundation/data", "property lists", fuzz::plist},
        {"tests/platform/foundation/data", "keyed archives", fuzz::keyedArchive},
        {"tests/platform/foundation/data", "user defaults", fuzz::userDefaults},
    };
    for (const Corpus& c : corpora) replay(c);
}
