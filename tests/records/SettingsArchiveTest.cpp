#include <gtest/gtest.h>

#include <QPainter>
#include <QSet>

#include "platform/foundation/KeyedArchive.h"
#include "platform/foundation/Values.h"
#include "records/Archiving.h"
#include "records/FavouriteBatch.h"
#include "records/ProjectSession.h"
#include "tests/support/TestSupport.h"

using platform::KeyedDecoder;
using platform::KeyedEncoder;
using platform::NumberKind;
using platform::numberKind;

namespace {

// Inspection of a stored archive: the root object's keys and values, and every class
// name recorded.
struct ArchiveView {
    QVariantMap rootKeys;
    QSet<QString> classNames;
};

ArchiveView inspect(const QByteArray& archive) {
    return {testsupport::archivedRootObject(archive), testsupport::archivedClassNames(archive)};
}

std::shared_ptr<AppliedFilter> sampleStep(const QString& name) {
    QImage thumb(6, 4, QImage::Format_ARGB32_Premultiplied);
    thumb.fill(QColor(10, 200, 30));
    const QVariantList params{QVariantMap{{"inputRadius", 0.05}},
                              QVariantMap{{"inputCount", 3}},
                              QVariantMap{{"inputFlag", true}},
                              QVariantMap{{"inputCenter", QVariant::fromValue(platform::Vec(0.5, 0.25))}},
                              QVariantMap{{"inputRect", QVariant::fromValue(platform::Vec(0, 0, 1, 0.5))}},
                              QVariantMap{{"inputColor", QColor(255, 0, 0)}},
                              QVariantMap{{"text", QStringLiteral("Hello")}}};
    return AppliedFilter::initWithFilterName(name, name + " label", params, thumb, nullptr);
}

// A stand-in that writes an effect step with only its name.
struct BareStep {
    static constexpr const char* kArchiveClassName = "AppliedFilter";
    void encodeWithCoder(KeyedEncoder& c) const { c.encodeObject(QStringLiteral("CIBloom"), "filterName"); }
    void initWithCoder(KeyedDecoder&) {}
};

}  // namespace

TEST(SettingsArchive, OutputOptionsKeepBoxedSwitchesAndMisspeltKeys) {
    auto s = OutputOptionSettings::makeDefault();
    EXPECT_TRUE(s->outputFolderPath.endsWith("/Brisko Photos"));
    EXPECT_EQ(s->copyyToDestinationFolder, true);
    EXPECT_EQ(s->openOutputFolderAfterProcessing, true);
    EXPECT_EQ(s->owerwriteExistingFiles, false);
    s->setOutputDateTimeAsOriginal.reset();  // never set

    const QByteArray data = KeyedEncoder::archivedDataWithRootObject(*s);
    const ArchiveView view = inspect(data);
    EXPECT_TRUE(view.classNames.contains("OutputOptionSettings"));
    for (const char* key : {"dateString", "outputFolderPath", "moveAndRenameToDestinationFolder",
                            "copyyToDestinationFolder", "useSourceFolder", "openOutputFolderAfterProcessing",
                            "owerwriteExistingFiles", "setOutputDateTimeAsOriginal"})
        EXPECT_TRUE(testsupport::isArchiveReference(view.rootKeys.value(QString::fromLatin1(key)))) << key;

    auto back = KeyedDecoder::unarchiveObjectWithData<OutputOptionSettings>(data);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->dateString, s->dateString);
    EXPECT_EQ(back->outputFolderPath, s->outputFolderPath);
    EXPECT_EQ(back->copyyToDestinationFolder, std::optional<bool>(true));
    EXPECT_EQ(back->moveAndRenameToDestinationFolder, std::optional<bool>(false));
    EXPECT_EQ(back->owerwriteExistingFiles, std::optional<bool>(false));
    EXPECT_FALSE(back->setOutputDateTimeAsOriginal.has_value());  // absent, not false
}

