// JPEG 2000 (.jp2 boxes and raw .j2k codestreams) through openjpeg, in memory.
#include "platform/imageio/CodecInternal.h"
#include "platform/foundation/Log.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <openjpeg.h>

namespace platform::codec {
namespace {

struct Stream {
    Bytes in;
    QByteArray* out = nullptr;
    uint64_t pos = 0;
    uint64_t size() const { return out ? uint64_t(out->size()) : in.size; }
};

OPJ_SIZE_T streamRead(void* buf, OPJ_SIZE_T n, void* user) {
    auto* s = static_cast<Stream*>(user);
    if (s->pos >= s->size()) return OPJ_SIZE_T(-1);
    const uint64_t count = std::min<uint64_t>(n, s->size() - s->pos);
    const uint8_t* src = s->out ? reinterpret_cast<const uint8_t*>(s->out->constData()) : s->in.data;
    std::memcpy(buf, src + s->pos, size_t(count));
    s->pos += count;
    return OPJ_SIZE_T(count);
}
OPJ_SIZE_T streamWrite(void* buf, OPJ_SIZE_T n, void* user) {
    auto* s = static_cast<Stream*>(user);
    const uint64_t end = s->pos + n;
    if (end > uint64_t(s->out->size())) s->out->resize(qsizetype(end));
    std::memcpy(s->out->data() + s->pos, buf, n);
    s->pos = end;
    return n;
}
OPJ_OFF_T streamSkip(OPJ_OFF_T n, void* user) {
    auto* s = static_cast<Stream*>(user);
    if (n < 0 && uint64_t(-n) > s->pos) return -1;
    if (!s->out && n > 0 && s->pos + uint64_t(n) > s->size()) {
        const OPJ_OFF_T skipped = OPJ_OFF_T(s->size() - s->pos);
        s->pos = s->size();
        return skipped;
    }
    s->pos = uint64_t(int64_t(s->pos) + n);
    if (s->out && s->pos > uint64_t(s->out->size())) s->out->resize(qsizetype(s->pos));
    return n;
}
OPJ_BOOL streamSeek(OPJ_OFF_T pos, void* user) {
    auto* s = static_cast<Stream*>(user);
    if (pos < 0 || (!s->out && uint64_t(pos) > s->size())) return OPJ_FALSE;
    s->pos = uint64_t(pos);
    if (s->out && s->pos > uint64_t(s->out->size())) s->out->resize(qsizetype(s->pos));
    return OPJ_TRUE;
}

opj_stream_t* makeStream(Stream& s, bool input) {
    opj_stream_t* stream = opj_stream_create(1 << 16, input ? OPJ_TRUE : OPJ_FALSE);
    if (!stream) return nullptr;
    opj_stream_set_user_data(stream, &s, nullptr);
    opj_stream_set_user_data_length(stream, s.size());
    opj_stream_set_read_function(stream, streamRead);
    opj_stream_set_write_function(stream, streamWrite);
    opj_stream_set_skip_function(stream, streamSkip);
    opj_stream_set_seek_function(stream, streamSeek);
    return stream;
}

void quiet(const char*, void*) {}
void keepError(const char* msg, void* user) {
    auto* text = static_cast<QString*>(user);
    if (text->isEmpty()) *text = QString::fromLocal8Bit(msg).trimmed();
}

// ---- the declared size, read before openjpeg is given the data ----
// openjpeg allocates its per-tile and per-component state while it reads the header, so
// a tiny file declaring a wide image in tiny tiles costs gigabytes before any budget is
// looked at. The codestream's SIZ marker (and the JP2 header box) say all of it.

struct DeclaredSize {
    int64_t width = 0, height = 0, tiles = 0;
    int components = 0;
    int depth = 0;          // bits of the first component
    QByteArray iccProfile;  // from the JP2 header's colour box, when it holds one
    QPointF dotsPerInch;    // from the JP2 header's resolution box: the display one, else the capture one
};

uint32_t rd32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]; }
uint16_t rd16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }

