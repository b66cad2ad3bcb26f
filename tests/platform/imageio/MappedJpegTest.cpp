// A JPEG decoded from its mapped file gives back the file's pages it has read; bytes that
// are not a file mapping are never touched.
#include "platform/imageio/CodecInternal.h"
#include "platform/imageio/ImageIO.h"
#include "tests/support/ImageFixtures.h"
#include "tests/support/PackagedPictures.h"

#include <QFile>
#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

namespace {

// Bytes of the mapping that starts at `start` held in memory, from /proc/self/smaps; -1
// when there is no such mapping.
qint64 residentBytes(const void* start) {
    std::ifstream smaps("/proc/self/smaps");
    std::ostringstream key;
    key << std::hex << reinterpret_cast<uintptr_t>(start) << '-';
    bool inside = false;
    for (std::string line; std::getline(smaps, line);) {
        if (!inside) {
            inside = line.rfind(key.str(), 0) == 0;
        } else if (line.rfind("Rss:", 0) == 0) {
            return qint64(std::stoll(line.substr(4))) * 1024;
        }
    }
    return -1;
}

}  // namespace

TEST(MappedJpeg, PagesReadAreGivenBackAndEveryDecodeGivesTheSamePixels) {
    struct {
        const char* photo;
        double mostResident;  // of the file, left in memory once the decode is done
    } cases[] = {
        // 8.5 MB progressive: the decoder takes in the whole file before the first row.
        {"abstract/Elephants_3840x2160.jpg", 0.25},
        // 1.2 MB baseline: read as its rows come out; the first megabyte is given back.
        {"nature/RainDrops.jpg", 0.5},
    };
    for (const auto& c : cases) {
        const QString path = testsupport::packagedPicture(testsupport::kDesktopPhotos + QLatin1String(c.photo));
        SCOPED_TRACE(c.photo);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray copy = file.readAll();
        const QByteArray pristine(copy.constData(), copy.size());

        // From memory: the caller's bytes come back as they were.
        const QImage fromMemory = platform::readImageFromData(copy, {});
        ASSERT_FALSE(fromMemory.isNull());
        EXPECT_TRUE(copy == pristine);

        // From the file, twice: the second decode reads a file whose pages the first gave back.
        for (int round = 0; round < 2; ++round) {
            const QImage fromFile = platform::readImage(path, {});
            ASSERT_EQ(fromFile.size(), fromMemory.size());
            EXPECT_EQ(testsupport::maxDiff(fromFile, fromMemory), 0);
        }

        // From one mapping, twice: the released pages are read from the file again.
        uchar* mapped = file.map(0, file.size());
        ASSERT_NE(mapped, nullptr);
        const platform::codec::Bytes bytes{mapped, size_t(file.size()), true};
        for (int round = 0; round < 2; ++round) {
            const QImage fromMapping = platform::codec::jpegDecode(bytes, {}, path);
            ASSERT_EQ(fromMapping.size(), fromMemory.size());
            EXPECT_EQ(testsupport::maxDiff(fromMapping, fromMemory), 0);
            const qint64 resident = residentBytes(mapped);
            ASSERT_GE(resident, 0);
            EXPECT_LT(resident, qint64(c.mostResident * double(file.size())));
        }
        EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(mapped), file.size()), pristine);
        file.unmap(mapped);
    }
}

TEST(MappedJpeg, AFileThatEndsEarlyDecodesAsItsBytesInMemoryDo) {
    // Once a file runs out the decoder reads a stand-in end of data from outside it.
    QTemporaryDir dir;
    for (const char* photo : {"abstract/Elephants_3840x2160.jpg", "nature/RainDrops.jpg"}) {
        QFile whole(testsupport::packagedPicture(testsupport::kDesktopPhotos + QLatin1String(photo)));
        ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
        const QByteArray bytes = whole.readAll();
        for (const qsizetype kept : {bytes.size() * 9 / 10, bytes.size() - 2}) {  // data cut; end marker lost
            SCOPED_TRACE(std::string(photo) + " cut to " + std::to_string(kept));
            const QString cut = dir.filePath(QStringLiteral("cut.jpg"));
            QFile out(cut);
            ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
            out.write(bytes.left(kept));
            out.close();
            const QImage fromFile = platform::readImage(cut, {});
            const QImage fromMemory = platform::readImageFromData(bytes.left(kept), {});
            ASSERT_EQ(fromFile.size(), fromMemory.size());
            if (!fromFile.isNull()) {
                EXPECT_EQ(testsupport::maxDiff(fromFile, fromMemory), 0);
            }
        }
    }
}
