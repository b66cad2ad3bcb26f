// Reading and writing the image-properties dictionary. The picture's own facts (pixel
// size, depth, colour model, header resolution) come from each format's one header reader,
// in its codec, so that a file's properties say what its decode will; camera, location
// and caption facts come from Exiv2, which is used in this file only. Every Exiv2 call is serialised and wrapped, so a damaged file
// costs one log line, never the process.
#include "platform/imageio/ImageProperties.h"

#include "platform/foundation/Log.h"
#include "platform/foundation/NativeNames.h"
#include "platform/foundation/Numbers.h"
#include "platform/imageio/ReadOnlyCodecs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QTemporaryFile>

#include <cmath>
#include <cstdio>
#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <mutex>
#include <shared_mutex>
#include <numeric>
#include <string>
#include <unordered_map>
#include <utility>

// Exiv2 0.27 still speaks std::auto_ptr in its interface.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

namespace platform {
namespace {

// ---------------------------------------------------------------------------------
// The one key table: dictionary group/key <-> Exiv2 key <-> value kind.

enum class Kind {
    Text,       // a text
    Int,        // a whole number
    Real,       // a fraction, stored as a rational
    IntList,    // several whole numbers (ISO speeds, version bytes, components)
    RealList,   // several fractions (the lens focal and aperture range)
    TextList,   // repeatable IPTC texts
    Comment,    // the EXIF comment with its character-set prefix
    GpsCoord,   // degrees, stored as degrees/minutes/seconds
    GpsTime,    // "HH:mm:ss.ss", stored as three rationals
    IptcDate,   // "yyyyMMdd"
    IptcTime,   // "HHmmss+hhmm"
    Version,    // [2, 2, 1], stored as the four digits "0221"
};

struct PropertyKey {
    const char* group;
    const char* key;
    const char* exiv2;
    Kind kind;
    // Read when `exiv2` is absent, never written: camera files keep lens and body facts
    // only in EXIF, while the auxiliary group lives in XMP of its own. Keeping the two
    // apart on writing means removing an EXIF key from "{Exif}" really removes it.
    const char* readFallback = nullptr;
};

// When two dictionary keys share one Exiv2 key, the earlier row wins on writing; both
// are filled on reading.
constexpr PropertyKey kPropertyKeys[] = {
    {kPropsTIFF, "Make", "Exif.Image.Make", Kind::Text},
    {kPropsTIFF, "Model", "Exif.Image.Model", Kind::Text},
    {kPropsTIFF, "Software", "Exif.Image.Software", Kind::Text},
    {kPropsTIFF, "DateTime", "Exif.Image.DateTime", Kind::Text},
    {kPropsTIFF, "Artist", "Exif.Image.Artist", Kind::Text},
    {kPropsTIFF, "Copyright", "Exif.Image.Copyright", Kind::Text},
    {kPropsTIFF, "ImageDescription", "Exif.Image.ImageDescription", Kind::Text},
    {kPropsTIFF, "HostComputer", "Exif.Image.HostComputer", Kind::Text},
    {kPropsTIFF, "Orientation", "Exif.Image.Orientation", Kind::Int},
    {kPropsTIFF, "XResolution", "Exif.Image.XResolution", Kind::Real},
    {kPropsTIFF, "YResolution", "Exif.Image.YResolution", Kind::Real},
    {kPropsTIFF, "ResolutionUnit", "Exif.Image.ResolutionUnit", Kind::Int},

    {kPropsExif, "ExposureTime", "Exif.Photo.ExposureTime", Kind::Real},
    {kPropsExif, "FNumber", "Exif.Photo.FNumber", Kind::Real},
    {kPropsExif, "ExposureProgram", "Exif.Photo.ExposureProgram", Kind::Int},
    {kPropsExif, "SpectralSensitivity", "Exif.Photo.SpectralSensitivity", Kind::Text},
    {kPropsExif, "ISOSpeedRatings", "Exif.Photo.ISOSpeedRatings", Kind::IntList},
    {kPropsExif, "ExifVersion", "Exif.Photo.ExifVersion", Kind::Version},
    {kPropsExif, "FlashpixVersion", "Exif.Photo.FlashpixVersion", Kind::Version},
    {kPropsExif, "DateTimeOriginal", "Exif.Photo.DateTimeOriginal", Kind::Text},
    {kPropsExif, "DateTimeDigitized", "Exif.Photo.DateTimeDigitized", Kind::Text},
    {kPropsExif, "ComponentsConfiguration", "Exif.Photo.ComponentsConfiguration", Kind::IntList},
    {kPropsExif, "CompressedBitsPerPixel", "Exif.Photo.CompressedBitsPerPixel", Kind::Real},
    {kPropsExif, "ShutterSpeedValue", "Exif.Photo.ShutterSpeedValue", Kind::Real},
    {kPropsExif, "ApertureValue", "Exif.Photo.ApertureValue", Kind::Real},
    {kPropsExif, "BrightnessValue", "Exif.Photo.BrightnessValue", Kind::Real},
    {kPropsExif, "ExposureBiasValue", "Exif.Photo.ExposureBiasValue", Kind::Real},
    {kPropsExif, "MaxApertureValue", "Exif.Photo.MaxApertureValue", Kind::Real},
    {kPropsExif, "SubjectDistance", "Exif.Photo.SubjectDistance", Kind::Real},
    {kPropsExif, "MeteringMode", "Exif.Photo.MeteringMode", Kind::Int},
    {kPropsExif, "LightSource", "Exif.Photo.LightSource", Kind::Int},
    {kPropsExif, "Flash", "Exif.Photo.Flash", Kind::Int},
    {kPropsExif, "FocalLength", "Exif.Photo.FocalLength", Kind::Real},
    {kPropsExif, "SubjectArea", "Exif.Photo.SubjectArea", Kind::IntList},
    {kPropsExif, "UserComment", "Exif.Photo.UserComment", Kind::Comment},
    {kPropsExif, "SubsecTime", "Exif.Photo.SubSecTime", Kind::Text},
    {kPropsExif, "SubsecTimeOriginal", "Exif.Photo.SubSecTimeOriginal", Kind::Text},
    {kPropsExif, "SubsecTimeDigitized", "Exif.Photo.SubSecTimeDigitized", Kind::Text},
    {kPropsExif, "ColorSpace", "Exif.Photo.ColorSpace", Kind::Int},
    {kPropsExif, "PixelXDimension", "Exif.Photo.PixelXDimension", Kind::Int},
    {kPropsExif, "PixelYDimension", "Exif.Photo.PixelYDimension", Kind::Int},
    {kPropsExif, "FocalPlaneXResolution", "Exif.Photo.FocalPlaneXResolution", Kind::Real},
    {kPropsExif, "FocalPlaneYResolution", "Exif.Photo.FocalPlaneYResolution", Kind::Real},
    {kPropsExif, "FocalPlaneResolutionUnit", "Exif.Photo.FocalPlaneResolutionUnit", Kind::Int},
    {kPropsExif, "ExposureIndex", "Exif.Photo.ExposureIndex", Kind::Real},
    {kPropsExif, "SensingMethod", "Exif.Photo.SensingMethod", Kind::Int},
    {kPropsExif, "FileSource", "Exif.Photo.FileSource", Kind::Int},
    {kPropsExif, "SceneType", "Exif.Photo.SceneType", Kind::Int},
    {kPropsExif, "CustomRendered", "Exif.Photo.CustomRendered", Kind::Int},
    {kPropsExif, "ExposureMode", "Exif.Photo.ExposureMode", Kind::Int},
    {kPropsExif, "WhiteBalance", "Exif.Photo.WhiteBalance", Kind::Int},
    {kPropsExif, "DigitalZoomRatio", "Exif.Photo.DigitalZoomRatio", Kind::Real},
    {kPropsExif, "FocalLenIn35mmFilm", "Exif.Photo.FocalLengthIn35mmFilm", Kind::Int},
    {kPropsExif, "SceneCaptureType", "Exif.Photo.SceneCaptureType", Kind::Int},
    {kPropsExif, "GainControl", "Exif.Photo.GainControl", Kind::Int},
    {kPropsExif, "Contrast", "Exif.Photo.Contrast", Kind::Int},
    {kPropsExif, "Saturation", "Exif.Photo.Saturation", Kind::Int},
    {kPropsExif, "Sharpness", "Exif.Photo.Sharpness", Kind::Int},
    {kPropsExif, "SubjectDistRange", "Exif.Photo.SubjectDistanceRange", Kind::Int},
    {kPropsExif, "ImageUniqueID", "Exif.Photo.ImageUniqueID", Kind::Text},
    {kPropsExif, "CameraOwnerName", "Exif.Photo.CameraOwnerName", Kind::Text},
    {kPropsExif, "BodySerialNumber", "Exif.Photo.BodySerialNumber", Kind::Text},
    {kPropsExif, "LensSpecification", "Exif.Photo.LensSpecification", Kind::RealList},
    {kPropsExif, "LensMake", "Exif.Photo.LensMake", Kind::Text},
    {kPropsExif, "LensModel", "Exif.Photo.LensModel", Kind::Text},
    {kPropsExif, "LensSerialNumber", "Exif.Photo.LensSerialNumber", Kind::Text},
    {kPropsExif, "Rating", "Exif.Image.Rating", Kind::Int},
    {kPropsExif, "Lens", "Xmp.aux.Lens", Kind::Text},

    {kPropsExifAux, "LensModel", "Xmp.exifEX.LensModel", Kind::Text, "Exif.Photo.LensModel"},
    {kPropsExifAux, "LensInfo", "Exif.Photo.LensSpecification", Kind::RealList},
    {kPropsExifAux, "SerialNumber", "Xmp.aux.SerialNumber", Kind::Text, "Exif.Photo.BodySerialNumber"},
    {kPropsExifAux, "OwnerName", "Xmp.aux.OwnerName", Kind::Text, "Exif.Photo.CameraOwnerName"},
    {kPropsExifAux, "Firmware", "Xmp.aux.Firmware", Kind::Text},
    {kPropsExifAux, "LensID", "Xmp.aux.LensID", Kind::Int},
    {kPropsExifAux, "ImageNumber", "Xmp.aux.ImageNumber", Kind::Int},
    {kPropsExifAux, "FlashCompensation", "Xmp.aux.FlashCompensation", Kind::Real},

    {kPropsGPS, "GPSVersion", "Exif.GPSInfo.GPSVersionID", Kind::IntList},
    {kPropsGPS, "LatitudeRef", "Exif.GPSInfo.GPSLatitudeRef", Kind::Text},
    {kPropsGPS, "Latitude", "Exif.GPSInfo.GPSLatitude", Kind::GpsCoord},
    {kPropsGPS, "LongitudeRef", "Exif.GPSInfo.GPSLongitudeRef", Kind::Text},
    {kPropsGPS, "Longitude", "Exif.GPSInfo.GPSLongitude", Kind::GpsCoord},
    {kPropsGPS, "AltitudeRef", "Exif.GPSInfo.GPSAltitudeRef", Kind::Int},
    {kPropsGPS, "Altitude", "Exif.GPSInfo.GPSAltitude", Kind::Real},
    {kPropsGPS, "TimeStamp", "Exif.GPSInfo.GPSTimeStamp", Kind::GpsTime},
    {kPropsGPS, "Satellites", "Exif.GPSInfo.GPSSatellites", Kind::Text},
    {kPropsGPS, "Status", "Exif.GPSInfo.GPSStatus", Kind::Text},
    {kPropsGPS, "MeasureMode", "Exif.GPSInfo.GPSMeasureMode", Kind::Text},
    {kPropsGPS, "DOP", "Exif.GPSInfo.GPSDOP", Kind::Real},
    {kPropsGPS, "SpeedRef", "Exif.GPSInfo.GPSSpeedRef", Kind::Text},
    {kPropsGPS, "Speed", "Exif.GPSInfo.GPSSpeed", Kind::Real},
    {kPropsGPS, "TrackRef", "Exif.GPSInfo.GPSTrackRef", Kind::Text},
    {kPropsGPS, "Track", "Exif.GPSInfo.GPSTrack", Kind::Real},
    {kPropsGPS, "ImgDirectionRef", "Exif.GPSInfo.GPSImgDirectionRef", Kind::Text},
    {kPropsGPS, "ImgDirection", "Exif.GPSInfo.GPSImgDirection", Kind::Real},
    {kPropsGPS, "MapDatum", "Exif.GPSInfo.GPSMapDatum", Kind::Text},
    {kPropsGPS, "DestBearingRef", "Exif.GPSInfo.GPSDestBearingRef", Kind::Text},
    {kPropsGPS, "DestBearing", "Exif.GPSInfo.GPSDestBearing", Kind::Real},
    {kPropsGPS, "DateStamp", "Exif.GPSInfo.GPSDateStamp", Kind::Text},

    {kPropsIPTC, "ObjectName", "Iptc.Application2.ObjectName", Kind::Text},
    {kPropsIPTC, "EditStatus", "Iptc.Application2.EditStatus", Kind::Text},
    {kPropsIPTC, "Urgency", "Iptc.Application2.Urgency", Kind::Text},
    {kPropsIPTC, "Category", "Iptc.Application2.Category", Kind::Text},
    {kPropsIPTC, "SupplementalCategory", "Iptc.Application2.SuppCategory", Kind::TextList},
    {kPropsIPTC, "Keywords", "Iptc.Application2.Keywords", Kind::TextList},
    {kPropsIPTC, "SpecialInstructions", "Iptc.Application2.SpecialInstructions", Kind::Text},
    {kPropsIPTC, "DateCreated", "Iptc.Application2.DateCreated", Kind::IptcDate},
    {kPropsIPTC, "TimeCreated", "Iptc.Application2.TimeCreated", Kind::IptcTime},
    {kPropsIPTC, "DigitalCreationDate", "Iptc.Application2.DigitizationDate", Kind::IptcDate},
    {kPropsIPTC, "DigitalCreationTime", "Iptc.Application2.DigitizationTime", Kind::IptcTime},
    {kPropsIPTC, "OriginatingProgram", "Iptc.Application2.Program", Kind::Text},
    {kPropsIPTC, "ProgramVersion", "Iptc.Application2.ProgramVersion", Kind::Text},
    {kPropsIPTC, "Byline", "Iptc.Application2.Byline", Kind::TextList},
    {kPropsIPTC, "BylineTitle", "Iptc.Application2.BylineTitle", Kind::TextList},
    {kPropsIPTC, "City", "Iptc.Application2.City", Kind::Text},
    {kPropsIPTC, "SubLocation", "Iptc.Application2.SubLocation", Kind::Text},
    {kPropsIPTC, "Province/State", "Iptc.Application2.ProvinceState", Kind::Text},
    {kPropsIPTC, "Country/PrimaryLocationCode", "Iptc.Application2.CountryCode", Kind::Text},
    {kPropsIPTC, "Country/PrimaryLocationName", "Iptc.Application2.CountryName", Kind::Text},
    {kPropsIPTC, "OriginalTransmissionReference", "Iptc.Application2.TransmissionReference", Kind::Text},
    {kPropsIPTC, "Headline", "Iptc.Application2.Headline", Kind::Text},
    {kPropsIPTC, "Credit", "Iptc.Application2.Credit", Kind::Text},
    {kPropsIPTC, "Source", "Iptc.Application2.Source", Kind::Text},
    {kPropsIPTC, "CopyrightNotice", "Iptc.Application2.Copyright", Kind::Text},
    {kPropsIPTC, "Contact", "Iptc.Application2.Contact", Kind::TextList},
    {kPropsIPTC, "Caption/Abstract", "Iptc.Application2.Caption", Kind::Text},
    {kPropsIPTC, "Writer/Editor", "Iptc.Application2.Writer", Kind::TextList},
    {kPropsIPTC, "ImageOrientation", "Iptc.Application2.ImageOrientation", Kind::Text},
    {kPropsIPTC, "LanguageIdentifier", "Iptc.Application2.Language", Kind::Text},
};

constexpr const char* kTopOrientationKey = "Exif.Image.Orientation";
constexpr const char* kXResolutionKey = "Exif.Image.XResolution";
constexpr const char* kYResolutionKey = "Exif.Image.YResolution";
constexpr const char* kResolutionUnitKey = "Exif.Image.ResolutionUnit";
constexpr const char* kIccTagKey = "Exif.Image.InterColorProfile";

// ---------------------------------------------------------------------------------
// Picture files read in pieces.

// Bounded random access to a file: every read states its length and fails cleanly at
// the end, so no header field can make us read or allocate beyond the file.
class ByteSource {
public:
    explicit ByteSource(QIODevice& f) : f_(f), size_(f.size()) {}
    qint64 size() const { return size_; }
    bool read(qint64 offset, void* out, qint64 n) {
        if (offset < 0 || n < 0 || offset > size_ || n > size_ - offset) return false;
        if (!f_.seek(offset)) return false;
        return f_.read(static_cast<char*>(out), n) == n;
    }
    QByteArray bytes(qint64 offset, qint64 n) {
        if (offset < 0 || n < 0 || offset > size_ || n > size_ - offset) return {};
        if (!f_.seek(offset)) return {};
        QByteArray b = f_.read(n);
        return b.size() == n ? b : QByteArray();
    }
private:
    QIODevice& f_;
    qint64 size_;
};

inline quint32 bigEndian16(const uchar* p) { return quint32(p[0]) << 8 | p[1]; }
inline quint32 bigEndian32(const uchar* p) { return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3]; }
// The kinds of picture file Exiv2 reads and writes metadata in by itself.
bool holdsMetadata(ImageFormat format) {
    return format == ImageFormat::JPEG || format == ImageFormat::PNG || format == ImageFormat::TIFF ||
           format == ImageFormat::JP2;
}

// ---------------------------------------------------------------------------------
// Exiv2 set-up: one initialisation, one lock, its messages into our log.

void ensureExiv2();

std::mutex& exivMutex() {
    static std::mutex m;
    return m;
}

// Reports what Exiv2 said about one file once its work on it is done: Exiv2 may complain
// many times about one damaged file, and its messages leave as one log line per file.
// They are gathered by the session of the file in hand on the thread that works on it
// (Exiv2 calls its handler there), found through a plain pointer: a thread-local list
// would register its destructor on each thread's first use, with an allocation the C
// library does not let fail. Exiv2's parsing and writing (its XMP toolkit above all) is
// not safe on several threads at once and runs under the Exiv2 lock; what is read from a
// parsed file's own data is not, so that many photos' metadata are turned into
// dictionaries at once.
class ExivSession {
public:
    explicit ExivSession(const QString& path) : path_(path), outer_(current()) {
        ensureExiv2();
        current() = this;
    }
    ~ExivSession() {
        current() = outer_;
        try {
            if (messages_.size() == 1) log(u"Exiv2 on %@: %@", path_, messages_.first());
            else if (messages_.size() > 1) log(u"Exiv2 on %@: %@ (and %d more)", path_, messages_.first(), int(messages_.size() - 1));
        } catch (...) {
            // No memory to tell it: the file's work has its own outcome.
        }
    }
    ExivSession(const ExivSession&) = delete;
    ExivSession& operator=(const ExivSession&) = delete;

