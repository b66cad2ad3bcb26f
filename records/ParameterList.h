#pragma once
// The parameter list of an effect step: an ordered list of one-entry maps
// {parameter key: value}. The editor keeps one entry per key; a reader takes the last
// entry that holds a key.
#include <QString>
#include <QVariant>
#include <QVariantList>

struct ParameterList {
    // The value of the last entry holding key; invalid QVariant when none does.
    static QVariant valueForKey(const QVariantList& list, const QString& key);
    static bool containsKey(const QVariantList& list, const QString& key);

    // Replaces the value of the last entry holding key, in its place; a new key is appended.
    static void setValueForKey(QVariantList& list, const QString& key, const QVariant& value);
};
