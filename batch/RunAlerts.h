#pragma once
// The run screen's typed alerts and the rate prompt's decision, as plain logic the screen
// and the tests share.
#include <QString>
#include <QUrl>
#include <functional>

#include "platform/foundation/UserDefaults.h"

namespace runalerts {

enum AlertType { PhotosDeleted = 107, StartRefused = 115, RateApp = 118, SessionNotSaved = 121 };

struct AlertContent {
    QString title, message;
    bool ok = false, yes = false, noThanks = false;
};
// Title, message and buttons of an alert; photoCount decides the plural of 107.
AlertContent contentFor(int type, qsizetype photoCount);

// The way back from the summary asks for a rating once per version.
// The application's page in the desktop's software centre.
QUrl storePageUrl(const QString& appId);
// The application's id in the software centre (the metainfo file's id), lower case: the
// address carries it as its host part, which addresses compare without letter case.
inline const QString kAppStreamId = QStringLiteral("io.github.brisko.briskophotos");

bool shouldAskForRating(const QString& bundleVersion,
                        platform::UserDefaults& defaults = platform::UserDefaults::standardUserDefaults());
// Yes on the prompt: opens the page with `open`; only when it opened is the version
// stored under "appVersion" (so a failed open asks again next time). Returns whether it opened.
bool acceptRating(const std::function<bool(const QUrl&)>& open, const QString& bundleVersion,
                  platform::UserDefaults& defaults = platform::UserDefaults::standardUserDefaults());

}  // namespace runalerts

#include <QList>
#include <memory>
struct PhotoFile;
namespace runalerts {
// The photos of the batch whose files are still there (batch order) and how many that is.
struct DeletedCheck {
    qsizetype existing = 0;
    QList<std::shared_ptr<PhotoFile>> kept;  // with remove: the existing ones; else all
};
DeletedCheck checkForDeletedPhotosInSourceFolder(const QList<std::shared_ptr<PhotoFile>>& photos, bool remove);
}  // namespace runalerts