    // Keeps a message for the file in hand; one said outside any file's work is logged now.
    static void note(const QString& text) {
        if (ExivSession* session = current()) {
            if (session->messages_.size() < 1000) session->messages_.append(text);
        } else {
            log(u"Exiv2: %@", text);
        }
    }

private:
    static ExivSession*& current() {
        thread_local ExivSession* session = nullptr;
        return session;
    }

    QString path_;
    ExivSession* outer_;
    QStringList messages_;
};

void exivLogHandler(int, const char* message) {
    const QString text = QString::fromUtf8(message).trimmed();
    if (!text.isEmpty()) ExivSession::note(text);
}

// Exiv2 reports an allocation of its own that failed as one of its errors: a memory
// shortage like any other, which fails the photo rather than drop its metadata.
void throwIfShortOfMemory(const std::exception& e) {
    const auto* exiv = dynamic_cast<const Exiv2::AnyError*>(&e);
    if (exiv && exiv->code() == Exiv2::kerMallocFailed) throw std::bad_alloc();
}

void ensureExiv2() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::error);
        Exiv2::LogMsg::setHandler(exivLogHandler);
        Exiv2::XmpParser::initialize();
        Exiv2::enableBMFF(true);  // Canon CR3 raw files
    });
}


QString textFromBytes(const std::string& s) {
    std::string t = s;
    while (!t.empty() && t.back() == '\0') t.pop_back();
    const QByteArray bytes = QByteArray::fromStdString(t);
    const QString utf8 = QString::fromUtf8(bytes);
    return utf8.contains(QChar::ReplacementCharacter) ? QString::fromLatin1(bytes) : utf8;
}

