#pragma once
// A look at PNG data before any PNG decoder is given it: a chunk that declares more
// bytes than the data holds would otherwise be allocated (and zeroed) at its declared
// size before the read fails, and a 44-byte file can declare 2 GB.
#include <QString>
#include <cstddef>
#include <cstdint>

namespace platform {

// True when the data starts with the PNG signature and an image header whose size is
// within maxSide on each side and maxPixels in all, and every chunk up to the first
// image-data chunk declares no more bytes than follow it. Otherwise false and, when
// `why` is given, the reason.
bool pngChunksFitData(const char* data, size_t size, int64_t maxPixels, int64_t maxSide, QString* why = nullptr);

}  // namespace platform