TEST(SettingsArchive, RenameSettingsFromTheResourceAndBack) {
    auto defaults = BatchRenameSetting::defaultSettings();
    ASSERT_TRUE(defaults) << "RenameSettings.plist must be in the resource folder";
    EXPECT_FALSE(defaults->dateString.isEmpty());
    ASSERT_TRUE(defaults->compressionRatio && defaults->qualityRatio && defaults->outputFormat &&
                defaults->flagRenamingMode && defaults->isSetCompression && defaults->isSetQuality);
    EXPECT_GE(*defaults->compressionRatio, 1.0);
    EXPECT_LE(*defaults->compressionRatio, 9.0);
    EXPECT_GT(*defaults->qualityRatio, 0.0);
    EXPECT_LE(*defaults->qualityRatio, 1.0);
    EXPECT_EQ(*defaults->flagRenamingMode, 0);
    struct Rule { QVariantMap BatchRenameSetting::*member; QStringList keys; };
    for (const Rule& r : {Rule{&BatchRenameSetting::dictReplaceFileName, {"New Name"}},
                          Rule{&BatchRenameSetting::dictDateTimeStamp, {"As", "Type", "Format", "Custom"}},
                          Rule{&BatchRenameSetting::dictAppendFolderName, {"As"}},
                          Rule{&BatchRenameSetting::dictAddString, {"Prefix", "Suffix", "Insert", "At Position"}},
                          Rule{&BatchRenameSetting::dictAddDigit, {"As", "At Position", "Starting Index", "Increment"}},
                          Rule{&BatchRenameSetting::dictRemove, {"First n", "Last n", "From", "To", "Chars", "Words"}},
                          Rule{&BatchRenameSetting::dictChangeCaseFileName, {"Case Mode"}},
                          Rule{&BatchRenameSetting::dictUseLowerCaseForFileExtension, {}}}) {
        const QVariantMap rule = (*defaults).*(r.member);
        EXPECT_EQ(numberKind(rule.value("State")), NumberKind::Boolean);
        for (const QString& k : r.keys) EXPECT_TRUE(rule.contains(k)) << k.toStdString();
    }

    BatchRenameSetting s = *defaults;
    s.isSetCompression = true;
    s.outputFormat = 6;
    s.compressionRatio = 9.0;
    s.dictAddString["Prefix"] = QStringLiteral("trip_");
    const QByteArray data = KeyedEncoder::archivedDataWithRootObject(s);
    const ArchiveView view = inspect(data);
    EXPECT_TRUE(view.rootKeys.contains("Set Compression"));
    EXPECT_TRUE(view.rootKeys.contains("Set Quality"));
    EXPECT_FALSE(view.rootKeys.contains("isSetCompression"));
    EXPECT_TRUE(view.rootKeys.contains("dictUseLowerCaseForFileExtension"));
    auto back = KeyedDecoder::unarchiveObjectWithData<BatchRenameSetting>(data);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->dateString, s.dateString);
    EXPECT_EQ(back->isSetCompression, s.isSetCompression);
    EXPECT_EQ(back->isSetQuality, s.isSetQuality);
    EXPECT_EQ(back->flagRenamingMode, s.flagRenamingMode);
    EXPECT_EQ(back->outputFormat, std::optional<int>(6));
    EXPECT_EQ(back->compressionRatio, std::optional<double>(9.0));
    EXPECT_EQ(back->qualityRatio, s.qualityRatio);
    for (auto member : {&BatchRenameSetting::dictReplaceFileName, &BatchRenameSetting::dictDateTimeStamp,
                        &BatchRenameSetting::dictAppendFolderName, &BatchRenameSetting::dictAddString,
                        &BatchRenameSetting::dictAddDigit, &BatchRenameSetting::dictRemove,
                        &BatchRenameSetting::dictChangeCaseFileName, &BatchRenameSetting::dictUseLowerCaseForFileExtension})
        EXPECT_EQ((*back).*member, s.*member);
}

TEST(SettingsArchive, RenameSettingsKeepCompressionAZlibMemoryLevel) {
    struct Case { QVariant given; std::optional<double> expected; };
    for (const Case& c : {Case{0, 1.0}, Case{-4.0, 1.0}, Case{20, 9.0}, Case{5.4, 5.0}, Case{QVariant(), std::nullopt},
                          Case{QStringLiteral("7"), std::nullopt}}) {
        auto s = BatchRenameSetting::initWithDictionary({{"Compression Ratio", c.given}, {"Quality Ratio", 1.5}});
        EXPECT_EQ(s->compressionRatio, c.expected) << c.given.toString().toStdString();
        EXPECT_EQ(s->qualityRatio, std::optional<double>(1.0));
        EXPECT_FALSE(s->outputFormat.has_value());
    }
}

