#pragma once
// The selected items of a collection view and the three ways a selection grows, kept
// apart from the widget so the rules can be checked without one.
#include <functional>
#include <set>
#include <vector>

#include "ui/IndexPath.h"

class CollectionSelection {
public:
    enum Type { Single = 0, Extending = 1, Multiple = 2 };

    // `counts` gives the items of each section; `mayDeselect` is asked before an item
    // leaves the selection (a `false` keeps it selected).
    std::set<IndexPath> resulting(const IndexPath& target, int type, const std::vector<int>& counts,
                                  const std::function<bool(const IndexPath&)>& mayDeselect) const;

    const std::set<IndexPath>& selected() const { return selected_; }
    void assign(std::set<IndexPath> s) { selected_ = std::move(s); }
    bool contains(const IndexPath& p) const { return selected_.count(p) != 0; }
    void clear() { selected_.clear(); }
    // Drops the items that no longer exist after a reload.
    void prune(const std::vector<int>& counts);

private:
    std::set<IndexPath> selected_;
};
