#include "batch/RunAlerts.h"

#include "batch/RunStartGate.h"
#include "records/CommonFunc.h"

namespace runalerts {

AlertContent contentFor(int type, qsizetype photoCount) {
    AlertContent c;
    const bool plural = photoCount >= 2;
    switch (type) {
    case PhotosDeleted:
        c.title = QStringLiteral("PHOTO%1 DELETED").arg(plural ? QStringLiteral("S") : QString());
        c.message = QStringLiteral("Photo%1 no longer exists in the Source folder!").arg(plural ? QStringLiteral("s") : QString());
        c.ok = true;
        break;
    case StartRefused:
        c.title = startgate::RefusedTitle;
        c.message = startgate::RefusedText;
        c.ok = true;
        break;
    case RateApp:
        c.title = QStringLiteral("RATE BRISKO PHOTOS");
        c.message = QStringLiteral(
            "If you enjoy using Brisko Photos, would you mind taking a moment to rate it? Thanks for your support!");
        c.yes = c.noThanks = true;
        break;
    case SessionNotSaved:
        c.title = CommonFunc::getLocalizedStringForKey(QStringLiteral("ID_SESSION_NOT_SAVED_TITLE"));
        c.message = CommonFunc::getLocalizedStringForKey(QStringLiteral("ID_SESSION_NOT_SAVED"));
        c.ok = true;
        break;
    default: break;
    }
    return c;
}

QUrl storePageUrl(const QString& appId) { return QUrl(QStringLiteral("appstream://") + appId); }

bool shouldAskForRating(const QString& bundleVersion, platform::UserDefaults& defaults) {
    return defaults.stringForKey(QString::fromLatin1(platform::DefaultsKey::AppVersion)) != bundleVersion;
}

bool acceptRating(const std::function<bool(const QUrl&)>& open, const QString& bundleVersion,
                  platform::UserDefaults& defaults) {
    const bool opened = open && open(storePageUrl(kAppStreamId));
    if (opened) {
        defaults.setObject(bundleVersion, QString::fromLatin1(platform::DefaultsKey::AppVersion));
        defaults.synchronize();
    }
    return opened;
}

}  // namespace runalerts

#include <QFileInfo>
#include "records/PhotoFile.h"
#include "platform/foundation/FileAttributes.h"
namespace runalerts {
DeletedCheck checkForDeletedPhotosInSourceFolder(const QList<std::shared_ptr<PhotoFile>>& photos, bool remove) {
    DeletedCheck check;
    check.kept = photos;
    for (qsizetype i = photos.size() - 1; i >= 0; --i) {
        const bool exists = photos[i] && platform::fileExists(photos[i]->filePath);
        if (exists) ++check.existing;
        else if (remove) check.kept.removeAt(i);
    }
    return check;
}
}  // namespace runalerts
