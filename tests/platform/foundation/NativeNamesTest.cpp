#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <unistd.h>

#include "platform/foundation/NativeNames.h"

namespace {

TEST(NativeNames, EveryByteSequenceComesBackAndReadsAsTheFileSystemShowsIt) {
    struct Case {
        QByteArray native;
        QString display;  // empty: the name reads as UTF-8
    };
    const std::vector<Case> cases = {
        {"IMG_0001.JPG", {}},
        {"Caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x93\xb7.jpg", {}},
        {"IMG_\xe9\xff.jpg", "IMG_\\xE9\\xFF.jpg"},                // Latin-1 bytes
        {"a\xc0\xaf" "b", "a\\xC0\\xAFb"},                          // an overlong "/"
        {"s\xed\xa0\x80.png", "s\\xED\\xA0\\x80.png"},              // an encoded surrogate
        {"cut\xe6\x97", "cut\\xE6\\x97"},                           // a character cut short
        {"\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},               // above U+10FFFF
        {"/photos/\xe9t\xe9/IMG_1.jpg", "/photos/\\xE9t\\xE9/IMG_1.jpg"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.native.toHex().toStdString());
        const QString decoded = platform::decodePath(c.native);
        EXPECT_EQ(platform::encodePath(decoded), c.native);
        EXPECT_EQ(platform::hasKeptBytes(decoded), !c.display.isEmpty());
        EXPECT_EQ(platform::displayPath(decoded), c.display.isEmpty() ? QString::fromUtf8(c.native) : c.display);
        if (c.display.isEmpty()) EXPECT_EQ(decoded, QString::fromUtf8(c.native));
    }
}

TEST(NativeNames, AFileWithAKeptByteCanBeOpenedByAnyReader) {
    QTemporaryDir dir;
    const QByteArray native = QFile::encodeName(dir.path()) + "/IMG_\xe9.jpg";
    FILE* f = std::fopen(native.constData(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("picture bytes", f);
    std::fclose(f);
    const QString path = platform::decodePath(native);
    EXPECT_FALSE(QFile(path).open(QIODevice::ReadOnly));  // why this is needed
    {
        platform::ReadablePath readable(path);
        QFile file(readable.path());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << readable.path().toStdString();
        EXPECT_EQ(file.readAll(), "picture bytes");
    }
    EXPECT_TRUE(platform::ReadablePath(platform::decodePath(native + "-missing")).path().isEmpty());
    EXPECT_EQ(platform::ReadablePath(dir.path()).path(), dir.path());
    ::unlink(native.constData());
}

}  // namespace
