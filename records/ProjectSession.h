#pragma once
// The saved session: the effect steps and the rename, output and metadata settings of
// the batch, with the time it was saved. The photos travel beside it as bookmarks
// (records/SavedState.h).
#include <QList>
#include <QString>
#include <QVariantList>
#include <memory>

#include "records/AppliedFilter.h"
#include "records/BatchRenameSetting.h"
#include "records/MetaDataObject.h"
#include "records/OutputOptionSettings.h"

struct ProjectSession {
    static constexpr const char* kArchiveClassName = "ProjectSession";

    QString dateString;
    QList<std::shared_ptr<AppliedFilter>> arrayAppliedFilters;
    QVariantList arrayInputImagesToProcess;  // archived but never filled
    std::shared_ptr<BatchRenameSetting> batchRenameSettings;
    std::shared_ptr<OutputOptionSettings> outputSettings;
    std::shared_ptr<MetaDataObject> metaDataSetting;

    void encodeWithCoder(platform::KeyedEncoder& coder) const;
    void initWithCoder(platform::KeyedDecoder& coder);
};
