// GIF through giflib: the first frame, composed onto the logical screen, for reading; a
// median-cut palette of up to 256 colours (one kept for transparency when needed) for
// writing.
#include "platform/imageio/CodecInternal.h"
#include "platform/foundation/Log.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <gif_lib.h>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace platform::codec {
namespace {

struct Source {
    Bytes in;
    size_t pos = 0;
};

int readFromMemory(GifFileType* gif, GifByteType* buf, int n) {
    auto* s = static_cast<Source*>(gif->UserData);
    if (n <= 0) return 0;
    const size_t count = std::min(size_t(n), s->in.size - s->pos);
    std::memcpy(buf, s->in.data + s->pos, count);
    s->pos += count;
    return int(count);
}

struct Decoder {
    GifFileType* gif = nullptr;
    ~Decoder() {
        int err = 0;
        if (gif) DGifCloseFile(gif, &err);
    }
};

QString gifError(int code) {
    const char* text = GifErrorString(code);
    return QString::fromLatin1(text ? text : "unknown error");
}

}  // namespace

namespace {

// The frames of a GIF, counted by walking its blocks without decoding any: each block's
// data comes in sub-blocks of at most 255 bytes, each led by its length. What cannot be
// walked (a file cut short, a stray byte) ends the count there.
int gifFrameCount(Bytes in) {
    const uint8_t* p = in.data;
    const size_t size = in.size;
    if (size < 13) return 1;
    size_t at = 13;
    if (p[10] & 0x80) at += size_t(3) << ((p[10] & 7) + 1);  // the global colour table
    const auto skipSubBlocks = [&] {
        while (at < size && p[at] != 0) at += size_t(p[at]) + 1;
        ++at;  // the terminator
    };
    int frames = 0;
    while (at < size) {
        const uint8_t kind = p[at];
        if (kind == 0x2C) {  // an image: its descriptor, local colour table, code size and data
            if (at + 10 > size) break;
            const uint8_t flags = p[at + 9];
            at += 10;
            if (flags & 0x80) at += size_t(3) << ((flags & 7) + 1);
            ++at;  // the LZW minimum code size
            skipSubBlocks();
            ++frames;
        } else if (kind == 0x21) {  // an extension: its label, then its data
            at += 2;
            skipSubBlocks();
        } else {
            break;  // the trailer, or something that is not a block
        }
    }
    return std::max(1, frames);
}

}  // namespace

ImageFacts gifFacts(Bytes in) {
    Source s{in, 0};
    int err = 0;
    Decoder d;
    d.gif = DGifOpen(&s, readFromMemory, &err);
    ImageFacts facts;
    if (!d.gif) return facts;
    facts.header.format = ImageFormat::GIF;
    facts.header.width = d.gif->SWidth;
    facts.header.height = d.gif->SHeight;
    facts.depth = 8;  // palette entries of 8 bits a channel
    facts.header.pages = gifFrameCount(in);
    return facts;
}

