#pragma once
// Where the desktop keeps deleted files: the home Trash ($XDG_DATA_HOME/Trash, by
// default ~/.local/share/Trash) and, on other volumes, "<top>/.Trash/<uid>" and
// "<top>/.Trash-<uid>" at the top of the volume.
#include <QString>
#include <QStringList>

namespace platform {

// The home Trash: $XDG_DATA_HOME/Trash, by default ~/.local/share/Trash.
QString homeTrashFolder();

// The Trash folders that could hold `path` (the home Trash and its volume's).
QStringList trashFoldersFor(const QString& path);
// True when path is a Trash folder or lies inside one.
bool isInsideTrash(const QString& path);

}  // namespace platform
