#pragma once
// Resampling of whole pictures with a separable Lanczos-3 kernel.
//
// Pixel centres stay aligned: output pixel i of n covers the same fraction of the picture
// as the input span it is computed from, so neither shrinking nor enlarging shifts it.
// Colours are filtered premultiplied by alpha, so transparent pixels lend no colour to
// their neighbours (no dark fringe at a transparent edge). Large shrinks first reduce by a
// whole factor k and finish with the kernel on at least four pixels per output pixel, so
// the kernel's work per output pixel stays bounded whatever the factor. That first step
// weighs the pixels with a tent 2k wide centred on each reduced pixel rather than averaging
// disjoint k x k blocks: a block average puts a thin line at its block's centre (up to
// k / 2 pixels off), where the overlapping tents keep its position. Rows are computed in
// bands on the kernel threads; every output pixel is summed in the same order in any band,
// so results do not depend on the number of threads.
//
// 8-bit pictures in stored values, without the whole-factor step, take a fixed-point path:
// 14-bit weights, 8-bit pixels read straight from the picture's rows, horizontally filtered
// rows kept as 16-bit values with 6 fractional bits (a 64th of a level, far below what the
// final rounding to 8 bits leaves), integer sums that come out the same in any order.
#include <QImage>
#include <functional>
#include <vector>

namespace platform {

// The values the kernel averages. Encoded: the 8-bit values as they are stored (sRGB
// gamma), as photo tools usually resize; Linear: light intensities, decoded before and
// encoded after. The program resizes encoded values (see resampleImage); Linear is kept
// for the image benchmark that compares the two.
enum class ResampleLight { Encoded, Linear };

// The picture at exactly width x height, in Format_ARGB32_Premultiplied; the input's
// own storage is read row by row (no float copy of the whole picture). A null picture or
// a size below 1 gives a null picture.
QImage resampleImage(const QImage& image, int width, int height, ResampleLight light = ResampleLight::Encoded);

// resampleImage's rows [rowFirst, rowLast) of `out` (its size the target, Format_ARGB32_
// Premultiplied), from `src` (RGB32, ARGB32 or ARGB32_Premultiplied), of which only the
// rows Resampler::inputRows names for them are read: the same pixels in any split of the
// rows, so a picture may be made a few rows at a time while its source comes and goes.
void resampleRows(const QImage& src, QImage& out, int rowFirst, int rowLast,
                  ResampleLight light = ResampleLight::Encoded);

// The whole factor by which a shrink from `in` to `out` pixels is first reduced: the
// largest k with in / (k * out) still at least four.
int resampleBoxFactor(int in, int out);

// The kernel's plan for both axes, for code that feeds its own rows (the filter engine).
class Resampler {
public:
    Resampler(int inWidth, int inHeight, int outWidth, int outHeight);

    // Input rows or columns [begin, end) that the output span [first, last) reads.
    std::pair<int, int> inputColumns(int first, int last) const { return x_.inputSpan(first, last); }
    std::pair<int, int> inputRows(int first, int last) const { return y_.inputSpan(first, last); }

    // fetch(y, x0, x1, dst): input row y, columns [x0, x1), as premultiplied RGBA floats
    // into dst (4 floats a pixel, dst[0] being column x0).
    using Fetch = std::function<void(int y, int x0, int x1, float* dst)>;
    // store(row, rgba): output row `row`, columns [first column, last column) as floats.
    using Emit = std::function<void(int row, const float* rgba)>;
    // Computes output rows [rowFirst, rowLast) and columns [colFirst, colLast) on the
    // calling thread; output rows come out in increasing order.
    void run(int rowFirst, int rowLast, int colFirst, int colLast, const Fetch& fetch, const Emit& store) const;

    // Output rows per band when a picture's rows (or `rows` of them) are shared among threads.
    int bandRows() const;
    int bandRows(int rows) const;

    // Whether runPixels can compute this plan (no whole-factor step on either axis).
    bool fixedPoint() const { return x_.box == 1 && y_.box == 1; }
    // source(y, scratch): input row y, every column, as ARGB32 premultiplied; it may fill
    // and return `scratch` (room for a whole row). target(row): where output row `row` goes.
    using SourceRow = std::function<const quint32*(int y, quint32* scratch)>;
    using TargetRow = std::function<quint32*(int row)>;
    // The fixed-point path: output rows [rowFirst, rowLast), every column, ARGB32
    // premultiplied, on the calling thread. Only when fixedPoint(). `opaque`: the input's
    // fourth bytes are not alpha (RGB32), the output is opaque.
    // `loops`: Widest takes the widest vector loops the processor has; Baseline the loops
    // every processor of the architecture runs. Both give the same pixels.
    enum class Loops { Widest, Baseline };
    void runPixels(int rowFirst, int rowLast, bool opaque, const SourceRow& source, const TargetRow& target,
                   Loops loops = Loops::Widest) const;

private:
    struct Axis {
        int in = 0, out = 0;
        int box = 1;        // whole factor of the first reduction
        int reduced = 0;    // size after it (the last reduced pixel may lie partly outside)
        int preLo = 0;      // tent of the first reduction: reduced pixel i weighs input
        std::vector<float> pre;  // pixel i * box + preLo + m by pre[m]
        int taps = 0;       // most weights any output pixel has
        std::vector<int> start, count;  // per output pixel, in reduced pixels
        std::vector<float> weights;     // out x taps
        std::vector<qint16> fixed;      // the same in units of 2^-14, each row summing to 2^14
        int pairsPer = 0;               // the same two to a word (low half first): out x pairsPer
        std::vector<qint32> pairs;
        int span = 0;                   // and again for a window of `span` pixels (a multiple
        std::vector<int> window;        // of four) from window[i], inside the input where it
        std::vector<qint32> windowPairs;  // is that wide: out x span / 2 words
        std::vector<qint32> lanes;      // the window's weights laid out for the AVX2 loop
        void pairFixed();
        void plan(int inSize, int outSize);
        std::pair<int, int> inputSpan(int first, int last) const;
    };
    Axis x_, y_;
};

}  // namespace platform
