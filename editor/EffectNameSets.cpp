#include "editor/EffectNameSets.h"

namespace effectsets {

const QStringList& pictureFrames() {
    static const QStringList names = {"Grunge Frame",     "Brush Strokes Frame", "Classic Frame", "Fancy Frame",
                                      "Film Strip Frame", "Royal Frame",         "Vintage Frame"};
    return names;
}

const QStringList& textures() {
    static const QStringList names = {"Grunge Effect", "Lights Effect", "Paint Effect", "Fabric Effect",
                                      "Metal Effect",  "Paper Effect",  "Scratch Effect", "Art Effect",
                                      "Bokeh Effect",  "Bricks Effect", "Color Effect", "Film Effect",
                                      "Fire Effect",   "Black n White Effect", "Vignette Effect", "Vintage Effect"};
    return names;
}

const QStringList& stickerSets() {
    static const QStringList names = {"Birthday", "Chat Bubbles", "Design Elements", "Emoticons",
                                      "Food",     "Love",         "Music",           "Zodiac"};
    return names;
}

const QStringList& withPreviewOverlay() {
    static const QStringList names = [] {
        QStringList n = {"CICrop", "Add Text", "Add Date", "Add Custom Image", "Add Logo", "Add Watermark",
                         "CIVignetteEffect", "CIBumpDistortion", "CIBumpDistortionLinear",
                         "CICircleSplashDistortion", "CIPinchDistortion", "CIHoleDistortion",
                         "CITorusLensDistortion", "CITwirlDistortion", "CIVortexDistortion", "CICMYKHalftone",
                         "CICircularScreen", "CICrystallize", "CIDotScreen", "CIHatchedScreen",
                         "CIHexagonalPixellate", "CILineScreen", "CIPixellate", "CIPointillize", "CIZoomBlur"};
        n += stickerSets();
        return n;
    }();
    return names;
}

const QStringList& withoutResetButton() {
    static const QStringList names = {"CIColorInvert", "CIMaximumComponent", "CIMinimumComponent", "CIMedianFilter",
                                      "CIComicEffect", "CIPhotoEffectChrome", "CIPhotoEffectFade",
                                      "CIPhotoEffectInstant", "CIPhotoEffectMono", "CIPhotoEffectNoir",
                                      "CIPhotoEffectProcess", "CIPhotoEffectTonal", "CIPhotoEffectTransfer"};
    return names;
}

const QStringList& ownSliderEffects() {
    static const QStringList names = {"RGB Adjust", "Brightness", "Contrast", "Rotate", "Add Border", "Add Text",
                                      "Add Watermark", "Add Date", "Add Custom Image", "Add Logo", "Black & White"};
    return names;
}

}  // namespace effectsets
