#include "batch/ui/OutputFolderDialog.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>

#include "batch/ui/OutputFolderChoice.h"

OutputFolderDialog::OutputFolderDialog(QWidget* parent, const QString& start)
    : QFileDialog(parent, tr("Choose the output folder"), start) {
    setObjectName(QStringLiteral("folderChooser"));
    setFileMode(QFileDialog::Directory);
    setOption(QFileDialog::ShowDirsOnly);
    // Qt's own dialog, so that a typed folder reaches accept() below on every desktop.
    setOption(QFileDialog::DontUseNativeDialog);
}

void OutputFolderDialog::accept() {
    const QStringList chosen = selectedFiles();
    const QString folder = chosen.isEmpty() ? QString() : QDir::cleanPath(chosen.first());
    if (folder.isEmpty() || QFileInfo::exists(folder) || question_) {
        QFileDialog::accept();
        return;
    }
    const auto ask = outputfolder::createQuestion(folder);
    auto* box = new QMessageBox(QMessageBox::Question, ask.title, ask.text, QMessageBox::Yes | QMessageBox::No, this);
    box->setObjectName(QStringLiteral("folderCreateQuestion"));
    box->setDefaultButton(QMessageBox::Yes);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    connect(box, &QMessageBox::finished, this, [this, box, folder] {
        if (box->clickedButton() != box->button(QMessageBox::Yes)) return;
        const QString failure = outputfolder::createFolder(folder);
        if (!failure.isEmpty()) {
            auto* alert = new QMessageBox(QMessageBox::Warning, windowTitle(), failure, QMessageBox::Ok, this);
            alert->setObjectName(QStringLiteral("folderCreateFailed"));
            alert->setAttribute(Qt::WA_DeleteOnClose);
            alert->open();
            return;
        }
        // Made: the chooser ends with it chosen.
        selectFile(folder);
        QFileDialog::accept();
    });
    question_ = box;
    box->open();
}
