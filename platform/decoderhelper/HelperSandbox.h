#pragma once
// What a decoder helper may do once it has started: a crafted file that takes the helper
// over must own nothing of the user's. Part of the helper program only.
namespace platform::codec {

// Confines this process for the rest of its life: the kernel takes it first when memory
// runs short (oom_score_adj 1000), it can gain no privileges (no_new_privs), and a system
// call filter kills it on any attempt to open or make a file by name, change one by name
// or descriptor, connect or make a socket, start a program or another process (threads
// stay allowed: LibRaw develops on OpenMP threads), signal, limit or reach into another
// process, type into a terminal, or touch the user's keys or the system's namespaces and
// mounts. Called once start-up is over; false when the filter could not be installed.
bool confineHelper();

}  // namespace platform::codec
