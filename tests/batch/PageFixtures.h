#pragma once
// Photos of several pages or frames, made by real programs: multi-page TIFFs by tiffcp,
// animated GIFs by gifsicle, each page a shrunk copy of a packaged photo.
#include <gtest/gtest.h>

#include <QImage>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include "platform/imageio/ImageIO.h"
#include "tests/support/PackagedPictures.h"
#include "tests/support/TestSupport.h"

namespace pagestest {

// Runs a program of the system; false (and a failure) when it is missing or fails.
inline bool runProgram(const QString& name, const QStringList& args) {
    const QString program = QStandardPaths::findExecutable(name);
    EXPECT_FALSE(program.isEmpty()) << name.toStdString() << " is missing: run scripts/deps.sh";
    if (program.isEmpty()) return false;
    QByteArray said;
    const bool ok = testsupport::runTool(program, args, &said) == 0;
    EXPECT_TRUE(ok) << name.toStdString() << ": " << said.toStdString();
    return ok;
}

// Pages of a real photo, shrunk, each in its own file of the given type.
inline QStringList pagesOf(const QString& folder, platform::ImageType type, const char* extension, int count) {
    const QImage photo = platform::readImage(testsupport::packagedPicture(testsupport::kDesktopPhotos + "nature/Storm.jpg"))
                             .scaled(320, 213, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QStringList pages;
    for (int i = 0; i < count; ++i) {
        // Each page its own picture: the photo turned a little further each time.
        const QImage page = i == 0 ? photo : photo.mirrored(i % 2 == 1, i >= 2);
        pages << folder + QStringLiteral("/page%1.").arg(i) + extension;
        EXPECT_TRUE(platform::writeImageFile(pages.last(), page, type, 0.9));
    }
    return pages;
}

// A TIFF of `count` pages joined by tiffcp.
inline QString multiPageTiff(const QString& folder, const QString& path, int count) {
    QStringList args = pagesOf(folder, platform::ImageType::TIFF, "tif", count);
    args << path;
    return runProgram("tiffcp", args) ? path : QString();
}

// A GIF animation of `count` frames joined by gifsicle.
inline QString animatedGif(const QString& folder, const QString& path, int count) {
    QStringList args{"--merge", "--delay", "10"};
    args << pagesOf(folder, platform::ImageType::GIF, "gif", count) << "-o" << path;
    return runProgram("gifsicle", args) ? path : QString();
}

}  // namespace pagestest
