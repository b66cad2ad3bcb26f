// Kills a batch run in move mode at random moments and checks that no photo is lost.
//
//   bench_kill <bench_batch program> [rounds] [photos] [seed]
//
// Each round copies the same photos (one with a name that is not UTF-8, one with a name of
// 240 bytes) into a fresh folder, starts bench_batch on them in move mode with a Trash of the
// round's own, kills it (SIGKILL) after a random time between nothing and a little more than
// a whole run takes, and checks every source: either unchanged in its place, or in the Trash
// unchanged with an information file that leads back to its place and with its complete
// output (it decodes, at the size the recipe gives). A second, uninterrupted run on what is
// left then must leave no temporary file in the output folder. Prints the tally; exits 1
// when a photo was lost or a Trash entry or output is incomplete.
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <ftw.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/foundation/NativeNames.h"
#include "platform/imageio/ImageIO.h"

namespace {

constexpr int kWidth = 2400, kHeight = 1600, kOutputWidth = 1200;

QByteArray nativeOf(const QString& path) { return platform::encodePath(path); }

QByteArray readNative(const QByteArray& path) {
    QByteArray bytes;
    if (FILE* f = std::fopen(path.constData(), "rb")) {
        char buffer[1 << 16];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.append(buffer, qsizetype(n));
        std::fclose(f);
    }
    return bytes;
}

bool writeNative(const QByteArray& path, const QByteArray& bytes) {
    FILE* f = std::fopen(path.constData(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), f) == size_t(bytes.size());
    return std::fclose(f) == 0 && ok;
}

QByteArray hashOf(const QByteArray& bytes) { return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256); }

// Names (bytes) of the regular files in a folder.
QList<QByteArray> filesIn(const QByteArray& folder) {
    QList<QByteArray> names;
    if (DIR* dir = ::opendir(folder.constData())) {
        while (const dirent* e = ::readdir(dir)) {
            struct stat st {};
            if (::lstat((folder + '/' + e->d_name).constData(), &st) == 0 && S_ISREG(st.st_mode)) names << e->d_name;
        }
        ::closedir(dir);
    }
    return names;
}

QImage photoImage(int seed) {
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    QRandomGenerator random{quint32(seed)};
    QPainter p(&image);
    p.fillRect(image.rect(), QColor::fromHsv(seed * 37 % 360, 120, 200));
    for (int i = 0; i < 300; ++i) {
        p.setBrush(QColor::fromRgb(random.generate()));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(random.bounded(kWidth), random.bounded(kHeight)), 20 + random.bounded(120), 20 + random.bounded(120));
    }
    return image;
}

// Removes a folder and everything in it by the bytes of the names (QDir cannot name all of them).
void removeTree(const QByteArray& folder) {
    ::nftw(folder.constData(), [](const char* path, const struct stat*, int, FTW*) { return ::remove(path); }, 16,
           FTW_DEPTH | FTW_PHYS);
}

struct Tally {
    int inPlace = 0, inTrash = 0, lost = 0, badEntry = 0, badOutput = 0, orphanInfo = 0, temporaries = 0;
    Tally& operator+=(const Tally& o) {
        inPlace += o.inPlace;
        inTrash += o.inTrash;
        lost += o.lost;
        badEntry += o.badEntry;
        badOutput += o.badOutput;
        orphanInfo += o.orphanInfo;
        temporaries += o.temporaries;
        return *this;
    }
};

