#include "records/ParameterList.h"

#include <QVariantMap>

namespace {
qsizetype lastIndexOfKey(const QVariantList& list, const QString& key) {
    for (qsizetype i = list.size() - 1; i >= 0; --i) {
        const QVariant& entry = list[i];
        if (entry.typeId() == QMetaType::QVariantMap && entry.toMap().contains(key)) return i;
    }
    return -1;
}
}  // namespace

QVariant ParameterList::valueForKey(const QVariantList& list, const QString& key) {
    const qsizetype i = lastIndexOfKey(list, key);
    return i < 0 ? QVariant() : list[i].toMap().value(key);
}

bool ParameterList::containsKey(const QVariantList& list, const QString& key) {
    return lastIndexOfKey(list, key) >= 0;
}

void ParameterList::setValueForKey(QVariantList& list, const QString& key, const QVariant& value) {
    const qsizetype i = lastIndexOfKey(list, key);
    QVariantMap entry{{key, value}};
    if (i < 0)
        list.append(entry);
    else
        list[i] = entry;
}
