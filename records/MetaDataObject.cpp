#include "records/MetaDataObject.h"

#include <QStringList>

#include "platform/foundation/Dates.h"
#include "platform/foundation/KeyedArchive.h"
#include "platform/foundation/Numbers.h"
#include "platform/imageio/ImageProperties.h"
#include "records/OutputProperties.h"

using outputprops::FieldSpec;
using outputprops::Read;

namespace {

const QString kMetadataDatePattern = QStringLiteral("yyyy:MM:dd HH:mm:ss");

// A value as the metadata views show it: texts as they are, numbers in their shortest
// C-locale form, lists as their elements joined by ",".
QString describeValue(const QVariant& v) {
    if (!v.isValid()) return QStringLiteral("(null)");
    switch (v.typeId()) {
    case QMetaType::QString: return v.toString();
    case QMetaType::Bool: return v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::Double:
    case QMetaType::Float: return platform::stringFromDouble(v.toDouble());
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        QStringList parts;
        for (const QVariant& e : v.toList()) parts << describeValue(e);
        return parts.join(QLatin1Char(','));
    }
    default: break;
    }
    if (v.canConvert<QString>()) return v.toString();
    return QStringLiteral("(null)");
}

}  // namespace

MetaDataObject::MetaDataObject() { commmonInit(); }

void MetaDataObject::commmonInit() {
    for (const TextField& f : textFields()) this->*(f.member) = QStringLiteral("");
}

const std::vector<MetaDataObject::TextField>& MetaDataObject::textFields() {
    static const std::vector<TextField> fields = [] {
        std::vector<TextField> out;
        for (const FieldSpec& f : outputprops::fieldTable()) out.push_back({f.name, f.member});
        return out;
    }();
    return fields;
}

std::shared_ptr<MetaDataObject> MetaDataObject::initWithObject(const MetaDataObject& other) {
    auto r = std::make_shared<MetaDataObject>();
    for (const TextField& f : textFields()) (*r).*(f.member) = other.*(f.member);
    r->editingOption = other.editingOption;
    r->clearExif = other.clearExif;
    r->clearIPTC = other.clearIPTC;
    r->clearComment = other.clearComment;
    r->clearGpsInfo = other.clearGpsInfo;
    return r;
}

std::shared_ptr<MetaDataObject> MetaDataObject::initWithDict(const QVariantMap& properties) {
    auto r = std::make_shared<MetaDataObject>();
    r->resetAllWithDict(properties);
    return r;
}

std::shared_ptr<MetaDataObject> MetaDataObject::initWithFile(const QString& path) {
    return initWithDict(platform::readImageProperties(path));
}

void MetaDataObject::resetAllWithDict(const QVariantMap& properties) {
    if (properties.isEmpty()) return;
    for (const FieldSpec& f : outputprops::fieldTable()) {
        QString& text = this->*(f.member);
        if (f.read == Read::SetEmpty) {
            text = QStringLiteral("");
            continue;
        }
        const QVariant g = properties.value(QLatin1String(f.group));
        if (g.typeId() != QMetaType::QVariantMap) continue;  // a missing group keeps its fields
        const QVariantMap group = g.toMap();
        const auto value = group.constFind(QLatin1String(f.key));
        const bool present = value != group.cend();
        switch (f.read) {
        case Read::Text: text = describeValue(present ? *value : QVariant()).trimmed(); break;
        case Read::Joined:
            if (present) {
                QStringList parts;
                const QVariantList list = value->typeId() == QMetaType::QVariantList ? value->toList() : QVariantList{*value};
                for (const QVariant& e : list) parts << describeValue(e);
                text = parts.join(QLatin1Char(','));
            }
            break;
        case Read::Untrimmed:
            if (present) text = describeValue(*value);
            break;
        case Read::SetEmpty: break;
        }
    }
    for (const TextField& f : textFields()) {
        QString& text = this->*(f.member);
        if (text.isNull() || text == QLatin1String("(null)")) text = QStringLiteral("");
    }
    CamSetting_Aperture = outputprops::apertureFromApex(CamSetting_Aperture);
    CamSetting_ShutterSpeed = outputprops::shutterFromApex(CamSetting_ShutterSpeed);
}

void MetaDataObject::encodeWithCoder(platform::KeyedEncoder& coder) const {
    for (const TextField& f : textFields()) coder.encodeObject(this->*(f.member), QLatin1String(f.name));
    coder.encodeInt32(editingOption, QStringLiteral("editingOption"));
    coder.encodeInt32(clearExif ? 1 : 0, QStringLiteral("clearExif"));
    coder.encodeInt32(clearIPTC ? 1 : 0, QStringLiteral("clearIPTC"));
    coder.encodeInt32(clearComment ? 1 : 0, QStringLiteral("clearComment"));
    coder.encodeInt32(clearGpsInfo ? 1 : 0, QStringLiteral("clearGpsInfo"));
}

void MetaDataObject::initWithCoder(platform::KeyedDecoder& coder) {
    // A key missing from the archive leaves its text absent, not empty.
    for (const TextField& f : textFields()) this->*(f.member) = coder.decodeStringForKey(QLatin1String(f.name));
    editingOption = coder.decodeInt32ForKey(QStringLiteral("editingOption"));
    clearExif = coder.decodeInt32ForKey(QStringLiteral("clearExif")) != 0;
    clearIPTC = coder.decodeInt32ForKey(QStringLiteral("clearIPTC")) != 0;
    clearComment = coder.decodeInt32ForKey(QStringLiteral("clearComment")) != 0;
    clearGpsInfo = coder.decodeInt32ForKey(QStringLiteral("clearGpsInfo")) != 0;
    isReset = false;
    isLoadedFromLastSession = false;
}

QDateTime MetaDataObject::dateFromMetadataText(const QString& text) {
    return platform::parseDate(text.trimmed(), kMetadataDatePattern);
}

QString MetaDataObject::metadataTextFromDate(const QDateTime& date) {
    return platform::formatDate(date, kMetadataDatePattern);
}
