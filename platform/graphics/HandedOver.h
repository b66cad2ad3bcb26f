#pragma once
// Pictures handed over (QImage&&) to be changed in their own storage: the effects that
// render into the photo they are given, and the writer, which gives a picture its colour
// profile. A whole photo is the largest thing a run holds; these paths keep it held once.
#include <QImage>
#include <QStringView>

namespace platform {

// Whether a picture handed over is the one holder of its pixels (a null picture holds
// none). One still held elsewhere, by a copy kept somewhere on the way, would be copied
// whole by its first change: a second full-size picture beside the one the run's memory
// budget counts. It is then not changed in place (its holders keep their picture as it
// is; the path works from a new one), and the slip is logged, naming `handedTo`.
bool holdsPixelsAlone(const QImage& picture, QStringView handedTo);

}  // namespace platform
