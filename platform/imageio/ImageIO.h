#pragma once
// Reading and writing picture files: the codecs behind the engine's loaders and output
// writer. Decoders work from a byte buffer (a mapped file), check every declared size
// against a pixel budget before they allocate, and turn any library error into an empty
// result plus one log line. Decoded images are Format_ARGB32_Premultiplied in the file's
// stored layout; orientImage() turns them upright.
//
// Colour takes one path from reading to writing (the section "Colour" below):
// - A reader hands over 8-bit RGB pixels with the ICC profile that describes them,
//   attached as the image's QColorSpace (imageProfile()). RGB and grey files keep their
//   own profile. Pixels stored as CMYK or CIELab, or under a profile the image cannot
//   carry, are converted to sRGB while reading (Little CMS, in bands on every core; a
//   CMYK file without a profile goes through a standard CMYK profile). No profile means
//   sRGB.
// - Effects may return pictures without it; the batch gives an output the profile its
//   source's pixels had (decodedPixelProfile()).
// - The writer decides per output type (pixelsForOutput()): types that hold a profile
//   get it embedded as it is; a grey picture under a grey profile is written grey where
//   the type has grey pixels; everything else is converted to sRGB. Types without
//   transparency get the picture flattened on white.
// - Grey photos are read as colour, like every photo, so that steps may colour them. A
//   grey photo's picture that is still grey and opaque when it is written goes out grey
//   where the type has grey pixels, under its grey profile or, without one, with none:
//   the writer is told by the properties it writes with ("ColorModel" "Gray", as a grey
//   photo's own properties say).
// - A profile never fails an output: one that cannot be used is left out, the pixels
//   are written as they are, and the log says so.
// A new reader plugs in by filling ImageHeader::iccProfile and colourModel, and by
// handing its pixels and profile to codec::attachProfile() (or converting them to sRGB
// with the converters in CodecInternal.h).
#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <cstdint>
#include <vector>