double rationalToDouble(const Exiv2::Rational& r) { return r.second ? double(r.first) / r.second : 0.0; }

// ---------------------------------------------------------------------------------
// Reading: Exiv2 values -> dictionary values.

QVariant valueFromExiv(const Exiv2::Value& v, Kind kind) {
    const long n = v.count();
    if (n <= 0 && kind != Kind::Comment && kind != Kind::Text) return {};
    switch (kind) {
    case Kind::Text: {
        const QString s = textFromBytes(v.toString()).trimmed();
        return s.isEmpty() ? QVariant() : QVariant(s);
    }
    case Kind::Comment: {
        const auto* c = dynamic_cast<const Exiv2::CommentValue*>(&v);
        QString s = c ? textFromBytes(c->comment()) : textFromBytes(v.toString());
        s = s.trimmed();
        return s.isEmpty() ? QVariant() : QVariant(s);
    }
    case Kind::Int:
        return int(v.toLong(0));
    case Kind::Real:
        if (v.typeId() == Exiv2::unsignedRational || v.typeId() == Exiv2::signedRational)
            return rationalToDouble(v.toRational(0));
        return double(v.toFloat(0));
    case Kind::IntList: {
        QVariantList l;
        for (long i = 0; i < n && i < 256; ++i) l.append(int(v.toLong(i)));
        return l;
    }
    case Kind::RealList: {
        QVariantList l;
        for (long i = 0; i < n && i < 256; ++i) l.append(rationalToDouble(v.toRational(i)));
        return l;
    }
    case Kind::GpsCoord: {
        double deg = 0, scale = 1;
        for (long i = 0; i < n && i < 3; ++i, scale *= 60) deg += rationalToDouble(v.toRational(i)) / scale;
        return deg;
    }
    case Kind::GpsTime: {
        if (n < 3) return {};
        const int hh = int(rationalToDouble(v.toRational(0)));
        const int mm = int(rationalToDouble(v.toRational(1)));
        const double ss = rationalToDouble(v.toRational(2));
        QString sec = QString::number(ss, 'f', 2);
        if (sec.endsWith(QLatin1String(".00"))) sec.chop(3);
        if (ss < 10) sec.prepend(QLatin1Char('0'));
        return QStringLiteral("%1:%2:%3").arg(hh, 2, 10, QLatin1Char('0')).arg(mm, 2, 10, QLatin1Char('0')).arg(sec);
    }
    case Kind::IptcDate: {
        QString s = textFromBytes(v.toString());
        s.remove(QLatin1Char('-'));
        return s.isEmpty() ? QVariant() : QVariant(s);
    }
    case Kind::IptcTime: {
        QString s = textFromBytes(v.toString());
        s.remove(QLatin1Char(':'));
        return s.isEmpty() ? QVariant() : QVariant(s);
    }
    case Kind::TextList:
        return QVariantList{textFromBytes(v.toString())};
    case Kind::Version: {
        // Four digits: two for the major number, one each for the minor and the revision.
        if (n != 4) return {};
        int digits[4];
        for (long i = 0; i < 4; ++i) {
            digits[i] = int(v.toLong(i)) - '0';
            if (digits[i] < 0 || digits[i] > 9) return {};
        }
        QVariantList version{digits[0] * 10 + digits[1], digits[2]};
        if (digits[3] != 0) version.append(digits[3]);
        return version;
    }
    }
    return {};
}

QString iccDescription(const QByteArray& icc) {
    const auto* p = reinterpret_cast<const uchar*>(icc.constData());
    const qint64 size = icc.size();
    if (size < 132) return {};
    const quint32 tags = bigEndian32(p + 128);
    for (quint32 i = 0; i < tags && i < 1000; ++i) {
        const qint64 e = 132 + qint64(i) * 12;
        if (e + 12 > size) return {};
        if (std::memcmp(p + e, "desc", 4) != 0) continue;
        const qint64 off = bigEndian32(p + e + 4), len = bigEndian32(p + e + 8);
        if (off + 12 > size || len < 12 || off + len > size) return {};
        if (std::memcmp(p + off, "desc", 4) == 0) {
            const qint64 n = bigEndian32(p + off + 8);
            if (n <= 0 || off + 12 + n > size) return {};
            return QString::fromLatin1(reinterpret_cast<const char*>(p + off + 12), n).remove(QChar(0)).trimmed();
        }
        if (std::memcmp(p + off, "mluc", 4) == 0 && len >= 28) {
            const qint64 recOff = bigEndian32(p + off + 20 + 4), recLen = bigEndian32(p + off + 20);
            if (off + recOff + recLen > size || recLen % 2) return {};
            QString s;
            for (qint64 k = 0; k < recLen; k += 2) s.append(QChar(char16_t(bigEndian16(p + off + recOff + k))));
            return s.remove(QChar(0)).trimmed();
        }
        return {};
    }
    return {};
}

// The dictionaries' keys, made once and shared by every dictionary: a photo's dictionary
// is kept with it for as long as the photo is in the list, and thousands of copies of the
// same few dozen names would each hold their own memory. Only names in static storage are
// given, so the table stays a few dozen entries long; it is made on the first photo's
// reading and then only read, by any thread. Never destroyed: dictionaries may outlive
// everything else.
const QString& sharedKey(const char* name) {
    struct Keys {
        std::shared_mutex mutex;
        std::unordered_map<const char*, QString> texts;
    };
    static Keys* const keys = new Keys;
    {
        const std::shared_lock<std::shared_mutex> reading(keys->mutex);
        const auto it = keys->texts.find(name);
        if (it != keys->texts.end()) return it->second;
    }
    const std::lock_guard<std::shared_mutex> adding(keys->mutex);
    // A node's value stays where it is when others are added.
    return keys->texts.try_emplace(name, QString::fromLatin1(name)).first->second;
}

