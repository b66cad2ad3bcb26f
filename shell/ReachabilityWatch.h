#pragma once
// The start-up's watch on the network: it logs whether the system says it is online and
// every change the system reports afterwards. It reads the system's own state and sends
// nothing over the network.
#include <QObject>
#include <QString>

#include "records/Reachability.h"

class ReachabilityWatch : public QObject {
    Q_OBJECT
public:
    // Starts watching with the named backend (the system's own choice when empty); a
    // system without one logs that reachability is unknown and watches nothing.
    explicit ReachabilityWatch(const QString& backend = {}, QObject* parent = nullptr);

    reachability::State state() const { return state_; }
    bool watching() const { return watching_; }
    // The log line for a state.
    static QString describe(reachability::State state);

private:
    void update(reachability::State state);

    reachability::State state_ = reachability::State::Unknown;
    bool watching_ = false;
};
