// The PNG optimiser over arbitrary input files: it must fail cleanly, never write an
// output larger than its input, and never leave its work file behind. Run it with
// -close_fd_mask=1 to silence the optimiser's report on standard output.
#include "engine/PngOptimiser.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir* dir = new QTemporaryDir;
    const QString in = dir->filePath(QStringLiteral("in.png"));
    const QString out = dir->filePath(QStringLiteral("out.png"));
    QFile::remove(out);
    {
        QFile f(in);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    const int memLevel = size > 0 ? 1 + data[0] % 9 : 8;
    const int rc = processPNG(QFile::encodeName(in).constData(), QFile::encodeName(out).constData(), 97, memLevel);
    if (rc == 0 && QFileInfo(out).size() > qint64(size)) __builtin_trap();
    if (rc != 0 && QFile::exists(out)) __builtin_trap();
    if (QDir(dir->path()).entryList(QDir::Files).size() > 2) __builtin_trap();
    return 0;
}
