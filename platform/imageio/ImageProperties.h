#pragma once
// The image-properties dictionary of a picture file: what the program reads about a
// photo (pixel size, orientation, resolution, colour model, camera and location facts)
// and what it writes back with every output.
//
// Shape of the dictionary (a QVariantMap):
//   top level  "PixelWidth", "PixelHeight" (int), "Orientation" (int 1..8), "DPIWidth",
//              "DPIHeight" (double), "ColorModel" ("RGB", "Gray", "CMYK", "Lab"),
//              "ProfileName" (text), "Depth" (int bits per sample), "HasAlpha" (bool)
//   groups     "{TIFF}", "{Exif}", "{ExifAux}", "{GPS}", "{IPTC}" and, read only,
//              "{PNG}" and "{JFIF}": each a QVariantMap of key -> value.
// Values keep their kinds: whole numbers are int, fractions double, texts QString,
// multi-valued fields (ISOSpeedRatings, Keywords, Byline, ...) QVariantList.
// GPS "Latitude"/"Longitude" are positive degrees with "LatitudeRef" "N"/"S" and
// "LongitudeRef" "E"/"W"; dates are texts "yyyy:MM:dd HH:mm:ss".
//
// Both calls are safe from any thread and never throw.
#include <QString>
#include <QPointF>
#include <QVariantMap>

#include <functional>

#include "platform/imageio/ImageIO.h"

namespace platform {

// Group names and the top-level keys, written once here for every caller.
inline constexpr char kPropsTIFF[] = "{TIFF}";
inline constexpr char kPropsExif[] = "{Exif}";
inline constexpr char kPropsExifAux[] = "{ExifAux}";
inline constexpr char kPropsGPS[] = "{GPS}";
inline constexpr char kPropsIPTC[] = "{IPTC}";
inline constexpr char kPropsPNG[] = "{PNG}";
inline constexpr char kPropsJFIF[] = "{JFIF}";
inline constexpr char kPropsPixelWidth[] = "PixelWidth";
inline constexpr char kPropsPixelHeight[] = "PixelHeight";
inline constexpr char kPropsOrientation[] = "Orientation";
inline constexpr char kPropsDPIWidth[] = "DPIWidth";
inline constexpr char kPropsDPIHeight[] = "DPIHeight";
inline constexpr char kPropsColorModel[] = "ColorModel";
inline constexpr char kPropsProfileName[] = "ProfileName";
inline constexpr char kPropsDepth[] = "Depth";
inline constexpr char kPropsHasAlpha[] = "HasAlpha";

// The properties of the file's first image, recognised by content (JPEG, PNG, TIFF,
// GIF, BMP, JPEG 2000), not by name. An empty path, a missing, empty, truncated or
// corrupt file, or a file that is no picture of these kinds gives an empty map. A file
// cut short while its facts are read gives those read before (or none). Of `reading`,
// only whileOpen applies.
QVariantMap readImageProperties(const QString& path, const DecodeOptions& reading = {});
// A picture file's header (invalid when it is none these readers take) and, with
// `properties`, what readImageProperties reads of it, both from one opening of the file:
// for a writer checking the file it has just written and read back.
ImageHeader readImageHeaderAndProperties(const QString& path, QVariantMap* properties);

// Replaces the metadata of an already written JPEG, PNG, TIFF or JPEG 2000 file with
// exactly what `props` says: groups or keys left out are removed from the file, so a
// caller clears a group by omitting it. Top-level "Orientation", "DPIWidth" and
// "DPIHeight" are written too (a top-level "Orientation" wins over the one in
// "{TIFF}"); the pixel keys, "ColorModel", "ProfileName", "Depth", "HasAlpha",
// "{PNG}" and "{JFIF}" describe the pixels and are ignored; "{Exif}" "PixelXDimension"
// and "PixelYDimension", when given, are written as the file's real size. Negative GPS coordinates
// are stored as their magnitude with the matching hemisphere letter.
// The file is rewritten through a temporary copy in the same folder and renamed into
// place, so a failure leaves the original untouched. Returns false (one log line) when
// the file can't be read or written. GIF, BMP and bare JPEG 2000 codestreams (no JP2
// box wrapper) can't hold this metadata: nothing is written and the call returns true.
bool writeImageProperties(const QString& path, const QVariantMap& props);

// writeImageProperties for a file still in memory: the JPEG, TIFF or JPEG 2000 file
// `file` with the metadata `props` gives, written the same way; `file` itself for a
// GIF, BMP or bare codestream. An empty array (one log line naming `path`) when it
// cannot be done. A file written once with its metadata saves making a second one.
QByteArray withImageProperties(const QByteArray& file, const QVariantMap& props, const QString& path);
// The same, its bytes handed to `out` as the library holds them rather than copied; false
// (one log line) when it cannot be done or `out` refuses them.
bool writeWithImageProperties(const QByteArray& file, const QVariantMap& props, const QString& path,
                              const std::function<bool(const char*, size_t)>& out);
// The chunks a PNG carries around its picture data once given the metadata `props` gives,
// for a PNG written as a stream: `head` (the signature and the chunks before the first
// IDAT) and `tail` (the chunks after the last) of the file without them become *newHead
// and *newTail, the picture data going unchanged between the two. The file is then the one
// writeImageProperties makes of the file without them. False (one log line) when it cannot
// be done.
bool pngFrameWithImageProperties(const QByteArray& head, const QByteArray& tail, const QVariantMap& props,
                                 const QString& path, QByteArray* newHead, QByteArray* newTail);

// The resolution in dots per inch that `props` gives its picture, as writeImageProperties
// writes it: the top-level "DPIWidth" and "DPIHeight", else the "{TIFF}" group's
// resolution. (0, 0) when it gives none.
QPointF propertiesResolution(const QVariantMap& props);

}  // namespace platform
