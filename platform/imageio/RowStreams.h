#pragma once
// A photo worked on a few rows at a time: its rows decoded from the top as they are
// wanted, and the finished rows of the result encoded band by band while later ones are
// still being made, so that neither the photo nor the result is ever held whole.
#include "platform/imageio/ImageIO.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>
#include <optional>

namespace platform {

namespace codec { struct FileBytes; }

// Why a file's rows are not read here as readImage() gives its pixels.
enum class RowsRefused {
    None,
    Unreadable,  // not opened, or its header does not read (readImage() says why)
    NoReader,    // a kind of file without a reader of rows (GIF, BMP, JPEG 2000, HEIF, WebP, raw)
    Converted,   // its colours are converted while read (CMYK, CIELab, a profile the pixels cannot carry)
    Layout,      // a TIFF whose samples the reader of rows does not take
    TooLarge,    // larger than the decoders take
};

// A photo file opened to be read a few rows at a time, top row first: the pixels
// readImage() gives, with the file's header read once, as it was opened.
class RowSource {
public:
    virtual ~RowSource();
    // What the header says, as readImageHeader() gives it (empty when it does not read).
    const ImageHeader& header() const { return header_; }
    // Why the rows cannot be read here; None when they can.
    RowsRefused refused() const { return refused_; }
    bool isValid() const { return refused_ == RowsRefused::None; }
    // The file stores grey; its rows come as colour words all the same, as readImage()
    // gives them.
    bool gray() const { return header_.gray(); }
    int orientation() const { return header_.orientation; }  // 1 when the file says none
    QByteArray iccProfile() const { return header_.iccProfile; }
    // The rows carry alpha (an alpha channel or a transparent colour): they come
    // premultiplied, as readImage() gives such a picture.
    virtual bool transparent() const { return false; }
    // The size of the rows handed out (reduced when asked for).
    virtual int width() const = 0;
    virtual int height() const = 0;
    // From now on the rows are those of the decode readImage() makes with these options'
    // minLongSide (a reduced decode); before any row is read. False when the format has no
    // such decode (a minLongSide of 0 is always taken).
    virtual bool reduceTo(const DecodeOptions& options);
    // Decodes rows [rowsRead(), rowsEnd) into base: row r at base + r * bytesPerLine, each
    // pixel the 32-bit premultiplied ARGB word readImage() gives (alpha 0xFF without
    // transparency; B, G, R, A in memory, so opaque rows are QImage::Format_RGB32). Never
    // writes a row past rowsEnd; with a bytesPerLine of 0 every row goes into the same line
    // at base. Rows already read are not read again. False when the data is damaged or ends
    // early (the files readImage() refuses) or the file was cut short while read (cut() then
    // says so), and from then on.
    virtual bool readRows(uchar* base, qsizetype bytesPerLine, int rowsEnd) = 0;
    // From now on readRows gives each pixel as three bytes, R, G, B (QImage::Format_RGB888),
    // where the reader holds opaque colour rows that way and widening them to words would
    // only cost a copy; before any row is read. False when it does not (the rows stay words).
    virtual bool rowsAsRgbBytes() { return false; }
    virtual int rowsRead() const = 0;
    // The file was found shorter while read than when it was opened.
    virtual bool cut() const = 0;
    // Whether every pixel readImage() gives is opaque (the stored alpha decides it), read
    // through once before the rows are, without a second opening of the file; nothing when
    // the pixels cannot be read. Only before the first row is read.
    virtual std::optional<bool> opaque() { return isValid() ? std::optional<bool>(!transparent()) : std::nullopt; }

protected:
    ImageHeader header_;
    RowsRefused refused_ = RowsRefused::Unreadable;
};

// Opens the file at `path` once (`options.whileOpen` is called then), reads its header and
// hands it to the reader of rows of its format (JPEG, PNG, TIFF). Never null: a file that is
// not opened, or of another kind, comes with the reason (and the header, when it reads).
std::unique_ptr<RowSource> openRowSource(const QString& path, const DecodeOptions& options = {});

// A JPEG file decoded a few rows at a time. Valid when the colours are RGB or grey (not
// CMYK), the size is within what readImage() decodes, and the file's profile leaves the
// pixels as they are stored (one readImage() would convert to sRGB while reading makes it
// Converted).
class JpegRowSource : public RowSource {
public:
    // Opens and maps the file as readImage() does (`options.whileOpen` is called once it is
    // open) and reads its header. With a minLongSide in the options the rows are those of
    // the reduced decode readImage() makes with them.
    explicit JpegRowSource(const QString& path, const DecodeOptions& options = {});
    // The file opened already (for openRowSource).
    JpegRowSource(std::unique_ptr<codec::FileBytes> file, const QString& path, const DecodeOptions& options);
    ~JpegRowSource() override;
    JpegRowSource(const JpegRowSource&) = delete;
    JpegRowSource& operator=(const JpegRowSource&) = delete;

