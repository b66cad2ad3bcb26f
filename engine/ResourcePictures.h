#pragma once
// Pictures made from the application's resources (frame pieces, textures, and the pieces
// scaled to a frame's width), kept while they fit in a budget: an effect drawn again and
// again, as the preview is while a slider moves, then neither decodes nor scales them each
// time. Safe to use from any thread; the least recently used go first.
#include <QImage>
#include <QString>
#include <functional>
#include <list>
#include <mutex>
#include <utility>

class ResourcePictures {
public:
    explicit ResourcePictures(qsizetype budgetBytes) : budget_(budgetBytes) {}
    ResourcePictures(const ResourcePictures&) = delete;
    ResourcePictures& operator=(const ResourcePictures&) = delete;

    // The picture kept under key, or the one make() gives (kept when it is not null and fits;
    // make runs outside the lock, so two threads may make the same picture once each).
    QImage picture(const QString& key, const std::function<QImage()>& make);
    qsizetype bytesKept() const;

private:
    mutable std::mutex mutex_;
    std::list<std::pair<QString, QImage>> pictures_;  // most recently used first
    qsizetype bytes_ = 0;
    const qsizetype budget_;
};
