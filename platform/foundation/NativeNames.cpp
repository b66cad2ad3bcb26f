#include "platform/foundation/NativeNames.h"

#include <QFile>
#include <QSysInfo>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr char16_t kKeptByteBase = 0xDC00;

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the valid UTF-8 sequence starting at `i`, or 0 when the byte there starts none
// (overlong forms, surrogates and values above U+10FFFF are not valid).
int validSequenceAt(const QByteArray& s, qsizetype i) {
    const auto at = [&](qsizetype k) { return static_cast<unsigned char>(s.at(k)); };
    const unsigned char c = at(i);
    const qsizetype left = s.size() - i;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) return left >= 2 && isContinuation(at(i + 1)) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (left < 3 || !isContinuation(at(i + 1)) || !isContinuation(at(i + 2))) return 0;
        if (c == 0xE0 && at(i + 1) < 0xA0) return 0;   // overlong
        if (c == 0xED && at(i + 1) >= 0xA0) return 0;  // a surrogate
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (left < 4 || !isContinuation(at(i + 1)) || !isContinuation(at(i + 2)) || !isContinuation(at(i + 3)))
            return 0;
        if (c == 0xF0 && at(i + 1) < 0x90) return 0;  // overlong
        if (c == 0xF4 && at(i + 1) >= 0x90) return 0;  // above U+10FFFF
        return 4;
    }
    return 0;
}

bool isKeptByte(QChar c) { return c.unicode() >= kKeptByteBase + 0x80 && c.unicode() <= kKeptByteBase + 0xFF; }

}  // namespace

QString decodePath(const QByteArray& native) {
    QString out;
    out.reserve(native.size());
    qsizetype run = 0;  // start of the valid stretch not yet copied
    qsizetype i = 0;
    while (i < native.size()) {
        const int n = validSequenceAt(native, i);
        if (n > 0) {
            i += n;
            continue;
        }
        out += QString::fromUtf8(native.constData() + run, i - run);
        out += QChar(char16_t(kKeptByteBase + static_cast<unsigned char>(native.at(i))));
        run = ++i;
    }
    out += QString::fromUtf8(native.constData() + run, native.size() - run);
    return out;
}

QByteArray encodePath(const QString& path) {
    if (!hasKeptBytes(path)) return path.toUtf8();
    QByteArray out;
    out.reserve(path.size() * 2);
    qsizetype run = 0;
    for (qsizetype i = 0; i < path.size(); ++i) {
        // A low surrogate after a high one is half of a character, not a kept byte.
        if (!isKeptByte(path.at(i)) || (i > 0 && path.at(i - 1).isHighSurrogate())) continue;
        out += QStringView(path).mid(run, i - run).toUtf8();
        out += char(path.at(i).unicode() - kKeptByteBase);
        run = i + 1;
    }
    out += QStringView(path).mid(run).toUtf8();
    return out;
}

bool hasKeptBytes(const QString& path) {
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (isKeptByte(path.at(i)) && !(i > 0 && path.at(i - 1).isHighSurrogate())) return true;
    }
    return false;
}

QString displayPath(const QString& path) {
    if (!hasKeptBytes(path)) return path;
    QString out;
    for (qsizetype i = 0; i < path.size(); ++i) {
        const QChar c = path.at(i);
        if (isKeptByte(c) && !(i > 0 && path.at(i - 1).isHighSurrogate())) {
            out += QStringLiteral("\\x") + QString::number(c.unicode() - kKeptByteBase, 16).toUpper();
        } else {
            out += c;
        }
    }
    return out;
}

