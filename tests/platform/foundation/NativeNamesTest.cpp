#include <gtest/gtest.h>

#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <tuple>
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
        if (c.display.isEmpty()) { EXPECT_EQ(decoded, QString::fromUtf8(c.native)); }
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
    ASSERT_EQ(::symlink((root + "/IMG_\xff.jpg").constData(), (root + "/to-photo.jpg").constData()), 0);
    // What may stand where a photo was: a named pipe, a socket, a device.
    const testsupport::NamedPipe pipe(platform::decodePath(root + "/pipe_\xff.jpg"));
    ASSERT_TRUE(pipe.made());
    const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray socketPath = root + "/socket.jpg";
    ASSERT_LT(socketPath.size(), qsizetype(sizeof address.sun_path));
    std::memcpy(address.sun_path, socketPath.constData(), size_t(socketPath.size()));
    ASSERT_EQ(::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::symlink("/dev/null", (root + "/device.jpg").constData()), 0);

    const auto entries = platform::readFolderEntries(platform::decodePath(root));
    ASSERT_TRUE(entries.has_value());
    // name: folder, regular file, link
    QMap<QByteArray, std::tuple<bool, bool, bool>> kinds;
    for (const platform::FolderEntry& e : *entries)
        kinds[platform::encodePath(e.name)] = {e.isDirectory, e.isRegularFile, e.isSymbolicLink};
    EXPECT_EQ(kinds, (QMap<QByteArray, std::tuple<bool, bool, bool>>{
                         {"\xe9t\xe9", {true, false, false}},
                         {"to-folder", {true, false, true}},
                         {"dangling", {false, false, true}},
                         {"IMG_\xff.jpg", {false, true, false}},
                         {"to-photo.jpg", {false, true, true}},
                         {"pipe_\xff.jpg", {false, false, false}},
                         {"socket.jpg", {false, false, false}},
                         {"device.jpg", {false, false, true}},
                     }));
    EXPECT_FALSE(platform::readFolderEntries(platform::decodePath(root + "/missing")).has_value());

    QFile file;
    ASSERT_TRUE(platform::openFile(file, platform::decodePath(root + "/IMG_\xff.jpg")));
    EXPECT_EQ(file.readAll(), "picture bytes");
    file.close();
    QFile linked;
    ASSERT_TRUE(platform::openFile(linked, platform::decodePath(root + "/to-photo.jpg")));
    EXPECT_EQ(linked.readAll(), "picture bytes");
    QFile missing;
    EXPECT_FALSE(platform::openFile(missing, platform::decodePath(root + "/IMG_\xfe.jpg")));
    EXPECT_FALSE(platform::isSpecialFile(platform::decodePath(root + "/IMG_\xfe.jpg")));
    // Refused at once, never waited on; nor does ReadablePath wait to hold one.
    for (const char* name : {"pipe_\xff.jpg", "socket.jpg", "device.jpg", "\xe9t\xe9"}) {
        SCOPED_TRACE(name);
        const QString path = platform::decodePath(root + '/' + name);
        QFile special;
        EXPECT_FALSE(platform::openFile(special, path));
        EXPECT_EQ(platform::isSpecialFile(path), name[0] != '\xe9');
        const platform::ReadablePath readable(path);
        ASSERT_FALSE(readable.path().isEmpty());
        QFile through;
        EXPECT_FALSE(platform::openFile(through, readable.path()));
    }
    EXPECT_FALSE(pipe.released());
    ::close(socket);
    testsupport::removeTree(dir.path());
}

}  // namespace