void addValue(QVariantMap& groups, const char* group, const char* key, const QVariant& value) {
    if (!value.isValid()) return;
    QVariantMap g = groups.value(QLatin1String(group)).toMap();
    g.insert(sharedKey(key), value);
    groups.insert(sharedKey(group), g);
}

// Metadata handed over as blocks, for containers Exiv2 is not asked to open (HEIF,
// WebP, and camera raw files, whose blocks a decoder helper reads): an EXIF block in TIFF
// form, an XMP packet, the ICC profile and IPTC datasets.
struct MetadataBlocks {
    QByteArray exif;
    QByteArray xmp;
    QByteArray icc;
    QByteArray iptc;
};

// Fills `out` with the metadata groups, orientation, resolution and profile name, read
// by Exiv2 from the file's bytes, opened already, or, when given, from the blocks. `header`
// is what the file's header reader found in those bytes.
void readMetadata(const QString& path, QVariantMap& out, double& dpiX, double& dpiY,
                  const MetadataBlocks* blocks, const codec::FileBytes& file, const ImageHeader& header) {
    ExivSession session(path);
    try {
        Exiv2::Image::AutoPtr image;
        Exiv2::ExifData blockExif;
        Exiv2::XmpData blockXmp;
        Exiv2::IptcData blockIptc;
        {
            const std::lock_guard<std::mutex> parsing(exivMutex());
            if (blocks) {
                if (!blocks->exif.isEmpty())
                    Exiv2::ExifParser::decode(blockExif, reinterpret_cast<const Exiv2::byte*>(blocks->exif.constData()),
                                              uint32_t(blocks->exif.size()));
                if (!blocks->xmp.isEmpty() && Exiv2::XmpParser::decode(blockXmp, blocks->xmp.toStdString()) != 0) {
                    ExivSession::note(QStringLiteral("the XMP packet could not be read"));
                    blockXmp.clear();
                }
                if (!blocks->iptc.isEmpty() &&
                    Exiv2::IptcParser::decode(blockIptc, reinterpret_cast<const Exiv2::byte*>(blocks->iptc.constData()),
                                              uint32_t(blocks->iptc.size())) != 0) {
                    ExivSession::note(QStringLiteral("the IPTC data could not be read"));
                    blockIptc.clear();
                }
            } else {
                // Exiv2 reads the bytes the header was read from, without opening the file
                // again, under the guard that keeps a file cut short under it from stopping
                // the process (it would map TIFF files itself). A camera raw file's metadata
                // comes as blocks from the helper that reads it, never from its bytes.
                if (file.bytes.size == 0 || file.bytes.size > size_t(LONG_MAX)) return;
                if (sniffImageFormat(reinterpret_cast<const char*>(file.bytes.data), file.bytes.size) == ImageFormat::RAW)
                    return;
                image = Exiv2::ImageFactory::open(file.bytes.data, long(file.bytes.size));
                if (!image.get()) return;
                image->readMetadata();
                if (file.cut()) return;
                // A PNG's chunks are walked to its end, which brings in every page of the
                // file; they go when it is closed. (Read from the file instead, each chunk took
                // a seek and a read: a 64 MB PNG's properties took 90 ms, against 35 ms so.)
            }
        }
        const Exiv2::ExifData& exif = blocks ? blockExif : image->exifData();
        const Exiv2::IptcData& iptc = blocks ? blockIptc : image->iptcData();
        const Exiv2::XmpData& xmp = blocks ? blockXmp : image->xmpData();

        // Each key's first entry, as findKey would find it: one pass over the entries
        // instead of one for every key asked for.
        std::unordered_map<std::string, const Exiv2::Exifdatum*> exifByKey;
        for (const auto& d : exif) exifByKey.emplace(d.key(), &d);
        std::unordered_map<std::string, const Exiv2::Xmpdatum*> xmpByKey;
        for (const auto& d : xmp) xmpByKey.emplace(d.key(), &d);
        const auto exifEntry = [&](const std::string& key) -> const Exiv2::Exifdatum* {
            const auto it = exifByKey.find(key);
            return it == exifByKey.end() ? nullptr : it->second;
        };

        QHash<QString, QVariantList> iptcLists;
        for (const auto& d : iptc) iptcLists[QString::fromStdString(d.key())].append(textFromBytes(d.toString()));

        auto read = [&](const PropertyKey& k, const std::string& key) {
            QVariant value;
            try {
                if (key.rfind("Exif.", 0) == 0) {
                    if (const Exiv2::Exifdatum* d = exifEntry(key)) value = valueFromExiv(d->value(), k.kind);
                } else if (key.rfind("Xmp.", 0) == 0) {
                    const auto it = xmpByKey.find(key);
                    if (it != xmpByKey.end()) value = valueFromExiv(it->second->value(), k.kind);
                } else {
                    const auto it = iptcLists.constFind(QString::fromStdString(key));
                    if (it != iptcLists.constEnd() && !it->isEmpty()) {
                        if (k.kind == Kind::TextList) {
                            value = *it;
                        } else {
                            auto one = iptc.findKey(Exiv2::IptcKey(key));
                            if (one != iptc.end()) value = valueFromExiv(one->value(), k.kind);
                        }
                    }
                }
            } catch (const std::bad_alloc&) {
                throw;  // a memory shortage fails the photo, rather than leave its metadata out
            } catch (const std::exception& e) {
                throwIfShortOfMemory(e);
                ExivSession::note(QString::fromUtf8(k.key) + QStringLiteral(": ") + QString::fromUtf8(e.what()));
            }
            return value;
        };
        for (const PropertyKey& k : kPropertyKeys) {
            QVariant value = read(k, k.exiv2);
            if (!value.isValid() && k.readFallback) value = read(k, k.readFallback);
            addValue(out, k.group, k.key, value);
        }

        const Exiv2::Exifdatum* orientation = exifEntry(kTopOrientationKey);
        if (orientation && orientation->count() > 0) {
            const long o = orientation->toLong(0);
            if (o >= 1 && o <= 8) out.insert(sharedKey(kPropsOrientation), int(o));
        }
        const Exiv2::Exifdatum* xr = exifEntry(kXResolutionKey);
        const Exiv2::Exifdatum* yr = exifEntry(kYResolutionKey);
        if (xr && yr && xr->count() > 0 && yr->count() > 0) {
            const Exiv2::Exifdatum* unit = exifEntry(kResolutionUnitKey);
            const long u = (unit && unit->count() > 0) ? unit->toLong(0) : 2;
            const double x = rationalToDouble(xr->toRational(0)), y = rationalToDouble(yr->toRational(0));
            if (u != 1 && x > 0 && y > 0) {
                dpiX = u == 3 ? x * 2.54 : x;
                dpiY = u == 3 ? y * 2.54 : y;
            }
        }

        QByteArray icc;
        if (blocks) {
            icc = blocks->icc;
        } else if (image->imageType() == Exiv2::ImageType::png) {
            // Exiv2 hands on a PNG profile whose compressed data does not inflate as a buffer
            // it never filled; libpng's reading checks the profile and drops such a one.
            icc = header.iccProfile;
        } else if (image->iccProfileDefined()) {
            const Exiv2::DataBuf* buf = image->iccProfile();
            icc = QByteArray(reinterpret_cast<const char*>(buf->pData_), buf->size_);
        }
        if (icc.isEmpty()) {
            const Exiv2::Exifdatum* tag = exifEntry(kIccTagKey);
            if (tag && tag->size() > 0) {
                Exiv2::DataBuf buf(long(tag->size()));
                tag->copy(buf.pData_, Exiv2::invalidByteOrder);
                icc = QByteArray(reinterpret_cast<const char*>(buf.pData_), buf.size_);
            }
        }
        const QString profile = iccDescription(icc);
        if (!profile.isEmpty()) out.insert(sharedKey(kPropsProfileName), profile);
    } catch (const std::bad_alloc&) {
        throw;  // a memory shortage fails the photo, rather than leave its metadata out
    } catch (const std::exception& e) {
        throwIfShortOfMemory(e);
        ExivSession::note(QString::fromUtf8(e.what()));  // reported once with the rest
    }
}

// ---------------------------------------------------------------------------------
// Writing: dictionary values -> Exiv2 texts.

