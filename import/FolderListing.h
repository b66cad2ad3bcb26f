#pragma once
// The files a folder brings into an add. Both listings are in name order, so a batch
// comes out in the order the user sees the folder in a file manager.
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <optional>

#include "platform/foundation/NativeNames.h"

namespace intake {

// Names are read by their bytes: a file whose name is not UTF-8 is listed too, and its path
// keeps the bytes (see platform::decodePath).

// Only regular files are listed (a link to one included): a named pipe, a socket or a
// device is no photo, and reading one could hold the add for ever.

// The folder's direct files whose extension is an image file type (ignoring case).
QStringList listFolderImages(const QString& folder);

// Every file below the folder, depth first: hidden items and the insides of packages are
// skipped, and so are symbolic links to folders (a link to "..", or to "/", would lead the
// walk out of the folder the user chose); a folder reached twice all the same (mounted
// inside itself) is walked once, and a folder that cannot be read is logged and skipped
// while the rest of the walk goes on. `keepGoing`, when given, is checked per folder.
// `reader` lists one folder (nullopt when it cannot be read); the file system's by default.
using FolderReader = std::function<std::optional<QList<platform::FolderEntry>>(const QString& folder)>;
std::optional<QList<platform::FolderEntry>> readFolder(const QString& folder);
QStringList walkFolder(const QString& folder, const std::atomic<bool>* keepGoing = nullptr,
                       const FolderReader& reader = readFolder);

}  // namespace intake
