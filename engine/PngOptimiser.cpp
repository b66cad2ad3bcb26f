// The PNG optimiser. One call is one run over one input file; everything a run needs
// (method table, measured lengths, flags, timers, allocation list) lives in its RunState,
// so runs never share anything. libpng errors come back through longjmp into the function
// that set the recovery point; the row buffer and the libpng structures are freed there.
#include "engine/PngOptimiser.h"


#include <array>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <png.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

constexpr int kMaxMethods = 200;
constexpr const char* kOptimiserVersion = "1.0.0";
constexpr png_uint_32 kMaxIdatForOptimised = 0x3FFFFFF;
constexpr png_uint_32 kUntried = 0xFFFFFFFFu;
// Beyond the per-side limit, no picture this program handles has more pixels than this;
// rows are streamed, but the time a run takes still grows with them.
constexpr double kMaxPixels = 1024.0 * 1024.0 * 1024.0;

const png_byte kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
const png_byte kMngSignature[8] = {0x8A, 'M', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

struct RunState {
    // Method table.
    std::array<int, kMaxMethods> fm{}, lv{}, zs{};
    std::array<png_uint_32, kMaxMethods + 1> idatLength{};
    std::array<bool, kMaxMethods> tryMethod{};
    int memoryLevel = 8;

    // Flags of the run.
    bool alreadyOptimised = false, imageIsImmutable = false, foundAnyChunk = false, foundAcTL = false,
         foundCgBI = false, foundGamma = false, foundCHRM = false, intentRequested = false, inputIsMng = false,
         thingsHaveChanged = false, firstTrial = true, keepAnimation = false, discardedApng = false;
    int inputColorType = -1;

    // Timers, in clock ticks.
    clock_t decodeTime = 0, encodeTime = 0, otherTime = 0, lastTick = 0;

    // Allocation list of the run's libpng allocations.
    std::map<void*, size_t> blocks;
    long long currentAllocation = 0, maximumAllocation = 0;

    // The file names as the report prints them.
    const char* inname = "";
    const char* outname = "";
    // Where the trials write; renamed onto `outname` when the run succeeds.
    std::string workPath;
};

// ---- allocation tracking ----

png_voidp png_debug_malloc(png_structp png, png_alloc_size_t size) {
    auto* run = static_cast<RunState*>(png_get_mem_ptr(png));
    void* p = std::malloc(size ? size : 1);
    if (!p) return nullptr;
    std::memset(p, 0xDD, size);
    if (run) {
        run->blocks[p] = size_t(size);
        run->currentAllocation += (long long)size;
        run->maximumAllocation = std::max(run->maximumAllocation, run->currentAllocation);
    }
    return p;
}

void png_debug_free(png_structp png, png_voidp ptr) {
    if (!png) {
        std::fprintf(stdout, "NULL pointer to png_debug_free.\n");
        return;
    }
    if (!ptr) return;
    auto* run = static_cast<RunState*>(png_get_mem_ptr(png));
    if (run) {
        auto it = run->blocks.find(ptr);
        if (it == run->blocks.end()) {
            std::fprintf(stdout, "Pointer %lux not found\n", (unsigned long)ptr);
            return;  // not ours to free
        }
        std::memset(ptr, 0x55, it->second);
        run->currentAllocation -= (long long)it->second;
        if (run->currentAllocation < 0) std::fprintf(stdout, "Duplicate free of memory\n");
        run->blocks.erase(it);
    }
    std::free(ptr);
}

// ---- errors and input ----

struct ErrorTarget {
    jmp_buf jump;
    char message[512] = {0};
    const char* inname = "";
};

void png_trial_error(png_structp png, png_const_charp msg) {
    auto* target = static_cast<ErrorTarget*>(png_get_error_ptr(png));
    if (msg && std::strcmp(msg, "Too many IDAT's found") == 0) {
        std::fprintf(stderr, "\nIn %s, correcting ", target ? target->inname : "");
        std::fprintf(stderr, "%s", msg);
        return;  // reading goes on
    }
    if (target) {
        std::snprintf(target->message, sizeof target->message, "%s", msg ? msg : "unknown error");
        longjmp(target->jump, 1);
    }
    std::abort();  // unreachable: every libpng structure here has an error target
}

void quietWarning(png_structp, png_const_charp) {}

void pngopt_default_read_data(png_structp png, png_bytep data, size_t length) {
    auto* fp = static_cast<FILE*>(png_get_io_ptr(png));
    if (!fp || std::fread(data, 1, length, fp) != length) png_error(png, "Read Error");
}

void png_defaultwrite_data(png_structp png, png_bytep data, size_t length) {
    auto* fp = static_cast<FILE*>(png_get_io_ptr(png));
    if (!fp || std::fwrite(data, 1, length, fp) != length) png_error(png, "Write Error");
}

void pngopt_flush(png_structp png) {
    if (auto* fp = static_cast<FILE*>(png_get_io_ptr(png))) std::fflush(fp);
}

png_uint_32 bigEndian32(const png_byte* p) {
    return (png_uint_32(p[0]) << 24) | (png_uint_32(p[1]) << 16) | (png_uint_32(p[2]) << 8) | png_uint_32(p[3]);
}

bool isType(const png_byte* t, const char* name) { return std::memcmp(t, name, 4) == 0; }

// Reads one chunk's length and type, prints its name, and skips its data and CRC.
bool png_skip_chunk(FILE* fp) {
    png_byte head[8];
    if (std::fread(head, 1, 8, fp) != 8) return false;
    std::fprintf(stdout, "Skipping %c%c%c%c chunk.\n", head[4], head[5], head[6], head[7]);
    const png_uint_32 length = bigEndian32(head) & 0x7FFFFFFFu;
    return std::fseek(fp, long(length) + 4, SEEK_CUR) == 0;
}

class MeasureError {
public:
    explicit MeasureError(std::string m) : message(std::move(m)) {}
    std::string message;
};

// Walks the chunks of the file and sums the IDAT lengths, setting the run flags.
png_uint_32 png_measure_idat(RunState& run, FILE* fp) {
    png_byte sig[8];
    if (std::fread(sig, 1, 8, fp) != 8) throw MeasureError("Read Error");
    if (std::memcmp(sig, kMngSignature, 8) == 0) {
        run.inputIsMng = true;
        png_byte head[8];
        if (std::fread(head, 1, 8, fp) != 8) throw MeasureError("Read Error");
        std::fprintf(stdout, "Reading %c%c%c%c chunk.\n", head[4], head[5], head[6], head[7]);
        const png_uint_32 length = bigEndian32(head) & 0x7FFFFFFFu;
        std::vector<png_byte> data(std::min<png_uint_32>(length, 28));
        if (std::fread(data.data(), 1, data.size(), fp) != data.size()) throw MeasureError("Read Error");
        const char* names[] = {"  width=%lu\n",   "  height=%lu\n",  "  ticksps=%lu\n", "  nomlayc=%lu\n",
                               "  nomfram=%lu\n", "  nomplay=%lu\n", "  profile=%lu\n"};
        for (size_t i = 0; i + 4 <= data.size() && i / 4 < 7; i += 4)
            std::fprintf(stdout, names[i / 4], (unsigned long)bigEndian32(&data[i]));
        if (std::fseek(fp, long(length - data.size()) + 4, SEEK_CUR) != 0) throw MeasureError("Read Error");
    } else if (std::memcmp(sig, kPngSignature, 8) != 0) {
        if (std::memcmp(sig, kPngSignature, 4) != 0) throw MeasureError("Not a PNG file..");
        throw MeasureError("PNG file corrupted by ASCII conversion");
    }
    png_uint_32 total = 0;
    for (;;) {
        png_byte head[8];
        if (std::fread(head, 1, 8, fp) != 8) throw MeasureError("Read Error");
        const png_uint_32 length = bigEndian32(head);
        if (length > 0x7FFFFFFFu) throw MeasureError("PNG unsigned integer out of range");
        const png_byte* type = head + 4;
        if (isType(type, "CgBI")) {
            std::fprintf(stdout, " This is an Xcode CGBI file, not a PNG file.\n");
            std::fprintf(stdout, " Try a CgBI repair tool to attempt to read it.\n");
            run.foundCgBI = true;
        }
        if (isType(type, "IDAT")) {
            total += length;
            if (length > kMaxIdatForOptimised) run.alreadyOptimised = true;
        } else if (isType(type, "acTL")) {
            run.foundAcTL = true;
        } else if (isType(type, "dSIG")) {
            if (!run.foundAnyChunk) run.imageIsImmutable = true;
        } else if (isType(type, "IHDR")) {
            // colour type is read with the data below
        } else if (!isType(type, "IEND") && !isType(type, "MEND")) {
            run.foundAnyChunk = true;
        }
        if (isType(type, "cHRM")) run.foundCHRM = true;
        if (isType(type, "gAMA")) run.foundGamma = true;

        // Data and CRC: only the first bytes are kept (all that is looked at), the rest is
        // hashed in bounded pieces, so a huge declared length costs no memory.
        uLong crc = crc32(0L, type, 4);
        png_byte headBytes[32];
        const size_t kept = std::min<size_t>(length, sizeof headBytes);
        if (kept && std::fread(headBytes, 1, kept, fp) != kept) throw MeasureError("Read Error");
        crc = crc32(crc, headBytes, uInt(kept));
        if (isType(type, "IHDR") && kept >= 10) run.inputColorType = headBytes[9];
        if (isType(type, "iCCP") && length == 2615 && kept >= 22 &&
            std::memcmp(headBytes, "Photoshop ICC profile", 22) == 0) {
            std::fprintf(stdout, "   Replacing bad Photoshop ICCP chunk with an sRGB chunk\n");
            run.intentRequested = true;
        }
        {
            png_byte buf[8192];
            png_uint_32 left = length - png_uint_32(kept);
            while (left > 0) {
                const size_t n = std::min<size_t>(left, sizeof buf);
                if (std::fread(buf, 1, n, fp) != n) throw MeasureError("Read Error");
                crc = crc32(crc, buf, uInt(n));
                left -= png_uint_32(n);
            }
        }
        png_byte crcBytes[4];
        if (std::fread(crcBytes, 1, 4, fp) != 4) throw MeasureError("Read Error");
        const bool critical = (type[0] & 0x20) == 0;
        if (bigEndian32(crcBytes) != png_uint_32(crc) && critical) throw MeasureError("CRC error");
        if (isType(type, "IEND") && !run.inputIsMng) break;
        if (isType(type, "MEND") && run.inputIsMng) break;
        if (isType(type, "IEND") && run.inputIsMng) continue;
    }
    if (run.foundCgBI) return 0;
    return total;
}

// Opens a reader on an open file and returns png_measure_idat's total, or 0 after an error.
png_uint_32 measure_idats(RunState& run, FILE* fp) {
    try {
        return png_measure_idat(run, fp);
    } catch (const MeasureError& e) {
        std::fprintf(stdout, "\nWhile measuring IDATs in %s ", run.inname);
        std::fprintf(stdout, "optimiser caught libpng error:\n   %s\n\n", e.message.c_str());
        return 0;
    }
}

void print_version_info() {
    std::fprintf(stdout,
                 "\n | optimiser %s\n"
                 " |    Built with libpng %s and running with libpng %s,\n"
                 " |    zlib %s (running %s).\n\n",
                 kOptimiserVersion, PNG_LIBPNG_VER_STRING, png_get_libpng_ver(nullptr), ZLIB_VERSION, zlibVersion());
}

void show_result(RunState& run) {
    const clock_t now = clock();
    run.otherTime += now - run.lastTick;
    run.lastTick = now;
    const double d = double(run.decodeTime) / 1000000.0, e = double(run.encodeTime) / 1000000.0,
                 o = double(run.otherTime) / 1000000.0;
    std::fprintf(stdout, "   CPU time decoding %.3f,", d);
    std::fprintf(stdout, " encoding %.3f,", e);
    std::fprintf(stdout, " other %.3f,", o);
    std::fprintf(stdout, " total %.3f seconds\n\n", d + e + o);
    if (run.currentAllocation) {
        std::fprintf(stdout, "MEMORY ERROR: %d bytes still allocated\n", int(run.currentAllocation));
        for (auto& [p, size] : run.blocks) {
            std::fprintf(stdout, " %8lu bytes at %lux\n", (unsigned long)size, (unsigned long)p);
            std::free(p);
        }
        run.blocks.clear();
        run.currentAllocation = 0;
    }
    if (run.discardedApng) std::fprintf(stdout, "   **** Discarded APNG chunks. ****\n");
}

void buildMethodTable(RunState& run) {
    for (int m = 0; m < kMaxMethods; ++m) {
        run.fm[m] = 5;
        run.lv[m] = 9;
        run.zs[m] = 1;
    }
    const int fixed[11][3] = {{5, 9, 1}, {0, 4, 0}, {1, 4, 0}, {5, 4, 1}, {0, 9, 1}, {1, 9, 0},
                              {5, 9, 0}, {0, 9, 0}, {1, 9, 1}, {5, 2, 2}, {5, 9, 1}};
    for (int m = 1; m <= 10; ++m) {
        run.fm[m] = fixed[m][0];
        run.lv[m] = fixed[m][1];
        run.zs[m] = fixed[m][2];
    }
    for (int m = 11; m <= 16; ++m) { run.fm[m] = m - 11; run.lv[m] = 2; run.zs[m] = 2; }
    for (int m = 17; m <= 124; ++m) {
        run.fm[m] = (m - 17) % 6;
        run.lv[m] = 1 + (m - 17) / 12;
        run.zs[m] = ((m - 17) / 6) % 2;
    }
    for (int m = 125; m <= 130; ++m) { run.fm[m] = m - 125; run.lv[m] = 1; run.zs[m] = 3; }
    for (int m = 131; m <= 136; ++m) { run.fm[m] = m - 131; run.lv[m] = 4; run.zs[m] = 3; }
    run.idatLength.fill(kUntried);
    run.tryMethod.fill(false);
}

int filterMask(int fm) {
    switch (fm) {
    case 1: return PNG_FILTER_SUB;
    case 2: return PNG_FILTER_UP;
    case 3: return PNG_FILTER_AVG;
    case 4: return PNG_FILTER_PAETH;
    case 5: return PNG_ALL_FILTERS;
    default: return PNG_FILTER_NONE;
    }
}

bool endsWith(const char* name, const char* suffix) {
    const size_t n = std::strlen(name), s = std::strlen(suffix);
    return n >= s && std::strcmp(name + n - s, suffix) == 0;
}

bool isAnimationChunk(const png_byte* name) {
    return isType(name, "acTL") || isType(name, "fcTL") || isType(name, "fdAT");
}

// The text and EXIF chunks of one part of the input (before or after the image data),
// copied to the same part of the output.
void copyTextAndExif(png_structp read, png_infop from, png_structp write, png_infop to) {
    png_textp text = nullptr;
    int count = 0;
    if (png_get_text(read, from, &text, &count) > 0) png_set_text(write, to, text, count);
    png_uint_32 length = 0;
    png_bytep exif = nullptr;
    if (png_get_eXIf_1(read, from, &length, &exif) && exif && length) png_set_eXIf_1(write, to, length, exif);
}

// The libpng structures and the row buffer of one trial, freed however the trial ends.
struct Trial {
    RunState* run = nullptr;
    ErrorTarget error;
    png_structp read = nullptr, write = nullptr;
    png_infop readInfo = nullptr, endInfo = nullptr, writeInfo = nullptr, writeEndInfo = nullptr;
    png_bytep rowBuffer = nullptr;
    void release() {
        if (rowBuffer && read) png_free(read, rowBuffer);
        rowBuffer = nullptr;
        if (read) png_destroy_read_struct(&read, readInfo ? &readInfo : nullptr, endInfo ? &endInfo : nullptr);
        if (write && writeEndInfo) png_destroy_info_struct(write, &writeEndInfo);
        if (write) png_destroy_write_struct(&write, writeInfo ? &writeInfo : nullptr);
        writeEndInfo = nullptr;
        read = nullptr;
        write = nullptr;
    }
};

// Recodes `in` into `out` with the method's settings. Returns false after a libpng error
// (reported on standard error).
bool recode(RunState& run, int method, FILE* in, FILE* out) {
    auto t = std::make_unique<Trial>();
    t->run = &run;
    t->error.inname = run.inname;
    if (setjmp(t->error.jump)) {
        std::fprintf(stderr, "While converting %s to %s:\n", run.inname, run.outname);
        std::fprintf(stderr, "  optimiser caught libpng error:\n   %s\n\n", t->error.message);
        t->release();
        return false;
    }
    t->read = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &t->error, png_trial_error, quietWarning, &run,
                                       png_debug_malloc, png_debug_free);
    if (!t->read) {
        std::fprintf(stderr, "optimiser could not create read_ptr\n");
        return false;
    }
    t->write = png_create_write_struct_2(PNG_LIBPNG_VER_STRING, &t->error, png_trial_error, quietWarning, &run,
                                         png_debug_malloc, png_debug_free);
    if (!t->write) png_error(t->read, "optimiser could not create write_ptr");
    // A colour profile goes through as it is. libpng refuses to write the sRGB profiles it
    // lists as faulty (the widespread 3,144-byte one among them), which would fail the
    // whole file over a profile every viewer reads.
    png_set_option(t->read, PNG_SKIP_sRGB_CHECK_PROFILE, PNG_OPTION_ON);
    png_set_option(t->write, PNG_SKIP_sRGB_CHECK_PROFILE, PNG_OPTION_ON);
    t->readInfo = png_create_info_struct(t->read);
    if (!t->readInfo) png_error(t->read, "optimiser could not create read_info_ptr");
    t->endInfo = png_create_info_struct(t->read);
    if (!t->endInfo) png_error(t->read, "optimiser could not create end_info_ptr");
    t->writeInfo = png_create_info_struct(t->write);
    if (!t->writeInfo) png_error(t->read, "optimiser could not create write_info_ptr");
    t->writeEndInfo = png_create_info_struct(t->write);
    if (!t->writeEndInfo) png_error(t->read, "optimiser could not create write_end_info_ptr");

    png_set_read_fn(t->read, in, pngopt_default_read_data);
    png_set_write_fn(t->write, out, png_defaultwrite_data, pngopt_flush);
    png_set_chunk_cache_max(t->read, 500);
    png_set_user_limits(t->read, 500000, 500000);
    png_set_chunk_malloc_max(t->read, 2000000);
    png_set_crc_action(t->read, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
    png_set_keep_unknown_chunks(t->read, PNG_HANDLE_CHUNK_ALWAYS, nullptr, 0);
    png_set_keep_unknown_chunks(t->write, PNG_HANDLE_CHUNK_ALWAYS, nullptr, 0);

    // Signature (and, for MNG, its header chunk) are read here; libpng starts after them.
    png_byte sig[8];
    if (std::fread(sig, 1, 8, in) != 8) png_error(t->read, "Read Error");
    if (std::memcmp(sig, kMngSignature, 8) == 0) {
        if (!png_skip_chunk(in)) png_error(t->read, "Read Error");
        run.thingsHaveChanged = true;
    } else if (std::memcmp(sig, kPngSignature, 8) != 0) {
        png_error(t->read, std::memcmp(sig, kPngSignature, 4) ? "Not a PNG file.." : "PNG file corrupted by ASCII conversion");
    }
    png_set_sig_bytes(t->read, 8);
    if (endsWith(run.outname, "ppng")) png_error(t->read, "Premultiplied alpha is not supported");
    if (run.foundCgBI) {
        png_error(t->read, "Cannot read Xcode CgBI PNG. Even if we could,\nthe original PNG could not be recovered.");
    }
    png_read_info(t->read, t->readInfo);

    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colorType = 0, interlace = 0, compression = 0, filter = 0;
    png_get_IHDR(t->read, t->readInfo, &width, &height, &bitDepth, &colorType, &interlace, &compression, &filter);
    if (double(width) * double(height) > kMaxPixels) png_error(t->read, "Image is too large to process");
    if (run.foundAcTL && !run.keepAnimation) {
        std::fprintf(stdout, "   optimiser will only save APNG chunks in an\n");
        std::fprintf(stdout, "   output file with the \".apng\" extension\n");
    }

    // ---- chunks before the image data ----
    png_set_IHDR(t->write, t->writeInfo, width, height, bitDepth, colorType, interlace, PNG_COMPRESSION_TYPE_BASE,
                 PNG_FILTER_TYPE_BASE);
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        png_colorp palette = nullptr;
        int count = 0;
        if (png_get_PLTE(t->read, t->readInfo, &palette, &count)) png_set_PLTE(t->write, t->writeInfo, palette, count);
    }
    {
        int unit = 0;
        png_charp sw = nullptr, sh = nullptr;
        if (png_get_sCAL_s(t->read, t->readInfo, &unit, &sw, &sh)) png_set_sCAL_s(t->write, t->writeInfo, unit, sw, sh);
    }
    png_fixed_point fileGamma = 0;
    const bool hasGamma = png_get_gAMA_fixed(t->read, t->readInfo, &fileGamma);
    int intent = 0;
    const bool hasSRGB = png_get_sRGB(t->read, t->readInfo, &intent);
    if (hasSRGB) {
        png_set_sRGB(t->write, t->writeInfo, intent);
    } else if (run.intentRequested) {
        if (!hasGamma || (fileGamma > 45000 && fileGamma < 46000)) {
            std::fprintf(stdout, "   Inserting sRGB chunk with intent=%d\n", 0);
            png_set_sRGB(t->write, t->writeInfo, 0);
        } else {
            std::fprintf(stdout, "   Ignoring sRGB request; gamma=(%lu/100000) is not approx. 0.455\n",
                         (unsigned long)fileGamma);
        }
    }
    // Colour and metadata chunks carry over: without them a palette image loses its
    // transparency and a managed image its colours.
    if (hasGamma) png_set_gAMA_fixed(t->write, t->writeInfo, fileGamma);
    {
        png_fixed_point wx, wy, rx, ry, gx, gy, bx, by;
        if (png_get_cHRM_fixed(t->read, t->readInfo, &wx, &wy, &rx, &ry, &gx, &gy, &bx, &by))
            png_set_cHRM_fixed(t->write, t->writeInfo, wx, wy, rx, ry, gx, gy, bx, by);
    }
    if (!run.intentRequested) {
        png_charp name = nullptr;
        int ctype = 0;
        png_bytep profile = nullptr;
        png_uint_32 length = 0;
        if (png_get_iCCP(t->read, t->readInfo, &name, &ctype, &profile, &length))
            png_set_iCCP(t->write, t->writeInfo, name, ctype, profile, length);
    }
    {
        png_bytep alpha = nullptr;
        int count = 0;
        png_color_16p colour = nullptr;
        if (png_get_tRNS(t->read, t->readInfo, &alpha, &count, &colour))
            png_set_tRNS(t->write, t->writeInfo, alpha, count, colour);
    }
    {
        png_color_8p bits = nullptr;
        if (png_get_sBIT(t->read, t->readInfo, &bits)) png_set_sBIT(t->write, t->writeInfo, bits);
    }
    {
        png_color_16p background = nullptr;
        if (png_get_bKGD(t->read, t->readInfo, &background)) png_set_bKGD(t->write, t->writeInfo, background);
    }
    {
        png_uint_32 rx = 0, ry = 0;
        int unit = 0;
        if (png_get_pHYs(t->read, t->readInfo, &rx, &ry, &unit)) {
            if (rx == 0 && ry == 0) std::fprintf(stdout, "   Deleting useless pHYs 0 0 chunk\n");
            else png_set_pHYs(t->write, t->writeInfo, rx, ry, unit);
        }
        png_int_32 ox = 0, oy = 0;
        if (png_get_oFFs(t->read, t->readInfo, &ox, &oy, &unit) && ox == 0 && oy == 0)
            std::fprintf(stdout, "   Deleting useless oFFs 0 0 chunk\n");
    }
    copyTextAndExif(t->read, t->readInfo, t->write, t->writeInfo);
    {
        png_unknown_chunkp unknowns = nullptr;
        const int count = png_get_unknown_chunks(t->read, t->readInfo, &unknowns);
        for (int i = 0; i < count; ++i) {
            if (!isAnimationChunk(unknowns[i].name)) continue;
            if (!run.keepAnimation) {
                run.discardedApng = true;
                continue;
            }
            png_set_unknown_chunks(t->write, t->writeInfo, &unknowns[i], 1);
        }
    }

    // ---- writer settings ----
    png_set_filter(t->write, PNG_FILTER_TYPE_BASE, filterMask(run.fm[method]));
    int strategy = run.zs[method];
    if (strategy < 1 || strategy > 3) strategy = 0;
    png_set_compression_strategy(t->write, strategy);
    png_set_compression_mem_level(t->write, run.memoryLevel);
    png_set_compression_level(t->write, run.lv[method]);
    int samples = 1;
    switch (colorType) {
    case PNG_COLOR_TYPE_RGB: samples = 3; break;
    case PNG_COLOR_TYPE_GRAY_ALPHA: samples = 2; break;
    case PNG_COLOR_TYPE_RGB_ALPHA: samples = 4; break;
    default: samples = 1; break;
    }
    const unsigned long long needBytes = ((unsigned long long)bitDepth * width * samples + 15) / 8 * height + 262;
    png_set_compression_buffer_size(t->write, size_t(std::min<unsigned long long>(needBytes, 524288)));
    int windowBits = 15;
    const unsigned long long limits[] = {512, 1024, 2048, 4096, 8192, 16384};
    for (int i = 0; i < 6; ++i)
        if (needBytes <= limits[i]) {
            windowBits = 9 + i;
            break;
        }
    png_set_compression_window_bits(t->write, windowBits);

    if (bitDepth < 8) png_set_packing(t->read);
    const int passes = png_set_interlace_handling(t->read);
    png_read_update_info(t->read, t->readInfo);
    png_write_info(t->write, t->writeInfo);
    // Writing the header resets the writer's transformations, so they are set after it.
    if (bitDepth < 8) png_set_packing(t->write);
    png_set_interlace_handling(t->write);

    const size_t readRow = png_get_rowbytes(t->read, t->readInfo);
    const size_t writeRow = png_get_rowbytes(t->write, t->writeInfo);
    const size_t rowSize = std::max(readRow, writeRow) + 64;
    t->rowBuffer = static_cast<png_bytep>(png_malloc_warn(t->read, rowSize));
    if (!t->rowBuffer) png_error(t->read, "Insufficient memory to allocate row buffer");
    std::memset(t->rowBuffer, 0, rowSize);
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < height; ++y) {
            clock_t t0 = clock();
            png_read_row(t->read, t->rowBuffer, nullptr);
            clock_t t1 = clock();
            png_write_row(t->write, t->rowBuffer);
            clock_t t2 = clock();
            run.decodeTime += t1 - t0;
            run.encodeTime += t2 - t1;
            run.lastTick = t2;
        }
    }

    // ---- after the image data ----
    png_read_end(t->read, t->endInfo);
    copyTextAndExif(t->read, t->endInfo, t->write, t->writeEndInfo);
    {
        png_unknown_chunkp unknowns = nullptr;
        const int count = png_get_unknown_chunks(t->read, t->endInfo, &unknowns);
        std::vector<png_unknown_chunk> kept;
        for (int i = 0; i < count; ++i) {
            if (isAnimationChunk(unknowns[i].name) && !run.keepAnimation) {
                run.discardedApng = true;
                continue;
            }
            kept.push_back(unknowns[i]);
        }
        if (!kept.empty()) {
            std::fprintf(stdout, "setting %d unknown chunks after IDAT\n", int(kept.size()));
            png_set_unknown_chunks(t->write, t->writeEndInfo, kept.data(), int(kept.size()));
            for (int i = 0; i < int(kept.size()); ++i)
                png_set_unknown_chunk_location(t->write, t->writeEndInfo, i, PNG_AFTER_IDAT);
        }
    }
    png_write_end(t->write, t->writeEndInfo);
    png_free(t->read, t->rowBuffer);
    t->rowBuffer = nullptr;
    t->release();
    return true;
}

