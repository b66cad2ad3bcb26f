// The open panels as the user gets them: Qt's own dialog, the filters, the prompt, and
// the library panel greying out what cannot be chosen.
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QSortFilterProxyModel>
#include <QTemporaryDir>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include "import/ui/OpenPanel.h"
#include "tests/support/TestSupport.h"

using namespace intake;

TEST(OpenPanel, FilesAndFolderPanels) {
    QFileDialog* files = makeOpenPanel(openPanelSpec(0), nullptr);
    EXPECT_TRUE(files->testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_FALSE(files->testOption(QFileDialog::ReadOnly));  // new folders may be made
    EXPECT_EQ(files->fileMode(), QFileDialog::ExistingFiles);
    EXPECT_EQ(files->labelText(QFileDialog::Accept), "Add Photos");
    EXPECT_EQ(files->nameFilters(), openPanelNameFilters());
    delete files;

    QFileDialog* folder = makeOpenPanel(openPanelSpec(1), nullptr);
    EXPECT_EQ(folder->fileMode(), QFileDialog::Directory);
    EXPECT_EQ(folder->labelText(QFileDialog::Accept), "Add Folder");
    delete folder;
}

TEST(OpenPanel, LibraryPanelGreysOutWhatItCannotTake) {
    QTemporaryDir dir;
    const QString lib = dir.filePath("A.photoslibrary"), migrated = dir.filePath("B.migratedphotolibrary"),
                  plain = dir.filePath("folder"), file = dir.filePath("c.jpg");
    for (const QString& d : {lib, migrated, plain}) QDir().mkpath(d);
    testsupport::writeFile(file, "x");

    QFileDialog* panel = makeOpenPanel(libraryPanelSpec(true, dir.path()), nullptr, PathTypeOlderLibrary);
    EXPECT_TRUE(panel->testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(panel->labelText(QFileDialog::Accept), "Add Photos Library");
    EXPECT_EQ(QDir(panel->directory()).canonicalPath(), QDir(dir.path()).canonicalPath());
    auto* proxy = panel->proxyModel();
    ASSERT_NE(proxy, nullptr);
    auto* files = qobject_cast<QFileSystemModel*>(proxy->sourceModel());
    ASSERT_NE(files, nullptr);
    const auto enabled = [&](const QString& path) {
        QModelIndex index;
        // The file model reads the folder on a thread of its own; wait for the row.
        QElapsedTimer waited;
        waited.start();
        while (!(index = proxy->mapFromSource(files->index(path))).isValid() && waited.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        EXPECT_TRUE(index.isValid()) << path.toStdString();
        return bool(proxy->flags(index) & Qt::ItemIsEnabled);
    };
    EXPECT_TRUE(enabled(lib));
    EXPECT_TRUE(enabled(plain));
    EXPECT_FALSE(enabled(migrated));
    EXPECT_FALSE(enabled(file));
    delete panel;
}