// GIF has no coding giflib lacks: whatever it cannot read is damaged.
QImage gifDecode(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why) {
    Source s{in, 0};
    int err = 0;
    Decoder d;
    d.gif = DGifOpen(&s, readFromMemory, &err);
    if (!d.gif) {
        log(u"%@: GIF data is corrupt (%@)", name, gifError(err));
        return decodeFailed(why, DecodeFailure::Damaged);
    }
    GifFileType* gif = d.gif;
    if (!checkBudget(gif->SWidth, gif->SHeight, options, name, "GIF", why)) return QImage();
    int transparent = -1;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) break;
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* ext = nullptr;
            if (DGifGetExtension(gif, &code, &ext) == GIF_ERROR) break;
            if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4 && (ext[1] & 1)) transparent = ext[4];
            while (ext) {
                if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR) { ext = nullptr; type = TERMINATE_RECORD_TYPE; }
            }
            if (type == TERMINATE_RECORD_TYPE) break;
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE) break;
        if (DGifGetImageDesc(gif) == GIF_ERROR) break;
        const GifImageDesc& desc = gif->Image;
        const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
        if (desc.Width <= 0 || desc.Height <= 0) {
            log(u"%@: GIF frame has no size", name);
            return decodeFailed(why, DecodeFailure::Damaged);
        }
        if (!checkBudget(desc.Width, desc.Height, options, name, "GIF", why)) return QImage();
        QImage image = allocateImage(gif->SWidth, gif->SHeight, QImage::Format_ARGB32_Premultiplied, name);
        if (image.isNull()) return QImage();
        image.fill(Qt::transparent);
        QRgb palette[256];
        for (int i = 0; i < 256; ++i) {
            if (i == transparent)
                palette[i] = 0;
            else if (map && i < map->ColorCount)
                palette[i] = qRgb(map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue);
            else if (!map)
                // No table at all: the format's own advice is black and white first, so a
                // two-colour picture shows; the rest stay black.
                palette[i] = i == 1 ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
            else
                palette[i] = 0;
        }
        std::vector<GifPixelType> line(size_t(desc.Width));
        const int canvasWidth = image.width();
        auto putRow = [&](int row) {
            const int y = desc.Top + row;
            if (y < 0 || y >= image.height()) return;
            auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < desc.Width; ++x) {
                const int cx = desc.Left + x;
                if (cx >= 0 && cx < canvasWidth && int(line[size_t(x)]) != transparent) dst[cx] = palette[line[size_t(x)]];
            }
        };
        bool ok = true;
        if (desc.Interlace) {
            static const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
            for (int pass = 0; pass < 4 && ok; ++pass)
                for (int row = start[pass]; row < desc.Height && ok; row += step[pass]) {
                    ok = DGifGetLine(gif, line.data(), desc.Width) != GIF_ERROR;
                    if (ok) putRow(row);
                }
        } else {
            for (int row = 0; row < desc.Height && ok; ++row) {
                ok = DGifGetLine(gif, line.data(), desc.Width) != GIF_ERROR;
                if (ok) putRow(row);
            }
        }
        if (!ok) {
            log(u"%@: GIF data is corrupt (%@)", name, gifError(gif->Error));
            return decodeFailed(why, DecodeFailure::Damaged);
        }
        return image;
    }
    log(u"%@: GIF holds no image (%@)", name, gifError(gif->Error));
    return decodeFailed(why, DecodeFailure::Damaged);
}

namespace {

int writeToArray(GifFileType* gif, const GifByteType* buf, int n) {
    static_cast<QByteArray*>(gif->UserData)->append(reinterpret_cast<const char*>(buf), n);
    return n;
}

}  // namespace