bool readSiz(const uint8_t* d, size_t n, DeclaredSize& out, QString* error) {
    if (n < 4 + 38 + 3 || rd16(d) != 0xFF4F || rd16(d + 2) != 0xFF51) {
        *error = QStringLiteral("the codestream does not start with its size marker");
        return false;
    }
    const uint8_t* z = d + 4;
    const uint32_t length = rd16(z);
    // Lsiz, Rsiz, then the sizes and offsets of the image and the tiles, Csiz, and three
    // bytes for each component (depth and subsampling).
    const uint32_t xsiz = rd32(z + 4), ysiz = rd32(z + 8), xo = rd32(z + 12), yo = rd32(z + 16);
    const uint32_t xt = rd32(z + 20), yt = rd32(z + 24), xto = rd32(z + 28), yto = rd32(z + 32);
    const int comps = rd16(z + 36);
    if (comps < 1 || length != 38u + 3u * uint32_t(comps) || n < 4 + size_t(length) || xsiz <= xo || ysiz <= yo ||
        xt == 0 || yt == 0 || xto > xo || yto > yo || uint64_t(xto) + xt <= xo || uint64_t(yto) + yt <= yo) {
        *error = QStringLiteral("the size marker is corrupt");
        return false;
    }
    for (int c = 0; c < comps; ++c) {
        if (z[38 + 3 * c + 1] == 0 || z[38 + 3 * c + 2] == 0) {
            *error = QStringLiteral("the size marker is corrupt");
            return false;
        }
    }
    out.width = int64_t(xsiz) - xo;
    out.height = int64_t(ysiz) - yo;
    out.tiles = ((int64_t(xsiz) - xto + xt - 1) / xt) * ((int64_t(ysiz) - yto + yt - 1) / yt);
    out.components = comps;
    out.depth = (z[38] & 0x7f) + 1;
    return true;
}

// A resolution box's grid points per metre (vertical and horizontal numerator, denominator
// and exponent) in dots per inch; (0, 0) when it gives none.
QPointF resolutionOf(const uint8_t* r) {
    if (rd16(r + 2) == 0 || rd16(r + 6) == 0) return {};
    const double vertical = double(rd16(r)) / rd16(r + 2) * std::pow(10.0, int8_t(r[8]));
    const double horizontal = double(rd16(r + 4)) / rd16(r + 6) * std::pow(10.0, int8_t(r[9]));
    if (!(vertical > 0) || !(horizontal > 0)) return {};
    return {dotsPerInchOf(horizontal), dotsPerInchOf(vertical)};
}

// The codestream inside a JP2 file: the contiguous-codestream box, after a header box
// whose image header agrees on the size.
bool readJp2Boxes(const uint8_t* d, size_t n, DeclaredSize& out, QString* error) {
    size_t pos = 0;
    int64_t headerW = -1, headerH = -1;
    while (pos + 8 <= n) {
        uint64_t length = rd32(d + pos);
        const uint32_t type = rd32(d + pos + 4);
        size_t head = 8;
        if (length == 1) {
            if (pos + 16 > n) break;
            length = (uint64_t(rd32(d + pos + 8)) << 32) | rd32(d + pos + 12);
            head = 16;
        } else if (length == 0) {
            length = n - pos;
        }
        if (length < head || length > n - pos) {
            // A codestream box may run past the data's end; openjpeg reads what is there.
            if (type != 0x6A703263) break;
            length = n - pos;
        }
        if (type == 0x6A703268) {  // 'jp2h': the image header, the colour box and the resolution box inside
            QPointF captured;
            for (size_t q = pos + head; q + 8 <= pos + length;) {
                const uint32_t l = rd32(d + q);
                if (l < 8 || l > pos + length - q) break;
                const uint32_t sub = rd32(d + q + 4);
                if (sub == 0x69686472 && l >= 16) {  // 'ihdr'
                    headerH = rd32(d + q + 8);
                    headerW = rd32(d + q + 12);
                } else if (sub == 0x636F6C72 && l > 11 && d[q + 8] == 2 && out.iccProfile.isEmpty()) {  // 'colr'
                    out.iccProfile = QByteArray(reinterpret_cast<const char*>(d + q + 11), qsizetype(l - 11));
                } else if (sub == 0x72657320) {  // 'res ': a capture ('resc') and a display ('resd') box
                    for (size_t r = q + 8; r + 18 <= q + l;) {
                        const uint32_t rl = rd32(d + r);
                        if (rl < 8 || rl > q + l - r) break;
                        if (rl >= 18 && rd32(d + r + 4) == 0x72657364) out.dotsPerInch = resolutionOf(d + r + 8);
                        if (rl >= 18 && rd32(d + r + 4) == 0x72657363) captured = resolutionOf(d + r + 8);
                        r += rl;
                    }
                }
                q += l;
            }
            if (out.dotsPerInch.isNull()) out.dotsPerInch = captured;
        } else if (type == 0x6A703263) {  // 'jp2c'
            if (!readSiz(d + pos + head, size_t(length - head), out, error)) return false;
            if (headerW >= 0 && (headerW != out.width || headerH != out.height)) {
                *error = QStringLiteral("the header box and the codestream disagree on the size");
                return false;
            }
            return true;
        }
        pos += size_t(length);
    }
    *error = QStringLiteral("no codestream");
    return false;
}

