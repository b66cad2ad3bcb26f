#include "editor/EffectNameSets.h"

#include "engine/Utils.h"

namespace effectsets {

const QStringList& pictureFrames() { return Utils::pictureFrameNames(); }
const QStringList& textures() { return Utils::textureEffectNames(); }
const QStringList& stickerSets() { return Utils::stickerSetNames(); }

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
