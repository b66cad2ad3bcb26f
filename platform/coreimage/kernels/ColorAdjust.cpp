// Per-pixel colour filters. Each works on straight (unpremultiplied) RGBA and keeps its
// input's extent; chains of them fuse into one pass (kernels/Node.h).
#include "platform/coreimage/kernels/KernelSupport.h"

namespace platform::ci {

void registerColorFilters() {
    registerFilter({"CISepiaTone", "Sepia Tone", {kCICategoryColorEffect, kCICategoryVideo, kCICategoryInterlaced, kCICategoryNonSquarePixels},
        {imageInput(), numberInput(kCIInputIntensityKey, kCIAttributeTypeScalar, 1.0, 0.0, 1.0, std::nullopt, std::nullopt, 0.0)},
        [](const CIFilterArgs& a) {
            const float k = float(a.number(kCIInputIntensityKey));
            return colorFilter(a, [k](float* p, int n) {
                for (int i = 0; i < n; ++i, p += 4) {
                    const float r = p[0], g = p[1], b = p[2];
                    const float sr = 0.393f * r + 0.769f * g + 0.189f * b;
                    const float sg = 0.349f * r + 0.686f * g + 0.168f * b;
                    const float sb = 0.272f * r + 0.534f * g + 0.131f * b;
                    p[0] = r + k * (sr - r), p[1] = g + k * (sg - g), p[2] = b + k * (sb - b);
                }
            });
        }});
}

}  // namespace platform::ci
