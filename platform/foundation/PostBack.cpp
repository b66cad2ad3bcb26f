#include "platform/foundation/PostBack.h"

#include "platform/foundation/HandOver.h"

namespace platform {

PostBack::PostBack(QObject* context) : link_(std::make_shared<Link>()) {
    link_->object = context;
    if (!context) return;
    // `destroyed` comes from the destructor on the object's own thread, before Qt drops the
    // events posted to it: a post made under the lock before this is dropped with them.
    QObject::connect(context, &QObject::destroyed, [link = link_] {
        std::lock_guard<std::mutex> lock(link->mutex);
        link->object = nullptr;
    });
}

bool PostBack::post(std::function<void()> work) const {
    std::lock_guard<std::mutex> lock(link_->mutex);
    if (!link_->object) return false;
    return postQueued(link_->object, std::move(work));
}

bool PostBack::isAlive() const {
    std::lock_guard<std::mutex> lock(link_->mutex);
    return link_->object != nullptr;
}

}  // namespace platform
