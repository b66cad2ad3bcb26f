#pragma once
// The picture generator: every picture the application loads by name from its resources
// (textures, frame designs and their pieces, stickers, category and effect pictures, the
// sample, mask and placeholder pictures) is drawn here, deterministically: fixed seeds, our
// own noise, no clocks, fixed encoder settings. Same bytes on every build.
#include <QColor>
#include <QImage>
#include <QList>
#include <QString>
#include <cmath>
#include <cstdint>
#include <functional>

namespace gen {

struct Job {
    QString fileName;              // as the application looks it up
    std::function<QImage()> make;  // draws the picture
};

// --- deterministic randomness ---
inline uint32_t hash3(int32_t x, int32_t y, uint32_t seed) {
    uint32_t h = seed * 0x9E3779B1u ^ uint32_t(x) * 0x85EBCA77u ^ uint32_t(y) * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}
inline float rand01(int32_t x, int32_t y, uint32_t seed) { return float(hash3(x, y, seed) >> 8) / float(1u << 24); }

// A small sequence generator for placing shapes.
class Rng {
public:
    explicit Rng(uint64_t seed) : s_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint64_t next() {
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double uniform() { return double(next() >> 11) / double(1ull << 53); }
    double range(double a, double b) { return a + (b - a) * uniform(); }
    int below(int n) { return n > 0 ? int(next() % uint64_t(n)) : 0; }

private:
    uint64_t s_;
};

// Value noise in [0, 1) with smooth interpolation. A period above 0 makes it repeat along
// that axis every `period` units, which is what lets frame edges tile without seams.
float valueNoise(float x, float y, uint32_t seed, int periodX = 0, int periodY = 0);
// Sum of octaves of value noise, normalised to [0, 1).
float fbm(float x, float y, uint32_t seed, int octaves, int periodX = 0, int periodY = 0);

inline float clamp01(float v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }
inline float mix(float a, float b, float t) { return a + (b - a) * t; }
inline float smooth(float e0, float e1, float x) {
    const float t = clamp01((x - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}
inline QRgb rgbaF(float r, float g, float b, float a = 1.f) {
    auto q = [](float v) { return int(std::lround(clamp01(v) * 255.f)); };
    return qRgba(q(r), q(g), q(b), q(a));
}

QImage newImage(int w, int h, QColor fill = Qt::transparent);

// --- the families ---
QList<Job> textureJobs();
QList<Job> frameJobs();
QList<Job> stickerJobs();
QList<Job> pictureJobs();

// Shared drawings used by several families.
QImage samplePicture(int w, int h);        // the generated sample photo (landscape with birds)
QImage secondSamplePicture(int w, int h);  // a second scene, for two-image filters
QImage stickerPicture(const QString& set, int index, int size);
QImage texturePicture(const QString& set, int index);
// The eight pieces of a frame design ("ClassicFrame3"), top-left to bottom-right.
QList<QImage> framePieces(const QString& design, int pieceSize);
// The frame drawn around a picture with the nine-part rule, as the engine lays it.
QImage framedPicture(const QImage& photo, const QList<QImage>& pieces, int thickness);

}  // namespace gen
