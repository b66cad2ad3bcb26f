#pragma once
// The engine object: one per process (sharedUtils). Its operations are spread over several
// source files by family; each family keeps its declarations in its own section below.
#include <QImage>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>
#include <memory>

class Utils {
public:
    static Utils& sharedUtils();

    // ---- Image loading, scaling, orientation, thumbnails and output writing ----

    // ---- Core Image set-up, the dispatcher and the program's own effects ----

    // ---- Text, date and image overlays, frames, textures ----

private:
    Utils() = default;
    Utils(const Utils&) = delete;
    Utils& operator=(const Utils&) = delete;
};
