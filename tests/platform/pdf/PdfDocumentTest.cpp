#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <thread>
#include <vector>

#include "platform/imageio/ImageIO.h"
#include "platform/pdf/PdfDocument.h"
#include "tests/support/ColourReferences.h"
#include "tests/support/Sanitizers.h"
#include "tests/support/TestSupport.h"

namespace {

QByteArray jpegOf(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 90);
    return bytes;
}

QImage filled(int w, int h, QColor c) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(c);
    return image;
}

// Renders one page with poppler when it is installed; a null image otherwise.
QImage rendered(const QString& pdf, int page, const QTemporaryDir& dir) {
    const QString tool = QStandardPaths::findExecutable("pdftoppm");
    if (tool.isEmpty()) return {};
    const QString prefix = dir.filePath(QString("page%1").arg(page));
    QProcess::execute(tool, {"-png", "-r", "72", "-singlefile", "-f", QString::number(page), "-l",
                             QString::number(page), pdf, prefix});
    return QImage(prefix + ".png");
}

TEST(PdfDocument, PagesAreAppendedAndReadableByOtherReaders) {
    BRISKO_STARTS_A_PROCESS();
    QTemporaryDir dir;
    const QString pdf = dir.filePath("out.pdf");
    const QByteArray red = jpegOf(filled(120, 80, Qt::red));
    const QByteArray blue = jpegOf(filled(60, 90, Qt::blue));
    ASSERT_FALSE(red.isEmpty());

    ASSERT_TRUE(platform::appendJpegPageToPdf(pdf, pdf, red, 120, 80));
    EXPECT_EQ(platform::pdfPageCount(pdf), 1);
    ASSERT_TRUE(platform::appendJpegPageToPdf(pdf, pdf, blue, 60, 90));
    EXPECT_EQ(platform::pdfPageCount(pdf), 2);

    const QImage first = rendered(pdf, 1, dir);
    const QImage second = rendered(pdf, 2, dir);
    if (first.isNull()) GTEST_SKIP() << "pdftoppm is not installed";
    EXPECT_EQ(first.size(), QSize(120, 80));
    EXPECT_EQ(second.size(), QSize(60, 90));
    EXPECT_GT(QColor(first.pixel(60, 40)).red(), 200);
    EXPECT_GT(QColor(second.pixel(30, 45)).blue(), 200);
}

TEST(PdfDocument, DamagedDocumentStartsAfreshAndFailuresLeaveTheFile) {
    QTemporaryDir dir;
    const QString pdf = testsupport::writeFile(dir.filePath("bad.pdf"), "%PDF-1.4 this is not a document");
    EXPECT_EQ(platform::pdfPageCount(pdf), -1);
    ASSERT_TRUE(platform::appendJpegPageToPdf(pdf, pdf, jpegOf(filled(20, 20, Qt::green)), 20, 20));
    EXPECT_EQ(platform::pdfPageCount(pdf), 1);

    QFile before(pdf);
    ASSERT_TRUE(before.open(QIODevice::ReadOnly));
    const QByteArray bytes = before.readAll();
    before.close();
    EXPECT_FALSE(platform::appendJpegPageToPdf(pdf, pdf, QByteArray(), 20, 20));
    EXPECT_FALSE(platform::appendJpegPageToPdf(pdf, dir.filePath("missing/folder/x.pdf"),
                                               jpegOf(filled(4, 4, Qt::red)), 4, 4));
    QFile after(pdf);
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), bytes);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"bad.pdf"});
}

// A batch run adds pages to the PDF documents of several photos at once. Each document
// must come out whole; a ThreadSanitizer build (bench/tsan.sh) also sees any sharing
// inside qpdf that is not locked.
TEST(PdfDocument, DocumentsWrittenOnSeveralThreadsAtOnceEachGetTheirPages) {
    QTemporaryDir dir;
    const QByteArray page = jpegOf(filled(40, 30, Qt::red));
    constexpr int kThreads = 4, kPages = 3;
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const QString pdf = dir.filePath(QString("doc%1.pdf").arg(t));
            for (int p = 0; p < kPages; ++p) {
                if (!platform::appendJpegPageToPdf(pdf, pdf, page, 40, 30)) ++failures[t];
                if (platform::pdfPageCount(pdf) != p + 1) ++failures[t];
            }
        });
    }
    for (std::thread& t : threads) t.join();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(failures[t], 0) << "document " << t;
        EXPECT_EQ(platform::pdfPageCount(dir.filePath(QString("doc%1.pdf").arg(t))), kPages);
    }
}

}  // namespace

// A PDF page's RGB has no profile: a picture's colours are converted to sRGB for it, and
// what is transparent shows white.
TEST(PdfDocument, PicturePagesAreSrgbOnWhite) {
    BRISKO_STARTS_A_PROCESS();
    QTemporaryDir dir;
    const QString pdf = dir.filePath("page.pdf");
    const QRgb adobe = qRgb(30, 180, 60);
    QImage picture(40, 20, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    for (int y = 0; y < 20; ++y)
        for (int x = 20; x < 40; ++x) picture.setPixel(x, y, adobe);
    ASSERT_TRUE(platform::setImageProfile(picture, testsupport::debianProfile(testsupport::kAdobeRgbProfile)));
    ASSERT_TRUE(platform::appendPicturePageToPdf(pdf, pdf, picture, 1.0));
    EXPECT_EQ(platform::pdfPageCount(pdf), 1);
    const QImage page = rendered(pdf, 1, dir);
    if (page.isNull()) GTEST_SKIP() << "pdftoppm is not installed";
    ASSERT_EQ(page.size(), QSize(40, 20));
    EXPECT_LE(testsupport::colourDistance(page.pixel(8, 10), qRgb(255, 255, 255)), 2);
    EXPECT_LE(testsupport::colourDistance(page.pixel(30, 10), testsupport::adobeRgbInSrgb(adobe)), 3);
}
