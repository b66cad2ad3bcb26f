#include "records/Reachability.h"

#include <QNetworkInformation>

namespace reachability {

State currentState(const QString& backend) {
    // Only one backend lives at a time; a different name asked for later replaces it.
    const bool loaded = backend.isEmpty() ? QNetworkInformation::loadDefaultBackend()
                                          : QNetworkInformation::loadBackendByName(backend);
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