bool openFile(QFile& file, const QString& path, QIODevice::OpenMode mode) {
    if (path.isEmpty()) return false;
    int flags = (mode & QIODevice::WriteOnly) ? ((mode & QIODevice::ReadOnly) ? O_RDWR : O_WRONLY) : O_RDONLY;
    if (mode & QIODevice::Append) flags |= O_APPEND;
    // Without O_NONBLOCK, opening a named pipe waits for a writer; the kind is then checked
    // on what was opened, so nothing can be swapped in between.
    const int fd = ::open(encodePath(path).constData(), flags | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    // A regular file is then read and written as usual, waiting for the disk.
    const bool ready = regular && ::fcntl(fd, F_SETFL, flags) == 0 &&
                       (!(mode & QIODevice::Truncate) || ::ftruncate(fd, 0) == 0);
    if (ready && file.open(fd, mode, QFileDevice::AutoCloseHandle)) return true;
    ::close(fd);
    return false;
}

bool isSpecialFile(const QString& path) {
    struct stat st {};
    return !path.isEmpty() && ::stat(encodePath(path).constData(), &st) == 0 && !S_ISREG(st.st_mode) &&
           !S_ISDIR(st.st_mode);
}

std::optional<QList<FolderEntry>> readFolderEntries(const QString& folder) {
    const QByteArray native = encodePath(folder);
    DIR* dir = ::opendir(native.isEmpty() ? "." : native.constData());
    if (!dir) return std::nullopt;
    QList<FolderEntry> entries;
    const int fd = ::dirfd(dir);
    while (const dirent* e = ::readdir(dir)) {
        const char* name = e->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
        FolderEntry entry{decodePath(QByteArray(name))};
        entry.isDirectory = e->d_type == DT_DIR;
        entry.isRegularFile = e->d_type == DT_REG;
        if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
            struct stat st {};
            if (e->d_type == DT_UNKNOWN && ::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0)
                entry.isSymbolicLink = S_ISLNK(st.st_mode);
            else
                entry.isSymbolicLink = e->d_type == DT_LNK;
            const bool target = ::fstatat(fd, name, &st, 0) == 0;
            entry.isDirectory = target && S_ISDIR(st.st_mode);
            entry.isRegularFile = target && S_ISREG(st.st_mode);
        }
        entries.append(entry);
    }
    ::closedir(dir);
    return entries;
}

QStringList localPathsFromUriList(const QByteArray& uriList) {
    QStringList paths;
    for (QByteArray line : uriList.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#')) continue;
        if (line.size() < 5 || qstrnicmp(line.constData(), "file:", 5) != 0) continue;
        QByteArray rest = line.mid(5);
        if (rest.startsWith("//")) {
            // file://host/path: this machine's own files only.
            const qsizetype slash = rest.indexOf('/', 2);
            if (slash < 0) continue;
            const QByteArray host = QByteArray::fromPercentEncoding(rest.mid(2, slash - 2));
            if (!host.isEmpty() && host.compare("localhost", Qt::CaseInsensitive) != 0 &&
                host.compare(QSysInfo::machineHostName().toUtf8(), Qt::CaseInsensitive) != 0)
                continue;
            rest = rest.mid(slash);
        }
        if (!rest.startsWith('/')) continue;
        // An address's query or fragment is no part of a file's name.
        for (const char delimiter : {'?', '#'}) {
            const qsizetype at = rest.indexOf(delimiter);
            if (at >= 0) rest.truncate(at);
        }
        const QByteArray bytes = QByteArray::fromPercentEncoding(rest);
        if (bytes.contains('\0')) continue;
        paths.append(decodePath(bytes));
    }
    return paths;
}

QUrl fileUrl(const QString& path) {
    return QUrl::fromEncoded(QByteArray("file://") + encodePath(path).toPercentEncoding("/"), QUrl::StrictMode);
}

ReadablePath::ReadablePath(const QString& path) {
    if (!hasKeptBytes(path)) {
        readable_ = path;
        return;
    }
    fd_ = ::open(encodePath(path).constData(), O_PATH | O_CLOEXEC);
    if (fd_ >= 0) readable_ = QStringLiteral("/proc/self/fd/") + QString::number(fd_);
}

ReadablePath::~ReadablePath() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace platform
