#pragma once
// The bus-error guard: a file mapped for reading may be cut short by another program while
// it is read (a sync client rewriting a photo in place). Reading a page past its new end
// raises SIGBUS, which would stop the whole process; inside a guarded range the rest of the
// range becomes zeros instead, the read goes on, and the range is marked cut.
//
// Only faults the kernel reports are taken over. A SIGBUS sent by a process (kill) has the
// effect it would have without the guard, and a fault outside every guarded range ends the
// process as before.
#include <cstddef>

namespace platform::busguard {

// Installs the handler. Every program calls it in main before it starts a thread, so the
// handler is in place before any file is read; a program that does not is covered at its
// first guarded range.
void install();

// A slot guarding [data, data + size) of a mapping, or -1 when every slot is in use.
int guard(const void* data, std::size_t size);
// Gives the slot up. Called before the range is unmapped: once the address is free another
// mapping may take it, and its faults must find no slot of this one.
void release(int slot);
// Whether a read in the slot's range found the file shorter than when it was mapped.
bool cut(int slot);

}  // namespace platform::busguard
