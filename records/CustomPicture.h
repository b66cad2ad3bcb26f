#pragma once
// The picture an "Add Custom Image" step keeps under "imageToAdd". The step carries the
// picture itself, not the chosen file's path, so a favourite or a saved session still
// draws it after the file has moved or gone. It is kept no larger than an archive holds
// (platform::kArchivePictureMaxSide on each side, enough for a box as large as a 24 MP
// photo's shorter side), so the step draws the same picture before it is saved and after
// it is reopened, and a saved favourite or session stays a few megabytes.
#include <QImage>
#include <QString>

namespace CustomPicture {

// The picture of the file at `path` as the program's readers see it, turned upright by its
// orientation tag, in sRGB and fitted; null when the file cannot be read as a picture.
QImage pictureForStep(const QString& path);

}  // namespace CustomPicture
