#include "platform/foundation/Paths.h"

namespace platform {

QString stringByFixingSlashes(const QString& path) {
    QString out;
    out.reserve(path.size());
    for (QChar c : path) {
        if (c == u'/' && out.endsWith(u'/')) continue;
        out.append(c);
    }
    if (out.size() > 1 && out.endsWith(u'/')) out.chop(1);
    return out;
}

QString lastPathComponent(const QString& path) {
    const QString p = stringByFixingSlashes(path);
    if (p.size() <= 1) return p;
    const qsizetype slash = p.lastIndexOf(u'/');
    return slash < 0 ? p : p.mid(slash + 1);
}

namespace {
// Index of the "." that starts the extension within p (already fixed), or -1.
qsizetype extensionDot(const QString& p) {
    const qsizetype start = p.lastIndexOf(u'/') + 1;
    const qsizetype dot = p.lastIndexOf(u'.');
    if (dot <= start) return -1;  // no dot in the component, or it opens the component
    return dot;
}
}  // namespace

QString pathExtension(const QString& path) {
    const QString p = stringByFixingSlashes(path);
    if (p.size() <= 1) return {};
    const qsizetype dot = extensionDot(p);
    return dot < 0 ? QString() : p.mid(dot + 1);
}

QString stringByDeletingPathExtension(const QString& path) {
    const QString p = stringByFixingSlashes(path);
    if (p.size() <= 1) return p;
    const qsizetype dot = extensionDot(p);
    return dot < 0 ? p : p.left(dot);
}

QString stringByDeletingLastPathComponent(const QString& path) {
    const QString p = stringByFixingSlashes(path);
    if (p == u"/") return p;
    const qsizetype slash = p.lastIndexOf(u'/');
    if (slash < 0) return {};
    if (slash == 0) return QStringLiteral("/");
    return p.left(slash);
}

QString stringByAppendingPathComponent(const QString& path, const QString& component) {
    if (path.isEmpty()) return stringByFixingSlashes(component);
    if (component.isEmpty()) return stringByFixingSlashes(path);
    return stringByFixingSlashes(path + u'/' + component);
}

QString stringByAppendingPathExtension(const QString& path, const QString& extension) {
    const QString p = stringByFixingSlashes(path);
    if (p.isEmpty() || p == u"/") return {};
    if (extension.isEmpty()) return p;
    return p + u'.' + extension;
}

}  // namespace platform
