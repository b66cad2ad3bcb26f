#pragma once
// The parameter list of the effect being set up on the effects screen. Values are in the
// points of the preview's image container (y up); committing turns them into the
// size-relative list a stored step keeps.
#include <QSet>
#include <QSizeF>
#include <QString>
#include <QVariant>
#include <QVariantList>

class WorkingParameterList {
public:
    // A new, empty list for a new set-up: the set-up is not complete and nothing changed.
    void reset();

    // Stores one parameter: the last entry holding the key is replaced in its place, a new
    // key goes to the end, so a key keeps the position of its first write. Returns true
    // when the write is a user change (made after the set-up completed, and not the value
    // already held); such a write also marks the list changed.
    bool save(const QString& key, const QVariant& value);

    // The set-up is complete: later writes are user changes.
    void setInitiallyLoaded(bool loaded) { initiallyLoaded_ = loaded; }
    bool isInitiallyLoaded() const { return initiallyLoaded_; }
    bool isChanged() const { return changed_; }
    void clearChanged() {
        changed_ = false;
        changedKeys_.clear();
    }
    // The keys the user changed since the set-up (or since clearChanged).
    const QSet<QString>& changedKeys() const { return changedKeys_; }
    // Puts back what a rebuild of the panel with the same values forgot.
    void restoreChanges(bool changed, const QSet<QString>& keys) {
        changed_ = changed;
        changedKeys_ = keys;
    }

    const QVariantList& list() const { return list_; }
    bool isEmpty() const { return list_.isEmpty(); }
    // The value of the last entry holding the key; invalid when none does.
    QVariant value(const QString& key) const;
    bool contains(const QString& key) const;
    // Replaces the whole list (an applied step reopened, parameters carried to another photo).
    void assign(const QVariantList& list) { list_ = list; }

    // The list as a stored step keeps it: geometry as fractions of the container size.
    // An empty or unusable size leaves the values as they are.
    QVariantList committed(const QString& filterName, QSizeF containerSize) const;
    // The inverse: a stored step's list in container points.
    static QVariantList inContainerPoints(const QString& filterName, QSizeF containerSize,
                                          const QVariantList& sizeRelative);

private:
    QVariantList list_;
    bool initiallyLoaded_ = false;
    bool changed_ = false;
    QSet<QString> changedKeys_;
};
