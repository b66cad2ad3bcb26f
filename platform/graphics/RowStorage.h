#pragma once
// Pictures whose memory follows the rows in use: a photo decoded a few rows at a time and
// encoded as its rows are finished never holds all of its rows at once.
#include <QImage>

namespace platform {

// A picture of the given size and 32-bit format whose memory is taken only as its rows are
// written (unwritten rows read as zero); a null picture when the size cannot be mapped.
QImage picturePagedByRows(int width, int height, QImage::Format format);

// Gives back the memory of rows [first, end) of a picture from picturePagedByRows (its
// first row at `bits`), where it lies in whole pages; those rows read as zero afterwards.
// Only rows that nobody reads again may be given back.
void giveBackRows(const uchar* bits, qsizetype bytesPerLine, int first, int end);

}  // namespace platform
