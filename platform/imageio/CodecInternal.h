#pragma once
// Shared between the codec files of platform/imageio; not for use outside this folder.
#include "platform/imageio/ImageIO.h"

#include <QFile>
#include <QList>
#include <QPointF>
#include <QString>
#include <QVariantMap>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace platform {
class RowSource;
}

namespace platform::codec {

struct Bytes {
    const uint8_t* data = nullptr;
    size_t size = 0;
    // Set only by whoever mapped a file read-only and handed out these bytes of it: pages
    // of such bytes can be dropped from memory (the next read fetches them from the file
    // again), which for any other bytes would lose them.
    bool mappedFile = false;
    // With mappedFile: the open file the bytes are mapped from, for a reader that hands the
    // file to a helper process rather than the bytes.
    int fd = -1;
};

// A file's bytes, mapped rather than copied where the file system allows it. open() finds
// a file whose name is not UTF-8 by its kept bytes, and takes only a regular file; false
// when it cannot be opened (`missing` then tells whether no file was there at all, and
// `notAFile` whether a named pipe, socket or device was).
//
// Another program may cut the file short while it is mapped (a sync client rewriting a
// photo in place). Reading a page past the new end would stop the whole process with a
// bus error; while a FileBytes is open, the file's bytes from such a page on read as zeros
// instead, the read goes on, and cut() says so. A decoder over zeros fails or makes a
// wrong picture, as it may on any file, and whoever checks cut() drops what it made.
struct FileBytes {
    QFile file;
    QByteArray copy;
    Bytes bytes;
    bool missing = false;
    bool notAFile = false;
    bool readFailed = false;  // open() failed as the disk could not give the file's bytes

