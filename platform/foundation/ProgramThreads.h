#pragma once
// Threads the program starts itself, made ready for Qt before their work begins, and the
// guard every piece of work the program runs on a thread of its own passes through.
//
// Qt keeps a record of each thread, made the first time something on the thread needs it
// (the first QObject made there: a QFile, a temporary file). Made then, a memory shortage
// in the making is not survivable: Qt's QObject constructor, left by the exception, frees
// what it never set and crashes. Made first thing, a shortage ends only the thread, and
// the one who started it hears of it.
//
// An exception that leaves a thread's first function ends the program (std::terminate),
// and so does one out of a task on a Qt pool (Qt's pool thread throws it on). Each piece
// of work catches what its own caller must hear of; runContained is the last guard
// behind it.
#include <QString>

#include <exception>
#include <functional>
#include <thread>

namespace platform {

// Makes Qt's record of the calling thread, if it has none. False when memory ran short:
// nothing of Qt's that makes objects may then run on this thread.
bool readyForQt() noexcept;

// Starts `work` on a new thread once it is ready for Qt; what `work` throws is logged and
// ends only `work`. Throws what std::thread throws (no memory for the thread, the system's
// limit of threads), or std::bad_alloc when the thread could not be made ready (it has
// ended then, `work` not run).
std::thread startThread(std::function<void()> work);

// Runs `work`; an exception out of it is logged and goes no further. False when `work`
// threw, the exception then in `failure` if one is given.
bool runContained(const std::function<void()>& work, std::exception_ptr* failure = nullptr) noexcept;

// Whether an exception says that memory ran short: an allocation that failed, or a thread
// that could not be started (its stack is memory too).
bool isMemoryShortage(const std::exception_ptr& failure) noexcept;

// What an exception says, for the log; never throws.
QString failureText(const std::exception_ptr& failure) noexcept;

}  // namespace platform
