/* A disk that fails without saying so, for tests run with this library preloaded
 * (LD_PRELOAD) in a child process:
 *
 *   BRISKO_FAILING_DISK_ZERO="<part of a path>:<offset>:<count>[;<part>:<offset>:<count>...]"
 *       Writes to files whose path holds that part are reported written in full, but the
 *       bytes that land at file offsets [offset, offset + count) are zeros: a failing card
 *       or network share that drops a block. Up to four such rules; the first whose part
 *       the path holds applies.
 *   BRISKO_FAILING_DISK_EIO="<part of a path>"
 *       Reads of such files fail with EIO, and their mappings fault on the first access
 *       (as a page the disk cannot give does) while the file keeps its size.
 *   BRISKO_FAILING_DISK_EIO_UNMAPPED="<part of a path>"
 *       The same, and such files cannot be mapped at all (as on file systems without
 *       mappings), so that readers fall back to read().
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

struct ZeroRule {
    char part[PATH_MAX];
    long long at, count;
};
static struct ZeroRule zeroRules[4];
static int zeroRuleCount;
static char eioPart[PATH_MAX];
static char unmappedPart[PATH_MAX];

/* The real functions, found once: a mapping may be made in a signal handler (the readers'
 * bus-error guard puts zeros where a page could not be read), where dlsym is not safe. */
static ssize_t (*realWrite)(int, const void*, size_t);
static ssize_t (*realPwrite)(int, const void*, size_t, off_t);
static ssize_t (*realPwrite64)(int, const void*, size_t, off_t);
static ssize_t (*realRead)(int, void*, size_t);
static ssize_t (*realPread)(int, void*, size_t, off_t);
static ssize_t (*realPread64)(int, void*, size_t, off_t);
static void* (*realMmap)(void*, size_t, int, int, int, off_t);
static void* (*realMmap64)(void*, size_t, int, int, int, off_t);

__attribute__((constructor)) static void readSettings(void) {
    realWrite = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
    realPwrite = (ssize_t(*)(int, const void*, size_t, off_t))dlsym(RTLD_NEXT, "pwrite");
    realPwrite64 = (ssize_t(*)(int, const void*, size_t, off_t))dlsym(RTLD_NEXT, "pwrite64");
    realRead = (ssize_t(*)(int, void*, size_t))dlsym(RTLD_NEXT, "read");
    realPread = (ssize_t(*)(int, void*, size_t, off_t))dlsym(RTLD_NEXT, "pread");
    realPread64 = (ssize_t(*)(int, void*, size_t, off_t))dlsym(RTLD_NEXT, "pread64");
    realMmap = (void* (*)(void*, size_t, int, int, int, off_t))dlsym(RTLD_NEXT, "mmap");
    realMmap64 = (void* (*)(void*, size_t, int, int, int, off_t))dlsym(RTLD_NEXT, "mmap64");
    zeroRuleCount = 0;
    for (const char* rule = getenv("BRISKO_FAILING_DISK_ZERO"); rule && *rule && zeroRuleCount < 4;) {
        const char* colon = strchr(rule, ':');
        const char* end = strchr(rule, ';');
        if (!colon || (end && colon > end) || (size_t)(colon - rule) >= PATH_MAX) break;
        struct ZeroRule* r = &zeroRules[zeroRuleCount];
        memset(r->part, 0, sizeof r->part);
        memcpy(r->part, rule, (size_t)(colon - rule));
        if (sscanf(colon + 1, "%lld:%lld", &r->at, &r->count) == 2 && r->at >= 0 && r->count > 0) ++zeroRuleCount;
        rule = end ? end + 1 : NULL;
    }
    const char* eio = getenv("BRISKO_FAILING_DISK_EIO");
    if (eio) snprintf(eioPart, sizeof eioPart, "%s", eio);
    const char* unmapped = getenv("BRISKO_FAILING_DISK_EIO_UNMAPPED");
    if (unmapped) snprintf(unmappedPart, sizeof unmappedPart, "%s", unmapped);
}

/* Resolves the real functions should a library call one before this one's constructor ran. */
static void ready(void) {
    if (!realWrite) readSettings();
}

