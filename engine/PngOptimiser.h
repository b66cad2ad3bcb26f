#pragma once
// The PNG optimiser: recompresses a PNG file's image data with one chosen combination of
// row filter, zlib level and zlib strategy, keeping the smaller of the result and the
// original. Progress and outcome are reported as text lines on standard output.
#include <QImage>
#include <QString>
#include <QVariantMap>
#include <cstdio>

// Method table entry for the batch run's compression: filter Up, level 7, filtered.
inline constexpr int kPngOptimiserBatchMethod = 97;

// Recompresses `input` into `output` with method 0..199 and zlib memory level 1..9.
// Returns 0 when the output file now holds the recompressed image or an exact copy of the
// input (whichever is smaller), non-zero on every failure. The output is written to a
// temporary file beside it and renamed into place, so a failed run leaves any earlier
// file of that name untouched.
int processPNG(const char* input, const char* output, int method, int memoryLevel);

// Smaller pieces of the optimiser that its runs do without today.
namespace pngopt {
// Whether a chunk (four-letter type) goes into the output: the reader already decides
// which chunks are kept, so every chunk that reaches this question is.
bool keep_chunk(const char* chunkType);
bool keep_unknown_chunk(const char* chunkType);
// A point where an interactive run would wait for the user; a run in the program never
// waits, so it returns at once.
void pngopt_pause();
// Writes what processPNG takes and does, one line per argument, to out.
void print_usage(std::FILE* out);
}  // namespace pngopt

// The batch run's compressed-PNG output: the image is written as PNG to a private
// temporary file named "TempFile*.png", recompressed into `destination` with the batch
// method and the given memory level, and the temporary file removed. When the optimiser
// fails, "Error While Compressing File" is logged and the destination is written directly.
// Returns whether the destination holds the image.
bool saveCompressedPNG(const QImage& image, const QString& destination, const QVariantMap& properties,
                       int memoryLevel);
