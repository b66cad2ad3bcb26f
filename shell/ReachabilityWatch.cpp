#include "shell/ReachabilityWatch.h"

#include "platform/foundation/Log.h"

#include <QNetworkInformation>

ReachabilityWatch::ReachabilityWatch(const QString& backend, QObject* parent) : QObject(parent) {
    const reachability::State first = reachability::currentState(backend);
    QNetworkInformation* info = QNetworkInformation::instance();
    watching_ = info && (backend.isEmpty() || info->backendName().compare(backend, Qt::CaseInsensitive) == 0);
    if (watching_) {
        connect(info, &QNetworkInformation::reachabilityChanged, this,
                [this] { update(reachability::currentState(QNetworkInformation::instance()->backendName())); });
    }
    update(first);
}

QString ReachabilityWatch::describe(reachability::State state) {
    switch (state) {
    case reachability::State::Online:
        return QStringLiteral("Network reachability: online");
    case reachability::State::Offline:
        return QStringLiteral("Network reachability: offline");
    case reachability::State::Unknown:
        break;
    }
    return QStringLiteral("Network reachability: unknown");
}

void ReachabilityWatch::update(reachability::State state) {
    state_ = state;
    platform::logText(describe(state));
}
