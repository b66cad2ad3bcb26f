#pragma once
// Named notifications with a user-info dictionary, the way the screens and the main
// window tell each other what happened. Observers are kept by token; an observer added
// with `DeliverOn::MainThread` always runs on the main thread (queued when the post
// comes from another thread), every other observer runs on the posting thread, before
// the post returns. All operations may be called from any thread.
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {

struct Notification {
    QString name;
    const void* object = nullptr;  // the sender, when the poster names one
    QVariantMap userInfo;
};

enum class DeliverOn { PostingThread, MainThread };

class NotificationCenter {
public:
    using Token = std::uint64_t;
    using Handler = std::function<void(const Notification&)>;

    static NotificationCenter& defaultCenter();

    NotificationCenter() = default;
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // Observes `name` (empty: every name). With a non-null `object` only posts naming
    // that sender are delivered. With a `context` the observer is removed when the
    // context object is destroyed, so widgets need not remember their tokens.
    Token addObserver(const QString& name, Handler handler, DeliverOn where = DeliverOn::PostingThread,
                      QObject* context = nullptr, const void* object = nullptr);
    // After removal the handler is never called again, even for a delivery already queued.
    void removeObserver(Token token);
    void removeObservers(QObject* context);

    void postNotification(const QString& name, const QVariantMap& userInfo = {}, const void* object = nullptr);

    int observerCount() const;

private:
    struct Entry {
        Token token = 0;
        QString name;
        const void* object = nullptr;
        QObject* context = nullptr;
        DeliverOn where = DeliverOn::PostingThread;
        Handler handler;
        std::atomic<bool> alive{true};
    };
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Entry>> entries_;
    Token next_ = 1;
};

}  // namespace platform
