#include "platform/graphics/RowStorage.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <vector>

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

// The pages move and their old range stays mapped (reading as zero): a range left unmapped
// could be handed to any other mapping of the process meanwhile, which the picture's own
// unmapping would then take down. Kernels before 5.7 refuse the move, and the pages are
// given back instead.
#ifdef MREMAP_DONTUNMAP
constexpr int kKeepOldRange = MREMAP_DONTUNMAP;
#else
constexpr int kKeepOldRange = 4;
#endif

size_t pageSize() {
    static const size_t size = size_t(sysconf(_SC_PAGESIZE));
    return size;
}

}  // namespace

QImage picturePagedByRows(int width, int height, QImage::Format format) {
    if (width <= 0 || height <= 0) return QImage();
    const int bits = QImage::toPixelFormat(format).bitsPerPixel();
    if (bits != 32 && bits != 24) return QImage();
    const qsizetype bytesPerLine = (qsizetype(width) * (bits / 8) + 3) / 4 * 4;
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

RowPages::RowPages(const QImage& picture)
    : base_(reinterpret_cast<uintptr_t>(picture.constBits())),
      end_(base_ + uintptr_t(picture.bytesPerLine()) * uintptr_t(std::max(0, picture.height()))),
      bytesPerLine_(picture.bytesPerLine()) {}

void RowPages::reuse(int first, int end, int written, int wanted) {
    first = std::max(first, 0);
    if (!base_ || first >= end) return;
    const uintptr_t page = pageSize();
    const auto up = [page](uintptr_t a) { return (a + page - 1) / page * page; };
    const uintptr_t from = up(base_ + uintptr_t(bytesPerLine_) * uintptr_t(first));
    const uintptr_t to = (base_ + uintptr_t(bytesPerLine_) * uintptr_t(end)) / page * page;
    if (from >= to) return;
    // Past every byte written and every page already moved there: untouched pages, which
    // a move replaces.
    uintptr_t target = std::max(moved_, up(base_ + uintptr_t(bytesPerLine_) * uintptr_t(std::max(written, end))));
    const uintptr_t limit =
        std::min(end_, base_ + uintptr_t(bytesPerLine_) * uintptr_t(std::max(wanted, 0))) / page * page;
    // The kernel moves pages within one piece of the mapping at a time, and every move
    // leaves a piece of its own: the range goes piece by piece.
    cuts_.erase(std::remove_if(cuts_.begin(), cuts_.end(), [&](uintptr_t c) { return c <= from; }), cuts_.end());
    std::sort(cuts_.begin(), cuts_.end());
    uintptr_t at = from;
    for (size_t i = 0; at < to; ++i) {
        const uintptr_t stop = i < cuts_.size() ? std::min(cuts_[i], to) : to;
        if (stop <= at) continue;
        const size_t length = stop - at;
        if (target + length <= limit &&
            mremap(reinterpret_cast<void*>(at), length, length, MREMAP_MAYMOVE | MREMAP_FIXED | kKeepOldRange,
                   reinterpret_cast<void*>(target)) != MAP_FAILED) {
            cuts_.push_back(target);
            cuts_.push_back(target + length);
            target += length;
            moved_ = target;
        } else {
            madvise(reinterpret_cast<void*>(at), length, MADV_DONTNEED);
        }
        at = stop;
    }
}

}  // namespace platform
