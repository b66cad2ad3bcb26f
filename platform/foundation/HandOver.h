#pragma once
// Work handed from one thread to another through Qt: a queued call, a task on a Qt thread
// pool. Qt orders everything the sender did before with the work, but under locks inside
// Qt, which ThreadSanitizer cannot see (the system's Qt is not built with it): every read
// the work made of what the sender wrote would look like a race, and a real race in the
// work could not be told from them. In a ThreadSanitizer build (only there: others pay
// nothing) each hand-over tells the checker of the order Qt keeps, on the work's own
// address: the work is ordered after what its sender did before handing it over, and
// with nothing that any other thread handed over elsewhere.
//
// A task on a pool is a thread's first function: what it throws is logged and goes no
// further (out of Qt's pool thread it would end the program).
#include <functional>

class QObject;
class QThreadPool;

namespace platform {

// Queues `work` to run on `target`'s thread (a queued call). False, with nothing queued,
// when there is no target.
bool postQueued(QObject* target, std::function<void()> work);

// Starts `work` on one of the pool's threads, at the pool's priority `priority`.
void startOnPool(QThreadPool& pool, std::function<void()> work, int priority = 0);

}  // namespace platform