TEST(SettingsArchive, EffectStepKeepsEverythingButItsCategory) {
    auto step = sampleStep("CIBloom");
    step->isApplied = false;
    const QByteArray data = KeyedEncoder::archivedDataWithRootObject(*step);
    const ArchiveView view = inspect(data);
    EXPECT_TRUE(view.classNames.contains("AppliedFilter"));
    EXPECT_EQ(QSet<QString>(view.rootKeys.keyBegin(), view.rootKeys.keyEnd()),
              QSet<QString>({"$class", "filterName", "filterDisplayName", "filterParameters", "isApplied",
                             "filterAppliedImage"}));
    auto back = KeyedDecoder::unarchiveObjectWithData<AppliedFilter>(data);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->filterName, "CIBloom");
    EXPECT_EQ(back->filterDisplayName, "CIBloom label");
    EXPECT_FALSE(back->isApplied);
    EXPECT_EQ(back->filterParameters, step->filterParameters);
    EXPECT_EQ(numberKind(back->filterParameters[1].toMap()["inputCount"]), NumberKind::Integer);
    EXPECT_EQ(numberKind(back->filterParameters[2].toMap()["inputFlag"]), NumberKind::Boolean);
    EXPECT_EQ(back->filterAppliedImage.convertToFormat(QImage::Format_ARGB32),
              step->filterAppliedImage.convertToFormat(QImage::Format_ARGB32));
    EXPECT_FALSE(back->parentfilterCategory);

    // A step stored without a switch comes back switched off, without a thumbnail.
    auto bare = KeyedDecoder::unarchiveObjectWithData<AppliedFilter>(KeyedEncoder::archivedDataWithRootObject(BareStep{}));
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->filterName, "CIBloom");
    EXPECT_FALSE(bare->isApplied);
    EXPECT_TRUE(bare->filterAppliedImage.isNull());
    EXPECT_TRUE(bare->filterParameters.isEmpty());
}

TEST(SettingsArchive, SessionAndFavouriteRoundTrips) {
    ProjectSession session;
    session.dateString = archiving::creationDateString();
    session.arrayAppliedFilters = {sampleStep("CIBloom"), sampleStep("Add Text")};
    session.outputSettings = OutputOptionSettings::makeDefault();
    session.batchRenameSettings = BatchRenameSetting::defaultSettings();
    session.metaDataSetting = std::make_shared<MetaDataObject>();
    session.metaDataSetting->IPTC_City = "Oslo";
    const QByteArray data = KeyedEncoder::archivedDataWithRootObject(session);
    const ArchiveView view = inspect(data);
    for (const char* cls : {"ProjectSession", "AppliedFilter", "OutputOptionSettings", "BatchRenameSetting",
                            "MetaDataObject", "NSArray"})
        EXPECT_TRUE(view.classNames.contains(QString::fromLatin1(cls))) << cls;
    EXPECT_TRUE(view.rootKeys.contains("arrayInputImagesToProcess"));

    auto back = KeyedDecoder::unarchiveObjectWithData<ProjectSession>(data);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->dateString, session.dateString);
    ASSERT_EQ(back->arrayAppliedFilters.size(), 2);
    EXPECT_EQ(back->arrayAppliedFilters[1]->filterName, "Add Text");
    ASSERT_TRUE(back->outputSettings && back->batchRenameSettings && back->metaDataSetting);
    EXPECT_EQ(back->metaDataSetting->IPTC_City, "Oslo");
    EXPECT_EQ(back->batchRenameSettings->dictRemove, session.batchRenameSettings->dictRemove);
    EXPECT_TRUE(back->arrayInputImagesToProcess.isEmpty());

    // Settings never made stay absent.
    ProjectSession sparse;
    auto sparseBack = KeyedDecoder::unarchiveObjectWithData<ProjectSession>(KeyedEncoder::archivedDataWithRootObject(sparse));
    ASSERT_TRUE(sparseBack);
    EXPECT_FALSE(sparseBack->outputSettings);
    EXPECT_FALSE(sparseBack->metaDataSetting);

    FavouriteBatch fav;
    fav.name = "Warm";
    fav.dateString = "Jan-02-2024 03:04:5 PM";
    fav.filtersArray = session.arrayAppliedFilters;
    auto favBack = KeyedDecoder::unarchiveObjectWithData<FavouriteBatch>(KeyedEncoder::archivedDataWithRootObject(fav));
    ASSERT_TRUE(favBack);
    EXPECT_EQ(favBack->name, "Warm");
    EXPECT_EQ(favBack->dateString, fav.dateString);
    EXPECT_EQ(favBack->filtersArray.size(), 2);
    // A session archive is not a favourite.
    EXPECT_FALSE(KeyedDecoder::unarchiveObjectWithData<FavouriteBatch>(data));
}

TEST(SettingsArchive, CreationDatePattern) {
    const QDateTime when(QDate(2024, 1, 2), QTime(15, 4, 5));
    const QString text = archiving::creationDateString(when);
    // Month abbreviation, day, year, 12-hour time with single-digit seconds.
    EXPECT_TRUE(text.contains("-02-2024 03:04:5 ")) << text.toStdString();
}
