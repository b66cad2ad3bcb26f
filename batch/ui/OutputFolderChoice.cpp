#include "batch/ui/OutputFolderChoice.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "batch/RenameScheme.h"
#include "platform/foundation/Paths.h"

namespace outputfolder {

QString chooserStartFolder(const QString& current, const QString& fallback) {
    QString folder = current.trimmed();
    while (!folder.isEmpty()) {
        if (QFileInfo(folder).isDir()) return folder;
        const QString parent = QFileInfo(folder).path();
        if (parent == folder || parent == QStringLiteral(".")) break;
        folder = parent;
    }
    return fallback;
}

QString libraryOutputFolder() {
    return platform::stringByAppendingPathComponent(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation),
                                                    QString::fromLatin1(RenameScheme::kLibraryOutputFolderName));
}

CreateQuestion createQuestion(const QString& folder) {
    return {QStringLiteral("CREATE FOLDER"),
            QStringLiteral("The folder \u201c%1\u201d does not exist yet. Create it and save the processed photos there?")
                .arg(folder)};
}

QString createFolder(const QString& folder) {
    if (QDir().mkpath(folder) && QFileInfo(folder).isDir()) return {};
    return QStringLiteral("The folder \u201c%1\u201d could not be created.").arg(folder);
}

}  // namespace outputfolder