// Tiles so many for the size that their bookkeeping alone would be a large allocation: no
// writer of pictures makes them, a hostile file does.
bool plausibleTiles(const DeclaredSize& size) {
    return size.tiles <= std::max<int64_t>(64, size.width * size.height / 4096);
}

const QString kManyComponents =
    QStringLiteral("JPEG 2000 pictures of %1 components cannot be read by this program");

// Refuses what openjpeg should not be asked to read, noting why in `why`: a declared size
// beyond the side limit or the budget, more components than a picture has, or tiles so
// many (for the size) that their bookkeeping alone would be a large allocation.
bool checkDeclaredSize(Bytes in, ImageFormat format, DeclaredSize& size, QString* error, const DecodeOptions* budget,
                       const QString& name, DecodeResult* why) {
    const bool ok = format == ImageFormat::J2K ? readSiz(in.data, in.size, size, error)
                                               : readJp2Boxes(in.data, in.size, size, error);
    if (!ok) return decodeFailed(why, DecodeFailure::Damaged), false;
    if (size.width > kMaxImageSide || size.height > kMaxImageSide) {
        *error = QStringLiteral("the image declares %1 x %2 pixels").arg(size.width).arg(size.height);
        return decodeFailed(why, DecodeFailure::OverBudget), false;
    }
    if (size.components > 4) {
        *error = QStringLiteral("%1 components").arg(size.components);
        return decodeFailed(why, DecodeFailure::Unsupported, kManyComponents.arg(size.components)), false;
    }
    if (!plausibleTiles(size)) {
        *error = QStringLiteral("%1 tiles for %2 x %3 pixels").arg(size.tiles).arg(size.width).arg(size.height);
        return decodeFailed(why, DecodeFailure::Damaged), false;
    }
    if (budget && !checkBudget(size.width, size.height, *budget, name, "JPEG 2000", why)) {
        *error = QStringLiteral("over budget");
        return false;
    }
    return true;
}

