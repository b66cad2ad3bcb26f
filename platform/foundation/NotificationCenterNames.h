#pragma once
// Names of the notifications the screens and the main window exchange, written once.
#include <QString>

namespace platform::notifications {

// Screens shown and replaced by the main window.
inline const QString AddPhotosViewAppear = QStringLiteral("notificationAddPhotosViewAppear");
inline const QString AddPhotosViewDisAppear = QStringLiteral("notificationAddPhotosViewDisAppear");
inline const QString AdjustfilterAppear = QStringLiteral("notificationsAdjustfilterAppear");
inline const QString AdjustfilterDisAppear = QStringLiteral("notificationsAdjustfilterDisAppear");
inline const QString SetupViewAppear = QStringLiteral("notificationsetupViewAppear");
inline const QString SetupViewDisAppear = QStringLiteral("notificationsetupViewDisAppear");

// The main window's size.
inline const QString WindowResized = QStringLiteral("notificationWindowResized");
inline const QString WindowEndResizing = QStringLiteral("notificationWindowEndResizing");

// Moving through the batch.
inline const QString SelectedPhotoChanged = QStringLiteral("notificationSelectedPhotoChanged");
inline const QString SelectedPhotoChangedFromfiltersView = QStringLiteral("notificationSelectedPhotoChangedFromfiltersView");
inline const QString NextFromBtchEffects = QStringLiteral("notificationNextFromBtchEffects");
inline const QString ProcessSkippedFiles = QStringLiteral("notificationsProcessSkippedFiles");
inline const QString PreviewAppear = QStringLiteral("notificationPreviewAppear");
inline const QString ProcessStart = QStringLiteral("notificationProcessStart");
inline const QString ProcessStartFromconvertFormat = QStringLiteral("notificationProcessStartFromconvertFormat");
inline const QString ProcessComplete = QStringLiteral("notificationProcessComplete");
inline const QString ProcessStop = QStringLiteral("notificationProcessStop");
inline const QString ShowLoading = QStringLiteral("notificationsShowLoading");
inline const QString HideLoading = QStringLiteral("notificationsHideLoading");
inline const QString RemovePhotosFromAddPhoto = QStringLiteral("notificationRemovePhotosFromAddPhoto");
inline const QString SetupConvertAndRename = QStringLiteral("notificationSetupConvertAndRename");
inline const QString NewFavBatchAdded = QStringLiteral("notificationNewFavBatchAdded");
inline const QString StartAsNewBatch = QStringLiteral("notificationStartAsNewBatch");
inline const QString FileDragDrop = QStringLiteral("FileDragDropNotification");
// Saved data that could not be read was kept aside; the user defaults hold the notices.
inline const QString SavedDataKeptAside = QStringLiteral("notificationSavedDataKeptAside");

// The rename-and-convert view.
inline const QString ResizeTableHeader = QStringLiteral("notificationResizeTableHeader");
inline const QString DisbalePrevBtn = QStringLiteral("notificationDisbalePrevBtn");
inline const QString EnbalePrevBtn = QStringLiteral("notificationEnbalePrevBtn");
inline const QString AppearInBatchEffectsView = QStringLiteral("notificationAppearInBatchEffectsView");
// A first-run tip of the rename-and-convert view opened or closed.
inline const QString TipsDisplay = QStringLiteral("notificationsTipsDisplay");
inline const QString TipsHide = QStringLiteral("notificationsTipsHide");

}  // namespace platform::notifications
