#include "import/ui/OpenPanel.h"

#include <QAbstractItemView>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QSortFilterProxyModel>

namespace {

// Greys out what the library panel's rule refuses; folders it allows stay open to browse.
class LibraryPanelFilter : public QSortFilterProxyModel {
public:
    LibraryPanelFilter(int pathType, QObject* parent) : QSortFilterProxyModel(parent), pathType_(pathType) {}
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        Qt::ItemFlags f = QSortFilterProxyModel::flags(index);
        const auto* model = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (!model) return f;
        const QString path = model->filePath(mapToSource(index));
        if (!intake::libraryPanelShouldEnable(path, pathType_)) f &= ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        return f;
    }

private:
    int pathType_;
};

}  // namespace

QFileDialog* makeOpenPanel(const intake::OpenPanelSpec& spec, QWidget* parent, int libraryPathType) {
    auto* dialog = new QFileDialog(parent);
    dialog->setOption(QFileDialog::DontUseNativeDialog, !spec.useNativeDialog);
    dialog->setOption(QFileDialog::ReadOnly, !spec.canCreateDirectories);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    if (spec.chooseFolders && !spec.chooseFiles) {
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly, true);
    } else if (spec.source == intake::AddSource::LibraryPanel) {
        // Library packages are folders here: they are chosen as items, one at a time.
        dialog->setFileMode(QFileDialog::Directory);
    } else {
        dialog->setFileMode(spec.allowsMultipleSelection ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
        dialog->setNameFilters(spec.nameFilters);
        // The filter's list of extensions would make its box, and the panel, wider than
        // the screen: its name alone is shown.
        dialog->setOption(QFileDialog::HideNameFilterDetails, true);
    }
    // Several folders (or libraries) may be chosen at once; Qt's own dialog takes a single
    // folder unless its views are told otherwise.
    if (spec.allowsMultipleSelection && dialog->fileMode() == QFileDialog::Directory) {
        for (const char* name : {"listView", "treeView"})
            if (auto* view = dialog->findChild<QAbstractItemView*>(QLatin1String(name)))
                view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    }
    if (!spec.prompt.isEmpty()) dialog->setLabelText(QFileDialog::Accept, spec.prompt);
    if (!spec.directory.isEmpty()) dialog->setDirectory(spec.directory);
    if (libraryPathType >= 0) dialog->setProxyModel(new LibraryPanelFilter(libraryPathType, dialog));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    return dialog;
}