// Checks every source of a round against its fingerprint.
Tally check(const QByteArray& root, const std::map<QByteArray, QByteArray>& sources) {
    Tally t;
    const QByteArray src = root + "/src", out = root + "/out", trash = root + "/data/Trash";
    // Trash entries by the path they lead back to.
    std::map<QByteArray, QByteArray> entryFor;
    for (const QByteArray& info : filesIn(trash + "/info")) {
        if (!info.endsWith(".trashinfo")) continue;
        const QByteArray name = info.left(info.size() - 10);
        const QList<QByteArray> lines = readNative(trash + "/info/" + info).split('\n');
        QByteArray path, date;
        for (const QByteArray& line : lines) {
            if (line.startsWith("Path=")) path = QByteArray::fromPercentEncoding(line.mid(5));
            if (line.startsWith("DeletionDate=")) date = line.mid(13);
        }
        const bool complete = !lines.isEmpty() && lines.first() == "[Trash Info]" && path.startsWith('/') &&
                              QDateTime::fromString(QString::fromLatin1(date), "yyyy-MM-dd'T'HH:mm:ss").isValid();
        if (::access((trash + "/files/" + name).constData(), F_OK) != 0) {
            ++t.orphanInfo;
            continue;
        }
        if (!complete) ++t.badEntry;
        entryFor[path] = name;
    }
    for (const auto& [name, hash] : sources) {
        const QByteArray original = src + '/' + name;
        if (::access(original.constData(), F_OK) == 0) {
            if (hashOf(readNative(original)) == hash) ++t.inPlace;
            else ++t.lost;
            continue;
        }
        const auto entry = entryFor.find(original);
        if (entry == entryFor.end() || hashOf(readNative(trash + "/files/" + entry->second)) != hash) {
            ++t.lost;
            std::printf("  LOST: %s\n", qPrintable(platform::displayPath(platform::decodePath(original))));
            continue;
        }
        ++t.inTrash;
        const QByteArray output = out + '/' + name.left(name.lastIndexOf('.')) + ".jpg";
        const platform::ReadablePath readable(platform::decodePath(output));
        const QImage written = readable.path().isEmpty() ? QImage() : platform::readImage(readable.path());
        if (written.width() != kOutputWidth) {
            ++t.badOutput;
            std::printf("  in the Trash without a complete output: %s\n",
                        qPrintable(platform::displayPath(platform::decodePath(original))));
        }
    }
    for (const QByteArray& name : filesIn(out)) t.temporaries += name.contains("brisko-part-");
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <bench_batch program> [rounds] [photos] [seed]\n", argv[0]);
        return 2;
    }
    const QString program = QString::fromLocal8Bit(argv[1]);
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 50;
    const int count = std::max(3, argc > 3 ? std::atoi(argv[3]) : 12);
    QRandomGenerator random(argc > 4 ? quint32(std::atoi(argv[4])) : quint32(QDateTime::currentMSecsSinceEpoch()));

    QTemporaryDir scratch;
    const QByteArray root = nativeOf(scratch.path());
    // The photos, made once: JPEGs with a capture date, under their names' bytes.
    std::map<QByteArray, QByteArray> pool;  // name -> bytes
    const QVariantMap props{{"{Exif}", QVariantMap{{"DateTimeOriginal", "2022:07:01 12:00:00"}}}};
    for (int i = 0; i < count; ++i) {
        QByteArray name = QByteArray("IMG_") + QByteArray::number(1000 + i) + ".jpg";
        if (i == 1) name = "Caf\xe9 \xff " + QByteArray::number(i) + ".jpg";
        if (i == 2) name = QByteArray(236, 'n') + ".jpg";
        const QString made = scratch.filePath("made.jpg");
        if (!platform::writeImageFile(made, photoImage(i), platform::ImageType::JPEG, 0.9, props)) return 2;
        pool[name] = readNative(nativeOf(made));
    }
    QFile recipe(scratch.filePath("recipe.json"));
    if (!recipe.open(QIODevice::WriteOnly)) return 2;
    recipe.write(QByteArray(R"({"move": true, "outputFormat": 4, "quality": 0.8,
        "steps": [{"name": "Resize", "parameters": [{"resizedWidth": )") +
                 QByteArray::number(kOutputWidth) + R"(}, {"resizedHeight": 800}]}]})");
    recipe.close();

    const auto prepare = [&](const QByteArray& dir, std::map<QByteArray, QByteArray>* hashes) {
        removeTree(dir);
        for (const char* sub : {"/src", "/out", "/data"}) QDir().mkpath(platform::decodePath(dir + sub));
        for (const auto& [name, bytes] : pool) {
            writeNative(dir + "/src/" + name, bytes);
            (*hashes)[name] = hashOf(bytes);
        }
    };
    const auto start = [&](QProcess& run, const QByteArray& dir) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", platform::decodePath(dir + "/data"));
        run.setProcessEnvironment(env);
        run.setStandardOutputFile(QProcess::nullDevice());
        run.setStandardErrorFile(QProcess::nullDevice());
        run.start(program, {platform::decodePath(dir + "/src"), scratch.filePath("recipe.json"), platform::decodePath(dir + "/out")});
        return run.waitForStarted();
    };

    // How long a whole run takes, to spread the kills over it.
    qint64 whole = 0;
    {
        std::map<QByteArray, QByteArray> hashes;
        const QByteArray dir = root + "/calibration";
        prepare(dir, &hashes);
        QProcess run;
        QElapsedTimer clock;
        clock.start();
        if (!start(run, dir) || !run.waitForFinished(600000)) return 2;
        whole = clock.elapsed();
        const Tally t = check(dir, hashes);
        std::printf("a whole run: %lld ms for %d photos; %d in the Trash, %d lost, exit %d\n",
                    static_cast<long long>(whole), count, t.inTrash, t.lost, run.exitCode());
        if (t.inTrash != count) return 1;
    }

    Tally killed, after;
    int midRun = 0;
    for (int r = 0; r < rounds; ++r) {
        std::map<QByteArray, QByteArray> hashes;
        const QByteArray dir = root + "/round";
        prepare(dir, &hashes);
        QProcess run;
        if (!start(run, dir)) return 2;
        const qint64 delay = qint64(random.bounded(quint32(whole * 11 / 10 + 1)));
        if (!run.waitForFinished(int(delay))) {
            ::kill(pid_t(run.processId()), SIGKILL);
            run.waitForFinished(-1);
            ++midRun;
        }
        const Tally t = check(dir, hashes);
        killed += t;
        // The next run goes to the end over what is left.
        QProcess again;
        if (!start(again, dir) || !again.waitForFinished(600000)) return 2;
        const Tally u = check(dir, hashes);
        after += u;
        std::printf("round %3d: killed after %5lld ms%s: %2d in place, %2d in the Trash, %d lost, %d temporary files; "
                    "after the next run %d temporary files\n",
                    r + 1, static_cast<long long>(delay), t.inPlace + t.inTrash == count && t.inTrash == count ? " (ended)" : "",
                    t.inPlace, t.inTrash, t.lost, t.temporaries, u.temporaries);
        std::fflush(stdout);
    }
    std::printf("\n%d rounds of %d photos, %d killed during the run\n", rounds, count, midRun);
    std::printf("after the kill:     %d in place, %d in the Trash, %d lost, %d Trash entries incomplete, %d outputs "
                "incomplete, %d information files without their file, %d temporary files left\n",
                killed.inPlace, killed.inTrash, killed.lost, killed.badEntry, killed.badOutput, killed.orphanInfo,
                killed.temporaries);
    std::printf("after the next run: %d in place (output already there: skipped), %d in the Trash, %d lost, "
                "%d information files without their file, %d temporary files left\n",
                after.inPlace, after.inTrash, after.lost, after.orphanInfo, after.temporaries);
    removeTree(root + "/round");
    removeTree(root + "/calibration");
    const bool ok = killed.lost == 0 && killed.badEntry == 0 && killed.badOutput == 0 && after.lost == 0 &&
                    after.badOutput == 0 && after.temporaries == 0;
    return ok ? 0 : 1;
}