// The leading number of a text, locale-free: "2.8 mm" gives 2.8, "abc" gives nothing.
// (Texts here are read without regular expressions: their first match on a thread makes a
// thread-local stack, whose destructor the C library registers with an allocation it does
// not let fail, and this runs on the run's threads.)
std::optional<double> leadingNumber(const QString& text) {
    double d = 0;
    return scanDouble(text, &d) && std::isfinite(d) ? std::optional<double>(d) : std::nullopt;
}

// "hh:mm:ss" or "hh:mm:ss.fff" at the start of a text (one or two digits each): the three
// parts' texts, or nothing.
std::optional<std::array<QStringView, 3>> leadingClockTime(QStringView text) {
    qsizetype at = 0;
    while (at < text.size() && text[at].isSpace()) ++at;
    const auto digits = [&](qsizetype most) {
        const qsizetype from = at;
        while (at < text.size() && at - from < most && text[at] >= u'0' && text[at] <= u'9') ++at;
        return text.sliced(from, at - from);
    };
    std::array<QStringView, 3> parts;
    for (int i = 0; i < 3; ++i) {
        if (i > 0) {
            if (at >= text.size() || text[at] != u':') return std::nullopt;
            ++at;
        }
        const qsizetype from = at;
        parts[size_t(i)] = digits(2);
        if (parts[size_t(i)].isEmpty()) return std::nullopt;
        if (i == 2 && at + 1 < text.size() && text[at] == u'.' && text[at + 1] >= u'0' && text[at + 1] <= u'9') {
            ++at;
            digits(text.size());
            parts[2] = text.sliced(from, at - from);
        }
    }
    return parts;
}

std::optional<double> numberOf(const QVariant& v) {
    if (v.typeId() == QMetaType::QVariantList || v.typeId() == QMetaType::QStringList) {
        const QVariantList l = v.toList();
        return l.isEmpty() ? std::nullopt : numberOf(l.first());
    }
    if (v.typeId() == QMetaType::QString || v.typeId() == QMetaType::QByteArray) return leadingNumber(v.toString());
    bool ok = false;
    const double d = v.toDouble(&ok);
    return ok && std::isfinite(d) ? std::optional<double>(d) : std::nullopt;
}

QString textOf(const QVariant& v) {
    if (v.typeId() == QMetaType::QVariantList || v.typeId() == QMetaType::QStringList) {
        QStringList parts;
        for (const QVariant& e : v.toList()) parts.append(textOf(e));
        return parts.join(QStringLiteral(", "));
    }
    if (v.typeId() == QMetaType::QDateTime) return v.toDateTime().toString(QStringLiteral("yyyy:MM:dd HH:mm:ss"));
    if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float)
        return QString::number(v.toDouble(), 'g', 15);
    return v.toString();
}

QVariantList listOf(const QVariant& v) {
    if (v.typeId() == QMetaType::QVariantList || v.typeId() == QMetaType::QStringList) return v.toList();
    return v.isValid() ? QVariantList{v} : QVariantList{};
}

// A fraction as "numerator/denominator", exact for decimals of up to six places.
QString rationalText(double d, bool isSigned) {
    if (!isSigned && d < 0) d = -d;
    const double limit = isSigned ? 2147483647.0 : 4294967295.0;
    qint64 den = 1000000;
    while (den > 1 && std::fabs(d) * den > limit) den /= 10;
    if (std::fabs(d) > limit) return QStringLiteral("%1/1").arg(qint64(isSigned && d < 0 ? -limit : limit));
    qint64 num = qint64(std::llround(d * den));
    const qint64 g = std::gcd(num < 0 ? -num : num, den);
    if (g > 1) { num /= g; den /= g; }
    return QStringLiteral("%1/%2").arg(num).arg(den);
}

QString degreesText(double v) {
    v = std::fabs(v);
    const double deg = std::floor(v);
    const double minutesAll = (v - deg) * 60.0;
    const double min = std::floor(minutesAll);
    const qint64 sec100 = std::llround((minutesAll - min) * 60.0 * 10000.0);
    return QStringLiteral("%1/1 %2/1 %3/10000").arg(qint64(deg)).arg(qint64(min)).arg(sec100);
}

// Exif and IPTC values go through Exiv2's own text reader for the tag's type, so each
// tag keeps the type readers expect.
std::optional<std::string> exivText(const PropertyKey& k, const QVariant& v, Exiv2::TypeId type) {
    const bool isSigned = type == Exiv2::signedRational || type == Exiv2::signedLong || type == Exiv2::signedShort;
    switch (k.kind) {
    case Kind::Text:
    case Kind::TextList: {
        const QString s = textOf(v);
        if (s.isEmpty()) return std::nullopt;
        return s.toStdString();
    }
    case Kind::Comment: {
        const QString s = textOf(v);
        if (s.isEmpty()) return std::nullopt;
        bool ascii = true;
        for (QChar c : s) ascii = ascii && c.unicode() < 128;
        return (ascii ? QStringLiteral("charset=Ascii ") : QStringLiteral("charset=Unicode ")).toStdString() + s.toStdString();
    }
    case Kind::Int: {
        const auto d = numberOf(v);
        if (!d) return std::nullopt;
        return QString::number(qint64(std::clamp(*d, -2147483648.0, 4294967295.0))).toStdString();
    }
    case Kind::Real: {
        const auto d = numberOf(v);
        if (!d) return std::nullopt;
        if (type == Exiv2::unsignedRational || type == Exiv2::signedRational) return rationalText(*d, isSigned).toStdString();
        return QString::number(*d, 'g', 15).toStdString();
    }
    case Kind::Version: {
        const QVariantList parts = listOf(v);
        int numbers[3] = {0, 0, 0};
        for (int i = 0; i < 3 && i < parts.size(); ++i) {
            const auto d = numberOf(parts.at(i));
            if (!d || *d < 0 || *d > (i == 0 ? 99 : 9)) return std::nullopt;
            numbers[i] = int(*d);
        }
        if (parts.size() < 2) return std::nullopt;
        // The tag's bytes, as Exiv2 reads an undefined value: their numbers.
        const QByteArray digits =
            QStringLiteral("%1%2%3").arg(numbers[0], 2, 10, QLatin1Char('0')).arg(numbers[1]).arg(numbers[2]).toLatin1();
        QStringList bytes;
        for (const char c : digits) bytes.append(QString::number(int(c)));
        return bytes.join(QLatin1Char(' ')).toStdString();
    }
    case Kind::IntList:
    case Kind::RealList: {
        QStringList parts;
        for (const QVariant& e : listOf(v)) {
            const auto d = numberOf(e);
            if (!d) continue;
            parts.append(k.kind == Kind::IntList ? QString::number(qint64(*d)) : rationalText(*d, isSigned));
        }
        if (parts.isEmpty()) return std::nullopt;
        return parts.join(QLatin1Char(' ')).toStdString();
    }
    case Kind::GpsCoord: {
        const auto d = numberOf(v);
        if (!d) return std::nullopt;
        return degreesText(*d).toStdString();
    }
    case Kind::GpsTime: {
        const QString text = textOf(v);
        const auto parts = leadingClockTime(text);
        if (!parts) return std::nullopt;
        const qint64 sec100 = std::llround((*parts)[2].toDouble() * 100);
        return QStringLiteral("%1/1 %2/1 %3/100").arg((*parts)[0], (*parts)[1]).arg(sec100).toStdString();
    }
    case Kind::IptcDate: {
        QString s = textOf(v).trimmed();
        s.remove(QLatin1Char(':')).remove(QLatin1Char('-'));
        if (s.size() < 8) return std::nullopt;
        return QStringLiteral("%1-%2-%3").arg(s.mid(0, 4), s.mid(4, 2), s.mid(6, 2)).toStdString();
    }
    case Kind::IptcTime: {
        QString s = textOf(v).trimmed();
        s.remove(QLatin1Char(':'));
        if (s.size() < 6) return std::nullopt;
        QString zone = s.size() >= 11 ? s.mid(6, 5) : QStringLiteral("+0000");
        return QStringLiteral("%1:%2:%3%4:%5")
            .arg(s.mid(0, 2), s.mid(2, 2), s.mid(4, 2), zone.left(3), zone.mid(3, 2))
            .toStdString();
    }
    }
    return std::nullopt;
}

// Hemisphere letters follow the sign of the coordinates; the file keeps magnitudes.
QVariantMap normalisedGps(QVariantMap g) {
    auto fix = [&g](const char* key, const char* refKey, const char* positive, const char* negative) {
        const QString k = QLatin1String(key), r = QLatin1String(refKey);
        if (!g.contains(k)) return;
        const auto d = numberOf(g.value(k));
        if (!d) return;
        if (*d < 0) {
            g.insert(k, -*d);
            g.insert(r, QLatin1String(negative));
        } else if (textOf(g.value(r)).trimmed().isEmpty()) {
            g.insert(r, QLatin1String(positive));
        }
    };
    fix("Latitude", "LatitudeRef", "N", "S");
    fix("Longitude", "LongitudeRef", "E", "W");
    const QString alt = QStringLiteral("Altitude");
    if (g.contains(alt)) {
        const auto d = numberOf(g.value(alt));
        if (d && *d < 0) {
            g.insert(alt, -*d);
            g.insert(QStringLiteral("AltitudeRef"), 1);
        }
    }
    return g;
}

