#include "records/ProjectSession.h"

#include "records/Archiving.h"

void ProjectSession::encodeWithCoder(platform::KeyedEncoder& coder) const {
    coder.encodeObject(dateString, QStringLiteral("dateString"));
    coder.encodeArrayOfObjects(arrayAppliedFilters, QStringLiteral("arrayAppliedFilters"));
    coder.encodeObject(arrayInputImagesToProcess, QStringLiteral("arrayInputImagesToProcess"));
    coder.encodeObject(batchRenameSettings, QStringLiteral("batchRenameSettings"));
    coder.encodeObject(outputSettings, QStringLiteral("outputSettings"));
    coder.encodeObject(metaDataSetting, QStringLiteral("metaDataSetting"));
}

void ProjectSession::initWithCoder(platform::KeyedDecoder& coder) {
    dateString = coder.decodeStringForKey(QStringLiteral("dateString"));
    const auto steps = coder.decodeArrayOfObjectsOfClass<AppliedFilter>(QStringLiteral("arrayAppliedFilters"));
    arrayAppliedFilters = QList<std::shared_ptr<AppliedFilter>>(steps.begin(), steps.end());
    arrayInputImagesToProcess = coder.decodeArrayForKey(QStringLiteral("arrayInputImagesToProcess"));
    batchRenameSettings = coder.decodeObjectOfClass<BatchRenameSetting>(QStringLiteral("batchRenameSettings"));
    outputSettings = coder.decodeObjectOfClass<OutputOptionSettings>(QStringLiteral("outputSettings"));
    metaDataSetting = coder.decodeObjectOfClass<MetaDataObject>(QStringLiteral("metaDataSetting"));
}
