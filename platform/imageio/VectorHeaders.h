#pragma once
// The picture size of EPS and PICT files, read from their own headers by small bounded
// readers: an EPS file's "%%BoundingBox" comment and a PICT file's picture frame. Only
// the size is needed (the pixels come from elsewhere), so nothing is rendered.
#include <QSizeF>
#include <QString>
#include <optional>

namespace platform {

// Width and height in points of the EPS bounding box (plain or with the DOS binary
// header, "(atend)" boxes included); nothing when the file has no usable box.
std::optional<QSizeF> epsPictureSize(const QString& path);

// Width and height of a PICT file's picture frame (with or without the 512-byte file
// header); nothing when the file is no PICT or the frame is empty.
std::optional<QSizeF> pictPictureSize(const QString& path);

}  // namespace platform
