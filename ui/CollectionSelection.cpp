#include "ui/CollectionSelection.h"

namespace {
bool exists(const IndexPath& p, const std::vector<int>& counts) {
    return !p.isNull() && p.section < int(counts.size()) && p.item < counts[size_t(p.section)];
}
}  // namespace

std::set<IndexPath> CollectionSelection::resulting(const IndexPath& target, int type, const std::vector<int>& counts,
                                                   const std::function<bool(const IndexPath&)>& mayDeselect) const {
    if (!exists(target, counts)) return selected_;
    std::set<IndexPath> want;
    switch (type) {
    case Extending: {
        want = selected_;
        IndexPath from = selected_.empty() ? target : *selected_.begin();
        IndexPath a = std::min(from, target), b = std::max(from, target);
        for (int s = a.section; s <= b.section; ++s) {
            const int first = s == a.section ? a.item : 0;
            const int last = s == b.section ? b.item : counts[size_t(s)] - 1;
            for (int i = first; i <= last; ++i) want.insert(IndexPath{s, i});
        }
        break;
    }
    case Multiple:
        want = selected_;
        if (want.count(target)) want.erase(target);
        else want.insert(target);
        break;
    default:
        want.insert(target);
        break;
    }
    // Whatever would leave the selection may be held back by the delegate.
    if (mayDeselect) {
        for (const IndexPath& p : selected_)
            if (!want.count(p) && !mayDeselect(p)) want.insert(p);
    }
    return want;
}

void CollectionSelection::prune(const std::vector<int>& counts) {
    for (auto it = selected_.begin(); it != selected_.end();) {
        if (exists(*it, counts)) ++it;
        else it = selected_.erase(it);
    }
}
