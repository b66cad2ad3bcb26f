#pragma once
// Real file-system conditions for tests: a small volume of the test's own (a tmpfs, where
// this process may mount one), a disk whose stored bytes can be changed under its mounted
// file system (an ext4 image on a loop device), and a folder that cannot be written to.
// Permission bits do not stop root, so as root a folder is made read-only by mounting it
// read-only onto itself.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace testsupport {

// Whether permission bits stop this process.
inline bool permissionBitsApply() { return ::geteuid() != 0; }

// A tmpfs of the given size mounted on a fresh folder; unmounted when this goes.
class ScratchVolume {
public:
    explicit ScratchVolume(qint64 bytes) {
        const QByteArray at = QFile::encodeName(dir_.path());
        const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0755";
        if (::mount("brisko-test", at.constData(), "tmpfs", MS_NOSUID | MS_NODEV, options.constData()) == 0) {
            mounted_ = true;
        } else {
            why_ = QStringLiteral("no small volume can be mounted here (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
        }
    }
    ~ScratchVolume() {
        if (mounted_) ::umount2(QFile::encodeName(dir_.path()).constData(), MNT_DETACH);
    }
    ScratchVolume(const ScratchVolume&) = delete;
    ScratchVolume& operator=(const ScratchVolume&) = delete;

    bool ok() const { return mounted_; }
    const QString& why() const { return why_; }
    QString path() const { return dir_.path(); }
    QString filePath(const QString& name) const { return dir_.filePath(name); }
    qint64 freeBytes() const {
        struct statvfs st {};
        if (::statvfs(QFile::encodeName(dir_.path()).constData(), &st) != 0) return -1;
        return qint64(st.f_bavail) * qint64(st.f_frsize);
    }

private:
    QTemporaryDir dir_;
    bool mounted_ = false;
    QString why_;
};

// An ext4 file system of the given size in an image file, mounted on a fresh folder
// through a loop device: a disk whose stored bytes a test may change below the mounted
// file system, as a card that garbles what it acknowledged does, while the system's cache
// keeps the pages as they were written. Needs root, a free loop device and mkfs.ext4;
// ok() says whether it could be made, why() why not. Unmounted and let go when this goes.
class LoopVolume {
public:
    explicit LoopVolume(qint64 bytes) {
        if (!image_.isValid() || !mountPoint_.isValid()) {
            why_ = QStringLiteral("no temporary folder for a loop volume");
            return;
        }
        QFile file(imagePath());
        if (!file.open(QIODevice::WriteOnly) || !file.resize(bytes)) {
            why_ = QStringLiteral("the volume's image file cannot be made");
            return;
        }
        file.close();
        QString said;
        if (!run(QStringLiteral("mkfs.ext4"), {"-q", "-F", imagePath()}, &said)) {
            why_ = QStringLiteral("mkfs.ext4 cannot make a file system here (%1)").arg(said);
            return;
        }
        if (!run(QStringLiteral("losetup"), {"--find", "--show", imagePath()}, &said)) {
            why_ = QStringLiteral("no loop device can be attached here (%1)").arg(said);
            return;
        }
        device_ = said;
        if (::mount(QFile::encodeName(device_).constData(), QFile::encodeName(path()).constData(), "ext4", 0,
                    nullptr) != 0) {
            why_ = QStringLiteral("the loop device cannot be mounted here (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
        mounted_ = true;
    }
    ~LoopVolume() {
        const QByteArray at = QFile::encodeName(path());
        if (mounted_ && ::umount2(at.constData(), 0) != 0) ::umount2(at.constData(), MNT_DETACH);
        if (!device_.isEmpty()) run(QStringLiteral("losetup"), {"--detach", device_}, nullptr);
    }
    LoopVolume(const LoopVolume&) = delete;
    LoopVolume& operator=(const LoopVolume&) = delete;

    bool ok() const { return mounted_; }
    const QString& why() const { return why_; }
    QString path() const { return mountPoint_.path(); }
    QString filePath(const QString& name) const { return mountPoint_.filePath(name); }

    // Turns every bit of `count` bytes of what the disk holds of `file` (on this volume),
    // from `offset` into the file, by writing the image below the mounted file system: the
    // file's blocks are found through FS_IOC_FIEMAP, and the file's cached pages are left as
    // they were written. The file's data must be on the disk (flushed). False when no byte
    // of the range has a block on the disk.
    bool garbleOnDisk(const QString& file, qint64 offset, qint64 count) const {
        const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        constexpr unsigned kExtents = 32;
        std::vector<char> request(sizeof(fiemap) + kExtents * sizeof(fiemap_extent));
        auto* map = reinterpret_cast<fiemap*>(request.data());
        map->fm_start = quint64(offset);
        map->fm_length = quint64(count);
        map->fm_flags = FIEMAP_FLAG_SYNC;
        map->fm_extent_count = kExtents;
        const bool mapped = ::ioctl(fd, FS_IOC_FIEMAP, map) == 0;
        ::close(fd);
        if (!mapped) return false;
        const int image = ::open(QFile::encodeName(imagePath()).constData(), O_RDWR | O_CLOEXEC);
        if (image < 0) return false;
        bool garbled = false;
        constexpr quint32 kNotOnDisk = FIEMAP_EXTENT_UNKNOWN | FIEMAP_EXTENT_DELALLOC | FIEMAP_EXTENT_ENCODED |
                                       FIEMAP_EXTENT_DATA_INLINE | FIEMAP_EXTENT_UNWRITTEN;
        for (quint32 i = 0; i < map->fm_mapped_extents; ++i) {
            const fiemap_extent& e = map->fm_extents[i];
            if (e.fe_flags & kNotOnDisk) continue;
            const qint64 from = std::max<qint64>(offset, qint64(e.fe_logical));
            const qint64 to = std::min<qint64>(offset + count, qint64(e.fe_logical + e.fe_length));
            if (from >= to) continue;
            std::vector<unsigned char> bytes(size_t(to - from));
            const off_t at = off_t(e.fe_physical + quint64(from) - e.fe_logical);
            if (::pread(image, bytes.data(), bytes.size(), at) != ssize_t(bytes.size())) continue;
            for (unsigned char& b : bytes) b = static_cast<unsigned char>(~b);
            garbled = ::pwrite(image, bytes.data(), bytes.size(), at) == ssize_t(bytes.size()) || garbled;
        }
        // On the image's disk too, for a loop device that reads its image past the cache.
        garbled = ::fdatasync(image) == 0 && garbled;
        ::close(image);
        return garbled;
    }

private:
    QString imagePath() const { return image_.filePath(QStringLiteral("volume.img")); }
    static bool run(const QString& program, const QStringList& arguments, QString* said) {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, arguments);
        const bool ran = process.waitForFinished(60000);
        if (said) *said = ran ? QString::fromLocal8Bit(process.readAll()).trimmed() : process.errorString();
        return ran && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

    QTemporaryDir image_;
    QTemporaryDir mountPoint_;
    QString device_;
    bool mounted_ = false;
    QString why_;
};

// Makes an existing folder unwritable for as long as this lives: its permission bits where
// they apply, else a read-only mount of the folder onto itself.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const QString& folder) : folder_(QFile::encodeName(folder)) {
        struct stat st {};
        if (::stat(folder_.constData(), &st) != 0) {
            why_ = QStringLiteral("%1 does not exist").arg(folder);
            return;
        }
        mode_ = st.st_mode & 07777;
        if (permissionBitsApply()) {
            ok_ = ::chmod(folder_.constData(), 0555) == 0;
            chmodded_ = ok_;
        } else if (::mount(folder_.constData(), folder_.constData(), nullptr, MS_BIND, nullptr) == 0) {
            mounted_ = true;
            ok_ = ::mount(nullptr, folder_.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
        }
        if (!ok_) why_ = QStringLiteral("%1 cannot be made read-only here (%2)").arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
    }
    ~ReadOnlyFolder() {
        if (mounted_) ::umount2(folder_.constData(), MNT_DETACH);
        if (chmodded_) ::chmod(folder_.constData(), mode_);
    }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

    bool ok() const { return ok_; }
    const QString& why() const { return why_; }

private:
    QByteArray folder_;
    mode_t mode_ = 0755;
    bool ok_ = false, mounted_ = false, chmodded_ = false;
    QString why_;
};

}  // namespace testsupport
