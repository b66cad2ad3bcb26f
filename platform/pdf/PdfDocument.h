#pragma once
// PDF documents made of picture pages: one page per picture, the picture filling a page
// of its own pixel size (one point per pixel), embedded as a baseline JPEG stream.
#include <QByteArray>
#include <QImage>
#include <QString>

#include "platform/imageio/ImageIO.h"

namespace platform {

// Opens the document at `documentPath` (an empty document when there is none or it
// cannot be read), appends a page showing the JPEG after its last page and writes the
// whole document to `outputPath` (which may be the same path; it is written through a
// temporary file, read back as platform::writeImageFile reads its files back, and renamed
// into place). Returns false, with one log line, on failure; the file at `outputPath` is
// then unchanged. `check` says how the file is checked and receives the outcome.
bool appendJpegPageToPdf(const QString& documentPath, const QString& outputPath, const QByteArray& jpegData,
                         int pixelWidth, int pixelHeight, bool gray = false, WriteCheck* check = nullptr);

// Appends a page showing the picture as appendJpegPageToPdf does, its JPEG made here: the
// picture's colours converted to sRGB (a page's RGB has no profile) and anything
// transparent put on white. `quality` is JPEG's 0.0..1.0.
bool appendPicturePageToPdf(const QString& documentPath, const QString& outputPath, const QImage& picture,
                            double quality, WriteCheck* check = nullptr);

// The number of pages of a readable PDF document, -1 otherwise.
int pdfPageCount(const QString& path);

}  // namespace platform
