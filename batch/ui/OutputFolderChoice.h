#pragma once
// The output folder as the options panel offers it, without widgets: where the folder
// chooser opens, what the chooser says of a typed folder that is not there yet, and where
// the photos of a photo library go when output goes beside the sources.
#include <QString>

namespace outputfolder {

// The chooser opens in the folder chosen now, or the nearest folder above it that exists;
// `fallback` when none of them does.
QString chooserStartFolder(const QString& current, const QString& fallback);

// The folder of photo-library photos that cannot go beside their sources (on the desktop).
QString libraryOutputFolder();

// The question before a typed folder is made.
struct CreateQuestion {
    QString title, text;
};
CreateQuestion createQuestion(const QString& folder);
// Makes the folder with the folders above it; the message to show when it could not be
// made, else "".
QString createFolder(const QString& folder);

}  // namespace outputfolder