struct Session {
    Stream data;
    opj_stream_t* stream = nullptr;
    opj_codec_t* codec = nullptr;
    opj_image_t* image = nullptr;
    QString error;
    ~Session() {
        if (image) opj_image_destroy(image);
        if (codec) opj_destroy_codec(codec);
        if (stream) opj_stream_destroy(stream);
    }
    DeclaredSize declared;
    // False with `why` filled where the declared size is refused; false alone where
    // openjpeg cannot read the header.
    bool openForReading(Bytes in, ImageFormat format, int reduce, const DecodeOptions& budget, const QString& name,
                        DecodeResult* why) {
        if (!checkDeclaredSize(in, format, declared, &error, &budget, name, why)) return false;
        data.in = in;
        stream = makeStream(data, true);
        codec = opj_create_decompress(format == ImageFormat::J2K ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
        if (!stream || !codec) return false;
        opj_set_info_handler(codec, quiet, nullptr);
        opj_set_warning_handler(codec, quiet, nullptr);
        opj_set_error_handler(codec, keepError, &error);
        opj_dparameters_t params;
        opj_set_default_decoder_parameters(&params);
        params.cp_reduce = OPJ_UINT32(reduce);
        return opj_setup_decoder(codec, &params) && opj_read_header(stream, codec, &image) && image;
    }
};

int to8(OPJ_INT32 v, const opj_image_comp_t& c) {
    if (c.sgnd) v += 1 << (c.prec - 1);
    if (c.prec > 8) v >>= (c.prec - 8);
    else if (c.prec < 8 && c.prec > 0) v = v * 255 / ((1 << c.prec) - 1);
    return std::clamp(int(v), 0, 255);
}

void put32(QByteArray& b, qsizetype at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = char((v >> (24 - 8 * i)) & 0xFF);
}

// openjpeg cannot write a profile itself (it asserts), so the enumerated colour box it
// writes in the header box is replaced by one that holds the profile.
bool embedProfile(QByteArray& jp2, const QByteArray& icc) {
    const auto* d = reinterpret_cast<const uint8_t*>(jp2.constData());
    const size_t n = size_t(jp2.size());
    for (size_t pos = 0; pos + 8 <= n;) {
        const uint32_t length = rd32(d + pos);
        if (length < 8 || length > n - pos) return false;
        if (rd32(d + pos + 4) == 0x6A703268) {  // 'jp2h'
            for (size_t q = pos + 8; q + 8 <= pos + length;) {
                const uint32_t l = rd32(d + q);
                if (l < 8 || l > pos + length - q) return false;
                if (rd32(d + q + 4) == 0x636F6C72) {  // 'colr'
                    QByteArray colr(11, '\0');
                    put32(colr, 0, uint32_t(11 + icc.size()));
                    colr.replace(4, 4, "colr");
                    colr[8] = 2;  // a restricted ICC profile follows; precedence and approximation 0
                    colr.append(icc);
                    jp2.replace(qsizetype(q), qsizetype(l), colr);
                    put32(jp2, qsizetype(pos), uint32_t(length - l + uint32_t(colr.size())));
                    return true;
                }
                q += l;
            }
            return false;
        }
        pos += length;
    }
    return false;
}

}  // namespace

// The header is the declared size (the codestream's size marker and the JP2 header boxes):
// a file openjpeg cannot read past them, or of more components than the decoder takes,
// still has its size; one of hostile tiles has none.
ImageFacts jp2Facts(Bytes in, ImageFormat format) {
    DeclaredSize size;
    QString error;
    const bool ok = format == ImageFormat::J2K ? readSiz(in.data, in.size, size, &error)
                                               : readJp2Boxes(in.data, in.size, size, &error);
    ImageFacts facts;
    if (!ok || size.width > INT32_MAX || size.height > INT32_MAX || !plausibleTiles(size)) return facts;
    facts.header.format = format;
    facts.header.width = int(size.width);
    facts.header.height = int(size.height);
    facts.header.colourModel = size.components <= 2 ? ColourModel::Gray : ColourModel::RGB;
    facts.header.iccProfile = size.iccProfile;
    facts.depth = size.depth;
    facts.hasAlpha = size.components == 2 || size.components == 4;
    facts.dotsPerInch = size.dotsPerInch;
    return facts;
}

