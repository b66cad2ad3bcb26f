// The engine's kept resource pictures: within their budget, the least recently used going
// first, nothing kept that could not be made, and one picture for a key whichever thread asks.
#include "engine/ResourcePictures.h"

#include <gtest/gtest.h>
#include <atomic>
#include <thread>
#include <vector>

namespace {

QImage filled(int side, QRgb colour) {
    QImage img(side, side, QImage::Format_ARGB32_Premultiplied);
    img.fill(colour);
    return img;
}

}  // namespace

TEST(ResourcePictures, KeepsWhatFitsDroppingTheLeastRecentlyUsed) {
    // Three 40 x 40 pictures (6,400 bytes each) fit in 20,000 bytes.
    ResourcePictures kept(20000);
    int made = 0;
    auto get = [&](const QString& key, int side = 40) {
        return kept.picture(key, [&] {
            ++made;
            return filled(side, qRgb(key.size() * 20, 0, 0));
        });
    };
    get("a"), get("bb"), get("ccc");
    EXPECT_EQ(made, 3);
    EXPECT_EQ(get("a").pixel(0, 0), qRgb(20, 0, 0));  // kept, and now the most recent
    EXPECT_EQ(made, 3);
    get("dddd");  // "bb" is the least recently used: it goes
    EXPECT_EQ(made, 4);
    EXPECT_EQ(kept.bytesKept(), 3 * 6400);
    get("a"), get("ccc"), get("dddd");
    EXPECT_EQ(made, 4);
    get("bb");
    EXPECT_EQ(made, 5);

    // Too big to keep, or nothing made: given back, not kept.
    EXPECT_EQ(get("huge", 100).width(), 100);
    EXPECT_EQ(get("huge", 100).width(), 100);
    EXPECT_EQ(made, 7);
    EXPECT_TRUE(kept.picture("none", [] { return QImage(); }).isNull());
    EXPECT_EQ(kept.bytesKept(), 3 * 6400);
}

TEST(ResourcePictures, ThreadsAskingAtOnceKeepOnePicture) {
    ResourcePictures kept(1 << 20);
    std::atomic<int> made{0};
    std::vector<QImage> got(8);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            got[size_t(t)] = kept.picture("shared", [&] {
                ++made;
                return filled(64, qRgb(1, 2, 3));
            });
        });
    for (auto& th : threads) th.join();
    for (const QImage& img : got) EXPECT_EQ(img, got[0]);
    // However many threads made it at once, one is kept and later askers make none.
    EXPECT_EQ(kept.bytesKept(), 64 * 64 * 4);
    const int before = made.load();
    EXPECT_EQ(kept.picture("shared", [&] { ++made; return QImage(); }), got[0]);
    EXPECT_EQ(made.load(), before);
}