namespace {

// One frame as palette indices: a median-cut palette of up to 256 colours, one slot kept
// for transparency when the picture needs it.
struct IndexedFrame {
    int width = 0, height = 0;
    GifColorType palette[256] = {};
    std::vector<GifByteType> indices;
    int transparentIndex = -1;  // -1 when every pixel is opaque enough
};

// giflib's median cut gives each pixel the colour of the box its 5-bit colour fell in,
// not the nearest colour of the palette: dark and saturated areas of photos come out
// posterised, 7 to 14 dB below what a nearest-colour mapping of a like palette reaches.
// The palette is refined by a few rounds of nearest-colour assignment and re-centring
// over a histogram of the picture's colours (5 bits a channel, each cell holding the true
// mean of its colours), and every pixel takes the entry nearest its cell's mean. Entries
// end as the mean of the true colours mapped to them, so flat areas keep their colour.
void refinePalette(const std::vector<GifByteType>& r, const std::vector<GifByteType>& g,
                   const std::vector<GifByteType>& b, const QImage& image, bool anyTransparent, int colours,
                   IndexedFrame& f) {
    constexpr int kCells = 1 << 15;
    constexpr int kRounds = 6;
    auto cellOf = [&](size_t i) { return (int(r[i] >> 3) << 10) | (int(g[i] >> 3) << 5) | int(b[i] >> 3); };
    std::vector<uint64_t> sums(size_t(kCells) * 4, 0);
    const size_t count = r.size();
    const int width = image.width();
    auto opaque = [&](size_t i) {
        if (!anyTransparent) return true;
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(int(i / size_t(width))));
        return qAlpha(line[i % size_t(width)]) >= 128;
    };
    // A picture of no more colours than the palette holds keeps them exactly.
    {
        const int limit = anyTransparent ? 255 : 256;
        std::unordered_map<uint32_t, int> distinct;
        for (size_t i = 0; i < count && int(distinct.size()) <= limit; ++i)
            if (opaque(i)) distinct.emplace((uint32_t(r[i]) << 16) | (uint32_t(g[i]) << 8) | b[i], 0);
        if (int(distinct.size()) <= limit) {
            int e = 0;
            for (auto& [rgb, index] : distinct) {
                index = e;
                f.palette[e].Red = GifByteType(rgb >> 16);
                f.palette[e].Green = GifByteType(rgb >> 8);
                f.palette[e].Blue = GifByteType(rgb);
                ++e;
            }
            for (size_t i = 0; i < count; ++i) {
                const auto it = distinct.find((uint32_t(r[i]) << 16) | (uint32_t(g[i]) << 8) | b[i]);
                f.indices[i] = GifByteType(it == distinct.end() ? 0 : it->second);
            }
            return;
        }
    }
    for (size_t i = 0; i < count; ++i) {
        if (!opaque(i)) continue;
        uint64_t* s = &sums[size_t(cellOf(i)) * 4];
        s[0] += r[i], s[1] += g[i], s[2] += b[i], s[3] += 1;
    }
    struct Cell {
        int index;
        float rgb[3];
        uint64_t n;
    };
    std::vector<Cell> cells;
    for (int c = 0; c < kCells; ++c) {
        const uint64_t* s = &sums[size_t(c) * 4];
        if (s[3] == 0) continue;
        const float n = float(s[3]);
        cells.push_back({c, {float(s[0]) / n, float(s[1]) / n, float(s[2]) / n}, s[3]});
    }
    colours = std::clamp(colours, 1, 256);
    std::vector<float> entries(size_t(colours) * 3);
    for (int e = 0; e < colours; ++e) {
        entries[size_t(e) * 3] = f.palette[e].Red;
        entries[size_t(e) * 3 + 1] = f.palette[e].Green;
        entries[size_t(e) * 3 + 2] = f.palette[e].Blue;
    }
    auto nearestEntry = [&](const float* rgb) {
        int best = 0;
        float bestDistance = 1e30f;
        for (int e = 0; e < colours; ++e) {
            const float* p = &entries[size_t(e) * 3];
            const float dr = rgb[0] - p[0], dg = rgb[1] - p[1], db = rgb[2] - p[2];
            const float d = dr * dr + dg * dg + db * db;
            if (d < bestDistance) bestDistance = d, best = e;
        }
        return best;
    };
    std::vector<double> acc(size_t(colours) * 4);
    for (int round = 0; round <= kRounds; ++round) {
        std::fill(acc.begin(), acc.end(), 0.0);
        for (const Cell& c : cells) {
            const int best = nearestEntry(c.rgb);
            const uint64_t* s = &sums[size_t(c.index) * 4];
            double* a = &acc[size_t(best) * 4];
            a[0] += double(s[0]), a[1] += double(s[1]), a[2] += double(s[2]), a[3] += double(s[3]);
        }
        // Re-centred on what they took; an entry that took nothing stays where it was.
        for (int e = 0; e < colours; ++e) {
            const double* a = &acc[size_t(e) * 4];
            if (a[3] == 0) continue;
            for (int k = 0; k < 3; ++k) entries[size_t(e) * 3 + size_t(k)] = float(a[k] / a[3]);
        }
    }
    // The final mapping is finer than the rounds': each 6-bit cell's mean goes to its
    // nearest entry, and entries end as the mean of the true colours they took.
    constexpr int kFineCells = 1 << 18;
    auto fineOf = [&](size_t i) { return (int(r[i] >> 2) << 12) | (int(g[i] >> 2) << 6) | int(b[i] >> 2); };
    std::vector<uint64_t> fine(size_t(kFineCells) * 4, 0);
    for (size_t i = 0; i < count; ++i) {
        if (!opaque(i)) continue;
        uint64_t* s = &fine[size_t(fineOf(i)) * 4];
        s[0] += r[i], s[1] += g[i], s[2] += b[i], s[3] += 1;
    }
    std::vector<GifByteType> fineNearest(size_t(kFineCells), 0);
    std::fill(acc.begin(), acc.end(), 0.0);
    for (int c = 0; c < kFineCells; ++c) {
        const uint64_t* s = &fine[size_t(c) * 4];
        if (s[3] == 0) continue;
        const float n = float(s[3]);
        const float mean[3] = {float(s[0]) / n, float(s[1]) / n, float(s[2]) / n};
        const int best = nearestEntry(mean);
        fineNearest[size_t(c)] = GifByteType(best);
        double* a = &acc[size_t(best) * 4];
        a[0] += double(s[0]), a[1] += double(s[1]), a[2] += double(s[2]), a[3] += double(s[3]);
    }
    for (int e = 0; e < colours; ++e) {
        const double* a = &acc[size_t(e) * 4];
        auto byte = [&](int k) {
            const double v = a[3] > 0 ? a[k] / a[3] : double(entries[size_t(e) * 3 + size_t(k)]);
            return GifByteType(std::clamp(std::lround(v), 0L, 255L));
        };
        f.palette[e].Red = byte(0);
        f.palette[e].Green = byte(1);
        f.palette[e].Blue = byte(2);
    }
    for (size_t i = 0; i < count; ++i) f.indices[i] = fineNearest[size_t(fineOf(i))];
}

