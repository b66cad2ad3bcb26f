#include "records/Reachability.h"

#include <QNetworkInformation>
#include <QStringList>

namespace reachability {

State currentState(const QString& backend) {
    // Only one backend lives at a time. The platform's default needs its connection
    // manager running; without it any other backend the system has will do.
    bool loaded = false;
    if (backend.isEmpty()) {
        loaded = QNetworkInformation::loadDefaultBackend();
        const QStringList others = QNetworkInformation::availableBackends();
        for (const QString& name : others) {
            if (loaded) break;
            loaded = QNetworkInformation::loadBackendByName(name);
        }
    } else {
        loaded = QNetworkInformation::loadBackendByName(backend);
    }
    QNetworkInformation* info = QNetworkInformation::instance();
    if (!loaded || !info) return State::Unknown;
    if (!backend.isEmpty() && info->backendName().compare(backend, Qt::CaseInsensitive) != 0) return State::Unknown;
    switch (info->reachability()) {
    case QNetworkInformation::Reachability::Online:
        return State::Online;
    case QNetworkInformation::Reachability::Disconnected:
    case QNetworkInformation::Reachability::Local:
    case QNetworkInformation::Reachability::Site:
        return State::Offline;
    case QNetworkInformation::Reachability::Unknown:
        break;
    }
    return State::Unknown;
}

}  // namespace reachability
