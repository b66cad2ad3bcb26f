#pragma once
// Pictures whose memory follows the rows in use: a photo decoded a few rows at a time and
// encoded as its rows are finished never holds all of its rows at once.
#include <QImage>

#include <cstdint>
#include <vector>

namespace platform {

// A picture of the given size and 32-bit or 24-bit format whose memory is taken only as its
// rows are written (unwritten rows read as zero); a null picture when the size cannot be
// mapped.
QImage picturePagedByRows(int width, int height, QImage::Format format);

// Gives back the memory of rows [first, end) of a picture from picturePagedByRows (its
// first row at `bits`), where it lies in whole pages; those rows read as zero afterwards.
// Only rows that nobody reads again may be given back.
void giveBackRows(const uchar* bits, qsizetype bytesPerLine, int first, int end);

// The pages of a picture from picturePagedByRows passed on from rows read by nobody again
// to rows not yet written, for a picture that is written and read a row window at a time
// from the top: it then touches new pages (each cleared by the kernel on first touch) only
// for the rows it holds at once, not for every row it passes through.
class RowPages {
public:
    explicit RowPages(const QImage& picture);
    // Rows [first, end) are read by nobody again (they read as zero afterwards), rows from
    // `written` on are not written yet, and rows up to `wanted` are the next to be: the
    // pages go there, and those that find no room before it are given back as giveBackRows
    // does. Successive calls take rows further down.
    void reuse(int first, int end, int written, int wanted);

private:
    uintptr_t base_ = 0, end_ = 0;  // the picture's bytes
    qsizetype bytesPerLine_ = 0;
    uintptr_t moved_ = 0;  // where the pages moved ahead so far end
    std::vector<uintptr_t> cuts_;  // where moved pages begin and end
};

}  // namespace platform