bool isManagedImageTag(const std::string& key) {
    if (key == kTopOrientationKey || key == kXResolutionKey || key == kYResolutionKey || key == kResolutionUnitKey)
        return true;
    for (const PropertyKey& k : kPropertyKeys)
        if (key == k.exiv2) return true;
    return false;
}

void buildExiv2Data(QVariantMap props, const ImageHeader& pixels, Exiv2::ExifData& exif, Exiv2::IptcData& iptc,
                    Exiv2::XmpData& xmp, const QString& path) {
    // The EXIF pixel dimensions describe the pixels of this file, which may have been
    // resized since the dictionary was read from its source.
    QVariantMap exifGroup = props.value(QLatin1String(kPropsExif)).toMap();
    if (exifGroup.contains(QStringLiteral("PixelXDimension")) || exifGroup.contains(QStringLiteral("PixelYDimension"))) {
        exifGroup.insert(QStringLiteral("PixelXDimension"), int(pixels.width));
        exifGroup.insert(QStringLiteral("PixelYDimension"), int(pixels.height));
        props.insert(sharedKey(kPropsExif), exifGroup);
    }

    QSet<QByteArray> written;
    auto setExif = [&](const char* key, const std::string& text) {
        Exiv2::ExifKey k(key);
        auto value = Exiv2::Value::create(k.defaultTypeId());
        if (value->read(text) != 0) {
            log(u"Could not write %@ into %@", key, path);
            return;
        }
        exif.add(k, value.get());
        written.insert(key);
    };

    // The top-level keys describe the image itself and win over their group copies.
    if (const auto o = numberOf(props.value(QLatin1String(kPropsOrientation))); o && *o >= 1 && *o <= 8)
        setExif(kTopOrientationKey, QString::number(int(*o)).toStdString());
    const auto dx = numberOf(props.value(QLatin1String(kPropsDPIWidth)));
    const auto dy = numberOf(props.value(QLatin1String(kPropsDPIHeight)));
    if (dx && dy && *dx > 0 && *dy > 0) {
        setExif(kXResolutionKey, rationalText(*dx, false).toStdString());
        setExif(kYResolutionKey, rationalText(*dy, false).toStdString());
        setExif(kResolutionUnitKey, "2");
    }

    const QVariantMap gps = normalisedGps(props.value(QLatin1String(kPropsGPS)).toMap());
    bool anyNonAsciiIptc = false;
    for (const PropertyKey& k : kPropertyKeys) {
        const QVariantMap group = QLatin1String(k.group) == QLatin1String(kPropsGPS)
                                      ? gps : props.value(QLatin1String(k.group)).toMap();
        const auto it = group.constFind(QLatin1String(k.key));
        if (it == group.constEnd() || written.contains(k.exiv2)) continue;
        const std::string key = k.exiv2;
        if (key == kTopOrientationKey) {
            // Only the eight defined orientations reach a file; readers trip over others.
            const auto o = numberOf(*it);
            if (!o || *o < 1 || *o > 8) continue;
        }
        try {
            if (key.rfind("Exif.", 0) == 0) {
                Exiv2::ExifKey ek(key);
                if (const auto text = exivText(k, *it, ek.defaultTypeId())) setExif(k.exiv2, *text);
            } else if (key.rfind("Xmp.", 0) == 0) {
                if (const auto text = exivText(k, *it, k.kind == Kind::Real ? Exiv2::signedRational : Exiv2::xmpText)) {
                    xmp[key] = *text;
                    written.insert(k.exiv2);
                }
            } else {
                Exiv2::IptcKey ik(key);
                const Exiv2::TypeId type = Exiv2::IptcDataSets::dataSetType(ik.tag(), ik.record());
                const QVariantList items = k.kind == Kind::TextList ? listOf(*it) : QVariantList{*it};
                for (const QVariant& item : items) {
                    const auto text = exivText(k, item, type);
                    if (!text) continue;
                    auto value = Exiv2::Value::create(type);
                    if (value->read(*text) != 0) continue;
                    for (unsigned char c : *text) anyNonAsciiIptc = anyNonAsciiIptc || c >= 128;
                    iptc.add(ik, value.get());
                    written.insert(k.exiv2);
                }
            }
        } catch (const std::exception& e) {
            throwIfShortOfMemory(e);
            log(u"Could not write %@ into %@: %@", k.key, path, e.what());
        }
    }
    if (anyNonAsciiIptc) iptc["Iptc.Envelope.CharacterSet"] = std::string("\x1b%G");
}

QString colourModelName(ColourModel model) {
    switch (model) {
    case ColourModel::Gray: return QStringLiteral("Gray");
    case ColourModel::CMYK: return QStringLiteral("CMYK");
    case ColourModel::Lab: return QStringLiteral("Lab");
    case ColourModel::RGB: break;
    }
    return QStringLiteral("RGB");
}

}  // namespace

// ---------------------------------------------------------------------------------

namespace {

// The properties of the picture file at `path` whose facts were read from `file` (with the
// metadata blocks of the formats that bring them), the bytes its metadata is read from too.
QVariantMap propertiesOf(const codec::ImageFacts& facts, const QString& path, const codec::FileBytes& file) {
    const ImageFormat format = facts.header.format;
    // Formats read through their own libraries or readers say what they know of
    // transparency, and hold no EXIF orientation to turn them by.
    const bool readOnly = !holdsMetadata(format) && format != ImageFormat::GIF && format != ImageFormat::BMP &&
                          format != ImageFormat::J2K;

    QVariantMap out;
    out.insert(sharedKey(kPropsPixelWidth), facts.header.width);
    out.insert(sharedKey(kPropsPixelHeight), facts.header.height);
    if (facts.depth > 0) out.insert(sharedKey(kPropsDepth), facts.depth);
    out.insert(sharedKey(kPropsColorModel), colourModelName(facts.header.colourModel));
    if (facts.hasAlpha || readOnly) out.insert(sharedKey(kPropsHasAlpha), facts.hasAlpha.value_or(false));
    if (!facts.png.isEmpty()) out.insert(sharedKey(kPropsPNG), facts.png);
    if (!facts.jfif.isEmpty()) out.insert(sharedKey(kPropsJFIF), facts.jfif);

    double dpiX = facts.dotsPerInch.x(), dpiY = facts.dotsPerInch.y();
    if (facts.metadataInBlocks) {
        const MetadataBlocks blocks{facts.exif, facts.xmp, facts.header.iccProfile, facts.iptc};
        readMetadata(path, out, dpiX, dpiY, &blocks, file, facts.header);
    } else if (holdsMetadata(format) || format == ImageFormat::PSD) {
        readMetadata(path, out, dpiX, dpiY, nullptr, file, facts.header);
    }
    if (readOnly && !out.contains(QLatin1String(kPropsProfileName))) {
        const QString profile = iccDescription(facts.header.iccProfile);
        if (!profile.isEmpty()) out.insert(sharedKey(kPropsProfileName), profile);
    }
    if (dpiX > 0 && dpiY > 0) {
        out.insert(sharedKey(kPropsDPIWidth), dpiX);
        out.insert(sharedKey(kPropsDPIHeight), dpiY);
    }
    // HEIF pictures and camera raw files are decoded upright; the EXIF orientation they
    // may carry as well must not turn them a second time (nor a Photoshop document's, whose
    // merged picture is stored upright).
    if (readOnly && format != ImageFormat::WebP) {
        out.insert(sharedKey(kPropsOrientation), 1);
        QVariantMap tiff = out.value(QLatin1String(kPropsTIFF)).toMap();
        if (tiff.contains(QLatin1String(kPropsOrientation))) {
            tiff.insert(sharedKey(kPropsOrientation), 1);
            out.insert(sharedKey(kPropsTIFF), tiff);
        }
    }
    return out;
}

}  // namespace

QVariantMap readImageProperties(const QString& path, const DecodeOptions& reading) {
    if (path.isEmpty()) return {};
    // One opening for the header and Exiv2's reading both.
    codec::FileBytes file;
    if (!file.open(path, reading) || file.bytes.size == 0) return {};
    if (reading.whileOpen) reading.whileOpen(path);
    const codec::ImageFacts facts = codec::imageFacts(file.bytes, path, true);
    if (!facts.header.valid() || file.cut()) return {};
    return propertiesOf(facts, path, file);
}

