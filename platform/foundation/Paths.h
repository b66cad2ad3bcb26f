#pragma once
// Path strings with the platform's path rules: "/" is the only separator, runs of "/"
// count as one, a trailing "/" is ignored (except for the root itself), and an extension
// is the text after the last "." of the last component unless that "." opens the
// component (".hidden" has none). These are string operations only; nothing is looked up
// on disk and nothing is resolved.
#include <QString>

namespace platform {

// "/tmp/scratch.tiff" -> "scratch.tiff"; "/tmp/" -> "tmp"; "/" -> "/"; "" -> "".
QString lastPathComponent(const QString& path);
// "a.tar.gz" -> "gz"; "noext" -> ""; ".hidden" -> ""; "/tmp/" -> ""; "a." -> "".
QString pathExtension(const QString& path);
// "/tmp/scratch.tiff" -> "/tmp/scratch"; "/tmp/" -> "/tmp"; ".hidden" -> ".hidden".
QString stringByDeletingPathExtension(const QString& path);
// "/tmp/scratch.tiff" -> "/tmp"; "/tmp" -> "/"; "/" -> "/"; "scratch" -> "".
QString stringByDeletingLastPathComponent(const QString& path);
// "/tmp" + "a.png" -> "/tmp/a.png"; "/" + "a" -> "/a"; "" + "a" -> "a".
QString stringByAppendingPathComponent(const QString& path, const QString& component);
// "/tmp/a" + "png" -> "/tmp/a.png"; "/tmp/" + "png" -> "/tmp.png". A path with no
// component to take an extension ("" or "/") gives an empty string.
QString stringByAppendingPathExtension(const QString& path, const QString& extension);
// Collapses runs of "/" and drops a trailing "/" (the root stays "/").
QString stringByFixingSlashes(const QString& path);

}  // namespace platform
