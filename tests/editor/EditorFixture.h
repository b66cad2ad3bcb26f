#pragma once
// An effects screen on a photo of its own, with the preview rendered at once and delays
// fired by hand.
#include <QTemporaryDir>
#include <memory>

#include "editor/OneShotScheduler.h"
#include "editor/PreviewRenderer.h"
#include "editor/ui/AdjustFilterVC.h"
#include "editor/ui/EffectsScreenController.h"
#include "platform/foundation/Values.h"
#include "records/AppDelegate.h"
#include "records/PhotoFile.h"
#include "tests/support/TestSupport.h"

struct EditorScreen {
    QTemporaryDir dir;
    QString photoPath;
    std::unique_ptr<AdjustFilterVC> vc;
    ManualOneShotScheduler* scheduler = nullptr;

    // A gradient photo of the given size (its preview fits 580 x 440).
    explicit EditorScreen(int width = 1160, int height = 880)
        : EditorScreen(testsupport::gradientImage(width, height)) {}
    explicit EditorScreen(const QImage& picture) {
        AppDelegate& app = AppDelegate::shared();
        app.resetToLaunchValues();
        photoPath = dir.filePath("photo.png");
        picture.save(photoPath);
        auto photo = PhotoFile::initWithFileUrl(photoPath, false);
        app.arraySelectedImagesToProcess = {photo};
        app.selectedImageFile = photo;
        app.selectedImageIndex = 0;
        vc = std::make_unique<AdjustFilterVC>();
        vc->previewRenderer().setExecutor(PreviewRenderer::inlineExecutor());
        auto manual = std::make_unique<ManualOneShotScheduler>();
        scheduler = manual.get();
        vc->setScheduler(std::move(manual));
        // The screen's own delays (tips, Next and Back) never fire here.
        if (auto* screen = vc->findChild<EffectsScreenController*>())
            for (int d = 0; d < EffectsScreenController::DelayCount; ++d)
                screen->setDelayScheduler(EffectsScreenController::Delay(d), std::make_unique<ManualOneShotScheduler>());
        vc->resize(1200, 700);
        vc->loadPreviewForSelectedPhoto();
    }
    ~EditorScreen() { AppDelegate::shared().resetToLaunchValues(); }

    WorkingParameterList& list() { return vc->workingParameters(); }
    QVariant value(const char* key) { return list().value(QString::fromLatin1(key)); }
};