ImageHeader readImageHeaderAndProperties(const QString& path, QVariantMap* properties) {
    codec::FileBytes file;
    if (path.isEmpty() || !file.open(path) || file.bytes.size == 0) return {};
    const codec::ImageFacts facts = codec::imageFacts(file.bytes, path, properties != nullptr);
    if (!facts.header.valid()) return {};
    QVariantMap found;
    if (properties) found = propertiesOf(facts, path, file);
    if (file.cut()) return {};
    if (properties) *properties = std::move(found);
    return facts.header;
}

namespace {

// Where a PNG file's picture data lies: its IDAT chunks, which follow one another.
struct PngDataRange {
    qint64 begin = 0;  // the first IDAT chunk's length field
    qint64 end = 0;    // just past the last one's checksum
};

std::optional<PngDataRange> pngDataRange(QFile& file) {
    ByteSource src(file);
    std::optional<PngDataRange> range;
    for (qint64 at = 8; at + 12 <= src.size();) {
        uchar head[8];
        if (!src.read(at, head, 8)) return std::nullopt;
        const qint64 next = at + 12 + qint64(bigEndian32(head));
        if (next > src.size()) return std::nullopt;
        const bool idat = std::memcmp(head + 4, "IDAT", 4) == 0;
        if (idat && !range) range = PngDataRange{at, next};
        else if (idat && range->end == at) range->end = next;
        else if (idat) return std::nullopt;  // data chunks apart: not a file to take apart
        if (std::memcmp(head + 4, "IEND", 4) == 0) return range;
        at = next;
    }
    return std::nullopt;
}

// A zero-length IDAT chunk: length, type and the type's checksum.
constexpr char kEmptyIdat[] = "\0\0\0\0IDAT\x35\xaf\x06\x1e";
constexpr qint64 kEmptyIdatSize = 12;

QByteArray pngWithoutData(QFile& file, const PngDataRange& range) {
    ByteSource src(file);
    const QByteArray before = src.bytes(0, range.begin);
    const QByteArray after = src.bytes(range.end, src.size() - range.end);
    if (before.size() != range.begin || after.size() != src.size() - range.end) return {};
    return before + QByteArray(kEmptyIdat, kEmptyIdatSize) + after;
}

// The offset of the one empty IDAT chunk among a PNG's chunks; -1 when there is not
// exactly one IDAT chunk or it is not empty.
qint64 emptyIdatOffset(const char* data, qint64 size) {
    qint64 found = -1;
    for (qint64 at = 8; at + 12 <= size;) {
        const auto* head = reinterpret_cast<const uchar*>(data + at);
        const qint64 next = at + 12 + qint64(bigEndian32(head));
        if (next > size) return -1;
        if (std::memcmp(head + 4, "IDAT", 4) == 0) {
            if (found >= 0 || std::memcmp(head, kEmptyIdat, kEmptyIdatSize) != 0) return -1;
            found = at;
        }
        if (std::memcmp(head + 4, "IEND", 4) == 0) break;
        at = next;
    }
    return found;
}

// Copies the file's bytes [begin, end) to put, a megabyte at a time.
bool copyFileRange(QFile& file, qint64 begin, qint64 end, const std::function<void(const char*, qint64)>& put) {
    if (!file.seek(begin)) return false;
    QByteArray buffer(qsizetype(1) << 20, Qt::Uninitialized);
    for (qint64 at = begin; at < end;) {
        const qint64 n = file.read(buffer.data(), std::min<qint64>(end - at, buffer.size()));
        if (n <= 0) return false;
        put(buffer.constData(), n);
        at += n;
    }
    return true;
}

}  // namespace

namespace {

// The picture file `original` (of the kind `pixels` describes) rewritten by the library
// with exactly the metadata `props` gives, held by the library's image until it goes;
// none (one log line) when it cannot be done. Only the library's own work runs under its
// lock: the caller writes the bytes to disk after, so that photos written side by side
// never wait for one another's files. (Reading and releasing a written image touches no
// state the library shares between threads.)
struct RewrittenFile {
    Exiv2::Image::AutoPtr image;
    const char* bytes = nullptr;
    qint64 size = 0;
    RewrittenFile() = default;
    RewrittenFile(RewrittenFile&& other) noexcept
        : image(std::move(other.image)), bytes(std::exchange(other.bytes, nullptr)), size(other.size) {}
    RewrittenFile& operator=(RewrittenFile&&) = delete;
    ~RewrittenFile() {
        if (bytes) image->io().munmap();
    }
};

std::optional<RewrittenFile> withProperties(const uchar* original, qint64 originalSize, const ImageHeader& pixels,
                                            const QVariantMap& props, const QString& path) {
    ExivSession session(path);
    RewrittenFile rewritten;
    const std::lock_guard<std::mutex> writing(exivMutex());
    try {
        rewritten.image = Exiv2::ImageFactory::open(original, long(originalSize));
        Exiv2::Image* image = rewritten.image.get();
        if (!image) {
            log(u"Cannot write image properties into %@", path);
            return std::nullopt;
        }
        image->readMetadata();
        Exiv2::ExifData exif;
        if (pixels.format == ImageFormat::TIFF) {
            // A TIFF file keeps its pixel layout in the same directory as its
            // metadata: drop only the tags this dictionary speaks for.
            exif = image->exifData();
            for (auto it = exif.begin(); it != exif.end();) {
                const std::string group = it->groupName();
                const bool managed = group == "Photo" || group == "GPSInfo" || group == "Iop" ||
                                     (group == "Image" && isManagedImageTag(it->key()));
                it = managed ? exif.erase(it) : std::next(it);
            }
        }
        Exiv2::IptcData iptc;
        Exiv2::XmpData xmp;
        buildExiv2Data(props, pixels, exif, iptc, xmp, path);
        image->setExifData(exif);
        image->setIptcData(iptc);
        image->clearXmpPacket();
        image->setXmpData(xmp);
        image->writeMetadata();
        Exiv2::BasicIo& io = image->io();
        rewritten.size = qint64(io.size());
        if (rewritten.size > 0) rewritten.bytes = reinterpret_cast<const char*>(io.mmap());
    } catch (const std::bad_alloc&) {
        throw;  // a memory shortage is the caller's to tell, not a file the library refused
    } catch (const std::exception& e) {
        throwIfShortOfMemory(e);
        log(u"Cannot write image properties into %@: %@", path, e.what());
        return std::nullopt;
    }
    if (!rewritten.bytes) {
        log(u"Cannot write image properties into %@", path);
        return std::nullopt;
    }
    return rewritten;
}

}  // namespace