    FileBytes() = default;
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    ~FileBytes();
    bool open(const QString& path);
    // The same, or the bytes of `options.opened` when that is the file at `path`: nothing is
    // opened then, and `file` stays closed (handle() is the opening's).
    bool open(const QString& path, const DecodeOptions& options);
    // The same for a file already open (a descriptor the object takes over and closes):
    // only a regular file is taken.
    bool open(int fd);
    // Lets the file go before the object does (bytes are empty after).
    void close();
    // Whether a read of the mapping found the file shorter than when it was opened.
    bool cut() const;
    // Whether such a read found the file as long as ever: a page the disk could not give
    // (an I/O error faults a mapping as a cut file does), not a file changed under the reader.
    bool readError() const;
    // The descriptor of the open file the bytes are of.
    int handle() const;

private:
    bool mapOpened();
    int guard_ = -1;
    std::shared_ptr<const OpenedFile> shared_;  // whose bytes these are, when not our own opening
};

// The file at `path` opened as FileBytes::open opens it, `options.whileOpen` called once it
// is; null (with a log line) when it cannot be opened.
std::unique_ptr<FileBytes> openFileBytes(const QString& path, const DecodeOptions& options);

// Gives back the pages of a mapped file a decoder has read past, so that a photo's
// compressed bytes do not stay in memory beside its decoded pixels. Cheap to call per
// row: it acts once every kStep bytes consumed, and never on bytes that are not a file
// mapping.
class ConsumedPages {
public:
    static constexpr size_t kStep = size_t(1) << 20;
    explicit ConsumedPages(Bytes in)
        : in_(in), next_(in.mappedFile ? reinterpret_cast<uintptr_t>(in.data) + kStep : UINTPTR_MAX) {}
    // `consumed` is where the decoder reads next: the bytes before it are never read again.
    // A pointer outside the bytes (a decoder's stand-in for data that ended early) counts
    // as all of them read.
    void reached(const void* consumed) {
        if (in_.mappedFile && reinterpret_cast<uintptr_t>(consumed) >= next_) release(consumed);
    }

private:
    void release(const void* consumed);
    Bytes in_;
    uintptr_t next_;
};

// What a format's one header reader learns without decoding the pixels: the header every
// caller gets, and what the properties reader adds to the metadata Exiv2 reads. Every
// reader of a file's size, kind or colours (thumbnails, the add, the run, the properties)
// takes it from here, so that no two of them judge one file two ways.
struct ImageFacts {
    ImageHeader header;
    int depth = 0;                 // bits per sample as stored; 0 when the header does not say
    std::optional<bool> hasAlpha;  // unknown where the header does not say
    QPointF dotsPerInch;           // the resolution the container's own header gives; (0, 0) none
    QVariantMap png;               // the "{PNG}" group
    QVariantMap jfif;              // the "{JFIF}" group
    // The metadata blocks the container holds, for formats Exiv2 is not asked to open:
    // a TIFF-structured EXIF block (starting "II*\0" or "MM\0*"), an XMP packet and IPTC
    // datasets.
    bool metadataInBlocks = false;
    QByteArray exif;
    QByteArray xmp;
    QByteArray iptc;
    // Why there are no facts, where the reader knows more than that the header does not
    // read (its reader could not be started, or was stopped from outside): the kind and
    // the words a decode's failure would give. None otherwise.
    DecodeFailure failure = DecodeFailure::None;
    QString detail;
};

// The facts of a file of any format these readers take, chosen by its leading bytes (and,
// for the formats without a signature, Targa and DIB, by `name`'s extension); an invalid
// header for anything else. With `metadata`, a camera raw file's come with its metadata
// blocks, read where its picture is (in a decoder helper), not by the caller's Exiv2.
ImageFacts imageFacts(Bytes in, const QString& name = QString(), bool metadata = false);

// The EXIF (the groups the properties read: the image's own tags, the photo's and the
// GPS ones), IPTC and XMP of a camera raw file, read by Exiv2 into `facts`' blocks; for
// the decoder helper, which hands them to the program (ImageProperties.cpp). One log line
// when the file's metadata does not read; the blocks are then empty.
void readRawMetadataBlocks(Bytes in, const QString& name, ImageFacts& facts);
// Makes Exiv2 ready to read (its XMP toolkit set up), as a helper does before it is
// confined.
void prepareMetadataReading();

// A resolution stored per metre in dots per inch, a whole number when it was meant as one
// (3780 per metre is 96.012 dpi, written for 96).
double dotsPerInchOf(double perMetre);

// Ends a decoder's failure: notes its kind (and the detail, in words for a photo's
// status) for a caller that asked, and gives the null picture the decoder returns.
QImage decodeFailed(DecodeResult* why, DecodeFailure kind, const QString& detail = QString());

// True when width x height fits the budget and the side limit; otherwise logs why
// ("<name>: ... refused"), notes the refusal in `why` (a size past the budget, or no size
// at all: damage) and returns false.
bool checkBudget(int64_t width, int64_t height, const DecodeOptions& options, const QString& name,
                 const char* codec, DecodeResult* why = nullptr);

// Allocates the decode target; throws std::bad_alloc (after a log line) when memory is
// short, which the decoding entry points turn into DecodeFailure::OutOfMemory.
QImage allocateImage(int width, int height, QImage::Format format, const QString& name);

// ---- Colour (ColourConversion.cpp; Little CMS is used there only) ----

// The colour space a profile's header names; None for no profile, Other for one that is
// damaged or of another kind.
enum class ProfileSpace { None, RGB, Gray, CMYK, Lab, Other };
ProfileSpace profileSpace(const QByteArray& icc);
// Whether the readers apply the file's profile to pixels stored in `model` while reading
// (attachProfile): one that fits them but that an image cannot carry. Those pixels are then
// not the stored ones.
bool profileAppliedWhileReading(const QByteArray& icc, ColourModel model);

// Gives decoded RGB pixels of a file stored in `model` the file's profile: attached when
// it describes such pixels and the image can carry it, applied (the pixels converted to
// sRGB) when it describes them but cannot be carried, and left out with a log line when
// it does not fit them.
void attachProfile(QImage& image, const QByteArray& icc, ColourModel model, const QString& name);

// Pixels whose four bytes hold C, M, Y, K (in memory order; 255 - ink when `inverted`,
// as Adobe's JPEGs store them) become opaque sRGB, in place, through the profile (the
// standard CMYK profile when it is empty or unusable; the plain formula when there is
// none). Runs in bands on every core.
void convertCmykToSrgb(QImage& image, const QByteArray& icc, bool inverted, const QString& name);

// CIELab to sRGB: `count` pixels of float L (0..100), a, b relative to the white point
// (x, y chromaticity) into opaque 0xAARRGGBB words. Reusable from any thread.
class LabToSrgb {
public:
    LabToSrgb(double whiteX, double whiteY);
    ~LabToSrgb();
    LabToSrgb(const LabToSrgb&) = delete;
    LabToSrgb& operator=(const LabToSrgb&) = delete;
    bool valid() const { return transform_ != nullptr; }
    void convert(const float* lab, uint32_t* out, int count) const;

private:
    void* transform_ = nullptr;
};

// Format_ARGB32_Premultiplied pixels put on white (every pixel opaque); the image itself
// when it has no transparency.
QImage flattenedOnWhite(const QImage& image);
// `count` premultiplied pixels put on white in place, as flattenedOnWhite puts each one.
void putOnWhite(uint32_t* pixels, int count);

// Whether every pixel is fully opaque (a fast pass; formats without alpha answer at once).
bool isOpaque(const QImage& image);

// The orientation tag (0x0112) of IFD0 of a TIFF-structured EXIF block (starting with
// "II*\0" or "MM\0*"); 1 when absent or unreadable.
int exifOrientation(const uint8_t* tiff, size_t size);

// The smallest power-of-two reduction 1, 2, 4 or 8 (up to maxShift) whose result keeps
// the longer side at least minLongSide; 0 when no reduction is wanted.
int reductionShift(int width, int height, int minLongSide, int maxShift);

ImageFacts jpegFacts(Bytes in);
inline ImageHeader jpegHeader(Bytes in) { return jpegFacts(in).header; }
QImage jpegDecode(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why = nullptr);
QByteArray jpegEncode(const QImage& image, const QByteArray& icc, double quality);
// What the rows handed to the JPEG encoder hold, and what the file stores.
enum class JpegSamples {
    Colour,     // 32-bit BGRX words, stored as colour
    Gray,       // one grey byte a pixel, stored grey
    GrayWords,  // 32-bit BGRX words whose three channels are equal, stored grey: the
                // same file as their grey bytes make
    Rgb,        // three bytes a pixel, R, G, B, stored as colour: the same file as their
                // words make
};
// Rows [firstRow, firstRow + rows) of a 32-bit BGRX or grey picture as a JPEG of their own
// at quality 1-100, with a restart interval of restartInterval MCUs (0: none) and the
// profile when given; null when libjpeg fails. jpegEncode joins such bands.
QByteArray jpegEncodeRows(const QImage& image, int firstRow, int rows, const QByteArray& icc, int quality,
                          unsigned restartInterval);
// The same from rows in memory: `rows` rows of `width` pixels starting at firstRow,
// bytesPerLine apart.
QByteArray jpegEncodeRows(const uchar* firstRow, qsizetype bytesPerLine, int width, int rows, JpegSamples samples,
                          const QByteArray& icc, int quality, unsigned restartInterval);
// encodeImage's 0..1 quality as libjpeg's 1..100.
int jpegQuality(double quality);

// How jpegEncode cuts a picture: bands of whole MCU rows of about a megapixel, each
// encoded on its own with one restart interval and joined into one file. A picture under
// two megapixels, or of one band, is one band encoded without restarts.
class JpegBands {
public:
    JpegBands(int width, int height, JpegSamples samples);
    int count() const { return count_; }
    int rowsPerBand() const { return rowsPerBand_; }
    int firstRow(int band) const { return band * rowsPerBand_; }
    int endRow(int band) const { return std::min(height_, (band + 1) * rowsPerBand_); }
    // How many bands, from the top, rows [0, rowsDone) make whole.
    int readyBands(int rowsDone) const;
    // One band of the picture whose row 0 is at base; the first band carries the profile.
    QByteArray encode(int band, const uchar* base, qsizetype bytesPerLine, const QByteArray& icc, int quality) const;
    // The file made of every band in order (each piece is used up); null when one is missing.
    QByteArray join(std::vector<QByteArray>& pieces) const;
    // The same handed to `out` in order, each piece let go once handed on, never joined;
    // false when one is missing (after what came before it) or `out` refuses.
    bool send(std::vector<QByteArray>& pieces, const std::function<bool(const char*, size_t)>& out) const;

private:
    int width_, height_;
    JpegSamples samples_;
    int count_ = 1;
    int rowsPerBand_;
    unsigned interval_ = 0;
};

ImageFacts pngFacts(Bytes in);
QImage pngDecode(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why = nullptr);
QByteArray pngEncode(const QImage& image, const QByteArray& icc);
// PNG data (IHDR, iCCP when a profile is given, IDAT, IEND) of 8-bit pixels: Grayscale8
// for colour type 0, RGB32 or straight ARGB32 for types 2 and 6, its rows deflated in
// bands on several threads. rowsPerBand 0 picks bands of about a megabyte.
QByteArray pngEncodeBands(const QImage& pixels, int colorType, const QByteArray& icc = {}, int rowsPerBand = 0);
// Where the last block of a complete raw deflate stream begins (headerBit, counted from
// the first byte's lowest bit) and how many bits of its last byte are left after it,
// read without inflating; false unless the data is exactly one valid stream that
// inflates to expectedOutput bytes without reaching before its start.
bool deflateLastBlock(const unsigned char* data, size_t size, size_t expectedOutput, size_t* headerBit, int* unusedBits);
// Receives a file's bytes in order; false stops the writing.
using PngSink = std::function<bool(const char* data, size_t size)>;
inline PngSink appendTo(QByteArray& out) {
    return [&out](const char* data, size_t size) {
        out.append(data, qsizetype(size));
        return true;
    };
}
// Hands the bytes pngEncodeBands returns to sink instead, each band's as soon as the bands
// before it are out, so that no more than the bands still waiting is held; false when
// encoding failed or the sink refused.
bool pngWriteBands(const QImage& pixels, int colorType, const QByteArray& icc, int rowsPerBand, const PngSink& sink);
// The parts of such a file: its head, its bands (each compressed on its own, from any
// thread, and written in band order as soon as the bands before it are), its end. The
// writer keeps its own copy of the sink.
class PngBandWriter {
public:
    PngBandWriter(int width, int height, int colorType, const QByteArray& icc, int rowsPerBand, PngSink sink);
    ~PngBandWriter();
    int bands() const { return bands_; }
    int rowsPerBand() const { return rowsPerBand_; }
    bool writeHead();
    // Band b from pixels' rows (the band's and the row above it).
    void writeBand(int b, const QImage& pixels);
    bool failed() const;
    bool writeEnd();

private:
    struct Idat;
    int width_, height_, colorType_, channels_, rowsPerBand_ = 1, bands_ = 0;
    QByteArray icc_;
    std::unique_ptr<Idat> idat_;  // holds the sink
};
// pngEncode's picture to sink, the same way.
bool pngWrite(const QImage& image, const QByteArray& icc, const PngSink& sink);
// Whether the PNG file open for reading decodes whole (every chunk's checksum, every row's
// data and filter byte, the data's checksum), read a chunk at a time, the picture never
// rebuilt.
bool pngDecodesWhole(QFile& file, const QString& name);

ImageFacts tiffFacts(Bytes in);
// The TIFF in `file` read a band of rows at a time (see RowSource).
std::unique_ptr<RowSource> tiffRowSource(std::unique_ptr<FileBytes> file, const QString& path,
                                         const DecodeOptions& options);
QImage tiffDecode(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why = nullptr);
// An uncompressed TIFF, with the resolution given (72 dots per inch when none is).
QByteArray tiffEncode(const QImage& image, const QByteArray& icc, QPointF dotsPerInch = {});

ImageFacts gifFacts(Bytes in);
QImage gifDecode(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why = nullptr);
QByteArray gifEncode(const QImage& image);
QByteArray gifEncodeAnimation(const QList<QImage>& frames, int delayCentiseconds, int loopCount);

ImageFacts bmpFacts(Bytes in);
QImage bmpDecode(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why = nullptr);
// A DIB: a BMP's information header, palette and pixels without its file header. It has
// no signature: the name must end ".dib" and the header be one BMP knows.
bool dibSniff(Bytes in, const QString& name);
ImageFacts dibFacts(Bytes in);
QImage dibDecode(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why = nullptr);
QByteArray bmpEncode(const QImage& image);

ImageFacts jp2Facts(Bytes in, ImageFormat format);
QImage jp2Decode(Bytes in, ImageFormat format, const DecodeOptions& options, const QString& name,
                 DecodeResult* why = nullptr);
QByteArray jp2Encode(const QImage& image, const QByteArray& icc, double quality);

}  // namespace platform::codec
