#include "platform/foundation/NotificationCenter.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>

#include "platform/foundation/HandOver.h"

namespace platform {

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter center;
    return center;
}

NotificationCenter::Token NotificationCenter::addObserver(const QString& name, Handler handler, DeliverOn where,
                                                          QObject* context, const void* object) {
    auto entry = std::make_shared<Entry>();
    entry->name = name;
    entry->object = object;
    entry->context = context;
    entry->where = where;
    entry->handler = std::move(handler);
    Token token;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        token = next_++;
        entry->token = token;
        entries_.push_back(entry);
    }
    if (context) {
        // The connection dies with the context; the lambda only touches this centre,
        // which outlives every observer (the default centre lives for the process).
        QObject::connect(context, &QObject::destroyed, [this, token] { removeObserver(token); });
    }
    return token;
}

void NotificationCenter::removeObserver(Token token) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const auto& e) { return e->token == token; });
    if (it != entries_.end()) {
        (*it)->alive = false;
        entries_.erase(it);
    }
}

void NotificationCenter::removeObservers(QObject* context) {
    if (!context) return;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::remove_if(entries_.begin(), entries_.end(), [&](const auto& e) {
        if (e->context != context) return false;
        e->alive = false;
        return true;
    });
    entries_.erase(it, entries_.end());
}

int NotificationCenter::observerCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return int(entries_.size());
}

void NotificationCenter::postNotification(const QString& name, const QVariantMap& userInfo, const void* object) {
    std::vector<std::shared_ptr<Entry>> targets;
    {
        // Handlers run outside the lock: they may post, add or remove observers themselves.
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& e : entries_) {
            if (!e->name.isEmpty() && e->name != name) continue;
            if (e->object && e->object != object) continue;
            targets.push_back(e);
        }
    }
    const Notification note{name, object, userInfo};
    QCoreApplication* app = QCoreApplication::instance();
    const bool onMain = !app || QThread::currentThread() == app->thread();
    for (const auto& e : targets) {
        if (!e->alive) continue;
        if (e->where == DeliverOn::MainThread && !onMain) {
            postQueued(app, [e, note] {
                if (e->alive) e->handler(note);
            });
        } else {
            e->handler(note);
        }
    }
}

}  // namespace platform
