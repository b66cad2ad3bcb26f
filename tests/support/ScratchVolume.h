#pragma once
// Real file-system conditions for tests: a small volume of the test's own (a tmpfs, where
// this process may mount one) and a folder that cannot be written to. Permission bits do
// not stop root, so as root a folder is made read-only by mounting it read-only onto itself.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

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
