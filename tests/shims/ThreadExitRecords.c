/* Records which threads ask the C library to destroy a thread-local object when they end,
 * for tests run with this library preloaded (LD_PRELOAD) in a child process:
 *
 *   BRISKO_THREAD_EXIT_RECORDS="<file>"
 *       Each such request made on a thread other than the process's first appends a line
 *       to <file>: the address of the object's destructor, and the name of the shared
 *       object that holds it.
 *
 * The C library makes room for each such request with an allocation it does not let fail:
 * when memory is short, the first use of a thread-local object on a thread ends the whole
 * program. The run's threads must not make any.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

typedef int (*AtExit)(void (*)(void*), void*, void*);

int __cxa_thread_atexit_impl(void (*destructor)(void*), void* object, void* dsoSymbol) {
    static AtExit real;
    if (!real) real = (AtExit)dlsym(RTLD_NEXT, "__cxa_thread_atexit_impl");
    const char* file = getenv("BRISKO_THREAD_EXIT_RECORDS");
    if (file && *file && syscall(SYS_gettid) != getpid()) {
        Dl_info info;
        memset(&info, 0, sizeof info);
        dladdr((void*)destructor, &info);
        char line[1024];
        const int n = snprintf(line, sizeof line, "%p %s %s\n", (void*)destructor,
                               info.dli_fname ? info.dli_fname : "?", info.dli_sname ? info.dli_sname : "?");
        const int fd = open(file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0) {
            if (n > 0) (void)!write(fd, line, (size_t)n < sizeof line ? (size_t)n : sizeof line - 1);
            close(fd);
        }
    }
    return real ? real(destructor, object, dsoSymbol) : -1;
}
