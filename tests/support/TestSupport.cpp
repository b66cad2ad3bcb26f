#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QBuffer>
#include <QMap>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QPainter>
#include <QTemporaryFile>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <fcntl.h>
#include <ftw.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/foundation/NativeNames.h"
#include "platform/foundation/Plist.h"

namespace testsupport {

static QString g_family;

void pinFont() {
    const char* candidates[] = {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"};
    for (const char* path : candidates) {
        int id = QFontDatabase::addApplicationFont(QString::fromUtf8(path));
        if (id >= 0) {
            const QStringList families = QFontDatabase::applicationFontFamilies(id);
            if (!families.isEmpty()) {
                g_family = families.first();
                QFont f(g_family, 12);
                QApplication::setFont(f);
                return;
            }
        }
    }
}

QString pinnedFontFamily() { return g_family.isEmpty() ? QStringLiteral("DejaVu Sans") : g_family; }

QImage quadrantImage(int width, int height) {
    QImage img(width, height, QImage::Format_ARGB32);
    const int hw = width / 2, hh = height / 2;
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < width; ++x) {
            QRgb c;
            if (y < hh) c = x < hw ? qRgb(255, 0, 0) : qRgb(0, 255, 0);
            else c = x < hw ? qRgb(0, 0, 255) : qRgb(255, 255, 255);
            line[x] = c;
        }
    }
    return img;
}

QImage gradientImage(int width, int height) {
    QImage img(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < width; ++x) {
            int r = width > 1 ? x * 255 / (width - 1) : 0;
            int g = height > 1 ? y * 255 / (height - 1) : 0;
            int b = ((x / 8 + y / 8) % 2) ? 200 : 60;
            line[x] = qRgb(r, g, b);
        }
    }
    return img;
}

QString writeFile(const QString& path, const QByteArray& bytes) {
    if (platform::hasKeptBytes(path)) {
        // Folders and file made by the bytes of their names: Qt would make other names.
        const QByteArray native = platform::encodePath(path);
        for (qsizetype at = native.indexOf('/', 1); at > 0; at = native.indexOf('/', at + 1))
            ::mkdir(native.left(at).constData(), 0777);
        if (FILE* f = std::fopen(native.constData(), "wb")) {
            std::fwrite(bytes.constData(), 1, size_t(bytes.size()), f);
            std::fclose(f);
        }
        return path;
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(bytes);
    return path;
}

QByteArray readFile(const QString& path) {
    QFile f;
    return platform::openFile(f, path) ? f.readAll() : QByteArray();
}

int runTool(const QString& program, const QStringList& arguments, QByteArray* output) {
    std::vector<QByteArray> encoded{QFile::encodeName(program)};
    for (const QString& argument : arguments) encoded.push_back(QFile::encodeName(argument));
    std::vector<char*> argv;
    for (QByteArray& a : encoded) argv.push_back(a.data());
    argv.push_back(nullptr);
    QTemporaryFile said;
    if (!said.open()) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, int(said.handle()), 1);
    posix_spawn_file_actions_adddup2(&actions, int(said.handle()), 2);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (output) *output = said.readAll();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void removeTree(const QString& folder) {
    // Deepest first, links not followed; what cannot be removed is passed over.
    const auto remove = [](const char* path, const struct stat*, int, struct FTW*) {
        std::remove(path);
        return 0;
    };
    ::nftw(platform::encodePath(folder).constData(), remove, 16, FTW_DEPTH | FTW_PHYS);
}

QVariantList parameterList(std::initializer_list<std::pair<QString, QVariant>> entries) {
    QVariantList l;
    for (const auto& [k, v] : entries) l.append(QVariantMap{{k, v}});
    return l;
}

CommaLocale::CommaLocale() : previous_(QLocale()) {
    for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE", "fr_FR"}) {
        if (std::setlocale(LC_ALL, name)) { active_ = true; break; }
    }
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
}

CommaLocale::~CommaLocale() {
    std::setlocale(LC_ALL, "C");
    QLocale::setDefault(previous_);
}

bool isArchiveReference(const QVariant& value) { return value.userType() == qMetaTypeId<platform::PlistUid>(); }

QVariantMap archivedRootObject(const QByteArray& archive) {
    const QVariantMap root = platform::plistFromData(archive).toMap();
    const QVariant top = root.value(QStringLiteral("$top")).toMap().value(QStringLiteral("root"));
    if (!isArchiveReference(top)) return {};
    return root.value(QStringLiteral("$objects")).toList().value(qsizetype(top.value<platform::PlistUid>().value)).toMap();
}

QSet<QString> archivedClassNames(const QByteArray& archive) {
    QSet<QString> names;
    const QVariantList objects = platform::plistFromData(archive).toMap().value(QStringLiteral("$objects")).toList();
    for (const QVariant& o : objects) {
        const QVariant name = o.toMap().value(QStringLiteral("$classname"));
        if (name.typeId() == QMetaType::QString) names << name.toString();
    }
    return names;
}

QByteArray withArchivedPicturesReplaced(const QByteArray& archive, const QByteArray& png) {
    QVariantMap root = platform::plistFromData(archive).toMap();
    QVariantList objects = root.value(QStringLiteral("$objects")).toList();
    for (QVariant& o : objects)
        if (o.typeId() == QMetaType::QByteArray && o.toByteArray().startsWith("\x89PNG")) o = png;
    root.insert(QStringLiteral("$objects"), objects);
    return platform::plistToData(root, platform::PlistFormat::Binary);
}

QStringList keptAsideFiles(const QString& folder) {
    QStringList out;
    for (const QFileInfo& f : QDir(folder).entryInfoList({QStringLiteral("* unreadable *.plist")}, QDir::Files))
        out << f.absoluteFilePath();
    return out;
}

QByteArray flatPng(int width, int height) {
    static QMap<QPair<int, int>, QByteArray> made;
    QByteArray& png = made[{width, height}];
    if (png.isEmpty()) {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(QColor(200, 40, 90));
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
    }
    return png;
}

NamedPipe::NamedPipe(const QString& path, int patienceMs) : path_(path) {
    const QByteArray name = platform::encodePath(path);
    made_ = ::mkfifo(name.constData(), 0600) == 0;
    if (!made_) return;
    watch_ = std::thread([this, name, patienceMs] {
        for (int waited = 0; waited < patienceMs && !done_; waited += 20)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        while (!done_) {
            // Succeeds only while a reader has the pipe open (or waits to).
            const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                released_ = true;
                ::close(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
}

NamedPipe::~NamedPipe() {
    done_ = true;
    if (watch_.joinable()) watch_.join();
}

}  // namespace testsupport