bool indexFrame(const QImage& source, IndexedFrame& f) {
    if (source.width() > 65535 || source.height() > 65535) {
        log(u"GIF encoding failed: %@ x %@ is larger than GIF allows", source.width(), source.height());
        return false;
    }
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    if (image.isNull()) return false;
    f.width = image.width();
    f.height = image.height();
    const size_t count = size_t(image.width()) * size_t(image.height());
    std::vector<GifByteType> r(count), g(count), b(count);
    f.indices.assign(count, 0);
    bool anyTransparent = false;
    for (int y = 0, i = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0, xEnd = image.width(); x < xEnd; ++x, ++i) {
            r[size_t(i)] = GifByteType(qRed(line[x]));
            g[size_t(i)] = GifByteType(qGreen(line[x]));
            b[size_t(i)] = GifByteType(qBlue(line[x]));
            anyTransparent |= qAlpha(line[x]) < 128;
        }
    }
    int colours = anyTransparent ? 255 : 256;
    // giflib's palette builder sorts through state shared by all its callers, so pictures
    // quantized at once on several threads disturb each other's palettes: one at a time.
    static std::mutex quantizing;
    std::unique_lock<std::mutex> one(quantizing);
    const int quantized = GifQuantizeBuffer(unsigned(image.width()), unsigned(image.height()), &colours, r.data(),
                                            g.data(), b.data(), f.indices.data(), f.palette);
    one.unlock();
    if (quantized == GIF_ERROR) {
        log(u"GIF encoding failed: the palette could not be made");
        return false;
    }
    refinePalette(r, g, b, image, anyTransparent, colours, f);
    if (anyTransparent) {
        f.transparentIndex = 255;
        for (int y = 0, i = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0, xEnd = image.width(); x < xEnd; ++x, ++i)
                if (qAlpha(line[x]) < 128) f.indices[size_t(i)] = GifByteType(f.transparentIndex);
        }
    }
    return true;
}

