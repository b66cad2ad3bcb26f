#pragma once
// The formats this program reads but never writes: HEIF and AVIF (libheif), WebP
// (libwebp), camera raw files (LibRaw), Photoshop documents, Targa, PNM and icons (our
// own readers) and the small formats Qt reads (XBM, XPM, and with its image formats
// plugins ICNS). Shared between the codec files of platform/imageio; not for use outside
// this folder.
//
// HEIF pictures and camera raw files come out of their decoders upright: the container's
// rotation and mirroring, or the turn the camera recorded, is applied by the decoder, so
// their headers say orientation 1 and the EXIF tag they may also carry is not applied a
// second time. WebP keeps the JPEG rule (stored layout plus the EXIF orientation).
#include "platform/imageio/CodecInternal.h"

#include <QByteArray>
#include <QString>

namespace platform::codec {

// Their header readers give the facts every format's does (CodecInternal.h), with the
// metadata blocks Exiv2 is not asked to find in these containers.
using ReadOnlyFacts = ImageFacts;

// The HEIF brands (HEIF or AVIF) or nothing, from the leading ftyp box.
ImageFormat heifSniff(Bytes in);
ReadOnlyFacts heifFacts(Bytes in);
// The decoders below, as every decoder, fill `why` (when given) where they fail: a coding
// or kind they lack, a picture past the budget, damage.
QImage heifDecode(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why = nullptr);
// Has libheif decode HEVC through the decoder of HevcDecoder.cpp, which refuses a damaged
// stream; called before libheif opens a file.
void useCheckedHevcDecoder();

ReadOnlyFacts webpFacts(Bytes in);
QImage webpDecode(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why = nullptr);

// Whether the bytes are a camera raw file: by the signatures of the raw containers, and
// for TIFF-structured ones by a sensor-data directory (a colour filter array or linear
// raw photometric, a DNG version, a camera maker's compression).
bool rawSniff(Bytes in);
ImageHeader rawHeader(Bytes in);
// With `metadata`, the facts bring the file's EXIF, IPTC and XMP as blocks.
ReadOnlyFacts rawFacts(Bytes in, bool metadata = false);
QImage rawDecode(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why = nullptr);

// XBM, XPM, ICO (and CUR), ICNS by their content; Unknown for anything else. ICO is read
// by icoDecode.
ImageFormat qtReaderSniff(Bytes in);
ReadOnlyFacts qtReaderFacts(Bytes in, ImageFormat format);
QImage qtReaderDecode(Bytes in, ImageFormat format, const DecodeOptions& options, const QString& name,
                      DecodeResult* why = nullptr);

// PNM (PBM, PGM, PPM; plain and raw), by its magic number "P1" to "P6".
bool pnmSniff(Bytes in);
ReadOnlyFacts pnmFacts(Bytes in);
QImage pnmDecode(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why = nullptr);

// Windows icons and cursors (ICO, CUR; told by qtReaderSniff): the largest picture, and of
// pictures of one size the deepest.
ReadOnlyFacts icoFacts(Bytes in);
QImage icoDecode(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why = nullptr);
// One BMP picture of an icon (BmpCodec.cpp): an information header, palette and pixels as a
// BMP's, the header's height counting the rows of the one-bit mask that follows the pixels
// (a set bit transparent). A 32-bit picture's alpha, where any pixel's is not zero, stands
// in for the mask. `bitsPerPixel` receives the depth as stored.
ImageFacts iconBitmapFacts(Bytes entry, int* bitsPerPixel = nullptr);
QImage iconBitmapDecode(Bytes entry, const DecodeOptions& options, const QString& name, DecodeResult* why = nullptr);

// Targa, which has no signature: a name ending in one of its extensions and a header it
// could have.
bool tgaSniff(Bytes in, const QString& name);
ReadOnlyFacts tgaFacts(Bytes in);
QImage tgaDecode(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why = nullptr);

// Photoshop documents ("8BPS"): the merged picture.
ReadOnlyFacts psdFacts(Bytes in);
QImage psdDecode(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why = nullptr);

}  // namespace platform::codec
