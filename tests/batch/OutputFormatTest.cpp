// The output format numbers: which formats are lossy and which may pass through the PNG
// optimiser, and that the format panel and the writer follow the same answer for every
// entry of the output format list.
#include <gtest/gtest.h>

#include "batch/RenameSettingsEditor.h"
#include "batch/ResultWriter.h"
#include "records/AppDelegate.h"
#include "records/BatchRenameSetting.h"
#include "records/MetaDataObject.h"
#include "tests/batch/BatchFixtures.h"

namespace outputformattest {

// A writer for this output format with quality (at 0.5) and compression switched on or off.
ResultWriter writerFor(int format, bool switchedOn) {
    auto rename = batchtest::renameSettings(format);
    rename->isSetQuality = switchedOn;
    rename->qualityRatio = 0.5;
    rename->isSetCompression = switchedOn;
    ResultWriterSettings settings;
    settings.renameSetting = rename;
    settings.metaDataSetting = std::make_shared<MetaDataObject>();
    return ResultWriter(settings);
}

TEST(OutputFormats, EachEntryGetsOnePanelOneQualityAndTheOptimiserOnlyWhereOffered) {
    using namespace outputformat;
    const struct {
        int format;
        const char* entry;  // of the output format list
        bool lossy, mayOptimise;
        FormatPanel panel;
    } cases[] = {
        {KeepOriginal, "Keep original format", false, false, FormatPanel::None},
        {Tif, "tif", false, true, FormatPanel::Compression},
        {Bmp, "bmp", false, true, FormatPanel::Compression},
        {Gif, "gif", false, true, FormatPanel::Compression},
        {Jpg, "jpg", true, false, FormatPanel::Quality},
        {Jpeg, "jpeg", true, false, FormatPanel::Quality},
        {Png, "png", false, true, FormatPanel::Compression},
        {Jp2, "jp2", true, false, FormatPanel::Quality},
        {Pdf, "pdf", false, true, FormatPanel::Compression},
    };
    const QStringList list = AppDelegate::defaultFileFormats();
    ASSERT_EQ(list.size(), int(std::size(cases)));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        EXPECT_EQ(list.at(c.format), QString::fromLatin1(c.entry));
        EXPECT_EQ(isLossy(c.format), c.lossy);
        EXPECT_EQ(mayOptimise(c.format), c.mayOptimise);
        EXPECT_EQ(renameedit::formatPanelFor(c.format), c.panel);

        // The quality slider counts where it is offered, and for the original formats
        // (their JPEGs); everything else is written at 0.98.
        const bool takesQuality = c.lossy || c.format == KeepOriginal;
        EXPECT_FLOAT_EQ(writerFor(c.format, true).qualityFactorForOutput(), takesQuality ? 0.49f : 0.98f);
        EXPECT_FLOAT_EQ(writerFor(c.format, false).qualityFactorForOutput(), takesQuality ? 0.82f : 0.98f);

        // The optimiser takes a PNG file where compression is offered and switched on.
        EXPECT_EQ(writerFor(c.format, true).usesOptimiser(platform::ImageType::PNG), c.mayOptimise);
        EXPECT_FALSE(writerFor(c.format, false).usesOptimiser(platform::ImageType::PNG));
    }
}

}  // namespace outputformattest
