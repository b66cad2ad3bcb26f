#pragma once
// Real pictures that no one here made, shipped by Debian packages that scripts/deps.sh
// installs: cameras' and editors' own files, with their profiles, orientations and
// metadata. A missing package is a test failure, not a skip.
#include <QFileInfo>
#include <QString>
#include <gtest/gtest.h>

namespace testsupport {

// imagemagick-6-doc: photos and drawings of the manual.
inline const QString kManualPictures = QStringLiteral("/usr/share/doc/imagemagick-6-common/html/images/");
// mate-backgrounds: large desktop photos.
inline const QString kDesktopPhotos = QStringLiteral("/usr/share/backgrounds/mate/");
// libpng-dev: libpng's own test picture, an interlaced RGBA PNG.
inline const QString kLibpngTestPicture = QStringLiteral("/usr/share/doc/libpng-dev/examples/pngtest.png");

// The path of a packaged picture; a failure is recorded when it is not installed.
inline QString packagedPicture(const QString& path) {
    EXPECT_TRUE(QFileInfo(path).isFile()) << path.toStdString() << " is missing: run scripts/deps.sh";
    return path;
}

}  // namespace testsupport
