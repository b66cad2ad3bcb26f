#include "engine/ResourcePictures.h"

QImage ResourcePictures::picture(const QString& key, const std::function<QImage()>& make) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = pictures_.begin(); it != pictures_.end(); ++it) {
            if (it->first != key) continue;
            pictures_.splice(pictures_.begin(), pictures_, it);
            return pictures_.front().second;
        }
    }
    const QImage made = make();
    if (made.isNull() || made.sizeInBytes() > budget_) return made;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& kept : pictures_)
        if (kept.first == key) return kept.second;  // another thread made it meanwhile
    pictures_.emplace_front(key, made);
    bytes_ += made.sizeInBytes();
    while (bytes_ > budget_) {
        bytes_ -= pictures_.back().second.sizeInBytes();
        pictures_.pop_back();
    }
    return made;
}

qsizetype ResourcePictures::bytesKept() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
}
