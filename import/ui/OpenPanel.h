#pragma once
// The open panels of the add-photos screen as Qt's own file dialog (never the desktop's:
// its filters and per-item rule behave the same everywhere). The dialog is made, not
// shown; the caller opens it with open() and reads the chosen paths when it is accepted.
#include <QString>
#include <QStringList>

#include "import/PhotoSources.h"

class QFileDialog;
class QWidget;

// A dialog set up from the panel's description; folder and library panels that allow
// several items take several. With a library path type (0 to 3), items its rule refuses
// are shown greyed and cannot be chosen (the photo-library panel's pathType rule).
QFileDialog* makeOpenPanel(const intake::OpenPanelSpec& spec, QWidget* parent,
                           int libraryPathType = -1);
