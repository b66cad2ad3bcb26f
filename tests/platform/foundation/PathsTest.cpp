#include <gtest/gtest.h>

#include "platform/foundation/FileAttributes.h"
#include "platform/foundation/Paths.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <unistd.h>
#include <QFile>
#include <QThread>

using namespace platform;

struct PathCase {
    const char* path;
    const char* last;
    const char* ext;
    const char* noExt;
    const char* parent;
};

TEST(Paths, ComponentsAndExtensionsFollowThePlatformRules) {
    const PathCase cases[] = {
        {"/out/Photo.JPG", "Photo.JPG", "JPG", "/out/Photo", "/out"},
        {"a.tar.gz", "a.tar.gz", "gz", "a.tar", ""},
        {"noext", "noext", "", "noext", ""},
        {"/tmp/.hidden", ".hidden", "", "/tmp/.hidden", "/tmp"},
        {"/tmp/dir/", "dir", "", "/tmp/dir", "/tmp"},
        {"/tmp//x.png", "x.png", "png", "/tmp/x", "/tmp"},
        {"/tmp/dir.d/file", "file", "", "/tmp/dir.d/file", "/tmp/dir.d"},
        {"/tmp/a.", "a.", "", "/tmp/a", "/tmp"},
        {"/tmp/a..b", "a..b", "b", "/tmp/a.", "/tmp"},
        {"/x", "x", "", "/x", "/"},
        {"/", "/", "", "/", "/"},
        {"", "", "", "", ""},
        {"Bundle.app/", "Bundle.app", "app", "Bundle", ""},
    };
    for (const PathCase& c : cases) {
        const QString p = QString::fromUtf8(c.path);
        SCOPED_TRACE(c.path);
        EXPECT_EQ(lastPathComponent(p), QString::fromUtf8(c.last));
        EXPECT_EQ(pathExtension(p), QString::fromUtf8(c.ext));
        EXPECT_EQ(stringByDeletingPathExtension(p), QString::fromUtf8(c.noExt));
        EXPECT_EQ(stringByDeletingLastPathComponent(p), QString::fromUtf8(c.parent));
    }
}

TEST(Paths, AppendingJoinsWithOneSlash) {
    EXPECT_EQ(stringByAppendingPathComponent(u"/tmp"_qs, u"a.png"_qs), u"/tmp/a.png"_qs);
    EXPECT_EQ(stringByAppendingPathComponent(u"/tmp/"_qs, u"a.png"_qs), u"/tmp/a.png"_qs);
    EXPECT_EQ(stringByAppendingPathComponent(u"/"_qs, u"a"_qs), u"/a"_qs);
    EXPECT_EQ(stringByAppendingPathComponent(u""_qs, u"a"_qs), u"a"_qs);
    EXPECT_EQ(stringByAppendingPathComponent(u"/out"_qs, u"sub/"_qs), u"/out/sub"_qs);

    EXPECT_EQ(stringByAppendingPathExtension(u"/tmp/a"_qs, u"png"_qs), u"/tmp/a.png"_qs);
    EXPECT_EQ(stringByAppendingPathExtension(u"/tmp/a.old"_qs, u"png"_qs), u"/tmp/a.old.png"_qs);
    EXPECT_EQ(stringByAppendingPathExtension(u"/tmp/"_qs, u"png"_qs), u"/tmp.png"_qs);
    EXPECT_EQ(stringByAppendingPathExtension(u""_qs, u"png"_qs), QString());
    // Deleting then appending gives the path back.
    const QString p = u"/out/Photo.JPG"_qs;
    EXPECT_EQ(stringByAppendingPathExtension(stringByDeletingPathExtension(p), pathExtension(p)), p);
}

TEST(FileAttributes, SizeAndDatesOfARealFileAndNothingForAMissingOne) {
    QTemporaryDir dir;
    const QString path = testsupport::writeFile(dir.filePath(u"f.bin"_qs), QByteArray(1234, 'x'));
    const FileAttributes a = fileAttributes(path);
    EXPECT_TRUE(a.exists);
    EXPECT_FALSE(a.isDirectory);
    EXPECT_EQ(a.size, 1234u);
    ASSERT_TRUE(a.modificationDate.isValid());
    // Whether or not the file system keeps a birth time, a readable file has a creation
    // date, and it is never after the modification date.
    ASSERT_TRUE(a.creationDate.isValid());
    EXPECT_LE(a.creationDate, a.modificationDate.addSecs(1));

    const FileAttributes d = fileAttributes(dir.path());
    EXPECT_TRUE(d.exists);
    EXPECT_TRUE(d.isDirectory);

    const FileAttributes m = fileAttributes(dir.filePath(u"missing"_qs));
    EXPECT_FALSE(m.exists);
    EXPECT_EQ(m.size, 0u);
    EXPECT_FALSE(m.modificationDate.isValid());
    EXPECT_FALSE(m.creationDate.isValid());
}

TEST(FileAttributes, ModificationDateCanBeGivenBack) {
    QTemporaryDir dir;
    const QString path = testsupport::writeFile(dir.filePath(u"f.txt"_qs), "x");
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(1500000000000LL);
    ASSERT_TRUE(setModificationDate(path, when));
    EXPECT_EQ(fileAttributes(path).modificationDate, when);
    EXPECT_FALSE(setModificationDate(dir.filePath(u"missing"_qs), when));
}

// The batch run must never send a source to the Trash when its output is that very file,
// however the two paths are spelt.
TEST(SameFile, NamesOfOneFileAreTheSameFile) {
    QTemporaryDir dir;
    const QString a = dir.filePath("a.jpg"), b = dir.filePath("b.jpg");
    QFile fa(a); ASSERT_TRUE(fa.open(QIODevice::WriteOnly)); fa.write("x"); fa.close();
    QFile fb(b); ASSERT_TRUE(fb.open(QIODevice::WriteOnly)); fb.write("x"); fb.close();
    ASSERT_EQ(::link(QFile::encodeName(a).constData(), QFile::encodeName(dir.filePath("hard.jpg")).constData()), 0);
    ASSERT_TRUE(QFile::link(a, dir.filePath("soft.jpg")));

    EXPECT_TRUE(platform::isSameFile(a, dir.filePath("hard.jpg")));
    EXPECT_TRUE(platform::isSameFile(a, dir.filePath("soft.jpg")));
    EXPECT_FALSE(platform::isSameFile(a, b));  // same content, different files
    EXPECT_TRUE(platform::isSameFile(dir.filePath("gone/x.jpg"), dir.path() + "/gone/./x.jpg"));
    EXPECT_FALSE(platform::isSameFile(dir.filePath("gone/x.jpg"), dir.filePath("gone/X.jpg")));
}
