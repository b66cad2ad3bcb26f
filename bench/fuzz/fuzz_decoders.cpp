// Every decoder behind readImageFromData, chosen by the data's own leading bytes, with a
// small pixel budget so the fuzzer explores parsing rather than allocation.
#include "platform/imageio/ImageIO.h"

#include <QByteArray>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    platform::DecodeOptions options;
    options.pixelBudget = 4 * 1024 * 1024;
    // The first byte picks a reduced decode now and then, which takes other code paths.
    if (size > 0 && (data[size - 1] & 1)) options.minLongSide = 64;
    const QImage image = platform::readImageFromData(bytes, options, QStringLiteral("fuzz"));
    if (!image.isNull() && (image.width() <= 0 || image.height() <= 0)) __builtin_trap();
    platform::readImageHeaderFromData(bytes);
    return 0;
}