struct FileCloser {
    FILE* fp = nullptr;
    ~FileCloser() { close(); }
    void close() {
        FILE* f = fp;
        fp = nullptr;
        if (f) std::fclose(f);
    }
};

bool sameFile(const char* a, const char* b) {
    struct stat sa, sb;
    return ::stat(a, &sa) == 0 && ::stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

long long fileSize(const char* path) {
    struct stat s;
    return ::stat(path, &s) == 0 ? (long long)s.st_size : -1;
}

// One trial into the work file; measures the result. Returns 0 or a failure code.
int runTrial(RunState& run, int method) {
    FileCloser in;
    in.fp = std::fopen(run.inname, "rb");
    if (!in.fp) {
        std::fprintf(stdout, "Could not find input file %s\n", run.inname);
        return 3;
    }
    if (run.firstTrial) {
        if (sameFile(run.inname, run.outname)) {
            std::fprintf(stdout, "\n   Cannot overwrite input file %s\n", run.outname);
            return 4;
        }
        run.firstTrial = false;
    }
    FileCloser out;
    out.fp = std::fopen(run.workPath.c_str(), "wb");
    if (!out.fp) {
        std::fprintf(stdout, "Could not open output file %s\n", run.outname);
        return 5;
    }
    const bool ok = recode(run, method, in.fp, out.fp);
    in.close();
    const bool flushed = std::fflush(out.fp) == 0;
    out.close();
    if (!ok) return 6;
    if (!flushed) {
        std::fprintf(stdout, "Could not open output file %s\n", run.outname);
        return 5;
    }
    FileCloser check;
    check.fp = std::fopen(run.workPath.c_str(), "rb");
    if (!check.fp) {
        std::fprintf(stdout, "Could not find output file %s\n", run.outname);
        return 7;
    }
    RunState probe;  // measuring the output must not disturb the input's flags
    probe.inname = run.outname;
    run.idatLength[size_t(method)] = measure_idats(probe, check.fp);
    std::fprintf(stdout, "   IDAT length with method %3d (fm %d zl %d zs %d) = %8lu\n", method, run.fm[method],
                 run.lv[method], run.zs[method], (unsigned long)run.idatLength[size_t(method)]);
    return 0;
}

// Byte copy of the input into the work file.
int copyInput(RunState& run) {
    FileCloser in;
    in.fp = std::fopen(run.inname, "rb");
    if (!in.fp) {
        std::fprintf(stdout, "Could not find input file %s\n", run.inname);
        return 3;
    }
    FileCloser out;
    out.fp = std::fopen(run.workPath.c_str(), "wb");
    if (!out.fp) {
        std::fprintf(stdout, "Could not open output file %s\n", run.outname);
        return 5;
    }
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, in.fp)) > 0) {
        if (std::fwrite(buf, 1, n, out.fp) != n) {
            std::fprintf(stdout, "Could not open output file %s\n", run.outname);
            return 5;
        }
    }
    if (std::ferror(in.fp)) {
        std::fprintf(stdout, "Could not find input file %s\n", run.inname);
        return 3;
    }
    if (std::fflush(out.fp) != 0) return 5;
    return 0;
}

