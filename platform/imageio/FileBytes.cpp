// Files mapped for reading under the bus-error guard (platform/foundation/BusErrorGuard.h),
// which keeps a file cut short under a reader from stopping the process.
//
// Why a guard rather than reading every file into memory: a mapping costs nothing for
// the parts a reader never touches (a header read of a 50 MB raw file reads a few
// pages), pages a decoder has read past can be given back (ConsumedPages), and most
// photos are never changed while they are read.
#include "platform/imageio/CodecInternal.h"
#include "platform/foundation/BusErrorGuard.h"
#include "platform/foundation/FileAttributes.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NativeNames.h"

#include <sys/stat.h>

namespace platform::codec {

bool FileBytes::open(const QString& path) {
    if (!openFile(file, path)) {
        missing = !fileExists(path);
        notAFile = isSpecialFile(path);
        return false;
    }
    return mapOpened();
}

bool FileBytes::open(int fd) {
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        notAFile = fd >= 0;
        if (fd >= 0) ::close(fd);
        return false;
    }
    return mapOpened();
}

bool FileBytes::mapOpened() {
    const qint64 size = file.size();
    if (size <= 0) return true;
    uchar* p = file.map(0, size);  // shared and read-only, as the file is open
    if (p) guard_ = busguard::guard(p, size_t(size));
    if (p && guard_ >= 0) {
        bytes = Bytes{p, size_t(size), true, file.handle()};
        return true;
    }
    // Unguarded, a mapping is not read: a copy cannot change under the reader.
    if (p) file.unmap(p);
    copy = file.readAll();
    if (file.error() == QFileDevice::ReadError) {
        readFailed = true;
        copy = QByteArray();
        return false;
    }
    bytes = Bytes{reinterpret_cast<const uint8_t*>(copy.constData()), size_t(copy.size())};
    return true;
}

bool FileBytes::cut() const { return busguard::cut(guard_); }

bool FileBytes::readError() const {
    struct stat now {};
    return cut() && ::fstat(file.handle(), &now) == 0 && now.st_size >= qint64(bytes.size);
}

void FileBytes::close() {
    // The slot goes before the mapping does: once unmapped, the address may be given to
    // another reader's mapping at once, and a fault there must not find this slot. Nothing
    // reads this mapping any more, so it faults no more.
    busguard::release(guard_);
    guard_ = -1;
    if (bytes.mappedFile) file.unmap(const_cast<uint8_t*>(bytes.data));
    bytes = Bytes{};
    copy = QByteArray();
    file.close();
}

FileBytes::~FileBytes() { close(); }

std::unique_ptr<FileBytes> openFileBytes(const QString& path, const DecodeOptions& options) {
    auto file = std::make_unique<FileBytes>();
    if (path.isEmpty() || !file->open(path)) {
        log(u"%@: could not open the file", path);
        return nullptr;
    }
    if (options.whileOpen) options.whileOpen(path);
    return file;
}

}  // namespace platform::codec
