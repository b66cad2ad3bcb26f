#pragma once
// The fixed effect-name sets the effects screen decides by.
#include <QStringList>

namespace effectsets {

const QStringList& pictureFrames();   // 7
const QStringList& textures();        // 16
const QStringList& stickerSets();     // 8
// Effects that draw an overlay on the preview; zooming is off while one is set up.
const QStringList& withPreviewOverlay();
// Parameterless Core Image effects: no reset button.
const QStringList& withoutResetButton();
// Effects whose generic sliders are handled by the program itself, not by a Core Image filter.
const QStringList& ownSliderEffects();

}  // namespace effectsets