void printChange(const char* what, double before, double after, const char* tail) {
    if (before == after) {
        std::fprintf(stdout, "     (no %s change)\n%s", what, tail);
        return;
    }
    const double p = before > 0 ? 100.0 - after * 100.0 / before : 0.0;
    if (p > 0) std::fprintf(stdout, "     (%4.2f%% %s reduction)\n%s", p, what, tail);
    else std::fprintf(stdout, "     (%4.2f%% %s increase)\n%s", -p, what, tail);
}

void report(RunState& run, int best) {
    if (best == 0) {
        std::fprintf(stdout, "   Best optimiser method = 0 (settings undetermined) for %s\n", run.outname);
    } else {
        std::fprintf(stdout, "   Best optimiser method = %d (fm %d zl %d zs %d)\nfor %s\n", best, run.fm[best],
                     run.lv[best], run.zs[best], run.outname);
    }
    printChange("IDAT", double(run.idatLength[0]), double(run.idatLength[size_t(best)] == kUntried
                                                              ? run.idatLength[0] : run.idatLength[size_t(best)]), "");
    const long long inSize = fileSize(run.inname);
    const long long outSize = fileSize(run.workPath.c_str()) >= 0 ? fileSize(run.workPath.c_str()) : inSize;
    printChange("filesize", double(inSize), double(outSize), "\n");
    show_result(run);
}

}  // namespace

