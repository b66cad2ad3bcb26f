#pragma once
// The address of one item of a collection view: a section and an item inside it.
// A default-made index path is the "no item" value.
#include <compare>

struct IndexPath {
    int section = -1;
    int item = -1;

    static IndexPath indexPathForItem(int item, int section) { return IndexPath{section, item}; }
    int collectionItem() const { return item; }
    bool isNull() const { return section < 0 || item < 0; }

    auto operator<=>(const IndexPath&) const = default;
};
