#pragma once
// Picture comparisons shared by the reading, writing and loading tests.
#include <QImage>

namespace testsupport {

QImage premul(const QImage& image);

// Same size and the same premultiplied pixels.
bool samePixels(const QImage& a, const QImage& b);

// Largest difference of any channel of any pixel, premultiplied; -1 when the sizes differ.
int maxDiff(const QImage& a, const QImage& b);

// Mean absolute difference of the colour channels, premultiplied, 0 to 255.
double meanDiff(const QImage& a, const QImage& b);

// Peak signal-to-noise ratio of two pictures of one size over the colour channels, in
// dB (99 for equal pictures).
double psnr(const QImage& a, const QImage& b);

// The explicit pixel permutation a viewer applies to show a picture stored with
// orientation tag o (1 to 8) upright; in the stored picture's format.
QImage uprightReference(const QImage& stored, int o);

// A photo of soft shapes (a gradient sky, six glowing discs) and a dark bar: no detail finer
// than a preview-sized copy of it can hold.
QImage softPhoto(int width, int height);

}  // namespace testsupport
