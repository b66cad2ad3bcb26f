#include "import/AddPhotosAlerts.h"

namespace addphotosalerts {

Sheet info(const intake::IntakeAlert& alert) {
    Sheet s;
    s.kind = Kind::Info;
    s.title = alert.title;
    s.message = alert.message;
    s.ok = true;
    s.preferred = Button::Ok;
    return s;
}

Sheet notAvailable(bool fileExists) {
    Sheet s;
    s.kind = Kind::NotAvailable;
    s.title = QStringLiteral("PHOTO NOT AVAILABLE");
    // A file that is still there but cannot be read is not called missing.
    s.message = fileExists ? QStringLiteral("Selected Photo cannot be read: its file is damaged or in a format Brisko "
                                            "Photos cannot open.")
                           : QStringLiteral("Selected Photo not available at source location");
    s.remove = s.no = true;
    s.noText = QStringLiteral("Cancel");
    s.preferred = Button::Remove;
    return s;
}

namespace {

Sheet confirmation(Kind kind, const QString& title, const QString& message) {
    Sheet s;
    s.kind = kind;
    s.title = title;
    s.message = message;
    s.yes = s.no = true;
    s.yesText = QStringLiteral("Yes");
    s.noText = QStringLiteral("No");
    s.preferred = Button::Yes;
    return s;
}

}  // namespace

Sheet removeSelected(int selected) {
    if (selected == 0)
        return info({QStringLiteral("No Photo to Delete").toUpper(), QStringLiteral("No Photo selected to Delete.")});
    const QString s = selected >= 2 ? QStringLiteral("s") : QString();
    return confirmation(Kind::RemoveSelected, QStringLiteral("REMOVE SELECTED PHOTO%1").arg(s).toUpper(),
                        QStringLiteral("Remove selected photo%1 from Batch?").arg(s));
}

Sheet removeAll(int count) {
    const QString s = count >= 2 ? QStringLiteral("s") : QString();
    const QString a = count >= 2 ? QStringLiteral("all") : QString();
    return confirmation(Kind::RemoveAll, QStringLiteral("REMOVE %1 PHOTO%2").arg(a, s).toUpper(),
                        QStringLiteral("Remove %1 photo%2 from the Batch?").arg(a, s));
}

Sheet lastSession() {
    Sheet s = confirmation(Kind::LastSession, QStringLiteral("LOAD LAST SESSION"),
                           QStringLiteral("Load the photos and settings of your last session, or start a new one?"));
    s.yesText = QStringLiteral("Load");
    s.noText = QStringLiteral("Start New");
    return s;
}

intake::IntakeAlert allDeleted(int count) {
    const bool plural = count > 1;
    return {QStringLiteral("PHOTO%1 DELETED").arg(plural ? QStringLiteral("S") : QString()),
            QStringLiteral("Photo%1 no longer exists in the Source folder!").arg(plural ? QStringLiteral("s") : QString())};
}

bool escapeAnswers(Kind kind, Button* button) {
    switch (kind) {
    case Kind::Info: *button = Button::Ok; return true;
    case Kind::NotAvailable:
    case Kind::RemoveSelected:
    case Kind::RemoveAll: *button = Button::No; return true;
    default: return false;
    }
}

}  // namespace addphotosalerts
