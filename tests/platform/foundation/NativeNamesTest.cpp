#include <gtest/gtest.h>

#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/foundation/NativeNames.h"
#include "tests/support/TestSupport.h"

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

TEST(NativeNames, UriListsAndAddressesKeepTheBytes) {
    struct Case {
        QByteArray list;
        QList<QByteArray> paths;
    };
    const std::vector<Case> cases = {
        {"file:///tmp/Caf%E9%FF.jpg\r\n", {"/tmp/Caf\xe9\xff.jpg"}},
        {"file:///tmp/a%20b.jpg\r\nfile:///tmp/%C3%A9.jpg", {"/tmp/a b.jpg", "/tmp/\xc3\xa9.jpg"}},
        {"# a comment\r\nhttp://example.com/x.jpg\r\nfile:/tmp/x.jpg\r\n\r\n", {"/tmp/x.jpg"}},
        {"FILE://localhost/tmp/y.jpg", {"/tmp/y.jpg"}},
        {"file://another.example/tmp/x.jpg", {}},  // not this machine's
        {"file:///tmp/100%2525%23.jpg", {"/tmp/100%25#.jpg"}},
        {"file:///tmp/a.jpg#fragment", {"/tmp/a.jpg"}},
        {"file:///tmp/a%00b.jpg", {}},  // no name holds a zero byte
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list.toStdString());
        const QStringList paths = platform::localPathsFromUriList(c.list);
        QList<QByteArray> bytes;
        for (const QString& p : paths) bytes << platform::encodePath(p);
        EXPECT_EQ(bytes, c.paths);
        // The address made for a path leads back to the same bytes.
        for (const QString& p : paths) {
            EXPECT_EQ(platform::localPathsFromUriList(platform::fileUrl(p).toEncoded()), QStringList{p});
        }
    }
}

TEST(NativeNames, FoldersListAndFilesOpenByTheBytesOfTheirNames) {
    QTemporaryDir dir;
    const QByteArray root = QFile::encodeName(dir.path());
    ASSERT_EQ(::mkdir((root + "/\xe9t\xe9").constData(), 0700), 0);
    ASSERT_EQ(::symlink((root + "/\xe9t\xe9").constData(), (root + "/to-folder").constData()), 0);
    ASSERT_EQ(::symlink((root + "/nowhere").constData(), (root + "/dangling").constData()), 0);
    FILE* f = std::fopen((root + "/IMG_\xff.jpg").constData(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("picture bytes", f);
    std::fclose(f);

    const auto entries = platform::readFolderEntries(platform::decodePath(root));
    ASSERT_TRUE(entries.has_value());
    QMap<QByteArray, bool> kinds;
    for (const platform::FolderEntry& e : *entries) kinds[platform::encodePath(e.name)] = e.isDirectory;
    EXPECT_EQ(kinds, (QMap<QByteArray, bool>{{"\xe9t\xe9", true}, {"to-folder", true}, {"dangling", false}, {"IMG_\xff.jpg", false}}));
    EXPECT_FALSE(platform::readFolderEntries(platform::decodePath(root + "/missing")).has_value());

    QFile file;
    ASSERT_TRUE(platform::openFile(file, platform::decodePath(root + "/IMG_\xff.jpg")));
    EXPECT_EQ(file.readAll(), "picture bytes");
    QFile missing;
    EXPECT_FALSE(platform::openFile(missing, platform::decodePath(root + "/IMG_\xfe.jpg")));
    file.close();
    testsupport::removeTree(dir.path());
}

}  // namespace
