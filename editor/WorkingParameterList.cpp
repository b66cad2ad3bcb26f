#include "editor/WorkingParameterList.h"

#include "engine/FilterCustomization.h"
#include "records/ParameterList.h"

#include <cmath>

namespace {
bool usable(QSizeF s) { return std::isfinite(s.width()) && std::isfinite(s.height()) && s.width() > 0 && s.height() > 0; }
}  // namespace

void WorkingParameterList::reset() {
    list_.clear();
    initiallyLoaded_ = false;
    changed_ = false;
    changedKeys_.clear();
}

bool WorkingParameterList::save(const QString& key, const QVariant& value) {
    if (!value.isValid()) return false;  // the list never holds an empty value
    const QVariant before = ParameterList::valueForKey(list_, key);
    ParameterList::setValueForKey(list_, key, value);
    if (!initiallyLoaded_) return false;
    // The value already held changes nothing: the text box reports its frame after every
    // fit, which is no change of the user's.
    if (before.isValid() && before == value) return false;
    changed_ = true;
    changedKeys_.insert(key);
    return true;
}

QVariant WorkingParameterList::value(const QString& key) const { return ParameterList::valueForKey(list_, key); }

bool WorkingParameterList::contains(const QString& key) const { return ParameterList::containsKey(list_, key); }

QVariantList WorkingParameterList::committed(const QString& filterName, QSizeF containerSize) const {
    if (!usable(containerSize)) return list_;
    // The shared converter hands back its own working list; keep a copy of our own.
    return QVariantList(
        FilterCustomization::sharedInstance().convertFilterParametrsInPerCent(filterName, containerSize, list_));
}

QVariantList WorkingParameterList::inContainerPoints(const QString& filterName, QSizeF containerSize,
                                                     const QVariantList& sizeRelative) {
    if (!usable(containerSize)) return sizeRelative;
    return QVariantList(FilterCustomization::sharedInstance().convertBackFilterParametrsFromPerCent(
        filterName, containerSize, sizeRelative));
}