namespace platform {

enum class ImageFormat { Unknown, JPEG, PNG, TIFF, GIF, BMP, JP2, J2K,
                         // Read only. HEIF and camera raw pictures are decoded upright
                         // (their headers say orientation 1); see ReadOnlyCodecs.h.
                         HEIF, AVIF, WebP, RAW,
                         // Read only: Photoshop's merged picture, PNM (PBM, PGM and PPM),
                         // the small formats Qt reads, icons (ICO includes cursors), Targa,
                         // and a BMP without its file header (DIB).
                         PSD, PNM, XBM, XPM, ICO, ICNS, TGA, DIB };

// The container a buffer holds, told by its leading bytes (never by the file name).
ImageFormat sniffImageFormat(const char* data, size_t size);
// The same, and for the formats that have no signature (Targa, DIB) by a file name that
// ends in one of their extensions together with a header they could have.
ImageFormat sniffImageFormat(const char* data, size_t size, const QString& fileName);
QString imageFormatName(ImageFormat format);

// Decoded images larger than this many pixels are refused before anything is allocated
// (about 1 GB of RGBA; a 24 MP photo is a tenth of it).
inline constexpr int64_t kDefaultPixelBudget = int64_t(256) * 1024 * 1024;
inline constexpr int kMaxImageSide = 1 << 17;

struct DecodeOptions {
    // 0 decodes the full image. Otherwise the decoder may return a smaller image (by an
    // exact power-of-two reduction it can do cheaply) whose longer side is still at
    // least this many pixels.
    int minLongSide = 0;
    int64_t pixelBudget = kDefaultPixelBudget;
    // A reduced decode for output rather than for a thumbnail: JPEG keeps its accurate
    // transform and full-resolution colour (slower, within 40 dB of a full decode shrunk).
    bool reducedForOutput = false;
    // Threads a decoder may use for one picture (HEIF grid tiles, a JPEG's bands between
    // restart markers); -1 leaves it to the decoder (HEIF: the library; JPEG: the shared
    // workers, one per CPU the process may use). Callers that decode several photos at once
    // ask for 0: all on their thread.
    int decoderThreads = -1;
    // Called once the file is open and its bytes are mapped, before any decoder reads
    // them (by a reader that opens the file more than once, at each opening): lets a test
    // change the file under the reader at a known moment.
    std::function<void(const QString& path)> whileOpen;
};

// Why a file gave no picture.
enum class DecodeFailure {
    None,
    Missing,           // no file at the path (moved away or deleted)
    NotOpened,         // there, but could not be opened (permissions, a folder)
    NotAFile,          // a named pipe, socket or device where a photo file was
    Empty,             // a file of no bytes
    Unsupported,       // not a kind of picture these readers take, or a coding of it they lack
    OverBudget,        // whole, but larger than the decoders take
    Damaged,           // a kind they read, with data that does not decode
    ChangedWhileRead,  // cut short or rewritten while it was being read
    ReadError,         // the disk could not give its bytes (an I/O error)
    OutOfMemory,       // there was not enough memory to decode it (the last: the helper's messages check it)
};

// A decoded picture, or what kept it from being one, as the decoder that failed found it.
// `detail` says more where the kind alone does not (which coding a reader lacks, which raw
// camera), in words for a photo's status.
struct DecodeResult {
    QImage image;
    DecodeFailure failure = DecodeFailure::None;
    QString detail;
    bool ok() const { return !image.isNull(); }
};

// What a file's header says, read without decoding the pixels.
// How a file stores its colours.
enum class ColourModel { RGB, Gray, CMYK, Lab };

struct ImageHeader {
    ImageFormat format = ImageFormat::Unknown;
    int width = 0;
    int height = 0;
    int orientation = 1;  // EXIF orientation 1..8 when the file carries one
    ColourModel colourModel = ColourModel::RGB;
    // The embedded ICC colour profile, empty when the file carries none.
    QByteArray iccProfile;
    // The pages (TIFF), frames (GIF, WebP and PNG animations) or top-level pictures (HEIF
    // collections) the file holds; the readers read the first one only. Reduced-size
    // copies of a page (thumbnails) do not count.
    int pages = 1;
    bool valid() const { return format != ImageFormat::Unknown && width > 0 && height > 0; }
    bool gray() const { return colourModel == ColourModel::Gray; }
};

ImageHeader readImageHeader(const QString& path);
// The same, with `why` filled where no header reads for a reason that is not the file's:
// its reader could not be started, or was stopped from outside while it read (the kind
// and the words a decode of it would give). Left as it is otherwise.
ImageHeader readImageHeader(const QString& path, DecodeResult* why);
// `fileName` tells the formats without a signature (Targa, DIB) by their extension.
ImageHeader readImageHeaderFromData(const QByteArray& data, const QString& fileName = QString());

// Whether a header declares more pixels than the decoders take with these options: such
// a photo is refused as too large, not as damaged.
bool exceedsPixelBudget(const ImageHeader& header, const DecodeOptions& options = {});

// Whether the file is a picture these readers take: a header that names a size (EPS and
// PICT files by their own headers). Reads only what the header needs.
bool isReadablePicture(const QString& path);

// The first image of a file in its stored layout; a null image (and one log line) when
// the file is missing, unreadable, corrupt or over budget.
QImage readImage(const QString& path, const DecodeOptions& options = {});
// nameForLog also tells the formats without a signature (Targa, DIB) by its extension.
QImage readImageFromData(const QByteArray& data, const DecodeOptions& options = {},
                         const QString& nameForLog = QString());
// readImage that says why there is no picture, from the one decode that failed.
DecodeResult decodeImage(const QString& path, const DecodeOptions& options = {});

// Whether the picture data of a file decodes whole, every byte of it read and checked,
// without keeping the picture at its size: a PNG's rows are decoded one at a time, other
// types through a reduced decode (which still reads all their data). For checking a file
// just written.
bool pictureDecodes(const QString& path);

// Stored layout -> upright for an EXIF orientation (exact pixel permutations; values
// outside 2..8 give the image back as it is).
QImage orientImage(const QImage& image, int orientation);
// Upright -> stored layout: the inverse of orientImage.
QImage unorientImage(const QImage& image, int orientation);

// An upright thumbnail no larger than maxWidth x maxHeight with the picture's aspect
// ratio, made by reduced decoding where the codec allows it. Null on failure, and when
// the file was cut short while it was read. The orientation applied is the given one,
// or (for -1) the one the file's header carries. Of `options`, the budget, the decoder
// threads and whileOpen apply; the size to decode at is the thumbnail's.
QImage makeThumbnail(const QString& path, int maxWidth, int maxHeight, int orientation = -1,
                     const DecodeOptions& options = {});

// The types of picture file the writers make: the engine's save types. They carry no
// numbers; the output format numbers kept in settings are turned into them in one place
// (RenameScheme::saveChoice).
enum class ImageType { TIFF, BMP, GIF, JPEG, PNG, JPEG2000 };

// ---- Colour ----

// Whether every pixel is opaque (a format without an alpha channel always is).
bool isOpaqueImage(const QImage& image);

// The ICC profile of the image's pixels (its colour space's); empty means sRGB.
QByteArray imageProfile(const QImage& image);
// Attaches a profile to the image's pixels; false (and nothing changed) when the profile
// is not one an image can carry (CMYK, CIELab, damaged, or a kind Qt does not read).
bool setImageProfile(QImage& image, const QByteArray& icc);
// The profile that readImage() attaches to the pixels of a file with this header: the
// file's own for RGB and grey files whose profile fits them, empty where the reader
// converts to sRGB.
QByteArray decodedPixelProfile(const ImageHeader& header);

// What an output can hold.
struct ColourTarget {
    bool holdsProfile = false;  // an embedded ICC profile
    bool holdsGray = false;     // grey pixels with a grey profile
    bool holdsAlpha = false;    // transparency
};
ColourTarget colourTargetOf(ImageType type);

// The pixels and profile to write: Format_Grayscale8 with a grey profile or none, or
// ARGB32 variants with an RGB profile or none (sRGB). See the colour path above;
// graySource says that the picture is a grey photo's.
struct OutputPixels {
    QImage pixels;
    QByteArray icc;
};
OutputPixels pixelsForOutput(const QImage& image, const ColourTarget& target, bool graySource = false);

// Encodes an image; quality is 0.0..1.0 for the lossy types (JPEG, JPEG 2000; 1.0 makes
// a lossless JPEG 2000). Empty on failure.
QByteArray encodeImage(const QImage& image, ImageType type, double quality);

// Whether the type can carry an image-properties dictionary (EXIF, IPTC, XMP).
bool imageTypeHoldsProperties(ImageType type);

// Whether image properties describe grey pixels ("ColorModel" "Gray"), as a grey photo's
// own do: a picture written with them goes out grey while it is still grey.
bool propertiesDescribeGray(const QVariantMap& properties);

// How a picture file reaches its path: through a temporary file beside it, renamed over it
// once complete; or written into it as it is, when the path is a private temporary file
// that the caller made for this picture and checks and places itself.
enum class FileTarget { ReplaceAtomically, PrivateFile };

// What a writer handed to a file, counted as it went: how many bytes and their CRC-32.
struct WrittenBytes {
    qint64 size = 0;
    quint32 crc = 0;
    void add(const char* data, size_t count);
};

// A file as it read back: its length and the checksum of its first kHeadBytes (its
// header), enough to tell later, without reading it all again, that it is still that file.
struct ReadBackMark {
    static constexpr qint64 kHeadBytes = 64 * 1024;
    qint64 size = -1;
    quint32 headCrc = 0;
};
// Whether the file at `path` is still as long as `mark` says and begins with the same bytes.
bool stillAsReadBack(const QString& path, const ReadBackMark& mark);

// How a file is checked once it is written, before it takes its name: every file is read
// back and compared, by length and checksum, with the bytes handed to it (its metadata and
// all), so that a disk or card that drops or garbles data while saying it wrote it is
// caught. With `sync` (for a file that a user's original will be given up for) its data
// are flushed to the disk first, and a disk that fails to take them says so there; then
// the pages the writer filled are dropped from the system's cache, so that the read-back
// comes from the disk, not from memory. Without it the file is read back from the file
// system as it stands (mostly from the cache), which costs no disk access.
struct WriteCheck {
    bool sync = false;
    // Where the file is read into to be compared: kept by a caller that writes many files
    // and handed to one check at a time, so that a read-back takes no memory of its own.
    // One of the call's own when null.
    std::vector<char>* readBuffer = nullptr;
    // With `sync`: runs on the file once its data are on the disk, before it is read back;
    // lets tests change what the disk holds under the pages the writer filled.
    std::function<void(const QString& path)> onDisk;
    enum class Outcome {
        NotWritten,  // the file could not be made or its bytes not handed to it
        Same,        // it reads back as written
        Differs,     // it reads back with other bytes or another length
        Unreadable,  // its data could not be flushed to the disk, or it could not be read back
    };
    Outcome outcome = Outcome::NotWritten;
    // What read back, when it read back as written.
    ReadBackMark readBack;
};

// Encodes and writes a file: the picture and its properties (where the type holds them)
// are encoded as one stream of bytes into a temporary file in the destination folder,
// which is read back (see WriteCheck) and only then renamed over the destination. Returns
// whether the destination now holds the image with the properties asked for; when either
// could not be written, nothing is placed. `check` says how to check it and receives the
// outcome; without one the file is read back without a flush to the disk.
// Properties whose "ColorModel" is "Gray" make a picture that is still grey and opaque a
// grey file where the type has grey pixels (see the colour path above).
bool writeImageFile(const QString& path, const QImage& image, ImageType type, double quality,
                    const QVariantMap& properties = {}, FileTarget target = FileTarget::ReplaceAtomically,
                    WriteCheck* check = nullptr);
// writeImageFile for a file encoded outside it as `type` (its pixels turned and in their
// output colours): `write` hands the file's bytes, in order, to the function it is given
// (which says whether they were written) and says whether the file is whole; the
// properties go into those bytes on their way to the file (a PNG's before its picture
// data, which is never held whole; another type's once it is whole), and the file is
// checked and placed the same way.
using FileBytesSink = std::function<bool(const char* data, size_t size)>;
bool writeEncodedImageFile(const QString& path, ImageType type, const QVariantMap& properties,
                           const std::function<bool(const FileBytesSink&)>& write,
                           FileTarget target = FileTarget::ReplaceAtomically, WriteCheck* check = nullptr);

// Writes frames of one size as an animated GIF (each frame with its own palette, shown
// for delayCentiseconds; loopCount 0 repeats for ever) through a temporary file in the
// destination folder and a rename. False, with nothing written, for no frames or frames
// of differing sizes.
bool writeAnimatedGif(const QString& path, const QList<QImage>& frames, int delayCentiseconds, int loopCount);

// Writes bytes to a file through a temporary file in the same folder, read back as
// writeImageFile's are, and a rename.
bool writeFileAtomically(const QString& path, const QByteArray& bytes);
// Bytes written to a file as `target` says and checked as `check` says (see writeImageFile).
bool writeFileBytes(const QString& path, const QByteArray& bytes, FileTarget target, WriteCheck* check);

}  // namespace platform
