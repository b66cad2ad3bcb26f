#include "platform/graphics/RowStorage.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

namespace platform {
namespace {

struct Mapping {
    void* data;
    size_t size;
};

void unmap(void* info) {
    auto* m = static_cast<Mapping*>(info);
    munmap(m->data, m->size);
    delete m;
}

size_t pageSize() {
    static const size_t size = size_t(sysconf(_SC_PAGESIZE));
    return size;
}

}  // namespace

QImage picturePagedByRows(int width, int height, QImage::Format format) {
    if (width <= 0 || height <= 0) return QImage();
    const qsizetype bytesPerLine = qsizetype(width) * 4;
    const size_t size = size_t(bytesPerLine) * size_t(height);
    if (size / size_t(height) != size_t(bytesPerLine)) return QImage();
    void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (data == MAP_FAILED) return QImage();
    auto* mapping = new Mapping{data, size};
    QImage picture(static_cast<uchar*>(data), width, height, bytesPerLine, format, unmap, mapping);
    if (picture.isNull()) unmap(mapping);
    return picture;
}

void giveBackRows(const uchar* bits, qsizetype bytesPerLine, int first, int end) {
    first = std::max(first, 0);
    if (!bits || first >= end) return;
    const auto from = reinterpret_cast<uintptr_t>(bits) + uintptr_t(bytesPerLine) * uintptr_t(first);
    const auto to = from + uintptr_t(bytesPerLine) * uintptr_t(end - first);
    const uintptr_t page = pageSize();
    const uintptr_t start = (from + page - 1) / page * page, stop = to / page * page;
    if (start < stop) madvise(reinterpret_cast<void*>(start), stop - start, MADV_DONTNEED);
}

}  // namespace platform