namespace pngopt {

bool keep_chunk(const char* chunkType) { return chunkType != nullptr; }

bool keep_unknown_chunk(const char* chunkType) { return chunkType != nullptr; }

void pngopt_pause() {}

void print_usage(std::FILE* out) {
    if (!out) return;
    std::fprintf(out,
                 "\nUsage: processPNG(input, output, method, memory level)\n"
                 "   input         the PNG file whose image data is recompressed; it is only read\n"
                 "   output        the file written: the recompressed image, or a copy of the input\n"
                 "                 when recompressing does not make it smaller; a name ending in\n"
                 "                 \".apng\" keeps animation chunks (must differ from the input)\n"
                 "   method        1 to %d: one row filter, zlib level and zlib strategy from the\n"
                 "                 method table (%d: filter Up, level 7, filtered strategy)\n"
                 "   memory level  zlib's memory level, 1 (least memory) to 9 (fastest)\n"
                 "   Returns 0 when the output was written, non-zero otherwise.\n\n",
                 kMaxMethods - 1, kPngOptimiserBatchMethod);
}

}  // namespace pngopt

int processPNG(const char* input, const char* output, int method, int memoryLevel) {
    RunState run;
    if (std::strcmp(PNG_LIBPNG_VER_STRING, png_get_libpng_ver(nullptr)) != 0) {
        std::fprintf(stdout, "Warning: versions are different between png.h and png.c\n");
        std::fprintf(stdout, "  png.h version: %s\n", PNG_LIBPNG_VER_STRING);
        std::fprintf(stdout, "  png.c version: %s\n\n", png_get_libpng_ver(nullptr));
    }
    run.lastTick = clock();
    buildMethodTable(run);
    run.inname = input ? input : "";
    run.outname = output ? output : "";
    print_version_info();
    if (method < 0 || method >= kMaxMethods || !input || !output || !*input || !*output) {
        std::fprintf(stdout, "Invalid method or file name\n");
        std::fflush(stdout);
        return 1;
    }
    run.tryMethod[size_t(method)] = true;
    run.memoryLevel = memoryLevel;
    run.keepAnimation = endsWith(run.outname, "apng");

    // ---- measure the input ----
    {
        FileCloser in;
        in.fp = std::fopen(run.inname, "rb");
        if (!in.fp) {
            std::fprintf(stdout, "Could not find file: %s\n", run.inname);
            std::fflush(stdout);
            return 1;
        }
        run.idatLength[0] = measure_idats(run, in.fp);
    }
    std::fprintf(stdout, "   Recompressing %s\n", run.inname);
    std::fprintf(stdout, "   Total length of data found in IDAT chunks    = %8lu\n", (unsigned long)run.idatLength[0]);
    if (run.idatLength[0] == 0) {
        std::fflush(stdout);
        return 2;
    }
    if (run.alreadyOptimised || run.imageIsImmutable) {
        if (run.alreadyOptimised) std::fprintf(stdout, "   File %s has already been optimised.\n", run.inname);
        else std::fprintf(stdout, "   Image %s has a dSIG chunk and is immutable.\n", run.inname);
        report(run, 0);
        std::fflush(stdout);
        return 8;
    }

    // The trials write a private file beside the output; it replaces the output only
    // when the run succeeds.
    std::string workTemplate = std::string(run.outname) + ".XXXXXX";
    std::vector<char> work(workTemplate.begin(), workTemplate.end());
    work.push_back('\0');
    const int fd = ::mkstemp(work.data());
    if (fd < 0) {
        std::fprintf(stdout, "Could not open output file %s\n", run.outname);
        std::fflush(stdout);
        return 5;
    }
    ::close(fd);
    run.workPath = work.data();
    struct WorkFile {
        std::string path;
        bool keep = false;
        ~WorkFile() {
            if (!keep) ::unlink(path.c_str());
        }
    } workFile{run.workPath};

    int rc = runTrial(run, method);
    if (rc != 0) {
        std::fflush(stdout);
        return rc;
    }

    // ---- choose the best ----
    int best = run.thingsHaveChanged ? 1 : 0;
    png_uint_32 bestLength = run.idatLength[size_t(best)];
    bool tookEqual = false;
    for (int m = best + 1; m < kMaxMethods; ++m) {
        const png_uint_32 len = run.idatLength[size_t(m)];
        if (len < bestLength) {
            best = m;
            bestLength = len;
        } else if (best == 0 && len == bestLength && !tookEqual) {
            best = m;
            tookEqual = true;
        }
    }

    // ---- settle the output ----
    if (bestLength == run.idatLength[0] && !run.thingsHaveChanged && bestLength != run.idatLength[size_t(method)]) {
        rc = copyInput(run);
    } else if (bestLength == run.idatLength[size_t(method)]) {
        rc = 0;
    } else {
        rc = runTrial(run, best);
    }
    if (rc != 0) {
        std::fflush(stdout);
        return rc;
    }
    // Kept chunks can cost a few bytes more than they did in the input; the output is
    // never allowed to be larger than what it replaces.
    if (fileSize(run.workPath.c_str()) > fileSize(run.inname)) {
        rc = copyInput(run);
        if (rc != 0) {
            std::fflush(stdout);
            return rc;
        }
        best = 0;
    }

    report(run, best);
    if (std::rename(run.workPath.c_str(), run.outname) != 0) {
        std::fprintf(stdout, "Could not open output file %s\n", run.outname);
        std::fflush(stdout);
        return 5;
    }
    workFile.keep = true;
    ::chmod(run.outname, 0644);
    std::fflush(stdout);
    return 0;
}