/* Whether the file open on fd has a path that holds `part`. */
static int pathHolds(int fd, const char* part) {
    if (!part[0] || fd < 0) return 0;
    char link[64], path[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0) return 0;
    path[n] = '\0';
    return strstr(path, part) != NULL;
}

static int readFails(int fd) { return pathHolds(fd, eioPart) || pathHolds(fd, unmappedPart); }

/* The bytes to hand to the real write for `count` bytes at file offset `at`: the caller's,
 * or a copy with the dropped block zeroed (to be freed). */
static const void* dropped(int fd, const void* buf, size_t count, off_t at, void** copy) {
    *copy = NULL;
    if (at < 0) return buf;
    const struct ZeroRule* r = NULL;
    for (int i = 0; i < zeroRuleCount && !r; ++i)
        if (pathHolds(fd, zeroRules[i].part)) r = &zeroRules[i];
    if (!r) return buf;
    const long long from = r->at > at ? r->at : at;
    const long long to = r->at + r->count < at + (long long)count ? r->at + r->count : at + (long long)count;
    if (from >= to) return buf;
    *copy = malloc(count);
    if (!*copy) return buf;
    memcpy(*copy, buf, count);
    memset((char*)*copy + (from - at), 0, (size_t)(to - from));
    return *copy;
}

ssize_t write(int fd, const void* buf, size_t count) {
    ready();
    void* copy;
    const void* out = zeroRuleCount == 0 ? buf : dropped(fd, buf, count, lseek(fd, 0, SEEK_CUR), &copy);
    if (out == buf) copy = NULL;
    const ssize_t n = realWrite(fd, out, count);
    free(copy);
    return n;
}

static ssize_t pwriteThrough(ssize_t (*real)(int, const void*, size_t, off_t), int fd, const void* buf, size_t count,
                             off_t offset) {
    void* copy;
    const void* out = dropped(fd, buf, count, offset, &copy);
    const ssize_t n = real(fd, out, count, offset);
    free(copy);
    return n;
}
ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset) {
    ready();
    return pwriteThrough(realPwrite, fd, buf, count, offset);
}
ssize_t pwrite64(int fd, const void* buf, size_t count, off_t offset) {
    ready();
    return pwriteThrough(realPwrite64, fd, buf, count, offset);
}

ssize_t read(int fd, void* buf, size_t count) {
    ready();
    if (readFails(fd)) {
        errno = EIO;
        return -1;
    }
    return realRead(fd, buf, count);
}

static ssize_t preadThrough(ssize_t (*real)(int, void*, size_t, off_t), int fd, void* buf, size_t count, off_t offset) {
    if (readFails(fd)) {
        errno = EIO;
        return -1;
    }
    return real(fd, buf, count, offset);
}
ssize_t pread(int fd, void* buf, size_t count, off_t offset) {
    ready();
    return preadThrough(realPread, fd, buf, count, offset);
}
ssize_t pread64(int fd, void* buf, size_t count, off_t offset) {
    ready();
    return preadThrough(realPread64, fd, buf, count, offset);
}

static void* mapThrough(void* (*real)(void*, size_t, int, int, int, off_t), void* addr, size_t length, int prot,
                        int flags, int fd, off_t offset) {
    if (!(flags & MAP_ANONYMOUS) && pathHolds(fd, unmappedPart)) {
        errno = ENODEV;
        return MAP_FAILED;
    }
    if (!(flags & MAP_ANONYMOUS) && pathHolds(fd, eioPart)) {
        /* A mapping of an empty file: every page of it faults with SIGBUS, as a page the disk
         * cannot read does, while the file itself keeps its size. */
        const int empty = memfd_create("unreadable", MFD_CLOEXEC);
        if (empty < 0) return MAP_FAILED;
        void* p = real(addr, length, prot, (flags & ~MAP_PRIVATE) | MAP_SHARED, empty, 0);
        close(empty);
        return p;
    }
    return real(addr, length, prot, flags, fd, offset);
}
void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset) {
    ready();
    return mapThrough(realMmap, addr, length, prot, flags, fd, offset);
}
void* mmap64(void* addr, size_t length, int prot, int flags, int fd, off_t offset) {
    ready();
    return mapThrough(realMmap64, addr, length, prot, flags, fd, offset);
}
