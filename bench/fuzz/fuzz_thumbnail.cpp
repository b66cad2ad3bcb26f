// The thumbnail path from a file: header reading, reduced decoding and orientation.
#include "platform/imageio/ImageIO.h"

#include <QFile>
#include <QTemporaryFile>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryFile* file = [] {
        auto* f = new QTemporaryFile;
        f->open();
        return f;
    }();
    file->resize(0);
    file->seek(0);
    file->write(reinterpret_cast<const char*>(data), qint64(size));
    file->flush();
    const platform::ImageHeader header = platform::readImageHeader(file->fileName());
    // Thumbnails of headers that declare more than a few megapixels are left to the
    // decoder fuzzer, which runs with a small budget.
    if (header.valid() && int64_t(header.width) * header.height <= 4 * 1024 * 1024) {
        const QImage t = platform::makeThumbnail(file->fileName(), 48, 48);
        if (!t.isNull() && (t.width() > 48 || t.height() > 48)) __builtin_trap();
    }
    return 0;
}
