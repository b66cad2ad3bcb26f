/* Records how a process opens and maps files, for tests run with this library preloaded
 * (LD_PRELOAD) in a child process:
 *
 *   BRISKO_FILE_OPENS_PART="<part of a path>"
 *   BRISKO_FILE_OPENS_RECORD="<file>"
 *       Each opening (open, openat, fopen and their 64-bit names) of a path that holds the
 *       part, and each mapping of a file whose path holds it, appends a line to <file>:
 *       "open <path>" or "map <path>".
 *   BRISKO_FILE_OPENS_STACKS=1
 *       Each such line is followed by the caller's stack (for finding who opens a file).
 *
 * Opens through a descriptor's name in /proc/self/fd count as opens of the file it names.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

static int (*realOpen)(const char*, int, ...);
static int (*realOpen64)(const char*, int, ...);
static int (*realOpenat)(int, const char*, int, ...);
static int (*realOpenat64)(int, const char*, int, ...);
static FILE* (*realFopen)(const char*, const char*);
static FILE* (*realFopen64)(const char*, const char*);
static void* (*realMmap)(void*, size_t, int, int, int, off_t);
static void* (*realMmap64)(void*, size_t, int, int, int, off_t);
static char part[PATH_MAX];
static char record[PATH_MAX];
static int stacks;

__attribute__((constructor)) static void readSettings(void) {
    realOpen = (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, "open");
    realOpen64 = (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, "open64");
    realOpenat = (int (*)(int, const char*, int, ...))dlsym(RTLD_NEXT, "openat");
    realOpenat64 = (int (*)(int, const char*, int, ...))dlsym(RTLD_NEXT, "openat64");
    realFopen = (FILE * (*)(const char*, const char*)) dlsym(RTLD_NEXT, "fopen");
    realFopen64 = (FILE * (*)(const char*, const char*)) dlsym(RTLD_NEXT, "fopen64");
    realMmap = (void* (*)(void*, size_t, int, int, int, off_t))dlsym(RTLD_NEXT, "mmap");
    realMmap64 = (void* (*)(void*, size_t, int, int, int, off_t))dlsym(RTLD_NEXT, "mmap64");
    const char* p = getenv("BRISKO_FILE_OPENS_PART");
    if (p) snprintf(part, sizeof part, "%s", p);
    const char* r = getenv("BRISKO_FILE_OPENS_RECORD");
    if (r) snprintf(record, sizeof record, "%s", r);
    const char* s = getenv("BRISKO_FILE_OPENS_STACKS");
    stacks = s && *s == '1';
}

static void ready(void) {
    if (!realMmap) readSettings();
}

/* The path an fd names, into `path`; 0 when it has none. */
static int pathOf(int fd, char* path, size_t size) {
    if (fd < 0) return 0;
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, path, size - 1);
    if (n <= 0) return 0;
    path[n] = 0;
    return 1;
}

static void note(const char* what, const char* path) {
    if (!part[0] || !record[0] || !path || !strstr(path, part)) return;
    char line[PATH_MAX + 16];
    const int n = snprintf(line, sizeof line, "%s %s\n", what, path);
    const int fd = realOpen(record, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    if (n > 0) (void)!write(fd, line, (size_t)n < sizeof line ? (size_t)n : sizeof line - 1);
    if (stacks) {
        void* frames[40];
        const int count = backtrace(frames, 40);
        backtrace_symbols_fd(frames + 1, count - 1, fd);
        (void)!write(fd, "--\n", 3);
    }
    close(fd);
}

/* An opening that succeeded, by the file it opened (a /proc/self/fd name included). */
static void noteOpen(int fd) {
    char path[PATH_MAX];
    if (fd >= 0 && pathOf(fd, path, sizeof path)) note("open", path);
}

#define MODE_ARG(flags, mode)                              \
    mode_t mode = 0;                                       \
    if ((flags) & (O_CREAT | O_TMPFILE)) {                 \
        va_list args;                                      \
        va_start(args, flags);                             \
        mode = (mode_t)va_arg(args, int);                  \
        va_end(args);                                      \
    }

int open(const char* path, int flags, ...) {
    ready();
    MODE_ARG(flags, mode)
    const int fd = realOpen(path, flags, mode);
    noteOpen(fd);
    return fd;
}

int open64(const char* path, int flags, ...) {
    ready();
    MODE_ARG(flags, mode)
    const int fd = realOpen64(path, flags, mode);
    noteOpen(fd);
    return fd;
}

int openat(int dir, const char* path, int flags, ...) {
    ready();
    MODE_ARG(flags, mode)
    const int fd = realOpenat(dir, path, flags, mode);
    noteOpen(fd);
    return fd;
}

int openat64(int dir, const char* path, int flags, ...) {
    ready();
    MODE_ARG(flags, mode)
    const int fd = realOpenat64(dir, path, flags, mode);
    noteOpen(fd);
    return fd;
}

FILE* fopen(const char* path, const char* mode) {
    ready();
    FILE* f = realFopen(path, mode);
    if (f) noteOpen(fileno(f));
    return f;
}

FILE* fopen64(const char* path, const char* mode) {
    ready();
    FILE* f = realFopen64(path, mode);
    if (f) noteOpen(fileno(f));
    return f;
}

static void noteMap(void* p, int flags, int fd) {
    char path[PATH_MAX];
    if (p != MAP_FAILED && !(flags & MAP_ANONYMOUS) && pathOf(fd, path, sizeof path)) note("map", path);
}

void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset) {
    ready();
    void* p = realMmap(addr, length, prot, flags, fd, offset);
    noteMap(p, flags, fd);
    return p;
}

void* mmap64(void* addr, size_t length, int prot, int flags, int fd, off_t offset) {
    ready();
    void* p = realMmap64(addr, length, prot, flags, fd, offset);
    noteMap(p, flags, fd);
    return p;
}