QImage jp2Decode(Bytes in, ImageFormat format, const DecodeOptions& options, const QString& name, DecodeResult* why) {
    // A first look at the header tells how much resolution the caller needs.
    int reduce = 0;
    if (options.minLongSide > 0) {
        const ImageHeader h = jp2Facts(in, format).header;
        if (h.valid()) reduce = reductionShift(h.width, h.height, options.minLongSide, 5);
    }
    Session s;
    DecodeResult refused;
    if (!s.openForReading(in, format, reduce, options, name, &refused)) {
        log(u"%@: JPEG 2000 data is corrupt (%@)", name, s.error.isEmpty() ? QStringLiteral("bad header") : s.error);
        if (refused.failure != DecodeFailure::None) return decodeFailed(why, refused.failure, refused.detail);
        return decodeFailed(why, DecodeFailure::Damaged);
    }
    opj_image_t* img = s.image;
    const int64_t fullW = int64_t(img->x1) - img->x0, fullH = int64_t(img->y1) - img->y0;
    if (img->numcomps < 1 || img->numcomps > 4) {
        log(u"%@: JPEG 2000 with %@ components is not a picture we can show", name, int(img->numcomps));
        return decodeFailed(why, DecodeFailure::Unsupported, kManyComponents.arg(img->numcomps));
    }
    if (!checkBudget(fullW, fullH, options, name, "JPEG 2000", why)) return QImage();
    // openjpeg keeps a 32-bit sample per component while decoding: the budget counts
    // those samples, at the resolution actually decoded.
    DecodeOptions samples = options;
    samples.pixelBudget = options.pixelBudget / int64_t(img->numcomps);
    if (!checkBudget((fullW + (1 << reduce) - 1) >> reduce, (fullH + (1 << reduce) - 1) >> reduce, samples, name,
                     "JPEG 2000", why))
        return QImage();
    for (OPJ_UINT32 i = 0; i < img->numcomps; ++i) {
        if (img->comps[i].dx == 0 || img->comps[i].dy == 0 || img->comps[i].prec < 1 || img->comps[i].prec > 31) {
            log(u"%@: JPEG 2000 component layout is corrupt", name);
            return decodeFailed(why, DecodeFailure::Damaged);
        }
    }
    if (!opj_decode(s.codec, s.stream, img) || !opj_end_decompress(s.codec, s.stream)) {
        log(u"%@: JPEG 2000 data is corrupt (%@)", name, s.error.isEmpty() ? QStringLiteral("decode failed") : s.error);
        return decodeFailed(why, DecodeFailure::Damaged);
    }
    const opj_image_comp_t& c0 = img->comps[0];
    const int w = int(c0.w), h = int(c0.h);
    for (OPJ_UINT32 i = 0; i < img->numcomps; ++i) {
        if (!img->comps[i].data || img->comps[i].w == 0 || img->comps[i].h == 0) {
            log(u"%@: JPEG 2000 data is incomplete", name);
            return decodeFailed(why, DecodeFailure::Damaged);
        }
    }
    if (w <= 0 || h <= 0) return decodeFailed(why, DecodeFailure::Damaged);
    const bool hasAlpha = img->numcomps == 2 || img->numcomps == 4;
    QImage out = allocateImage(w, h, hasAlpha ? QImage::Format_ARGB32 : QImage::Format_ARGB32_Premultiplied, name);
    if (out.isNull()) return QImage();
    const bool sycc = img->color_space == OPJ_CLRSPC_SYCC && img->numcomps >= 3;
    auto sample = [&](OPJ_UINT32 ci, int x, int y) {
        const opj_image_comp_t& c = img->comps[ci];
        // Subsampled components are scaled to the first component's grid.
        const uint32_t sx = std::min<uint32_t>(c.w - 1, uint32_t(uint64_t(x) * c.w / uint32_t(w)));
        const uint32_t sy = std::min<uint32_t>(c.h - 1, uint32_t(uint64_t(y) * c.h / uint32_t(h)));
        return to8(c.data[size_t(sy) * c.w + sx], c);
    };
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < w; ++x) {
            int r, g, b, a = 255;
            if (img->numcomps <= 2) {
                r = g = b = sample(0, x, y);
                if (img->numcomps == 2) a = sample(1, x, y);
            } else {
                r = sample(0, x, y);
                g = sample(1, x, y);
                b = sample(2, x, y);
                if (img->numcomps == 4) a = sample(3, x, y);
                if (sycc) {
                    const double Y = r, cb = g - 128.0, cr = b - 128.0;
                    r = std::clamp(int(std::lround(Y + 1.402 * cr)), 0, 255);
                    g = std::clamp(int(std::lround(Y - 0.344136 * cb - 0.714136 * cr)), 0, 255);
                    b = std::clamp(int(std::lround(Y + 1.772 * cb)), 0, 255);
                }
            }
            line[x] = qRgba(r, g, b, a);
        }
    }
    if (hasAlpha) out.convertTo(QImage::Format_ARGB32_Premultiplied);
    attachProfile(out, s.declared.iccProfile, img->numcomps >= 3 ? ColourModel::RGB : ColourModel::Gray, name);
    return out;
}

