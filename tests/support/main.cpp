#include <QApplication>
#include <QFontDatabase>
#include <QLocale>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "platform/foundation/BusErrorGuard.h"
#include "tests/support/TestSupport.h"

int main(int argc, char** argv) {
    // Before any thread, as the application does.
    platform::busguard::install();
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                      : qgetenv("QT_QPA_PLATFORM"));
    // A home of the run's own: screens make their default folders (Pictures, Documents,
    // settings) on first use, and no test may write into the home of whoever runs it.
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/brisko-test-home-XXXXXX"));
    if (home.isValid()) {
        qputenv("HOME", home.path().toUtf8());
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_DOCUMENTS_DIR",
                                 "XDG_PICTURES_DIR", "XDG_DESKTOP_DIR"}) {
            qunsetenv(name);
        }
    }
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    testsupport::pinFont();
    return RUN_ALL_TESTS();
}
