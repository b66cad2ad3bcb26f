#pragma once
// The way back from a worker to the thread of an object that may be destroyed while the
// worker runs. Checking a QPointer on the worker and then posting races with the
// destruction on the object's own thread: the object can go between the check and the
// post, and the post then reaches freed memory. Here the check and the post happen under
// one lock that the object's destruction also takes, so work is queued only while the
// object lives, and work queued for it is dropped with it.
#include <QObject>
#include <functional>
#include <memory>
#include <mutex>

namespace platform {

class PostBack {
public:
    // On the object's thread.
    explicit PostBack(QObject* context);
    // Any thread: queues `work` to run on the object's thread. False, with nothing queued,
    // once the object is being destroyed.
    bool post(std::function<void()> work) const;
    bool isAlive() const;

private:
    struct Link {
        std::mutex mutex;
        QObject* object = nullptr;
    };
    std::shared_ptr<Link> link_;
};

}  // namespace platform