QByteArray jp2Encode(const QImage& source, const QByteArray& icc, double quality) {
    const bool gray = source.format() == QImage::Format_Grayscale8;
    const bool opaque = gray || isOpaque(source);
    const bool direct = gray || source.format() == QImage::Format_ARGB32 || source.format() == QImage::Format_RGB32 ||
                        (opaque && source.format() == QImage::Format_ARGB32_Premultiplied);
    const QImage image = direct ? source : source.convertToFormat(QImage::Format_ARGB32);
    if (image.isNull()) return QByteArray();
    const int comps = gray ? 1 : opaque ? 3 : 4;
    opj_image_cmptparm_t parms[4];
    std::memset(parms, 0, sizeof parms);
    for (int i = 0; i < comps; ++i) {
        parms[i].dx = parms[i].dy = 1;
        parms[i].w = OPJ_UINT32(image.width());
        parms[i].h = OPJ_UINT32(image.height());
        parms[i].prec = 8;
        parms[i].sgnd = 0;
    }
    QByteArray out;
    Session s;
    s.data.out = &out;
    s.image = opj_image_create(OPJ_UINT32(comps), parms, gray ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB);
    if (!s.image) return QByteArray();
    s.image->x0 = s.image->y0 = 0;
    s.image->x1 = OPJ_UINT32(image.width());
    s.image->y1 = OPJ_UINT32(image.height());
    if (comps == 4) s.image->comps[3].alpha = 1;
    for (int y = 0; y < image.height(); ++y) {
        const size_t base = size_t(y) * size_t(image.width());
        if (gray) {
            const uint8_t* line = image.constScanLine(y);
            for (int x = 0, xEnd = image.width(); x < xEnd; ++x) s.image->comps[0].data[base + size_t(x)] = line[x];
            continue;
        }
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0, xEnd = image.width(); x < xEnd; ++x) {
            s.image->comps[0].data[base + size_t(x)] = qRed(line[x]);
            s.image->comps[1].data[base + size_t(x)] = qGreen(line[x]);
            s.image->comps[2].data[base + size_t(x)] = qBlue(line[x]);
            if (comps == 4) s.image->comps[3].data[base + size_t(x)] = qAlpha(line[x]);
        }
    }
    opj_cparameters_t p;
    opj_set_default_encoder_parameters(&p);
    p.tcp_numlayers = 1;
    p.cp_disto_alloc = 1;
    if (quality >= 1.0) {
        p.irreversible = 0;
        p.tcp_rates[0] = 0;  // lossless
    } else {
        // Quality 0.8 gives about 10:1, 0.5 about 25:1, 0 about 50:1, of the picture's bytes
        // in colour: a grey picture may take as many as it would in colour, or its one
        // channel would be coded coarser than the same picture's brightness is there.
        p.irreversible = 1;
        const double ratio = (1.0 - std::clamp(quality, 0.0, 1.0)) * 50.0;
        p.tcp_rates[0] = float(std::max(1.0, gray ? ratio / 3.0 : ratio));
    }
    p.tcp_mct = comps >= 3 ? 1 : 0;
    const int shortSide = std::min(image.width(), image.height());
    p.numresolution = std::clamp(int(std::floor(std::log2(std::max(1, shortSide)))) + 1, 1, 6);
    s.codec = opj_create_compress(OPJ_CODEC_JP2);
    if (!s.codec) return QByteArray();
    opj_set_info_handler(s.codec, quiet, nullptr);
    opj_set_warning_handler(s.codec, quiet, nullptr);
    opj_set_error_handler(s.codec, keepError, &s.error);
    s.stream = makeStream(s.data, false);
    const bool ok = s.stream && opj_setup_encoder(s.codec, &p, s.image) &&
                    opj_start_compress(s.codec, s.image, s.stream) && opj_encode(s.codec, s.stream) &&
                    opj_end_compress(s.codec, s.stream);
    if (!ok) {
        log(u"JPEG 2000 encoding failed (%@)", s.error);
        return QByteArray();
    }
    if (!icc.isEmpty() && !embedProfile(out, icc)) log(u"JPEG 2000: the colour profile could not be embedded");
    return out;
}

}  // namespace platform::codec
