#include "records/BatchRenameSetting.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/KeyedArchive.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Plist.h"
#include "platform/foundation/Resources.h"
#include "records/Archiving.h"

namespace {

// Field, archive key and defaults key of each rule dictionary.
struct Rule {
    QVariantMap BatchRenameSetting::*member;
    const char* archiveKey;
    const char* displayKey;
};
const Rule kRules[] = {
    {&BatchRenameSetting::dictReplaceFileName, "dictReplaceFileName", BatchRenameSetting::kReplaceFilename},
    {&BatchRenameSetting::dictDateTimeStamp, "dictDateTimeStamp", BatchRenameSetting::kDateTimeStamp},
    {&BatchRenameSetting::dictAppendFolderName, "dictAppendFolderName", BatchRenameSetting::kAppendFolderName},
    {&BatchRenameSetting::dictAddString, "dictAddString", BatchRenameSetting::kAddString},
    {&BatchRenameSetting::dictAddDigit, "dictAddDigit", BatchRenameSetting::kAddDigit},
    {&BatchRenameSetting::dictRemove, "dictRemove", BatchRenameSetting::kRemove},
    {&BatchRenameSetting::dictChangeCaseFileName, "dictChangeCaseFileName", BatchRenameSetting::kChangeCaseFileName},
    {&BatchRenameSetting::dictUseLowerCaseForFileExtension, "dictUseLowerCaseForFileExtension",
     BatchRenameSetting::kLowerCaseFileExtension},
};

// A level outside 1..9 would make the PNG writer fail; a quality outside 0..1 means
// nothing to the encoders.
void keepInRange(BatchRenameSetting& s) {
    if (s.compressionRatio)
        s.compressionRatio = std::clamp(std::round(*s.compressionRatio), double(BatchRenameSetting::kMinCompression),
                                        double(BatchRenameSetting::kMaxCompression));
    if (s.qualityRatio) s.qualityRatio = std::clamp(*s.qualityRatio, 0.0, 1.0);
}

}  // namespace

std::shared_ptr<BatchRenameSetting> BatchRenameSetting::initWithDictionary(const QVariantMap& d) {
    using namespace archiving;
    auto s = std::make_shared<BatchRenameSetting>();
    s->dateString = creationDateString();
    auto value = [&d](const char* key) { return d.value(QLatin1String(key)); };
    s->isSetCompression = boxedBool(value(kSetCompression));
    s->isSetQuality = boxedBool(value(kSetQuality));
    s->flagRenamingMode = boxedInt(value(kRenameMode));
    s->outputFormat = boxedInt(value(kOutputFormat));
    s->compressionRatio = boxedDouble(value(kCompressionRatio));
    s->qualityRatio = boxedDouble(value(kQualityRatio));
    for (const Rule& r : kRules) (*s).*(r.member) = value(r.displayKey).toMap();
    keepInRange(*s);
    return s;
}

std::shared_ptr<BatchRenameSetting> BatchRenameSetting::defaultSettings() {
    const QString path = platform::resourcePath(QStringLiteral("RenameSettings.plist"));
    const QVariant root = path.isEmpty() ? QVariant() : platform::readPlistFile(path);
    if (root.typeId() != QMetaType::QVariantMap) {
        platform::log(u"rename settings: the resource RenameSettings.plist is missing or unreadable");
        return nullptr;
    }
    return initWithDictionary(root.toMap());
}

void BatchRenameSetting::encodeWithCoder(platform::KeyedEncoder& coder) const {
    using archiving::boxed;
    coder.encodeObject(dateString, QStringLiteral("dateString"));
    coder.encodeObject(boxed(isSetCompression), QLatin1String(kSetCompression));
    coder.encodeObject(boxed(isSetQuality), QLatin1String(kSetQuality));
    coder.encodeObject(boxed(flagRenamingMode), QStringLiteral("flagRenamingMode"));
    coder.encodeObject(boxed(outputFormat), QStringLiteral("outputFormat"));
    coder.encodeObject(boxed(compressionRatio), QStringLiteral("compressionRatio"));
    coder.encodeObject(boxed(qualityRatio), QStringLiteral("qualityRatio"));
    // An empty rule is stored as the absent object, as a rule never set would be.
    for (const Rule& r : kRules) {
        const QVariantMap& rule = this->*(r.member);
        coder.encodeObject(rule.isEmpty() ? QVariant() : QVariant(rule), QLatin1String(r.archiveKey));
    }
}

void BatchRenameSetting::initWithCoder(platform::KeyedDecoder& coder) {
    using namespace archiving;
    dateString = coder.decodeStringForKey(QStringLiteral("dateString"));
    isSetCompression = boxedBool(coder, QLatin1String(kSetCompression));
    isSetQuality = boxedBool(coder, QLatin1String(kSetQuality));
    flagRenamingMode = boxedInt(coder, QStringLiteral("flagRenamingMode"));
    outputFormat = boxedInt(coder, QStringLiteral("outputFormat"));
    compressionRatio = boxedDouble(coder, QStringLiteral("compressionRatio"));
    qualityRatio = boxedDouble(coder, QStringLiteral("qualityRatio"));
    for (const Rule& r : kRules) this->*(r.member) = coder.decodeDictionaryForKey(QLatin1String(r.archiveKey));
    keepInRange(*this);
}