bool writeImageProperties(const QString& givenPath, const QVariantMap& props) {
    // A link stays a link: the file it points to is the one rewritten.
    const QFileInfo given(givenPath);
    const QString path = given.isSymLink() && !given.canonicalFilePath().isEmpty() ? given.canonicalFilePath() : givenPath;
    if (path.isEmpty()) {
        log(u"Cannot write image properties: %@ can't be opened", path);
        return false;
    }
    const ImageHeader pixels = readImageHeader(path);
    const ImageFormat kind = pixels.format;
    // GIF, BMP and bare codestreams have no place for this metadata.
    if (pixels.valid() && (kind == ImageFormat::GIF || kind == ImageFormat::BMP || kind == ImageFormat::J2K))
        return true;
    if (!pixels.valid() || !holdsMetadata(kind)) {
        log(u"Cannot write image properties: %@ is no readable picture", path);
        return false;
    }

    // The new file is made in memory from the mapped original and written beside it by
    // us, every write checked: the library's own file writing loses an error that only
    // shows when the file is closed (a full disk), and reports a cut-off file as written.
    // The original is replaced only when the new file is complete.
    QFile source(path);
    if (!source.open(QIODevice::ReadOnly) || source.size() <= 0) {
        log(u"Cannot write image properties: %@ can't be read", path);
        return false;
    }
    // A PNG's picture data is nearly all of it and none of the library's business: it
    // gets the file with one empty IDAT chunk in place of the data, and the data is
    // copied from the original into the new file where that chunk comes out.
    const std::optional<PngDataRange> pngData = kind == ImageFormat::PNG ? pngDataRange(source) : std::nullopt;
    QByteArray readCopy;
    const uchar* original = nullptr;
    qint64 originalSize = source.size();
    if (pngData) {
        readCopy = pngWithoutData(source, *pngData);
        originalSize = readCopy.size();
    } else {
        // A private mapping: the library may update a TIFF's entries in place, which
        // must never reach the original.
        original = source.map(0, source.size(), QFileDevice::MapPrivateOption);
        if (!original) readCopy = source.readAll();
    }
    if (!original) original = readCopy.size() == originalSize ? reinterpret_cast<const uchar*>(readCopy.constData()) : nullptr;
    if (!original || originalSize <= 0) {
        log(u"Cannot write image properties: %@ can't be read", path);
        return false;
    }
    const std::optional<RewrittenFile> rewritten = withProperties(original, originalSize, pixels, props, path);
    if (!rewritten) return false;

    const QFileInfo info(path);
    QTemporaryFile temp(info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX"));
    bool written = temp.open();
    auto put = [&](const char* data, qint64 n) {
        for (qint64 at = 0; written && at < n;) {
            const qint64 done = temp.write(data + at, std::min<qint64>(n - at, qint64(1) << 20));
            written = done > 0;
            at += std::max<qint64>(done, 0);
        }
    };
    const char* bytes = rewritten->bytes;
    const qint64 size = rewritten->size;
    if (pngData) {
        // The empty IDAT chunk the library passed on marks where the data goes.
        const qint64 at = emptyIdatOffset(bytes, size);
        written = written && at >= 0;
        if (written) {
            put(bytes, at);
            const bool copied = copyFileRange(source, pngData->begin, pngData->end, put);
            written = written && copied;
            put(bytes + at + kEmptyIdatSize, size - at - kEmptyIdatSize);
        }
    } else {
        put(bytes, size);
    }
    written = written && temp.flush();
    temp.close();
    if (!written || temp.error() != QFileDevice::NoError) {
        log(u"Cannot write image properties into %@: %@", path, temp.errorString());
        return false;
    }
    temp.setPermissions(source.permissions());
    source.close();

    if (std::rename(QFile::encodeName(temp.fileName()).constData(), QFile::encodeName(path).constData()) != 0) {
        log(u"Cannot write image properties: replacing %@ failed", path);
        return false;
    }
    temp.setAutoRemove(false);
    return true;
}

namespace {

// The file in memory with the metadata, as the library holds it; none (one log line) for a
// kind that is not a JPEG, TIFF or JPEG 2000 file.
std::optional<RewrittenFile> rewrittenInMemory(const QByteArray& file, const QVariantMap& props, const QString& path,
                                               bool* holdsNone) {
    const ImageHeader pixels = readImageHeaderFromData(file);
    *holdsNone = pixels.valid() && (pixels.format == ImageFormat::GIF || pixels.format == ImageFormat::BMP ||
                                    pixels.format == ImageFormat::J2K);
    if (*holdsNone) return std::nullopt;
    // A PNG is given its metadata around its picture data (pngFrameWithImageProperties),
    // its picture data never held twice.
    if (!pixels.valid() || !holdsMetadata(pixels.format) || pixels.format == ImageFormat::PNG) {
        log(u"Cannot write image properties: %@ is no readable picture", path);
        return std::nullopt;
    }
    return withProperties(reinterpret_cast<const uchar*>(file.constData()), file.size(), pixels, props, path);
}

// A file of the given kind standing in for one whose picture data stay out of memory,
// rewritten with the metadata.
std::optional<RewrittenFile> rewrittenStub(const QByteArray& stub, ImageFormat format, const QVariantMap& props,
                                           const QString& path) {
    const ImageHeader pixels = readImageHeaderFromData(stub);
    if (pixels.format != format) {
        log(u"Cannot write image properties: %@ is no readable picture", path);
        return std::nullopt;
    }
    return withProperties(reinterpret_cast<const uchar*>(stub.constData()), stub.size(), pixels, props, path);
}

}  // namespace

QByteArray withImageProperties(const QByteArray& file, const QVariantMap& props, const QString& path) {
    bool holdsNone = false;
    const std::optional<RewrittenFile> rewritten = rewrittenInMemory(file, props, path, &holdsNone);
    if (holdsNone) return file;
    return rewritten ? QByteArray(rewritten->bytes, qsizetype(rewritten->size)) : QByteArray();
}

bool writeWithImageProperties(const QByteArray& file, const QVariantMap& props, const QString& path,
                              const std::function<bool(const char*, size_t)>& out) {
    bool holdsNone = false;
    const std::optional<RewrittenFile> rewritten = rewrittenInMemory(file, props, path, &holdsNone);
    if (holdsNone) return out(file.constData(), size_t(file.size()));
    return rewritten && out(rewritten->bytes, size_t(rewritten->size));
}

bool pngFrameWithImageProperties(const QByteArray& head, const QByteArray& tail, const QVariantMap& props,
                                 const QString& path, QByteArray* newHead, QByteArray* newTail) {
    // The library gets the file with one empty IDAT chunk where the data goes, as
    // writeImageProperties gives it a file it takes apart; what it writes before and after
    // that chunk is the new frame.
    const QByteArray stub = head + QByteArray(kEmptyIdat, kEmptyIdatSize) + tail;
    const std::optional<RewrittenFile> rewritten = rewrittenStub(stub, ImageFormat::PNG, props, path);
    if (!rewritten) return false;
    const qint64 at = emptyIdatOffset(rewritten->bytes, rewritten->size);
    if (at < 0) {
        log(u"Cannot write image properties into %@", path);
        return false;
    }
    *newHead = QByteArray(rewritten->bytes, qsizetype(at));
    *newTail = QByteArray(rewritten->bytes + at + kEmptyIdatSize, qsizetype(rewritten->size - at - kEmptyIdatSize));
    return true;
}

bool jpegHeadWithImageProperties(const QByteArray& head, const QByteArray& scanHeader, const QVariantMap& props,
                                 const QString& path, QByteArray* newHead) {
    // The library gets the head, the scan's header and the end of the file, no picture data:
    // it copies the file from the first scan on as it is, so what it writes before that is
    // the new head.
    const QByteArray tail = scanHeader + QByteArray("\xFF\xD9", 2);
    const QByteArray stub = head + tail;
    const std::optional<RewrittenFile> rewritten = rewrittenStub(stub, ImageFormat::JPEG, props, path);
    if (!rewritten) return false;
    const qint64 at = rewritten->size - tail.size();
    if (at < 0 || std::memcmp(rewritten->bytes + at, tail.constData(), size_t(tail.size())) != 0) {
        log(u"Cannot write image properties into %@", path);
        return false;
    }
    *newHead = QByteArray(rewritten->bytes, qsizetype(at));
    return true;
}

QPointF propertiesResolution(const QVariantMap& props) {
    const auto dx = numberOf(props.value(QLatin1String(kPropsDPIWidth)));
    const auto dy = numberOf(props.value(QLatin1String(kPropsDPIHeight)));
    if (dx && dy && *dx > 0 && *dy > 0) return {*dx, *dy};
    const QVariantMap tiff = props.value(QLatin1String(kPropsTIFF)).toMap();
    const auto x = numberOf(tiff.value(QStringLiteral("XResolution")));
    const auto y = numberOf(tiff.value(QStringLiteral("YResolution")));
    if (!x || !y || !(*x > 0) || !(*y > 0)) return {};
    // Unit 3 is centimetres; 1 (none) gives no size, so it is not a resolution.
    const int unit = int(numberOf(tiff.value(QStringLiteral("ResolutionUnit"))).value_or(2));
    if (unit == 3) return {*x * 2.54, *y * 2.54};
    return unit == 2 ? QPointF(*x, *y) : QPointF();
}

namespace codec {

void prepareMetadataReading() { ensureExiv2(); }

void readRawMetadataBlocks(Bytes in, const QString& name, ImageFacts& facts) {
    ExivSession session(name);
    try {
        const std::lock_guard<std::mutex> parsing(exivMutex());
        const Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(in.data, long(in.size));
        if (!image.get()) return;
        image->readMetadata();
        // What the properties read, and nothing of the file's other directories (the
        // sensor's, its previews', the maker's notes): the block stays small.
        Exiv2::ExifData kept;
        for (const Exiv2::Exifdatum& d : image->exifData()) {
            const std::string group = d.groupName();
            const std::string key = d.key();
            if ((group == "Photo" && key != "Exif.Photo.MakerNote") || group == "GPSInfo" ||
                (group == "Image" && (isManagedImageTag(key) || key == kIccTagKey)))
                kept.add(d);
        }
        Exiv2::Blob exif;
        if (!kept.empty()) Exiv2::ExifParser::encode(exif, Exiv2::littleEndian, kept);
        const Exiv2::DataBuf iptc = Exiv2::IptcParser::encode(image->iptcData());
        facts.exif = QByteArray(reinterpret_cast<const char*>(exif.data()), qsizetype(exif.size()));
        facts.xmp = QByteArray::fromStdString(image->xmpPacket());
        facts.iptc = QByteArray(reinterpret_cast<const char*>(iptc.pData_), qsizetype(iptc.size_));
    } catch (const std::bad_alloc&) {
        throw;  // a memory shortage fails the photo, rather than leave its metadata out
    } catch (const std::exception& e) {
        throwIfShortOfMemory(e);
        ExivSession::note(QString::fromUtf8(e.what()));  // reported once with the rest
        facts.exif.clear();
        facts.xmp.clear();
        facts.iptc.clear();
    }
}

}  // namespace codec

}  // namespace platform