// Writes one frame: its control block (when it has a delay or a transparent colour), its
// descriptor with the frame's own colour table, and its rows.
bool putFrame(GifFileType* gif, const IndexedFrame& f, int delayCentiseconds, bool localMap) {
    bool ok = true;
    if (f.transparentIndex >= 0 || delayCentiseconds > 0) {
        const int delay = std::clamp(delayCentiseconds, 0, 65535);
        // In an animation each frame replaces the last whole: its transparent pixels clear
        // to the background instead of showing the frame before.
        const bool clear = f.transparentIndex >= 0;
        const int flags = (clear ? 0x01 : 0) | (localMap ? (clear ? 0x08 : 0x04) : 0);
        const GifByteType gce[4] = {GifByteType(flags), GifByteType(delay & 0xff),
                                    GifByteType(delay >> 8), GifByteType(std::max(f.transparentIndex, 0))};
        EGifSetGifVersion(gif, true);
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, gce) != GIF_ERROR;
    }
    ColorMapObject* map = localMap ? GifMakeMapObject(256, f.palette) : nullptr;
    ok = ok && (!localMap || map) && EGifPutImageDesc(gif, 0, 0, f.width, f.height, false, map) != GIF_ERROR;
    for (int y = 0; ok && y < f.height; ++y)
        ok = EGifPutLine(gif, const_cast<GifByteType*>(f.indices.data()) + size_t(y) * size_t(f.width), f.width) !=
             GIF_ERROR;
    if (map) GifFreeMapObject(map);
    return ok;
}

bool closeGif(GifFileType* gif, bool ok, int err) {
    if (!ok) err = gif->Error;
    int closeErr = 0;
    if (EGifCloseFile(gif, &closeErr) == GIF_ERROR && ok) {
        ok = false;
        err = closeErr;
    }
    if (!ok) log(u"GIF encoding failed (%@)", gifError(err));
    return ok;
}

}  // namespace

QByteArray gifEncode(const QImage& source) {
    IndexedFrame f;
    if (!indexFrame(source, f)) return QByteArray();
    QByteArray out;
    int err = 0;
    GifFileType* gif = EGifOpen(&out, writeToArray, &err);
    if (!gif) return QByteArray();
    ColorMapObject* map = GifMakeMapObject(256, f.palette);
    bool ok = map && EGifPutScreenDesc(gif, f.width, f.height, 8, 0, map) != GIF_ERROR;
    if (map) GifFreeMapObject(map);
    ok = ok && putFrame(gif, f, 0, false);
    return closeGif(gif, ok, err) ? out : QByteArray();
}

QByteArray gifEncodeAnimation(const QList<QImage>& frames, int delayCentiseconds, int loopCount) {
    if (frames.isEmpty()) return QByteArray();
    const QSize size = frames.first().size();
    for (const QImage& frame : frames) {
        if (frame.size() != size || frame.isNull()) {
            log(u"GIF encoding failed: the frames are not all %@ x %@", size.width(), size.height());
            return QByteArray();
        }
    }
    QByteArray out;
    int err = 0;
    GifFileType* gif = EGifOpen(&out, writeToArray, &err);
    if (!gif) return QByteArray();
    EGifSetGifVersion(gif, true);
    bool ok = EGifPutScreenDesc(gif, size.width(), size.height(), 8, 0, nullptr) != GIF_ERROR;
    // The application extension that makes viewers repeat the animation (0: for ever).
    if (ok) {
        const GifByteType name[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
        const int loops = std::clamp(loopCount, 0, 65535);
        const GifByteType loop[] = {0x01, GifByteType(loops & 0xff), GifByteType(loops >> 8)};
        ok = EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) != GIF_ERROR &&
             EGifPutExtensionBlock(gif, sizeof(name), name) != GIF_ERROR &&
             EGifPutExtensionBlock(gif, sizeof(loop), loop) != GIF_ERROR && EGifPutExtensionTrailer(gif) != GIF_ERROR;
    }
    // Frames are made one at a time so only one frame's indices are held at once.
    for (const QImage& frame : frames) {
        if (!ok) break;
        IndexedFrame f;
        ok = indexFrame(frame, f) && putFrame(gif, f, delayCentiseconds, true);
    }
    return closeGif(gif, ok, err) ? out : QByteArray();
}

}  // namespace platform::codec