    int width() const override;
    int height() const override;
    bool reduceTo(const DecodeOptions& options) override;
    // The rows are opaque: B, G, R, 0xFF in memory (QImage::Format_RGB32), or R, G, B
    // bytes once asked for (a colour file).
    bool readRows(uchar* base, qsizetype bytesPerLine, int rowsEnd) override;
    bool rowsAsRgbBytes() override;
    int rowsRead() const override;
    bool cut() const override;

private:
    struct State;
    std::unique_ptr<State> s_;
};

// A PNG file decoded a row at a time. An interlaced file, whose rows are whole only after
// its last pass, is read whole before its first row goes out, held at the bytes a pixel its
// channels take (1 to 4, not the rows' 4) and given back as its rows go.
class PngRowSource : public RowSource {
public:
    // Opens and maps the file as readImage() does (`options.whileOpen` is called once it is
    // open) and reads its header.
    explicit PngRowSource(const QString& path, const DecodeOptions& options = {});
    PngRowSource(std::unique_ptr<codec::FileBytes> file, const QString& path, const DecodeOptions& options);
    ~PngRowSource() override;
    PngRowSource(const PngRowSource&) = delete;
    PngRowSource& operator=(const PngRowSource&) = delete;

    int width() const override;
    int height() const override;
    bool transparent() const override;
    bool readRows(uchar* base, qsizetype bytesPerLine, int rowsEnd) override;
    int rowsRead() const override;
    bool cut() const override;
    std::optional<bool> opaque() override;

private:
    bool readWhole();  // an interlaced file's every pass; false when it fails
    struct State;
    std::unique_ptr<State> s_;
};

// A JPEG encoded band by band as its rows are finished, on a thread of its own so the
// caller goes on.
class JpegBandSink {
public:
    // quality 0..1, as encodeImage() takes it. With `gray` the rows' channels are equal
    // and the file stores one grey channel: the JPEG encodeImage() makes of such a picture
    // when it writes it grey.
    // With `rgbBytes` the rows are three bytes a pixel, R, G, B (QImage::Format_RGB888), and
    // the file is the one their words make.
    JpegBandSink(int width, int height, const QByteArray& icc, double quality, bool gray = false,
                 bool rgbBytes = false);
    ~JpegBandSink();  // stops the encoding and waits for it
    JpegBandSink(const JpegBandSink&) = delete;
    JpegBandSink& operator=(const JpegBandSink&) = delete;

    // Rows [0, rowsEnd) at base are final: 4 bytes a pixel in RGB32 or
    // ARGB32_Premultiplied layout, the alpha byte ignored (or R, G, B bytes, as constructed). base and bytesPerLine are the
    // same on every call and rowsEnd never decreases. Returns at once.
    void rowsDone(const uchar* base, qsizetype bytesPerLine, int rowsEnd);
    // Rows [0, rowsEncoded()) are never read again: their memory may be given back.
    int rowsEncoded() const;
    // Waits until rowsEncoded() reaches `rows` (or the encoding stopped or failed), so a
    // caller that makes rows faster than they are encoded holds only so many.
    void waitForEncoded(int rows) const;
    // Once every row was handed in: waits for the last bands and returns the file, byte for
    // byte the JPEG that encoding the whole picture with this profile and quality gives.
    // Empty when encoding failed or rows are missing.
    QByteArray finish();
    // The same handed to `out` in order, the bands never joined in memory (each goes once
    // handed on). False when encoding failed or rows are missing (nothing handed on then),
    // or `out` refused.
    bool finish(const std::function<bool(const char*, size_t)>& out);

private:
    bool finished();  // waits for the last bands; whether every band was made
    struct State;
    std::unique_ptr<State> s_;
};

// A PNG written band by band as its rows are finished, on a thread of its own: the bands of
// the whole-picture writer, compressed as their rows come in (several at once when they
// come faster than one thread keeps up with) and handed to `out` in order as they are.
class PngBandSink {
public:
    // What the rows are and how the file stores them: an opaque colour picture (RGB
    // samples), one with alpha (RGBA samples, straightened from premultiplied rows as the
    // whole-picture writer straightens them), or a grey one (its rows' channels equal)
    // written as grey samples.
    enum class Rows { Colour, Transparent, Grey };
    // The picture carries this profile. `out` takes the file's bytes in order, on the
    // sink's thread and in finish(); false from it fails the file.
    PngBandSink(int width, int height, const QByteArray& icc, std::function<bool(const char*, size_t)> out,
                Rows rows = Rows::Colour);
    ~PngBandSink();  // stops the encoding and waits for it
    PngBandSink(const PngBandSink&) = delete;
    PngBandSink& operator=(const PngBandSink&) = delete;

    // As JpegBandSink's: rows [0, rowsEnd) at base are final (RGB32 layout, or
    // ARGB32_Premultiplied with `transparent`).
    void rowsDone(const uchar* base, qsizetype bytesPerLine, int rowsEnd);
    // Rows [0, rowsEncoded()) are never read again (a band reads the row above it too).
    int rowsEncoded() const;
    void waitForEncoded(int rows) const;  // as JpegBandSink's
    // Once every row was handed in: waits for the last bands and ends the file. True when
    // the whole file went out: byte for byte what writing the whole picture as an opaque
    // PNG with this profile gives.
    bool finish();

private:
    struct State;
    std::unique_ptr<State> s_;
};

// Rows [y0, y1) of a premultiplied picture put on white in place, each pixel as the
// writer puts a picture with transparency for a file without alpha.
void putRowsOnWhite(const QImage& picture, int y0, int y1);

}  // namespace platform
