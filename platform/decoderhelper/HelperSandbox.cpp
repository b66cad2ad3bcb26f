// The decoder helper's confinement (HelperSandbox.h), through libseccomp.
#include "platform/decoderhelper/HelperSandbox.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace platform::codec {
namespace {

// The kernel's choice when memory runs out: this helper before the program. Raising the
// score needs no privilege.
void firstToGo() {
    const int fd = ::open("/proc/self/oom_score_adj", O_WRONLY | O_CLOEXEC);
    if (fd < 0) return;
    const char score[] = "1000";
    [[maybe_unused]] const ssize_t written = ::write(fd, score, sizeof score - 1);
    ::close(fd);
}

// The calls that end the helper. A helper reads the descriptor it is handed and writes
// into memory the program handed it; none of these is ever part of its work.
constexpr int kRefused[] = {
    // opening or making a file by name
    SCMP_SYS(open), SCMP_SYS(openat), SCMP_SYS(openat2), SCMP_SYS(creat), SCMP_SYS(open_by_handle_at),
    SCMP_SYS(name_to_handle_at),
    // changing files by name, or by the descriptor of the photo it reads
    SCMP_SYS(unlink), SCMP_SYS(unlinkat), SCMP_SYS(rename), SCMP_SYS(renameat), SCMP_SYS(renameat2),
    SCMP_SYS(mkdir), SCMP_SYS(mkdirat), SCMP_SYS(rmdir), SCMP_SYS(link), SCMP_SYS(linkat), SCMP_SYS(symlink),
    SCMP_SYS(symlinkat), SCMP_SYS(mknod), SCMP_SYS(mknodat), SCMP_SYS(truncate), SCMP_SYS(chmod), SCMP_SYS(fchmod),
    SCMP_SYS(fchmodat), SCMP_SYS(chown), SCMP_SYS(fchown), SCMP_SYS(lchown), SCMP_SYS(fchownat), SCMP_SYS(utime),
    SCMP_SYS(utimes), SCMP_SYS(utimensat), SCMP_SYS(futimesat), SCMP_SYS(setxattr), SCMP_SYS(lsetxattr),
    SCMP_SYS(fsetxattr), SCMP_SYS(removexattr), SCMP_SYS(lremovexattr), SCMP_SYS(fremovexattr),
    // sockets and the network
    SCMP_SYS(socket), SCMP_SYS(socketpair), SCMP_SYS(connect), SCMP_SYS(bind), SCMP_SYS(listen),
    SCMP_SYS(accept), SCMP_SYS(accept4),
    // programs and processes
    SCMP_SYS(execve), SCMP_SYS(execveat), SCMP_SYS(fork), SCMP_SYS(vfork),
    // other processes' memory and descriptors
    SCMP_SYS(ptrace), SCMP_SYS(process_vm_readv), SCMP_SYS(process_vm_writev), SCMP_SYS(pidfd_getfd),
    // a ring whose requests (opening files among them) the filter never sees
    SCMP_SYS(io_uring_setup), SCMP_SYS(io_uring_enter), SCMP_SYS(io_uring_register),
    // signals by a thread's id alone, and through a process's descriptor (its own are sent
    // with tgkill, which is limited below)
    SCMP_SYS(tkill), SCMP_SYS(pidfd_send_signal), SCMP_SYS(process_madvise), SCMP_SYS(move_pages),
    SCMP_SYS(migrate_pages),
    // the user's keys, namespaces and mounts, and the kernel's tools that exploits lean on
    SCMP_SYS(keyctl), SCMP_SYS(add_key), SCMP_SYS(request_key), SCMP_SYS(unshare), SCMP_SYS(setns),
    SCMP_SYS(mount), SCMP_SYS(umount2), SCMP_SYS(pivot_root), SCMP_SYS(chroot), SCMP_SYS(bpf),
    SCMP_SYS(userfaultfd), SCMP_SYS(perf_event_open),
};

// Terminal requests that would type into the terminal the program was started from, or
// speak to the console.
constexpr unsigned long kRefusedIoctls[] = {TIOCSTI, TIOCLINUX};

}  // namespace

bool confineHelper() {
    firstToGo();
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    if (!filter) return false;
    bool ok = true;
    // A call this machine's kernel does not have (a negative pseudo number) needs no rule.
    const auto refuse = [&](int call, unsigned count = 0, scmp_arg_cmp arg = {}) {
        if (call < 0) return;
        const int result = count ? seccomp_rule_add(filter, SCMP_ACT_KILL_PROCESS, call, 1, arg)
                                 : seccomp_rule_add(filter, SCMP_ACT_KILL_PROCESS, call, 0);
        ok = ok && result == 0;
    };
    for (const int call : kRefused) refuse(call);
    // Signals and limits go to this process only: the program shares its process group,
    // and every other process of the user's would take them too.
    const scmp_datum_t self = scmp_datum_t(::getpid());
    refuse(SCMP_SYS(kill), 1, SCMP_A0(SCMP_CMP_NE, self));
    refuse(SCMP_SYS(tgkill), 1, SCMP_A0(SCMP_CMP_NE, self));
    refuse(SCMP_SYS(rt_sigqueueinfo), 1, SCMP_A0(SCMP_CMP_NE, self));
    refuse(SCMP_SYS(rt_tgsigqueueinfo), 1, SCMP_A0(SCMP_CMP_NE, self));
    refuse(SCMP_SYS(prlimit64), 1, SCMP_A0(SCMP_CMP_NE, 0));
    // The kernel reads an ioctl's request as 32 bits: so does the filter.
    for (const unsigned long request : kRefusedIoctls)
        refuse(SCMP_SYS(ioctl), 1, SCMP_A1(SCMP_CMP_MASKED_EQ, 0xffffffffu, request));
    // clone starts a thread (CLONE_THREAD) or a process; only threads are let through.
    refuse(SCMP_SYS(clone), 1, SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, 0));
    // clone3 keeps its flags in memory the filter cannot read: refused as missing, which
    // makes the C library start its threads with clone.
    ok = ok && seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) == 0;
    ok = ok && seccomp_load(filter) == 0;
    seccomp_release(filter);
    return ok;
}

}  // namespace platform::codec
