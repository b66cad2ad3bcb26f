#pragma once
// Comparing the effects screen's preview with what the batch writes: the effects of the
// catalogue as a user would set each up, and how alike two pictures are.
#include <QHash>
#include <QImage>
#include <QPlainTextEdit>
#include <QLineEdit>
#include <QPainter>

#include "editor/ui/TextWatermarkView.h"
#include "editor/ui/ValueSlider.h"
#include "engine/FiltersList.h"
#include "records/FilterRecord.h"
#include "tests/editor/EffectsScreenFixture.h"
#include "tests/support/ImageFixtures.h"

namespace fxtest {

// Peak signal-to-noise ratio of the colour channels, both pictures laid over black; -1 for
// pictures of different sizes.
inline double psnr(const QImage& first, const QImage& second) {
    if (first.size() != second.size() || first.isNull()) return -1;
    const auto overBlack = [](const QImage& picture) {
        QImage out(picture.size(), QImage::Format_RGB32);
        out.fill(Qt::black);
        QPainter(&out).drawImage(0, 0, picture);
        return out;
    };
    return testsupport::psnr(overBlack(first), overBlack(second));
}

// How alike the preview of an effect and the written photo scaled back to it must be: 35 dB,
// but for the two effects that cannot reach it, with what they do reach:
// - the edge detector measures the change from one pixel to the next, so an edge a pixel
//   wide on both pictures is three times as steep on the preview's scale as on the photo's,
//   while a soft one is as steep: no one strength shows both as the photo gets them;
// - the vortex at 70 % of its angle winds the dark bar into lines thinner than a pixel of
//   the preview, which the preview samples and the written photo averages.
inline double leastPreviewMatch(const QString& effect) {
    static const QHash<QString, double> reachedBelow35 = {{"CIEdges", 22.0}, {"CIVortexDistortion", 30.0}};
    return reachedBelow35.value(effect, 35.0);
}

// The effects a user can choose one by one (not the rename row or the basic group's header).
inline QList<std::shared_ptr<FilterRecord>> catalogueEffects() {
    QList<std::shared_ptr<FilterRecord>> effects;
    for (const auto& record : FiltersList::sharedFiltersList().allAvailableFilters)
        if (record && !record->isCategory && record->filterName != "Batch Conversion" && record->filterName != "Basic")
            effects << record;
    return effects;
}

inline bool isTextEffect(const QString& name) {
    return name == "Add Text" || name == "Add Watermark" || name == "Add Date";
}

// The effect opened and set up with values a user would choose: every slider at 70 % of its
// range, the second picture of a list, a picture of one's own (`logo`), a typed text, half
// the width of a photo 1740 wide. The preview is left to be drawn.
inline void setUpAsAUserWould(Screen& s, const FilterRecord& record, const QString& logo) {
    const QString name = record.filterName;
    s.vc->selectEffectByName(name, record.filterDisplayName);
    s.settle();
    for (int slot = 0; slot < 6; ++slot) {
        ValueSlider* slider = s.vc->slider(slot);
        if (!slider || !s.vc->getViewWithTag(100 + slot)->isVisible()) continue;
        s.vc->handleSlider(slot, slider->minimumValue() + 0.7 * (slider->maximumValue() - slider->minimumValue()));
    }
    if (s.screen->vwTextureEffect()->isVisible()) s.screen->textureRowChosen(1);
    if (s.screen->vwStickers()->isVisible()) s.screen->stickerChosen(1);
    if (name == "Add Custom Image") s.screen->setCustomImageFromFile(logo);
    TextWatermarkView* box = s.screen->textWatermarkView();
    if (name == "Add Text" || name == "Add Watermark") {
        box->enableTextEvents();
        box->textField()->setPlainText(QStringLiteral("Brisko 2024"));
        box->disableTextEvents();
    }
    if (name == "Resize") {
        s.vc->txtWidth()->setText("870");
        s.vc->resizeFieldChanged(true);
        s.vc->applyResizeFilter();
    }
}

}  // namespace fxtest
