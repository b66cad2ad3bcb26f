#pragma once
// Threads the program starts itself, made ready for Qt before their work begins.
//
// Qt keeps a record of each thread, made the first time something on the thread needs it
// (the first QObject made there: a QFile, a temporary file). Made then, a memory shortage
// in the making is not survivable: Qt's QObject constructor, left by the exception, frees
// what it never set and crashes. Made first thing, a shortage ends only the thread, and
// the one who started it hears of it.
#include <functional>
#include <thread>

namespace platform {

// Makes Qt's record of the calling thread, if it has none. False when memory ran short:
// nothing of Qt's that makes objects may then run on this thread.
bool readyForQt() noexcept;

// Starts `work` on a new thread once it is ready for Qt. Throws what std::thread throws
// (no memory for the thread, the system's limit of threads), or std::bad_alloc when the
// thread could not be made ready (it has ended then, `work` not run).
std::thread startThread(std::function<void()> work);

}  // namespace platform
